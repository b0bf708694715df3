// Preferences over CFPreferences, and CoreFoundation's property-list types
// turned into the seam's value tree.
#include <CoreFoundation/CoreFoundation.h>

#include <vector>

#include "platform/mac/cf_text.h"
#include "platform/mac/cf_value.h"
#include "platform/platform.h"

namespace platform {
namespace {

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
  if (type == CFStringGetTypeID()) return PrefValue::ofString(mac::toUtf8(static_cast<CFStringRef>(object)));
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
  return CFHandle<CFStringRef>::adopt(mac::createString(text));
}

PrefValue copyAppPreference(std::string_view key, std::string_view domain) noexcept {
  const auto cfKey = cfStringFromUtf8(key);
  const auto cfDomain = cfStringFromUtf8(domain);
  if (!cfKey || !cfDomain) return {};
  const auto value = CFHandle<CFPropertyListRef>::adopt(CFPreferencesCopyAppValue(cfKey.get(), cfDomain.get()));
  return valueFromCF(value.get());
}

}  // namespace platform
