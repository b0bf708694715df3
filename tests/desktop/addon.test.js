'use strict';
// The desktop build of resources/bin/pelmora.node against real GTK 3, GTK 4,
// Qt 5 and Chromium windows: what it captures, what lands in the field (read
// back by the harness's own AT-SPI client, never by the addon), and every
// guard that keeps text out of the wrong field.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const path = require('node:path');
const readline = require('node:readline');
const { requireDesktop, startDesktop, waitFor } = require('./harness');

// In the sanitizer lane the runtime is preloaded into node: the host process
// takes it, the desktop's own programs (Xvfb, the toolkits, Chromium) must not.
const SANITIZER = Object.fromEntries(['LD_PRELOAD', 'ASAN_OPTIONS', 'UBSAN_OPTIONS']
  .filter((name) => process.env[name]).map((name) => [name, process.env[name]]));
delete process.env.LD_PRELOAD;

// The addon in a host process of its own, with the desktop's environment.
function startHost(desktop, changes = {}) {
  const env = { ...desktop.env, ...SANITIZER };
  for (const [name, v] of Object.entries(changes)) {
    if (v === undefined) delete env[name];
    else env[name] = v;
  }
  if (SANITIZER.LD_PRELOAD) env.LSAN_OPTIONS = `suppressions=${path.join(__dirname, 'lsan.supp')}`;
  if (process.env.PELMORA_DESKTOP_ADDON) env.PELMORA_DESKTOP_ADDON = process.env.PELMORA_DESKTOP_ADDON;
  const child = spawn(process.execPath, [path.join(__dirname, 'addon_driver.js')], { env, stdio: ['pipe', 'pipe', 'inherit'] });
  const waiting = new Map();
  let next = 0;
  readline.createInterface({ input: child.stdout }).on('line', (line) => {
    const answer = JSON.parse(line);
    waiting.get(answer.id)(answer);
    waiting.delete(answer.id);
  });
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => {
    // A host that died answers nothing more: every call still waiting fails.
    for (const settle of waiting.values()) settle({ error: `the host process ended (${code ?? signal})` });
    waiting.clear();
    resolve(code);
  }));
  return {
    call(name, ...args) {
      return new Promise((resolve, reject) => {
        const id = next++;
        if (child.exitCode !== null || child.signalCode !== null) {
          reject(new Error('the host process has ended'));
          return;
        }
        waiting.set(id, (a) => (a.error ? reject(new Error(a.error)) : resolve(a)));
        child.stdin.write(`${JSON.stringify({ id, call: name, args })}\n`);
      });
    },
    async stop() {
      child.stdin.end();
      const code = await exited;
      assert.equal(code, 0, 'the host process ended cleanly');
    },
  };
}

async function onDesktop(t, kinds, options, body, hostChanges) {
  if (!requireDesktop(t, kinds)) return;
  const desktop = await startDesktop(options);
  const host = startHost(desktop, hostChanges);
  try {
    await body(desktop, host);
  } finally {
    await host.stop().finally(() => desktop.stop());
  }
}

const value = async (host, name, ...args) => (await host.call(name, ...args)).result;
const activeIs = (desktop, pid) => async () => (await desktop.reader.activeApp())?.pid === pid;

// Offsets as each toolkit counts them over AT-SPI: characters, but UTF-16
// units in Qt 5.
const chars = (s) => [...s].length;
const units = (s) => s.length;

const DICTATED = ' 👍🏽 中文 e\u0301 ';

// Each native field takes the text at its caret, or over its selection, and
// the caret ends after it; Chromium's fields, without EditableText, decline
// to the clipboard with the field focused and its window in front.
const FIELDS = [
  { kind: 'gtk3-entry', options: { text: 'héllo wörld', caret: 5 }, role: 'AXTextField',
    want: 'héllo' + DICTATED + ' wörld', caret: chars('héllo' + DICTATED) },
  { kind: 'gtk3-textview', options: { text: 'first line\nsecond 行', selection: [6, 17] }, role: 'AXTextArea',
    want: 'first ' + DICTATED + ' 行', caret: chars('first ' + DICTATED) },
  { kind: 'gtk4-entry', options: { text: 'a👋b', caret: 2 }, role: 'AXTextField',
    want: 'a👋' + DICTATED + 'b', caret: chars('a👋' + DICTATED) },
  { kind: 'qt5-lineedit', options: { text: 'ab👋c', caret: 3 }, role: 'AXTextField',
    want: 'ab👋' + DICTATED + 'c', caret: units('ab👋' + DICTATED) },
  { kind: 'chromium', options: { text: 'web 👋 area', caret: 5 }, role: 'AXTextArea', decline: 'clipboard_preferred_web' },
];

