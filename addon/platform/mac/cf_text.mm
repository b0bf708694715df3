#include "platform/mac/cf_text.h"

#include <vector>

#include "unicode/utf8.h"

namespace platform::mac {


std::string toUtf8(CFStringRef string) {
  if (!string) return {};
  const CFIndex length = CFStringGetLength(string);
  if (const char* fast = CFStringGetCStringPtr(string, kCFStringEncodingUTF8)) return std::string(fast);
  std::vector<UniChar> units(static_cast<size_t>(length));
  CFStringGetCharacters(string, CFRangeMake(0, length), units.data());
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      unicode::appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      unicode::appendUtf8(out, 0xFFFD);
    } else {
      unicode::appendUtf8(out, u);
    }
  }
  return out;
}

CFStringRef createString(std::string_view utf8) {
  CFStringRef s = CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
                                          static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false);
  return s ? s : CFStringCreateWithCString(kCFAllocatorDefault, "", kCFStringEncodingUTF8);
}

}  // namespace platform::mac
