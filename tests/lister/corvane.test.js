'use strict';
// corvane end to end on Linux, against fixture application databases: the
// whole standard output compared byte for byte (each icon checked as a
// 32 x 32 PNG and written as the colour of its centre), the standard error
// and the exit status.
const assert = require('node:assert/strict');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { test, describe, after } = require('node:test');
const zlib = require('node:zlib');
const { corvane, corvanePath, makeDatabase, describeIcons, encodePng, encodePngOfType, solidPng, svg, hex, jsonPath, chunk, RED, GREEN, BLUE, YELLOW } = require('./fixtures');

const databases = [];
after(() => databases.forEach((db) => db.remove()));
function database(options) {
  const db = makeDatabase(options);
  databases.push(db);
  return db;
}

// Runs corvane and answers its document with the icons described.
function listed(db, args, env) {
  const r = db.run(args, env);
  assert.equal(r.stderr, '', 'nothing on standard error');
  assert.equal(r.status, 0);
  return describeIcons(r.stdout);
}

const row = (id, name, file, icon) =>
  `{${icon ? `"icon":"png:${hex(icon)}",` : ''}"identifier":"${id}","name":"${name}","path":"${jsonPath(file)}"}`;
const doc = (rows, defaultId) => `{"apps":[${rows.join(',')}]${defaultId === undefined ? '' : `,"defaultAppIdentifier":"${defaultId}"`}}\n`;

describe('command line', () => {
  test('without an argument: the usage on standard error, nothing on standard output, status 1', () => {
    const r = corvane([]);
    assert.equal(r.status, 1);
    assert.equal(r.stdout, '');
    assert.equal(r.stderr, 'Usage: corvane <file-path>\n');
  });

  test('a document that cannot be written is a failure, status 2', () => {
    const db = database();
    const full = fs.openSync('/dev/full', 'w');
    try {
      const r = db.run(['notes.txt'], {}, { stdio: ['ignore', full, 'pipe'] });
      assert.equal(r.status, 2);
      assert.equal(r.stderr, 'Failed to write JSON: No space left on device\n');
    } finally {
      fs.closeSync(full);
    }
  });
});

// Six editors of plain text with every kind of icon; zeta is the default
// and sorts last.
function editors({ defaultEntry = 'zeta' } = {}) {
  const db = database();
  db.hicolor();
  const file = {};
  const mime = { MimeType: 'text/plain;' };
  file.zeta = db.app('data-a', 'zeta', { Name: 'Zeta', Icon: 'zeta', ...mime });
  db.icon('data-a/icons/hicolor/16x16/apps/zeta.png', solidPng(16, RED));
  const zeta32 = db.icon('data-a/icons/hicolor/32x32/apps/zeta.png', solidPng(32, GREEN));
  db.icon('data-a/icons/hicolor/48x48/apps/zeta.png', solidPng(48, BLUE));
  file.alpha = db.app('data-a', 'alpha', { Name: 'alpha', Icon: 'alpha', ...mime });
  db.icon('data-a/icons/hicolor/scalable/apps/alpha.svg', svg(48, '0000ff'));
  file.beta = db.app('data-a', 'beta', { Name: 'Beta', Icon: 'no-such-icon-anywhere', ...mime });
  // Wider than high: three quarters red, the right quarter blue.
  file.delta = db.app('data-a', 'delta', { Name: 'Delta', Icon: 'delta', ...mime });
  db.icon('data-a/icons/hicolor/32x32/apps/delta.png', encodePng(64, 16, (x) => (x < 48 ? RED : BLUE)));
  // Only a very large image, named by its absolute path.
  const huge = db.icon('art/huge.png', solidPng(512, YELLOW));
  file.epsilon = db.app('data-a', 'epsilon', { Name: 'Epsilon', Icon: huge, ...mime });
  // No folder of the size asked for: as GTK 3 weighs them, a larger size to
  // shrink wins over a nearer smaller one to enlarge (48 over 22).
  file.gamma = db.app('data-a', 'gamma', { Name: 'Gamma', Icon: 'gamma', ...mime });
  db.icon('data-a/icons/hicolor/22x22/apps/gamma.png', solidPng(22, RED));
  db.icon('data-a/icons/hicolor/48x48/apps/gamma.png', solidPng(48, BLUE));
  file.outsider = db.app('data-b', 'outsider', { Name: 'Outsider', MimeType: 'image/png;' });
  db.mimeapps(`[Default Applications]\ntext/plain=${defaultEntry}.desktop\n`);
  db.index();
  const rows = {
    zeta: row('zeta', 'Zeta', file.zeta, GREEN),
    alpha: row('alpha', 'alpha', file.alpha, BLUE),
    beta: row('beta', 'Beta', file.beta),
    delta: row('delta', 'Delta', file.delta, RED),
    epsilon: row('epsilon', 'Epsilon', file.epsilon, YELLOW),
    gamma: row('gamma', 'Gamma', file.gamma, BLUE),
  };
  return { db, rows, zeta32 };
}

