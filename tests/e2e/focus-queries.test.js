'use strict';
// The exact answer texts of getFocusedElementInfo, getFrontmostApplicationInfo
// and readCapturedFocusedElementText, and the captured target's lifetime.
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim } = require('./helpers');
const { textField, addApp, info, readText, frontInfo, dropTargetAndCheckHandles } = require('./focus-fixtures');

test.beforeEach(() => sim.reset());
test.afterEach(() => dropTargetAndCheckHandles(assert));

const window = (children) => ({ id: 'win', role: 'AXWindow', children });

test('the description of the captured element, member for member', () => {
  addApp({ windows: [window([textField('f', { subrole: 'AXSearchField', roleDescription: 'search text field',
    selectedText: 'ab', selectedRange: { location: 0, length: 2 } })])], focusedElement: 'f' });
  assert.equal(addon.getFocusedElementInfo(),
    '{"appName":"Editor","bundleID":"com.example.editor","role":"AXTextField","subrole":"AXSearchField",' +
    '"roleDescription":"search text field","selectedTextRangeAvailable":true,"selectedTextLength":2,"error":""}');
});

test('quotes, backslashes and line breaks are escaped in every string', () => {
  addApp({ name: 'My "Quoted"\\App\n', bundleID: 'com.example.q',
    windows: [window([textField('f', { roleDescription: 'tab\there', value: 'line1\nline2 "x" \\ y' })])], focusedElement: 'f' });
  const text = addon.getFocusedElementInfo();
  assert.match(text, /"appName":"My \\"Quoted\\"\\\\App\\n"/);
  assert.match(text, /"roleDescription":"tab\\there"/);
  assert.equal(JSON.parse(text).appName, 'My "Quoted"\\App\n');
  const read = addon.readCapturedFocusedElementText();
  assert.equal(read, '{"ok":true,"appName":"My \\"Quoted\\"\\\\App\\n","bundleID":"com.example.q","text":"line1\\nline2 \\"x\\" \\\\ y"}');
});

test('selected text length counts user-perceived characters', () => {
  const cases = [['e\u0301', 1], ['\u{1F44D}\u{1F3FD}', 1], ['ab', 2], ['\u{1F1EB}\u{1F1F7}\u{1F1E9}\u{1F1EA}', 2], ['', 0]];
  for (const [selectedText, expected] of cases) {
    sim.reset();
    addApp({ windows: [window([textField('f', { selectedText })])], focusedElement: 'f' });
    assert.equal(info().selectedTextLength, expected, JSON.stringify(selectedText));
  }
});

test('selection range availability is independent of the selected text', () => {
  addApp({ windows: [window([textField('f', { selectedRange: { location: 3, length: 0 } })])], focusedElement: 'f' });
  let r = info();
  assert.deepEqual([r.selectedTextRangeAvailable, r.selectedTextLength], [true, 0]);
  sim.reset();
  addApp({ windows: [window([textField('f', { selectedRange: undefined, selectedText: 'xyz' })])], focusedElement: 'f' });
  r = info();
  assert.deepEqual([r.selectedTextRangeAvailable, r.selectedTextLength], [false, 3]);
});

test('frontmost application: its names, or the fixed text when there is none', () => {
  assert.equal(addon.getFrontmostApplicationInfo(),
    '{"ok":false,"appName":"Current App","bundleID":"","reason":"frontmost_app_unavailable"}');
  addApp({ bundleID: undefined, name: 'Nameless Bundle', windows: [] });
  assert.equal(addon.getFrontmostApplicationInfo(), '{"ok":true,"appName":"Nameless Bundle","bundleID":"","reason":""}');
  sim.ax.setTrusted(false);
  assert.equal(frontInfo().ok, true, 'needs no Accessibility trust');
});

test('reading the captured text before any capture', () => {
  assert.equal(addon.readCapturedFocusedElementText(),
    '{"ok":false,"appName":"Current App","bundleID":"","reason":"missing_captured_target"}');
});

