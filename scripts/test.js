'use strict';
// `npm test`: the C++ unit tests (ctest), the end-to-end tests through the
// real pelmora.node (node --test) and the typings (tsc). Fails on any
// failure.
//   npm test -- --asan   the same suites built with AddressSanitizer and
//                        UndefinedBehaviorSanitizer, the sanitizer runtime
//                        preloaded into node
//   npm test -- --valgrind   a subset of the end-to-end tests under Valgrind
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { root, run, cacheEntry, configurePreset, buildPreset, main } = require('./setup');

const e2eDir = path.join(root, 'tests', 'e2e');
const e2eFiles = () => fs.readdirSync(e2eDir).filter((f) => f.endsWith('.test.js')).sort()
  .map((f) => path.join(e2eDir, f));

// Stops with what to install when a build of the preset has no tests. CMake
// looks again first: what it missed may have been installed since.
function ensureTests(preset) {
  const buildDir = configurePreset(preset);
  const built = () => cacheEntry(buildDir, 'PELMORA_TESTS_BUILT') === 'ON';
  if (built()) return;
  configurePreset(preset, { force: true });
  if (built()) return;
  const missing = cacheEntry(buildDir, 'PELMORA_TESTS_MISSING');
  if (missing) {
    throw new Error(`npm test needs what this machine lacks:\n  ${missing.split(';').join('\n  ')}\n` +
      '(the addon and corvane build without them)');
  }
  throw new Error(`build/${preset} was configured with PELMORA_BUILD_TESTS=${cacheEntry(buildDir, 'PELMORA_BUILD_TESTS')}: ` +
    `run \`cmake --preset ${preset} -DPELMORA_BUILD_TESTS=AUTO\` first`);
}

function linuxOnly(lane) {
  if (process.platform !== 'linux') {
    throw new Error(`${lane} runs on Linux, over the simulated desktop; on macOS, npm test runs the unit tests and the typings`);
  }
}

function plain() {
  ensureTests('release');
  buildPreset('release');
  run('ctest', ['--preset', 'release']);
  if (process.platform === 'linux') {
    run(process.execPath, ['--test', ...e2eFiles()]);
  } else {
    // They drive the simulated desktop through the addon, which a macOS build
    // does not carry; .github/workflows/macos.yml calls the real one.
    console.log('end-to-end tests: not on macOS (they run over the simulated desktop, on Linux)');
  }
  run(process.execPath, [path.join(root, 'node_modules', 'typescript', 'bin', 'tsc'), '-p', path.join(root, 'tests', 'types')]);
}

function asanRuntime() {
  const r = spawnSync('clang++', ['-print-file-name=libclang_rt.asan-x86_64.so'], { encoding: 'utf8' });
  const file = r.stdout.trim();
  if (r.status !== 0 || !path.isAbsolute(file) || !fs.existsSync(file)) {
    throw new Error('the shared AddressSanitizer runtime is missing: apt-get install libclang-rt-14-dev');
  }
  return file;
}

// LeakSanitizer reports node's own allocations that it never frees at exit;
// a report counts only when one of its stacks runs through our modules.
function sanitizerFindings(logDir) {
  const findings = [];
  for (const name of fs.readdirSync(logDir)) {
    const text = fs.readFileSync(path.join(logDir, name), 'utf8');
    for (const block of text.split(/\n\s*\n/)) {
      const isLeak = /(Direct|Indirect) leak of/.test(block);
      // Symbolized frames name our sources; unsymbolized ones our modules.
      const ours = block.includes(root + path.sep) || /pelmora[^\s/]*\.node/.test(block);
      const otherError = /ERROR: AddressSanitizer|runtime error:/.test(block);
      if ((isLeak && ours) || otherError) findings.push(`${name}:\n${block}`);
    }
  }
  return findings;
}

function sanitized() {
  linuxOnly('the sanitizer lane');
  ensureTests('release');
  ensureTests('asan');
  buildPreset('release');  // the uninstrumented test tools (tests/e2e/bin)
  const buildDir = buildPreset('asan');
  run('ctest', ['--preset', 'asan']);
  const logDir = fs.mkdtempSync(path.join(os.tmpdir(), 'pelmora-asan-'));
  const env = {
    ...process.env,
    LD_PRELOAD: asanRuntime(),
    ASAN_OPTIONS: `detect_leaks=1:log_path=${logDir}/asan:abort_on_error=0:detect_odr_violation=0`,
    UBSAN_OPTIONS: 'print_stacktrace=1:halt_on_error=1',
    PELMORA_ADDON: path.join(buildDir, 'addon', 'sim', 'pelmora.node'),
    PELMORA_SIM_CONTROL: path.join(buildDir, 'tests', 'pelmora_sim_control.node'),
  };
  let failure = null;
  try {
    run(process.execPath, ['--test', ...e2eFiles()], { env });
  } catch (e) {
    failure = e;
  }
  const findings = sanitizerFindings(logDir);
  if (failure && !findings.length) throw failure;
  if (findings.length) {
    console.error(findings.join('\n\n'));
    throw new Error(`sanitizers reported ${findings.length} finding(s) in the end-to-end tests (logs in ${logDir})`);
  }
  fs.rmSync(logDir, { recursive: true, force: true });
  console.log('end-to-end tests under AddressSanitizer + UBSan: no findings');
}

// Slower by some fifty times, so a subset that passes through every part of
// the addon.
const valgrindSubset = ['fn-monitor', 'dji-monitor', 'string-args', 'focus-queries', 'insert-ax', 'symbolic-hotkeys', 'fn-usage'];

function underValgrind() {
  linuxOnly('the Valgrind lane');
  ensureTests('release');
  buildPreset('release');
  for (const name of valgrindSubset) {
    const file = path.join(e2eDir, `${name}.test.js`);
    console.log(`== valgrind: ${name}`);
    run('valgrind', ['--quiet', '--leak-check=full', '--errors-for-leak-kinds=definite', '--show-leak-kinds=definite',
      '--error-exitcode=9', process.execPath, file]);
  }
  console.log(`end-to-end subset under Valgrind (${valgrindSubset.length} files): no errors, nothing definitely lost`);
}

main(() => {
  if (process.argv.includes('--asan')) sanitized();
  else if (process.argv.includes('--valgrind')) underValgrind();
  else plain();
});
