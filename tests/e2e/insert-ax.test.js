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
// The read-back schedule: a write that never shows is read for 4 s.
const READ_BACK = [0.05, 0.1, 0.2, 0.25, 0.4, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5];

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

test('a write that never shows is read for 4 s, undone, and teaches the clipboard', () => {
  editor({ bundleID: 'com.example.stubborn', value: '', selectedRange: { location: 0, length: 0 }, field: { onWrite: 'ignore' } });
  info();
  sim.log.take();
  const r = insert('lost?');
  assert.deepEqual(r, { ok: false, appName: 'Editor', bundleID: 'com.example.stubborn', reason: 'ax_write_verification_failed' });
  const log = sim.log.take();
  assert.deepEqual(sleeps(log), [...READ_BACK, 0.05], 'the schedule, then the refocus pause');
  assert.deepEqual(ops(log, 'axSet').map((e) => [e.attribute, e.value]),
    [['AXValue', 'lost?'], ['AXValue', ''], ['AXSelectedTextRange', { location: 0, length: 0 }], ['AXFocused', true]],
    'the original value and selection set back before the field is focused for the paste');
  assert.equal(insert('again').reason, 'clipboard_preferred_bundle', 'learned');
  assert.deepEqual(inspect().writes, ['lost?', ''], 'and not written again');
});

// The application has the request even when its reply comes after the
// messaging timeout, and usually applies it: declining then would have the
// host paste the same words a second time.
test('a set whose reply outlives the timeout is verified by reading back, and lands once', () => {
  editor({ value: 'ab', selectedRange: { location: 1, length: 0 }, field: { setLatency: 1.5 } });
  info();
  sim.log.take();
  assert.deepEqual(insert('slow '), { ok: true, method: 'accessibility', appName: 'Editor', bundleID: 'com.example.editor' });
  const log = sim.log.take();
  const set = log.findIndex((e) => e.op === 'axSet' && e.attribute === 'AXValue');
  assert.equal(log[set].error, -25204, 'the reply ran into the timeout');
  const read = log.slice(set).find((e) => e.op === 'axCopy' && e.attribute === 'AXValue');
  assert.equal(read.t - log[set].t, 1, 'read back at once, though the application was marked unresponsive');
  assert.deepEqual(inspect().writes, ['aslow b']);
  assert.deepEqual(inspect().selectedRange, { location: 6, length: 0 }, 'the caret follows the text');
  assert.equal(insert('again ').ok, true, 'not learned as clipboard-preferred');

  // Still working on it when the read-back gives up: the original is set
  // back behind it, and the verdict waits for that (each set costs this
  // application 8 s), within the bound.
  sim.reset();
  editor({ bundleID: 'com.example.sluggish', value: '', selectedRange: { location: 0, length: 0 }, field: { setLatency: 8 } });
  info();
  sim.log.take();
  const before = sim.clock.now();
  assert.equal(insert('late').reason, 'ax_write_verification_failed');
  const took = sim.clock.now() - before;
  // Each set runs into the timeout (1 s) and each read waits it out: no read
  // starts later than 4 s after a set's reply.
  assert.ok(took > 10 && took < 11, `${took} s`);
  assert.deepEqual(inspect().writes, ['late', ''], 'written once, then undone');
  sim.clock.advance(10);
  assert.equal(inspect().value, '', 'the undoing lands after the write');
  sim.apps.update(100, { windows: [window([textField('f')])] });
  assert.equal(insert('x').ok, true, 'not learned: the field never plainly refused');
});

test('a refused write fails at once and teaches nothing', () => {
  editor({ bundleID: 'com.example.refuses', value: 'x', selectedRange: { location: 1, length: 0 }, field: { onWrite: 'refuse' } });
  info();
  sim.log.take();
  assert.equal(insert('y').reason, 'ax_write_verification_failed');
  assert.deepEqual(sleeps(sim.log.take()), [0.05]);
  assert.equal(insert('y').reason, 'ax_write_verification_failed', 'not promoted');
});