describe('a database of text editors', () => {
  const { db, rows, zeta32 } = editors();
  const expected = doc([rows.zeta, rows.alpha, rows.beta, rows.delta, rows.epsilon, rows.gamma], 'zeta');

  test('the default first although it sorts last, the rest by name ignoring case, icons at 32 x 32', () => {
    const { text, images } = listed(db, ['notes.txt']);
    assert.equal(text, expected);
    // A 32 x 32 RGBA file is the icon, byte for byte.
    assert.equal(JSON.parse(db.run(['notes.txt']).stdout).apps[0].icon, fs.readFileSync(zeta32).toString('base64'));
    // The wide icon fills the whole canvas, stretched, not letterboxed.
    const delta = images[2];
    for (const [x, y] of [[16, 0], [16, 31], [0, 16], [4, 2]]) assert.deepEqual(delta.pixel(x, y), RED, `pixel ${x},${y}`);
    assert.deepEqual(delta.pixel(30, 16), BLUE);
  });

  test('only the first argument counts', () => {
    assert.equal(listed(db, ['notes.txt', 'image.png', '--help']).text, expected);
  });

  test('a file that does not exist is judged by its name; one that exists is sniffed', () => {
    assert.equal(listed(db, [db.at('no', 'such', 'folder', 'notes.txt')]).text, expected);
    // No extension: nothing to go by while the file is missing...
    assert.equal(listed(db, ['notes']).text, '{"apps":[]}\n');
    // ...and plain text once it exists.
    fs.writeFileSync(db.at('notes'), 'Shopping list\n- milk\n- bread\n');
    assert.equal(listed(db, ['notes']).text, expected);
  });

  test('a type that nothing opens, or an empty path: an empty list and no default, status 0', () => {
    assert.equal(listed(db, ['archive.zzqq']).text, '{"apps":[]}\n');
    assert.equal(listed(db, ['']).text, '{"apps":[]}\n');
  });
});

test('a default that cannot open the file is named but not listed; the list is in name order', () => {
  const { db, rows } = editors({ defaultEntry: 'outsider' });
  assert.equal(listed(db, ['notes.txt']).text,
    doc([rows.alpha, rows.beta, rows.delta, rows.epsilon, rows.gamma, rows.zeta], 'outsider'));
});

test('an application at two locations is listed once, at the location found first', () => {
  const db = database();
  const home = db.app('data-home', 'dup', { Name: 'Copy at home', MimeType: 'text/x-csrc;' });
  db.app('data-a', 'dup', { Name: 'Copy in A', MimeType: 'text/x-csrc;' });
  db.app('data-b', 'dup', { Name: 'Copy in B', MimeType: 'text/x-csrc;' });
  const other = db.app('data-b', 'other', { Name: 'Another', MimeType: 'text/x-csrc;' });
  db.mimeapps('[Default Applications]\ntext/x-csrc=other.desktop\n');
  db.index();
  assert.equal(listed(db, ['main.c']).text, doc([row('other', 'Another', other), row('dup', 'Copy at home', home)], 'other'));
});

test('names equal but for case keep the order the platform lists them in', () => {
  for (const [first, second] of [['same', 'Same'], ['Same', 'same']]) {
    const db = database();
    const a = db.app('data-a', 'first', { Name: first, MimeType: 'text/x-python;' });
    const b = db.app('data-b', 'second', { Name: second, MimeType: 'text/x-python;' });
    const c = db.app('data-a', 'third', { Name: 'Samuel', MimeType: 'text/x-python;' });
    db.mimeapps('[Default Applications]\ntext/x-python=third.desktop\n');
    db.index();
    // The default aside, the platform lists data-a before data-b.
    assert.equal(listed(db, ['tool.py']).text,
      doc([row('third', 'Samuel', c), row('first', first, a), row('second', second, b)], 'third'));
  }
});

describe('names', () => {
  const db = database();
  const mime = { MimeType: 'text/markdown;' };
  const file = {
    editor: db.app('data-a', 'editor', { Name: 'Editor', 'Name[de]': 'Bearbeiter', ...mime }),
    writer: db.app('data-a', 'writer', { Name: 'Writer', 'Name[de]': 'Autor', ...mime }),
    generic: db.app('data-a', 'generic', { GenericName: 'Text Tool', 'GenericName[de]': 'Textwerkzeug', ...mime }),
    blank: db.app('data-a', 'blank', { Name: '', GenericName: 'Never used', ...mime }),
    stem: db.app('data-a', 'org.example.Stem', mime),
  };
  db.mimeapps('[Default Applications]\ntext/markdown=editor.desktop\n');
  db.index();

  test('name, else generic name, else the file name without extension; an empty name is a name', () => {
    assert.equal(listed(db, ['readme.md']).text, doc([
      row('editor', 'Editor', file.editor), row('blank', '', file.blank),
      row('org.example.Stem', 'org.example.Stem', file.stem), row('generic', 'Text Tool', file.generic),
      row('writer', 'Writer', file.writer)], 'editor'));
  });

  test('localized for the user\'s language, and sorted as localized', () => {
    assert.equal(listed(db, ['readme.md'], { LANGUAGE: 'de' }).text, doc([
      row('editor', 'Bearbeiter', file.editor), row('blank', '', file.blank), row('writer', 'Autor', file.writer),
      row('org.example.Stem', 'org.example.Stem', file.stem), row('generic', 'Textwerkzeug', file.generic)], 'editor'));
  });
});

