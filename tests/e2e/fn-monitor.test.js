'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim, pump, ev } = require('./helpers');

const SHIFT = 0x20000;
const verdicts = () => sim.keyboard.results().map((r) => r.verdict);

let calls = 0;
const callback = () => { calls++; };

test.beforeEach(() => {
  addon.stop();
  sim.reset();
  // The window server's wait for each verdict is a bound, not what these
  // tests time: under Valgrind the tap thread can take more than the
  // default second to be scheduled.
  sim.keyboard.setTapTimeout(10);
  calls = 0;
});
test.after(() => addon.stop());

async function startAndFeed(events) {
  assert.equal(addon.start(callback), true);
  sim.keyboard.results();
  sim.keyboard.post(events);
  await pump();
}

test('Fn down, Fn up: one call, both events swallowed', async () => {
  await startAndFeed([ev.fnDown(), ev.fnUp()]);
  assert.deepEqual(verdicts(), ['swallow', 'swallow']);
  assert.equal(calls, 1);
});

test('a letter in between spoils the tap and passes with the release', async () => {
  await startAndFeed([ev.fnDown(), ev.keyDown(0, 0x800000), ev.keyUp(0, 0x800000), ev.fnUp()]);
  assert.deepEqual(verdicts(), ['swallow', 'pass', 'pass', 'pass']);
  assert.equal(calls, 0);
});

test('Shift pressed and released while Fn is held still counts', async () => {
  await startAndFeed([ev.fnDown(), ev.fnDown(SHIFT), ev.fnDown(), ev.fnUp()]);
  assert.deepEqual(verdicts(), ['swallow', 'pass', 'pass', 'swallow']);
  assert.equal(calls, 1);
});

test('a system-defined event spoils the tap', async () => {
  await startAndFeed([ev.fnDown(), ev.systemDefined(), ev.fnUp()]);
  assert.deepEqual(verdicts(), ['swallow', 'pass', 'pass']);
  assert.equal(calls, 0);
});

test('a long hold is still a tap', async () => {
  assert.equal(addon.start(callback), true);
  sim.keyboard.post(ev.fnDown());
  await pump();
  sim.clock.advance(5);
  sim.keyboard.post(ev.fnUp());
  await pump();
  assert.deepEqual(verdicts(), ['swallow', 'swallow']);
  assert.equal(calls, 1);
});

test('two taps, two calls; events posted before start reach applications untouched', async () => {
  sim.keyboard.post(ev.fnDown());
  assert.deepEqual(sim.keyboard.results(), [{ type: 12, flags: 0x800000, keyCode: 63, verdict: 'pass', tap: false }]);
  await startAndFeed([ev.fnDown(), ev.fnUp(), ev.fnDown(), ev.fnUp()]);
  assert.equal(calls, 2);
});

test('Globe key after a tap: swallowed down to and including its key up', async () => {
  await startAndFeed([ev.fnDown(), ev.fnUp(), ev.keyDown(179), ev.keyDown(179), ev.keyUp(179),
    ev.keyDown(179), ev.keyUp(179)]);
  assert.deepEqual(verdicts(), ['swallow', 'swallow', 'swallow', 'swallow', 'swallow', 'pass', 'pass']);
  assert.equal(calls, 1);
});

test('a suppressed Globe key inside the next tap does not spoil it', async () => {
  await startAndFeed([ev.fnDown(), ev.fnUp(), ev.fnDown(), ev.keyDown(179, 0x800000), ev.fnUp(),
    ev.keyUp(179)]);
  assert.deepEqual(verdicts(), ['swallow', 'swallow', 'swallow', 'swallow', 'swallow', 'swallow']);
  assert.equal(calls, 2);
});

// While it was off, a release may have gone by unseen: the recognizer starts
// over, so the press held across the notice ends as nothing.
test('a tap the system disabled is re-enabled at once and keeps working', async () => {
  await startAndFeed([ev.fnDown(), { type: 0xFFFFFFFE }, ev.fnUp(), { type: 0xFFFFFFFF }, ev.fnDown(), ev.fnUp()]);
  assert.deepEqual(verdicts(), ['swallow', 'pass', 'pass', 'pass', 'swallow', 'swallow']);
  assert.equal(calls, 1);
  const enables = sim.log.take().filter((e) => e.op === 'tapEnable').map((e) => e.enabled);
  assert.deepEqual(enables, [false, true, true, true], 'created off, on from its own thread, on after each notice');
  assert.deepEqual(sim.keyboard.tap(), { exists: true, enabled: true, onRunLoop: true, mask: 0x5C00 });
});

test('the tap decides on its own thread: no processEvents, the call on a later turn', async () => {
  assert.equal(addon.start(callback), true);
  sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
  assert.deepEqual(verdicts(), ['swallow', 'swallow'], 'decided before post returned');
  assert.equal(calls, 0, 'JavaScript hears of it only through its own loop');
  await new Promise(setImmediate);
  assert.equal(calls, 1);
});

test('a tap that cannot see key presses is refused: nothing is installed', async () => {
  for (const types of [[12, 14], [10, 12, 14], [11, 12, 14]]) {
    sim.keyboard.allowTap({ types });
    assert.equal(addon.start(callback), false, JSON.stringify(types));
    assert.equal(addon.isActive(), false);
    assert.deepEqual(sim.keyboard.tap(), { exists: false, enabled: false, onRunLoop: false, mask: 0 });
  }
  sim.keyboard.post([ev.fnDown(), ev.keyDown(51, 0x800000), ev.keyUp(51, 0x800000), ev.fnUp()]);
  assert.deepEqual(sim.keyboard.results().map((r) => r.tap), [false, false, false, false], 'Fn+Delete untouched');
  sim.keyboard.allowTap({ types: [10, 11, 12, 14, 1, 2] });
  assert.equal(addon.start(callback), true, 'every type it needs, and more');
  assert.equal(sim.keyboard.tap().mask, 0x5C00, 'it asks for no more than it needs');
  await pump();
  assert.equal(calls, 0);
});

