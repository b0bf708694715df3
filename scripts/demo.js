'use strict';
// `npm run demo`: the dictation triggers and the keyboard settings end to end.
// On Linux it plays a short script on the simulated desktop through
// resources/sim/pelmora.node; on macOS it reads the real settings through
// resources/bin/pelmora.node and waits for a real tap of the Fn/Globe key or
// press of the microphone button.
const path = require('node:path');

const root = path.resolve(__dirname, '..');
const addon = require(path.join(root, 'resources', process.platform === 'linux' ? 'sim' : 'bin', 'pelmora.node'));

const say = (text) => console.log(text);
const turn = () => new Promise((resolve) => setImmediate(resolve));

async function simulated() {
  const sim = require(path.join(root, 'tests', 'sim'));
  const FN = 0x800000;
  const fnDown = { type: 12, flags: FN, keyCode: 63 };
  const fnUp = { type: 12, flags: 0, keyCode: 63 };
  let taps = 0;

  say('pelmora demo on the simulated desktop (Linux)\n');
  say(`start(callback)            -> ${addon.start(() => { taps++; say('    >> callback: dictation trigger (Fn tap)'); })}`);

  async function play(title, events) {
    say(`\n${title}`);
    const before = taps;
    sim.keyboard.post(events);
    addon.processEvents();
    await turn();
    const names = { 10: 'key down', 11: 'key up', 14: 'system', 4294967294: 'tap disabled', 4294967295: 'tap disabled' };
    for (const r of sim.keyboard.results()) {
      const what = r.type === 12 ? (r.flags & FN ? 'Fn down' : 'Fn up')
        : r.type > 14 ? names[r.type] : `${names[r.type]} ${r.keyCode}`;
      say(`    ${what.padEnd(14)} ${r.verdict === 'swallow' ? 'swallowed' : 'passed to the app'}`);
    }
    say(`    callback calls: ${taps - before}`);
  }

  await play('1. The user taps Fn:', [fnDown, fnUp]);
  await play('2. Fn held while typing "a" (a shortcut, not a tap):',
    [fnDown, { type: 10, flags: FN, keyCode: 0 }, { type: 11, flags: FN, keyCode: 0 }, fnUp]);
  await play('3. After a tap, the Globe key\'s own action is suppressed:',
    [fnDown, fnUp, { type: 10, flags: 0, keyCode: 179 }, { type: 11, flags: 0, keyCode: 179 },
      { type: 10, flags: 0, keyCode: 179 }]);
  await play('4. The system disables the tap (too slow); it is re-enabled at once:',
    [{ type: 0xFFFFFFFE }, fnDown, fnUp]);

  say('\n5. Dictation starts: the focused text field of the front application is captured.');
  sim.apps.add({
    pid: 501, bundleID: 'com.example.notes', name: 'Notes', active: true,
    windows: [{ id: 'window', role: 'AXWindow', children: [
      { id: 'toolbar', role: 'AXToolbar', children: [{ id: 'bold', role: 'AXButton' }] },
      { id: 'body', role: 'AXTextArea', roleDescription: 'text entry area', value: 'Meeting notes: ',
        valueSettable: true, selectedRange: { location: 15, length: 0 }, selectedText: '' },
    ] }],
    focusedWindow: 'window', focusedElement: 'body',
  });
  sim.apps.setFrontmost(501);
  say(`    getFocusedElementInfo()          -> ${addon.getFocusedElementInfo()}`);
  say(`    readCapturedFocusedElementText() -> ${addon.readCapturedFocusedElementText()}`);

  say('\n6. The transcript is ready and goes into the captured field:');
  say(`    insertTextIntoFocusedElement("Call Anna at noon.") -> ${addon.insertTextIntoFocusedElement('Call Anna at noon.', 'com.example.notes')}`);
  say(`    the field now holds: ${JSON.stringify(sim.ax.inspect('body').value)}, caret at ${sim.ax.inspect('body').selectedRange.location}`);

  say('\n7. An IDE where the clipboard works better: a reasoned refusal, the app prepared for a paste:');
  sim.apps.add({ pid: 502, bundleID: 'com.jetbrains.pycharm', name: 'PyCharm', active: false,
    windows: [{ id: 'editor', role: 'AXTextArea', value: 'def main():', valueSettable: true, selectedRange: { location: 11, length: 0 } }],
    focusedWindow: 'editor', focusedElement: 'editor' });
  sim.apps.setFrontmost(502);
  addon.getFocusedElementInfo();
  say(`    insertTextIntoFocusedElement(...) -> ${addon.insertTextIntoFocusedElement('print("hi")')}`);
  say(`    activations: ${JSON.stringify(sim.apps.activations())}, field focused ${sim.ax.inspect('editor').focusedSets} time(s)`);

  await terminalRoute(sim);

  addon.stop();
  say(`\nstop(); isActive()         -> ${addon.isActive()}`);
  say(`total dictation triggers:  ${taps}`);

  await microphoneAndSettings(sim);
}

