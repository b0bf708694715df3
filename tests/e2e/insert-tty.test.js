'use strict';
// Dictation into a terminal: the text must reach a real shell as input,
// exactly, and only when a plain shell is in the foreground.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { addon, sim, nodeEnv } = require('./helpers');
const { addApp, dropTargetAndCheckHandles, ops } = require('./focus-fixtures');
const { Terminal, standInOsascript } = require('./terminal');

const TERMINAL = 'com.apple.Terminal';
const ITERM = 'com.googlecode.iterm2';
const insert = (...args) => JSON.parse(addon.insertTextIntoFocusedElement(...args));

let terminal = null;
let osa = null;
test.afterEach(() => {
  if (terminal) terminal.close();
  if (osa) osa.remove();
  terminal = osa = null;
  dropTargetAndCheckHandles(assert);
});

// A terminal application whose front window shows `tty`.
function terminalApp(bundleID, ttyOutput) {
  sim.reset();
  osa = standInOsascript(`printf '%s\\n' '${ttyOutput}'`);
  sim.tools.setPath('osascript', osa.file);
  addApp({ bundleID, name: 'Terminal', active: true, windows: [{ id: 'win', role: 'AXWindow', children: [{ id: 'tv', role: 'AXTextArea', value: '' }] }],
    focusedElement: 'tv' });
}

// Each command prints pel42x only when the shell evaluates it.
const POSIX_EVAL = 'echo pel`expr 6 \\* 7`x';
const shells = [
  ['bash', ['--norc', '--noprofile', '-i'], POSIX_EVAL],
  ['zsh', ['-f', '-i'], POSIX_EVAL],
  ['fish', ['--no-config', '-i'], 'echo pel(math 6 \\* 7)x'],
  ['tcsh', ['-f', '-i'], POSIX_EVAL],
  ['dash', ['-i'], POSIX_EVAL],
];

for (const [shell, args, command] of shells) {
  test(`${shell}: the dictated text is typed into the shell, and runs on Return`, async () => {
    terminal = await Terminal.start(shell, args);
    await new Promise((r) => setTimeout(r, 400));  // the shell settles at its prompt
    terminalApp(TERMINAL, terminal.path);
    const r = insert(command, TERMINAL);
    assert.deepEqual(r, { ok: true, method: 'tty', appName: 'Terminal', bundleID: TERMINAL });
    terminal.type('\n');
    await terminal.waitFor(/pel42x/);
    assert.deepEqual(osa.args(), ['-e', 'tell application "Terminal" to get tty of selected tab of front window']);
  });
}

// A line as long as a very long dictation, in words of several scripts. Run,
// it writes its payload to `file` and then renames that to `file`.done.
function longLine(file) {
  const head = "printf %s '";
  const tail = `' > ${file}; mv ${file} ${file}.done`;
  const words = 'Dictated,café-naïve/中文:€5.'.repeat(8) + ' ';
  const payload = words.repeat(Math.ceil(20000 / words.length)).slice(0, 20000 - head.length - tail.length);
  return { line: head + payload + tail, payload };
}

// `complete` tells a whole file from one the shell is still writing.
async function fileOnceThere(file, ms, complete = () => true) {
  for (const end = Date.now() + ms; Date.now() < end;) {
    if (fs.existsSync(file)) {
      const got = fs.readFileSync(file);
      if (complete(got)) return got;
    }
    await new Promise((r) => setTimeout(r, 50));
  }
  return null;
}

// The terminal's input queue drops what overflows it while the line editor
// redraws; the typing keeps pace with the shell instead.
for (const [shell, args] of shells.filter(([name]) => ['bash', 'zsh', 'fish'].includes(name))) {
  test(`${shell}: a 20,000-character line arrives whole`, async () => {
    terminal = await Terminal.start(shell, args);
    await new Promise((r) => setTimeout(r, 400));
    terminalApp(TERMINAL, terminal.path);
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pelmora-long-'));
    try {
      const { line, payload } = longLine(path.join(dir, 'out'));
      assert.equal(line.length, 20000);
      assert.deepEqual(insert(line, TERMINAL), { ok: true, method: 'tty', appName: 'Terminal', bundleID: TERMINAL });
      terminal.type('\n');
      const got = await fileOnceThere(path.join(dir, 'out.done'), 20000);
      assert.ok(got, `${shell} never ran the line; its terminal ends with:\n${terminal.output.slice(-400)}`);
      const sent = Buffer.from(payload);
      let at = 0;
      while (at < sent.length && got[at] === sent[at]) at++;
      assert.ok(got.equals(sent), `${got.length} of ${sent.length} bytes, the first difference at byte ${at}`);
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
    }
  });
}

// A command line of `length` characters of unquoted prose (which fish's line
// editor takes slowest) that writes its words to `file`, the redirection
// first where the shell allows it, so that a part of the line writes a part.
function proseLine(shell, file, length) {
  const words = 'caf\u00e9 na\u00efve \u4e2d\u6587 \u20ac5 dictated words of prose and more ';
  const [head, tail] = shell === 'fish' ? ['echo ', ` > ${file}`] : [`>${file} echo `, ''];
  const payload = words.repeat(Math.ceil(length / words.length)).slice(0, length - head.length - tail.length).trim();
  return { line: head + payload + tail, payload };
}

