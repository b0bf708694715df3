#include "triggers/dji_button.h"

#include <string>
#include <string_view>

namespace pelmora {

bool gDjiButtonDown = false;

namespace {

// A missing or non-number property matches no identifier.
bool numberPropertyIs(platform::HidDeviceRef device, const char* key, int64_t wanted) {
  const platform::PrefValue v = platform::hidDeviceProperty(device, key);
  if (v.kind == platform::PrefValue::Kind::integer) return v.integer == wanted;
  if (v.kind == platform::PrefValue::Kind::real) return v.real == static_cast<double>(wanted);
  return false;
}

// A missing or non-string property reads as the empty string.
std::string stringProperty(platform::HidDeviceRef device, const char* key) {
  platform::PrefValue v = platform::hidDeviceProperty(device, key);
  return v.kind == platform::PrefValue::Kind::string ? std::move(v.text) : std::string();
}

}  // namespace

bool isDjiMicButtonValue(platform::HidValueRef value) noexcept {
  const platform::HidElementRef element = platform::hidValueElement(value);
  if (!element) return false;
  if (platform::hidElementUsagePage(element) != kConsumerUsagePage ||
      platform::hidElementUsage(element) != kVolumeIncrementUsage)
    return false;
  const platform::HidDeviceRef device = platform::hidElementDevice(element);
  if (!device) return false;
  if (!numberPropertyIs(device, kVendorIDKey, kDjiVendorID) ||
      !numberPropertyIs(device, kProductIDKey, kDjiProductID))
    return false;
  if (!std::string_view(stringProperty(device, kManufacturerKey)).starts_with(kDjiManufacturerPrefix)) return false;
  return stringProperty(device, kProductKey) == kDjiProductName;
}

bool recognizeDjiValue(platform::HidValueRef value) noexcept {
  if (!isDjiMicButtonValue(value)) return false;
  const bool pressed = platform::hidValueInteger(value) != 0;
  if (pressed == gDjiButtonDown) return false;
  gDjiButtonDown = pressed;
  return pressed;
}

void djiInputValueCallback(platform::HidValueRef value) noexcept {
  if (recognizeDjiValue(value)) reportDjiPress();
}

}  // namespace pelmora
