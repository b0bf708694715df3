'use strict';
// `npm run demo`: the dictation triggers and the keyboard settings end to end
// through the real resources/bin/pelmora.node. On Linux it plays a short
// script on the simulated desktop; on macOS it reads the real settings and
// waits for a real tap of the Fn/Globe key or press of the microphone button.
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
  await press('5. The user presses and releases the microphone button:', receiver, [1, 0]);
  await press('6. The button is held (repeated values) and released:', receiver, [1, 1, 1, 0]);
  await press('7. The same usage from another device is not the trigger:', speaker, [1, 0]);
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
}

(process.platform === 'darwin' ? real() : simulated()).catch((e) => {
  console.error(e);
  process.exit(1);
});
