'use strict';
// Makes sure the machine has what the build needs. On Debian it installs
// missing packages with apt-get when run as root, and otherwise stops with
// the exact command to run.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
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

function ensureSystemPackages() {
  if (process.platform !== 'linux') {
    for (const tool of ['cmake', 'ninja']) {
      if (spawnSync(tool, ['--version']).status !== 0) {
        throw new Error(`${tool} is missing: install it (for example: brew install cmake ninja googletest google-benchmark)`);
      }
    }
    return;
  }
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

// Configures (once) and builds a CMake preset.
function buildPreset(preset) {
  ensureSystemPackages();
  ensureNodeModules();
  const buildDir = path.join(root, 'build', preset);
  if (!fs.existsSync(path.join(buildDir, 'CMakeCache.txt'))) run('cmake', ['--preset', preset]);
  run('cmake', ['--build', '--preset', preset]);
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

module.exports = { root, run, buildPreset, ensureSystemPackages, aptPackages, main };
