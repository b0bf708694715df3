'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim, pump, ev } = require('./helpers');

const RECEIVER = { vendorID: 11427, productID: 16401, manufacturer: 'DJI', product: 'Wireless Mic Rx' };
const BUTTON = { usagePage: 0x0C, usage: 0xE9 };
const VOLUME_DOWN = { usagePage: 0x0C, usage: 0xEA };

let calls = 0;
const callback = () => { calls++; };
let receiver;

test.beforeEach(() => {
  addon.stopDjiMicButton();
  addon.stop();
  sim.reset();
  calls = 0;
  receiver = sim.hid.addDevice(RECEIVER);
});
test.after(() => {
  addon.stopDjiMicButton();
  addon.stop();
});

const post = (device, values, usage = BUTTON) => {
  for (const value of [].concat(values)) sim.hid.post(device, { ...usage, value });
};

// Each value in its own turn of the run loop, as a real button would come.
async function feed(values, device = receiver, usage = BUTTON) {
  for (const value of values) {
    post(device, value, usage);
    await pump();
  }
}

const ops = (log, op) => log.filter((e) => e.op === op);
const hidOpens = () => sim.log.take().filter((e) => e.op === 'hidOpen').map(({ options, result }) => ({ options, result }));

test('a press and release make one call, on the press', async () => {
  assert.equal(addon.startDjiMicButton(callback), true);
  await feed([1]);
  assert.equal(calls, 1);
  await feed([0]);
  assert.equal(calls, 1);
});

test('one call per transition to pressed: repeats and releases are silent', async () => {
  assert.equal(addon.startDjiMicButton(callback), true);
  await feed([1, 0, 1, 0]);
  assert.equal(calls, 2, 'two presses');
  await feed([1, 1, 0]);
  assert.equal(calls, 3, 'non-zero, non-zero, zero');
  await feed([0, 0, 2, -1, 7, 0, -3]);
  assert.equal(calls, 5, 'any non-zero value is pressed');
});

test('values in one burst are each seen', async () => {
  assert.equal(addon.startDjiMicButton(callback), true);
  post(receiver, [1, 0, 1, 1, 0, 1]);
  await pump();
  assert.equal(calls, 3);
});

test('other usages of the receiver neither report nor change the button state', async () => {
  assert.equal(addon.startDjiMicButton(callback), true);
  await feed([1, 0], receiver, VOLUME_DOWN);
  await feed([1], receiver, { usagePage: 0x07, usage: 0xE9 });
  await feed([1], receiver, { usagePage: 0x0C, usage: 0xCD });
  assert.equal(calls, 0);
  await feed([1]);
  assert.equal(calls, 1);
  await feed([0], receiver, VOLUME_DOWN); // not the button's release
  await feed([1]);
  assert.equal(calls, 1);
});

test('the same usage from any other device is ignored', async () => {
  const others = [
    { ...RECEIVER, vendorID: 11428 },
    { ...RECEIVER, productID: 16402 },
    { ...RECEIVER, vendorID: '11427' },
    { ...RECEIVER, productID: undefined },
    { ...RECEIVER, vendorID: undefined },
    { ...RECEIVER, manufacturer: 'dji' },
    { ...RECEIVER, manufacturer: 'XDJI' },
    { ...RECEIVER, manufacturer: ' DJI' },
    { ...RECEIVER, manufacturer: 'DJ' },
    { ...RECEIVER, manufacturer: undefined },
    { ...RECEIVER, manufacturer: 42 },
    { ...RECEIVER, product: 'Wireless Mic Rx 2' },
    { ...RECEIVER, product: 'wireless mic rx' },
    { ...RECEIVER, product: 'Wireless Mic' },
    { ...RECEIVER, product: '' },
    { ...RECEIVER, product: undefined },
    { ...RECEIVER, product: 7 },
  ];
  assert.equal(addon.startDjiMicButton(callback), true);
  for (const description of others) {
    const device = sim.hid.addDevice(description);
    await feed([1, 0], device);
    assert.equal(calls, 0, JSON.stringify(description));
  }
  // The names may say more than the required part.
  const branded = sim.hid.addDevice({ ...RECEIVER, manufacturer: 'DJI Technology Co., Ltd.' });
  await feed([1, 0], branded);
  assert.equal(calls, 1);
});