test('capture, describe and insert in every toolkit; the backend has no triggers or settings yet', async (t) => {
  await onDesktop(t, FIELDS.map((f) => f.kind), {}, async (desktop, host) => {
    assert.equal((await value(host, 'exports')).length, 13);
    for (const [name, want] of [['start', false], ['startDjiMicButton', false], ['isActive', false],
      ['isDjiMicButtonActive', false], ['getSystemFnUsageType', 0]]) {
      assert.equal(await value(host, name, '__callback__'), want, name);
    }
    assert.deepEqual(await value(host, 'getSystemSymbolicHotkeys'), []);

    for (const field of FIELDS) {
      const app = await desktop.launch(field.kind, field.options);
      const { name } = app;
      assert.deepEqual(await value(host, 'getFrontmostApplicationInfo'),
        { ok: true, appName: name, bundleID: app.desktopId, reason: '' }, field.kind);
      const info = await value(host, 'getFocusedElementInfo');
      assert.equal(info.error, '', field.kind);
      assert.deepEqual([info.appName, info.bundleID, info.role], [name, app.desktopId, field.role], field.kind);
      assert.equal(info.selectedTextRangeAvailable, true, field.kind);
      assert.deepEqual(await value(host, 'readCapturedFocusedElementText'),
        { ok: true, appName: name, bundleID: app.desktopId, text: field.options.text }, field.kind);

      const verdict = await value(host, 'insertTextIntoFocusedElement', DICTATED);
      const read = await desktop.reader.field(app.pid);
      if (field.decline) {
        assert.deepEqual(verdict, { ok: false, appName: name, bundleID: app.desktopId, reason: field.decline });
        assert.equal(read.text, field.options.text, 'nothing written');
        assert.ok(read.states.includes('focused'), 'the field keeps the focus for the paste');
        assert.equal((await desktop.reader.activeApp()).pid, app.pid, 'its window in front');
      } else {
        assert.deepEqual(verdict, { ok: true, method: 'accessibility', appName: name, bundleID: app.desktopId }, field.kind);
        assert.equal(read.text, field.want, field.kind);
        assert.equal(read.caret, field.caret, `${field.kind}: the caret after the text`);
        assert.deepEqual(read.selections, [], field.kind);
      }
      await app.quit();
    }
  });
});

test('the target is guarded: the focus moved, another application in front, one stopped, one gone', async (t) => {
  await onDesktop(t, ['gtk3-two-entries', 'gtk4-entry', 'gtk3-entry'], {}, async (desktop, host) => {
    const two = await desktop.launch('gtk3-two-entries', { fields: { first: { text: 'one' }, second: { text: 'two' } } });
    assert.equal((await value(host, 'getFocusedElementInfo')).error, '');
    await two.focusField('second');
    await waitFor(async () => (await desktop.reader.field(two.pid)).name === 'second', { what: 'the focus on the second entry' });
    assert.equal((await value(host, 'insertTextIntoFocusedElement', 'x')).reason, 'focus_drifted');
    assert.equal((await desktop.reader.field(two.pid)).name, 'first', 'the captured field has the focus back for the paste');
    for (const [name, text] of [['first', 'one'], ['second', 'two']])
      assert.equal((await desktop.reader.describe(two.pid, name)).text, text, `${name} untouched`);

    // Another application in front: the captured target is dropped, and the
    // host that names the application it expects gets no text into another.
    assert.equal((await value(host, 'getFocusedElementInfo')).error, '');
    const other = await desktop.launch('gtk4-entry', { text: 'other' });
    assert.equal((await value(host, 'readCapturedFocusedElementText')).reason, 'frontmost_app_changed');
    assert.equal((await value(host, 'getFocusedElementInfo')).bundleID, other.desktopId);
    await two.present();
    await waitFor(activeIs(desktop, two.pid), { what: 'the GTK 3 window in front again' });
    assert.equal((await value(host, 'getFocusedElementInfo')).bundleID, two.desktopId);
    await other.present();
    await waitFor(activeIs(desktop, other.pid), { what: 'the GTK 4 window in front again' });
    const mismatch = await value(host, 'insertTextIntoFocusedElement', 'x', two.desktopId);
    assert.deepEqual(mismatch, { ok: false, appName: other.name, bundleID: other.desktopId, reason: 'focus_target_mismatch' });
    assert.equal((await desktop.reader.field(other.pid)).text, 'other');
    assert.equal((await desktop.reader.describe(two.pid, 'first')).text, 'one');
    await other.quit();
    await two.quit();

    // A stopped application answers nothing: each export ends within the
    // bound of one timeout, and nothing is written when it wakes.
    const stopped = await desktop.launch('gtk3-entry', { text: 'asleep' });
    assert.equal((await value(host, 'getFocusedElementInfo')).error, '');
    stopped.pause();
    const insert = await host.call('insertTextIntoFocusedElement', 'x');
    assert.equal(insert.result.reason, 'target_unresponsive');
    const capture = await host.call('getFocusedElementInfo');
    assert.equal(capture.result.error, 'focus_error_-25204');
    for (const { ms } of [insert, capture]) assert.ok(ms < 2500, `${ms} ms, one timeout and a pause at most`);
    stopped.resume();
    assert.equal((await desktop.reader.field(stopped.pid)).text, 'asleep');

    // An application that quits between the capture and the insertion.
    assert.equal((await value(host, 'getFocusedElementInfo')).error, '');
    await stopped.quit();
    const gone = await host.call('insertTextIntoFocusedElement', 'x');
    assert.equal(gone.result.ok, false);
    assert.match(gone.result.reason, /^(frontmost_app_changed|missing_frontmost_app)$/);
    assert.ok(gone.ms < 2500, `${gone.ms} ms`);
  });
});

