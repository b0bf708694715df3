'use strict';
// A real desktop for the tests: Xvfb, a window manager, a private session bus
// and the accessibility bus, then real GTK 3, GTK 4, Qt 5 and Chromium
// windows launched as a desktop launches them, and an AT-SPI reader of our
// own (reader.py) that tells what a field really holds. Every process it
// starts is stopped on every path: stop(), a test's failure, an exception,
// SIGINT/SIGTERM/SIGHUP, process exit, and (through reaper.py) a SIGKILL of
// the test process. tests/desktop/README.md has the details.
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');

// Debian's interpreter, which has python3-gi: a pyenv or venv python3 may
// come first on PATH.
const PYTHON = '/usr/bin/python3';
const HERE = __dirname;
const TIMEOUT_MS = 15000;
const MARKER = 'PELMORA_DESKTOP_RUN';
const APP_MARKER = 'PELMORA_DESKTOP_APP';

const KINDS = {
  'gtk3-entry': { toolkit: 'gtk3', widget: 'entry', fields: ['entry'], title: 'Pelmora Test GTK 3 Entry' },
  'gtk3-textview': { toolkit: 'gtk3', widget: 'textview', fields: ['textview'], title: 'Pelmora Test GTK 3 Text View' },
  'gtk3-two-entries': { toolkit: 'gtk3', widget: 'two-entries', fields: ['first', 'second'], title: 'Pelmora Test GTK 3 Two Entries' },
  'gtk4-entry': { toolkit: 'gtk4', widget: 'entry', fields: ['entry'], title: 'Pelmora Test GTK 4 Entry' },
  'qt5-lineedit': { toolkit: 'qt5', fields: ['lineedit', 'second'], title: 'Pelmora Test Qt 5 Line Edit' },
  // A VTE terminal running bash; launch it with waitForFocus false and wait
  // for its prompt (its text is the screen's, not a field's).
  'gtk3-terminal': { toolkit: 'gtk3', widget: 'terminal', fields: ['terminal'], title: 'Pelmora Test Terminal', packages: ['gir1.2-vte-2.91'] },
  // Chromium clears its /proc/PID/environ (its process title is written
  // over it), so GIO_LAUNCHED_DESKTOP_FILE cannot name it: its desktop id is
  // Debian's own, which our file shadows in the private XDG data dir.
  chromium: { toolkit: 'chromium', fields: ['input', 'textarea', 'contenteditable'], focus: 'textarea', title: 'Pelmora Test Chromium', id: 'chromium' },
};

// Debian packages: what every desktop needs, then what each kind adds.
const BASE_PACKAGES = ['xvfb', 'dbus-daemon', 'at-spi2-core', 'matchbox-window-manager', 'x11-utils',
  'python3', 'python3-gi', 'gir1.2-atspi-2.0'];
const TOOLKIT_PACKAGES = {
  gtk3: ['gir1.2-gtk-3.0'],
  gtk4: ['gir1.2-gtk-4.0'],
  qt5: ['python3-pyqt5'],
  chromium: ['chromium'],
};

function packagesFor(kinds) {
  const set = new Set(BASE_PACKAGES);
  for (const kind of kinds) {
    if (!KINDS[kind]) throw new Error(`unknown application kind ${kind}; known: ${Object.keys(KINDS).join(', ')}`);
    for (const p of [...TOOLKIT_PACKAGES[KINDS[kind].toolkit], ...(KINDS[kind].packages || [])]) set.add(p);
  }
  return [...set];
}

// The packages the given kinds (all by default) need that dpkg does not
// have installed.
function missingPackages(kinds = Object.keys(KINDS)) {
  const wanted = packagesFor(kinds);
  const r = spawnSync('dpkg-query', ['-W', '-f=${Package} ${Status}\n', ...wanted], { encoding: 'utf8' });
  if (r.error) return wanted;  // not a Debian system: nothing can be known to be there
  const installed = new Set(r.stdout.split('\n').filter((l) => l.endsWith(' install ok installed'))
    .map((l) => l.split(' ')[0].split(':')[0]));
  return wanted.filter((p) => !installed.has(p));
}

function installCommand(missing) {
  return `apt-get install -y --no-install-recommends ${missing.join(' ')}`;
}

// For node:test: true when the desktop can run. Otherwise, outside CI, the
// test is skipped with the command that installs what is missing; in CI it
// fails.
function requireDesktop(t, kinds = Object.keys(KINDS)) {
  const missing = missingPackages(kinds);
  if (!missing.length) return true;
  const message = `the desktop tests need ${missing.join(', ')}; install with: ${installCommand(missing)}`;
  if (process.env.CI) throw new Error(message);
  process.stderr.write(`${message}\n`);
  t.skip(message);
  return false;
}

// ---------------------------------------------------------------------------
// Processes

const live = new Set();  // desktops not yet stopped

function tail(buffer, more) {
  const next = buffer + more;
  return next.length > 4000 ? next.slice(-4000) : next;
}

// One started process, in a session and process group of its own (so that
// what it forks is signalled with it). Nothing here keeps node's event loop
// alive: a forgotten stop() must not hang a test file, and the exit handler
// cleans up.
class Proc {
  constructor(name, command, args, { env, stdio = ['ignore', 'ignore', 'pipe'] }) {
    this.name = name;
    this.stderr = '';
    this.exit = null;
    this.child = spawn(command, args, { env, stdio, detached: true });
    this.pid = this.child.pid;
    this.exited = new Promise((resolve) => {
      this.child.once('error', (e) => { this.exit = { error: e.message }; resolve(this.exit); });
      this.child.once('exit', (code, signal) => { this.exit = { code, signal }; resolve(this.exit); });
    });
    if (this.child.stderr) {
      this.child.stderr.setEncoding('utf8');
      this.child.stderr.on('data', (d) => { this.stderr = tail(this.stderr, d); });
    }
    this.child.unref();
    for (const s of this.child.stdio) if (s && s.unref) s.unref();
  }

