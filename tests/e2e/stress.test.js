'use strict';
// Long runs through the real pelmora.node: start/stop cycles, event storms
// and capture-and-insert cycles over random trees leave no reference, no
// memory growth and no thread-safe function behind.
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim, pump, turn, ev, sanitized, runNode } = require('./helpers');

const RECEIVER = { vendorID: 11427, productID: 16401, manufacturer: 'DJI', product: 'Wireless Mic Rx' };
const BUTTON = { usagePage: 0x0C, usage: 0xE9 };
const MiB = 1024 * 1024;

// Resident memory after a full collection.
require('node:v8').setFlagsFromString('--expose-gc');
const gc = require('node:vm').runInNewContext('gc');
const rss = () => {
  gc();
  return process.memoryUsage().rss;
};
// Under AddressSanitizer freed memory sits in quarantine, so resident memory
// says nothing there; LeakSanitizer checks that lane instead.
const assertGrowth = (before, limitMiB) => {
  if (sanitized) return;
  const grown = (rss() - before) / MiB;
  assert.ok(grown < limitMiB, `resident memory grew ${grown.toFixed(1)} MiB`);
};

test.afterEach(() => {
  addon.stop();
  addon.stopDjiMicButton();
  sim.reset();
});

test('10,000 start/stop cycles of each monitor and of both together', async () => {
  sim.reset();
  sim.hid.addDevice(RECEIVER);
  // The host closes a released thread-safe function on a later turn of its
  // loop, so the loop gets turns, as it would in an editor.
  const cycle = async (fn) => {
    for (let i = 0; i < 10000; i++) {
      fn();
      if (i % 100 === 99) {
        sim.log.take();
        await turn();
      }
    }
  };
  const before = rss();
  await cycle(() => { assert.equal(addon.start(() => {}), true); addon.stop(); });
  await cycle(() => { assert.equal(addon.startDjiMicButton(() => {}), true); addon.stopDjiMicButton(); });
  await cycle(() => {
    assert.equal(addon.start(() => {}), true);
    assert.equal(addon.startDjiMicButton(() => {}), true);
    addon.stopDjiMicButton();
    addon.stop();
  });
  assert.deepEqual(sim.keyboard.tap(), { exists: false, enabled: false, onRunLoop: false, mask: 0 });
  assert.equal(sim.hid.manager().exists, false);
  assertGrowth(before, 32);
});

test('a storm of 100,000 keyboard events and 10,000 button values', async () => {
  sim.reset();
  const receiver = sim.hid.addDevice(RECEIVER);
  let taps = 0;
  let presses = 0;
  addon.start(() => { taps++; });
  addon.startDjiMicButton(() => { presses++; });
  const before = rss();
  for (let burst = 0; burst < 100; burst++) {
    const events = [];
    for (let i = 0; i < 250; i++) events.push(ev.fnDown(), ev.fnUp(), ev.keyDown(4), ev.keyUp(4));
    sim.keyboard.post(events);
    for (let i = 0; i < 100; i++) sim.hid.post(receiver, { ...BUTTON, value: i % 2 });  // 50 presses
    addon.processEvents();
    assert.equal(sim.keyboard.results().length, 1000);
    sim.log.take();
    if (burst % 10 === 9) await pump();
  }
  // The host hands queued calls over in batches; every one arrives.
  for (let turns = 0; turns < 200 && (taps < 25000 || presses < 5000); turns++) await turn();
  assert.equal(taps, 25000);
  assert.equal(presses, 5000);
  assertGrowth(before, 32);
});

// A small deterministic generator, so that a failure can be replayed.
function random(seed) {
  let s = seed >>> 0;
  return () => {
    s = (s * 1664525 + 1013904223) >>> 0;
    return s / 2 ** 32;
  };
}

function randomTree(rand, id) {
  const roles = ['AXGroup', 'AXButton', 'AXStaticText', 'AXScrollArea', 'AXTextField', 'AXTextArea', 'AXWebArea'];
  let n = 0;
  const make = (depth) => {
    const role = roles[Math.floor(rand() * roles.length)];
    const node = { id: `${id}-${n++}`, role, children: [] };
    if (role === 'AXTextField' || role === 'AXTextArea') {
      node.value = 'x'.repeat(Math.floor(rand() * 20));
      node.valueSettable = rand() < 0.7;
      node.selectedRange = { location: 0, length: 0 };
      if (rand() < 0.2) node.onWrite = ['ignore', 'refuse', { delay: 0.1 }][Math.floor(rand() * 3)];
    }
    if (rand() < 0.1) node.domIdentifier = 'dom';
    if (rand() < 0.05) node.errors = { AXChildren: -25204 };
    const kids = depth < 4 ? Math.floor(rand() * 5) : 0;
    for (let k = 0; k < kids; k++) node.children.push(make(depth + 1));
    return node;
  };
  const root = make(0);
  return { tree: { id: `${id}-win`, role: 'AXWindow', children: [root] }, focused: root.id };
}

test('10,000 capture-and-insert cycles over random trees release every reference', () => {
  const rand = random(8);
  const bundles = ['com.example.native', 'com.google.Chrome', 'com.electron.app', 'com.jetbrains.goland', ''];
  const outcomes = new Map();
  const before = rss();
  for (let i = 0; i < 10000; i++) {
    sim.reset();
    const { tree, focused } = randomTree(rand, `t${i}`);
    sim.apps.add({ pid: 1 + (i % 3), bundleID: bundles[i % bundles.length] || undefined, name: 'App', active: rand() < 0.5,
      windows: [tree], focusedWindow: tree.id, focusedElement: rand() < 0.9 ? focused : -25204,
      focusedElementErrors: rand() < 0.1 ? [-25204] : [] });
    sim.apps.setFrontmost(1 + (i % 3));
    JSON.parse(addon.getFocusedElementInfo());
    const verdict = JSON.parse(addon.insertTextIntoFocusedElement(`words ${i}`));
    const key = verdict.ok ? verdict.method : verdict.reason;
    outcomes.set(key, (outcomes.get(key) || 0) + 1);
    JSON.parse(addon.readCapturedFocusedElementText());
  }
  sim.reset();
  sim.ax.setTrusted(false);
  addon.getFocusedElementInfo();  // drops the last target
  assert.equal(sim.ax.liveHandles(), 0);
  assert.ok(outcomes.get('accessibility') > 500, JSON.stringify([...outcomes]));
  assert.ok(outcomes.size >= 5, `the cycles took many routes: ${JSON.stringify([...outcomes])}`);
  assertGrowth(before, 48);
});

test('node exits by itself after monitor cycles end stopped', () => {
  const r = runNode(`
    for (let i = 0; i < 1000; i++) { addon.start(() => {}); addon.startDjiMicButton(() => {}); addon.stop(); addon.stopDjiMicButton(); }
    addon.start(() => {}); addon.startDjiMicButton(() => {});
    setTimeout(() => { addon.stop(); addon.stopDjiMicButton(); }, 50);
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.signal, null, 'it ended by itself, not by the timeout');
});
