'use strict';
// The control module's HID and preference sections refuse what they cannot
// represent instead of guessing, so a mistyped test fails loudly.
const test = require('node:test');
const assert = require('node:assert/strict');
const { sim } = require('./helpers');

test.beforeEach(() => sim.reset());

test('preference values that have no property-list form are refused', () => {
  const refused = [
    null, undefined, [1, null], { a: null },
    { int: '1.5' }, { int: '9223372036854775808' }, { int: 5 }, { int: '' }, { int: '+1' },
    { data: [256] }, { data: [1.5] }, { data: 'abc' },
    { date: 'today' }, { double: '1' },
    { dict: [[1]] }, { dict: [[1, 'a'], [1, 'b']] }, { dict: 'x' },
    2 ** 63, -(2 ** 64),
  ];
  for (const value of refused) {
    assert.throws(() => sim.prefs.set('d', 'k', value), TypeError, JSON.stringify(value));
  }
  assert.throws(() => sim.prefs.set('d', 5, 1), TypeError);
  assert.throws(() => sim.prefs.remove(undefined, 'k'), TypeError);
  for (const value of [-(2 ** 63), 2 ** 53, { int: '-9223372036854775808' }, { dict: [[1, 'a'], ['1', 'b']] },
    { dict: [] }, { double: NaN }, NaN, { date: -1e15 }, { data: [] }, { double: 1, int: '2' }]) {
    sim.prefs.set('d', 'k', value);
  }
  sim.prefs.remove('d', 'missing');
});

test('HID arguments are checked', () => {
  const id = sim.hid.addDevice({ vendorID: 1, productID: 2 });
  assert.equal(typeof id, 'number');
  assert.notEqual(sim.hid.addDevice({}), id);
  assert.throws(() => sim.hid.addDevice('device'), TypeError);
  assert.throws(() => sim.hid.post(id + 100, { usagePage: 12, usage: 0xE9, value: 1 }), TypeError);
  assert.throws(() => sim.hid.post(id, { usagePage: 12, usage: 0xE9 }), TypeError);
  assert.throws(() => sim.hid.post(id, { usagePage: -1, usage: 0xE9, value: 1 }), TypeError);
  assert.throws(() => sim.hid.post(id, { usagePage: 12, usage: 0xE9, value: 0.5 }), TypeError);
  assert.throws(() => sim.hid.setOpenResults({ exclusive: 2 ** 32 }), TypeError);
  assert.throws(() => sim.hid.setOpenResults({ shared: 'busy' }), TypeError);
  assert.equal(sim.hid.post(id, { usagePage: 12, usage: 0xE9, value: 1 }), false, 'no manager listens');
  assert.equal(sim.hid.matching(), null);
});

test('a reset forgets devices', () => {
  const id = sim.hid.addDevice({});
  sim.reset();
  assert.throws(() => sim.hid.post(id, { usagePage: 12, usage: 0xE9, value: 1 }), TypeError);
});