  get running() { return this.exit === null && this.pid !== undefined; }

  // What went wrong, for an error message.
  why() {
    const parts = [];
    if (this.exit) parts.push(this.exit.error ? `could not start: ${this.exit.error}` : `exited (${this.exit.signal || `status ${this.exit.code}`})`);
    const err = this.stderr.trim();
    if (err) parts.push(`its stderr ends:\n${err.split('\n').slice(-12).join('\n')}`);
    return parts.length ? `; ${this.name} ${parts.join('; ')}` : '';
  }

  signal(sig) {
    if (this.pid === undefined || this.exit) return;
    try { process.kill(-this.pid, sig); } catch { /* already gone */ }
  }

  // SIGTERM (a stopped process needs SIGCONT to see it), then SIGKILL.
  async stop(graceMs = 3000) {
    if (!this.running) return this.exit;
    this.signal('SIGCONT');
    this.signal('SIGTERM');
    if (await within(this.exited, graceMs) === undefined) {
      this.signal('SIGKILL');
      await within(this.exited, 2000);
    }
    return this.exit;
  }

  killSync() {
    this.signal('SIGCONT');
    this.signal('SIGKILL');
  }
}

function within(promise, ms) {
  let timer;
  return Promise.race([promise, new Promise((resolve) => { timer = setTimeout(resolve, ms, undefined); })])
    .finally(() => clearTimeout(timer));
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls check() until it answers something truthy. On time out the error
// names what did not happen and the last thing seen.
async function waitFor(check, { timeoutMs = TIMEOUT_MS, intervalMs = 100, what = 'the condition' } = {}) {
  const end = Date.now() + timeoutMs;
  let last;
  for (;;) {
    try {
      const value = await check();
      if (value) return value;
      last = value;
    } catch (e) {
      last = e;
    }
    if (Date.now() >= end) {
      const seen = last instanceof Error ? last.message : JSON.stringify(last);
      throw new Error(`${what} did not happen within ${timeoutMs} ms (last seen: ${seen})`);
    }
    await sleep(intervalMs);
  }
}

// The first line a process writes on one of its streams (nothing else
// arrives before it is answered).
function firstLine(proc, stream, what, timeoutMs) {
  return new Promise((resolve, reject) => {
    let buffer = '';
    const done = (fn, value) => {
      clearTimeout(timer);
      stream.removeListener('data', onData);
      fn(value);
    };
    const onData = (d) => {
      buffer += d;
      const nl = buffer.indexOf('\n');
      if (nl >= 0) done(resolve, buffer.slice(0, nl).trim());
    };
    const timer = setTimeout(() => done(reject, new Error(`${what} within ${timeoutMs} ms${proc.why()}`)), timeoutMs);
    stream.setEncoding('utf8');
    stream.on('data', onData);
    proc.exited.then(() => setTimeout(() => {
      if (buffer.indexOf('\n') < 0) done(reject, new Error(`${what}${proc.why()}`));
    }, 50));
  });
}

// The live processes (zombies left out) of a run: those in one of its
// sessions, and those whose environment carries its marker, which finds what
// left its session (Chromium's crash handler). Chromium overwrites its own
// environment block with its process title, so the sessions are needed too.
function runPids(marker, sessions = new Set()) {
  const needle = `\0${marker}\0`;
  const out = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry) || Number(entry) === process.pid) continue;
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'latin1');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      if (fields[0] === 'Z' || fields[0] === 'X') continue;
      if (sessions.has(Number(fields[3])) ||
          ('\0' + fs.readFileSync(`/proc/${entry}/environ`, 'latin1')).includes(needle)) out.push(Number(entry));
    } catch { /* gone, or not ours to read */ }
  }
  return out;
}

function killPids(pids, sig) {
  for (const pid of pids) {
    try { process.kill(pid, sig); } catch { /* gone */ }
  }
}

async function sweep(marker, sessions) {
  const pids = () => runPids(marker, sessions);
  killPids(pids(), 'SIGCONT');
  killPids(pids(), 'SIGTERM');
  const end = Date.now() + 2000;
  while (pids().length && Date.now() < end) await sleep(50);
  killPids(pids(), 'SIGKILL');
  const hard = Date.now() + 2000;
  while (pids().length && Date.now() < hard) await sleep(50);
  return pids();
}

let handlersInstalled = false;
function installHandlers() {
  if (handlersInstalled) return;
  handlersInstalled = true;
  process.on('exit', () => { for (const d of live) d.killSync(); });
  for (const sig of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
    const handler = () => {
      for (const d of live) d.killSync();
      process.removeListener(sig, handler);
      // With no other listener, the signal's default action ends the process.
      if (process.listenerCount(sig) === 0) process.kill(process.pid, sig);
    };
    process.on(sig, handler);
  }
}

// Requests answered by id, each bounded in time: the reader's, the Python
// applications' and Chromium's DevTools protocol.
class Pending {
  constructor() {
    this.nextId = 1;
    this.map = new Map();
  }

