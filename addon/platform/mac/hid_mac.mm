// The HID manager over IOKit.
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/hid/IOHIDManager.h>

#include "platform/mac/cf_value.h"
#include "platform/platform.h"

namespace platform {
namespace {

IOHIDManagerRef asManager(HidManagerObject* manager) { return reinterpret_cast<IOHIDManagerRef>(manager); }
IOHIDValueRef asValue(HidValueRef value) {
  return reinterpret_cast<IOHIDValueRef>(const_cast<HidValueObject*>(value));
}
IOHIDElementRef asElement(HidElementRef element) {
  return reinterpret_cast<IOHIDElementRef>(const_cast<HidElementObject*>(element));
}
IOHIDDeviceRef asDevice(HidDeviceRef device) {
  return reinterpret_cast<IOHIDDeviceRef>(const_cast<HidDeviceObject*>(device));
}

// The registration's context carries the logic's callback.
void valueTrampoline(void* context, IOReturn, void*, IOHIDValueRef value) {
  auto callback = reinterpret_cast<HidInputValueCallback>(context);
  if (callback && value) callback(reinterpret_cast<HidValueRef>(value));
}

}  // namespace

HidManager createHidManager() noexcept {
  return HidManager::adopt(
      reinterpret_cast<HidManagerObject*>(IOHIDManagerCreate(kCFAllocatorDefault, kIOHIDOptionsTypeNone)));
}

void setHidDeviceMatching(HidManagerObject* manager, std::span<const HidNumberMatch> matching) noexcept {
  if (!manager) return;
  const auto dictionary = CFHandle<CFMutableDictionaryRef>::adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, static_cast<CFIndex>(matching.size()), &kCFTypeDictionaryKeyCallBacks,
      &kCFTypeDictionaryValueCallBacks));
  if (!dictionary) return;
  for (const auto& m : matching) {
    const auto key = cfStringFromUtf8(m.key);
    const SInt64 number = m.value;
    const auto value = CFHandle<CFNumberRef>::adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &number));
    if (key && value) CFDictionarySetValue(dictionary.get(), key.get(), value.get());
  }
  IOHIDManagerSetDeviceMatching(asManager(manager), dictionary.get());
}

void registerHidInputValueCallback(HidManagerObject* manager, HidInputValueCallback callback) noexcept {
  if (manager)
    IOHIDManagerRegisterInputValueCallback(asManager(manager), callback ? valueTrampoline : nullptr,
                                           reinterpret_cast<void*>(callback));
}

void scheduleHidManagerOnMainRunLoop(HidManagerObject* manager) noexcept {
  if (manager) IOHIDManagerScheduleWithRunLoop(asManager(manager), CFRunLoopGetMain(), kCFRunLoopCommonModes);
}

void unscheduleHidManagerFromMainRunLoop(HidManagerObject* manager) noexcept {
  if (manager) IOHIDManagerUnscheduleFromRunLoop(asManager(manager), CFRunLoopGetMain(), kCFRunLoopCommonModes);
}

int32_t openHidManager(HidManagerObject* manager, uint32_t options) noexcept {
  if (!manager) return kIOReturnBadArgument;
  return IOHIDManagerOpen(asManager(manager), options);
}

int32_t closeHidManager(HidManagerObject* manager, uint32_t options) noexcept {
  if (!manager) return kIOReturnBadArgument;
  return IOHIDManagerClose(asManager(manager), options);
}

HidElementRef hidValueElement(HidValueRef value) noexcept {
  return value ? reinterpret_cast<HidElementRef>(IOHIDValueGetElement(asValue(value))) : nullptr;
}

int64_t hidValueInteger(HidValueRef value) noexcept { return value ? IOHIDValueGetIntegerValue(asValue(value)) : 0; }

uint32_t hidElementUsagePage(HidElementRef element) noexcept {
  return element ? IOHIDElementGetUsagePage(asElement(element)) : 0;
}

uint32_t hidElementUsage(HidElementRef element) noexcept {
  return element ? IOHIDElementGetUsage(asElement(element)) : 0;
}

HidDeviceRef hidElementDevice(HidElementRef element) noexcept {
  return element ? reinterpret_cast<HidDeviceRef>(IOHIDElementGetDevice(asElement(element))) : nullptr;
}

PrefValue hidDeviceProperty(HidDeviceRef device, std::string_view key) noexcept {
  if (!device) return {};
  const auto cfKey = cfStringFromUtf8(key);
  if (!cfKey) return {};
  return valueFromCF(IOHIDDeviceGetProperty(asDevice(device), cfKey.get()));  // borrowed: a Get call
}

}  // namespace platform
