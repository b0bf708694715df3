#!/usr/bin/env bash
# Cross-checks the macOS build on Linux: every macOS source compiles with
# warnings as errors for x86_64 and arm64 against $MACOS_SDK, the bundles
# link into one universal pelmora.node, and every import binds to a named
# system library, except the host's napi_* functions, which stay in the flat
# namespace. Without an SDK the check says so and is skipped, never faked.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${MACOS_SDK:-}" ]; then
  echo "macOS check skipped: MACOS_SDK is not set (point it at an unpacked macOS 12 SDK, the folder holding SDKSettings.json)."
  exit 0
fi
if [ ! -f "$MACOS_SDK/SDKSettings.json" ]; then
  echo "macOS check failed: MACOS_SDK=$MACOS_SDK holds no SDKSettings.json" >&2
  exit 1
fi

objdump=$(command -v llvm-objdump || command -v llvm-objdump-14 || command -v llvm-objdump-16 || true)
lipo=$(command -v llvm-lipo || command -v llvm-lipo-14 || command -v llvm-lipo-16 || true)
if [ -z "$objdump" ] || [ -z "$lipo" ] || ! command -v clang++ >/dev/null; then
  echo "macOS check failed: needs clang, lld (ld64.lld), llvm-objdump and llvm-lipo: apt-get install clang lld llvm" >&2
  exit 1
fi

# Prints the imports of a Mach-O file that break the rule, one per line.
# Usage: bad_binds FILE ALLOW_FLAT_NAPI(yes|no)
bad_binds() {
  "$objdump" --macho --bind --lazy-bind "$1" | awk -v allow="$2" '
    /^Bind table:/ || /^Lazy bind table:/ { inTable = 1; next }
    /^segment/ { next }
    NF == 0 { inTable = 0; next }
    inTable {
      dylib = $(NF - 1); sym = $NF
      if (dylib == "flat-namespace") {
        if (!(allow == "yes" && sym ~ /^_napi_/)) print sym " (flat namespace)"
      } else if (sym ~ /^_napi_/) {
        print sym " (bound to " dylib ", must be left to the host)"
      }
    }'
}

# The check must catch an Accessibility import that silently falls to the
# flat namespace; prove it on a probe before trusting its verdict.
self_test() {
  local dir
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' RETURN
  printf '#include <ApplicationServices/ApplicationServices.h>\nextern "C" int probe() { return AXIsProcessTrusted(); }\n' >"$dir/probe.cc"
  clang++ -target x86_64-apple-macos12 -isysroot "$MACOS_SDK" -stdlib=libc++ -c "$dir/probe.cc" -o "$dir/probe.o"
  clang++ -target x86_64-apple-macos12 -isysroot "$MACOS_SDK" -stdlib=libc++ -fuse-ld=lld -bundle \
    -undefined dynamic_lookup "$dir/probe.o" -o "$dir/probe.bundle" -framework ApplicationServices
  if [ -z "$(bad_binds "$dir/probe.bundle" yes)" ]; then
    echo "macOS check failed: the bind check did not notice a flat-namespace Accessibility import" >&2
    return 1
  fi
}

self_test

# The macOS-only unit tests compile against the SDK as well. GoogleTest's
# headers are platform-neutral, so this machine's serve; linking and running
# the tests needs a Mac.
gtest_headers=$(mktemp -d)
trap 'rm -rf "$gtest_headers"' EXIT
ln -s /usr/include/gtest "$gtest_headers/gtest"

failed=0
out=build/macos
mkdir -p "$out"
slices=()
for arch in x86_64 arm64; do
  echo "== macOS $arch"
  cmake --preset "macos-$arch" -DMACOS_SDK="$MACOS_SDK" >/dev/null
  cmake --build --preset "macos-$arch"
  for test in tests/unit/*.mm; do
    clang++ -target "$arch-apple-macos12" -isysroot "$MACOS_SDK" -stdlib=libc++ -std=c++20 -fobjc-arc \
      -Wall -Wextra -Werror -Iaddon -I. -isystem "$gtest_headers" -c "$test" -o /dev/null
  done
  bundle="build/macos-$arch/addon/pelmora.node"
  slices+=("$bundle")

  bad=$(bad_binds "$bundle" yes)
  if [ -n "$bad" ]; then
    echo "pelmora.node ($arch) has imports that bind to no named library:" >&2
    echo "$bad" | sed 's/^/  /' >&2
    failed=1
  fi
  exports=$("$objdump" --macho --exports-trie "$bundle" | awk '/^0x/ { print $2 }' | sort | tr '\n' ' ')
  if [ "$exports" != "_napi_register_module_v1 _node_api_module_get_api_version_v1 " ]; then
    echo "pelmora.node ($arch) exports more or less than the two module entries: $exports" >&2
    failed=1
  fi
  for tool in build/macos-$arch/lister/corvane; do
    [ -f "$tool" ] || continue
    bad=$(bad_binds "$tool" no)
    if [ -n "$bad" ]; then
      echo "corvane ($arch) has imports that bind to no named library:" >&2
      echo "$bad" | sed 's/^/  /' >&2
      failed=1
    fi
  done
done

"$lipo" -create "${slices[@]}" -output "$out/pelmora.node"
if [ -f build/macos-x86_64/lister/corvane ] && [ -f build/macos-arm64/lister/corvane ]; then
  "$lipo" -create build/macos-x86_64/lister/corvane build/macos-arm64/lister/corvane -output "$out/corvane"
fi

if [ "$failed" -ne 0 ]; then
  echo "macOS check failed" >&2
  exit 1
fi
echo "macOS check passed: universal (x86_64, arm64) bundles in $out, only napi_* left to the host"