  // write(id) sends the request; onTimeout runs when it gets no answer.
  open(label, timeoutMs, write, onTimeout) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.map.delete(id);
        reject(new Error(`${label}: no answer within ${timeoutMs} ms`));
        if (onTimeout) onTimeout();
      }, timeoutMs);
      this.map.set(id, { label, resolve, reject, timer });
      write(id);
    });
  }

  // error, when given, makes the Error from the request's label.
  settle(id, result, error) {
    const p = this.map.get(id);
    if (!p) return;
    this.map.delete(id);
    clearTimeout(p.timer);
    if (error) p.reject(error(p.label));
    else p.resolve(result);
  }

  failAll(why) {
    for (const [, p] of this.map) {
      clearTimeout(p.timer);
      p.reject(new Error(`${p.label}: ${why}`));
    }
    this.map.clear();
  }
}

// ---------------------------------------------------------------------------
// The reader

class ReaderError extends Error {
  constructor(op, error) {
    super(`reader ${op}: ${error.message} (${error.code})`);
    this.op = op;
    this.code = error.code;
  }
}

// The long-running AT-SPI client (reader.py). Its requests are answered in
// order; one that takes longer than its bound restarts the reader.
class Reader {
  constructor(desktop) {
    this.desktop = desktop;
    this.proc = null;
    this.pending = new Pending();
    this.startedMs = null;
  }

  async start(timeoutMs = TIMEOUT_MS) {
    const t0 = Date.now();
    const proc = new Proc('the AT-SPI reader', PYTHON, [path.join(HERE, 'reader.py')], {
      env: { ...this.desktop.env, PELMORA_READER_STARTUP_MS: String(timeoutMs) },
      stdio: ['pipe', 'pipe', 'pipe'],
    });
    this.desktop.track(proc);
    // Its own wait is bounded by timeoutMs; ours leaves it time to say why.
    const hello = JSON.parse(await firstLine(proc, proc.child.stdout, 'the AT-SPI reader did not get ready', timeoutMs + 2000));
    if (hello.event !== 'ready') throw new Error(`the AT-SPI reader could not reach the accessibility bus: ${hello.message}`);
    readline.createInterface({ input: proc.child.stdout }).on('line', (l) => this.answer(l));
    proc.exited.then(() => this.pending.failAll(`the AT-SPI reader exited${proc.why()}`));
    this.proc = proc;
    this.startedMs = Date.now() - t0;
    return hello;
  }

  answer(line) {
    let msg;
    try { msg = JSON.parse(line); } catch { return; }
    this.pending.settle(msg.id, msg.result, !msg.ok && ((op) => new ReaderError(op, msg.error)));
  }

  // One request; args.timeoutMs bounds the reader's own work (5 s by default).
  async request(op, args = {}) {
    if (!this.proc || !this.proc.running) await this.start();
    // Past its own bound plus slack the reader is wedged: the next request
    // starts another.
    const proc = this.proc;
    return this.pending.open(op, (args.timeoutMs || 5000) + 3000,
      (id) => proc.child.stdin.write(JSON.stringify({ id, op, args }) + '\n'), () => proc.stop(500));
  }

  // The focused accessible of pid's active window: role, name, states,
  // interfaces, text, caret, selections (characters, as AT-SPI counts).
  field(pid, options = {}) { return this.request('field', { pid, ...options }); }

  // {pid, name, window} of the application whose window is active, or null.
  async activeApp(options = {}) { return (await this.request('activeApp', options)).active; }

  // Every application on the bus, with its windows.
  apps(options = {}) { return this.request('apps', options); }

  // Moves the focus to pid's accessible of that name (Component.GrabFocus).
  focus(pid, name, options = {}) { return this.request('focus', { pid, name, ...options }); }

  // Component.GrabFocus on pid's first window.
  activate(pid, options = {}) { return this.request('activate', { pid, ...options }); }

  // The accessible of that name, focused or not.
  describe(pid, name, options = {}) { return this.request('describe', { pid, name, ...options }); }

  async stop() {
    if (!this.proc) return;
    this.proc.child.stdin.end();
    if (await within(this.proc.exited, 1000) === undefined) await this.proc.stop(1000);
  }
}

// ---------------------------------------------------------------------------
// The desktop

function childEnvironment() {
  const env = { ...process.env };
  // What would point a client at another desktop, or turn accessibility off.
  for (const name of Object.keys(env)) {
    if (/^(DISPLAY|WAYLAND_DISPLAY|WAYLAND_SOCKET|DBUS_SESSION_BUS_ADDRESS|AT_SPI_BUS_ADDRESS|AT_SPI_DISPLAY|NO_AT_BRIDGE|GTK_A11Y|GTK_MODULES|GNOME_ACCESSIBILITY|SESSION_MANAGER|XAUTHORITY|XDG_[A-Z_]+|QT_[A-Z_]+|GIO_LAUNCHED_[A-Z_]+|DESKTOP_STARTUP_ID|XDG_ACTIVATION_TOKEN|GDK_BACKEND|ACCESSIBILITY_ENABLED|PELMORA_DESKTOP_[A-Z_]+)$/.test(name)) delete env[name];
  }
  return env;
}

function busConfig(dir) {
  // A session bus that activates nothing: every process on it is one the
  // harness started and stops.
  return `<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=${dir}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
`;
}

class Desktop {
  constructor(options) {
    this.options = options;
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pelmora-desktop-'));
    fs.chmodSync(this.dir, 0o700);
    this.marker = `${MARKER}=${this.dir}`;
    this.procs = [];
    this.apps = [];
    this.ids = new Map();
    this.timings = {};
    this.stopped = false;
    this.reader = new Reader(this);
    for (const d of ['runtime', 'data/applications', 'config', 'cache', 'state', 'home', 'apps']) {
      fs.mkdirSync(path.join(this.dir, d), { recursive: true, mode: 0o700 });
    }
  }

