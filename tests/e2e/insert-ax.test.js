'use strict';
// The dictation round trip through Accessibility: target choice, the route
// tests, the verified write, the caret, and every declining verdict with its
// paste preparation and its effect on the stored target.
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim } = require('./helpers');
const { textField, node, addApp, info, readText, dropTargetAndCheckHandles, ops } = require('./focus-fixtures');

test.beforeEach(() => sim.reset());
test.afterEach(() => dropTargetAndCheckHandles(assert));

const insert = (...args) => JSON.parse(addon.insertTextIntoFocusedElement(...args));
const window = (children) => ({ id: 'win', role: 'AXWindow', children });

function editor({ value = 'hello world', selectedRange = { location: 6, length: 5 }, field = {}, ...app } = {}) {
  addApp({ active: true, windows: [window([textField('f', { value, selectedRange, ...field })])], focusedElement: 'f', ...app });
}

const inspect = () => sim.ax.inspect('f');
const sleeps = (log) => ops(log, 'sleep').map((e) => e.seconds);

test('the selection is replaced and the caret placed after the new text', () => {
  editor();
  info();
  sim.log.take();
  assert.deepEqual(insert('there'), { ok: true, method: 'accessibility', appName: 'Editor', bundleID: 'com.example.editor' });
  assert.deepEqual(inspect().value, 'hello there');
  assert.deepEqual(inspect().selectedRange, { location: 11, length: 0 });
  const log = sim.log.take();
  assert.deepEqual(sleeps(log), [], 'a write that shows at once costs no pause');
  assert.equal(ops(log, 'activate').length, 0);
});

test('an empty selection at the end appends', () => {
  editor({ value: 'Dear team,', selectedRange: { location: 10, length: 0 } });
  info();
  insert(' thanks');
  assert.equal(inspect().value, 'Dear team, thanks');
  assert.deepEqual(inspect().selectedRange, { location: 17, length: 0 });
});

test('offsets are UTF-16 units: an astral emoji counts two', () => {
  editor({ value: '\u{1F600}a', selectedRange: { location: 2, length: 0 } });
  info();
  assert.equal(insert('\u00e9').ok, true);
  assert.equal(inspect().value, '\u{1F600}\u00e9a');
  assert.deepEqual(inspect().selectedRange, { location: 3, length: 0 });
});

test('a boundary inside a surrogate pair or past the end is refused without preparation', () => {
  for (const selectedRange of [{ location: 1, length: 0 }, { location: 0, length: 1 }, { location: 4, length: 3 },
    { location: 6, length: 0 }, { location: 9007199254740991, length: 9007199254740991 }]) {
    sim.reset();
    editor({ value: '\u{1F600}abc', selectedRange });
    info();
    sim.log.take();
    const r = insert('x');
    assert.equal(r.reason, 'invalid_selected_text_range', JSON.stringify(selectedRange));
    const log = sim.log.take();
    assert.equal(ops(log, 'activate').length + ops(log, 'axSet').length + ops(log, 'sleep').length, 0);
    assert.equal(inspect().value, '\u{1F600}abc', 'the field is never written');
    assert.equal(readText().ok, true, 'the target stays');
  }
});

test('a field that stores the decomposed form still confirms the write', () => {
  editor({ value: '', selectedRange: { location: 0, length: 0 }, field: { onWrite: { decompose: true } } });
  info();
  assert.equal(insert('caf\u00e9').ok, true);
  assert.equal(inspect().value, 'cafe\u0301');
});

test('a write that shows late is waited for on the read-back schedule', () => {
  editor({ value: '', selectedRange: { location: 0, length: 0 }, field: { onWrite: { delay: 0.2 } } });
  info();
  sim.log.take();
  assert.equal(insert('late').ok, true);
  const log = sim.log.take();
  assert.deepEqual(sleeps(log), [0.05, 0.1, 0.2], 'confirmed by the fourth read, 0.35 s after the write');
  const at = log.findIndex((e) => e.op === 'axSet' && e.attribute === 'AXValue');
  const reads = log.slice(at).filter((e) => e.op === 'axCopy' && e.element === 'f' && e.attribute === 'AXValue')
    .map((e) => Math.round((e.t - log[at].t) * 1000));
  assert.deepEqual(reads, [0, 50, 150, 350]);
});

