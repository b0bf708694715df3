'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim } = require('./helpers');

const DOMAIN = 'com.apple.HIToolbox';
const KEY = 'AppleFnUsageType';
const MAX = 2147483647;
const MIN = -2147483648;

test.beforeEach(() => sim.reset());

function usageFor(value) {
  sim.prefs.set(DOMAIN, KEY, value);
  return addon.getSystemFnUsageType();
}

function check(cases) {
  for (const [value, expected] of cases) {
    const got = usageFor(value);
    assert.ok(Object.is(got, expected), `${JSON.stringify(value, (k, v) => (Number.isNaN(v) ? 'NaN' : v))}: got ${got}, want ${expected}`);
  }
}

test('no preference is 0; the value is read afresh on every call, and only under its own key and domain', () => {
  assert.equal(addon.getSystemFnUsageType(), 0);
  sim.prefs.set(DOMAIN, 'AppleFnUsageTypeX', 2);
  sim.prefs.set('com.apple.HIToolboxX', KEY, 2);
  sim.prefs.set('com.apple.keyboard', KEY, 2);
  assert.equal(addon.getSystemFnUsageType(), 0);
  sim.prefs.set(DOMAIN, KEY, 2);
  assert.equal(addon.getSystemFnUsageType(), 2);
  sim.prefs.set(DOMAIN, KEY, 1);
  assert.equal(addon.getSystemFnUsageType(), 1);
  sim.prefs.remove(DOMAIN, KEY);
  assert.equal(addon.getSystemFnUsageType(), 0);
  const reads = sim.log.take().filter((e) => e.op === 'prefsRead');
  assert.deepEqual(reads.map(({ domain, key }) => ({ domain, key })), Array(5).fill({ domain: DOMAIN, key: KEY }));
});

test('arguments are ignored', () => {
  sim.prefs.set(DOMAIN, KEY, 3);
  assert.equal(addon.getSystemFnUsageType('AppleSymbolicHotKeys', 'com.apple.symbolichotkeys', 7), 3);
});

test('integers pass through, and saturate beyond the 32-bit range', () => {
  check([
    [0, 0], [1, 1], [2, 2], [3, 3], [-5, -5],
    [MAX, MAX], [MIN, MIN],
    [MAX + 1, MAX], [MIN - 1, MIN],
    [1e15, MAX], [-1e15, MIN],
    [{ int: '9223372036854775807' }, MAX],
    [{ int: '-9223372036854775808' }, MIN],
    [{ int: '4294967298' }, MAX], // not wrapped to 2
  ]);
});

test('floating-point numbers truncate toward zero, saturate, and NaN is 0', () => {
  check([
    [{ double: 2 }, 2], [{ double: 2.9 }, 2], [2.5, 2], [{ double: -2.9 }, -2],
    [{ double: 0.5 }, 0], [{ double: -0.5 }, 0], [{ double: -0 }, 0],
    [{ double: 2147483647.9 }, MAX], [{ double: -2147483648.9 }, MIN],
    [{ double: 2147483648 }, MAX], [{ double: -2147483649 }, MIN],
    [{ double: 1e300 }, MAX], [{ double: -1e300 }, MIN],
    [{ double: Infinity }, MAX], [{ double: -Infinity }, MIN],
    [{ double: NaN }, 0],
    [{ double: 5e-324 }, 0],
  ]);
});

test('strings: an optional single sign and ASCII digits, within 32 bits', () => {
  check([
    ['3', 3], ['+3', 3], ['-1', -1], ['0', 0], ['-0', 0], ['+0', 0], ['007', 7], ['-007', -7],
    ['000000000000000000000000002', 2],
    [String(MAX), MAX], [String(MIN), MIN], ['+2147483647', MAX],
  ]);
});

test('strings of any other form are 0', () => {
  check([
    ['', 0], ['+', 0], ['-', 0], [' 3', 0], ['3 ', 0], ['\t3', 0], ['3\n', 0], ['3a', 0], ['a3', 0],
    ['+-3', 0], ['--3', 0], ['++3', 0], ['3-', 0], ['3.0', 0], ['3.', 0], ['1e3', 0], ['0x10', 0],
    ['1_000', 0], ['1,000', 0], ['\u0663', 0], ['\uFF13', 0], ['3\u0000', 0],
    ['2147483648', 0], ['-2147483649', 0], ['99999999999999999999', 0], ['+2147483648', 0],
  ]);
});

test('values of other kinds are 0, booleans included', () => {
  check([
    [true, 0], [false, 0],
    [{ date: Date.UTC(2024, 0, 1) }, 0],
    [{ data: [3] }, 0], [{ data: [] }, 0],
    [[3], 0], [[], 0],
    [{ value: 3 }, 0], [{}, 0], [{ dict: [[1, 3]] }, 0],
  ]);
});

test('the answer is a plain integer number', () => {
  sim.prefs.set(DOMAIN, KEY, { double: -7.75 });
  const got = addon.getSystemFnUsageType();
  assert.equal(typeof got, 'number');
  assert.equal(got, -7);
});