  track(proc) {
    this.procs.push(proc);
    // The reaper learns each session, to end it should we die unannounced.
    if (this.reaper && this.reaper.running && proc.pid) this.reaper.child.stdin.write(`${proc.pid}\n`);
    return proc;
  }

  spawn(name, command, args, options = {}) {
    return this.track(new Proc(name, command, args, { env: this.env, ...options }));
  }

  async start() {
    const { width = 1280, height = 1024, timeoutMs = TIMEOUT_MS, a11y = true, accessibilityBus = true, windowManager = true } = this.options;
    const t0 = Date.now();
    // Stdin held open by us alone: its end, on any exit of ours, sets it off.
    this.reaper = this.track(new Proc('the reaper', PYTHON, [path.join(HERE, 'reaper.py'), this.marker], {
      env: childEnvironment(), stdio: ['pipe', 'ignore', 'pipe'],
    }));

    const base = { ...childEnvironment(), [MARKER]: this.dir, HOME: path.join(this.dir, 'home'), LANG: 'C.UTF-8' };
    const xvfb = this.track(new Proc('Xvfb', 'Xvfb', ['-displayfd', '3', '-screen', '0', `${width}x${height}x24`, '-nolisten', 'tcp', '-noreset'], {
      env: base, stdio: ['ignore', 'ignore', 'pipe', 'pipe'],
    }));
    const display = await firstLine(xvfb, xvfb.child.stdio[3], 'Xvfb did not report its display number', timeoutMs);
    if (!/^\d+$/.test(display)) throw new Error(`Xvfb reported ${JSON.stringify(display)} for its display number`);
    this.display = `:${display}`;
    this.timings.xvfbMs = Date.now() - t0;

    const t1 = Date.now();
    fs.writeFileSync(path.join(this.dir, 'session.conf'), busConfig(path.join(this.dir, 'runtime')));
    const dbus = this.track(new Proc('the session bus', 'dbus-daemon', [`--config-file=${path.join(this.dir, 'session.conf')}`, '--nofork', '--print-address=3'], {
      env: base, stdio: ['ignore', 'ignore', 'pipe', 'pipe'],
    }));
    this.busAddress = await firstLine(dbus, dbus.child.stdio[3], 'dbus-daemon did not print its address', timeoutMs);
    this.timings.sessionBusMs = Date.now() - t1;

    this.env = {
      ...base,
      DISPLAY: this.display,
      DBUS_SESSION_BUS_ADDRESS: this.busAddress,
      XDG_RUNTIME_DIR: path.join(this.dir, 'runtime'),
      XDG_DATA_HOME: path.join(this.dir, 'data'),
      XDG_CONFIG_HOME: path.join(this.dir, 'config'),
      XDG_CACHE_HOME: path.join(this.dir, 'cache'),
      XDG_STATE_HOME: path.join(this.dir, 'state'),
      XDG_DATA_DIRS: process.env.XDG_DATA_DIRS || '/usr/local/share:/usr/share',
      XDG_CONFIG_DIRS: process.env.XDG_CONFIG_DIRS || '/etc/xdg',
      XDG_SESSION_TYPE: 'x11',
      // No dconf service on this bus: settings live in each process.
      GSETTINGS_BACKEND: 'memory',
      ...(a11y ? { QT_ACCESSIBILITY: '1', QT_LINUX_ACCESSIBILITY_ALWAYS_ON: '1', ACCESSIBILITY_ENABLED: '1' } : {}),
    };

    const t2 = Date.now();
    if (windowManager) this.spawn('the window manager', 'matchbox-window-manager', ['-use_titlebar', 'no', '-use_cursor', 'no']);
    if (accessibilityBus) {
      this.spawn('the accessibility bus launcher', '/usr/libexec/at-spi-bus-launcher', ['--launch-immediately', `--a11y=${a11y ? 1 : 0}`]);
    }
    const waits = [];
    if (windowManager) waits.push(this.waitForWindowManager(timeoutMs).then(() => { this.timings.windowManagerMs = Date.now() - t2; }));
    if (accessibilityBus) {
      waits.push(this.reader.start(timeoutMs).then((hello) => {
        this.atspiBusAddress = hello.busAddress;
        this.a11yEnabled = hello.isEnabled;
        this.timings.accessibilityBusMs = Date.now() - t2;
      }));
    }
    await Promise.all(waits);
    this.timings.totalMs = Date.now() - t0;
    return this;
  }

  async waitForWindowManager(timeoutMs) {
    const wm = this.procs.find((p) => p.name === 'the window manager');
    await waitFor(() => {
      if (!wm.running) throw new Error(`the window manager is not running${wm.why()}`);
      const r = spawnSync('xprop', ['-root', '-notype', '_NET_SUPPORTING_WM_CHECK'], { env: this.env, encoding: 'utf8', timeout: 2000 });
      return /window id/.test(r.stdout || '');
    }, { timeoutMs, intervalMs: 50, what: `the window manager taking ${this.display}` });
  }

  // A desktop id not yet used on this desktop.
  desktopId(kind, wanted) {
    const base = wanted || `pelmora-test-${kind}`;
    const n = (this.ids.get(base) || 0) + 1;
    this.ids.set(base, n);
    return n === 1 ? base : `${base}-${n}`;
  }

  launch(kind, options) { return launchApp(this, kind, options); }

  // Processes of this run still alive (zombies left out), by pid.
  pids() { return runPids(this.marker, this.sessions()); }

  // The sessions of what it started (each started process leads its own).
  sessions() { return new Set(this.procs.filter((p) => p !== this.reaper && p.pid).map((p) => p.pid)); }