test('a write that never shows fails after 0.6 s and teaches the clipboard', () => {
  editor({ bundleID: 'com.example.stubborn', value: '', selectedRange: { location: 0, length: 0 }, field: { onWrite: 'ignore' } });
  info();
  sim.log.take();
  const r = insert('lost?');
  assert.deepEqual(r, { ok: false, appName: 'Editor', bundleID: 'com.example.stubborn', reason: 'ax_write_verification_failed' });
  const log = sim.log.take();
  assert.deepEqual(sleeps(log), [0.05, 0.1, 0.2, 0.25, 0.05], 'the schedule, then the refocus pause');
  assert.equal(inspect().focusedSets, 1, 'the field is focused for the paste');
  assert.equal(insert('again').reason, 'clipboard_preferred_bundle', 'learned');
  assert.deepEqual(inspect().writes, ['lost?'], 'and not written again');
});

test('a refused write fails at once and teaches nothing', () => {
  editor({ bundleID: 'com.example.refuses', value: 'x', selectedRange: { location: 1, length: 0 }, field: { onWrite: 'refuse' } });
  info();
  sim.log.take();
  assert.equal(insert('y').reason, 'ax_write_verification_failed');
  assert.deepEqual(sleeps(sim.log.take()), [0.05]);
  assert.equal(insert('y').reason, 'ax_write_verification_failed', 'not promoted');
});

test('the paste preparation activates only an application that is not already in front', () => {
  addApp({ pid: 300, bundleID: 'com.example.other', name: 'Other', windows: [], frontmost: false, active: true });
  editor({ active: false, field: { onWrite: 'refuse' } });
  info();
  sim.log.take();
  insert('x');
  const log = sim.log.take();
  assert.deepEqual(sim.apps.activations(), [{ pid: 100, options: 2 }]);
  assert.deepEqual(sleeps(log), [0.18, 0.05]);
  assert.equal(inspect().focusedSets, 1);
});

test('the built-in clipboard application and the route order', () => {
  const cases = [
    ['com.cmuxterm.app', {}, 'clipboard_preferred_bundle'],
    ['com.jetbrains.pycharm', {}, 'clipboard_preferred_jetbrains'],
    ['com.tarnwick.ide', {}, 'clipboard_preferred_web_editor_bundle'],
    ['com.tarnwick.ide.insiders', {}, 'clipboard_preferred_web_editor_bundle'],
    ['com.example.site', { domIdentifier: 'composer' }, 'clipboard_preferred_web'],
  ];
  for (const [bundleID, field, reason] of cases) {
    sim.reset();
    editor({ bundleID, active: true, field });
    info();
    sim.log.take();
    const r = insert('x');
    assert.deepEqual(r, { ok: false, appName: 'Editor', bundleID, reason }, bundleID);
    assert.equal(inspect().focusedSets, 1, `${bundleID} prepared for a paste`);
    assert.deepEqual(inspect().writes, [], `${bundleID} not written`);
    assert.equal(readText().ok, true, `${bundleID} keeps its target`);
  }
});

test('focus drift: another element of the application has the focus now', () => {
  addApp({ active: true, windows: [window([textField('f', { value: 'a' }), textField('g', { value: 'b' })])], focusedElement: 'f' });
  info();
  sim.apps.update(100, { focusedElement: 'g' });
  assert.equal(insert('x').reason, 'focus_drifted');
  assert.equal(sim.ax.inspect('f').focusedSets, 1, 'the captured field gets the focus back for the paste');
  sim.apps.update(100, { focusedElement: -25204 });
  assert.equal(insert('x').ok, true, 'a failed focus query lets the insertion go on');
});

test('a field without a text value or without a usable range declines for a paste', () => {
  const cases = [
    [{ value: 7 }, 'missing_value'],
    [{ value: 'abc', selectedRange: undefined }, 'missing_selected_text_range'],
    [{ value: 'abc', selectedRange: 'notRange' }, 'missing_selected_text_range'],
    [{ value: 'abc', selectedRange: { location: -1, length: 0 } }, 'missing_selected_text_range'],
    [{ value: 'abc', errors: { AXSelectedTextRange: -25212 } }, 'missing_selected_text_range'],
  ];
  for (const [field, reason] of cases) {
    sim.reset();
    addApp({ active: true, windows: [window([{ ...textField('f', { selectedRange: { location: 0, length: 0 } }), ...field }])], focusedElement: 'f' });
    info();
    assert.equal(insert('x').reason, reason, JSON.stringify(field));
    assert.equal(inspect().focusedSets, 1);
  }
});

