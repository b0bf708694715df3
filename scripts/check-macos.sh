#!/usr/bin/env bash
# Cross-checks the macOS build on Linux: every macOS source (the smoke run's
# programs in scripts/mac-probes included) compiles with warnings as errors
# for x86_64 and arm64 against $MACOS_SDK, the addon and
# corvane link for both and join into universal files in build/macos, and
# then every slice of both
#   - binds every import to a named system library, except the addon's
#     napi_* functions, which stay in the flat namespace for the host;
#   - imports no wall-clock reading (CFAbsoluteTimeGetCurrent);
#   - carries LC_BUILD_VERSION with minos 12.0;
#   - carries an ad-hoc code signature whose page hashes match its bytes
#     (arm64 macOS kills unsigned code).
# It first proves on probes that it notices each fault. This is also how the
# release's universal binaries are made (README). Without an SDK the check
# says so and is skipped, never faked.
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
if [ -z "$objdump" ] || [ -z "$lipo" ] || ! command -v clang++ >/dev/null || ! command -v node >/dev/null; then
  echo "macOS check failed: needs clang, lld (ld64.lld), llvm-objdump, llvm-lipo and node: apt-get install clang lld llvm nodejs" >&2
  exit 1
fi
macho_check() { node scripts/macho-check.js --minos 12.0 "$@"; }

# Prints the imports of a Mach-O file that break the rule, one per line.
# Usage: bad_binds FILE ALLOW_FLAT_NAPI(yes|no)
bad_binds() {
  "$objdump" --macho --bind --lazy-bind "$1" | awk -v allow="$2" '
    /^Bind table:/ || /^Lazy bind table:/ { inTable = 1; next }
    inTable && /^segment/ { for (i = 1; i <= NF; i++) if ($i == "dylib") col = i; next }
    NF == 0 { inTable = 0; next }
    inTable {
      # By the header'"'"'s columns: a "(weak_import)" after the symbol moves nothing.
      dylib = $col; sym = $(col + 1)
      if (dylib == "flat-namespace") {
        if (!(allow == "yes" && sym ~ /^_napi_/)) print sym " (flat namespace)"
      } else if (sym ~ /^_napi_/) {
        print sym " (bound to " dylib ", must be left to the host)"
      }
    }'
}

# Prints the imports of a Mach-O file that name a forbidden function.
# Durations are measured on the monotonic clock: the wall clock
# (CFAbsoluteTimeGetCurrent) steps when the time is set.
forbidden_imports() {
  "$objdump" --macho --bind --lazy-bind "$1" | grep -ow '_CFAbsoluteTimeGetCurrent' | sort -u || true
}

# Each check must catch its fault; prove it on probes before trusting its
# verdicts. The probe imports an Accessibility function, another one weakly,
# and a napi_* one. Linked against HIServices it must pass; linked against
# nothing, both Accessibility imports fall to the flat namespace and must be
# reported. Its signature must hold, and be missed when the link does not
# sign or when a byte changes after it.
self_test() {
  local dir bad
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' RETURN
  cat >"$dir/probe.cc" <<'PROBE'
#include <ApplicationServices/ApplicationServices.h>
extern "C" Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef) __attribute__((weak_import));
extern "C" int napi_probe(void);
extern "C" int probe() {
  return AXIsProcessTrusted() + (AXIsProcessTrustedWithOptions ? 1 : 0) + napi_probe() + (CFAbsoluteTimeGetCurrent() > 0);
}
PROBE
  local cc=(clang++ -target arm64-apple-macos12 -isysroot "$MACOS_SDK" -stdlib=libc++)
  "${cc[@]}" -c "$dir/probe.cc" -o "$dir/probe.o"
  link() { "${cc[@]}" -fuse-ld=lld -bundle -undefined dynamic_lookup "$dir/probe.o" -o "$dir/$1" "${@:2}"; }
  link named.bundle -Wl,-adhoc_codesign \
    -F"$MACOS_SDK/System/Library/Frameworks/ApplicationServices.framework/Frameworks" -framework HIServices \
    -framework CoreFoundation
  link flat.bundle -Wl,-adhoc_codesign
  link unsigned.bundle -Wl,-no_adhoc_codesign

  bad=$(bad_binds "$dir/named.bundle" yes)
  if [ -n "$bad" ]; then
    echo "macOS check failed: the bind check rejects a probe whose imports all bind to HIServices: $bad" >&2
    return 1
  fi
  bad=$(bad_binds "$dir/flat.bundle" yes)
  if ! grep -qx '_AXIsProcessTrusted (flat namespace)' <<<"$bad" ||
    ! grep -qx '_AXIsProcessTrustedWithOptions (flat namespace)' <<<"$bad" || grep -q napi <<<"$bad"; then
    echo "macOS check failed: the bind check did not report exactly the flat Accessibility imports (weak one included): ${bad:-nothing}" >&2
    return 1
  fi
  if [ "$(forbidden_imports "$dir/named.bundle")" != "_CFAbsoluteTimeGetCurrent" ]; then
    echo "macOS check failed: the import check misses a probe's CFAbsoluteTimeGetCurrent" >&2
    return 1
  fi
  if ! macho_check "$dir/named.bundle" >/dev/null; then
    echo "macOS check failed: the signature check rejects a probe that lld signed" >&2
    return 1
  fi
  cp "$dir/named.bundle" "$dir/changed.bundle"
  printf '\x5a' | dd of="$dir/changed.bundle" bs=1 seek=16384 conv=notrunc status=none
  for probe in unsigned.bundle changed.bundle; do
    if macho_check "$dir/$probe" >/dev/null; then
      echo "macOS check failed: the signature check accepts $probe" >&2
      return 1
    fi
  done
  if node scripts/macho-check.js --minos 13.0 "$dir/named.bundle" >/dev/null; then
    echo "macOS check failed: the minos check accepts a probe built for macOS 12 as 13.0" >&2
    return 1
  fi
}

