'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { addon, sim } = require('./helpers');

const DOMAIN = 'com.apple.symbolichotkeys';
const KEY = 'AppleSymbolicHotKeys';
const CMD = 1048576;
const CTRL = 262144;

test.beforeEach(() => sim.reset());

// An entry of the stored tree; `enabled: undefined` leaves the member out.
const shortcut = (keyCode, modifiers, options = {}) => {
  const { type = 'standard', parameters = [65535, keyCode, modifiers] } = options;
  const entry = { value: { type, parameters } };
  const enabled = Object.hasOwn(options, 'enabled') ? options.enabled : true;
  if (enabled !== undefined) entry.enabled = enabled;
  return entry;
};

function hotkeysFor(tree) {
  sim.prefs.set(DOMAIN, KEY, tree);
  return addon.getSystemSymbolicHotkeys();
}

// The objects of an answer, each as its text, after checking that the whole
// answer is valid JSON of exactly the compact shape.
const OBJECT = /\{"k":(?:0|-?[1-9]\d*),"m":(?:0|-?[1-9]\d*)\}/.source;
const SHAPE = new RegExp(`^\\[(?:${OBJECT}(?:,${OBJECT})*)?\\]$`);
function objectsOf(text) {
  assert.equal(typeof text, 'string');
  assert.ok(Array.isArray(JSON.parse(text)), text);
  assert.match(text, SHAPE);
  return text.match(new RegExp(OBJECT, 'g')) ?? [];
}
const sorted = (list) => [...list].sort();

// Keeps the entries of a one-entry-per-case tree: which cases survive.
function survivors(cases) {
  const tree = {};
  cases.forEach(([, entry], i) => { tree[`id${i}`] = entry; });
  const kept = new Set(objectsOf(hotkeysFor(tree)));
  return cases.filter((c, i) => kept.has(`{"k":${1000 + i},"m":0}`)).map(([name]) => name);
}
// Every case carries its index in its key code, so survivors can be named.
const cases = (list) => list.map(([name, make], i) => [name, make(1000 + i)]);

test('no preference, or one that is not a dictionary of string keys, answers []', () => {
  assert.equal(addon.getSystemSymbolicHotkeys(), '[]');
  for (const tree of ['standard', 49, { double: 1.5 }, true, { date: 0 }, { data: [1, 2] },
    [shortcut(49, CMD)], [], {}, { dict: [[32, shortcut(49, CMD)]] },
    { dict: [['32', shortcut(49, CMD)], [33, shortcut(50, CMD)]] }]) {
    assert.equal(hotkeysFor(tree), '[]', JSON.stringify(tree));
  }
});

test('read afresh on every call, from its own key and domain', () => {
  sim.prefs.set('com.apple.symbolichotkeysX', KEY, { 1: shortcut(1, 0) });
  sim.prefs.set(DOMAIN, 'AppleSymbolicHotKeysX', { 1: shortcut(2, 0) });
  assert.equal(addon.getSystemSymbolicHotkeys(), '[]');
  sim.prefs.set(DOMAIN, KEY, { 1: shortcut(3, 0) });
  assert.equal(addon.getSystemSymbolicHotkeys(), '[{"k":3,"m":0}]');
  sim.prefs.set(DOMAIN, KEY, { 1: shortcut(4, CTRL) });
  assert.equal(addon.getSystemSymbolicHotkeys(1, 'x'), '[{"k":4,"m":262144}]');
  const reads = sim.log.take().filter((e) => e.op === 'prefsRead').map(({ domain, key }) => ({ domain, key }));
  assert.deepEqual(reads, Array(3).fill({ domain: DOMAIN, key: KEY }));
});