// As on Wayland, where no client hears which window has the keyboard: the
// host sees no X server, and the front application is the one whose window
// has AT-SPI's active state; a stopped one in the background holds the scan
// once, within its short timeout, not every call.
test('the front application without the window manager\'s word', async (t) => {
  await onDesktop(t, ['gtk3-entry', 'gtk4-entry'], {}, async (desktop, host) => {
    const background = await desktop.launch('gtk3-entry', { text: 'behind' });
    const front = await desktop.launch('gtk4-entry', { text: 'in front', caret: 8 });
    background.pause();
    const first = await host.call('getFrontmostApplicationInfo');
    assert.equal(first.result.bundleID, front.desktopId);
    assert.ok(first.ms < 1000, `${first.ms} ms: the stopped application is asked within a short timeout`);
    const again = await host.call('getFrontmostApplicationInfo');
    assert.ok(again.ms < 100, `${again.ms} ms: and then left out of the scan`);
    assert.equal((await value(host, 'getFocusedElementInfo')).bundleID, front.desktopId);
    assert.equal((await value(host, 'insertTextIntoFocusedElement', ' here', front.desktopId)).ok, true);
    assert.equal((await desktop.reader.field(front.pid)).text, 'in front here');
    background.resume();
  }, { DISPLAY: undefined });
});

test('accessibility off, or no accessibility bus at all: accessibility_not_trusted, and the host lives on', async (t) => {
  for (const options of [{ a11y: false }, { accessibilityBus: false }]) {
    await onDesktop(t, ['gtk3-entry'], options, async (desktop, host) => {
      const info = await value(host, 'getFocusedElementInfo');
      assert.equal(info.error, 'accessibility_not_trusted', JSON.stringify(options));
      const verdict = await value(host, 'insertTextIntoFocusedElement', 'x');
      assert.equal(verdict.reason, 'accessibility_not_trusted');
      assert.equal((await value(host, 'getFrontmostApplicationInfo')).reason, 'frontmost_app_unavailable');
    });
  }
});

// A terminal on this desktop has no script to ask: its shell's tty comes
// from /proc, and the line is typed into it, never run.
test('a terminal: the dictated line typed into its shell, not run; a program in front refuses it', async (t) => {
  await onDesktop(t, ['gtk3-terminal'], {}, async (desktop, host) => {
    const term = await desktop.launch('gtk3-terminal', { id: 'org.gnome.Terminal', name: 'Terminal', waitForFocus: false });
    const screen = async () => (await desktop.reader.field(term.pid)).text.trimEnd();
    await waitFor(async () => (await desktop.reader.field(term.pid)).states.includes('focused') && (await screen()).includes('$'),
      { what: 'the terminal focused at its prompt' });
    const info = await value(host, 'getFocusedElementInfo');
    assert.deepEqual([info.error, info.bundleID, info.role], ['', 'org.gnome.Terminal', 'AXTextArea']);

    assert.deepEqual(await value(host, 'insertTextIntoFocusedElement', 'echo dictated 👍🏽'),
      { ok: true, method: 'tty', appName: 'Terminal', bundleID: 'org.gnome.Terminal' });
    await waitFor(async () => (await screen()).endsWith('$ echo dictated 👍🏽'), { what: 'the line on the prompt' });
    await new Promise((resolve) => setTimeout(resolve, 300));
    assert.ok((await screen()).endsWith('$ echo dictated 👍🏽'), 'typed, and not run');

    await term.setText('terminal', '\u0015sleep 30\n');  // the user clears the line and starts a program
    await waitFor(async () => (await screen()).endsWith('$ sleep 30'), { what: 'sleep in front' });
    assert.equal((await value(host, 'insertTextIntoFocusedElement', 'ls')).reason, 'tty_write_failed');
    await new Promise((resolve) => setTimeout(resolve, 200));
    assert.ok((await screen()).endsWith('$ sleep 30'), 'nothing typed into the program');
  });
});