self_test

# The macOS-only unit tests compile against the SDK as well. GoogleTest's
# headers are platform-neutral, so this machine's serve; linking and running
# the tests needs a Mac. The smoke run's probes (scripts/mac-probes), which
# the runner builds with its own compiler, build and link here too, against
# HIServices itself as the addon does.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/include"
ln -s /usr/include/gtest "$scratch/include/gtest"
probe_link=(-fuse-ld=lld -F"$MACOS_SDK/System/Library/Frameworks/ApplicationServices.framework/Frameworks"
  -framework AppKit -framework HIServices -framework CoreFoundation -framework CoreGraphics -framework Foundation -lobjc)

failed=0
fail() {
  echo "$1" >&2
  [ $# -lt 2 ] || sed 's/^/  /' <<<"$2" >&2
  failed=1
}
# Ninja when it is installed, else Unix Makefiles; a folder keeps the
# generator it was configured with.
generator_for() {
  local cached
  cached=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$1/CMakeCache.txt" 2>/dev/null || true)
  if [ -n "$cached" ]; then echo "$cached"
  elif [ -n "${CMAKE_GENERATOR:-}" ]; then echo "$CMAKE_GENERATOR"
  elif command -v ninja >/dev/null; then echo Ninja
  else echo "Unix Makefiles"; fi
}
out=build/macos
mkdir -p "$out"
for arch in x86_64 arm64; do
  echo "== macOS $arch"
  dir="build/macos-$arch"
  CMAKE_GENERATOR=$(generator_for "$dir") cmake --preset "macos-$arch" -DMACOS_SDK="$MACOS_SDK" >/dev/null
  cmake --build --preset "macos-$arch"
  for test in tests/unit/*.mm; do
    clang++ -target "$arch-apple-macos12" -isysroot "$MACOS_SDK" -stdlib=libc++ -std=c++20 -fobjc-arc \
      -Wall -Wextra -Werror -Iaddon -I. -isystem "$scratch/include" -c "$test" -o /dev/null
  done
  for probe in scripts/mac-probes/*.m; do
    clang -target "$arch-apple-macos12" -isysroot "$MACOS_SDK" -fobjc-arc -Wall -Wextra -Werror "${probe_link[@]}" \
      "$probe" -o "$scratch/$(basename "$probe" .m)-$arch"
  done
  for file in "$dir/addon/mac/pelmora.node" "$dir/lister/corvane"; do
    [ -f "$file" ] || { fail "$file ($arch) was not built"; continue; }
    if [[ $file == *.node ]]; then allow=yes; else allow=no; fi
    bad=$(bad_binds "$file" "$allow")
    [ -z "$bad" ] || fail "$(basename "$file") ($arch) has imports that bind to no named library:" "$bad"
    bad=$(forbidden_imports "$file")
    [ -z "$bad" ] || fail "$(basename "$file") ($arch) measures time on the wall clock:" "$bad"
  done
  exports=$("$objdump" --macho --exports-trie "$dir/addon/mac/pelmora.node" | awk '/^0x/ { print $2 }' | sort | tr '\n' ' ')
  if [ "$exports" != "_napi_register_module_v1 _node_api_module_get_api_version_v1 " ]; then
    fail "pelmora.node ($arch) exports more or less than the two module entries: $exports"
  fi
done
[ "$failed" -eq 0 ] || { echo "macOS check failed" >&2; exit 1; }

for file in addon/mac/pelmora.node lister/corvane; do
  "$lipo" -create "build/macos-x86_64/$file" "build/macos-arm64/$file" -output "$out/$(basename "$file")"
done
for file in "$out/pelmora.node" "$out/corvane"; do
  archs=$("$lipo" -archs "$file" | xargs)
  [ "$archs" = "x86_64 arm64" ] || fail "$file holds $archs, not x86_64 and arm64"
done
if ! report=$(macho_check "$out/pelmora.node" "$out/corvane"); then
  fail "the universal files fail what macOS needs to load them:" "$report"
fi
echo "$report"

if [ "$failed" -ne 0 ]; then
  echo "macOS check failed" >&2
  exit 1
fi
echo "macOS check passed: universal (x86_64, arm64) pelmora.node and corvane in $out, signed, minos 12.0, only napi_* left to the host"
