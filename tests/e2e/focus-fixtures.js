'use strict';
// Builders of simulated applications and element trees for the focus and
// insertion tests.
const { addon, sim } = require('./helpers');

const textField = (id, extra = {}) => ({ id, role: 'AXTextField', value: '', valueSettable: true,
  selectedRange: { location: 0, length: 0 }, ...extra });
const node = (id, role, children = [], extra = {}) => ({ id, role, children, ...extra });

// An application with one window, made frontmost.
// Keys given as undefined stay undefined (no bundle identifier, no name).
function addApp(options = {}) {
  const { frontmost = true, ...fields } = options;
  const app = { pid: 100, bundleID: 'com.example.editor', name: 'Editor', ...fields };
  if (!('focusedWindow' in fields)) app.focusedWindow = app.windows && app.windows[0] ? app.windows[0].id : null;
  sim.apps.add(app);
  if (frontmost) sim.apps.setFrontmost(app.pid);
  return app.pid;
}

// A chain of groups of the given depth above a leaf: window > g1 > ... > leaf.
function chain(prefix, depth, leaf, top = {}) {
  let current = leaf;
  for (let i = depth; i >= 1; i--) current = node(`${prefix}${i}`, 'AXGroup', [current]);
  return { id: `${prefix}win`, role: 'AXWindow', children: [current], ...top };
}

const info = () => JSON.parse(addon.getFocusedElementInfo());
const readText = () => JSON.parse(addon.readCapturedFocusedElementText());
const frontInfo = () => JSON.parse(addon.getFrontmostApplicationInfo());

// Ends every case with no target held and every reference released.
function dropTargetAndCheckHandles(assert) {
  sim.reset();
  sim.ax.setTrusted(false);
  addon.getFocusedElementInfo();
  sim.reset();
  assert.equal(sim.ax.liveHandles(), 0, 'every element reference was released');
}

const ops = (log, op) => log.filter((e) => e.op === op);
// Reads of an attribute, alone or among others in one round trip.
const copiesOf = (log, attribute) => log.filter((e) => (e.op === 'axCopy' && e.attribute === attribute) ||
  (e.op === 'axCopyMultiple' && e.attributes.includes(attribute)));

module.exports = { textField, node, addApp, chain, info, readText, frontInfo, dropTargetAndCheckHandles, ops, copiesOf };
