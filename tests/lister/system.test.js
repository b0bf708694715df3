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
const { corvane, describeIcons, makeDatabase } = require('./fixtures');

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

// The icon themes installed here, as a GNOME desktop has them: Adwaita named
// by the settings schema's default, its icon-theme.cache, hicolor beneath.
test('the installed themes: Adwaita\'s own icons, a ready 32 x 32 PNG handed on as it is', () => {
  const adwaita = '/usr/share/icons/Adwaita';
  assert.ok(fs.existsSync(path.join(adwaita, 'icon-theme.cache')), 'adwaita-icon-theme is installed, with its cache');
  const stems = (folder, ext) => {
    const found = new Map();
    for (const context of fs.readdirSync(path.join(adwaita, folder))) {
      for (const file of fs.readdirSync(path.join(adwaita, folder, context))) {
        if (!file.endsWith(ext) || file.includes('symbolic.')) continue;
        const stem = file.slice(0, -ext.length);
        found.set(stem, found.has(stem) ? null : path.join(adwaita, folder, context, file));  // null: in two contexts
      }
    }
    return found;
  };
  const at32 = stems('32x32', '.png');
  const at24 = stems('24x24', '.png');
  const drawings = stems('scalable', '.svg');
  // One of each way to an icon: ready at 32, scaled from 24, drawn from SVG.
  const ready = [...at32].find(([, file]) => file)[0];
  const scaled = [...at24.keys()].find((stem) => !at32.has(stem) && !drawings.has(stem));
  const drawn = [...drawings.keys()].find((stem) => !at32.has(stem) && !at24.has(stem));

  const db = makeDatabase({ dataDirs: ['data-a', 'share'] });
  try {
    for (const folder of ['icons', 'glib-2.0']) fs.symlinkSync(path.join('/usr/share', folder), db.at('share', folder));
    const ids = { ready, scaled, drawn };
    for (const [id, icon] of Object.entries(ids)) db.app('data-a', id, { Name: id, Icon: icon, MimeType: 'text/x-ocaml;' });
    db.index();
    const r = db.run(['main.ml']);
    assert.equal(r.status, 0);
    assert.equal(r.stderr, '');
    describeIcons(r.stdout);  // every icon a 32 x 32 PNG
    const byId = Object.fromEntries(JSON.parse(r.stdout).apps.map((a) => [a.identifier, a]));
    assert.deepEqual(Object.keys(byId).sort(), Object.keys(ids).sort());
    for (const id of Object.keys(ids)) assert.ok(byId[id].icon, `${id} (${ids[id]}) has an icon`);
    assert.equal(byId.ready.icon, fs.readFileSync(at32.get(ready)).toString('base64'), 'the 32 x 32 file, byte for byte');
  } finally {
    db.remove();
  }
});
