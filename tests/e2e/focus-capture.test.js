'use strict';
// Capturing the focused text target: which application, which element, the
// retry rule and its pauses, the window fallback and every failure reason.
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim } = require('./helpers');
const { textField, node, addApp, info, readText, dropTargetAndCheckHandles, ops, copiesOf } = require('./focus-fixtures');

test.beforeEach(() => sim.reset());
test.afterEach(() => dropTargetAndCheckHandles(assert));

const window = (children) => ({ id: 'win', role: 'AXWindow', children });

test('without Accessibility trust nothing else is asked and no target is kept', () => {
  addApp({ windows: [window([textField('f')])], focusedElement: 'f' });
  sim.ax.setTrusted(false);
  sim.log.take();
  assert.equal(addon.getFocusedElementInfo(),
    '{"appName":"Current App","bundleID":"","role":"","subrole":"","roleDescription":"","selectedTextRangeAvailable":false,"selectedTextLength":0,"error":"accessibility_not_trusted"}');
  assert.deepEqual(sim.log.take().map((e) => e.op), ['trusted']);
  assert.equal(readText().reason, 'missing_captured_target');
});

test('an application without a running-application record still captures, unnamed', () => {
  addApp({ running: false, windows: [window([textField('f', { value: 'typed' })])], focusedElement: 'f' });
  const r = info();
  assert.equal(r.error, '');
  assert.equal(r.appName, 'Current App');
  assert.equal(r.bundleID, '');
});

test('a missing name is "Current App", a missing bundle identifier empty', () => {
  addApp({ name: undefined, windows: [window([textField('f')])], focusedElement: 'f' });
  assert.equal(info().appName, 'Current App');
  sim.reset();
  addApp({ bundleID: undefined, name: 'Plain', windows: [window([textField('f')])], focusedElement: 'f' });
  const r = info();
  assert.equal(r.bundleID, '');
  assert.equal(r.appName, 'Plain');
});

test('the system-wide focused application is preferred over the frontmost one', () => {
  addApp({ pid: 1, bundleID: 'com.example.front', name: 'Front', windows: [window([textField('a')])], focusedElement: 'a' });
  addApp({ pid: 2, bundleID: 'com.example.focused', name: 'Focused', frontmost: false,
    windows: [{ id: 'w2', role: 'AXWindow', children: [textField('b', { value: 'b' })] }], focusedElement: 'b' });
  sim.apps.setSystemFocus(2);
  assert.equal(info().appName, 'Focused');
  // The workspace's frontmost application differs: the target is dropped at once.
  assert.equal(readText().reason, 'frontmost_app_changed');
  assert.equal(readText().reason, 'missing_captured_target');
});

test('without a system-wide focused application the frontmost one is used', () => {
  addApp({ name: 'Front', windows: [window([textField('a', { value: 'x' })])], focusedElement: 'a' });
  for (const focus of [null, -25204]) {
    sim.apps.setSystemFocus(focus);
    assert.equal(info().appName, 'Front');
  }
});

test('no application at all: missing_frontmost_app', () => {
  sim.apps.setFrontmost(null);
  const r = info();
  assert.equal(r.error, 'missing_frontmost_app');
  assert.equal(r.appName, 'Current App');
});

test('a focused-element query that succeeds without a value: missing_focused_element, with the names', () => {
  addApp({ bundleID: 'com.example.empty', name: 'Empty', windows: [window([])], focusedElement: null });
  const r = info();
  assert.deepEqual([r.error, r.appName, r.bundleID], ['missing_focused_element', 'Empty', 'com.example.empty']);
});

// Failing focus queries: how many retries, with which pauses.
function retries(bundleID, errors, extra = {}) {
  sim.reset();
  addApp({ bundleID, windows: [window([textField('f', { value: 'focused' })])], focusedElement: 'f',
    focusedElementErrors: errors, focusedWindow: null, mainWindow: null, ...extra });
  sim.log.take();
  const r = info();
  const log = sim.log.take();
  return { r, focusQueries: copiesOf(log, 'AXFocusedUIElement').length, sleeps: ops(log, 'sleep').map((e) => e.seconds) };
}

test('browsers, Electron, web editors and anything named chrome get four retries; others one', () => {
  const fourFailures = [-25204, -25204, -25204, -25204];
  for (const bundleID of ['com.google.Chrome', 'com.electron.chat', 'com.vantor.ressel.ide', 'org.example.ChRoMe-helper']) {
    const { r, focusQueries, sleeps } = retries(bundleID, fourFailures);
    assert.equal(r.error, '', `${bundleID} succeeds on the fifth query`);
    assert.equal(focusQueries, 5, bundleID);
    assert.deepEqual(sleeps, [0.05, 0.05, 0.05, 0.05], bundleID);
  }
  const { r, focusQueries, sleeps } = retries('com.example.native', [-25204, -25212]);
  assert.equal(r.error, 'focus_error_-25212', 'the last failed retry gives the code');
  assert.equal(focusQueries, 2);
  assert.deepEqual(sleeps, [0.05]);
});

