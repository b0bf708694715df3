'use strict';
// Which element a capture locks onto: the editable-element search, web
// detection and the lock decision, seen through getFocusedElementInfo.
const test = require('node:test');
const assert = require('node:assert/strict');
const { sim } = require('./helpers');
const { textField, node, addApp, chain, info, readText, dropTargetAndCheckHandles, copiesOf } = require('./focus-fixtures');

test.beforeEach(() => sim.reset());
test.afterEach(() => dropTargetAndCheckHandles(assert));

const CHROME = 'com.google.Chrome';
const chosenText = () => readText().text;

// A group focused in a browser, so that the search runs around it.
function searchIn(children, { bundleID = CHROME, windows } = {}) {
  const group = node('focus', 'AXGroup', children);
  addApp({ bundleID, windows: windows || [{ id: 'win', role: 'AXWindow', children: [group] }], focusedElement: 'focus' });
  return info();
}

test('a settable editable element beats an earlier read-only one', () => {
  const r = searchIn([
    { id: 'ro', role: 'AXTextArea', value: 'read-only', valueSettable: false },
    textField('rw', { value: 'settable' }),
  ]);
  assert.equal(r.role, 'AXTextField');
  assert.equal(chosenText(), 'settable');
});

test('without a settable one the first read-only editable element is kept', () => {
  const r = searchIn([
    node('b', 'AXButton'),
    { id: 'ro1', role: 'AXTextArea', value: 'first', valueSettable: false },
    { id: 'ro2', role: 'AXComboBox', value: 'second', valueSettable: false },
  ]);
  assert.equal(r.role, 'AXTextArea');
  assert.equal(chosenText(), 'first');
});

test('breadth first: depth 3 wins over depth 4 under an earlier sibling', () => {
  searchIn([
    node('a1', 'AXGroup', [node('a2', 'AXGroup', [node('a3', 'AXGroup', [textField('deep', { value: 'depth 4' })])])]),
    node('b1', 'AXGroup', [node('b2', 'AXGroup', [textField('shallow', { value: 'depth 3' })])]),
  ]);
  assert.equal(chosenText(), 'depth 3');
});

test('only the first 30 children of an element are looked at', () => {
  const children = [];
  for (let i = 0; i < 40; i++) children.push(node(`btn${i}`, 'AXButton'));
  children[30] = textField('thirty-first', { value: 'never found' });
  const r = searchIn(children, { windows: [{ id: 'win', role: 'AXWindow', children: [node('focus', 'AXGroup', children)] }] });
  assert.notEqual(chosenText(), 'never found');
  assert.equal(r.role, 'AXGroup', 'the window search found nothing either: the element itself stays');
  const log = sim.log.take();
  assert.equal(copiesOf(log, 'AXRole').filter((e) => e.element === 'btn31').length, 0);
  assert.equal(copiesOf(log, 'AXRole').filter((e) => e.element === 'btn29').length, 2, 'once per search');
});

test('a search stops after 500 examined elements', () => {
  // 600 buttons in rows of 20, the field last in breadth-first order.
  const rows = [];
  for (let r = 0; r < 30; r++) {
    const cells = [];
    for (let c = 0; c < 20; c++) cells.push(node(`c${r}_${c}`, 'AXButton'));
    rows.push(node(`row${r}`, 'AXGroup', cells));
  }
  rows[29].children[19] = textField('last', { value: 'too far' });
  const focus = node('focus', 'AXGroup', rows);
  addApp({ bundleID: CHROME, windows: [{ id: 'win', role: 'AXWindow', children: [] }, focus], focusedElement: 'focus',
    focusedWindow: null, mainWindow: null });
  sim.log.take();
  const r = info();
  assert.equal(r.role, 'AXGroup');
  assert.equal(copiesOf(sim.log.take(), 'AXChildren').length, 500);
});

test('the 150 ms budget: exactly 150 ms still examines the next element', () => {
  // Each element costs one round trip of 50 ms: the fourth starts at exactly
  // 150 ms and is examined, the fifth is not.
  const slow = { latency: 0.05 };
  const chainOf = (n, leaf) => {
    let current = leaf;
    for (let i = n - 1; i >= 1; i--) current = node(`s${i}`, 'AXGroup', [current], slow);
    return current;
  };
  const run = (position) => {
    sim.reset();
    const leaf = textField('target', { value: `found at ${position}`, ...slow });
    const focus = node('focus', 'AXGroup', [chainOf(position - 1, leaf)], slow);
    addApp({ bundleID: CHROME, windows: [focus], focusedElement: 'focus', focusedWindow: null, mainWindow: null });
    info();
    return readText().text;
  };
  assert.equal(run(4), 'found at 4');
  assert.equal(run(5), undefined);
});