test('a running monitor has an open, scheduled manager matching the receiver', () => {
  assert.equal(addon.isDjiMicButtonActive(), false);
  assert.equal(addon.startDjiMicButton(callback), true);
  assert.equal(addon.isDjiMicButtonActive(), true);
  assert.deepEqual(sim.hid.manager(), { exists: true, open: true, openOptions: 1, scheduled: true, devices: [{ id: receiver, options: 1 }] });
  assert.deepEqual(sim.hid.matching(), { VendorID: 11427, ProductID: 16401 });
  assert.deepEqual(hidOpens(), [{ options: 1, result: 0 }]);
  addon.stopDjiMicButton();
  assert.equal(addon.isDjiMicButtonActive(), false);
  assert.deepEqual(sim.hid.manager(), { exists: false, open: false, openOptions: null, scheduled: false, devices: [] });
});

test('values reach the callback only inside processEvents', async () => {
  assert.equal(addon.startDjiMicButton(callback), true);
  post(receiver, 1);
  await new Promise((r) => setTimeout(r, 5));
  assert.equal(calls, 0);
  await pump();
  assert.equal(calls, 1);
});

test('start twice keeps the first callback and opens once; stop twice is harmless', async () => {
  let second = 0;
  assert.equal(addon.startDjiMicButton(callback), true);
  assert.equal(addon.startDjiMicButton(() => { second++; }), true);
  assert.deepEqual(hidOpens(), [{ options: 1, result: 0 }]);
  await feed([1]);
  assert.equal(calls, 1);
  assert.equal(second, 0);
  addon.stopDjiMicButton();
  addon.stopDjiMicButton();
  assert.equal(addon.isDjiMicButtonActive(), false);
});

test('stop without a start does nothing', () => {
  assert.equal(addon.stopDjiMicButton(), undefined);
  assert.deepEqual(sim.log.take(), []);
  assert.equal(addon.isDjiMicButtonActive(), false);
  assert.deepEqual(sim.hid.manager(), { exists: false, open: false, openOptions: null, scheduled: false, devices: [] });
});

test('after stop nothing is reported; a restart reports the first press even if the last value was a press',
  async () => {
    assert.equal(addon.startDjiMicButton(callback), true);
    await feed([1]);
    assert.equal(calls, 1);
    addon.stopDjiMicButton();
    assert.equal(sim.hid.post(receiver, { ...BUTTON, value: 0 }), false, 'nobody listens');
    await pump();
    let fresh = 0;
    assert.equal(addon.startDjiMicButton(() => { fresh++; }), true);
    await feed([1]);
    assert.equal(fresh, 1);
    assert.equal(calls, 1);
  });

test('values posted before a start are lost, not delivered later', async () => {
  post(receiver, 1);
  assert.equal(addon.startDjiMicButton(callback), true);
  await pump();
  assert.equal(calls, 0);
  await feed([0, 1]);
  assert.equal(calls, 1);
});

test('values still queued at stop are dropped', async () => {
  assert.equal(addon.startDjiMicButton(callback), true);
  post(receiver, 1);
  addon.stopDjiMicButton();
  assert.equal(addon.startDjiMicButton(callback), true);
  await pump();
  assert.equal(calls, 0);
});