test('empty text is refused before anything else', () => {
  editor();
  info();
  sim.log.take();
  for (const args of [[''], [], [undefined], [42], [null, 'com.example.editor']]) {
    assert.deepEqual(insert(...args), { ok: false, appName: 'Current App', bundleID: '', reason: 'empty_text' });
  }
  assert.deepEqual(sim.log.take(), []);
  assert.equal(readText().ok, true, 'the stored target is untouched');
});

test('the stored target is used for 599 s and captured afresh at 600 s', () => {
  editor({ value: '', selectedRange: { location: 0, length: 0 } });
  addApp({ pid: 100 + 1, bundleID: 'com.example.second', name: 'Second', frontmost: false, windows: [] });
  info();
  sim.clock.advance(599);
  sim.log.take();
  assert.equal(insert('one').ok, true);
  assert.equal(sim.log.take().filter((e) => e.op === 'trusted').length, 0, 'no new capture');
  sim.clock.advance(1);
  sim.log.take();
  assert.equal(insert(' two').ok, true);
  assert.equal(sim.log.take().filter((e) => e.op === 'trusted').length, 1, 'captured again');
});

test('two insertions in a row reuse the target', () => {
  editor({ value: '', selectedRange: { location: 0, length: 0 } });
  info();
  insert('first');
  sim.log.take();
  insert(' second');
  assert.equal(sim.log.take().filter((e) => e.op === 'trusted').length, 0);
  assert.equal(inspect().value, 'first second');
});

test('without a stored target the insertion captures and stores one', () => {
  editor({ value: '', selectedRange: { location: 0, length: 0 } });
  assert.equal(insert('fresh').ok, true);
  assert.equal(readText().text, 'fresh');
});

test('a capture that fails answers its own reason and clears the target', () => {
  editor();
  sim.ax.setTrusted(false);
  assert.deepEqual(insert('x'), { ok: false, appName: 'Current App', bundleID: '', reason: 'accessibility_not_trusted' });
  sim.ax.setTrusted(true);
  assert.equal(readText().reason, 'missing_captured_target');
});

test('an expected bundle the target does not satisfy: recapture, then focus_target_mismatch', () => {
  editor({ bundleID: 'com.google.Chrome' });
  info();
  assert.equal(insert('x', 'com.google.Chrome.canary').ok, true, 'a family member is accepted');
  const r = insert('x', 'com.example.elsewhere');
  assert.deepEqual(r, { ok: false, appName: 'Editor', bundleID: 'com.google.Chrome', reason: 'focus_target_mismatch' });
  assert.equal(readText().reason, 'missing_captured_target', 'no target is kept');
});

test('a target whose application left the front is dropped before a fresh capture', () => {
  editor();
  addApp({ pid: 300, bundleID: 'com.example.other', name: 'Other', frontmost: false, windows: [], focusedElement: null });
  info();
  sim.apps.setFrontmost(300);
  sim.log.take();
  const r = insert('x');
  assert.deepEqual(r, { ok: false, appName: 'Other', bundleID: 'com.example.other', reason: 'missing_focused_element' });
  assert.equal(ops(sim.log.take(), 'activate').length, 0);
  assert.deepEqual(inspect().writes, [], 'the old field is not written');
  sim.apps.setFrontmost(100);
  assert.equal(readText().reason, 'missing_captured_target');
});

test('a target captured from a focused application behind the frontmost one is refused', () => {
  editor({ pid: 100 });
  addApp({ pid: 300, bundleID: 'com.example.front', name: 'Front', windows: [] });
  sim.apps.setSystemFocus(100);
  const r = insert('x');
  assert.equal(r.reason, 'frontmost_app_changed');
  assert.deepEqual(inspect().writes, []);
});

test('text with quotes, line breaks and U+0000-free oddities is written exactly', () => {
  editor({ value: '', selectedRange: { location: 0, length: 0 } });
  info();
  const text = 'say "hi"\n\ttab \\ back \u{1F44D}\u{1F3FD}';
  assert.equal(insert(text).ok, true);
  assert.equal(inspect().value, text);
});

test('a second argument that is not a string accepts any target', () => {
  editor({ value: '', selectedRange: { location: 0, length: 0 } });
  info();
  assert.equal(insert('a', 42).ok, true);
  assert.equal(insert('b', null).ok, true);
});

test('a group focused in a native app writes into the group itself and fails cleanly', () => {
  addApp({ active: true, windows: [window([node('grp', 'AXGroup')])], focusedElement: 'grp', focusedWindow: null, mainWindow: null });
  info();
  assert.equal(insert('x').reason, 'missing_value');
});