async function microphoneAndSettings(sim) {
  const button = { usagePage: 0x0C, usage: 0xE9 };
  const receiver = sim.hid.addDevice({ vendorID: 11427, productID: 16401, manufacturer: 'DJI', product: 'Wireless Mic Rx' });
  const speaker = sim.hid.addDevice({ vendorID: 0x05AC, productID: 0x0250, manufacturer: 'Other', product: 'Keyboard' });
  let presses = 0;

  say('\n--- The wireless microphone ---');
  sim.hid.setOpenResults({ exclusive: 0xE00002C5, shared: 0 }); // another client holds it
  say(`startDjiMicButton(callback) -> ${addon.startDjiMicButton(() => { presses++; say('    >> callback: dictation trigger (microphone button)'); })}`);
  const opens = sim.log.take().filter((e) => e.op === 'hidOpen')
    .map((e) => `${e.options ? 'exclusive' : 'shared'}: ${e.result ? `0x${(e.result >>> 0).toString(16)}` : 'ok'}`);
  say(`    opens tried: ${opens.join(', ')}`);

  async function press(title, device, values) {
    say(`\n${title}`);
    const before = presses;
    for (const value of values) {
      sim.hid.post(device, { ...button, value });
      addon.processEvents();
      await turn();
    }
    say(`    values ${values.join(', ')}: callback calls: ${presses - before}`);
  }
  await press('9. The user presses and releases the microphone button:', receiver, [1, 0]);
  await press('10. The button is held (repeated values) and released:', receiver, [1, 1, 1, 0]);
  await press('11. The same usage from another device is not the trigger:', speaker, [1, 0]);
  addon.stopDjiMicButton();
  say(`\nstopDjiMicButton(); isDjiMicButtonActive() -> ${addon.isDjiMicButtonActive()}`);

  say('\n--- Keyboard settings ---');
  say(`getSystemFnUsageType() with nothing stored  -> ${addon.getSystemFnUsageType()}`);
  sim.prefs.set('com.apple.HIToolbox', 'AppleFnUsageType', 2);
  say(`getSystemFnUsageType() with 2 stored        -> ${addon.getSystemFnUsageType()}`);
  sim.prefs.set('com.apple.symbolichotkeys', 'AppleSymbolicHotKeys', {
    60: { enabled: true, value: { type: 'standard', parameters: [32, 49, 262144] } }, // Ctrl-Space
    64: { enabled: true, value: { type: 'standard', parameters: [32, 49, 1048576] } }, // Cmd-Space
    65: { enabled: false, value: { type: 'standard', parameters: [65535, 49, 1572864] } }, // disabled
    160: { enabled: 1, value: { type: 'standard', parameters: [65535, 65535, 0] } }, // no key
  });
  say(`getSystemSymbolicHotkeys() (2 of 4 count)   -> ${addon.getSystemSymbolicHotkeys()}`);
}

// A real bash in a real pseudo-terminal receives dictated text as input.
async function terminalRoute(sim) {
  const fs = require('node:fs');
  const os = require('node:os');
  const { spawn } = require('node:child_process');
  const ptyShell = path.join(root, 'tests', 'e2e', 'bin', 'pty_shell');
  say('\n8. Dictating into a terminal: the text is typed into the shell of its tty.');
  if (!fs.existsSync(ptyShell)) {
    say('    (skipped: build the test tools first with `npm install`)');
    return;
  }
  const shell = spawn(ptyShell, ['bash', '--norc', '--noprofile', '-i'], { stdio: ['pipe', 'pipe', 'ignore'] });
  let shown = '';
  shell.stdout.setEncoding('utf8');
  shell.stdout.on('data', (d) => { shown += d; });
  const until = async (re, ms = 5000) => {
    for (const end = Date.now() + ms; Date.now() < end && !re.test(shown);) await new Promise((r) => setTimeout(r, 20));
    return re.test(shown);
  };
  await until(/^\/dev\/\S+\n/);
  const tty = shown.split('\n')[0];
  await new Promise((r) => setTimeout(r, 300));
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'pelmora-demo-'));
  const osascript = path.join(dir, 'osascript');
  fs.writeFileSync(osascript, `#!/bin/sh\necho ${tty}\n`, { mode: 0o755 });
  sim.tools.setPath('osascript', osascript);
  sim.apps.add({ pid: 503, bundleID: 'com.apple.Terminal', name: 'Terminal', active: true,
    windows: [{ id: 'term', role: 'AXWindow' }], focusedWindow: 'term', focusedElement: 'term' });
  sim.apps.setFrontmost(503);
  addon.getFocusedElementInfo();
  say(`    a bash is waiting on ${tty}`);
  say(`    insertTextIntoFocusedElement("echo dictated into $0") -> ${addon.insertTextIntoFocusedElement('echo dictated into $0', 'com.apple.Terminal')}`);
  say(`    with a line break it is declined, so nothing runs unconfirmed -> ${addon.insertTextIntoFocusedElement('rm -rf ~\n', 'com.apple.Terminal')}`);
  shell.stdin.write('\r');  // the user presses Return
  const ran = await until(/dictated into bash/);
  say(ran ? '    the user presses Return and the shell prints: "dictated into bash"' : '    the shell did not answer in time');
  shell.kill('SIGKILL');
  fs.rmSync(dir, { recursive: true, force: true });
}

