// Recognition of the microphone receiver's button among HID input values.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace pelmora {

inline constexpr int64_t kDjiVendorID = 11427;   // 0x2CA3
inline constexpr int64_t kDjiProductID = 16401;  // 0x4011
inline constexpr char kVendorIDKey[] = "VendorID";
inline constexpr char kProductIDKey[] = "ProductID";
inline constexpr char kManufacturerKey[] = "Manufacturer";
inline constexpr char kProductKey[] = "Product";
inline constexpr char kDjiManufacturerPrefix[] = "DJI";
inline constexpr char kDjiProductName[] = "Wireless Mic Rx";
inline constexpr uint32_t kConsumerUsagePage = 0x0C;
inline constexpr uint32_t kVolumeIncrementUsage = 0xE9;  // what the button reports

// The last button state seen (true: pressed), owned by the monitor.
extern bool gDjiButtonDown;

// The value is the receiver's button: the usage, then the device's
// identifiers and names.
bool isDjiMicButtonValue(platform::HidValueRef value) noexcept;

// One value through the button state; true when it is a press to report
// (released to pressed; repeats and releases are silent).
bool recognizeDjiValue(platform::HidValueRef value) noexcept;

// The manager's input value callback: the recognizer plus its report.
void djiInputValueCallback(platform::HidValueRef value) noexcept;

// Provided by the monitor: queue one call of the JavaScript callback.
void reportDjiPress() noexcept;

}  // namespace pelmora
