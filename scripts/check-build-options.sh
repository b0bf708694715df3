#!/usr/bin/env bash
# Checks the build's optional parts on this machine as a Mac developer with
# only Xcode's tools and CMake would meet them: Unix Makefiles, GoogleTest and
# Google Benchmark hidden from CMake. The addon and corvane must build, the
# tests must be left out (AUTO) or refused with what to install (ON).
set -euo pipefail
cd "$(dirname "$0")/.."

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
configure() {
  local name=$1
  shift
  cmake -S . -B "$dir/$name" -G "Unix Makefiles" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON "$@"
}
cached() { sed -n "s/^$2:[A-Z]*=//p" "$dir/$1/CMakeCache.txt"; }
fail() {
  echo "build options check failed: $*" >&2
  exit 1
}

echo "== tests AUTO without GoogleTest: configures, leaves the tests out, builds the deliverables"
configure auto >"$dir/auto.log" 2>&1 || { cat "$dir/auto.log" >&2; fail "AUTO did not configure without GoogleTest"; }
[ "$(cached auto PELMORA_TESTS_BUILT)" = OFF ] || fail "AUTO built the tests without GoogleTest"
case "$(cached auto PELMORA_TESTS_MISSING)" in *GoogleTest*) ;; *) fail "AUTO did not record GoogleTest as missing" ;; esac
cmake --build "$dir/auto" --parallel "$(nproc)" >"$dir/auto-build.log" 2>&1 || { tail -40 "$dir/auto-build.log" >&2; fail "the build without GoogleTest failed"; }
for target in addon/linux/pelmora.node lister/corvane; do
  [ -f "$dir/auto/$target" ] || fail "$target was not built"
done
[ ! -e "$dir/auto/tests" ] || fail "the tests folder was configured without GoogleTest"

echo "== tests ON without GoogleTest: refused, naming it"
if configure on -DPELMORA_BUILD_TESTS=ON >"$dir/on.log" 2>&1; then
  fail "PELMORA_BUILD_TESTS=ON configured without GoogleTest"
fi
grep -q "GoogleTest (" "$dir/on.log" || { cat "$dir/on.log" >&2; fail "the refusal does not name GoogleTest and how to get it"; }

echo "== tests OFF: nothing missing, nothing built"
configure off -DPELMORA_BUILD_TESTS=OFF >"$dir/off.log" 2>&1 || { cat "$dir/off.log" >&2; fail "OFF did not configure"; }
[ "$(cached off PELMORA_TESTS_BUILT)" = OFF ] && [ -z "$(cached off PELMORA_TESTS_MISSING)" ] || fail "OFF still looked for the tests' libraries"

echo "build options check passed: the addon and corvane build with Unix Makefiles and no test libraries"