async function real() {
  say('pelmora demo (macOS)\n');
  say(`getSystemFnUsageType()     -> ${addon.getSystemFnUsageType()}`);
  const hotkeys = JSON.parse(addon.getSystemSymbolicHotkeys());
  say(`getSystemSymbolicHotkeys() -> ${hotkeys.length} combinations taken, first ones: ${JSON.stringify(hotkeys.slice(0, 4))}`);

  say('\nTap the Fn/Globe key, or press the wireless microphone\'s button, within 30 seconds.');
  say('(Needs Input Monitoring and Accessibility permission for this terminal.)');
  let done;
  const triggered = new Promise((resolve) => { done = resolve; });
  const fn = addon.start(() => done('Fn tap'));
  const mic = addon.startDjiMicButton(() => done('microphone button press'));
  if (!fn) say('start() answered false: the system refused the event tap; grant the permissions and retry.');
  if (!mic) say('startDjiMicButton() answered false: the HID manager could not be opened.');
  if (!fn && !mic) {
    process.exitCode = 1;
    return;
  }
  const pump = setInterval(() => addon.processEvents(), 10);
  const timeout = setTimeout(() => done(null), 30000);
  const what = await triggered;
  clearInterval(pump);
  clearTimeout(timeout);
  addon.stop();
  addon.stopDjiMicButton();
  say(what ? `${what} received: the dictation trigger works.` : 'No trigger within 30 seconds.');
  if (what) {
    say(`The focused field, as captured: ${addon.getFocusedElementInfo()}`);
    say(`Inserting a line: ${addon.insertTextIntoFocusedElement('Dictated by the pelmora demo.')}`);
  }
}

// The Linux desktop build, resources/bin/pelmora.node, on a real desktop of
// the demo's own (Xvfb, a window manager, a session bus and the accessibility
// bus): it captures a GTK 3 field, inserts a line and shows what the field
// holds then, read by an AT-SPI client of the demo's own. The user's own
// session is left alone.
async function linuxDesktop() {
  const harness = require(path.join(root, 'tests', 'desktop', 'harness.js'));
  const missing = harness.missingPackages(['gtk3-entry']);
  say('\npelmora demo on a real Linux desktop (AT-SPI, resources/bin/pelmora.node)\n');
  if (missing.length) {
    say(`    skipped: it needs ${missing.join(' ')} (apt-get install ${missing.join(' ')})`);
    return;
  }
  const desktop = await harness.startDesktop();
  try {
    const app = await desktop.launch('gtk3-entry', { text: 'Notes: ', caret: 7, name: 'Notes', id: 'org.example.Notes' });
    say(`a GTK 3 window "${app.name}" with its entry focused, holding ${JSON.stringify((await desktop.reader.field(app.pid)).text)}`);
    const script = `
      const addon = require(${JSON.stringify(path.join(root, 'resources', 'bin', 'pelmora.node'))});
      console.log('getFocusedElementInfo()     -> ' + addon.getFocusedElementInfo());
      console.log('insertTextIntoFocusedElement("dictated on Linux 👍") -> ' +
        addon.insertTextIntoFocusedElement('dictated on Linux 👍', 'org.example.Notes'));`;
    const { execFileSync } = require('node:child_process');
    say(execFileSync(process.execPath, ['-e', script], { env: desktop.env, encoding: 'utf8' }).trimEnd());
    const field = await desktop.reader.field(app.pid);
    say(`the field now holds ${JSON.stringify(field.text)}, the caret at ${field.caret}`);
  } finally {
    await desktop.stop();
  }
}

const demo = process.platform === 'darwin' ? real() : simulated().then(linuxDesktop);
demo.catch((e) => {
  console.error(e);
  process.exit(1);
});
