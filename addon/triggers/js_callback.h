// The path from a monitor's native callback to its JavaScript callback: a
// thread-safe function, called without blocking and without data.
#pragma once

#include <node_api.h>

namespace pelmora {

// The thread-safe function for a monitor's first argument. Null when no
// argument was passed or the host refuses it (a non-function, say): a monitor
// must not run without a way to report.
napi_threadsafe_function createMonitorCallback(napi_env env, napi_callback_info info,
                                               const char* resourceName);

// Queues one call; never blocks, so it is safe inside a tap callback.
void queueMonitorCallback(napi_threadsafe_function tsfn) noexcept;

// Releases the function (if any) and clears the caller's slot.
void releaseMonitorCallback(napi_threadsafe_function& tsfn) noexcept;

// Runs on the host's JavaScript thread: calls the callback with no arguments;
// what it throws reaches the host's 'uncaughtException'.
void callJsCallback(napi_env env, napi_value jsCallback, void* context, void* data);

// Ties a running monitor to the environment that started it: when that
// environment is torn down first (a worker thread that ends), the monitor's
// stop runs, so no callback reaches a dead environment.
struct TeardownArm;
struct TeardownGuard {
  void (*stop)() = nullptr;
  TeardownArm* arm = nullptr;  // the hook of the running start, if any
};
void armTeardownGuard(TeardownGuard& guard, napi_env env) noexcept;
void disarmTeardownGuard(TeardownGuard& guard) noexcept;

}  // namespace pelmora
