'use strict';
// `npm run bench`: every benchmark of the project (docs/performance.md).
const fs = require('node:fs');
const path = require('node:path');
const { root, run, buildPreset, main } = require('./setup');

main(() => {
  const buildDir = buildPreset('release');
  const bench = path.join(buildDir, 'bench', 'pelmora_bench');
  if (!fs.existsSync(bench)) {
    throw new Error(`${bench} was not built: the benchmarks need the tests' libraries and Google Benchmark ` +
      `(${process.platform === 'darwin' ? 'brew install google-benchmark' : 'apt-get install libbenchmark-dev'})`);
  }
  run(bench, ['--benchmark_min_time=0.5']);
  if (process.platform !== 'darwin') {
    run(path.join(buildDir, 'bench', 'corvane_bench'), []);
    run(process.execPath, [path.join(root, 'bench', 'linux_desktop.js'), path.join(buildDir, 'bench', 'linux_desktop_bench')]);
  }
  run(process.execPath, [path.join(root, 'bench', 'addon_load.js'), '100']);
});