test('the answer is compact: k then m, decimal, nothing else', () => {
  assert.equal(hotkeysFor({ 60: shortcut(49, CMD | CTRL) }), '[{"k":49,"m":1310720}]');
  assert.equal(hotkeysFor({ 1: shortcut(-3, -1) }), '[{"k":-3,"m":-1}]');
  assert.equal(hotkeysFor({ 1: shortcut(0, 0) }), '[{"k":0,"m":0}]');
  assert.equal(hotkeysFor({ 1: shortcut({ int: '9223372036854775807' }, { int: '-9223372036854775808' }) }),
    '[{"k":9223372036854775807,"m":-9223372036854775808}]');
  assert.equal(hotkeysFor({ 1: shortcut(1, 2), 2: shortcut(3, 4) }), '[{"k":1,"m":2},{"k":3,"m":4}]');
});

test('enabled: a boolean decides; otherwise a non-zero integer is needed', () => {
  const kept = survivors(cases([
    ['true', (k) => shortcut(k, 0, { enabled: true })],
    ['false', (k) => shortcut(k, 0, { enabled: false })],
    ['1', (k) => shortcut(k, 0, { enabled: 1 })],
    ['0', (k) => shortcut(k, 0, { enabled: 0 })],
    ['2', (k) => shortcut(k, 0, { enabled: 2 })],
    ['-1', (k) => shortcut(k, 0, { enabled: -1 })],
    ['big', (k) => shortcut(k, 0, { enabled: { int: '-9223372036854775808' } })],
    ['1.5', (k) => shortcut(k, 0, { enabled: { double: 1.5 } })],
    ['0.5', (k) => shortcut(k, 0, { enabled: { double: 0.5 } })],
    ['-0.9', (k) => shortcut(k, 0, { enabled: { double: -0.9 } })],
    ['NaN', (k) => shortcut(k, 0, { enabled: { double: NaN } })],
    ['"1"', (k) => shortcut(k, 0, { enabled: '1' })],
    ['"true"', (k) => shortcut(k, 0, { enabled: 'true' })],
    ['missing', (k) => shortcut(k, 0, { enabled: undefined })],
    ['date', (k) => shortcut(k, 0, { enabled: { date: 1000 } })],
    ['data', (k) => shortcut(k, 0, { enabled: { data: [1] } })],
    ['array', (k) => shortcut(k, 0, { enabled: [1] })],
    ['dict', (k) => shortcut(k, 0, { enabled: { on: true } })],
  ]));
  assert.deepEqual(kept, ['true', '1', '2', '-1', 'big', '1.5']);
});

test('a disabled entry is left out whatever its parameters', () => {
  assert.equal(hotkeysFor({ 1: shortcut(49, CMD, { enabled: false }), 2: shortcut(49, CMD, { enabled: 0 }) }), '[]');
});

test('value: present, a dictionary of string keys, not empty', () => {
  const standard = (k) => ({ type: 'standard', parameters: [65535, k, 0] });
  const kept = survivors(cases([
    ['good', (k) => ({ enabled: true, value: standard(k) })],
    ['missing', () => ({ enabled: true })],
    ['empty', () => ({ enabled: true, value: {} })],
    ['array', (k) => ({ enabled: true, value: [standard(k)] })],
    ['string', () => ({ enabled: true, value: 'standard' })],
    ['number key', (k) => ({ enabled: true, value: { dict: [['type', 'standard'], ['parameters', [65535, k, 0]], [7, 'x']] } })],
    ['explicit string keys', (k) => ({ enabled: true, value: { dict: [['type', 'standard'], ['parameters', [65535, k, 0]]] } })],
    ['extra members', (k) => ({ enabled: true, other: 1, value: { ...standard(k), note: 'x' } })],
  ]));
  assert.deepEqual(kept, ['good', 'explicit string keys', 'extra members']);
});

test('type must be the string "standard", exactly', () => {
  const kept = survivors(cases([
    ['standard', (k) => shortcut(k, 0)],
    ['Standard', (k) => shortcut(k, 0, { type: 'Standard' })],
    ['trailing space', (k) => shortcut(k, 0, { type: 'standard ' })],
    ['button', (k) => shortcut(k, 0, { type: 'button' })],
    ['number', (k) => shortcut(k, 0, { type: 1 })],
    ['array', (k) => shortcut(k, 0, { type: ['standard'] })],
    ['missing', (k) => ({ enabled: true, value: { parameters: [65535, k, 0] } })],
  ]));
  assert.deepEqual(kept, ['standard']);
});

