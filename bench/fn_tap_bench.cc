// The tap callback holds every keystroke of the desktop while it runs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/sim/world.h"
#include "triggers/fn_tap.h"

void pelmora::reportFnTap() noexcept {}

namespace {

using namespace pelmora;

std::vector<platform::KeyEventObject> typingWithTaps() {
  std::vector<platform::KeyEventObject> events;
  for (int i = 0; i < 4096; ++i) {
    switch (i % 8) {
      case 0: events.push_back({{kFlagsChangedEventType, kFnFlag, 63}}); break;
      case 1: events.push_back({{kFlagsChangedEventType, 0, 63}}); break;
      case 2: events.push_back({{kKeyDownEventType, 0, kGlobeKeyCode}}); break;
      case 3: events.push_back({{kKeyUpEventType, 0, kGlobeKeyCode}}); break;
      case 4: events.push_back({{kKeyDownEventType, 0, 4}}); break;
      case 5: events.push_back({{kKeyUpEventType, 0, 4}}); break;
      case 6: events.push_back({{kSystemDefinedEventType, 0, 0}}); break;
      default: events.push_back({{kFlagsChangedEventType, 0x20000, 56}}); break;
    }
  }
  return events;
}

void BM_TapCallbackPerEvent(benchmark::State& state) {
  const auto events = typingWithTaps();
  size_t i = 0;
  for (auto _ : state) {
    const auto& e = events[i++ & 4095];
    benchmark::DoNotOptimize(eventTapCallback(e.event.type, &e));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TapCallbackPerEvent);

// What moving the tap off the host's thread costs a keystroke in the
// simulation: the window server hands the event to the tap's own run loop
// and waits for the verdict (a lock and a wake-up each way).
void BM_VerdictFromTheTapThread(benchmark::State& state) {
  sim::reset();
  platform::KeyboardTap created = platform::createKeyboardEventTap(kFnEventMask, eventTapCallback);
  platform::setEventTapEnabled(created.tap.get(), true);
  platform::RunLoopSource source = platform::createEventTapRunLoopSource(created.tap.get());
  std::atomic<platform::RunLoopObject*> loop = nullptr;
  std::thread thread([&] {
    platform::RunLoop own = platform::currentRunLoop();
    platform::addSourceToRunLoop(own.get(), source.get());
    loop = own.get();
    platform::runRunLoopUntilStopped();
    platform::removeSourceFromRunLoop(own.get(), source.get());
  });
  while (!loop) std::this_thread::yield();
  const sim::KeyEvent letter{kKeyDownEventType, 0, 4};
  for (auto _ : state) {
    sim::postKeyEvent(letter);
    benchmark::DoNotOptimize(sim::takeKeyResults());
  }
  platform::performOnRunLoop(loop, [](void*) { platform::stopCurrentRunLoop(); }, nullptr);
  thread.join();
  platform::invalidateEventTap(created.tap.get());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VerdictFromTheTapThread)->UseRealTime();

}  // namespace
