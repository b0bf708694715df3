'use strict';
// Time of require() of pelmora.node in fresh node processes, side by side
// with a trivial Node-API addon built with the same compiler and flags
// (bench/trivial_addon.cc): in turn, A B A B ..., medians of each and the
// median of the ratios round by round, so that a machine whose speed drifts
// moves both. Further addons (another build of pelmora.node, say) join each
// round and are compared with the same trivial runs.
//   node bench/addon_load.js [rounds] [other.node ...]
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..');
const addon = process.env.PELMORA_ADDON || path.join(root, 'resources', 'bin', 'pelmora.node');
const trivial = process.env.PELMORA_TRIVIAL_ADDON || path.join(root, 'build', 'release', 'bench', 'trivial_addon.node');
const pairs = Number(process.argv[2] || 30);
const others = process.argv.slice(3).map((f) => path.resolve(f));
const measured = [addon, ...others];

for (const file of [...measured, trivial]) {
  if (!fs.existsSync(file)) {
    console.error(`${file} is missing: build it first (npm run build)`);
    process.exit(1);
  }
}

// In the process: the require alone, after node's own module loader has
// been warmed by a built-in. From outside: the whole process, start to exit.
const probe = (file) => `require('node:os'); const t = process.hrtime.bigint(); require(${JSON.stringify(file)});
process.stdout.write(String(Number(process.hrtime.bigint() - t) / 1e6));`;
const time = (file) => {
  const t = process.hrtime.bigint();
  const inside = Number(execFileSync(process.execPath, ['-e', probe(file)], { encoding: 'utf8' }));
  return { inside, whole: Number(process.hrtime.bigint() - t) / 1e6 };
};

for (const file of [...measured, trivial]) time(file);  // one of each, uncounted: the page cache
const runs = measured.map(() => []);
const b = [];
for (let i = 0; i < pairs; i++) {
  measured.forEach((file, k) => runs[k].push(time(file)));
  b.push(time(trivial));
}
const median = (xs) => {
  const s = [...xs].sort((x, y) => x - y);
  const m = s.length >> 1;
  return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
};
const fmt = (x) => x.toFixed(2);
console.log(`against a trivial Node-API addon, ${pairs} interleaved rounds of fresh node processes`);
measured.forEach((file, k) => {
  console.log(file);
  for (const key of ['inside', 'whole']) {
    const xa = runs[k].map((t) => t[key]);
    const xb = b.map((t) => t[key]);
    const ratios = xa.map((x, i) => x / xb[i]);
    console.log(`  ${key === 'inside' ? 'require() alone ' : 'whole process   '}` +
      ` ${fmt(median(xa))} ms (${fmt(Math.min(...xa))}-${fmt(Math.max(...xa))}),` +
      ` trivial ${fmt(median(xb))} ms (${fmt(Math.min(...xb))}-${fmt(Math.max(...xb))}),` +
      ` ratio of medians ${fmt(median(xa) / median(xb))}, median round ratio ${fmt(median(ratios))}`);
  }
});