test('start twice keeps the first callback; stop twice is harmless', async () => {
  let second = 0;
  assert.equal(addon.start(callback), true);
  assert.equal(addon.start(() => { second++; }), true);
  sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
  await pump();
  assert.equal(calls, 1);
  assert.equal(second, 0);
  assert.equal(sim.log.take().filter((e) => e.op === 'tapCreate').length, 1);
  addon.stop();
  addon.stop();
  assert.equal(addon.isActive(), false);
});

test('start without a callback, or with one that is not a function, creates nothing', () => {
  for (const args of [[], [undefined], [null], [42], ['callback'], [{}]]) {
    assert.equal(addon.start(...args), false, JSON.stringify(args));
    assert.equal(addon.isActive(), false);
  }
  assert.deepEqual(sim.log.take(), [], 'no tap was even asked for');
  assert.deepEqual(sim.keyboard.tap(), { exists: false, enabled: false, onRunLoop: false, mask: 0 });
});

test('a refused tap answers false and leaves nothing behind', async () => {
  sim.keyboard.allowTap(false);
  assert.equal(addon.start(callback), false);
  assert.equal(addon.isActive(), false);
  assert.deepEqual(sim.log.take().map((e) => e.op), ['listenPreflight', 'trusted', 'tapCreate']);
  sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
  await pump();
  assert.deepEqual(verdicts(), ['pass', 'pass']);
  assert.equal(calls, 0);
  sim.keyboard.allowTap(true);
  assert.equal(addon.start(callback), true, 'a later start works');
});

// The window server holds every keystroke of the system on an enabled tap:
// one that nothing serves yet, or any longer, would hold the keyboard.
test('starting, refusing and stopping hold no keystroke posted meanwhile', async () => {
  const keys = Array.from({ length: 40 }, (_, i) => (i % 2 ? ev.keyUp(0) : ev.keyDown(0)));
  for (let cycle = 0; cycle < 100; cycle++) {
    sim.keyboard.postAsync(keys);  // typed while the monitor comes and goes
    if (cycle % 4 === 3) {
      sim.keyboard.allowTap({ types: [10, 12, 14] });
      assert.equal(addon.start(callback), false);
      sim.keyboard.allowTap(true);
    } else {
      assert.equal(addon.start(callback), true);
      sim.keyboard.postAsync(keys);
      addon.stop();
    }
  }
  while (sim.keyboard.pending() > 0) await new Promise((resolve) => setTimeout(resolve, 5));
  const results = sim.keyboard.results();
  assert.ok(results.filter((r) => r.tap !== false).length > 0, `keystrokes met the tap while it ran: ${results.filter((r) => r.tap !== false).length} of ${results.length}`);
  assert.deepEqual(results.filter((r) => r.held || r.timedOut), [], 'no keystroke waited on an idle tap');
});

// Input Monitoring and Accessibility are asked of the system's own checks; the
// system's list of taps refuses a tap only by what it shows.
test('permission: the documented checks decide, and an unlisted tap still works', async () => {
  sim.keyboard.setPreflight({ listen: false });
  assert.equal(addon.start(callback), false);
  sim.keyboard.setPreflight({ listen: true });
  sim.ax.setTrusted(false);
  assert.equal(addon.start(callback), false, 'a tap that swallows events needs Accessibility');
  assert.deepEqual(sim.log.take().filter((e) => e.op === 'tapCreate'), [], 'no tap was made');
  assert.deepEqual(sim.keyboard.tap(), { exists: false, enabled: false, onRunLoop: false, mask: 0 });
  sim.ax.setTrusted(true);
  sim.keyboard.allowTap({ listed: false });
  await startAndFeed([ev.fnDown(), ev.fnUp()]);
  assert.deepEqual(verdicts(), ['swallow', 'swallow']);
  assert.equal(calls, 1);
});

test('after stop Fn taps reach applications; a restart uses the new callback', async () => {
  await startAndFeed([ev.fnDown(), ev.fnUp()]);
  addon.stop();
  assert.deepEqual(sim.keyboard.tap(), { exists: false, enabled: false, onRunLoop: false, mask: 0 });
  sim.keyboard.results();
  sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
  await pump();
  assert.deepEqual(sim.keyboard.results().map((r) => r.tap), [false, false]);
  let fresh = 0;
  assert.equal(addon.start(() => { fresh++; }), true);
  sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
  await pump();
  assert.equal(calls, 1);
  assert.equal(fresh, 1);
});

test('a restart after a stop in the middle of a press starts clean', async () => {
  await startAndFeed([ev.fnDown(), ev.keyDown(4, 0x800000)]);
  addon.stop();
  assert.equal(addon.start(callback), true);
  sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
  await pump();
  assert.equal(calls, 1);
});

test('processEvents does nothing while no monitor runs', () => {
  const before = sim.clock.now();
  addon.processEvents();
  assert.equal(sim.clock.now(), before);
  assert.equal(addon.start(callback), true);
  addon.processEvents();
  assert.ok(sim.clock.now() > before, 'the run loop ran');
});

test('isActive follows the monitor', () => {
  assert.equal(addon.isActive(), false);
  assert.equal(addon.start(callback), true);
  assert.equal(addon.isActive(), true);
  addon.stop();
  assert.equal(addon.isActive(), false);
});