describe('collation follows the user\'s collation locale', () => {
  const db = database();
  const mime = { MimeType: 'text/x-tex;' };
  const f = {
    mid: db.app('data-a', 'mid', { Name: 'Mid', ...mime }),
    zulu: db.app('data-a', 'zulu', { Name: 'Zulu', ...mime }),
    orn: db.app('data-a', 'orn', { Name: 'Örn', ...mime }),
    acute: db.app('data-a', 'eclair-acute', { Name: 'Éclair', ...mime }),
    plain: db.app('data-a', 'eclair', { Name: 'eclair', ...mime }),
  };
  db.mimeapps('[Default Applications]\ntext/x-tex=mid.desktop\n');
  db.index();
  const r = {
    mid: row('mid', 'Mid', f.mid), zulu: row('zulu', 'Zulu', f.zulu), orn: row('orn', 'Örn', f.orn),
    acute: row('eclair-acute', 'Éclair', f.acute), plain: row('eclair', 'eclair', f.plain),
  };

  test('without a locale: case ignored, accents after plain letters, Ö with O', () => {
    assert.equal(listed(db, ['paper.tex']).text, doc([r.mid, r.plain, r.acute, r.orn, r.zulu], 'mid'));
  });

  test('Swedish puts Ö after Z; LC_COLLATE outranks LANG, LC_ALL outranks both', () => {
    const swedish = doc([r.mid, r.plain, r.acute, r.zulu, r.orn], 'mid');
    const root = doc([r.mid, r.plain, r.acute, r.orn, r.zulu], 'mid');
    assert.equal(listed(db, ['paper.tex'], { LANG: 'sv_SE.UTF-8' }).text, swedish);
    assert.equal(listed(db, ['paper.tex'], { LANG: 'sv_SE.UTF-8', LC_COLLATE: 'C' }).text, root);
    assert.equal(listed(db, ['paper.tex'], { LANG: 'C', LC_COLLATE: 'C', LC_ALL: 'sv_SE.UTF-8' }).text, swedish);
  });
});

test('odd characters: escaped as JSON, slashes escaped, non-UTF-8 bytes become U+FFFD', () => {
  const db = database({ dataDirs: ['data-a'] });
  const mime = { MimeType: 'text/html;' };
  const f = {
    quotes: db.app('data-a', 'quotes', { Name: 'Say "hi" \\\\ C:\\\\dir / x', ...mime }),
    controls: db.app('data-a', 'controls', { Name: Buffer.from('Tab\\there\\nline\x01\x08\x0c\x1f\x7f end'), ...mime }),
    invalid: db.app('data-a', 'invalid', { Name: Buffer.from([0x42, 0xff, 0xfe]), GenericName: 'Fallback', ...mime }),
    unicode: db.app('data-a', 'unicode', { Name: 'Café ☕ 😀', ...mime }),
    quoteId: db.app('data-a', 'say"hi', { Name: 'Quoted id', ...mime }),
  };
  db.mimeapps('[Default Applications]\ntext/html=unicode.desktop\n');
  db.index();
  // A data folder whose name is not UTF-8.
  const raw = spawnSync('/bin/sh', ['-c', [
    'd=$(printf "%s/data-\\377" "$1")/applications', 'mkdir -p "$d"',
    'printf "[Desktop Entry]\\nType=Application\\nExec=true %%f\\nName=Raw folder\\nMimeType=text/html;\\n" >"$d/raw.desktop"',
    'update-desktop-database "$d"'].join('\n'), 'sh', db.dir]);
  assert.equal(raw.status, 0, String(raw.stderr));

  const r = db.runRaw('%s/page\\377.html', { XDG_DATA_DIRS: '%s/data-a:%s/data-\\377:%s/mime-only' });
  assert.equal(r.status, 0);
  assert.equal(r.stderr, '');
  assert.equal(r.stdoutBytes.toString('utf8'), r.stdout);
  assert.ok(Buffer.from(r.stdout, 'utf8').equals(r.stdoutBytes), 'the output is well-formed UTF-8');
  const rawFolder = `${db.dir}/data-\uFFFD/applications/raw.desktop`;
  assert.equal(r.stdout, doc([
    row('unicode', 'Café ☕ 😀', f.unicode),
    // A name that is not UTF-8 is no name: the generic name stands in.
    row('invalid', 'Fallback', f.invalid),
    row('say\\"hi', 'Quoted id', f.quoteId),
    row('raw', 'Raw folder', rawFolder),
    row('quotes', 'Say \\"hi\\" \\\\ C:\\\\dir \\/ x', f.quotes),
    row('controls', 'Tab\\there\\nline\\u0001\\b\\f\\u001f\x7f end', f.controls),
  ], 'unicode'));
  assert.doesNotThrow(() => JSON.parse(r.stdout));
});