test('an element reachable along two paths is examined twice', () => {
  const shared = node('shared', 'AXButton');
  const focus = node('focus', 'AXGroup', [node('p1', 'AXGroup', [shared]), node('p2', 'AXGroup', ['shared'])]);
  addApp({ bundleID: CHROME, windows: [focus], focusedElement: 'focus', focusedWindow: null, mainWindow: null });
  sim.log.take();
  info();
  const roles = copiesOf(sim.log.take(), 'AXRole').filter((e) => e.element === 'shared');
  assert.equal(roles.length, 2);
});

test('a root that is a settable text field is its own answer without a look at its children', () => {
  const field = textField('root', { value: 'root', children: [textField('child', { value: 'child' })] });
  addApp({ bundleID: 'com.example.native', windows: [field], focusedElement: 'root' });
  sim.log.take();
  info();
  assert.equal(readText().text, 'root');
  assert.equal(copiesOf(sim.log.take(), 'AXChildren').length, 0);
});

// ---- web detection and the lock decision ------------------------------------

// A focused button with a settable field beneath it: searching finds the
// field, not searching keeps the button.
function lockOnButton({ bundleID = 'com.example.native', ancestors, extra = {} } = {}) {
  const button = node('btn', 'AXButton', [textField('inner', { value: 'inner field' })], extra);
  const window = ancestors ? ancestors(button) : { id: 'win', role: 'AXWindow', children: [button] };
  addApp({ bundleID, windows: [window], focusedElement: 'btn', focusedWindow: null, mainWindow: null });
  return info().role;
}

test('a button of a native application is locked onto as it is', () => {
  assert.equal(lockOnButton(), 'AXButton');
});

test('Chromium-family, Electron and web-editor applications search around the element', () => {
  for (const bundleID of [CHROME, 'com.brave.Browser', 'com.electron.notes', 'com.openai.codex', 'com.openai.codex.beta']) {
    sim.reset();
    assert.equal(lockOnButton({ bundleID }), 'AXTextField', bundleID);
  }
  for (const bundleID of ['com.openai.codexx', 'com.electronic.app', 'com.google.chrome', '']) {
    sim.reset();
    assert.equal(lockOnButton({ bundleID }), 'AXButton', bundleID);
  }
});

test('a readable DOM identifier makes an element web content', () => {
  assert.equal(lockOnButton({ extra: { domIdentifier: 'submit' } }), 'AXTextField');
  sim.reset();
  assert.equal(lockOnButton({ extra: { domIdentifier: 'submit', errors: { AXDOMIdentifier: -25205 } } }), 'AXButton');
});

test('a web area 19 levels up makes it web content, 20 levels up does not', () => {
  // The button's parent is 1 level up; the web area sits `levels` up.
  const within = (levels) => (button) => {
    let current = button;
    for (let i = 1; i < levels; i++) current = node(`g${i}`, 'AXGroup', [current]);
    return { id: 'win', role: 'AXWindow', children: [node('web', 'AXWebArea', [current])] };
  };
  assert.equal(lockOnButton({ ancestors: within(19) }), 'AXTextField');
  sim.reset();
  assert.equal(lockOnButton({ ancestors: within(20) }), 'AXButton');
});

test('an editable field inside web content is kept even when its value is not settable', () => {
  const field = { id: 'rich', role: 'AXTextArea', value: 'rich editor', valueSettable: false, domIdentifier: 'editor',
    children: [textField('hidden', { value: 'hidden input' })] };
  addApp({ bundleID: CHROME, windows: [{ id: 'win', role: 'AXWindow', children: [field] }], focusedElement: 'rich' });
  info();
  assert.equal(readText().text, 'rich editor');
});

test('a read-only field of a browser is searched around; of a native application kept', () => {
  const make = (bundleID) => {
    sim.reset();
    const field = { id: 'ro', role: 'AXTextArea', value: 'outer', valueSettable: false,
      children: [textField('inner', { value: 'inner' })] };
    addApp({ bundleID, windows: [{ id: 'win', role: 'AXWindow', children: [field] }], focusedElement: 'ro' });
    info();
    return readText().text;
  };
  assert.equal(make(CHROME), 'inner');
  assert.equal(make('com.example.native'), 'outer');
});

test('a group with nothing editable and no window to search stays the group', () => {
  const group = node('grp', 'AXGroup', [node('label', 'AXStaticText')]);
  addApp({ bundleID: 'com.example.native', windows: [group], focusedElement: 'grp', focusedWindow: null, mainWindow: null });
  assert.equal(info().role, 'AXGroup');
});

test('when nothing is found around the element the focused window is searched', () => {
  const window = { id: 'win', role: 'AXWindow', children: [node('grp', 'AXGroup'), textField('elsewhere', { value: 'in window' })] };
  addApp({ bundleID: 'com.example.native', windows: [window], focusedElement: 'grp', focusedWindow: null, mainWindow: 'win' });
  info();
  assert.equal(readText().text, 'in window');
});

test('nested chains keep the search bounded to what it examined', () => {
  const window = chain('n', 8, textField('deep', { value: 'deep field' }));
  addApp({ bundleID: CHROME, windows: [window], focusedElement: 'n1' });
  info();
  assert.equal(readText().text, 'deep field');
});
