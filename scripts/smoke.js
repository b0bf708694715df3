'use strict';
// Loads the built addon and calls what needs no permission, checking the
// shape of each answer (index.d.ts): on a macOS runner, where no one grants
// Input Monitoring or Accessibility, the real frameworks answer.
//   node scripts/smoke.js [path/to/pelmora.node]
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const path = require('node:path');

const file = path.resolve(process.argv[2] || path.join(__dirname, '..', 'resources', 'bin', 'pelmora.node'));
const addon = require(file);

const checks = [];
function check(name, fn) {
  try {
    const shown = fn();
    checks.push(`ok   ${name}${shown === undefined ? '' : `: ${shown}`}`);
  } catch (e) {
    checks.push(`FAIL ${name}: ${e.message}`);
  }
}
const json = (text) => {
  assert.equal(typeof text, 'string', `a JSON text, not ${typeof text}`);
  return JSON.parse(text);
};
const keysOf = (value, keys) => assert.deepEqual(Object.keys(value).sort(), [...keys].sort());

check('thirteen exports', () => {
  assert.equal(Object.getOwnPropertyNames(addon).length, 13);
});
check('getSystemFnUsageType', () => {
  const v = addon.getSystemFnUsageType();
  assert.ok(Number.isInteger(v), `an integer, not ${v}`);
  return v;
});
check('getSystemSymbolicHotkeys', () => {
  const text = addon.getSystemSymbolicHotkeys();
  const list = json(text);
  assert.ok(Array.isArray(list), 'an array');
  for (const h of list) {
    keysOf(h, ['k', 'm']);
    assert.ok(Number.isInteger(h.k) && Number.isInteger(h.m), JSON.stringify(h));
  }
  return `${list.length} entries`;
});
check('getFrontmostApplicationInfo', () => {
  const text = addon.getFrontmostApplicationInfo();
  const v = json(text);
  keysOf(v, ['ok', 'appName', 'bundleID', 'reason']);
  assert.equal(typeof v.ok, 'boolean');
  return text;
});
check('getFocusedElementInfo', () => {
  const text = addon.getFocusedElementInfo();
  const v = json(text);
  keysOf(v, ['appName', 'bundleID', 'role', 'subrole', 'roleDescription', 'selectedTextRangeAvailable',
    'selectedTextLength', 'error']);
  assert.equal(typeof v.selectedTextRangeAvailable, 'boolean');
  assert.ok(Number.isInteger(v.selectedTextLength));
  assert.match(v.error, /^(|accessibility_not_trusted|missing_frontmost_app|missing_focused_element|focus_error_-?\d+)$/);
  return text;
});
for (const [start, stop, active] of [['start', 'stop', 'isActive'],
  ['startDjiMicButton', 'stopDjiMicButton', 'isDjiMicButtonActive']]) {
  check(`${start}, then ${stop}`, () => {
    const started = addon[start](() => {});
    assert.equal(typeof started, 'boolean');
    addon[stop]();
    assert.equal(addon[active](), false, 'still active after stop');
    return started;
  });
}

// Every Mac has applications that open a text file, and each has an icon:
// a listing without a single PNG would hide a drawing that always fails.
check('corvane lists the applications of a text file, with PNG icons', () => {
  const corvane = path.join(path.dirname(file), 'corvane');
  const r = spawnSync(corvane, [path.join(__dirname, '..', 'README.md')], { encoding: 'utf8', timeout: 60000 });
  assert.equal(r.status, 0, `status ${r.status}: ${r.stderr}`);
  const { apps } = JSON.parse(r.stdout);
  assert.ok(apps.length > 0, 'no application');
  const pngs = apps.filter((a) => a.icon).map((a) => Buffer.from(a.icon, 'base64'));
  for (const png of pngs) {
    assert.equal(png.toString('latin1', 1, 4), 'PNG', 'an icon that is not a PNG');
    assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [32, 32], 'an icon that is not 32 x 32');
  }
  assert.ok(pngs.length > 0, `none of ${apps.length} applications has an icon`);
  return `${apps.length} applications, ${pngs.length} icons: ${apps.map((a) => a.identifier).join(', ')}`;
});

console.log(`${file}\n${checks.join('\n')}`);
const failed = checks.filter((c) => c.startsWith('FAIL')).length;
console.log(`${checks.length - failed} passed, ${failed} failed`);
process.exitCode = failed ? 1 : 0;
