#include "triggers/run_loop_thread.h"

#include <future>
#include <system_error>

namespace pelmora {
namespace {

struct Start {
  const RunLoopThreadHooks* hooks;
  platform::RunLoopObject* loop;
  std::promise<platform::RunLoop>* ready;
};

void beginRun(void* context) {
  auto* start = static_cast<Start*>(context);
  if (start->hooks->onRun) start->hooks->onRun(start->hooks->context);
  start->ready->set_value(platform::RunLoop::retain(start->loop));
}

void endRun(void* context) {
  auto* hooks = static_cast<const RunLoopThreadHooks*>(context);
  if (hooks->beforeStop) hooks->beforeStop(hooks->context);
  platform::stopCurrentRunLoop();
}

// `hooks` and `ready` live in startRunLoopThread's frame, which waits for
// beginRun before it returns.
void run(platform::RunLoopSourceObject* source, const RunLoopThreadHooks* hooks,
         std::promise<platform::RunLoop>* ready) {
  platform::RunLoop loop = platform::currentRunLoop();
  platform::addSourceToRunLoop(loop.get(), source);
  Start start{hooks, loop.get(), ready};
  platform::performOnRunLoop(loop.get(), beginRun, &start);
  platform::runRunLoopUntilStopped();
  platform::removeSourceFromRunLoop(loop.get(), source);
}

}  // namespace

bool startRunLoopThread(RunLoopThread& thread, platform::RunLoopSourceObject* source, const RunLoopThreadHooks& hooks) {
  std::promise<platform::RunLoop> ready;
  auto loop = ready.get_future();
  try {
    thread.thread = std::thread(run, source, &hooks, &ready);
  } catch (const std::system_error&) {
    return false;
  }
  thread.loop = loop.get();
  return true;
}

void stopRunLoopThread(RunLoopThread& thread, const RunLoopThreadHooks& hooks) {
  // The block reads the hooks on the thread; the join below keeps them alive.
  if (thread.loop) platform::performOnRunLoop(thread.loop.get(), endRun, const_cast<RunLoopThreadHooks*>(&hooks));
  if (thread.thread.joinable()) thread.thread.join();
  thread.loop.reset();
}

}  // namespace pelmora