test('parameters: a list of at least 3; elements 1 and 2 are the combination', () => {
  const kept = survivors(cases([
    ['3', (k) => shortcut(k, 0, { parameters: [32, k, 0] })],
    ['5', (k) => shortcut(k, 0, { parameters: [32, k, 0, 'x', 9] })],
    ['2', (k) => shortcut(k, 0, { parameters: [32, k] })],
    ['0', (k) => shortcut(k, 0, { parameters: [] })],
    ['dict', (k) => shortcut(k, 0, { parameters: { 0: 32, 1: k, 2: 0 } })],
    ['string', (k) => shortcut(k, 0, { parameters: `32,${k},0` })],
    ['missing', () => ({ enabled: true, value: { type: 'standard' } })],
    ['element 0 of any kind', (k) => shortcut(k, 0, { parameters: [{ dict: [[1, 2]] }, k, 0] })],
  ]));
  assert.deepEqual(kept, ['3', '5', 'element 0 of any kind']);
  assert.equal(hotkeysFor({ 1: shortcut(0, 0, { parameters: [32, 7, 8, 9, 10] }) }), '[{"k":7,"m":8}]');
});

test('key code and modifiers are integers: numbers and booleans, never strings of digits', () => {
  const p = (key, mod) => (k) => shortcut(k, 0, { parameters: [65535, key ?? k, mod ?? 0] });
  const kept = survivors(cases([
    ['ints', p()],
    ['key as string', p('49')],
    ['modifier as string', p(undefined, '0')],
    ['modifier as date', p(undefined, { date: 0 })],
    ['modifier as data', p(undefined, { data: [0] })],
    ['modifier as array', p(undefined, [0])],
    ['modifier as dict', p(undefined, {})],
    ['key as dict', p({ k: 1 })],
  ]));
  assert.deepEqual(kept, ['ints']);
  // Booleans arrive as numbers (0 or 1); floating-point values lose their fraction.
  assert.equal(hotkeysFor({ 1: shortcut(true, false) }), '[{"k":1,"m":0}]');
  assert.equal(hotkeysFor({ 1: shortcut({ double: 49.9 }, { double: -0.5 }) }), '[{"k":49,"m":0}]');
  assert.equal(hotkeysFor({ 1: shortcut({ double: -49.9 }, { double: 1048576 }) }), '[{"k":-49,"m":1048576}]');
  assert.equal(hotkeysFor({ 1: shortcut({ double: 1e300 }, { double: -Infinity }) }),
    '[{"k":9223372036854775807,"m":-9223372036854775808}]');
  assert.equal(hotkeysFor({ 1: shortcut({ double: NaN }, 0) }), '[{"k":0,"m":0}]');
});

test('key code 65535 (no key) is left out whatever the modifiers; its neighbours are kept', () => {
  const tree = {
    1: shortcut(65535, CMD), 2: shortcut(65535, 0), 3: shortcut({ double: 65535 }, 0),
    4: shortcut({ double: 65535.7 }, 0), 5: shortcut(65535, 'x'), 6: shortcut(65534, 0), 7: shortcut(65536, 0),
  };
  assert.deepEqual(sorted(objectsOf(hotkeysFor(tree))), ['{"k":65534,"m":0}', '{"k":65536,"m":0}']);
});

test('a modifier value of 0 is kept, and equal combinations are all kept', () => {
  const tree = { a: shortcut(49, 0), b: shortcut(49, 0), c: shortcut(49, CMD), d: shortcut(49, CMD) };
  assert.deepEqual(objectsOf(hotkeysFor(tree)),
    ['{"k":49,"m":0}', '{"k":49,"m":0}', '{"k":49,"m":1048576}', '{"k":49,"m":1048576}']);
});

