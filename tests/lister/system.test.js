'use strict';
// corvane on this machine's own application database: on a plain text file
// it lists the installed text editors, the same ones GLib's own tool
// reports, the default first. With none installed the document is
// {"apps":[]} and the status 0.
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { corvane, describeIcons } = require('./fixtures');

// What `gio mime text/plain` reports: the default and the registered ids.
function gioMime(type, env) {
  const r = spawnSync('gio', ['mime', type], { encoding: 'utf8', env: { ...env, LC_ALL: 'C' } });
  assert.equal(r.error, undefined, 'the gio tool of GLib runs');
  const lines = r.stdout.split('\n');
  const def = lines.map((l) => /^Default application for .*: (.+)\.desktop$/.exec(l)).find(Boolean);
  const registered = [];
  const start = lines.findIndex((l) => l.startsWith('Registered applications'));
  if (start >= 0) {
    for (const l of lines.slice(start + 1)) {
      if (!l.startsWith('\t')) break;
      registered.push(l.trim().replace(/\.desktop$/, ''));
    }
  }
  return { defaultId: def ? def[1] : undefined, registered };
}

test('a text file on this machine: the text editors GLib knows, default first', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'corvane-system-'));
  try {
    const file = path.join(dir, 'editors.txt');
    fs.writeFileSync(file, 'Which editors open this file?\n');
    const env = { ...process.env };
    const r = corvane([file], { env });
    assert.equal(r.status, 0);
    assert.equal(r.stderr, '');
    assert.ok(r.stdout.endsWith('}\n') && !r.stdout.slice(0, -1).includes('\n'), 'one line');
    describeIcons(r.stdout);  // every icon a 32 x 32 PNG
    const document = JSON.parse(r.stdout);
    const gio = gioMime('text/plain', env);
    const ids = document.apps.map((a) => a.identifier);
    assert.deepEqual([...ids].sort(), [...gio.registered].sort());
    assert.equal(document.defaultAppIdentifier, gio.defaultId);
    if (gio.registered.length === 0) assert.equal(r.stdout, '{"apps":[]}\n');
    if (gio.defaultId && ids.includes(gio.defaultId)) assert.equal(ids[0], gio.defaultId);
    for (const app of document.apps) assert.ok(app.path.endsWith(".desktop") && fs.existsSync(app.path), `${app.path} is a desktop file`);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
