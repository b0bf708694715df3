// Recognition of a tap of the Fn/Globe key in the system-wide keyboard stream.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace pelmora {

inline constexpr uint32_t kKeyDownEventType = 10;
inline constexpr uint32_t kKeyUpEventType = 11;
inline constexpr uint32_t kFlagsChangedEventType = 12;
inline constexpr uint32_t kSystemDefinedEventType = 14;
inline constexpr uint32_t kTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr uint32_t kTapDisabledByUserInput = 0xFFFFFFFF;
inline constexpr uint64_t kFnEventMask = 0x5C00;  // key down, key up, flags changed, system-defined
inline constexpr uint64_t kFnFlag = 0x800000;
inline constexpr int64_t kGlobeKeyCode = 179;

// Recognizer state, owned by the Fn monitor; see the state table in
// recognizeFnEvent.
extern bool gFnIsDown;          // an Fn press has been swallowed, its release not yet seen
extern bool gOtherKeyPressed;   // since that press another key spoilt the tap
extern bool gSuppressGlobeKey;  // after a tap, the Globe key's own events are swallowed

// Back to Idle, the Globe key's suppression off: for a tap that starts, or
// that the system disabled (a release may have gone by unseen meanwhile).
void resetFnRecognizer() noexcept;

// The monitor's tap, which the callback turns back on when the system
// disabled it.
extern platform::EventTap gEventTap;

struct FnStep {
  platform::TapVerdict verdict = platform::TapVerdict::pass;
  bool reportTap = false;    // a complete tap: tell JavaScript
  bool reenableTap = false;  // the system disabled the tap: turn it back on
};

// One event through the state machine. Constant work, no allocation, no
// blocking: the system holds every keystroke of the desktop until it returns.
FnStep recognizeFnEvent(uint32_t type, platform::KeyEventRef event) noexcept;

// The tap's callback: the recognizer plus its two effects.
platform::TapVerdict eventTapCallback(uint32_t type, platform::KeyEventRef event) noexcept;

// Provided by the monitor: queue one call of the JavaScript callback.
void reportFnTap() noexcept;

}  // namespace pelmora
