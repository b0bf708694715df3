// UTF-8 <-> CoreFoundation strings for the macOS layer.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <string_view>

namespace platform::mac {

// UTF-16 of other applications may hold unpaired surrogates; they become
// U+FFFD so that every string crossing the seam is valid UTF-8.
std::string toUtf8(CFStringRef string);

// A +1 string; the input is valid UTF-8.
CFStringRef createString(std::string_view utf8);

// Releases a CoreFoundation object at the end of a scope.
struct ScopedCF {
  explicit ScopedCF(CFTypeRef r) : ref(r) {}
  ~ScopedCF() {
    if (ref) CFRelease(ref);
  }
  ScopedCF(const ScopedCF&) = delete;
  ScopedCF& operator=(const ScopedCF&) = delete;
  CFTypeRef ref;
};

}  // namespace platform::mac