// Whether an application is in front is asked at the moment of the paste
// preparation: a running-application record's own active flag lags behind
// in a host whose main run loop does not turn.
test('the paste preparation activates the application only when the user has left it', () => {
  editor({ active: false, field: { onWrite: 'refuse' } });
  info();
  sim.log.take();
  assert.equal(insert('x').reason, 'ax_write_verification_failed');
  assert.deepEqual(sim.apps.activations(), [], 'in front, whatever its record says');
  assert.deepEqual(sleeps(sim.log.take()), [0.05]);

  sim.reset();
  addApp({ pid: 300, bundleID: 'com.example.other', name: 'Other', windows: [], frontmost: false, active: true });
  editor({ bundleID: 'com.example.ignores', active: true, field: { onWrite: 'ignore' } });
  info();
  sim.apps.setFrontmostAfter(300, 0.3);  // during the read-back
  sim.log.take();
  assert.equal(insert('x').reason, 'ax_write_verification_failed');
  assert.deepEqual(sim.apps.activations(), [{ pid: 100, options: 2 }]);
  assert.deepEqual(sleeps(sim.log.take()), [...READ_BACK, 0.18, 0.05]);
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

test('focus resting on the group around the captured field is not drift', () => {
  addApp({ active: true, windows: [window([node('grp', 'AXGroup', [textField('f', { value: 'a', selectedRange: { location: 1, length: 0 } }),
    textField('g', { value: 'b' })])])], focusedElement: 'grp' });
  assert.equal(info().role, 'AXTextField', 'locked onto the field inside');
  assert.equal(insert('x').method, 'accessibility');
  assert.equal(inspect().value, 'ax');
  sim.apps.update(100, { focusedElement: 'f' });
  assert.equal(insert('y').method, 'accessibility', 'nor is focus on the field itself');
  sim.apps.update(100, { focusedElement: 'g' });
  assert.equal(insert('z').reason, 'focus_drifted', 'another field is');
  assert.equal(inspect().value, 'axy');
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

// Each query is a round trip to the other application while the user waits
// for the text.
test('an insertion into a native field captured a moment earlier costs at most six round trips', () => {
  editor();
  info();
  sim.log.take();
  assert.equal(insert('there').method, 'accessibility');
  const trips = sim.log.take().filter((e) => ['axCopy', 'axCopyMultiple', 'axSettable', 'axSet'].includes(e.op));
  assert.ok(trips.length <= 6, JSON.stringify(trips));
});

test('route tests that the budget or a silent application cuts short decline as target_unresponsive', () => {
  // Every query takes 0.45 s, never timing out; the field lies nine levels
  // under a web area, so its web check needs ten of them.
  const slow = { latency: 0.45 };
  let inner = textField('f', { value: 'draft', selectedRange: { location: 5, length: 0 }, ...slow });
  for (let i = 8; i >= 1; i--) inner = node(`g${i}`, 'AXGroup', [inner], slow);
  addApp({ bundleID: 'com.example.reader', active: true, ...slow, focusedElement: 'f',
    windows: [{ id: 'win', role: 'AXWindow', ...slow, children: [node('web', 'AXWebArea', [inner], slow)] }] });
  info();
  const r = insert('words');
  assert.deepEqual(r, { ok: false, appName: 'Editor', bundleID: 'com.example.reader', reason: 'target_unresponsive' });
  assert.deepEqual(inspect().writes, [], 'never written');
  assert.equal(inspect().focusedSets, 1, 'prepared for a paste');
  assert.equal(readText().text, 'draft', 'the target stays');

  // The field stops answering after the capture: its value read runs into
  // the timeout, which is not a field without a value.
  sim.reset();
  editor();
  info();
  sim.apps.update(100, { windows: [window([textField('f', { value: 'hello world', latency: 5 })])] });
  const before = sim.clock.now();
  assert.equal(insert('there').reason, 'target_unresponsive');
  assert.ok(sim.clock.now() - before <= 1.06, 'one timeout, then the paste pause');
  assert.equal(inspect().focusedSets, 0, 'a field that stopped answering is not asked again in the same call');
  assert.deepEqual(inspect().writes, []);
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

test('the stored target is used for 599 s and captured afresh at 600 s, whatever the wall clock does', () => {
  editor({ value: '', selectedRange: { location: 0, length: 0 } });
  addApp({ pid: 100 + 1, bundleID: 'com.example.second', name: 'Second', frontmost: false, windows: [] });
  info();
  sim.clock.step(-3600);  // the time is set back an hour
  sim.clock.advance(599);
  sim.log.take();
  assert.equal(insert('one').ok, true);
  assert.equal(sim.log.take().filter((e) => e.op === 'trusted').length, 0, 'no new capture');
  sim.clock.step(7200);
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

// Nothing but its process tells such an application from another: every
// guard has to go by that.
test('an application without a bundle identifier is guarded by its process', () => {
  editor({ bundleID: undefined, field: { onWrite: 'ignore' } });
  addApp({ pid: 300, bundleID: undefined, name: 'Editor', windows: [], focusedElement: null, frontmost: false });
  info();
  const r = insert('x', 'com.example.editor');
  assert.deepEqual(r, { ok: false, appName: 'Editor', bundleID: '', reason: 'focus_target_mismatch' },
    'an expected application is not one without an identifier');
  assert.deepEqual(inspect().writes, []);

  info();
  sim.apps.setFrontmost(300);
  assert.equal(insert('x').reason, 'missing_focused_element', 'another process of the same name is captured afresh');
  assert.deepEqual(inspect().writes, []);
  sim.apps.setFrontmost(100);

  info();
  sim.apps.setFrontmostAfter(300, 0.3);  // the user moves on during the read-back
  sim.log.take();
  assert.equal(insert('x').reason, 'ax_write_verification_failed');
  assert.deepEqual(sim.apps.activations(), [{ pid: 100, options: 2 }], 'brought forward for the paste by its pid');

  info();
  sim.apps.update(100, { focusedElement: 'win' });
  assert.equal(insert('y').reason, 'focus_drifted', 'drift is seen without a bundle identifier');
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

// The host pastes whenever the insertion declines (it types the text at the
// caret): whatever the field does with a write, it ends holding the text
// once, in the form it stores. A decline comes only once the field is as it
// was, and only a field that plainly refused teaches the clipboard.
test('late, normalising and capped fields, and text of every kind, end holding the text exactly once', () => {
  const rows = [
    // [what, field, text, verdict, the field's value at the end, learned]
    ['at once', {}, 'say "hi"\n\ttab \\ back \u{1F44D}\u{1F3FD}', 'ok', 'ab say "hi"\n\ttab \\ back \u{1F44D}\u{1F3FD}'],
    ['U+0000 and what follows it', {}, 'x\u0000y', 'ok', 'ab x\u0000y'],
    ['0.61 s late', { onWrite: { delay: 0.61 } }, 'words', 'ok', 'ab words'],
    ['1 s late', { onWrite: { delay: 1 } }, 'words', 'ok', 'ab words'],
    ['3 s late', { onWrite: { delay: 3 } }, 'words', 'ok', 'ab words'],
    ['its set applied 3.1 s after it was made', { setLatency: 3.1 }, 'words', 'ok', 'ab words'],
    ['its set applied 3.9 s after it was made', { setLatency: 3.9 }, 'words', 'ok', 'ab words'],
    ['decomposed', { onWrite: { decompose: true } }, 'caf\u00e9', 'ok', 'ab cafe\u0301'],
    ['CR LF stored as LF', { onWrite: { lineBreaks: 'lf' } }, 'one\r\ntwo\rthree', 'ok', 'ab one\ntwo\nthree'],
    ['the final line break dropped', { onWrite: { trimTrailingNewline: true } }, 'done\n', 'ok', 'ab done'],
    ['one line, line breaks as spaces', { onWrite: { lineBreaks: 'space' } }, 'one\ntwo\n', 'ok', 'ab one two '],
    ['all of them, 1 s late', { role: 'AXComboBox', onWrite: { lineBreaks: 'space', trimTrailingNewline: true, delay: 1 } },
      'one\r\ntwo\n', 'ok', 'ab one two'],
    ['several lines, line breaks as spaces: not the text', { role: 'AXTextArea', onWrite: { lineBreaks: 'space' } },
      'one\ntwo', 'declined', 'ab one\ntwo'],
    ['never shown', { onWrite: 'ignore' }, 'words', 'declined', 'ab words', true],
    ['capped: keeps a part', { onWrite: { maxLength: 5 } }, 'words', 'declined', 'ab words'],
    ['capped, 0.5 s late', { onWrite: { maxLength: 5, delay: 0.5 } }, 'words', 'declined', 'ab words'],
  ];
  rows.forEach(([what, field, text, verdict, end, learned = false], i) => {
    sim.reset();
    const bundleID = `com.example.row${i}`;
    editor({ bundleID, value: 'ab ', selectedRange: { location: 3, length: 0 }, field: { role: 'AXTextField', ...field } });
    info();
    const before = sim.clock.now();
    const r = insert(text);
    assert.equal(r.ok ? 'ok' : r.reason === 'ax_write_verification_failed' && 'declined', verdict, what);
    // At most 4 s for the write to show and 4 s for the original to show again.
    assert.ok(sim.clock.now() - before <= 8.05, `${what}: ${sim.clock.now() - before} s`);
    sim.clock.advance(30);  // whatever was still on its way lands before the paste
    if (!r.ok) {
      assert.deepEqual([inspect().value, inspect().selectedRange], ['ab ', { location: 3, length: 0 }], `${what}: as it was`);
      const { value, selectedRange: { location, length } } = inspect();
      sim.ax.type('f', value.slice(0, location) + text + value.slice(location + length));
    }
    assert.equal(inspect().value, end, what);
    sim.ax.type('f', '');
    sim.apps.update(100, { windows: [window([textField('f')])] });
    assert.equal(insert('x').reason === 'clipboard_preferred_bundle', learned, `${what}: learned`);
  });
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
