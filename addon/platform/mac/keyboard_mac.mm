// The keyboard event tap over CoreGraphics, and the run loops it lives on.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

#include "platform/platform.h"

namespace platform {
namespace {

CFMachPortRef asPort(EventTapObject* tap) { return reinterpret_cast<CFMachPortRef>(tap); }
CFRunLoopSourceRef asSource(RunLoopSourceObject* source) {
  return reinterpret_cast<CFRunLoopSourceRef>(source);
}
CGEventRef asEvent(KeyEventRef event) {
  return reinterpret_cast<CGEventRef>(const_cast<KeyEventObject*>(event));
}

// The tap's user pointer carries the logic's callback; answering null
// swallows the event.
CGEventRef tapTrampoline(CGEventTapProxy, CGEventType type, CGEventRef event, void* userInfo) {
  auto callback = reinterpret_cast<TapCallback>(userInfo);
  const TapVerdict verdict = callback(type, reinterpret_cast<KeyEventRef>(event));
  return verdict == TapVerdict::pass ? event : nullptr;
}

}  // namespace

EventTap createKeyboardEventTap(uint64_t mask, TapCallback callback) noexcept {
  if (callback == nullptr) return {};
  CFMachPortRef port =
      CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       static_cast<CGEventMask>(mask), tapTrampoline, reinterpret_cast<void*>(callback));
  return EventTap::adopt(reinterpret_cast<EventTapObject*>(port));
}

void setEventTapEnabled(EventTapObject* tap, bool enabled) noexcept {
  if (tap) CGEventTapEnable(asPort(tap), enabled);
}

void invalidateEventTap(EventTapObject* tap) noexcept {
  if (tap) CFMachPortInvalidate(asPort(tap));
}

RunLoopSource createEventTapRunLoopSource(EventTapObject* tap) noexcept {
  if (!tap) return {};
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, asPort(tap), 0);
  return RunLoopSource::adopt(reinterpret_cast<RunLoopSourceObject*>(source));
}

void addSourceToMainRunLoop(RunLoopSourceObject* source) noexcept {
  if (source) CFRunLoopAddSource(CFRunLoopGetMain(), asSource(source), kCFRunLoopCommonModes);
}

void removeSourceFromMainRunLoop(RunLoopSourceObject* source) noexcept {
  if (source) CFRunLoopRemoveSource(CFRunLoopGetMain(), asSource(source), kCFRunLoopCommonModes);
}

uint64_t keyEventFlags(KeyEventRef event) noexcept { return CGEventGetFlags(asEvent(event)); }

int64_t keyEventKeyCode(KeyEventRef event) noexcept {
  return CGEventGetIntegerValueField(asEvent(event), kCGKeyboardEventKeycode);
}

void runCurrentRunLoop(double seconds) noexcept {
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, false);
}

}  // namespace platform
