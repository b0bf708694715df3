'use strict';
// The desktop harness on this machine: every application kind becomes
// active with its field focused and is read back over AT-SPI, activation and
// focus moves are seen, a stopped application costs the reader its timeout,
// and nothing outlives a run, however the test process ends.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { requireDesktop, startDesktop, waitFor } = require('./harness');

// Runs body on a fresh desktop; when it passed, the stop must leave nothing:
// pgrep finds nothing in the run's sessions and its folder is gone.
async function onDesktop(t, kinds, body) {
  if (!requireDesktop(t, kinds)) return;
  const desktop = await startDesktop();
  let passed = false;
  try {
    await body(desktop);
    passed = true;
  } finally {
    const sessions = [...desktop.sessions()].join(',');
    const { left } = await desktop.stop();
    if (passed) {
      assert.deepEqual(left, []);
      const r = spawnSync('pgrep', ['-a', '-r', 'D,R,S,T,t', '-s', sessions], { encoding: 'utf8' });
      assert.equal(r.status, 1, `still running after stop():\n${r.stdout}`);
      assert.equal(fs.existsSync(desktop.dir), false);
    }
  }
}

const environOf = (pid) => Object.fromEntries(fs.readFileSync(`/proc/${pid}/environ`, 'utf8').split('\0')
  .filter(Boolean).map((kv) => [kv.slice(0, kv.indexOf('=')), kv.slice(kv.indexOf('=') + 1)]));

// What the reader must see, in offsets as each toolkit gives them over
// AT-SPI (Qt 5: UTF-16 units; the others: characters).
const KIND_CASES = [
  { kind: 'gtk3-entry', options: { text: 'héllo 👋 中文 e\u0301', caret: 7 },
    want: { role: 'text', name: 'entry', caret: 7, characterCount: 13, selections: [], editableText: true, foundBy: 'collection' } },
  { kind: 'gtk3-textview', options: { text: 'line one\nline 二 👋', selection: [5, 13] },
    want: { role: 'text', name: 'textview', caret: 13, selections: [[5, 13]], editableText: true, state: 'multi-line' } },
  { kind: 'gtk4-entry', options: { text: 'a👋b', caret: 2 },
    want: { role: 'text', name: 'entry', caret: 2, characterCount: 3, editableText: true, foundBy: 'walk' } },
  { kind: 'qt5-lineedit', options: { text: 'ab👋c', caret: 3 },
    want: { role: 'text', name: 'lineedit', caret: 4, characterCount: 5, editableText: true, foundBy: 'walk' } },
  { kind: 'chromium', options: { text: 'web 👋 area', caret: 5, chromium: { elements: 5000 } },
    want: { role: 'entry', name: 'textarea', caret: 5, characterCount: 10, editableText: false, foundBy: 'collection', state: 'multi-line' } },
];

test('each kind shows an active window whose focused field the reader reads back', async (t) => {
  await onDesktop(t, KIND_CASES.map((c) => c.kind), async (desktop) => {
    for (const { kind, options, want } of KIND_CASES) {
      const app = await desktop.launch(kind, options);
      const field = await desktop.reader.field(app.pid);
      const { state, ...exact } = want;
      assert.deepEqual(Object.fromEntries(Object.keys(exact).map((k) => [k, field[k]])), exact, kind);
      assert.equal(field.text, options.text, kind);
      assert.ok(field.states.includes('focused') && field.states.includes('editable'), `${kind}: ${field.states}`);
      if (state) assert.ok(field.states.includes(state), `${kind}: ${field.states}`);
      assert.equal((await desktop.reader.activeApp()).pid, app.pid, kind);
      // Launched from a desktop file in the private data dir, as GIO does.
      assert.match(fs.readFileSync(app.desktopFile, 'utf8'), new RegExp(`^Name=${app.name}$`, 'm'));
      assert.equal(path.basename(app.desktopFile), `${app.desktopId}.desktop`);
      if (kind !== 'chromium') {  // Chromium writes its title over its environment block
        const env = environOf(app.pid);
        assert.equal(env.GIO_LAUNCHED_DESKTOP_FILE, app.desktopFile, kind);
        assert.equal(env.GIO_LAUNCHED_DESKTOP_FILE_PID, String(app.pid), kind);
      }
      await app.quit();
    }
  });
});