describe('icon themes', () => {
  const db = database({ dataDirs: ['data-a', 'data-b', 'schemas'] });
  db.hicolor();
  fs.mkdirSync(db.at('config', 'gtk-3.0'), { recursive: true });
  fs.writeFileSync(db.at('config', 'gtk-3.0', 'settings.ini'), '[Settings]\ngtk-icon-theme-name=Fixture\n');
  const theme = (name, inherits) => db.icon(`data-a/icons/${name}/index.theme`,
    `[Icon Theme]\nName=${name}\nInherits=${inherits}\nDirectories=32x32/apps\n\n[32x32/apps]\nSize=32\nType=Fixed\n`);
  theme('Fixture', 'Middle');
  theme('Middle', 'Fixture,hicolor');  // a cycle must not hang the lookup
  theme('Desktop', 'hicolor');
  theme('Adwaita', 'hicolor');
  const mime = { MimeType: 'text/csv;' };
  const f = {};
  const app = (id, icon) => { f[id] = db.app('data-a', id, { Name: id, Icon: icon, ...mime }); };
  app('themed', 'themed');
  db.icon('data-a/icons/Fixture/32x32/apps/themed.png', solidPng(32, YELLOW));
  db.icon('data-a/icons/Desktop/32x32/apps/themed.png', solidPng(32, BLUE));
  db.icon('data-a/icons/Adwaita/32x32/apps/themed.png', solidPng(32, RED));
  db.icon('data-a/icons/hicolor/32x32/apps/themed.png', solidPng(32, GREEN));
  app('inherited', 'inherited');
  db.icon('data-b/icons/Middle/32x32/apps/inherited.png', solidPng(32, BLUE));
  app('fallback', 'fallback.png');  // an extension in the name is dropped by the platform
  db.icon('data-b/icons/hicolor/32x32/apps/fallback.png', solidPng(32, GREEN));
  app('unthemed', 'unthemed');
  db.icon('data-b/pixmaps/unthemed.png', solidPng(24, RED));
  app('broken', 'broken');
  db.icon('data-a/icons/hicolor/32x32/apps/broken.png', Buffer.from('not an image at all'));
  app('escape', '../../escape');
  db.icon('data-a/icons/hicolor/escape.png', solidPng(32, RED));
  const fifo = db.at('art', 'fifo.png');
  fs.mkdirSync(path.dirname(fifo), { recursive: true });
  assert.equal(spawnSync('mkfifo', [fifo]).status, 0);
  app('fifo', fifo);
  db.mimeapps('[Default Applications]\ntext/csv=themed.desktop\n');
  db.index();
  // The same mimeapps.list in a configuration folder without GTK settings.
  fs.mkdirSync(db.at('config-plain'), { recursive: true });
  fs.copyFileSync(db.at('config', 'mimeapps.list'), db.at('config-plain', 'mimeapps.list'));
  const plain = { XDG_CONFIG_HOME: db.at('config-plain') };
  // GSettings as on a GNOME desktop: the real schemas, values in the key-file
  // backend.
  const withSchemas = { XDG_DATA_DIRS: db.env().XDG_DATA_DIRS.replace(db.at('schemas'), db.at('schemas-real')) };
  fs.mkdirSync(db.at('schemas-real'));
  fs.symlinkSync('/usr/share/glib-2.0', db.at('schemas-real', 'glib-2.0'));
  const gsettings = (theme) => {
    const dir = db.at('config', 'glib-2.0', 'settings');
    fs.rmSync(dir, { recursive: true, force: true });
    if (theme) {
      fs.mkdirSync(dir, { recursive: true });
      fs.writeFileSync(path.join(dir, 'keyfile'), `[org/gnome/desktop/interface]\nicon-theme='${theme}'\n`);
    }
    return { ...withSchemas, GSETTINGS_BACKEND: 'keyfile' };
  };
  const expected = (themedColour, inheritedColour) => doc([
    row('themed', 'themed', f.themed, themedColour), row('broken', 'broken', f.broken), row('escape', 'escape', f.escape),
    row('fallback', 'fallback', f.fallback, GREEN), row('fifo', 'fifo', f.fifo),
    row('inherited', 'inherited', f.inherited, inheritedColour), row('unthemed', 'unthemed', f.unthemed, RED)], 'themed');

  test('the user\'s theme, the themes it inherits, hicolor, then unthemed folders; broken ones give no icon', () => {
    const started = Date.now();
    assert.equal(listed(db, ['table.csv']).text, expected(YELLOW, BLUE));
    assert.ok(Date.now() - started < 20000, 'a pipe named as an icon is not read');
  });

  test('GSettings names the theme where its schema is installed, over the GTK settings; unset, its default', () => {
    assert.equal(listed(db, ['table.csv'], gsettings('Desktop')).text, expected(BLUE));
    assert.equal(listed(db, ['table.csv'], gsettings(null)).text, expected(RED));
    // A name that would leave the icon folders is no theme: the next source.
    assert.equal(listed(db, ['table.csv'], gsettings('../Desktop')).text, expected(YELLOW, BLUE));
  });

  test('without GTK settings, KDE\'s kdeglobals; lines a key file would refuse do not hide the theme', () => {
    fs.writeFileSync(db.at('config-plain', 'kdeglobals'),
      '[$Version]\nupdate_info=kded.upd:kde4\nnot a key\n[Icons][$i]\n[Icons]\nTheme[$e]=Fixture\nTheme = Desktop\n');
    try {
      assert.equal(listed(db, ['table.csv'], plain).text, expected(BLUE));
    } finally {
      fs.rmSync(db.at('config-plain', 'kdeglobals'));
    }
  });

  test('without a theme setting, Adwaita when installed, else hicolor', () => {
    assert.equal(listed(db, ['table.csv'], plain).text, expected(RED));
    fs.renameSync(db.at('data-a', 'icons', 'Adwaita'), db.at('data-a', 'icons', 'Adwaita-gone'));
    try {
      assert.equal(listed(db, ['table.csv'], plain).text, expected(GREEN));
    } finally {
      fs.renameSync(db.at('data-a', 'icons', 'Adwaita-gone'), db.at('data-a', 'icons', 'Adwaita'));
    }
  });
});