// The host pastes whenever the route declines: the line it runs then holds
// the text exactly once. When the route says that part of the text stayed
// (tty_write_incomplete) it does not paste, and the line holds that part once.
test('a line the shell cannot take whole is taken back, or the verdict says what stayed', async () => {
  const stopAfter = (t, ms) => spawn('sh', ['-c', `sleep ${ms / 1000}; kill -STOP ${t.pid}`], { stdio: 'ignore' });
  const rows = [
    // [what, shell, length, before the insertion, verdict, seconds it may take]
    ['fish over 20,000 characters of prose: not within the bound at its pace', 'fish', 20000, null, 'tty_write_failed', 5],
    ['bash stopped before it reads a byte', 'bash', 2000, (t) => t.signal('SIGSTOP'), 'tty_write_failed', 2],
    ['zsh stopped while it reads', 'zsh', 20000, (t) => stopAfter(t, 300), 'tty_write_incomplete', 3],
  ];
  for (const [what, shell, length, before, verdict, atMost] of rows) {
    const [, args] = shells.find(([name]) => name === shell);
    terminal = await Terminal.start(shell, args);
    await new Promise((r) => setTimeout(r, 400));
    terminalApp(TERMINAL, terminal.path);
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pelmora-cut-'));
    try {
      const file = path.join(dir, 'out');
      const { line, payload } = proseLine(shell, file, length);
      if (before) before(terminal);
      const started = Date.now();
      const r = insert(line, TERMINAL);
      const took = (Date.now() - started) / 1000;
      if (before) terminal.signal('SIGCONT');
      assert.equal(r.reason, verdict, what);
      assert.ok(took < atMost, `${what}: ${took} s`);
      assert.equal(sim.ax.inspect('tv').focusedSets, 1, `${what}: brought forward`);
      if (verdict === 'tty_write_failed') terminal.paste(line);
      terminal.type('\n');
      // The shell makes the file before echo writes its line into it.
      const got = await fileOnceThere(file, 10000, (bytes) => bytes.at(-1) === 0x0a);
      assert.ok(got, `${what}: the line never ran; the terminal ends with:\n${terminal.text.slice(-300)}`);
      const words = got.toString().trimEnd();
      if (verdict === 'tty_write_failed') assert.equal(words, payload, `${what}: the pasted text, once`);
      else assert.ok(words.length > 0 && words.length < payload.length && payload.startsWith(words), `${what}: a part, once`);
    } finally {
      fs.rmSync(dir, { recursive: true, force: true });
      terminal.close();
      terminal = null;
    }
  }
});

test('exactly the bytes of the text arrive: no line feed is added', async () => {
  terminal = await Terminal.start('bash', ['--norc', '--noprofile', '-i']);
  await new Promise((r) => setTimeout(r, 300));
  terminalApp(ITERM, terminal.path);
  assert.equal(insert('echo "[$READLINE_LINE]" caf\u00e9', ITERM).ok, true);
  assert.deepEqual(osa.args(), ['-e', 'tell application "iTerm2" to get the tty of the current session of the current window']);
  await new Promise((r) => setTimeout(r, 300));
  assert.doesNotMatch(terminal.text, /caf\u00e9\s*\r?\n\$/, 'nothing ran before Return');
  terminal.type(' end\n');
  await terminal.waitFor(/\[\] café end/);
});

test('a program in the foreground stops the write', async () => {
  terminal = await Terminal.start('bash', ['--norc', '--noprofile', '-i']);
  await new Promise((r) => setTimeout(r, 300));
  terminal.type('cat\n');
  await new Promise((r) => setTimeout(r, 300));
  terminalApp(TERMINAL, terminal.path);
  sim.log.take();
  const r = insert('rm -rf nothing', TERMINAL);
  assert.deepEqual(r, { ok: false, appName: 'Terminal', bundleID: TERMINAL, reason: 'tty_write_failed' });
  const log = sim.log.take();
  assert.deepEqual(ops(log, 'spawn').map((e) => [path.basename(e.path), e.args.slice(0, 2)]),
    [['osascript', ['-e', 'tell application "Terminal" to get tty of selected tab of front window']], ['ps', ['-t', terminal.path.replace('/dev/', '')]]]);
  assert.deepEqual(ops(log, 'spawn')[1].args, ['-t', terminal.path.replace('/dev/', ''), '-o', 'stat=,comm=']);
  assert.equal(sim.ax.inspect('tv').focusedSets, 1, 'prepared for a paste');
  await new Promise((r) => setTimeout(r, 200));
  assert.doesNotMatch(terminal.text, /rm -rf nothing/);
});

