// The macOS platform's text library is CoreFoundation.
#include <CoreFoundation/CoreFoundation.h>

#include "platform/mac/cf_text.h"
#include "platform/text.h"

namespace platform {

size_t graphemeClusterCount(std::string_view utf8) noexcept {
  mac::ScopedCF string(mac::createStringReplacing(utf8));
  auto s = static_cast<CFStringRef>(string.ref);
  const CFIndex length = CFStringGetLength(s);
  size_t count = 0;
  for (CFIndex i = 0; i < length; ++count) {
    CFRange r = CFStringGetRangeOfComposedCharactersAtIndex(s, i);
    i = r.location + (r.length > 0 ? r.length : 1);
  }
  return count;
}

bool canonicallyEquivalent(std::string_view a, std::string_view b) noexcept {
  if (a == b) return true;
  mac::ScopedCF sa(mac::createStringReplacing(a));
  mac::ScopedCF sb(mac::createStringReplacing(b));
  // Non-literal comparison treats composed and decomposed forms as equal.
  return CFStringCompare(static_cast<CFStringRef>(sa.ref), static_cast<CFStringRef>(sb.ref), kCFCompareNonliteral) ==
         kCFCompareEqualTo;
}

}  // namespace platform
