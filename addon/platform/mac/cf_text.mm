#include "platform/mac/cf_text.h"

#include <vector>

#include "unicode/utf16.h"
#include "unicode/utf8.h"

namespace platform::mac {

// Not CFStringGetCStringPtr: the pointer it may answer is a C string, which
// ends at the first U+0000 of the value.
std::string toUtf8(CFStringRef string) {
  if (!string) return {};
  const CFIndex length = CFStringGetLength(string);
  if (const UniChar* direct = CFStringGetCharactersPtr(string))
    return unicode::utf8FromUtf16({reinterpret_cast<const uint16_t*>(direct), static_cast<size_t>(length)});
  std::vector<uint16_t> units(static_cast<size_t>(length));
  CFStringGetCharacters(string, CFRangeMake(0, length), reinterpret_cast<UniChar*>(units.data()));
  return unicode::utf8FromUtf16(units);
}

// Not CFStringCreateWithBytes: it drops a leading UTF-8 byte order mark
// whatever its external-representation flag says.
CFStringRef createString(std::string_view utf8) {
  auto units = unicode::utf16FromUtf8(utf8);
  if (!units) return nullptr;
  return CFStringCreateWithCharacters(kCFAllocatorDefault, reinterpret_cast<const UniChar*>(units->data()),
                                      static_cast<CFIndex>(units->size()));
}

CFStringRef createStringReplacing(std::string_view utf8) {
  if (unicode::isWellFormedUtf8(utf8)) return createString(utf8);
  return createString(unicode::toWellFormedUtf8(std::string(utf8)));
}

}  // namespace platform::mac
