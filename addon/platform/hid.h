// The HID manager: matched devices, their input values, and the main run
// loop that delivers them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/handle.h"
#include "platform/prefs.h"

namespace platform {

struct HidManagerObject;  // a HID manager
struct HidValueObject;    // one input value, borrowed during a callback
struct HidElementObject;  // the element a value belongs to, borrowed
struct HidDeviceObject;   // the device an element belongs to, borrowed

using HidManager = Handle<HidManagerObject>;
using HidValueRef = const HidValueObject*;
using HidElementRef = const HidElementObject*;
using HidDeviceRef = const HidDeviceObject*;

// Open options.
inline constexpr uint32_t kHidOpenNone = 0;
inline constexpr uint32_t kHidOpenSeizeDevice = 1;  // exclusive use of the matched devices

inline constexpr int32_t kHidSuccess = 0;  // the IOReturn of success

// Called on the main run loop's thread for each input value of a matched
// device.
using HidInputValueCallback = void (*)(HidValueRef value);

// A device property that matching compares with a number.
struct HidNumberMatch {
  const char* key;  // "VendorID", ...
  int64_t value;
};

HidManager createHidManager() noexcept;
// Only devices whose properties equal every entry are matched.
void setHidDeviceMatching(HidManagerObject* manager, std::span<const HidNumberMatch> matching) noexcept;
void registerHidInputValueCallback(HidManagerObject* manager, HidInputValueCallback callback) noexcept;
// On the main run loop, common modes.
void scheduleHidManagerOnMainRunLoop(HidManagerObject* manager) noexcept;
void unscheduleHidManagerFromMainRunLoop(HidManagerObject* manager) noexcept;
// Both answer the platform's IOReturn code.
int32_t openHidManager(HidManagerObject* manager, uint32_t options) noexcept;
int32_t closeHidManager(HidManagerObject* manager, uint32_t options) noexcept;

HidElementRef hidValueElement(HidValueRef value) noexcept;
int64_t hidValueInteger(HidValueRef value) noexcept;
uint32_t hidElementUsagePage(HidElementRef element) noexcept;
uint32_t hidElementUsage(HidElementRef element) noexcept;
HidDeviceRef hidElementDevice(HidElementRef element) noexcept;
// The device's property under a key, of whatever kind it is (absent when the
// device has none).
PrefValue hidDeviceProperty(HidDeviceRef device, std::string_view key) noexcept;

}  // namespace platform