test('the last application launched is active; presenting and moving the focus are seen', async (t) => {
  await onDesktop(t, ['gtk3-two-entries', 'gtk4-entry'], async (desktop) => {
    const first = await desktop.launch('gtk3-two-entries', { fields: { first: { text: 'one' }, second: { text: 'two' } } });
    const last = await desktop.launch('gtk4-entry', { text: 'four' });
    assert.equal((await desktop.reader.activeApp()).pid, last.pid);
    const activeIs = (pid) => async () => (await desktop.reader.activeApp())?.pid === pid;
    await first.present();
    await waitFor(activeIs(first.pid), { what: 'the GTK 3 window becoming active by its own present()' });
    await last.present();
    await waitFor(activeIs(last.pid), { what: 'the GTK 4 window becoming active by its own present()' });
    // GTK 3 presents the toplevel of a widget that grabs the focus.
    await desktop.reader.activate(first.pid);
    await waitFor(activeIs(first.pid), { what: 'the GTK 3 window becoming active through AT-SPI' });
    const focusedName = async () => (await desktop.reader.field(first.pid)).name;
    assert.equal((await desktop.reader.focus(first.pid, 'second')).grabbed, true);
    await waitFor(async () => await focusedName() === 'second', { what: 'the focus moving to the second entry over AT-SPI' });
    await first.focusField('first');
    await waitFor(async () => await focusedName() === 'first', { what: 'the focus moving back over the control pipe' });
    assert.equal((await desktop.reader.field(first.pid)).text, 'one');
  });
});

test('a stopped application costs the reader its timeout, not a hang', async (t) => {
  await onDesktop(t, ['gtk3-entry', 'gtk4-entry'], async (desktop) => {
    const running = await desktop.launch('gtk3-entry', { text: 'running' });
    const stopped = await desktop.launch('gtk4-entry', { text: 'stopped' });
    stopped.pause();
    const timed = async (fn) => { const t0 = Date.now(); const r = await fn().catch((e) => e); return [r, Date.now() - t0]; };
    const [err, fieldMs] = await timed(() => desktop.reader.field(stopped.pid));
    assert.equal(err.code, 'timeout', String(err));
    const [active, activeMs] = await timed(() => desktop.reader.request('activeApp'));
    assert.deepEqual(active.unresponsive, [{ pid: stopped.pid, code: 'timeout' }]);
    // One bus call's timeout (1 s) each, with room for a loaded machine.
    for (const ms of [fieldMs, activeMs]) assert.ok(ms < 2500, `${ms} ms`);
    assert.equal((await desktop.reader.apps()).find((a) => a.pid === running.pid).name, running.desktopId);
    stopped.resume();
    assert.equal((await desktop.reader.field(stopped.pid)).text, 'stopped');
    stopped.pause();  // left stopped: the stop must still end it
  });
});

// A child test process that starts a desktop with an application, prints
// its run's sessions and waits to be ended.
const CHILD = `
const { startDesktop } = require(${JSON.stringify(path.join(__dirname, 'harness.js'))});
(async () => {
  const d = await startDesktop();
  await d.launch('gtk3-entry', { text: 'x' });
  console.log(JSON.stringify({ dir: d.dir, sessions: [...d.sessions()] }));
  setInterval(() => {}, 1000);
})();
`;

test('nothing outlives a test process ended by a signal', async (t) => {
  if (!requireDesktop(t, ['gtk3-entry'])) return;
  for (const signal of ['SIGINT', 'SIGKILL']) {
    const child = spawn(process.execPath, ['-e', CHILD], { stdio: ['ignore', 'pipe', 'inherit'] });
    const exited = new Promise((resolve) => child.once('exit', resolve));
    const line = await new Promise((resolve, reject) => {
      let out = '';
      child.stdout.on('data', (d) => { out += d; if (out.includes('\n')) resolve(out.split('\n')[0]); });
      child.once('exit', (code) => reject(new Error(`the child exited (${code}) before starting its desktop`)));
    });
    const run = JSON.parse(line);
    child.kill(signal);
    await exited;
    // The reaper (after SIGKILL) takes up to its 2 s grace to end the rest.
    await waitFor(() => spawnSync('pgrep', ['-r', 'D,R,S,T,t', '-s', run.sessions.join(',')]).status === 1 && !fs.existsSync(run.dir),
      { timeoutMs: 8000, what: `the run's processes and folder going after ${signal}` });
  }
});
