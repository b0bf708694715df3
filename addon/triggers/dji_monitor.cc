#include "triggers/dji_monitor.h"

#include <mutex>
#include <utility>

#include "frame/results.h"
#include "platform/platform.h"
#include "triggers/dji_button.h"
#include "triggers/js_callback.h"

namespace pelmora {

bool gDjiRunning = false;

namespace {

platform::HidManager gDjiManager;
napi_threadsafe_function gDjiTsfn = nullptr;
// A host that runs the main run loop itself (Electron does) runs this
// monitor's callback outside any export, so the exports' lock does not cover
// it: the button state and the callback have a lock of their own, held for a
// few instructions.
std::mutex gDjiCallbackMutex;
TeardownGuard gDjiTeardown{stopDjiMicButton};

constexpr platform::HidNumberMatch kDjiMatching[] = {
    {kVendorIDKey, kDjiVendorID},
    {kProductIDKey, kDjiProductID},
};

// Exclusive use keeps the button's volume action away from the system;
// another client may hold the receiver already, so shared use will do. A
// refused seize leaves the manager marked open, and an open of a manager
// marked open does nothing yet answers success: it has to be closed (which
// also takes it off the run loop) before the shared open means anything.
void onDjiValue(platform::HidValueRef value) noexcept {
  std::lock_guard lock(gDjiCallbackMutex);
  djiInputValueCallback(value);
}

bool openDjiManager(platform::HidManagerObject* manager) {
  platform::scheduleHidManagerOnMainRunLoop(manager);
  if (platform::openHidManager(manager, platform::kHidOpenSeizeDevice) == platform::kHidSuccess) return true;
  platform::closeHidManager(manager, platform::kHidOpenNone);
  platform::scheduleHidManagerOnMainRunLoop(manager);
  if (platform::openHidManager(manager, platform::kHidOpenNone) == platform::kHidSuccess) return true;
  platform::closeHidManager(manager, platform::kHidOpenNone);
  platform::unscheduleHidManagerFromMainRunLoop(manager);
  return false;
}

}  // namespace

void reportDjiPress() noexcept { queueMonitorCallback(gDjiTsfn); }

napi_value fnStartDjiMicButton(napi_env env, napi_callback_info info) {
  if (gDjiRunning) return booleanResult(env, true);  // the first callback stays in force

  // Without a way to report, seizing the device would only swallow its
  // button: no callback, no manager.
  gDjiTsfn = createMonitorCallback(env, info, "djiMicButtonCallback");
  if (!gDjiTsfn) return booleanResult(env, false);

  platform::HidManager manager = platform::createHidManager();
  if (!manager) {
    releaseMonitorCallback(gDjiTsfn);
    return booleanResult(env, false);
  }
  platform::setHidDeviceMatching(manager.get(), kDjiMatching);
  platform::registerHidInputValueCallback(manager.get(), onDjiValue);
  if (!openDjiManager(manager.get())) {
    releaseMonitorCallback(gDjiTsfn);
    return booleanResult(env, false);  // the handle drops the manager
  }

  gDjiManager = std::move(manager);
  gDjiRunning = true;
  {
    std::lock_guard lock(gDjiCallbackMutex);
    gDjiButtonDown = false;
  }
  armTeardownGuard(gDjiTeardown, env);
  return booleanResult(env, true);
}

void stopDjiMicButton() {
  if (!gDjiRunning) return;
  gDjiRunning = false;
  if (gDjiManager) {
    platform::unscheduleHidManagerFromMainRunLoop(gDjiManager.get());
    platform::closeHidManager(gDjiManager.get(), platform::kHidOpenNone);
    gDjiManager.reset();
  }
  disarmTeardownGuard(gDjiTeardown);
  std::lock_guard lock(gDjiCallbackMutex);
  gDjiButtonDown = false;
  releaseMonitorCallback(gDjiTsfn);
}

napi_value stopDjiMicButtonEntry(napi_env, napi_callback_info) {
  stopDjiMicButton();
  return nullptr;
}

napi_value isDjiMicButtonActiveEntry(napi_env env, napi_callback_info) {
  return booleanResult(env, gDjiRunning && gDjiManager);
}

}  // namespace pelmora
