'use strict';
// Control module of the simulated desktop (see docs/simulation.md). It shares
// one world with the simulated build of pelmora.node, resources/sim/pelmora.node.
const path = require('node:path');

const root = path.resolve(__dirname, '..', '..');
const addonPath = process.env.PELMORA_ADDON
  ? path.resolve(process.env.PELMORA_ADDON)
  : path.join(root, 'resources', 'sim', 'pelmora.node');
const controlPath = process.env.PELMORA_SIM_CONTROL
  ? path.resolve(process.env.PELMORA_SIM_CONTROL)
  : path.join(__dirname, 'native', 'pelmora_sim_control.node');

require(addonPath); // node keeps one copy per path; the host's require gets the same
const flat = require(controlPath).attach(addonPath);

// "keyboard.post" becomes sim.keyboard.post.
const sim = {};
for (const [dotted, value] of Object.entries(flat)) {
  const parts = dotted.split('.');
  let node = sim;
  for (const part of parts.slice(0, -1)) node = node[part] ??= {};
  node[parts[parts.length - 1]] = value;
}
sim.addonPath = addonPath;

module.exports = sim;