// GIO watches every applications and configuration folder for the rest of
// the process; corvane removes the watches once the database is read, so
// that exit does not wait on the kernel freeing them. Seen from outside
// while corvane is held on a full pipe: its inotify descriptor is left
// with no watch. Sixteen data folders give watch numbers past 9, which
// the kernel prints in hexadecimal.
test('no folder is still watched while the document is written', async () => {
  const dataDirs = Array.from({ length: 16 }, (_, i) => `data-${i}`);
  const db = database({ dataDirs });
  const long = 'N'.repeat(4000);
  for (const d of dataDirs)
    for (let i = 0; i < 20; i++) db.app(d, `${d}-app${i}`, { Name: `${d} ${i} ${long}`, MimeType: 'text/plain;' });
  db.index();
  const child = spawn(corvanePath, ['notes.txt'], { env: db.env(), cwd: db.dir, stdio: ['ignore', 'pipe', 'pipe'] });
  const chunks = [];
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  const watches = await new Promise((resolve, reject) => {
    child.on('error', reject);
    child.stdout.once('data', (first) => {
      // The rest of the document cannot fit the pipe: corvane waits in write.
      child.stdout.pause();
      chunks.push(first);
      const fdDir = `/proc/${child.pid}/fd`;
      const found = [];
      let inotify = 0;
      for (const fd of fs.readdirSync(fdDir)) {
        let target = '';
        try { target = fs.readlinkSync(path.join(fdDir, fd)); } catch { continue; }
        if (target !== 'anon_inode:inotify') continue;
        ++inotify;
        const info = fs.readFileSync(`/proc/${child.pid}/fdinfo/${fd}`, 'utf8');
        found.push(...info.split('\n').filter((l) => l.startsWith('inotify wd:')));
      }
      resolve({ inotify, found });
    });
  });
  child.stdout.on('data', (d) => chunks.push(d));
  child.stdout.resume();
  const status = await new Promise((resolve) => child.on('close', resolve));
  assert.equal(stderr, '');
  assert.equal(status, 0);
  assert.ok(watches.inotify > 0, 'GIO made its inotify instance');
  assert.deepEqual(watches.found, []);
  assert.equal(JSON.parse(Buffer.concat(chunks).toString()).apps.length, dataDirs.length * 20);
});

