// A thread that serves one run-loop source on a run loop of its own: the Fn
// tap's, which must never wait on the host's JavaScript thread.
#pragma once

#include <thread>

#include "platform/platform.h"

namespace pelmora {

struct RunLoopThread {
  std::thread thread;
  platform::RunLoop loop;  // while the thread runs
};

// Both run on the thread, inside its run: onRun before the loop serves the
// source, beforeStop after everything the loop was handed before the stop.
struct RunLoopThreadHooks {
  platform::RunLoopBlock onRun = nullptr;
  platform::RunLoopBlock beforeStop = nullptr;
  void* context = nullptr;
};

// Answers once onRun has run; false when the system gives no thread.
bool startRunLoopThread(RunLoopThread& thread, platform::RunLoopSourceObject* source, const RunLoopThreadHooks& hooks);
// Stops the run with a block queued on the loop, and waits for the thread.
void stopRunLoopThread(RunLoopThread& thread, const RunLoopThreadHooks& hooks);

}  // namespace pelmora
