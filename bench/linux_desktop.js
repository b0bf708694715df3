'use strict';
// Runs bench/linux_desktop_bench on a real desktop of its own (the desktop
// tests' harness): a GTK 3 entry for the insertion, a Chromium page of 5,000
// elements and a GTK 4 window for the capture.
//   node bench/linux_desktop.js [path/to/linux_desktop_bench]
const { spawnSync } = require('node:child_process');
const path = require('node:path');
const harness = require('../tests/desktop/harness');

const bench = path.resolve(process.argv[2] || path.join(__dirname, '..', 'build', 'release', 'bench', 'linux_desktop_bench'));

async function onDesktop(kind, options, env, filter) {
  const desktop = await harness.startDesktop();
  try {
    await desktop.launch(kind, options);
    const r = spawnSync(bench, [`--benchmark_filter=${filter}`, '--benchmark_min_time=1'], {
      env: { ...desktop.env, ...env }, stdio: 'inherit',
    });
    if (r.status !== 0) throw new Error(`${bench} failed (${r.status ?? r.signal})`);
  } finally {
    await desktop.stop();
  }
}

(async () => {
  const missing = harness.missingPackages(['gtk3-entry', 'gtk4-entry', 'chromium']);
  if (missing.length) throw new Error(`the desktop benchmarks need ${missing.join(' ')} (apt-get install ${missing.join(' ')})`);
  await onDesktop('gtk3-entry', { text: 'benchmark: ', caret: 11 }, { PELMORA_BENCH_NATIVE: '1' }, 'InsertionIntoNativeField');
  await onDesktop('chromium', { text: 'a field in a large page', chromium: { elements: 5000 } }, { PELMORA_BENCH_WEB: '1' },
    'Capture/InLargeWebPage');
  await onDesktop('gtk4-entry', { text: 'a GTK 4 entry' }, { PELMORA_BENCH_WALK: '1' }, 'Capture/InGtk4Window');
})().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
