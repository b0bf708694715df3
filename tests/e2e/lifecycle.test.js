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
  assert.match(r.stdout, /main active false \{"exists":false,"enabled":false,"onRunLoop":false,"mask":0\}/);
});

// A callback has no caller of its own to catch what it throws: the host's
// 'uncaughtException' hears it, with the very value thrown, and the monitor
// goes on.
test('what a callback throws reaches uncaughtException, and the monitors keep working', () => {
  const r = run(`
    const heard = [];
    process.on('uncaughtException', (e) => heard.push(e));
    const calls = { tap: 0, press: 0 };
    const thrown = { tap: new Error('tap callback'), press: 'a string, not an Error' };
    addon.start(() => { calls.tap++; throw thrown.tap; });
    addon.startDjiMicButton(() => { calls.press++; throw thrown.press; });
    const both = () => { sim.keyboard.post([ev.fnDown(), ev.fnUp()]); press(1); press(0); addon.processEvents(); };
    both();
    setTimeout(() => {
      both();
      setTimeout(() => {
        addon.stop();
        addon.stopDjiMicButton();
        const count = (value) => heard.filter((e) => e === value).length;
        console.log(JSON.stringify({ calls, heard: heard.length, tap: count(thrown.tap), press: count(thrown.press) }));
      }, 50);
    }, 50);
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stderr, '', 'no warning in its place');
  assert.deepEqual(JSON.parse(r.stdout), { calls: { tap: 2, press: 2 }, heard: 4, tap: 2, press: 2 });
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
  assert.match(r.stdout, /main active false \{"exists":false,"open":false,"openOptions":null,"scheduled":false,"devices":\[\]\}/);
  assert.match(r.stdout, /posted false/);
});

// The window server holds every keystroke of the system until the tap
// answers: the answer must never wait for the host's JavaScript thread.
test('the keyboard never waits for a busy host: the tap answers from its own thread', () => {
  const r = run(`
    let calls = 0;
    addon.start(() => { calls++; });
    sim.keyboard.postAsync([ev.fnDown(), ev.fnUp(), ev.keyDown(0), ev.keyUp(0)]);
    const until = Date.now() + 5000;
    while (sim.keyboard.pending() > 0 && Date.now() < until) {}  // busy: no processEvents, no turn
    const results = sim.keyboard.results();
    console.log(JSON.stringify(results.map((e) => [e.verdict, e.timedOut, e.waitedMs < 1000])));
    setImmediate(() => { console.log('calls', calls); addon.stop(); });
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, '[["swallow",false,true],["swallow",false,true],["pass",false,true],["pass",false,true]]\ncalls 1\n');
});

test('an export that runs long holds nobody’s keystrokes', () => {
  const r = run(`
    const { standInOsascript } = require(${JSON.stringify(path.join(__dirname, 'terminal.js'))});
    const osa = standInOsascript('sleep 0.6; exit 1');
    sim.tools.setPath('osascript', osa.file);
    sim.apps.add({ pid: 500, bundleID: 'com.apple.Terminal', name: 'Terminal', active: true,
      windows: [{ id: 1, role: 'AXWindow', children: [{ id: 2, role: 'AXTextArea', value: '', valueSettable: true }] }],
      focusedElement: 2 });
    sim.apps.setFrontmost(500);
    sim.keyboard.setTapTimeout(0.25);
    addon.start(() => {});
    sim.keyboard.postAsync([ev.fnDown(), ev.fnUp(), ev.keyDown(0), ev.keyUp(0)]);
    const started = Date.now();
    const verdict = JSON.parse(addon.insertTextIntoFocusedElement('ls'));
    console.log('export held the thread', Date.now() - started >= 500, verdict.reason);
    while (sim.keyboard.pending() > 0) {}
    console.log(JSON.stringify(sim.keyboard.results().map((e) => [e.verdict, e.timedOut])));
    osa.remove();
    addon.stop();
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, 'export held the thread true tty_write_failed\n' +
    '[["swallow",false],["swallow",false],["pass",false],["pass",false]]\n');
});

// A Node-API module is context-aware: worker threads load the same addon and
// share its one captured target, learned set and monitors.
test('two JavaScript threads calling the exports at once take turns', () => {
  const r = run(`
    const { Worker } = require('node:worker_threads');
    sim.apps.add({ pid: 600, bundleID: 'com.example.notes', name: 'Notes', active: true,
      windows: [{ id: 1, role: 'AXWindow', children: [{ id: 2, role: 'AXTextArea', value: 'x', valueSettable: true,
        selectedRange: { location: 0, length: 0 } }] }],
      focusedElement: 2 });
    sim.apps.setFrontmost(600);
    const loop = (calls) => \`
      const answers = [];
      const until = Date.now() + 1000;
      while (Date.now() < until) { \${calls} }
      for (const a of answers) JSON.parse(a);
    \`;
    const w = new Worker(\`
      const { addon } = require(${JSON.stringify(helpers)});
      \${loop("answers.push(addon.readCapturedFocusedElementText(), addon.getFocusedElementInfo(), addon.insertTextIntoFocusedElement('w'));")}
      require('node:worker_threads').parentPort.postMessage(answers.length);
    \`, { eval: true });
    let worker = 0;
    w.on('message', (n) => { worker = n; });
    w.on('online', () => eval(loop("answers.push(addon.getFocusedElementInfo(), addon.insertTextIntoFocusedElement('m'));")));
    // Unserialized, the two threads tear references from each other: the
    // captured target's element would not be the one reference left.
    w.on('exit', (code) => console.log('worker', code, worker > 0, 'references', sim.ax.liveHandles()));
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, 'worker 0 true references 1\n');
});

test('a monitor a worker started but another thread stopped is not stopped again when the worker ends', () => {
  const r = run(`
    const { Worker } = require('node:worker_threads');
    const w = new Worker(\`
      const { addon } = require(${JSON.stringify(helpers)});
      addon.start(() => {});
      addon.startDjiMicButton(() => {});
      require('node:worker_threads').parentPort.postMessage('started');
    \`, { eval: true });
    w.on('message', () => {
      addon.stop();
      addon.stopDjiMicButton();
      console.log('restarted', addon.start(() => {}), addon.startDjiMicButton(() => {}));
      w.terminate();
    });
    w.on('exit', () => {
      console.log('still active', addon.isActive(), addon.isDjiMicButtonActive());
      addon.stop();
      addon.stopDjiMicButton();
    });
  `);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(r.stdout, 'restarted true true\nstill active true true\n');
});