test('entries that are not dictionaries of string keys are skipped; the rest still count', () => {
  const tree = {
    dict: [
      ['good', shortcut(1, 0)],
      ['string', 'standard'],
      ['number', 7],
      ['array', [true, { type: 'standard', parameters: [0, 2, 0] }]],
      ['bool', true],
      ['numeric keys', { dict: [['enabled', true], [1, 'x'], ['value', shortcut(3, 0).value]] }],
      ['bool key', { dict: [[true, 1], ['enabled', true], ['value', shortcut(4, 0).value]] }],
      ['date', { date: 0 }],
      ['also good', shortcut(5, 0)],
    ],
  };
  assert.deepEqual(sorted(objectsOf(hotkeysFor(tree))), ['{"k":1,"m":0}', '{"k":5,"m":0}']);
});

// ---- A reference filter, written from the rules rather than from the code --

const WRAPPERS = ['double', 'int', 'date', 'data', 'dict'];
const I64_MAX = 2n ** 63n - 1n;
const I64_MIN = -(2n ** 63n);

function decode(v) {
  if (typeof v === 'string') return { t: 'string', v };
  if (typeof v === 'boolean') return { t: 'bool', v };
  if (typeof v === 'number') return Number.isInteger(v) ? { t: 'int', v: BigInt(v) } : { t: 'real', v };
  if (Array.isArray(v)) return { t: 'array', v: v.map(decode) };
  const names = Object.keys(v);
  if (names.length === 1 && WRAPPERS.includes(names[0])) {
    const inner = v[names[0]];
    switch (names[0]) {
      case 'double': return { t: 'real', v: inner };
      case 'int': return { t: 'int', v: BigInt(inner) };
      case 'dict': return { t: 'dict', v: inner.map(([k, x]) => [decode(k), decode(x)]) };
      default: return { t: names[0] };
    }
  }
  return { t: 'dict', v: names.map((n) => [{ t: 'string', v: n }, decode(v[n])]) };
}

function integerOf(x) {
  if (!x) return null;
  if (x.t === 'bool') return x.v ? 1n : 0n;
  if (x.t === 'int') return x.v;
  if (x.t !== 'real') return null;
  if (Number.isNaN(x.v)) return 0n;
  if (x.v >= 2 ** 63) return I64_MAX;
  if (x.v <= -(2 ** 63)) return I64_MIN;
  return BigInt(Math.trunc(x.v));
}

function stringKeyed(x) {
  if (!x || x.t !== 'dict' || !x.v.every(([k]) => k.t === 'string')) return null;
  return new Map(x.v.map(([k, value]) => [k.v, value]));
}

function referenceHotkeys(tree) {
  const top = stringKeyed(decode(tree));
  if (!top) return [];
  const found = [];
  for (const raw of top.values()) {
    const entry = stringKeyed(raw);
    if (!entry) continue;
    const enabled = entry.get('enabled');
    const on = enabled?.t === 'bool' ? enabled.v : (integerOf(enabled) ?? 0n) !== 0n;
    if (!on) continue;
    const value = stringKeyed(entry.get('value'));
    if (!value || value.size === 0) continue;
    const type = value.get('type');
    if (type?.t !== 'string' || type.v !== 'standard') continue;
    const parameters = value.get('parameters');
    if (parameters?.t !== 'array' || parameters.v.length < 3) continue;
    const k = integerOf(parameters.v[1]);
    const m = integerOf(parameters.v[2]);
    if (k === null || m === null || k === 65535n) continue;
    found.push(`{"k":${k},"m":${m}}`);
  }
  return found;
}