// While GIO lists the applications, their icons are drawn from what their
// desktop files' Icon lines guess; a guess is only ever a head start.
test('an icon drawn ahead from a guess is never another application\'s', () => {
  const db = database();
  db.hicolor();
  const mime = { MimeType: 'text/plain;' };
  // A German user sees Icon[de]: the guess from the plain Icon line is wrong for them.
  const localized = db.app('data-a', 'localized', { Name: 'Localized', Icon: 'red-icon', 'Icon[de]': 'blue-icon', ...mime });
  const one = db.app('data-a', 'one', { Name: 'One', Icon: 'red-icon', ...mime });
  const two = db.app('data-a', 'two', { Name: 'Two', Icon: 'red-icon.png', ...mime });
  db.icon('data-a/icons/hicolor/32x32/apps/red-icon.png', solidPng(32, RED));
  db.icon('data-a/icons/hicolor/32x32/apps/blue-icon.png', solidPng(32, BLUE));
  db.mimeapps('[Default Applications]\ntext/plain=one.desktop\n');
  db.index();
  const expected = (colour) => doc([row('one', 'One', one, RED), row('localized', 'Localized', localized, colour), row('two', 'Two', two, RED)], 'one');
  assert.equal(listed(db, ['notes.txt']).text, expected(RED));
  assert.equal(listed(db, ['notes.txt'], { LANGUAGE: 'de' }).text, expected(BLUE));
});

