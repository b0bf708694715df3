#include "triggers/fn_monitor.h"

#include <future>
#include <system_error>
#include <thread>

#include "frame/results.h"
#include "platform/platform.h"
#include "triggers/dji_monitor.h"
#include "triggers/fn_tap.h"
#include "triggers/js_callback.h"

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
platform::RunLoop gTapRunLoop;
// Never destroyed: a host that exits with the monitor running (process.exit
// runs no environment clean-up) must not find a joinable thread among the
// static objects.
std::thread& gTapThread = *new std::thread();
napi_threadsafe_function gTsfn = nullptr;
TeardownGuard gTeardown{fnStop};

constexpr double kPumpInterval = 0.001;

// Runs the tap's run loop; answers the loop through `ready` once the source
// is on it.
void runTapThread(platform::RunLoopSourceObject* source, std::promise<platform::RunLoop>* ready) {
  platform::RunLoop loop = platform::currentRunLoop();
  platform::addSourceToRunLoop(loop.get(), source);
  ready->set_value(loop.share());
  platform::runRunLoopUntilStopped();
  platform::removeSourceFromRunLoop(loop.get(), source);
}

// The tap's own thread, or false when the system gives none.
bool startTapThread() {
  std::promise<platform::RunLoop> ready;
  auto loop = ready.get_future();
  try {
    gTapThread = std::thread(runTapThread, gRunLoopSource.get(), &ready);
  } catch (const std::system_error&) {
    return false;
  }
  gTapRunLoop = loop.get();
  return true;
}

void releaseTap() {
  if (gEventTap) {
    platform::setEventTapEnabled(gEventTap.get(), false);
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

  platform::KeyboardTap created = platform::createKeyboardEventTap(kFnEventMask, eventTapCallback);
  gEventTap = std::move(created.tap);
  // Without key presses in the mask, Fn+Delete would be taken for a tap and
  // its release swallowed: a tap that cannot see them all is no tap.
  if (!gEventTap || (created.mask & kFnEventMask) != kFnEventMask) {
    releaseTap();
    releaseMonitorCallback(gTsfn);
    return booleanResult(env, false);
  }
  gRunLoopSource = platform::createEventTapRunLoopSource(gEventTap.get());
  gFnIsDown = false;
  gOtherKeyPressed = false;
  if (!gRunLoopSource || !startTapThread()) {
    releaseTap();
    releaseMonitorCallback(gTsfn);
    return booleanResult(env, false);
  }
  platform::setEventTapEnabled(gEventTap.get(), true);

  gRunning = true;
  armTeardownGuard(gTeardown, env);
  return booleanResult(env, true);
}

void fnStop() {
  if (!gRunning) return;
  gRunning = false;
  if (gTapRunLoop) platform::stopRunLoop(gTapRunLoop.get());
  if (gTapThread.joinable()) gTapThread.join();
  gTapRunLoop.reset();
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
