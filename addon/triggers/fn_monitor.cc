#include "triggers/fn_monitor.h"

#include "frame/results.h"
#include "platform/platform.h"
#include "triggers/dji_monitor.h"
#include "triggers/fn_tap.h"
#include "triggers/js_callback.h"
#include "triggers/run_loop_thread.h"

namespace pelmora {

bool gRunning = false;

namespace {

// An active tap makes the window server wait for every keystroke of the
// system until the tap answers. On the host's JavaScript thread it would
// answer only when that thread is idle, so the tap and its recognizer run on
// a thread of their own with its own run loop. That thread touches the
// recognizer's state and the tap; start hands them over before the thread
// begins, and stop takes them back after it has ended.
platform::RunLoopSource gRunLoopSource;
// Never destroyed: a host that exits with the monitor running (process.exit
// runs no environment clean-up) must not find a joinable thread among the
// static objects.
RunLoopThread& gTapThread = *new RunLoopThread();
napi_threadsafe_function gTsfn = nullptr;
TeardownGuard gTeardown{fnStop};

constexpr double kPumpInterval = 0.001;

// Enabled from inside the thread's run, so that the tap is never live while
// nothing serves it; disabled there after every event it was handed, so that
// keystrokes go straight on while the thread leaves and the tap goes.
void enableTap(void*) { platform::setEventTapEnabled(gEventTap.get(), true); }
void disableTap(void*) { platform::setEventTapEnabled(gEventTap.get(), false); }
constexpr RunLoopThreadHooks kTapHooks{enableTap, disableTap, nullptr};

void releaseTap() {
  if (gEventTap) {
    platform::invalidateEventTap(gEventTap.get());
    gEventTap.reset();
  }
  gRunLoopSource.reset();
}

}  // namespace

void reportFnTap() noexcept { queueMonitorCallback(gTsfn); }

napi_value fnStart(napi_env env, napi_callback_info info) {
  if (gRunning) return booleanResult(env, true);  // the first callback stays in force

  gTsfn = createMonitorCallback(env, info, "pelmoraCallback");
  if (!gTsfn) return booleanResult(env, false);

  // Listening to the keyboard needs Input Monitoring, and a tap that
  // swallows events needs Accessibility as well; the system says so through
  // its own checks, before any tap exists.
  if (!platform::mayListenToKeyEvents() || !platform::isProcessTrusted()) {
    releaseMonitorCallback(gTsfn);
    return booleanResult(env, false);
  }
  platform::KeyboardTap created = platform::createKeyboardEventTap(kFnEventMask, eventTapCallback);
  gEventTap = std::move(created.tap);
  // Without key presses in the mask, Fn+Delete would be taken for a tap and
  // its release swallowed: a tap the system's list shows without them all is
  // no tap. One the list does not show is taken at its word.
  if (!gEventTap || (created.listedMask && (*created.listedMask & kFnEventMask) != kFnEventMask)) {
    releaseTap();
    releaseMonitorCallback(gTsfn);
    return booleanResult(env, false);
  }
  gRunLoopSource = platform::createEventTapRunLoopSource(gEventTap.get());
  resetFnRecognizer();
  if (!gRunLoopSource || !startRunLoopThread(gTapThread, gRunLoopSource.get(), kTapHooks)) {
    releaseTap();
    releaseMonitorCallback(gTsfn);
    return booleanResult(env, false);
  }

  gRunning = true;
  armTeardownGuard(gTeardown, env);
  return booleanResult(env, true);
}

void fnStop() {
  if (!gRunning) return;
  gRunning = false;
  stopRunLoopThread(gTapThread, kTapHooks);
  releaseTap();
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

// The microphone's manager sits on the main run loop, which a host that does
// not run it itself has pumped here.
napi_value processEventsEntry(napi_env, napi_callback_info) {
  if (gRunning || gDjiRunning) platform::runCurrentRunLoop(kPumpInterval);
  return nullptr;
}

}  // namespace pelmora