describe('icon-theme.cache', () => {
  const db = database();
  db.hicolor();
  const mime = { MimeType: 'text/x-lua;' };
  const early = db.app('data-a', 'early', { Name: 'Early', Icon: 'early', ...mime });
  const late = db.app('data-a', 'late', { Name: 'Late', Icon: 'late', ...mime });
  db.mimeapps('[Default Applications]\ntext/x-lua=early.desktop\n');
  db.index();
  const themeDir = db.at('data-a', 'icons', 'hicolor');
  db.icon('data-a/icons/hicolor/32x32/apps/early.png', solidPng(32, GREEN));
  const r = spawnSync('gtk-update-icon-cache', ['--force', '--ignore-theme-index', themeDir], { encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  // Added after the cache was written, into a folder of the theme: the theme
  // folder itself does not change, so the cache still counts.
  db.icon('data-a/icons/hicolor/32x32/apps/late.png', solidPng(32, BLUE));
  const past = new Date(Date.now() - 60000);
  fs.utimesSync(themeDir, past, past);

  test('GTK\'s cache answers while it is newer than the theme folder, as GTK reads it', () => {
    assert.equal(listed(db, ['init.lua']).text, doc([row('early', 'Early', early, GREEN), row('late', 'Late', late)], 'early'));
  });

  test('a cache older than its theme folder is passed over for the folders themselves', () => {
    const future = new Date(Date.now() + 60000);
    fs.utimesSync(themeDir, future, future);
    assert.equal(listed(db, ['init.lua']).text, doc([row('early', 'Early', early, GREEN), row('late', 'Late', late, BLUE)], 'early'));
  });

  test('a current cache damaged in its hash table is passed over too: no icon is lost', () => {
    const file = path.join(themeDir, 'icon-theme.cache');
    const good = fs.readFileSync(file);
    try {
      const bytes = Buffer.from(good);
      const hashAt = bytes.readUInt32BE(4);
      // Every bucket points past the end of the file.
      for (let i = 0, n = bytes.readUInt32BE(hashAt); i < n; i++) bytes.writeUInt32BE(0x7FFFFFF0, hashAt + 4 + 4 * i);
      fs.writeFileSync(file, bytes);
      fs.utimesSync(themeDir, past, past);
      assert.equal(listed(db, ['init.lua']).text, doc([row('early', 'Early', early, GREEN), row('late', 'Late', late, BLUE)], 'early'));
    } finally {
      fs.writeFileSync(file, good);
    }
  });
});

// The libraries a run maps, as the dynamic loader reports them (glibc's
// LD_DEBUG, written to files of its own): the icon decoders and ICU are
// opened only for the icons and names that need them.
describe('what a run loads', () => {
  const db = database();
  db.hicolor();
  const mime = { MimeType: 'text/rust;' };
  const f = {};
  const app = (id, name, icon) => { f[id] = db.app('data-a', id, { Name: name, Icon: icon, ...mime }); };
  // The PNGs themes ship: RGBA at every size, a palette, grey with alpha.
  app('small', 'Small', 'small');
  db.icon('data-a/icons/hicolor/16x16/apps/small.png', solidPng(16, RED));
  app('large', 'Large', 'large');
  db.icon('data-a/icons/hicolor/48x48/apps/large.png', solidPng(48, GREEN));
  app('huge', 'Huge', db.icon('art/huge.png', solidPng(512, BLUE)));
  app('ready', 'Ready', 'ready');
  db.icon('data-a/icons/hicolor/32x32/apps/ready.png', solidPng(32, YELLOW));
  app('palette', 'Palette 2', 'palette');
  db.icon('data-a/icons/hicolor/22x22/apps/palette.png',
    encodePngOfType(22, 22, 3, () => Array(22).fill(1), [['PLTE', [0, 0, 0, 0, 255, 0]]]));
  app('grey', 'Grey (alpha)', 'grey');
  db.icon('data-a/icons/hicolor/48x48/apps/grey.png', encodePngOfType(48, 48, 4, () => Array(96).fill(255)));
  db.mimeapps('[Default Applications]\ntext/rust=ready.desktop\n');
  db.index();
  const WHITE = [255, 255, 255, 255];
  const rows = [row('ready', 'Ready', f.ready, YELLOW), row('grey', 'Grey (alpha)', f.grey, WHITE), row('huge', 'Huge', f.huge, BLUE),
    row('large', 'Large', f.large, GREEN), row('palette', 'Palette 2', f.palette, GREEN), row('small', 'Small', f.small, RED)];

  // The document, and the base names of the libraries the run mapped.
  const traced = (env = {}) => {
    const dir = fs.mkdtempSync(path.join(db.dir, 'ld-'));
    const r = db.run(['main.rs'], { LD_DEBUG: 'files', LD_DEBUG_OUTPUT: path.join(dir, 'log'), ...env });
    assert.equal(r.status, 0, r.stderr);
    assert.equal(r.stderr, '');
    const log = fs.readdirSync(dir).map((n) => fs.readFileSync(path.join(dir, n), 'utf8')).join('\n');
    fs.rmSync(dir, { recursive: true, force: true });
    const loaded = new Set([...log.matchAll(/file=(\S+)/g)].map((m) => path.basename(m[1])));
    assert.ok(loaded.has('libgio-2.0.so.0'), 'the loader reported what it mapped');
    return { text: describeIcons(r.stdout).text, loaded };
  };
  const decoders = /^lib(gdk_pixbuf|png|rsvg|pixbufloader)/;
  const icu = /^libicu/;

  test('PNG icons of every size and form and ASCII names: neither gdk-pixbuf, libpng, librsvg nor ICU', () => {
    for (const locale of [{}, { LANG: 'en_US.UTF-8' }, { LC_ALL: 'de_DE.UTF-8' }]) {
      const { text, loaded } = traced(locale);
      assert.equal(text, doc(rows, 'ready'));
      assert.deepEqual([...loaded].filter((l) => decoders.test(l) || icu.test(l)), [], JSON.stringify(locale));
    }
  });

  test('a drawing beyond the features drawn in corvane brings in the decoders, a name beyond ASCII or a locale that reorders ASCII brings in ICU', () => {
    db.app('data-a', 'drawn', { Name: 'Drawn', Icon: 'drawn', ...mime });
    db.icon('data-a/icons/hicolor/scalable/apps/drawn.svg', svg(48, '0000ff'));
    db.index();
    const simple = traced();
    assert.ok(simple.text.includes(row('drawn', 'Drawn', db.at('data-a', 'applications', 'drawn.desktop'), BLUE)), simple.text);
    assert.deepEqual([...simple.loaded].filter((l) => decoders.test(l)), [], 'a plain rectangle is drawn without them');
    // Dashes on a shape without a stroke change no pixel, but they are
    // beyond what corvane draws.
    db.icon('data-a/icons/hicolor/scalable/apps/drawn.svg', svg(48, '0000ff').replace('/>', ' stroke-dasharray="2"/>'));
    const accented = db.app('data-a', 'accented', { Name: 'Éclair', ...mime });
    db.index();
    try {
      const { text, loaded } = traced();
      assert.ok(loaded.has('libgdk_pixbuf-2.0.so.0') && loaded.has('librsvg-2.so.2'), [...loaded].join(' '));
      assert.ok([...loaded].some((l) => icu.test(l)), 'ICU for the accented name');
      assert.ok(text.includes(`${row('drawn', 'Drawn', db.at('data-a', 'applications', 'drawn.desktop'), BLUE)},${row('accented', 'Éclair', accented)},${rows[1]}`), text);
    } finally {
      fs.rmSync(db.at('data-a', 'applications', 'drawn.desktop'));
      fs.rmSync(accented);
      db.index();
    }
    // Turkish dots its i apart: I is the capital of a letter before i.
    const dotless = db.app('data-a', 'dotless', { Name: 'Ib', ...mime });
    const dotted = db.app('data-a', 'dotted', { Name: 'ia', ...mime });
    db.index();
    try {
      const pair = (first, second) => `${first},${second}`;
      const ia = row('dotted', 'ia', dotted), ib = row('dotless', 'Ib', dotless);
      assert.ok(traced().text.includes(pair(ia, ib)), 'root: a before b, I the same as i');
      const turkish = traced({ LANG: 'tr_TR.UTF-8' });
      assert.ok(turkish.text.includes(pair(ib, ia)), turkish.text);
      assert.ok([...turkish.loaded].some((l) => icu.test(l)));
    } finally {
      fs.rmSync(dotless);
      fs.rmSync(dotted);
      db.index();
    }
  });
});

// Anyone can drop desktop files and themes into their own data folder: none
// of them may crash corvane, hold it up or make it take the machine's memory.
describe('hostile desktop files and themes', () => {
  const sanitized = fs.readFileSync(corvanePath).includes('__asan_init');
  const bounded = (r, { seconds = 10, peakMiB = 256 } = {}) => {
    assert.equal(r.signal, null);
    assert.equal(r.status, 0, r.stderr);
    assert.equal(r.stderr, '');
    assert.ok(r.seconds < seconds, `took ${r.seconds.toFixed(1)} s`);
    if (!sanitized) assert.ok(r.peakMiB < peakMiB, `took ${r.peakMiB.toFixed(0)} MiB`);
  };

  test('a chain of 20,000 themes each inheriting the next: walked without recursion, hicolor still reached', () => {
    const db = database();
    db.hicolor();
    for (let i = 0; i < 20000; i++)
      db.icon(`data-home/icons/T${i}/index.theme`, `[Icon Theme]\nName=T${i}\nInherits=T${i + 1}\nDirectories=\n`);
    fs.mkdirSync(db.at('config', 'gtk-3.0'), { recursive: true });
    fs.writeFileSync(db.at('config', 'gtk-3.0', 'settings.ini'), '[Settings]\ngtk-icon-theme-name=T0\n');
    const file = db.app('data-a', 'chained', { Name: 'Chained', Icon: 'chained', MimeType: 'text/x-go;' });
    db.icon('data-a/icons/hicolor/32x32/apps/chained.png', solidPng(32, GREEN));
    db.index();
    const r = db.runMeasured(['main.go']);
    bounded(r);
    assert.equal(describeIcons(r.stdout).text, doc([row('chained', 'Chained', file, GREEN)], 'chained'));
  });

  // One application whose icon is the given file: listed without an icon.
  const listedWithoutIcon = (name, bytes) => {
    const db = database();
    const file = db.app('data-a', 'odd', { Name: 'Odd', Icon: db.icon(`art/${name}`, bytes), MimeType: 'text/x-go;' });
    db.index();
    const r = db.runMeasured(['main.go']);
    bounded(r);
    assert.equal(r.stdout, doc([row('odd', 'Odd', file)], 'odd'));
  };

  test('a small PNG that claims 20,000 x 20,000 pixels is not decoded', () => {
    const side = 20000;
    const ihdr = Buffer.alloc(13);
    ihdr.writeUInt32BE(side, 0);
    ihdr.writeUInt32BE(side, 4);
    ihdr.set([1, 0, 0, 0, 0], 8);  // one bit of grey a pixel: small to write, 1.2 GB to decode
    const rows = zlib.deflateSync(Buffer.alloc((side / 8 + 1) * side));
    listedWithoutIcon('vast.png', Buffer.concat([Buffer.from('\x89PNG\r\n\x1a\n', 'latin1'), chunk('IHDR', ihdr), chunk('IDAT', rows), chunk('IEND', Buffer.alloc(0))]));
  });

  test('a PNG at the 4096-pixel cap, 64 MiB of pixels packed into 64 KB, is redrawn a few rows at a time', () => {
    const db = database();
    const side = 4096;
    const png = encodePngOfType(side, side, 6, () => Buffer.alloc(side * 4, 0x80));
    assert.ok(png.length < 1 << 20);
    const file = db.app('data-a', 'vast', { Name: 'Vast', Icon: db.icon('art/vast.png', png), MimeType: 'text/x-go;' });
    db.index();
    const r = db.runMeasured(['main.go']);
    // The whole image held at once would be 64 MiB more.
    bounded(r, { peakMiB: 48 });
    assert.equal(describeIcons(r.stdout).text, doc([row('vast', 'Vast', file, [128, 128, 128, 128])], 'vast'));
  });

  test('a 28 MB drawing of a million shapes is not rendered', () => {
    // Just under the renderer's own limit on elements, which would refuse it.
    listedWithoutIcon('busy.svg', `<svg xmlns="http://www.w3.org/2000/svg" width="1000" height="1000">${'<rect width="1" height="1"/>'.repeat(990000)}</svg>`);
  });

  test('a theme whose index lists 200,000 folders costs no time per missing icon', () => {
    const db = database();
    db.hicolor();
    const names = Array.from({ length: 200000 }, (_, i) => `d${i}`);
    db.icon('data-home/icons/Wide/index.theme',
      `[Icon Theme]\nName=Wide\nDirectories=${names.join(',')}\n\n${names.map((n) => `[${n}]\nSize=32\nType=Fixed\n`).join('\n')}`);
    fs.mkdirSync(db.at('config', 'gtk-3.0'), { recursive: true });
    fs.writeFileSync(db.at('config', 'gtk-3.0', 'settings.ini'), '[Settings]\ngtk-icon-theme-name=Wide\n');
    for (let i = 0; i < 200; i++) db.app('data-a', `missing${i}`, { Name: `Missing ${i}`, Icon: `no-such-icon-${i}`, MimeType: 'text/x-go;' });
    db.index();
    const r = db.runMeasured(['main.go']);
    bounded(r);
    const document = JSON.parse(r.stdout);
    assert.equal(document.apps.length, 200);
    assert.ok(document.apps.every((a) => a.icon === undefined));
  });
});
