'use strict';
// The microphone monitor's callback keeps node alive exactly while the
// monitor runs, and the monitor never outlives its environment.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const helpers = path.join(__dirname, 'helpers.js');
// As in lifecycle.test.js: exit statuses are asserted, so node's own unfreed
// memory must not turn into status 1 under the sanitizer lane.
const env = process.env.ASAN_OPTIONS
  ? { ...process.env, ASAN_OPTIONS: `${process.env.ASAN_OPTIONS}:detect_leaks=0` }
  : process.env;
const run = (body) => spawnSync(process.execPath, ['-e', `
  const { addon, sim } = require(${JSON.stringify(helpers)});
  const receiver = sim.hid.addDevice({ vendorID: 11427, productID: 16401, manufacturer: 'DJI', product: 'Wireless Mic Rx' });
  const press = (value) => sim.hid.post(receiver, { usagePage: 12, usage: 0xE9, value });
  ${body}
`], { encoding: 'utf8', timeout: 20000, env });

test('node exits by itself once the monitor is stopped', () => {
  const r = run(`
    addon.startDjiMicButton(() => console.log('press'));
    press(1);
    addon.processEvents();
    setImmediate(() => { addon.stopDjiMicButton(); });
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, 'press\n');
});

test('a running monitor keeps node alive until it is stopped', () => {
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

test('process.exit while running tears the monitor down cleanly', () => {
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

test('a worker terminated while its monitor runs stops the monitor with its environment', () => {
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
