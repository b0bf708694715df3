'use strict';
// Makes sure the machine has what the build needs. On Debian it installs
// missing packages with apt-get when run as root, and otherwise stops with
// the exact command to run.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.resolve(__dirname, '..');

function aptPackages() {
  return fs.readFileSync(path.join(__dirname, 'apt-packages.txt'), 'utf8')
    .split('\n').map((l) => l.trim()).filter((l) => l && !l.startsWith('#'));
}

function installed(pkg) {
  const r = spawnSync('dpkg-query', ['-W', '-f=${Status}', pkg], { encoding: 'utf8' });
  return r.status === 0 && r.stdout.includes('install ok installed');
}

function run(cmd, args, options = {}) {
  const r = spawnSync(cmd, args, { stdio: 'inherit', cwd: root, ...options });
  if (r.error) throw new Error(`${cmd}: ${r.error.message}`);
  if (r.status !== 0) {
    const e = new Error(`${cmd} ${args.join(' ')} failed with status ${r.status}`);
    e.status = r.status || 1;
    throw e;
  }
}

const works = (tool, args = ['--version']) => spawnSync(tool, args, { stdio: 'ignore' }).status === 0;

function ensureSystemPackages() {
  if (process.platform === 'darwin') {
    // Xcode's command-line tools and CMake build the addon and corvane;
    // Ninja is used when it is there.
    if (!works('xcrun', ['--find', 'clang++'])) {
      throw new Error("Xcode's command-line tools are missing: run `xcode-select --install`");
    }
    if (!works('cmake')) throw new Error('CMake is missing: install it from cmake.org or with `brew install cmake`');
    return;
  }
  if (process.platform !== 'linux') throw new Error(`${process.platform} is not a platform this project builds on`);
  if (spawnSync('dpkg-query', ['--version']).status !== 0) {
    console.warn('setup: not a Debian system; make sure cmake, ninja, clang, lld, GoogleTest, Google Benchmark and ICU are installed');
    return;
  }
  const missing = aptPackages().filter((p) => !installed(p));
  if (missing.length === 0) return;
  const command = `apt-get update && apt-get install -y --no-install-recommends ${missing.join(' ')}`;
  if (process.getuid && process.getuid() === 0) {
    console.log(`setup: installing ${missing.join(' ')}`);
    run('sh', ['-c', command], { env: { ...process.env, DEBIAN_FRONTEND: 'noninteractive' } });
    return;
  }
  throw new Error(`missing system packages; run:\n  sudo sh -c '${command}'`);
}

function ensureNodeModules() {
  if (!fs.existsSync(path.join(root, 'node_modules', 'node-api-headers', 'include', 'node_api.h'))) {
    throw new Error('node-api-headers is missing: run `npm install` in ' + root);
  }
}

// The value of one entry of a configured build's CMakeCache.txt (of any
// type), or undefined.
function cacheEntry(buildDir, name) {
  const file = path.join(buildDir, 'CMakeCache.txt');
  if (!fs.existsSync(file)) return undefined;
  const line = fs.readFileSync(file, 'utf8').split('\n').find((l) => l.startsWith(`${name}:`));
  return line === undefined ? undefined : line.slice(line.indexOf('=') + 1);
}

// The presets name no generator: Ninja when it is installed, else Unix
// Makefiles, which every Mac with Xcode's command-line tools can run.
function generator() {
  return process.env.CMAKE_GENERATOR || (works('ninja') ? 'Ninja' : 'Unix Makefiles');
}

// Configures a CMake preset when it has not been (or when asked to again).
function configurePreset(preset, { force = false } = {}) {
  ensureSystemPackages();
  ensureNodeModules();
  const buildDir = path.join(root, 'build', preset);
  let had = cacheEntry(buildDir, 'CMAKE_GENERATOR');
  if (had === 'Ninja' && !works('ninja')) {
    console.log(`setup: build/${preset} was configured for Ninja, which is gone; configuring it afresh`);
    fs.rmSync(buildDir, { recursive: true, force: true });
    had = undefined;
  }
  if (force || had === undefined) {
    run('cmake', ['--preset', preset], { env: { ...process.env, CMAKE_GENERATOR: had || generator() } });
  }
  return buildDir;
}

function buildPreset(preset) {
  const buildDir = configurePreset(preset);
  // Make builds one file at a time unless told otherwise; Ninja needs no telling.
  const jobs = cacheEntry(buildDir, 'CMAKE_GENERATOR') === 'Ninja' ? [] : ['--parallel', String(os.cpus().length)];
  run('cmake', ['--build', '--preset', preset, ...jobs]);
  return buildDir;
}

function main(fn) {
  try {
    fn();
  } catch (e) {
    console.error(`\n${e.message}`);
    process.exit(e.status || 1);
  }
}

module.exports = { root, run, works, cacheEntry, configurePreset, buildPreset, ensureSystemPackages, aptPackages, main };
