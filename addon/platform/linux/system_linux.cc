// The rest of the seam on a Linux desktop: time, child processes and
// terminals, and what this backend does not have yet. The keyboard and the
// microphone's receiver need evdev, which a later version brings: until then
// no tap and no HID manager is ever made, so start() and startDjiMicButton()
// answer false, and the keyboard settings read as when nothing is stored.
#include <time.h>

#include <cerrno>
#include <cmath>

#include "platform/platform.h"
#include "platform/posix/child_process.h"
#include "platform/posix/clock.h"
#include "platform/posix/terminal_input.h"

namespace platform {

// Durations on a clock that also counts a suspended machine: a target
// captured before the lid closed is as old as it looks.
double now() noexcept { return posix::clockSeconds(CLOCK_BOOTTIME); }

void sleepFor(double seconds) noexcept {
  if (!(seconds > 0)) return;
  timespec left{static_cast<time_t>(seconds), static_cast<long>(std::fmod(seconds, 1.0) * 1e9)};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// ---- Keyboard and run loops: none on this backend --------------------------

bool mayListenToKeyEvents() noexcept { return false; }
KeyboardTap createKeyboardEventTap(uint64_t, TapCallback) noexcept { return {}; }
void setEventTapEnabled(EventTapObject*, bool) noexcept {}
void invalidateEventTap(EventTapObject*) noexcept {}
RunLoopSource createEventTapRunLoopSource(EventTapObject*) noexcept { return {}; }
RunLoop mainRunLoop() noexcept { return {}; }
RunLoop currentRunLoop() noexcept { return {}; }
void addSourceToRunLoop(RunLoopObject*, RunLoopSourceObject*) noexcept {}
void removeSourceFromRunLoop(RunLoopObject*, RunLoopSourceObject*) noexcept {}
void runRunLoopUntilStopped() noexcept {}
void performOnRunLoop(RunLoopObject*, RunLoopBlock, void*) noexcept {}
void stopCurrentRunLoop() noexcept {}
uint64_t keyEventFlags(KeyEventRef) noexcept { return 0; }
int64_t keyEventKeyCode(KeyEventRef) noexcept { return 0; }
void runCurrentRunLoop(double) noexcept {}

// ---- HID: no manager -----------------------------------------------------

HidManager createHidManager() noexcept { return {}; }
void setHidDeviceMatching(HidManagerObject*, std::span<const HidNumberMatch>) noexcept {}
void registerHidInputValueCallback(HidManagerObject*, HidInputValueCallback) noexcept {}
void scheduleHidManagerOnMainRunLoop(HidManagerObject*) noexcept {}
void unscheduleHidManagerFromMainRunLoop(HidManagerObject*) noexcept {}
int32_t openHidManager(HidManagerObject*, uint32_t) noexcept { return -1; }
int32_t closeHidManager(HidManagerObject*, uint32_t) noexcept { return -1; }
HidElementRef hidValueElement(HidValueRef) noexcept { return nullptr; }
int64_t hidValueInteger(HidValueRef) noexcept { return 0; }
uint32_t hidElementUsagePage(HidElementRef) noexcept { return 0; }
uint32_t hidElementUsage(HidElementRef) noexcept { return 0; }
HidDeviceRef hidElementDevice(HidElementRef) noexcept { return nullptr; }
PrefValue hidDeviceProperty(HidDeviceRef, std::string_view) noexcept { return {}; }

// ---- Preferences: none stored ----------------------------------------------

PrefValue copyAppPreference(std::string_view, std::string_view) noexcept { return {}; }

// ---- Child processes and terminals ---------------------------------------

std::string toolPath(Tool tool) { return tool == Tool::ps ? "/bin/ps" : std::string(); }

ChildResult runChildProcess(const std::string& path, const std::vector<std::string>& args, double timeoutSeconds) {
  return posix::runChildProcess(path, args, timeoutSeconds);
}

bool canTypeIntoOtherTerminals() { return posix::canTypeIntoOtherTerminals(); }

TypingOutcome typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace,
                               EraseCount eraseCount) {
  return posix::typeIntoTerminal(path, bytes, pace, eraseCount);
}

}  // namespace platform