test('when exclusive use is refused the monitor opens the receiver shared and still reports', async () => {
  sim.hid.setOpenResults({ exclusive: 0xE00002C5, shared: 0 });
  assert.equal(addon.startDjiMicButton(callback), true);
  assert.deepEqual(hidOpens(), [{ options: 1, result: 0xE00002C5 }, { options: 0, result: 0 }]);
  assert.deepEqual(sim.hid.manager(), { exists: true, open: true, openOptions: 0, scheduled: true, devices: [{ id: receiver, options: 0 }] });
  assert.equal(addon.isDjiMicButtonActive(), true);
  await feed([1, 0, 1, 0]);
  assert.equal(calls, 2);
  assert.equal(ops(sim.log.take(), 'hidFault').length, 0, 'never scheduled twice');

  // Unplugged and plugged in again: still heard.
  sim.hid.removeDevice(receiver);
  const again = sim.hid.addDevice(RECEIVER);
  assert.deepEqual(sim.hid.manager().devices, [{ id: again, options: 0 }]);
  await feed([1, 0], again);
  assert.equal(calls, 3);
});

test('when both opens are refused: false, and nothing is left open or scheduled', async () => {
  sim.hid.setOpenResults({ exclusive: -536870203, shared: -536870212 });
  assert.equal(addon.startDjiMicButton(callback), false);
  assert.deepEqual(hidOpens(), [{ options: 1, result: -536870203 }, { options: 0, result: -536870212 }]);
  assert.equal(addon.isDjiMicButtonActive(), false);
  assert.deepEqual(sim.hid.manager(), { exists: false, open: false, openOptions: null, scheduled: false, devices: [] });
  assert.equal(sim.hid.post(receiver, { ...BUTTON, value: 1 }), false);
  const before = sim.clock.now();
  addon.processEvents();
  assert.equal(sim.clock.now(), before, 'no monitor runs, so nothing is pumped');
  sim.hid.setOpenResults({ exclusive: 0, shared: 0 });
  assert.equal(addon.startDjiMicButton(callback), true, 'a later start works');
  await feed([1]);
  assert.equal(calls, 1);
});

test('no callback, or one the host refuses, answers false before any manager exists', () => {
  for (const args of [[], [undefined], [null], [42], ['callback'], [{}], [true]]) {
    assert.equal(addon.startDjiMicButton(...args), false, JSON.stringify(args));
    assert.equal(addon.isDjiMicButtonActive(), false);
    assert.deepEqual(sim.hid.manager(), { exists: false, open: false, openOptions: null, scheduled: false, devices: [] });
  }
  assert.deepEqual(sim.log.take(), [], 'nothing was opened');
  const before = sim.clock.now();
  addon.processEvents();
  assert.equal(sim.clock.now(), before);
});

test('both monitors: each pumps alone, both run together, each stops alone', async () => {
  let taps = 0;
  const onTap = () => { taps++; };

  assert.equal(addon.startDjiMicButton(callback), true);
  const t0 = sim.clock.now();
  addon.processEvents();
  assert.ok(sim.clock.now() > t0, 'the microphone alone makes processEvents pump');
  await feed([1, 0]);
  assert.equal(calls, 1);
  addon.stopDjiMicButton();

  assert.equal(addon.start(onTap), true);
  post(receiver, 1); // lost: the microphone monitor is off
  sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
  await pump();
  assert.equal(taps, 1, 'the Fn monitor alone is pumped');
  assert.equal(calls, 1);

  assert.equal(addon.startDjiMicButton(callback), true);
  sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
  post(receiver, [1, 0]);
  await pump();
  assert.equal(taps, 2);
  assert.equal(calls, 2, 'one pump serves both');

  addon.stop();
  assert.equal(addon.isActive(), false);
  assert.equal(addon.isDjiMicButtonActive(), true);
  await feed([1, 0]);
  assert.equal(calls, 3, 'the microphone goes on without the Fn monitor');

  assert.equal(addon.start(onTap), true);
  addon.stopDjiMicButton();
  sim.keyboard.post([ev.fnDown(), ev.fnUp()]);
  await pump();
  assert.equal(taps, 3, 'and the Fn monitor without the microphone');
  addon.stop();

  const t1 = sim.clock.now();
  addon.processEvents();
  assert.equal(sim.clock.now(), t1, 'with neither running nothing is pumped');
});
