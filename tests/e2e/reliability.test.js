'use strict';
// The longest time each export can hold the host's thread, on the virtual
// clock, for the worst applications the bounds allow: one that never
// answers (every query runs into the one-second messaging timeout) and one
// that answers every query just inside it. docs/reliability.md lists the
// same figures.
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim } = require('./helpers');
const { dropTargetAndCheckHandles } = require('./focus-fixtures');

test.afterEach(() => dropTargetAndCheckHandles(assert));

// A web page in a browser: the costly case (four focus retries, searches,
// the web check up to twenty levels).
function page(latency) {
  let node = { id: 'field', role: 'AXTextArea', value: 'draft', valueSettable: true,
    selectedRange: { location: 5, length: 0 }, latency };
  for (let i = 0; i < 25; i++) node = { id: `g${i}`, role: 'AXGroup', latency, children: [node] };
  return [{ id: 'win', role: 'AXWindow', latency, children: [node] }];
}

// The focused field sits deep in the page, so the web check climbs all its
// twenty levels.
function browser(latency, { active = false, focusedElement = 'field' } = {}) {
  sim.reset();
  sim.apps.add({ pid: 10, bundleID: 'com.google.Chrome', name: 'Browser', active, latency,
    windows: page(latency), focusedWindow: 'win', mainWindow: 'win', focusedElement });
  sim.apps.setFrontmost(10);
}

// The application turns hung or slow after a healthy capture, and the user
// moves to another application while the addon works, so that a paste
// preparation has to bring the target back.
function slowDown(latency) {
  sim.apps.update(10, { latency, windows: page(latency) });
  sim.apps.add({ pid: 11, bundleID: 'com.example.notes', name: 'Notes', windows: [] });
  sim.apps.setFrontmostAfter(11, 0.5);
}

const HUNG = 100;       // never answers within the timeout
const SLOW = 0.999;     // answers every query just inside it

function timed(fn) {
  const start = sim.clock.now();
  const result = fn();
  return { seconds: Math.round((sim.clock.now() - start) * 1000) / 1000, result };
}

// Exports that never wait on another application.
test('control exports and settings do not wait', () => {
  browser(HUNG);
  for (const call of [() => addon.isActive(), () => addon.isDjiMicButtonActive(), () => addon.stop(),
    () => addon.stopDjiMicButton(), () => addon.getSystemFnUsageType(), () => addon.getSystemSymbolicHotkeys(),
    () => addon.getFrontmostApplicationInfo(), () => addon.start(() => {}), () => addon.startDjiMicButton(() => {})]) {
    assert.equal(timed(call).seconds, 0);
  }
  assert.ok(timed(() => addon.processEvents()).seconds <= 0.001);
  addon.stop();
  addon.stopDjiMicButton();
});

// Seconds on the virtual clock; the table of docs/reliability.md.
const figures = {
  getFocusedElementInfo: { hung: 1.2, slow: 4.0 },
  readCapturedFocusedElementText: { hung: 1.0, slow: 1.0 },
  insertStored: { hung: 1.23, slow: 5.0 },
  insertCapturing: { hung: 1.2, slow: 7.05 },
  insertNeverShown: { hung: 10.93, slow: 13.92 },
};

test('getFocusedElementInfo', () => {
  for (const [kind, latency] of [['hung', HUNG], ['slow', SLOW]]) {
    browser(latency, { focusedElement: 'g24' });  // a group: the search runs too
    const { seconds } = timed(() => addon.getFocusedElementInfo());
    assert.ok(seconds <= figures.getFocusedElementInfo[kind], `${kind}: ${seconds} s`);
  }
});

test('readCapturedFocusedElementText', () => {
  for (const [kind, latency] of [['hung', HUNG], ['slow', SLOW]]) {
    browser(0);
    addon.getFocusedElementInfo();
    slowDown(latency);
    const { seconds } = timed(() => addon.readCapturedFocusedElementText());
    assert.ok(seconds <= figures.readCapturedFocusedElementText[kind], `${kind}: ${seconds} s`);
  }
});

test('insertTextIntoFocusedElement, with a stored target and capturing afresh', () => {
  for (const [kind, latency] of [['hung', HUNG], ['slow', SLOW]]) {
    // Stored target: captured while healthy, the application slows down.
    browser(0);
    addon.getFocusedElementInfo();
    slowDown(latency);
    let { seconds } = timed(() => addon.insertTextIntoFocusedElement('words'));
    assert.ok(seconds <= figures.insertStored[kind], `${kind}, stored: ${seconds} s`);
    // No stored target: the capture comes first.
    sim.ax.setTrusted(false);
    addon.getFocusedElementInfo();  // drops the stored one
    browser(latency);
    ({ seconds } = timed(() => addon.insertTextIntoFocusedElement('words')));
    assert.ok(seconds <= figures.insertCapturing[kind], `${kind}, capturing: ${seconds} s`);
  }
});

// The write is made and never shows the text: the whole read-back, the
// original set back and read back, then the paste preparation. Hung: the
// application takes the set and answers nothing more (each set costs it
// 100 s). Slow: every query just inside the timeout, and a field that shows
// a part of the text 3.9 s late, and so the original as late again.
test('insertTextIntoFocusedElement, into a field that never shows the text', () => {
  for (const [kind, field] of [['hung', { setLatency: HUNG }], ['slow', { onWrite: { maxLength: 2, delay: 3.9 }, latency: SLOW }]]) {
    browser(0);
    sim.apps.update(10, { bundleID: `com.example.never.${kind}` });
    addon.getFocusedElementInfo();
    // The user moves on during the read-back: the paste preparation brings
    // the application back.
    sim.apps.add({ pid: 11, bundleID: 'com.example.notes', name: 'Notes', windows: [] });
    sim.apps.setFrontmostAfter(11, 5);
    sim.apps.update(10, { latency: kind === 'slow' ? SLOW : 0,
      windows: [{ id: 'win', role: 'AXWindow', children: [{ id: 'field', role: 'AXTextArea', value: 'draft',
        valueSettable: true, selectedRange: { location: 5, length: 0 }, ...field }] }] });
    const { seconds, result } = timed(() => addon.insertTextIntoFocusedElement('words'));
    assert.equal(JSON.parse(result).reason, 'ax_write_verification_failed', kind);
    assert.ok(seconds <= figures.insertNeverShown[kind], `${kind}: ${seconds} s`);
  }
});

test('the terminal route: two tools, each bounded to two seconds of real time', () => {
  const { standInOsascript } = require('./terminal');
  const osa = standInOsascript('echo /dev/pts/999');
  const ps = standInOsascript('exec sleep 30');
  sim.reset();
  sim.tools.setPath('osascript', osa.file);
  sim.tools.setPath('ps', ps.file);
  sim.apps.add({ pid: 3, bundleID: 'com.apple.Terminal', name: 'Terminal', windows: [{ id: 'w', role: 'AXWindow' }],
    focusedElement: 'w' });
  sim.apps.setFrontmost(3);
  const started = Date.now();
  const virtualStart = sim.clock.now();
  assert.equal(JSON.parse(addon.insertTextIntoFocusedElement('ls')).reason, 'tty_write_failed');
  const real = (Date.now() - started) / 1000;
  assert.ok(real >= 1.9 && real < 2.6, `ps killed at the bound: ${real} s`);
  assert.ok(sim.clock.now() - virtualStart <= 0.231, 'plus the paste preparation');
  osa.remove();
  ps.remove();
});
