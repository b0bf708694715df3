'use strict';
// The monitors never outlive their environment and never keep node alive
// after a stop. Each case runs in a fresh node process. (Under the sanitizer
// lane LeakSanitizer would turn node's own unfreed memory into an exit
// status, so these children run with leak checks off; the other suites check
// leaks.)
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { runNode: run } = require('./helpers');

const helpers = path.join(__dirname, 'helpers.js');

test('node exits by itself once the monitor is stopped', () => {
  const r = run(`
    addon.start(() => console.log('tap'));
    sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
    addon.processEvents();
    setImmediate(() => { addon.stop(); });
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, 'tap\n');
});

test('a running monitor keeps node alive until it is stopped', () => {
  const r = run(`
    addon.start(() => {});
    setTimeout(() => { console.log('still alive'); addon.stop(); }, 200);
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, 'still alive\n');
});

test('process.exit while running tears the monitor down cleanly', () => {
  const r = run(`
    addon.start(() => {});
    sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
    addon.processEvents();
    process.exit(3);
  `);
  assert.equal(r.status, 3, r.stderr);
  assert.equal(r.stderr, '');
});

test('a worker terminated while its monitor runs stops the monitor with its environment', () => {
  const r = run(`
    const { Worker } = require('node:worker_threads');
    const w = new Worker(\`
      const { addon } = require(${JSON.stringify(helpers)});
      addon.start(() => {});
      require('node:worker_threads').parentPort.postMessage(addon.isActive());
    \`, { eval: true });
    w.on('message', (m) => { console.log('worker active', m); w.terminate(); });
    w.on('exit', () => {
      console.log('main active', addon.isActive(), JSON.stringify(sim.keyboard.tap()));
    });
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.match(r.stdout, /worker active true/);
  assert.match(r.stdout, /main active false \{"exists":false,"enabled":false,"onRunLoop":false\}/);
});

test('microphone: node exits by itself once the monitor is stopped', () => {
  const r = run(`
    addon.startDjiMicButton(() => console.log('press'));
    press(1);
    addon.processEvents();
    setImmediate(() => { addon.stopDjiMicButton(); });
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, 'press\n');
});

test('microphone: a running monitor keeps node alive until it is stopped', () => {
  const r = run(`
    addon.startDjiMicButton(() => {});
    setTimeout(() => { console.log('still alive'); addon.stopDjiMicButton(); }, 200);
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, 'still alive\n');
});

test('a start refused by both opens releases its callback: node exits by itself', () => {
  const r = run(`
    sim.hid.setOpenResults({ exclusive: 0xE00002C5, shared: 0xE00002C5 });
    console.log(addon.startDjiMicButton(() => {}));
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, 'false\n');
  assert.equal(r.error, undefined, 'it did not have to be killed');
});

test('both monitors: process.exit while running tears them down cleanly', () => {
  const r = run(`
    addon.start(() => {});
    addon.startDjiMicButton(() => {});
    press(1);
    addon.processEvents();
    process.exit(3);
  `);
  assert.equal(r.status, 3, r.stderr);
  assert.equal(r.stderr, '');
});

test('microphone: a worker terminated while its monitor runs stops the monitor with its environment', () => {
  const r = run(`
    const { Worker } = require('node:worker_threads');
    const w = new Worker(\`
      const { addon } = require(${JSON.stringify(helpers)});
      addon.startDjiMicButton(() => {});
      require('node:worker_threads').parentPort.postMessage(addon.isDjiMicButtonActive());
    \`, { eval: true });
    w.on('message', (m) => { console.log('worker active', m); w.terminate(); });
    w.on('exit', () => {
      console.log('main active', addon.isDjiMicButtonActive(), JSON.stringify(sim.hid.manager()));
      console.log('posted', press(1));
    });
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.match(r.stdout, /worker active true/);
  assert.match(r.stdout, /main active false \{"exists":false,"open":false,"openOptions":null,"scheduled":false\}/);
  assert.match(r.stdout, /posted false/);
});
