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

struct TapThreadStart {
  platform::EventTapObject* tap;
  platform::RunLoopObject* loop;
  std::promise<platform::RunLoop>* ready;
};

// On the tap's run loop, inside its run: from now on the tap is served.
void enableTapInRun(void* context) {
  auto* start = static_cast<TapThreadStart*>(context);
  platform::setEventTapEnabled(start->tap, true);
  start->ready->set_value(platform::RunLoop::retain(start->loop));
}

// On the tap's run loop, after every event it was handed: keystrokes go
// straight on from here, while the thread leaves and the tap goes.
void disableTapAndStop(void* tap) {
  platform::setEventTapEnabled(static_cast<platform::EventTapObject*>(tap), false);
  platform::stopCurrentRunLoop();
}

// Runs the tap's run loop. The tap is enabled from inside that run, so that
// it is never live while nothing serves it; `ready` answers the loop then.
void runTapThread(platform::RunLoopSourceObject* source, platform::EventTapObject* tap,
                  std::promise<platform::RunLoop>* ready) {
  platform::RunLoop loop = platform::currentRunLoop();
  platform::addSourceToRunLoop(loop.get(), source);
  TapThreadStart start{tap, loop.get(), ready};
  platform::performOnRunLoop(loop.get(), enableTapInRun, &start);
  platform::runRunLoopUntilStopped();
  platform::removeSourceFromRunLoop(loop.get(), source);
}

// The tap's own thread, or false when the system gives none.
bool startTapThread() {
  std::promise<platform::RunLoop> ready;
  auto loop = ready.get_future();
  try {
    gTapThread = std::thread(runTapThread, gRunLoopSource.get(), gEventTap.get(), &ready);
  } catch (const std::system_error&) {
    return false;
  }
  gTapRunLoop = loop.get();
  return true;
}

// A tap the system disabled, or one that had not started, loses the release
// of a key held meanwhile: the recognizer starts over.
void resetRecognizer() {
  gFnIsDown = false;
  gOtherKeyPressed = false;
  gSuppressGlobeKey = false;
}

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
  resetRecognizer();
  if (!gRunLoopSource || !startTapThread()) {
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
  if (gTapRunLoop) platform::performOnRunLoop(gTapRunLoop.get(), disableTapAndStop, gEventTap.get());
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
