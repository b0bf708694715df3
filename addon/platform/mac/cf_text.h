// UTF-8 <-> CoreFoundation strings for the macOS layer: every string that
// crosses the seam goes through here, in both directions, by way of UTF-16
// (unicode/utf16.h), so that no character is lost on the way.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <string_view>

namespace platform::mac {

// Every UTF-16 unit of the string, U+0000 included; an unpaired surrogate
// (other applications' text may hold one) becomes U+FFFD, so that every
// string crossing the seam is valid UTF-8.
std::string toUtf8(CFStringRef string);

// A +1 string of exactly these characters (a leading U+FEFF too), or null
// when the text is not well-formed UTF-8: nothing is guessed.
CFStringRef createString(std::string_view utf8);

// The same, with each ill-formed part read as U+FFFD: for text that is only
// measured or compared, never written anywhere.
CFStringRef createStringReplacing(std::string_view utf8);

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