// mulberry32: the same trees on every run.
function random(seed) {
  return () => {
    seed = (seed + 0x6D2B79F5) | 0;
    let t = Math.imul(seed ^ (seed >>> 15), 1 | seed);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// A system's worth of shortcuts: mostly enabled standard ones, with the
// variants a real preference file holds (disabled, keyless, other types,
// short parameter lists, floating-point and boolean numbers).
function realisticTree(rand, count) {
  const pick = (list) => list[Math.floor(rand() * list.length)];
  const modifiers = [0, 131072, 262144, 524288, CMD, CMD | 131072, CMD | 524288, 8388608, CTRL | 524288];
  const tree = {};
  for (let id = 0; id < count; id++) {
    const key = Math.floor(rand() * 128);
    const mod = pick(modifiers);
    const roll = rand();
    let entry;
    if (roll < 0.55) entry = shortcut(key, mod, { parameters: [pick([32, 65535, 97]), key, mod] });
    else if (roll < 0.65) entry = shortcut(key, mod, { enabled: false });
    else if (roll < 0.70) entry = shortcut(key, mod, { enabled: pick([0, 1, 2]) });
    else if (roll < 0.75) entry = shortcut(65535, mod);
    else if (roll < 0.78) entry = shortcut(key, mod, { type: pick(['button', 'Standard', '']) });
    else if (roll < 0.81) entry = shortcut(key, mod, { parameters: [65535, key] });
    else if (roll < 0.84) entry = shortcut(String(key), mod);
    else if (roll < 0.87) entry = shortcut({ double: key + rand() }, { double: mod });
    else if (roll < 0.89) entry = { enabled: true };
    else if (roll < 0.91) entry = { enabled: false, value: { type: 'standard' } };
    else if (roll < 0.93) entry = shortcut(key, mod, { enabled: undefined });
    else if (roll < 0.95) entry = shortcut(key, mod, { parameters: [65535, key, mod, 0, 1] });
    else entry = shortcut(pick([36, 48, 49, 53]), pick([0, CMD])); // duplicates
    tree[String(id)] = entry;
  }
  return tree;
}

test('a realistic tree of 300 entries answers valid JSON matching the reference filter', () => {
  const tree = realisticTree(random(7), 300);
  const want = referenceHotkeys(tree);
  assert.ok(want.length > 150 && want.length < 300, `a mixed tree (${want.length} kept)`);
  assert.deepEqual(sorted(objectsOf(hotkeysFor(tree))), sorted(want));
});

// Trees of any shape: every position may hold any kind of value.
function anyValue(rand, depth) {
  const r = rand();
  if (depth <= 0 || r < 0.35) {
    const leaves = [
      () => Math.floor(rand() * 200000) - 100000, () => 65535, () => 0, () => 1,
      () => ({ double: (rand() - 0.5) * 1e6 }), () => ({ double: NaN }), () => ({ double: 1e30 }),
      () => ({ int: '-9223372036854775808' }), () => rand() < 0.5, () => 'standard', () => '49', () => '',
      () => ({ date: 1e12 }), () => ({ data: [1, 2, 3] }),
    ];
    return leaves[Math.floor(rand() * leaves.length)]();
  }
  if (r < 0.5) return Array.from({ length: Math.floor(rand() * 5) }, () => anyValue(rand, depth - 1));
  if (r < 0.6) {
    return { dict: Array.from({ length: Math.floor(rand() * 4) }, (_, i) => [rand() < 0.5 ? i : `n${i}`, anyValue(rand, depth - 1)]) };
  }
  return shapedEntry(rand, depth - 1);
}

// Close to a shortcut, so that the later tests are reached, with any part
// replaced by a value of any kind.
function shapedEntry(rand, depth) {
  const maybe = (good) => (rand() < 0.8 ? good : anyValue(rand, depth - 1));
  const parameters = rand() < 0.85
    ? Array.from({ length: Math.floor(rand() * 5) + 1 }, () => maybe(Math.floor(rand() * 70000)))
    : anyValue(rand, depth - 1);
  const entry = { enabled: maybe(rand() < 0.8), value: maybe({ type: maybe('standard'), parameters }) };
  if (rand() < 0.1) delete entry.enabled;
  return entry;
}

test('trees of any shape answer valid JSON matching the reference filter', () => {
  const rand = random(2024);
  for (let round = 0; round < 150; round++) {
    const tree = rand() < 0.9
      ? Object.fromEntries(Array.from({ length: Math.floor(rand() * 25) }, (_, i) => [`s${i}`, shapedEntry(rand, 3)]))
      : anyValue(rand, 4);
    assert.deepEqual(sorted(objectsOf(hotkeysFor(tree))), sorted(referenceHotkeys(tree)), `round ${round}`);
  }
});
