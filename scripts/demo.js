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
  sim.apps.setFrontmost(null);
  say(`    (another app comes forward)      -> ${addon.readCapturedFocusedElementText()}`);

  addon.stop();
  say(`\nstop(); isActive()         -> ${addon.isActive()}`);
  say(`total dictation triggers:  ${taps}`);
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
  if (ok) say(`The focused field, as captured: ${addon.getFocusedElementInfo()}`);
}

(process.platform === 'darwin' ? real() : simulated()).catch((e) => {
  console.error(e);
  process.exit(1);
});
