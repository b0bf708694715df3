#include "triggers/js_callback.h"

#include <mutex>
#include <thread>
#include <utility>

#include "frame/export_lock.h"

namespace pelmora {

napi_threadsafe_function createMonitorCallback(napi_env env, napi_callback_info info,
                                               const char* resourceName) {
  size_t argc = 1;
  napi_value argv[1] = {nullptr};
  napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
  if (argc < 1 || argv[0] == nullptr) return nullptr;

  napi_value name = nullptr;
  napi_create_string_utf8(env, resourceName, NAPI_AUTO_LENGTH, &name);
  napi_threadsafe_function tsfn = nullptr;
  napi_status status = napi_create_threadsafe_function(
      env, argv[0], /*async_resource=*/nullptr, name, /*max_queue_size=*/0,
      /*initial_thread_count=*/1, /*thread_finalize_data=*/nullptr,
      /*thread_finalize_cb=*/nullptr, /*context=*/nullptr, callJsCallback, &tsfn);
  return status == napi_ok ? tsfn : nullptr;
}

void queueMonitorCallback(napi_threadsafe_function tsfn) noexcept {
  if (tsfn) napi_call_threadsafe_function(tsfn, nullptr, napi_tsfn_nonblocking);
}

void releaseMonitorCallback(napi_threadsafe_function& tsfn) noexcept {
  if (napi_threadsafe_function f = std::exchange(tsfn, nullptr))
    napi_release_threadsafe_function(f, napi_tsfn_release);
}

void callJsCallback(napi_env env, napi_value jsCallback, void* /*context*/, void* /*data*/) {
  if (env == nullptr || jsCallback == nullptr) return;  // the function is winding down
  napi_value undefined = nullptr;
  napi_get_undefined(env, &undefined);
  // A callback that throws has no caller to catch it: Node-API's way for an
  // addon to hand it on is the host's 'uncaughtException'. Left pending, node
  // drops it with a deprecation warning.
  if (napi_call_function(env, undefined, jsCallback, 0, nullptr, nullptr) == napi_pending_exception) {
    napi_value error = nullptr;
    if (napi_get_and_clear_last_exception(env, &error) == napi_ok) napi_fatal_exception(env, error);
  }
}

// One registration of the clean-up hook. An environment's hooks may only be
// added and removed on that environment's thread: a stop from another
// thread leaves its arm registered but no longer the guard's, and the
// environment frees it when it goes.
struct TeardownArm {
  TeardownGuard* guard;
  napi_env env;
  std::thread::id thread;
};

namespace {

void onTeardown(void* arg) {
  auto* arm = static_cast<TeardownArm*>(arg);
  {
    std::lock_guard lock(exportLock());
    TeardownGuard& guard = *arm->guard;
    if (guard.arm == arm) {
      guard.arm = nullptr;  // the hook is being consumed; stop must not remove it again
      if (guard.stop) guard.stop();
    }
  }
  delete arm;
}

}  // namespace

void armTeardownGuard(TeardownGuard& guard, napi_env env) noexcept {
  disarmTeardownGuard(guard);
  // Registered after the thread-safe function was created, so that it runs
  // before the host's own clean-up of that function (hooks run last first).
  auto* arm = new TeardownArm{&guard, env, std::this_thread::get_id()};
  if (napi_add_env_cleanup_hook(env, onTeardown, arm) == napi_ok) {
    guard.arm = arm;
  } else {
    delete arm;
  }
}

void disarmTeardownGuard(TeardownGuard& guard) noexcept {
  TeardownArm* arm = std::exchange(guard.arm, nullptr);
  if (!arm || arm->thread != std::this_thread::get_id()) return;
  napi_remove_env_cleanup_hook(arm->env, onTeardown, arm);
  delete arm;
}

}  // namespace pelmora
