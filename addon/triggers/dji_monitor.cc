#include "triggers/dji_monitor.h"

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
TeardownGuard gDjiTeardown{nullptr, stopDjiMicButton};

constexpr platform::HidNumberMatch kDjiMatching[] = {
    {kVendorIDKey, kDjiVendorID},
    {kProductIDKey, kDjiProductID},
};

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
  platform::registerHidInputValueCallback(manager.get(), djiInputValueCallback);
  platform::scheduleHidManagerOnMainRunLoop(manager.get());

  // Exclusive use keeps the button's volume action away from the system;
  // another client may hold the device already, so shared use will do.
  if (platform::openHidManager(manager.get(), platform::kHidOpenSeizeDevice) != platform::kHidSuccess &&
      platform::openHidManager(manager.get(), platform::kHidOpenNone) != platform::kHidSuccess) {
    platform::unscheduleHidManagerFromMainRunLoop(manager.get());
    releaseMonitorCallback(gDjiTsfn);
    return booleanResult(env, false);  // the handle drops the manager
  }

  gDjiManager = std::move(manager);
  gDjiRunning = true;
  gDjiButtonDown = false;
  armTeardownGuard(gDjiTeardown, env);
  return booleanResult(env, true);
}

void stopDjiMicButton() {
  if (!gDjiRunning) return;
  gDjiRunning = false;
  gDjiButtonDown = false;
  if (gDjiManager) {
    platform::unscheduleHidManagerFromMainRunLoop(gDjiManager.get());
    platform::closeHidManager(gDjiManager.get(), platform::kHidOpenNone);
    gDjiManager.reset();
  }
  disarmTeardownGuard(gDjiTeardown);
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
