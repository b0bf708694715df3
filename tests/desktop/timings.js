'use strict';
// How long the harness takes here: `node tests/desktop/timings.js [runs]`
// starts a desktop per run, launches each kind once (Chromium also with a
// 5,000-element page), reads its field and quits it; prints the medians.
const { startDesktop, missingPackages } = require('./harness');

const KINDS = [['gtk3-entry'], ['gtk3-textview'], ['gtk3-two-entries'], ['gtk4-entry'], ['qt5-lineedit'],
  ['chromium'], ['chromium', { chromium: { elements: 5000 } }, 'chromium, 5,000 elements']];

async function main() {
  const missing = missingPackages();
  if (missing.length) throw new Error(`the desktop needs ${missing.join(' ')}`);
  const runs = Number(process.argv[2] || 5);
  const seen = new Map();
  const add = (label, ms) => seen.set(label, [...(seen.get(label) || []), ms]);
  for (let r = 0; r < runs; r++) {
    const t0 = Date.now();
    const desktop = await startDesktop();
    add('startDesktop()', Date.now() - t0);
    try {
      for (const [kind, options = {}, label = kind] of KINDS) {
        const app = await desktop.launch(kind, { text: 'hello', ...options });
        add(`${label}: launched and focused`, app.timings.focusedMs);
        const t1 = Date.now();
        await desktop.reader.field(app.pid);
        add(`${label}: reader.field()`, Date.now() - t1);
        await app.quit();
      }
    } finally {
      await desktop.stop();
    }
  }
  for (const [label, values] of seen) {
    const sorted = [...values].sort((a, b) => a - b);
    console.log(`${label}: median ${sorted[Math.floor(sorted.length / 2)]} ms (${sorted[0]}-${sorted[sorted.length - 1]}, ${runs} runs)`);
  }
}

main().catch((e) => { console.error(e.message); process.exitCode = 1; });
