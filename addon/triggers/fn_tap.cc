#include "triggers/fn_tap.h"

namespace pelmora {

bool gFnIsDown = false;
bool gOtherKeyPressed = false;
bool gSuppressGlobeKey = false;
platform::EventTap gEventTap;

void resetFnRecognizer() noexcept {
  gFnIsDown = false;
  gOtherKeyPressed = false;
  gSuppressGlobeKey = false;
}

// Idle   (down false)       Fn flag set         -> swallow, clear other   -> Held
// Held   (down, !other)     Fn flag set         -> pass                   -> Held
// Held                      key or system event -> pass                   -> Spoilt
// Held                      Fn flag clear       -> report, swallow        -> Idle
// Spoilt (down, other)      anything but clear  -> pass                   -> Spoilt
// Spoilt                    Fn flag clear       -> pass                   -> Idle
// Globe key (179) while suppression is on: swallowed in every state, the key
// up ends the suppression.
// Either tap-disabled notification: every state back to Idle, suppression off.
FnStep recognizeFnEvent(uint32_t type, platform::KeyEventRef event) noexcept {
  using platform::TapVerdict;
  // While the tap was off, a release may have gone by unseen: start over, or
  // the next Fn press would pass and its release be swallowed.
  if (type == kTapDisabledByTimeout || type == kTapDisabledByUserInput) {
    resetFnRecognizer();
    return {TapVerdict::pass, false, true};
  }

  const uint64_t flags = platform::keyEventFlags(event);
  switch (type) {
    case kFlagsChangedEventType:
      if (flags & kFnFlag) {
        if (gFnIsDown) return {};  // another modifier while Fn is held
        gFnIsDown = true;
        gOtherKeyPressed = false;
        return {TapVerdict::swallow};
      }
      if (!gFnIsDown) return {};
      gFnIsDown = false;
      if (gOtherKeyPressed) return {};
      gSuppressGlobeKey = true;
      return {TapVerdict::swallow, true};

    case kSystemDefinedEventType:
      if (gFnIsDown) gOtherKeyPressed = true;
      return {};

    case kKeyDownEventType:
    case kKeyUpEventType:
      if (gSuppressGlobeKey && platform::keyEventKeyCode(event) == kGlobeKeyCode) {
        if (type == kKeyUpEventType) gSuppressGlobeKey = false;
        return {TapVerdict::swallow};
      }
      if (gFnIsDown) gOtherKeyPressed = true;
      return {};

    default:
      return {};
  }
}

platform::TapVerdict eventTapCallback(uint32_t type, platform::KeyEventRef event) noexcept {
  const FnStep step = recognizeFnEvent(type, event);
  if (step.reenableTap) {
    if (gEventTap) platform::setEventTapEnabled(gEventTap.get(), true);
  }
  if (step.reportTap) reportFnTap();
  return step.verdict;
}

}  // namespace pelmora