  async stop() {
    if (this.stopped) return { left: [] };
    this.stopped = true;
    for (const app of this.apps) await app.stop().catch(() => {});
    await this.reader.stop().catch(() => {});
    // The launcher takes its bus down and clears the X property itself.
    for (const proc of [...this.procs].reverse()) if (proc !== this.reaper) await proc.stop();
    const left = await sweep(this.marker, this.sessions());
    if (this.reaper.running) {
      this.reaper.child.stdin.end();
      await within(this.reaper.exited, 5000);
    }
    fs.rmSync(this.dir, { recursive: true, force: true });
    live.delete(this);
    return { left };
  }

  // For the exit and signal handlers: nothing asynchronous.
  killSync() {
    for (const proc of this.procs) proc.killSync();
    const pids = runPids(this.marker, this.sessions());
    killPids(pids, 'SIGCONT');
    killPids(pids, 'SIGKILL');
    try { fs.rmSync(this.dir, { recursive: true, force: true }); } catch { /* best effort */ }
    live.delete(this);
  }
}

// Starts a desktop. options: width, height (1280 x 1024), timeoutMs (15000,
// for each step), a11y (true: org.a11y.Status IsEnabled and the toolkits'
// variables; false: the bus runs with accessibility off), accessibilityBus
// (true; false: no launcher, no bus), windowManager (true).
// Answers the desktop: { env, display, busAddress, atspiBusAddress, reader,
// timings, launch(kind, options), pids(), stop() }.
async function startDesktop(options = {}) {
  installHandlers();
  const desktop = new Desktop(options);
  live.add(desktop);
  try {
    return await desktop.start();
  } catch (e) {
    await desktop.stop();
    throw e;
  }
}

// ---------------------------------------------------------------------------
// Applications

function desktopExecArg(arg) {
  // Desktop Entry quoting: reserved characters inside double quotes, with
  // ", `, $ and \ escaped.
  if (!/[\s"'\\><~|&;$*?#()`]/.test(arg)) return arg;
  return `"${arg.replace(/(["`$\\])/g, '\\$1')}"`;
}

function writeDesktopFile(desktop, id, name, argv) {
  const file = path.join(desktop.env.XDG_DATA_HOME, 'applications', `${id}.desktop`);
  fs.writeFileSync(file, ['[Desktop Entry]', 'Type=Application', `Name=${name}`,
    `Exec=${argv.map(desktopExecArg).join(' ')}`, 'Terminal=false', `StartupWMClass=${id}`, ''].join('\n'));
  return file;
}

// The field set-up an application gets: text, caret and selection of each
// field, by name. options.text/caret/selection are the focused field's.
function fieldSetups(kindInfo, options, focusName) {
  return kindInfo.fields.map((name) => {
    const own = (options.fields && options.fields[name]) || {};
    const merged = { name, text: '', ...own };
    if (name === focusName) {
      for (const k of ['text', 'caret', 'selection']) if (options[k] !== undefined) merged[k] = options[k];
    }
    return merged;
  });
}

function expectedField(setup) {
  const length = [...setup.text].length;
  const caret = setup.selection ? setup.selection[1] : (setup.caret === undefined ? length : setup.caret);
  return { name: setup.name, text: setup.text, caret, selection: setup.selection && setup.selection[0] !== setup.selection[1] ? setup.selection : null };
}

// What the reader should see of a field set up as want, in AT-SPI's offsets
// as each toolkit really gives them: Qt 5 counts UTF-16 units, and
// Chromium's selection offsets are wrong past a character outside the BMP
// (converted from UTF-16 twice), so they are not compared there.
function asReported(kind, want) {
  if (KINDS[kind].toolkit === 'qt5') {
    const units = (n) => [...want.text].slice(0, n).join('').length;
    return { ...want, caret: units(want.caret), selection: want.selection && want.selection.map(units) };
  }
  if (KINDS[kind].toolkit === 'chromium' && want.selection && /[\u{10000}-\u{10FFFF}]/u.test([...want.text].slice(0, want.selection[1]).join(''))) {
    return { ...want, selection: undefined };
  }
  return want;
}

// How the reader's view differs from what the set-up asked for, or null.
function fieldMismatch(field, want) {
  if (!field.states.includes('focused')) return `${field.role} ${JSON.stringify(field.name)} is not focused`;
  if (field.name !== want.name) return `the focus is on ${field.role} ${JSON.stringify(field.name)}, not ${JSON.stringify(want.name)}`;
  if (field.text !== want.text) return `${want.name} holds ${JSON.stringify(field.text)}, not ${JSON.stringify(want.text)}`;
  if (field.caret !== want.caret) return `${want.name}'s caret is at ${field.caret}, not ${want.caret}`;
  const sel = field.selections.find((s) => s[0] !== s[1]) || null;
  if (want.selection !== undefined && JSON.stringify(sel) !== JSON.stringify(want.selection)) {
    return `${want.name}'s selection is ${JSON.stringify(sel)}, not ${JSON.stringify(want.selection)}`;
  }
  return null;
}

class App {
  constructor(desktop, kind, proc, info) {
    Object.assign(this, info);
    this.desktop = desktop;
    this.kind = kind;
    this.proc = proc;
    this.pid = proc.pid;
  }

  // A request over the application's own control channel.
  async control(op, args = {}, timeoutMs = 5000) {
    if (!this.proc.running) throw new Error(`${this.desktopId} (pid ${this.pid}) is not running${this.proc.why()}`);
    return this.channel.request(op, args, timeoutMs);
  }

