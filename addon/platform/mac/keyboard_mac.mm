// The keyboard event tap over CoreGraphics, and the run loops it lives on.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

CFMachPortRef asPort(EventTapObject* tap) { return reinterpret_cast<CFMachPortRef>(tap); }
CFRunLoopSourceRef asSource(RunLoopSourceObject* source) {
  return reinterpret_cast<CFRunLoopSourceRef>(source);
}
CFRunLoopRef asLoop(RunLoopObject* loop) { return reinterpret_cast<CFRunLoopRef>(loop); }
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

// The system's list of installed taps. Listing also resets the taps'
// latency figures, which nothing here reads.
std::vector<CGEventTapInformation> installedTaps() {
  uint32_t count = 0;
  if (CGGetEventTapList(0, nullptr, &count) != kCGErrorSuccess) return {};
  std::vector<CGEventTapInformation> list(count + 16);  // room for taps added meanwhile
  if (CGGetEventTapList(static_cast<uint32_t>(list.size()), list.data(), &count) != kCGErrorSuccess) return {};
  list.resize(std::min<size_t>(count, list.size()));
  return list;
}

bool isOurs(const CGEventTapInformation& info) {
  return info.tappingProcess == getpid() && info.tapPoint == kCGHIDEventTap &&
         info.options == kCGEventTapOptionDefault && info.processBeingTapped == 0;
}

}  // namespace

bool mayListenToKeyEvents() noexcept { return CGPreflightListenEventAccess(); }

KeyboardTap createKeyboardEventTap(uint64_t mask, TapCallback callback) noexcept {
  if (callback == nullptr) return {};
  std::vector<uint32_t> before;
  for (const auto& info : installedTaps())
    if (isOurs(info)) before.push_back(info.eventTapID);

  CFMachPortRef port =
      CGEventTapCreate(kCGHIDEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       static_cast<CGEventMask>(mask), tapTrampoline, reinterpret_cast<void*>(callback));
  if (!port) return {};
  // Created enabled, with no run loop yet to serve it: every keystroke of the
  // system would wait on it. It is enabled again from the thread that runs it.
  CGEventTapEnable(port, false);

  // The port does not say which entry of the list it is: the new entries of
  // this process are. Another thread of the host creating a tap at the same
  // moment adds one more; every new entry must then see the types. None found
  // tells nothing: the list's reading is not documented.
  std::optional<uint64_t> listed;
  for (const auto& info : installedTaps()) {
    if (!isOurs(info) || std::find(before.begin(), before.end(), info.eventTapID) != before.end()) continue;
    listed = listed.value_or(mask) & info.eventsOfInterest;
  }
  return {EventTap::adopt(reinterpret_cast<EventTapObject*>(port)), listed};
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

RunLoop mainRunLoop() noexcept { return RunLoop::retain(reinterpret_cast<RunLoopObject*>(CFRunLoopGetMain())); }

RunLoop currentRunLoop() noexcept {
  return RunLoop::retain(reinterpret_cast<RunLoopObject*>(CFRunLoopGetCurrent()));
}

void addSourceToRunLoop(RunLoopObject* loop, RunLoopSourceObject* source) noexcept {
  if (loop && source) CFRunLoopAddSource(asLoop(loop), asSource(source), kCFRunLoopCommonModes);
}

void removeSourceFromRunLoop(RunLoopObject* loop, RunLoopSourceObject* source) noexcept {
  if (loop && source) CFRunLoopRemoveSource(asLoop(loop), asSource(source), kCFRunLoopCommonModes);
}

// CFRunLoopRun returns when the loop is stopped or has no source left.
void runRunLoopUntilStopped() noexcept { CFRunLoopRun(); }

// A block waits on the loop until it runs in a matching mode, so one queued
// before the thread reaches CFRunLoopRun is not lost; the wake-up makes a
// sleeping loop look at it.
void performOnRunLoop(RunLoopObject* loop, RunLoopBlock block, void* context) noexcept {
  if (!loop || !block) return;
  CFRunLoopPerformBlock(asLoop(loop), kCFRunLoopCommonModes, ^{
    block(context);
  });
  CFRunLoopWakeUp(asLoop(loop));
}

// CFRunLoopStop ends only a run in progress: called from a block on the loop,
// that is the run the block is part of.
void stopCurrentRunLoop() noexcept { CFRunLoopStop(CFRunLoopGetCurrent()); }

uint64_t keyEventFlags(KeyEventRef event) noexcept { return CGEventGetFlags(asEvent(event)); }

int64_t keyEventKeyCode(KeyEventRef event) noexcept {
  return CGEventGetIntegerValueField(asEvent(event), kCGKeyboardEventKeycode);
}

void runCurrentRunLoop(double seconds) noexcept {
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, false);
}

}  // namespace platform
