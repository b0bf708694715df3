'use strict';
// `npm run bench`: every benchmark of the project (docs/performance.md).
const path = require('node:path');
const { root, run, buildPreset, main } = require('./setup');

main(() => {
  const buildDir = buildPreset('release');
  run(path.join(buildDir, 'bench', 'pelmora_bench'), ['--benchmark_min_time=0.5']);
  if (process.platform !== 'darwin') run(path.join(buildDir, 'bench', 'corvane_bench'), []);
  run(process.execPath, [path.join(root, 'bench', 'addon_load.js'), '30']);
});
