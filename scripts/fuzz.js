'use strict';
// Runs every fuzzer for a bounded time, starting from its seed corpus.
//   npm run fuzz -- --minutes N     (each fuzzer N minutes)
//   npm run fuzz -- --seconds N     (each fuzzer N seconds; CI uses 20)
const fs = require('node:fs');
const path = require('node:path');
const { root, run, buildPreset, main } = require('./setup');

function seconds() {
  const args = process.argv.slice(2);
  const at = (flag) => {
    const i = args.indexOf(flag);
    return i >= 0 ? Number(args[i + 1]) : undefined;
  };
  const minutes = at('--minutes');
  const secs = at('--seconds');
  const value = minutes !== undefined ? minutes * 60 : secs !== undefined ? secs : 20;
  if (!(value > 0)) throw new Error('usage: npm run fuzz -- [--minutes N | --seconds N]');
  return Math.round(value);
}

main(() => {
  const perFuzzer = seconds();
  const buildDir = buildPreset('fuzz');
  const fuzzers = fs.readdirSync(path.join(root, 'fuzz', 'corpus')).sort();
  for (const name of fuzzers) {
    const binary = path.join(buildDir, 'fuzz', name);
    if (!fs.existsSync(binary)) throw new Error(`fuzzer ${name} was not built`);
    // New inputs go to a working corpus in the build folder; the committed
    // seeds stay as they are.
    const work = path.join(buildDir, 'corpus', name);
    fs.mkdirSync(work, { recursive: true });
    const artifacts = path.join(buildDir, 'artifacts', name) + path.sep;
    fs.mkdirSync(artifacts, { recursive: true });
    console.log(`== ${name}: ${perFuzzer} s`);
    run(binary, [`-max_total_time=${perFuzzer}`, '-print_final_stats=1', `-artifact_prefix=${artifacts}`,
      work, path.join(root, 'fuzz', 'corpus', name)], {
      env: { ...process.env, ASAN_OPTIONS: 'detect_leaks=1', UBSAN_OPTIONS: 'halt_on_error=1:print_stacktrace=1' },
    });
  }
  console.log(`all ${fuzzers.length} fuzzers ran ${perFuzzer} s each without a finding`);
});