test('the read answers the field\'s text now, including what was typed after the capture', () => {
  addApp({ windows: [window([textField('f', { value: 'before' })])], focusedElement: 'f' });
  info();
  sim.ax.type('f', 'before and after');
  assert.deepEqual(readText(), { ok: true, appName: 'Editor', bundleID: 'com.example.editor', text: 'before and after' });
});

test('a non-text value answers missing_value, and the target stays for a later read', () => {
  addApp({ windows: [window([{ id: 'box', role: 'AXCheckBox', value: 1 }])], focusedElement: 'box' });
  info();
  assert.deepEqual(readText(), { ok: false, appName: 'Editor', bundleID: 'com.example.editor', reason: 'missing_value' });
  sim.ax.type('box', 'now text');
  assert.equal(readText().text, 'now text');
});

test('switching applications drops the target', () => {
  addApp({ windows: [window([textField('f', { value: 'x' })])], focusedElement: 'f' });
  addApp({ pid: 200, bundleID: 'com.example.other', name: 'Other', windows: [], frontmost: false });
  info();
  sim.apps.setFrontmost(200);
  assert.deepEqual(readText(), { ok: false, appName: 'Editor', bundleID: 'com.example.editor', reason: 'frontmost_app_changed' });
  sim.apps.setFrontmost(100);
  assert.equal(readText().reason, 'missing_captured_target');
});

test('no frontmost application at all also drops the target', () => {
  addApp({ windows: [window([textField('f', { value: 'x' })])], focusedElement: 'f' });
  info();
  sim.apps.setFrontmost(null);
  assert.equal(readText().reason, 'frontmost_app_changed');
});

test('applications are told apart by process, not by name', () => {
  addApp({ bundleID: undefined, name: 'Alpha', windows: [window([textField('f', { value: 'x' })])], focusedElement: 'f' });
  addApp({ pid: 200, bundleID: undefined, name: 'Alpha', windows: [], frontmost: false });
  addApp({ pid: 300, bundleID: 'com.example.gamma', name: 'Alpha', windows: [], frontmost: false });
  info();
  assert.equal(readText().ok, true);
  sim.apps.setFrontmost(300);
  assert.equal(readText().reason, 'frontmost_app_changed', 'one bundle identifier present, the other empty');
  sim.apps.setFrontmost(100);
  info();
  sim.apps.setFrontmost(200);
  assert.equal(readText().reason, 'frontmost_app_changed', 'another process of the same name');
  sim.apps.setFrontmost(100);
  info();
  sim.apps.update(100, { name: 'Renamed' });
  assert.equal(readText().ok, true, 'its own process, whatever it is called now');
});

test('read-back works at 899 s and expires the target at 900 s', () => {
  addApp({ windows: [window([textField('f', { value: 'aged' })])], focusedElement: 'f' });
  info();
  sim.clock.advance(899);
  assert.equal(readText().text, 'aged');
  sim.clock.advance(1);
  assert.deepEqual(readText(), { ok: false, appName: 'Editor', bundleID: 'com.example.editor', reason: 'captured_target_expired' });
  assert.equal(readText().reason, 'missing_captured_target');
});

test('each capture replaces the stored target', () => {
  addApp({ windows: [window([textField('a', { value: 'first' }), textField('b', { value: 'second' })])], focusedElement: 'a' });
  info();
  sim.apps.update(100, { focusedElement: 'b' });
  info();
  assert.equal(readText().text, 'second');
  assert.equal(sim.ax.liveHandles(), 1, 'the first target was released');
});

test('queries ignore their arguments', () => {
  addApp({ windows: [window([textField('f', { value: 'x' })])], focusedElement: 'f' });
  assert.equal(JSON.parse(addon.getFocusedElementInfo(1, 'two', {})).error, '');
  assert.equal(JSON.parse(addon.readCapturedFocusedElementText('x')).text, 'x');
  assert.equal(JSON.parse(addon.getFrontmostApplicationInfo(null)).ok, true);
});