  // Field set-up through the toolkit, not through AT-SPI. Offsets in
  // characters. Each answers the toolkit's own view of the field.
  setText(field, text, placement = {}) { return this.control('setText', { field: this.fieldIndex(field), text, ...placement }); }
  select(field, start, end = start) { return this.control('select', { field: this.fieldIndex(field), start, end }); }
  focusField(field) { return this.control('focus', { field: this.fieldIndex(field) }); }
  present() { return this.control('present'); }
  state() { return this.control('state'); }

  fieldIndex(field) {
    if (typeof field === 'number') return field;
    const i = this.fields.indexOf(field);
    if (i < 0) throw new Error(`${this.desktopId} has no field ${field}; it has ${this.fields.join(', ')}`);
    return i;
  }

  pause() { this.proc.signal('SIGSTOP'); }
  resume() { this.proc.signal('SIGCONT'); }

  // Asks the application to quit as a user would, and waits for it.
  async quit(timeoutMs = 5000) {
    if (!this.proc.running) return this.proc.exit;
    this.resume();
    await this.channel.quit(timeoutMs).catch(() => {});
    if (await within(this.proc.exited, timeoutMs) === undefined) {
      throw new Error(`${this.desktopId} (pid ${this.pid}) did not quit within ${timeoutMs} ms`);
    }
    await this.sweep();
    return this.proc.exit;
  }

  async stop() {
    await this.proc.stop();
    await this.sweep();
    return this.proc.exit;
  }

  async sweep() {
    const left = await sweep(`${APP_MARKER}=${this.appToken}`, new Set([this.pid]));
    if (left.length) throw new Error(`${this.desktopId}: processes ${left.join(', ')} outlived it`);
  }
}

// The Python applications' channel: JSON lines on stdin/stdout.
class PipeChannel {
  constructor(proc) {
    this.proc = proc;
    this.pending = new Pending();
    this.events = [];
    this.waiters = [];
    const lines = readline.createInterface({ input: proc.child.stdout });
    lines.on('line', (line) => {
      let msg;
      try { msg = JSON.parse(line); } catch { return; }
      if (msg.event) {
        this.events.push(msg);
        for (const w of this.waiters.splice(0)) w();
        return;
      }
      this.pending.settle(msg.id, msg.result, !msg.ok && ((op) => new Error(`${op}: ${msg.error}`)));
    });
    proc.exited.then(() => {
      this.pending.failAll(`the application exited${proc.why()}`);
      for (const w of this.waiters.splice(0)) w();
    });
  }

  async event(name, timeoutMs, what) {
    const end = Date.now() + timeoutMs;
    for (;;) {
      const found = this.events.find((e) => e.event === name);
      if (found) return found;
      if (!this.proc.running) throw new Error(`${what}${this.proc.why()}`);
      const left = end - Date.now();
      if (left <= 0) throw new Error(`${what} within ${timeoutMs} ms${this.proc.why()}`);
      await within(new Promise((resolve) => this.waiters.push(resolve)), left);
    }
  }

  request(op, args, timeoutMs) {
    return this.pending.open(op, timeoutMs, (id) => this.proc.child.stdin.write(JSON.stringify({ id, op, ...args }) + '\n'));
  }

  quit(timeoutMs) { return this.request('quit', {}, timeoutMs); }
}

async function launchPython(desktop, kind, kindInfo, options, info) {
  const script = path.join(HERE, 'apps', kindInfo.toolkit === 'qt5' ? 'qt5_app.py' : 'gtk_app.py');
  const config = path.join(desktop.dir, 'apps', `${info.desktopId}.json`);
  fs.writeFileSync(config, JSON.stringify({
    toolkit: kindInfo.toolkit, widget: kindInfo.widget, title: info.title, prgname: info.prgname,
    focus: kindInfo.fields.indexOf(info.focusName), fields: info.setups,
  }));
  const argv = [PYTHON, script, config];
  const proc = startLaunched(desktop, info, argv, { PYTHONIOENCODING: 'utf-8', PYTHONDONTWRITEBYTECODE: '1', ...options.env });
  const app = new App(desktop, kind, proc, info);
  app.channel = new PipeChannel(proc);
  desktop.apps.push(app);
  await app.channel.event('ready', options.timeoutMs || TIMEOUT_MS, `${info.desktopId} did not show its window`);
  return app;
}

// Starts argv as a desktop starts a desktop file's Exec: GIO sets
// GIO_LAUNCHED_DESKTOP_FILE to the file and GIO_LAUNCHED_DESKTOP_FILE_PID to
// the launched process (which exec keeps).
function startLaunched(desktop, info, argv, extraEnv, stdio = ['pipe', 'pipe', 'pipe']) {
  info.desktopFile = writeDesktopFile(desktop, info.desktopId, info.name, argv);
  const env = { ...desktop.env, GIO_LAUNCHED_DESKTOP_FILE: info.desktopFile, [APP_MARKER]: info.appToken, ...extraEnv };
  for (const [k, v] of Object.entries(env)) if (v === null || v === undefined) delete env[k];  // env: {NAME: null} unsets
  return desktop.spawn(info.desktopId, '/bin/sh', ['-c', 'GIO_LAUNCHED_DESKTOP_FILE_PID=$$; export GIO_LAUNCHED_DESKTOP_FILE_PID; exec "$@"', 'sh', ...argv], {
    env, stdio,
  });
}

// ---- Chromium: a local page, driven over the DevTools pipe (fds 3 and 4)

