'use strict';
// `npm run demo`: the dictation triggers end to end through the real
// resources/bin/pelmora.node. On Linux it plays a short script on the
// simulated desktop; on macOS it waits for a real tap of the Fn/Globe key.
const path = require('node:path');

const root = path.resolve(__dirname, '..');
const addon = require(path.join(root, 'resources', 'bin', 'pelmora.node'));

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
  say('pelmora demo (macOS): tap the Fn/Globe key within 30 seconds.');
  say('(Needs Input Monitoring and Accessibility permission for this terminal.)');
  let done;
  const tapped = new Promise((resolve) => { done = resolve; });
  if (!addon.start(() => done(true))) {
    say('start() answered false: the system refused the event tap; grant the permissions and retry.');
    process.exitCode = 1;
    return;
  }
  const pump = setInterval(() => addon.processEvents(), 10);
  const timeout = setTimeout(() => done(false), 30000);
  const ok = await tapped;
  clearInterval(pump);
  clearTimeout(timeout);
  addon.stop();
  say(ok ? 'Fn tap received: the dictation trigger works.' : 'No Fn tap within 30 seconds.');
  if (ok) {
    say(`The focused field, as captured: ${addon.getFocusedElementInfo()}`);
    say(`Inserting a line: ${addon.insertTextIntoFocusedElement('Dictated by the pelmora demo.')}`);
  }
}

(process.platform === 'darwin' ? real() : simulated()).catch((e) => {
  console.error(e);
  process.exit(1);
});
