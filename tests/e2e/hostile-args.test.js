'use strict';
// Every export against every kind of argument a careless or hostile caller
// can pass: no crash, no exception, and the answer its rules give.
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim } = require('./helpers');

const throwingTraps = new Proxy({}, {
  get() { throw new Error('get trap'); },
  has() { throw new Error('has trap'); },
  ownKeys() { throw new Error('ownKeys trap'); },
  getOwnPropertyDescriptor() { throw new Error('descriptor trap'); },
  getPrototypeOf() { throw new Error('prototype trap'); },
});

const nonStrings = {
  undefined, null: null, zero: 0, float: 1.5, nan: NaN, bigint: 10n, symbol: Symbol('s'), object: {},
  array: ['text'], fn: () => 'text', proxy: throwingTraps, boxed: new String('text'), date: new Date(0),
};
const strings = { nul: 'a\u0000b', lone: 'x\uD800y\uDC00z', empty: '', emoji: '\u{1F44D}\u{1F3FD}' };

const NO_APP_INFO = '{"appName":"Current App","bundleID":"","role":"","subrole":"","roleDescription":"","selectedTextRangeAvailable":false,"selectedTextLength":0,"error":"missing_frontmost_app"}';
const NO_FRONT = '{"ok":false,"appName":"Current App","bundleID":"","reason":"frontmost_app_unavailable"}';
const NO_TARGET = '{"ok":false,"appName":"Current App","bundleID":"","reason":"missing_captured_target"}';
const EMPTY_TEXT = '{"ok":false,"appName":"Current App","bundleID":"","reason":"empty_text"}';
const NO_APP_INSERT = '{"ok":false,"appName":"Current App","bundleID":"","reason":"missing_frontmost_app"}';

// What each export answers on an empty desktop, whatever it is given
// (the callers of start and the text of an insertion aside).
const answers = {
  start: false,
  stop: undefined,
  processEvents: undefined,
  isActive: false,
  startDjiMicButton: false,
  stopDjiMicButton: undefined,
  isDjiMicButtonActive: false,
  getSystemFnUsageType: 0,
  getSystemSymbolicHotkeys: '[]',
  getFocusedElementInfo: NO_APP_INFO,
  getFrontmostApplicationInfo: NO_FRONT,
  readCapturedFocusedElementText: NO_TARGET,
};

test.beforeEach(() => sim.reset());
test.after(() => {
  addon.stop();
  addon.stopDjiMicButton();
});

test('every export, every kind of value, alone and with extra arguments', () => {
  const all = { ...nonStrings, ...strings };
  for (const [name, expected] of Object.entries(answers)) {
    for (const [kind, value] of Object.entries(all)) {
      for (const args of [[value], [value, value, value, 'extra', {}]]) {
        let answer;
        assert.doesNotThrow(() => { answer = addon[name](...args); }, `${name}(${kind})`);
        // A monitor starts for a function, and for nothing else.
        const wanted = (name === 'start' || name === 'startDjiMicButton') && kind === 'fn' ? true : expected;
        assert.deepEqual(answer, wanted, `${name}(${kind}) with ${args.length} argument(s)`);
        addon.stop();
        addon.stopDjiMicButton();
      }
    }
  }
  assert.equal(sim.keyboard.tap().exists, false, 'no monitor was started by a non-function');
  assert.equal(sim.hid.manager().exists, false);
});

test('insertion: non-string text is empty, strings are read as the host gives them', () => {
  for (const [kind, value] of Object.entries(nonStrings)) {
    assert.equal(addon.insertTextIntoFocusedElement(value), EMPTY_TEXT, kind);
    assert.equal(addon.insertTextIntoFocusedElement(value, 'com.example.app', value, 4), EMPTY_TEXT, kind);
  }
  assert.equal(addon.insertTextIntoFocusedElement(''), EMPTY_TEXT);
  assert.equal(addon.insertTextIntoFocusedElement('\u0000'), NO_APP_INSERT, 'U+0000 alone is text');
  for (const [kind, value] of Object.entries(nonStrings)) {
    assert.equal(addon.insertTextIntoFocusedElement('text', value), NO_APP_INSERT, `expected bundle ${kind}`);
  }
});

test('text with U+0000, lone surrogates and a 64 MiB string reach a field intact or sanitized', () => {
  sim.apps.add({ pid: 7, bundleID: 'com.example.big', name: 'Big', active: true,
    windows: [{ id: 'w', role: 'AXWindow', children: [{ id: 'f', role: 'AXTextArea', value: '', valueSettable: true,
      selectedRange: { location: 0, length: 0 } }] }], focusedWindow: 'w', focusedElement: 'f' });
  sim.apps.setFrontmost(7);
  const insert = (text) => JSON.parse(addon.insertTextIntoFocusedElement(text));
  const reset = () => sim.apps.update(7, { windows: [{ id: 'w', role: 'AXWindow', children: [{ id: 'f', role: 'AXTextArea',
    value: '', valueSettable: true, selectedRange: { location: 0, length: 0 } }] }] });

  assert.equal(insert('a\u0000b').ok, true);
  assert.equal(sim.ax.inspect('f').value, 'a\u0000b');
  reset();
  assert.equal(insert('x\uD800y\uDC00z').ok, true);
  assert.equal(sim.ax.inspect('f').value, 'x\uFFFDy\uFFFDz');
  reset();
  const big = 'dictation '.repeat(6.7 * 1024 * 1024 / 1);
  const huge = big.slice(0, 64 * 1024 * 1024);
  assert.equal(insert(huge).ok, true);
  assert.equal(sim.ax.inspect('f').value.length, huge.length);
  sim.log.take();
  sim.reset();
  sim.ax.setTrusted(false);
  addon.getFocusedElementInfo();
  assert.equal(sim.ax.liveHandles(), 0);
});

test('monitors: a function proxy is a function, an object proxy is not', () => {
  assert.equal(addon.start(throwingTraps), false);
  assert.equal(addon.startDjiMicButton(throwingTraps), false);
  const fnProxy = new Proxy(() => {}, {});
  assert.equal(addon.start(fnProxy), true);
  addon.stop();
  assert.equal(addon.isActive(), false);
});
