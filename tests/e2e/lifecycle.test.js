'use strict';
// The monitor never outlives its environment and never keeps node alive
// after a stop.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const helpers = path.join(__dirname, 'helpers.js');
// Exit statuses are asserted here, and under the sanitizer lane LeakSanitizer
// would turn node's own unfreed memory into status 1 (nodeEnv turns leak
// checks off for these children); leaks are checked by the other suites.
const env = require('./helpers').nodeEnv();
const run = (body) => spawnSync(process.execPath, ['-e', `
  const { addon, sim, ev } = require(${JSON.stringify(helpers)});
  ${body}
`], { encoding: 'utf8', timeout: 20000, env });

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