function pageHtml(setups, elements) {
  const attr = (s) => s.replace(/&/g, '&amp;').replace(/"/g, '&quot;').replace(/</g, '&lt;');
  const text = (s) => s.replace(/&/g, '&amp;').replace(/</g, '&lt;');
  const byName = Object.fromEntries(setups.map((s) => [s.name, s]));
  const filler = [];
  for (let i = 0; i < elements; i++) {
    // A mixture of what pages hold: paragraphs, links, buttons, list items.
    const k = i % 4;
    filler.push(k === 0 ? `<p>Paragraph ${i}</p>` : k === 1 ? `<a href="#a${i}">Link ${i}</a>`
      : k === 2 ? `<button>Button ${i}</button>` : `<li>Item ${i}</li>`);
  }
  return `<!doctype html>
<html><head><meta charset="utf-8"><title>Pelmora test page</title></head>
<body>
<input id="input" aria-label="input" value="${attr(byName.input.text)}">
<textarea id="textarea" aria-label="textarea">${text(byName.textarea.text)}</textarea>
<div id="contenteditable" aria-label="contenteditable" role="textbox" contenteditable="true">${text(byName.contenteditable.text)}</div>
<div id="filler">${filler.join('\n')}</div>
<script>
// Offsets in characters (code points); the DOM counts UTF-16 units.
const units = (s, chars) => [...s].slice(0, chars).join('').length;
const chars = (s, u) => [...s.slice(0, u)].length;
const el = (name) => document.getElementById(name);
window.pelmora = {
  select(name, start, end) {
    const e = el(name);
    if (name === 'contenteditable') {
      const node = e.firstChild || e.appendChild(document.createTextNode(''));
      const s = node.textContent;
      const r = document.createRange();
      r.setStart(node, units(s, start));
      r.setEnd(node, units(s, end));
      const sel = getSelection();
      sel.removeAllRanges();
      sel.addRange(r);
    } else {
      e.setSelectionRange(units(e.value, start), units(e.value, end));
    }
    return this.state(name);
  },
  setText(name, text) {
    const e = el(name);
    if (name === 'contenteditable') e.textContent = text; else e.value = text;
    return this.state(name);
  },
  focus(name) { el(name).focus(); return this.state(name); },
  state(name) {
    const e = el(name);
    if (name === 'contenteditable') {
      const s = e.textContent;
      const sel = getSelection();
      const inside = sel.rangeCount && e.contains(sel.anchorNode);
      const a = inside ? chars(s, sel.getRangeAt(0).startOffset) : null;
      const b = inside ? chars(s, sel.getRangeAt(0).endOffset) : null;
      return { name, text: s, caret: b, selection: inside && a !== b ? [a, b] : null, focused: document.activeElement === e };
    }
    const s = e.value;
    const a = chars(s, e.selectionStart), b = chars(s, e.selectionEnd);
    return { name, text: s, caret: b, selection: a !== b ? [a, b] : null, focused: document.activeElement === e };
  },
};
</script>
</body></html>
`;
}

// The DevTools protocol over --remote-debugging-pipe: JSON messages ended
// by NUL, ours on the browser's fd 3, its own on fd 4.
class DevTools {
  constructor(proc) {
    this.proc = proc;
    this.out = proc.child.stdio[3];
    this.pending = new Pending();
    let buffer = '';
    const input = proc.child.stdio[4];
    input.setEncoding('utf8');
    input.on('data', (d) => {
      buffer += d;
      let end;
      while ((end = buffer.indexOf('\0')) >= 0) {
        const raw = buffer.slice(0, end);
        buffer = buffer.slice(end + 1);
        let msg;
        try { msg = JSON.parse(raw); } catch { continue; }
        // Events carry no id.
        if (msg.id !== undefined) this.pending.settle(msg.id, msg.result, msg.error && ((method) => new Error(`${method}: ${msg.error.message}`)));
      }
    });
    proc.exited.then(() => this.pending.failAll(`Chromium exited${proc.why()}`));
  }

  send(method, params = {}, sessionId, timeoutMs = 5000) {
    return this.pending.open(`Chromium ${method}`, timeoutMs,
      (id) => this.out.write(JSON.stringify({ id, method, params, ...(sessionId ? { sessionId } : {}) }) + '\0'));
  }

  async attach(timeoutMs) {
    const { targetInfos } = await waitFor(async () => {
      const r = await this.send('Target.getTargets');
      return r.targetInfos.some((t) => t.type === 'page' && t.url.startsWith('file:')) && r;
    }, { timeoutMs, what: 'Chromium opening the test page' });
    const page = targetInfos.find((t) => t.type === 'page' && t.url.startsWith('file:'));
    this.session = (await this.send('Target.attachToTarget', { targetId: page.targetId, flatten: true })).sessionId;
  }

  async evaluate(expression, timeoutMs = 5000) {
    const r = await this.send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true }, this.session, timeoutMs);
    if (r.exceptionDetails) throw new Error(`${expression}: ${r.exceptionDetails.exception ? r.exceptionDetails.exception.description : r.exceptionDetails.text}`);
    return r.result.value;
  }
}

// Chromium's channel: the same requests as the Python applications', served
// by the page's script.
class ChromiumChannel {
  constructor(devtools, fields) {
    this.devtools = devtools;
    this.fields = fields;
  }

  async request(op, args, timeoutMs) {
    const name = JSON.stringify(this.fields[args.field || 0]);
    const call = (expr) => this.devtools.evaluate(expr, timeoutMs);
    switch (op) {
      case 'setText': {
        let state = await call(`pelmora.setText(${name}, ${JSON.stringify(args.text)})`);
        if (args.selection || args.caret !== undefined) {
          const sel = args.selection || [args.caret, args.caret];
          state = await call(`pelmora.select(${name}, ${sel[0]}, ${sel[1]})`);
        }
        return state;
      }
      case 'select': return call(`pelmora.select(${name}, ${args.start}, ${args.end})`);
      case 'focus': return call(`pelmora.focus(${name})`);
      case 'present': return this.devtools.send('Page.bringToFront', {}, this.devtools.session, timeoutMs).then(() => true);
      case 'state': return call(`${JSON.stringify(this.fields)}.map((n) => pelmora.state(n))`);
      default: throw new Error(`unknown op ${op}`);
    }
  }

