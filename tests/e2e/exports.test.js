'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { addon, sim, runNode } = require('./helpers');

const NAMES = [
  'start', 'stop', 'processEvents', 'isActive',
  'startDjiMicButton', 'stopDjiMicButton', 'isDjiMicButtonActive',
  'getSystemFnUsageType', 'getSystemSymbolicHotkeys',
  'getFocusedElementInfo', 'getFrontmostApplicationInfo',
  'insertTextIntoFocusedElement', 'readCapturedFocusedElementText',
];

test('exactly the thirteen exports, in table order, as fixed functions', () => {
  assert.deepEqual(Object.getOwnPropertyNames(addon), NAMES);
  assert.deepEqual(Object.keys(addon), [], 'none is enumerable');
  for (const name of NAMES) {
    const d = Object.getOwnPropertyDescriptor(addon, name);
    assert.equal(typeof d.value, 'function', name);
    assert.equal(d.writable, false, name);
    assert.equal(d.enumerable, false, name);
    assert.equal(d.configurable, false, name);
  }
  const original = addon.start;
  assert.throws(() => { 'use strict'; addon.start = () => 1; }, TypeError);
  assert.equal(addon.start, original);
  assert.throws(() => { delete addon.stop; }, TypeError);
  assert.equal(typeof addon.stop, 'function');
});

test('the module reports Node-API version 8', () => {
  assert.equal(sim.probe.moduleApiVersion, 8);
});

test('control exports answer undefined in every state', () => {
  for (const args of [[], [1, 'x', {}]]) {
    assert.equal(addon.stop(...args), undefined);
    assert.equal(addon.processEvents(...args), undefined);
    assert.equal(addon.stopDjiMicButton(...args), undefined);
  }
  assert.equal(addon.start(() => {}), true);
  assert.equal(addon.processEvents(), undefined);
  assert.equal(addon.stop(), undefined);
});

test('queries that take no arguments ignore extra ones', () => {
  assert.equal(addon.isActive(), false);
  assert.equal(addon.isActive(true, 'x', () => {}), false);
});

test('ICU is opened by the first text service, not by require', { skip: process.platform !== 'linux' }, () => {
  // Linking it made every require of the addon half as slow again.
  const r = runNode(`
    const icuMapped = () => /libicuuc/.test(require('node:fs').readFileSync('/proc/self/maps', 'utf8'));
    const before = icuMapped();
    const { textField, addApp, info } = require(${JSON.stringify(path.join(__dirname, 'focus-fixtures.js'))});
    addApp({ windows: [{ id: 'w', role: 'AXWindow', children: [textField('f', {
      selectedText: 'e\\u0301\\u{1F44D}\\u{1F3FD}', selectedRange: { location: 0, length: 6 } })] }], focusedElement: 'f' });
    process.stdout.write(JSON.stringify({ before, clusters: info().selectedTextLength, after: icuMapped() }));
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.deepEqual(JSON.parse(r.stdout), { before: false, clusters: 2, after: true });
});
