#include "triggers/fn_monitor.h"

#include "frame/results.h"
#include "platform/platform.h"
#include "triggers/dji_monitor.h"
#include "triggers/fn_tap.h"
#include "triggers/js_callback.h"

namespace pelmora {

bool gRunning = false;

namespace {

platform::RunLoopSource gRunLoopSource;
napi_threadsafe_function gTsfn = nullptr;
TeardownGuard gTeardown{nullptr, fnStop};

constexpr double kPumpInterval = 0.001;

}  // namespace

void reportFnTap() noexcept { queueMonitorCallback(gTsfn); }

napi_value fnStart(napi_env env, napi_callback_info info) {
  if (gRunning) return booleanResult(env, true);  // the first callback stays in force

  gTsfn = createMonitorCallback(env, info, "pelmoraCallback");
  if (!gTsfn) return booleanResult(env, false);

  gEventTap = platform::createKeyboardEventTap(kFnEventMask, eventTapCallback);
  if (!gEventTap) {
    releaseMonitorCallback(gTsfn);
    return booleanResult(env, false);
  }
  gRunLoopSource = platform::createEventTapRunLoopSource(gEventTap.get());
  platform::addSourceToMainRunLoop(gRunLoopSource.get());
  platform::setEventTapEnabled(gEventTap.get(), true);

  gRunning = true;
  gFnIsDown = false;
  gOtherKeyPressed = false;
  armTeardownGuard(gTeardown, env);
  return booleanResult(env, true);
}

void fnStop() {
  if (!gRunning) return;
  gRunning = false;
  if (gRunLoopSource) platform::removeSourceFromMainRunLoop(gRunLoopSource.get());
  if (gEventTap) {
    platform::setEventTapEnabled(gEventTap.get(), false);
    platform::invalidateEventTap(gEventTap.get());
    gEventTap.reset();
  }
  gRunLoopSource.reset();
  disarmTeardownGuard(gTeardown);
  releaseMonitorCallback(gTsfn);
}

napi_value stopEntry(napi_env, napi_callback_info) {
  fnStop();
  return nullptr;
}

napi_value isActiveEntry(napi_env env, napi_callback_info) {
  return booleanResult(env, gRunning && gEventTap);
}

// Both monitors' sources sit on the main run loop.
napi_value processEventsEntry(napi_env, napi_callback_info) {
  if (gRunning || gDjiRunning) platform::runCurrentRunLoop(kPumpInterval);
  return nullptr;
}

}  // namespace pelmora
