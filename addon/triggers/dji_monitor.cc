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

void onDjiValue(platform::HidValueRef value) noexcept {
  std::lock_guard lock(gDjiCallbackMutex);
  djiInputValueCallback(value);
}

// A manager for the receiver on the main run loop, opened with the options;
// none when the open is refused. A refused open leaves the manager marked
// open and scheduled: the close takes it off the run loop as well.
platform::HidManager openDjiManager(uint32_t options) {
  platform::HidManager manager = platform::createHidManager();
  if (!manager) return {};
  platform::setHidDeviceMatching(manager.get(), kDjiMatching);
  platform::registerHidInputValueCallback(manager.get(), onDjiValue);
  platform::scheduleHidManagerOnMainRunLoop(manager.get());
  if (platform::openHidManager(manager.get(), options) == platform::kHidSuccess) return manager;
  platform::closeHidManager(manager.get(), platform::kHidOpenNone);
  return {};
}

// Exclusive use keeps the button's volume action away from the system.
// IOHIDFamily refuses the seize of a device whose primary usage is a
// keyboard or keypad to a client without privilege, so for such a receiver
// shared use follows (one another client has seized refuses both). The refused
// manager is not reused: leaving its run loop dropped its device
// notifications for good, and a receiver plugged in again would never be
// heard. A fresh one has its own.
platform::HidManager openDjiManager() {
  if (auto manager = openDjiManager(platform::kHidOpenSeizeDevice)) return manager;
  return openDjiManager(platform::kHidOpenNone);
}

}  // namespace

void reportDjiPress() noexcept { queueMonitorCallback(gDjiTsfn); }

napi_value fnStartDjiMicButton(napi_env env, napi_callback_info info) {
  if (gDjiRunning) return booleanResult(env, true);  // the first callback stays in force

  // Without a way to report, seizing the device would only swallow its
  // button: no callback, no manager.
  gDjiTsfn = createMonitorCallback(env, info, "djiMicButtonCallback");
  if (!gDjiTsfn) return booleanResult(env, false);

  platform::HidManager manager = openDjiManager();
  if (!manager) {
    releaseMonitorCallback(gDjiTsfn);
    return booleanResult(env, false);
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