test('a retry that succeeds ends the retries at once', () => {
  const { r, focusQueries, sleeps } = retries('com.google.Chrome', [-25212]);
  assert.equal(r.error, '');
  assert.equal(focusQueries, 2);
  assert.deepEqual(sleeps, [0.05]);
});

test('the pauses show on the clock', () => {
  addApp({ bundleID: 'com.google.Chrome', windows: [window([textField('f')])], focusedElement: 'f',
    focusedElementErrors: [-25204, -25204] });
  const before = sim.clock.now();
  info();
  assert.ok(Math.abs(sim.clock.now() - before - 0.1) < 1e-6);
});

test('when every retry fails the focused window is searched', () => {
  const { r } = retries('com.example.native', [-25204, -25204], { focusedWindow: 'win' });
  assert.equal(r.error, '');
  assert.equal(r.role, 'AXTextField');
  assert.equal(readText().text, 'focused');
});

test('the window fallback takes the window\'s own focused element first', () => {
  sim.reset();
  const own = textField('own', { value: 'own focus' });
  addApp({ bundleID: 'com.example.native', windows: [{ id: 'win', role: 'AXWindow', focusedElement: 'own',
    children: [textField('other', { value: 'first field' }), own] }], focusedElement: 'other',
  focusedElementErrors: [-25204, -25204], focusedWindow: 'win' });
  info();
  assert.equal(readText().text, 'own focus');
});

test('every retry failing and no window: focus_error_ with the last code', () => {
  const { r } = retries('com.example.native', [-25201, -25204]);
  assert.equal(r.error, 'focus_error_-25204');
  const main = retries('com.example.native', [-25204, -25211], { mainWindow: 'win' });
  assert.equal(main.r.error, '', 'the main window stands in for a missing focused window');
});

test('a failed capture drops an earlier target', () => {
  addApp({ windows: [window([textField('f', { value: 'kept?' })])], focusedElement: 'f' });
  assert.equal(info().error, '');
  sim.ax.setTrusted(false);
  assert.equal(info().error, 'accessibility_not_trusted');
  sim.ax.setTrusted(true);
  assert.equal(readText().reason, 'missing_captured_target');
});

test('a hung application costs one messaging timeout, not one per query', () => {
  // Every query of the application and its elements waits 100 s.
  const cases = [
    { bundleID: 'com.google.Chrome', app: 100, element: 0, bound: 1.25 },
    { bundleID: 'com.example.native', app: 100, element: 0, bound: 1.1 },
    { bundleID: 'com.google.Chrome', app: 0, element: 100, bound: 1.05 },
    { bundleID: 'com.example.native', app: 100, element: 100, bound: 1.1 },
  ];
  for (const c of cases) {
    sim.reset();
    const field = textField('f', { latency: c.element });
    addApp({ bundleID: c.bundleID, latency: c.app, windows: [{ id: 'win', role: 'AXWindow', latency: c.element, children: [field] }],
      focusedElement: 'f' });
    const before = sim.clock.now();
    const r = info();
    const took = sim.clock.now() - before;
    assert.ok(took <= c.bound, `${JSON.stringify(c)} took ${took} s`);
    assert.ok(r.error === '' || r.error === 'focus_error_-25204', r.error);
  }
});

// The timeout set on the system-wide element would hold for every
// Accessibility client of the host, for good; one set on an element bounds
// only that reference.
test('every element the addon makes or receives is bounded; the host\'s own timeout is left alone', () => {
  addApp({ bundleID: 'com.google.Chrome', windows: [window([node('grp', 'AXGroup', [textField('f', { value: 'x' })])])],
    focusedElement: 'grp' });
  sim.log.take();
  info();
  readText();
  JSON.parse(addon.insertTextIntoFocusedElement('y'));
  const timeouts = sim.ax.timeouts();
  assert.equal(timeouts.system, undefined);
  const queried = new Set(sim.log.take().filter((e) => e.element !== undefined && e.element !== 'system').map((e) => String(e.element)));
  assert.ok(queried.size >= 4, [...queried].join());
  for (const element of queried) assert.equal(timeouts[element], 1, `${element} is bounded`);
});

test('a slow but healthy application is waited for', () => {
  addApp({ latency: 0.5, windows: [window([textField('f', { value: 'slow', latency: 0.5 })])], focusedElement: 'f' });
  const r = info();
  assert.equal(r.error, '');
  assert.equal(r.role, 'AXTextField');
  assert.equal(readText().text, 'slow');
});

test('an element that disappeared answers as invalid without harm', () => {
  addApp({ windows: [window([textField('f', { value: 'here' })])], focusedElement: 'f' });
  info();
  sim.apps.update(100, { windows: [window([])] });
  assert.equal(readText().reason, 'missing_value');
});
