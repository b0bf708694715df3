'use strict';
// Loads the addon under test and the simulated desktop's control module.
const path = require('node:path');

const root = path.resolve(__dirname, '..', '..');
const addonPath = process.env.PELMORA_ADDON
  ? path.resolve(process.env.PELMORA_ADDON)
  : path.join(root, 'resources', 'sim', 'pelmora.node');

// In the sanitizer lane the runtime is preloaded into node. The tools the
// addon starts (ps, shells, stand-ins) must not get it too; node processes
// that a test starts must.
const sanitizerPreload = process.env.LD_PRELOAD;
delete process.env.LD_PRELOAD;
const nodeEnv = (extra = {}) => (sanitizerPreload
  ? { ...process.env, LD_PRELOAD: sanitizerPreload, ASAN_OPTIONS: `${process.env.ASAN_OPTIONS}:detect_leaks=0`, ...extra }
  : { ...process.env, ...extra });

const addon = require(addonPath);
const sim = require('../sim');

// Lets queued thread-safe calls reach JavaScript, as a host's loop would.
const turn = () => new Promise((resolve) => setImmediate(resolve));

async function pump(times = 1) {
  for (let i = 0; i < times; i++) {
    addon.processEvents();
    await turn();
  }
  await turn();
}

const FN = 0x800000;
const ev = {
  fnDown: (extra = 0) => ({ type: 12, flags: FN | extra, keyCode: 63 }),
  fnUp: (extra = 0) => ({ type: 12, flags: extra, keyCode: 63 }),
  keyDown: (keyCode, flags = 0) => ({ type: 10, flags, keyCode }),
  keyUp: (keyCode, flags = 0) => ({ type: 11, flags, keyCode }),
  systemDefined: () => ({ type: 14, flags: 0, keyCode: 0 }),
};

// Runs a script in a fresh node process with the addon, the simulation, a
// microphone receiver and the event builders at hand.
function runNode(body) {
  const { spawnSync } = require('node:child_process');
  return spawnSync(process.execPath, ['-e', `
    const { addon, sim, ev } = require(${JSON.stringify(__filename)});
    const receiver = sim.hid.addDevice({ vendorID: 11427, productID: 16401, manufacturer: 'DJI', product: 'Wireless Mic Rx' });
    const press = (value) => sim.hid.post(receiver, { usagePage: 12, usage: 0xE9, value });
    ${body}
  `], { encoding: 'utf8', timeout: 20000, env: nodeEnv() });
}

// True in the sanitizer lane.
const sanitized = Boolean(sanitizerPreload);

module.exports = { addon, sim, addonPath, root, pump, turn, ev, FN, nodeEnv, sanitized, runNode };
