// Preferences over CFPreferences, and CoreFoundation's property-list types
// turned into the seam's value tree.
#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <vector>

#include "platform/mac/cf_value.h"
#include "platform/platform.h"

namespace platform {
namespace {

// Every character, U+0000 included: a C-string shortcut would end the text at
// its first NUL, and "Wireless Mic Rx\0..." is not the product name.
std::string utf8FromCF(CFStringRef string) {
  const CFIndex length = CFStringGetLength(string);
  const CFRange range = CFRangeMake(0, length);
  CFIndex size = 0;
  // A lone surrogate cannot be written as UTF-8; it becomes '?' rather than
  // costing the whole string.
  CFStringGetBytes(string, range, kCFStringEncodingUTF8, '?', false, nullptr, 0, &size);
  std::string text(static_cast<size_t>(size), '\0');
  CFStringGetBytes(string, range, kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8*>(text.data()), size, &size);
  text.resize(static_cast<size_t>(size));
  return text;
}

PrefValue numberFromCF(CFNumberRef number) {
  if (!CFNumberIsFloatType(number)) {
    SInt64 integer = 0;
    if (CFNumberGetValue(number, kCFNumberSInt64Type, &integer)) return PrefValue::ofInteger(integer);
    // Wider than 64 bits (an unsigned 64-bit value): keep its magnitude.
  }
  double real = 0;
  CFNumberGetValue(number, kCFNumberFloat64Type, &real);
  return PrefValue::ofReal(real);
}

}  // namespace

PrefValue valueFromCF(CFTypeRef object) {
  if (!object) return {};
  const CFTypeID type = CFGetTypeID(object);
  if (type == CFBooleanGetTypeID()) return PrefValue::ofBool(CFBooleanGetValue(static_cast<CFBooleanRef>(object)));
  if (type == CFNumberGetTypeID()) return numberFromCF(static_cast<CFNumberRef>(object));
  if (type == CFStringGetTypeID()) return PrefValue::ofString(utf8FromCF(static_cast<CFStringRef>(object)));
  if (type == CFDateGetTypeID()) return PrefValue::ofDate(CFDateGetAbsoluteTime(static_cast<CFDateRef>(object)));
  if (type == CFDataGetTypeID()) {
    auto data = static_cast<CFDataRef>(object);
    const UInt8* bytes = CFDataGetBytePtr(data);
    return PrefValue::ofData(std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(CFDataGetLength(data))));
  }
  if (type == CFArrayGetTypeID()) {
    auto array = static_cast<CFArrayRef>(object);
    PrefValue v = PrefValue::ofArray();
    const CFIndex count = CFArrayGetCount(array);
    v.items.reserve(static_cast<size_t>(count));
    for (CFIndex i = 0; i < count; ++i) v.items.push_back(valueFromCF(CFArrayGetValueAtIndex(array, i)));
    return v;
  }
  if (type == CFDictionaryGetTypeID()) {
    auto dictionary = static_cast<CFDictionaryRef>(object);
    const CFIndex count = CFDictionaryGetCount(dictionary);
    std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    PrefValue v = PrefValue::ofDictionary();
    v.entries.reserve(static_cast<size_t>(count));
    for (CFIndex i = 0; i < count; ++i)
      v.entries.push_back({valueFromCF(keys[static_cast<size_t>(i)]), valueFromCF(values[static_cast<size_t>(i)])});
    return v;
  }
  PrefValue other;
  other.kind = PrefValue::Kind::other;
  return other;
}

CFHandle<CFStringRef> cfStringFromUtf8(std::string_view text) {
  return CFHandle<CFStringRef>::adopt(CFStringCreateWithBytes(kCFAllocatorDefault,
                                                              reinterpret_cast<const UInt8*>(text.data()),
                                                              static_cast<CFIndex>(text.size()),
                                                              kCFStringEncodingUTF8, false));
}

PrefValue copyAppPreference(std::string_view key, std::string_view domain) noexcept {
  const auto cfKey = cfStringFromUtf8(key);
  const auto cfDomain = cfStringFromUtf8(domain);
  if (!cfKey || !cfDomain) return {};
  const auto value = CFHandle<CFPropertyListRef>::adopt(CFPreferencesCopyAppValue(cfKey.get(), cfDomain.get()));
  return valueFromCF(value.get());
}

}  // namespace platform
