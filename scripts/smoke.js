'use strict';
// Loads the built addon and calls what needs no permission, checking the
// shape of each answer (index.d.ts): on a macOS runner, where no one grants
// Input Monitoring or Accessibility, the real frameworks answer.
//   node scripts/smoke.js [path/to/pelmora.node]
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
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
  // On a screen whose scale is not 1 this also shows the icons do not follow it.
  const scale = spawnSync('osascript', ['-l', 'JavaScript', '-e',
    'ObjC.import("AppKit"); $.NSScreen.mainScreen.backingScaleFactor'], { encoding: 'utf8' }).stdout.trim() || 'unknown';
  return `${apps.length} applications, ${pngs.length} icons (main screen scale ${scale}): ` +
    apps.map((a) => a.identifier).join(', ');
});

// What no document settles, asked of this Mac (docs/macos-semantics.md names
// each check where a row waits on it). They need no permission, print what
// they saw and fail only when they cannot ask at all.
const sleepMs = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
const pidsOf = (name) => spawnSync('pgrep', ['-x', name], { encoding: 'utf8' }).stdout.split('\n').filter(Boolean).map(Number);
const fields = (o) => Object.entries(o).map(([k, v]) => `${k} ${typeof v === 'object' ? JSON.stringify(v) : v}`).join(', ');

// Runs fn, then ends the Calculator processes that were not running before it.
function withCalculator(fn) {
  const running = new Set(pidsOf('Calculator'));
  try {
    return fn();
  } finally {
    const ours = pidsOf('Calculator').filter((pid) => !running.has(pid));
    for (const pid of ours) try { process.kill(pid, 'SIGTERM'); } catch { /* gone already */ }
    for (let i = 0; i < 50 && pidsOf('Calculator').some((pid) => ours.includes(pid)); i++) sleepMs(100);
  }
}

// A program of scripts/mac-probes, built with this Mac's compiler for the
// macOS the release supports (scripts/check-macos.sh builds them against its
// SDK too); it prints one JSON line.
function probe(name) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pelmora-probe-'));
  try {
    const bin = path.join(dir, path.basename(name, '.m'));
    const frameworks = ['AppKit', 'ApplicationServices', 'CoreFoundation', 'CoreGraphics', 'Foundation'];
    const cc = spawnSync('xcrun', ['clang', '-mmacosx-version-min=12.0', '-fobjc-arc', '-Wall', '-Wextra', '-Werror',
      ...frameworks.flatMap((f) => ['-framework', f]), path.join(__dirname, 'mac-probes', name), '-o', bin],
    { encoding: 'utf8' });
    assert.equal(cc.status, 0, `${name} does not build: ${cc.stderr}`);
    const r = spawnSync(bin, [], { encoding: 'utf8', timeout: 60000 });
    assert.equal(r.status, 0, `${name} ended with ${r.status ?? r.signal}: ${r.stderr}`);
    return JSON.parse(r.stdout);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

// The addon's front application (GetFrontProcess) while the host's main run
// loop never turns: node turns none, and this thread does not yield while it
// polls. lsappinfo, a process of its own each time, says when Launch
// Services has the launch in front.
check('the front application follows a launch while the run loop stands still (informative)', () => withCalculator(() => {
  const calculator = 'com.apple.calculator';
  const addonFront = () => json(addon.getFrontmostApplicationInfo()).bundleID;
  const launchServicesFront = () => {
    const asn = spawnSync('lsappinfo', ['front'], { encoding: 'utf8' }).stdout.trim();
    const info = asn ? spawnSync('lsappinfo', ['info', '-only', 'bundleid', asn], { encoding: 'utf8' }).stdout : '';
    return /"CFBundleIdentifier"="([^"]*)"/.exec(info)?.[1] ?? `(${info.trim() || 'no front application'})`;
  };
  const before = `addon ${addonFront()}, Launch Services ${launchServicesFront()}`;
  const open = spawnSync('open', ['-b', calculator], { encoding: 'utf8' });
  if (open.status !== 0) return `before: ${before}; ${calculator} did not launch: ${open.stderr.trim()}`;
  const seen = { addon: null, launchServices: null };
  const started = Date.now();
  while (Date.now() - started < 10000 && (seen.addon === null || seen.launchServices === null)) {
    const ms = Date.now() - started;
    if (seen.addon === null && addonFront() === calculator) seen.addon = ms;
    if (seen.launchServices === null && launchServicesFront() === calculator) seen.launchServices = ms;
    sleepMs(100);
  }
  const when = (ms) => (ms === null ? 'never in 10 s' : `after ${ms} ms`);
  return `before: ${before}; ${calculator} in front: Launch Services ${when(seen.launchServices)}, addon ${when(seen.addon)}`;
}));

// The running-application records (the front application, the list, the
// lookups by bundle identifier and by pid the activation uses) for an
// application launched while the main run loop stands still, and after one
// turn of it.
check('the running-application records and a launch, before and after a turn of the run loop (informative)', () => withCalculator(() => {
  const r = probe('apps.m');
  const at = (moment) => `Process Manager ${moment.processManager || '(none)'}; ${fields(moment.records)}`;
  return `before: ${at(r.before)} | open ${r.openStatus} | standing still ${r.standingStill.seconds} s: ` +
    `${at(r.standingStill)} | after a turn: ${at(r.afterATurn)}`;
}));

// The documented permission checks, which taps the system lets an
// unpermitted process create, whether each is enabled as created, and what
// CGGetEventTapList shows for it.
check('event taps without permission (informative)', () => {
  const r = probe('taps.m');
  const listed = (entries) => (entries.length
    ? entries.map((l) => `mask ${l.mask} ${l.enabled ? 'enabled' : 'disabled'}`).join(', ') : 'nothing');
  const taps = r.taps.map((t) => (t.created
    ? `${t.tap}: created ${t.enabled ? 'enabled' : 'disabled'}, ${t.enabledAfterDisable ? 'still enabled' : 'off'} after ` +
      `CGEventTapEnable(false), the list shows ${listed(t.listed)}`
    : `${t.tap}: refused`));
  return `listen ${r.listen}, post ${r.post}, trusted ${r.trusted}; mask asked ${r.asked}; ${taps.join('; ')}`;
});

// Whether setting an element's timeout is a local call (no message to the
// application), and the pid the system-wide element reports. Neither needs
// trust.
check('Accessibility without trust (informative)', () => {
  const r = probe('ax.m');
  const finder = r.finder > 0
    ? `timeout on Finder's (${r.finder}) element: error ${r.setError}, ${r.nsPerSet} ns a call; ` +
      `a query: error ${r.copyError}, ${r.nsPerCopy} ns`
    : 'no Finder running';
  return `trusted ${r.trusted}; system-wide element: pid ${r.systemWidePid} (error ${r.systemWidePidError}); ${finder}`;
});

console.log(`${file}\n${checks.join('\n')}`);
const failed = checks.filter((c) => c.startsWith('FAIL')).length;
console.log(`${checks.length - failed} passed, ${failed} failed`);
process.exitCode = failed ? 1 : 0;