  quit(timeoutMs) { return this.devtools.send('Browser.close', {}, undefined, timeoutMs); }
}

async function launchChromium(desktop, kind, kindInfo, options, info) {
  const { width = 1024, height = 768, elements = 0, forceAccessibility = true } = options.chromium || {};
  const page = path.join(desktop.dir, 'apps', `${info.desktopId}.html`);
  fs.writeFileSync(page, pageHtml(info.setups, elements));
  const profile = path.join(desktop.dir, 'apps', `${info.desktopId}-profile`);
  const argv = ['chromium', '--no-sandbox', '--disable-gpu', '--no-first-run', '--no-default-browser-check',
    '--disable-background-networking', '--disable-component-update', '--disable-sync', '--disable-breakpad',
    '--password-store=basic', `--user-data-dir=${profile}`, ...(forceAccessibility ? ['--force-renderer-accessibility'] : []),
    '--remote-debugging-pipe', `--window-size=${width},${height}`, '--window-position=0,0', `file://${page}`];
  const proc = startLaunched(desktop, info, argv, options.env || {}, ['ignore', 'ignore', 'pipe', 'pipe', 'pipe']);
  const app = new App(desktop, kind, proc, info);
  desktop.apps.push(app);
  const devtools = new DevTools(proc);
  const timeoutMs = options.timeoutMs || TIMEOUT_MS;
  await devtools.attach(timeoutMs);
  await waitFor(() => devtools.evaluate("document.readyState === 'complete' && !!window.pelmora"),
    { timeoutMs, what: 'the test page loading' });
  app.channel = new ChromiumChannel(devtools, kindInfo.fields);
  app.devtools = devtools;
  const place = async (s) => {
    const want = expectedField(s);
    const sel = want.selection || [want.caret, want.caret];
    await app.control('select', { field: kindInfo.fields.indexOf(s.name), start: sel[0], end: sel[1] });
  };
  for (const s of info.setups) if (s.name !== info.focusName) await place(s);
  // The focused field last: a selection placed elsewhere may take the focus.
  await app.control('focus', { field: kindInfo.fields.indexOf(info.focusName) });
  await place(info.setups.find((s) => s.name === info.focusName));
  return app;
}

let appCounter = 0;

// Launches a real application window of one kind (see KINDS) through a
// desktop file in the desktop's own XDG data dir, then waits until its window
// is active and the requested field is focused, holding the requested text
// and caret, as the reader sees over AT-SPI.
// options: text, caret, selection (the focused field's, in characters),
// focus (field name), fields ({name: {text, caret, selection}}), id (desktop
// id), name (the desktop entry's Name), prgname, timeoutMs (15000), env,
// waitForFocus (true), chromium: {width, height, elements}.
// Answers { pid, kind, desktopId, desktopFile, name, fields, timings,
// stop(), quit(), pause(), resume(), setText(), select(), focusField(),
// present(), state() }.
async function launchApp(desktop, kind, options = {}) {
  const kindInfo = KINDS[kind];
  if (!kindInfo) throw new Error(`unknown application kind ${kind}; known: ${Object.keys(KINDS).join(', ')}`);
  const missing = missingPackages([kind]);
  if (missing.length) throw new Error(`${kind} needs ${missing.join(', ')}: ${installCommand(missing)}`);
  const focusName = options.focus || kindInfo.focus || kindInfo.fields[0];
  if (!kindInfo.fields.includes(focusName)) throw new Error(`${kind} has no field ${focusName}; it has ${kindInfo.fields.join(', ')}`);
  const desktopId = desktop.desktopId(kind, options.id || kindInfo.id);
  const info = {
    desktopId,
    name: options.name || kindInfo.title,
    title: kindInfo.title,
    prgname: options.prgname || desktopId,
    fields: kindInfo.fields,
    focusName,
    setups: fieldSetups(kindInfo, options, focusName),
    appToken: `${process.pid}-${++appCounter}`,
    timings: {},
  };
  const timeoutMs = options.timeoutMs || TIMEOUT_MS;
  const t0 = Date.now();
  try {
    const app = kindInfo.toolkit === 'chromium'
      ? await launchChromium(desktop, kind, kindInfo, options, info)
      : await launchPython(desktop, kind, kindInfo, options, info);
    app.timings.shownMs = Date.now() - t0;
    if (options.waitForFocus === false) return app;
    const want = asReported(kind, expectedField(info.setups.find((s) => s.name === focusName)));
    await waitFor(async () => {
      if (!app.proc.running) throw new Error(`it exited${app.proc.why()}`);
      const field = await desktop.reader.field(app.pid, { timeoutMs: 3000 });
      const wrong = fieldMismatch(field, want);
      if (wrong) throw new Error(wrong);
      return field;
    }, { timeoutMs, what: `${desktopId} (pid ${app.pid}) becoming active with ${focusName} focused` });
    app.timings.focusedMs = Date.now() - t0;
    return app;
  } catch (e) {
    // An application that did not come up right is not left to the next case.
    const app = desktop.apps.find((a) => a.appToken === info.appToken);
    if (app) await app.stop().catch(() => {});
    throw e;
  }
}

module.exports = {
  KINDS,
  PYTHON,
  TIMEOUT_MS,
  missingPackages,
  requireDesktop,
  startDesktop,
  launchApp,
  waitFor,
  ReaderError,
};
