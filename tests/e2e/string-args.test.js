'use strict';
// getNapiStringArg, called through the control module's probe: the probe's
// own arguments are read, the index (argument 0) included.
const test = require('node:test');
const assert = require('node:assert/strict');
const { sim } = require('./helpers');

const arg = (index, ...rest) => sim.probe.stringArg(index, ...rest);

test('an index beyond the arguments passed is absent', () => {
  assert.equal(arg(1), null);
  assert.equal(arg(1, 'second'), 'second');
  assert.equal(arg(2, 'second'), null);
  assert.equal(arg(5, 'a', 'b'), null);
});

test('non-strings are absent, never converted', () => {
  for (const value of [undefined, null, 0, 42, true, 10n, Symbol('s'), {}, ['x'], () => 'x',
    new String('boxed')]) {
    assert.equal(arg(1, value), null, String(typeof value));
  }
});

test('empty, U+0000, astral and lone-surrogate strings', () => {
  assert.equal(arg(1, ''), '');
  assert.equal(arg(1, 'before\u0000after'), 'before\u0000after', 'read by its length, not to its first U+0000');
  assert.equal(arg(1, '\u0000'), '\u0000');
  assert.equal(arg(1, 'thumbs \u{1F44D}\u{1F3FD} up'), 'thumbs \u{1F44D}\u{1F3FD} up');
  assert.equal(arg(1, 'caf\u00e9 \u65e5\u672c'), 'caf\u00e9 \u65e5\u672c');
  assert.equal(arg(1, 'a\uD800b'), 'a\uFFFDb', 'a lone surrogate arrives as U+FFFD');
});

test('a large string comes back whole', () => {
  const big = 'x'.repeat(8 * 1024 * 1024) + '\u00e9';
  assert.equal(arg(1, big), big);
});