test('control characters, U+0000 among them, are declined before any process starts', () => {
  for (const text of ['ls\n', 'a\tb', 'x\ry', 'esc\u001b[A', 'del\u007f', 'c1\u0085', 'soh\u0001', 'nul\u0000after']) {
    terminalApp(TERMINAL, '/dev/null');
    sim.log.take();
    assert.equal(insert(text, TERMINAL).reason, 'tty_write_failed', JSON.stringify(text));
    assert.equal(ops(sim.log.take(), 'spawn').length, 0, JSON.stringify(text));
  }
});

test('an osascript that fails, prints nothing, prints a non-device, or is missing: declined', () => {
  const cases = [
    ['exit 1', 'fails'],
    ['exit 0', 'prints nothing'],
    ["printf '   \\n\\n'", 'prints blanks'],
    ["echo 'missing value'", 'prints a non-device'],
    ["echo /etc/hostname", 'prints a plain file'],
  ];
  for (const [body, what] of cases) {
    sim.reset();
    osa = standInOsascript(body);
    sim.tools.setPath('osascript', osa.file);
    addApp({ bundleID: TERMINAL, name: 'Terminal', windows: [{ id: 'win', role: 'AXWindow' }], focusedElement: 'win' });
    assert.equal(insert('echo hi', TERMINAL).reason, 'tty_write_failed', what);
    osa.remove();
    osa = null;
  }
  sim.reset();
  sim.tools.setPath('osascript', '/nonexistent/osascript');
  addApp({ bundleID: TERMINAL, name: 'Terminal', windows: [{ id: 'win', role: 'AXWindow' }], focusedElement: 'win' });
  assert.equal(insert('echo hi', TERMINAL).reason, 'tty_write_failed');
});

test('a hung osascript is killed at the bound and the route declines', () => {
  sim.reset();
  osa = standInOsascript('exec sleep 30');
  sim.tools.setPath('osascript', osa.file);
  addApp({ bundleID: TERMINAL, name: 'Terminal', windows: [{ id: 'win', role: 'AXWindow' }], focusedElement: 'win' });
  const started = Date.now();
  assert.equal(insert('echo hi', TERMINAL).reason, 'tty_write_failed');
  const took = (Date.now() - started) / 1000;
  assert.ok(took >= 1.9 && took < 3, `took ${took} s`);
});

test('a tool that prints much more than a pipe holds does not stall the route', () => {
  sim.reset();
  osa = standInOsascript("head -c 3000000 /dev/zero | tr '\\0' x; exit 3");
  sim.tools.setPath('osascript', osa.file);
  addApp({ bundleID: TERMINAL, name: 'Terminal', windows: [{ id: 'win', role: 'AXWindow' }], focusedElement: 'win' });
  const started = Date.now();
  assert.equal(insert('echo hi', TERMINAL).reason, 'tty_write_failed');
  assert.ok(Date.now() - started < 1900, 'answered before the bound: the pipe was drained');
});

test('a process that may not type into a terminal declines at once, starting nothing', () => {
  // Without CAP_SYS_ADMIN, Linux types only into the caller's own
  // controlling terminal (as macOS does for everyone but the superuser).
  const probe = spawnSync('setpriv', ['--bounding-set=-sys_admin', '--inh-caps=-sys_admin', 'true']);
  if (probe.status !== 0) {
    assert.fail('setpriv cannot drop CAP_SYS_ADMIN here; install util-linux');
  }
  const script = `
    const { addon, sim } = require(${JSON.stringify(path.join(__dirname, 'helpers.js'))});
    const { Terminal, standInOsascript } = require(${JSON.stringify(path.join(__dirname, 'terminal.js'))});
    (async () => {
      const t = await Terminal.start('bash', ['--norc', '--noprofile', '-i']);
      await new Promise((r) => setTimeout(r, 300));
      const osa = standInOsascript("echo " + t.path);
      sim.tools.setPath('osascript', osa.file);
      sim.apps.add({ pid: 9, bundleID: 'com.apple.Terminal', name: 'Terminal', windows: [{ id: 'w', role: 'AXWindow' }], focusedElement: 'w' });
      sim.apps.setFrontmost(9);
      sim.log.take();
      const { reason } = JSON.parse(addon.insertTextIntoFocusedElement('echo refused', 'com.apple.Terminal'));
      const spawned = sim.log.take().filter((e) => e.op === 'spawn').map((e) => e.path);
      await new Promise((r) => setTimeout(r, 200));
      const typed = t.text.includes('refused');
      console.log(JSON.stringify({ reason, spawned, focusedSets: sim.ax.inspect('w').focusedSets, typed }));
      t.close(); osa.remove();
    })();`;
  const r = spawnSync('setpriv', ['--bounding-set=-sys_admin', '--inh-caps=-sys_admin', process.execPath, '-e', script],
    { encoding: 'utf8', timeout: 20000, env: nodeEnv() });
  assert.deepEqual(JSON.parse(r.stdout || 'null'), { reason: 'tty_write_failed', spawned: [], focusedSets: 1, typed: false },
    r.stderr);
});
