'use strict';
// Time of require('pelmora.node') in fresh node processes: median of N runs.
//   node bench/addon_load.js [runs]
const { execFileSync } = require('node:child_process');
const path = require('node:path');

const addon = process.env.PELMORA_ADDON || path.join(__dirname, '..', 'resources', 'bin', 'pelmora.node');
const runs = Number(process.argv[2] || 30);
const probe = `const t = process.hrtime.bigint(); require(${JSON.stringify(addon)});
process.stdout.write(String(Number(process.hrtime.bigint() - t) / 1e6));`;
const times = [];
for (let i = 0; i < runs; i++) times.push(Number(execFileSync(process.execPath, ['-e', probe], { encoding: 'utf8' })));
times.sort((a, b) => a - b);
const at = (q) => times[Math.min(times.length - 1, Math.floor(q * times.length))];
console.log(`require(pelmora.node) in a fresh node, ${runs} runs: median ${at(0.5).toFixed(3)} ms, min ${times[0].toFixed(3)} ms, p90 ${at(0.9).toFixed(3)} ms`);
