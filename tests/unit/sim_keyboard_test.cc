// The simulated tap must behave like the system's where the monitor depends
// on it: delivery only while the run loop runs, disabled taps stay disabled
// until re-enabled, and events never vanish.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/world.h"

namespace {

using platform::TapVerdict;

std::vector<uint32_t> gSeen;
TapVerdict gAnswer = TapVerdict::pass;

TapVerdict recordingTap(uint32_t type, platform::KeyEventRef) {
  gSeen.push_back(type);
  return gAnswer;
}

class SimKeyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    gSeen.clear();
    gAnswer = TapVerdict::pass;
  }
  void install(uint64_t mask = 0x5C00) {
    tap = platform::createKeyboardEventTap(mask, recordingTap).tap;
    ASSERT_TRUE(tap);
    platform::setEventTapEnabled(tap.get(), true);
    source = platform::createEventTapRunLoopSource(tap.get());
    platform::addSourceToRunLoop(main.get(), source.get());
  }
  void TearDown() override {
    if (source) platform::removeSourceFromRunLoop(main.get(), source.get());
    if (tap) platform::invalidateEventTap(tap.get());
  }
  platform::RunLoop main = platform::mainRunLoop();
  platform::EventTap tap;
  platform::RunLoopSource source;
};

TEST_F(SimKeyboard, RefusedTapIsEmptyAndLogged) {
  sim::world().keyboard.allowTap = false;
  EXPECT_FALSE(platform::createKeyboardEventTap(0x5C00, recordingTap).tap);
  auto log = sim::takeLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].op, "tapCreate");
  EXPECT_EQ(log[0].fields["ok"], sim::Value(false));
  EXPECT_FALSE(sim::tapState().exists);
}

TEST_F(SimKeyboard, EventsWaitForTheRunLoop) {
  install();
  sim::postKeyEvent({12, 0, 0});
  EXPECT_TRUE(gSeen.empty());
  EXPECT_TRUE(sim::takeKeyResults().empty());
  gAnswer = TapVerdict::swallow;
  platform::runCurrentRunLoop(0.001);
  EXPECT_EQ(gSeen, std::vector<uint32_t>{12});
  auto results = sim::takeKeyResults();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].swallowed);
  EXPECT_TRUE(results[0].sawTap);
}

TEST_F(SimKeyboard, WithoutAnEnabledTapEventsGoStraightOn) {
  sim::postKeyEvent({10, 0, 4});
  install();
  platform::setEventTapEnabled(tap.get(), false);
  sim::postKeyEvent({11, 0, 4});
  sim::postKeyEvent({1, 0, 0});  // outside the mask
  auto results = sim::takeKeyResults();
  ASSERT_EQ(results.size(), 3u);
  for (const auto& r : results) {
    EXPECT_FALSE(r.sawTap);
    EXPECT_FALSE(r.swallowed);
  }
  platform::runCurrentRunLoop(0.001);
  EXPECT_TRUE(gSeen.empty());
}

TEST_F(SimKeyboard, DisabledNotificationLeavesTheTapOffUntilReenabled) {
  install();
  sim::postKeyEvent({0xFFFFFFFE, 0, 0});
  sim::postKeyEvent({12, 0, 0});
  platform::runCurrentRunLoop(0.001);  // the callback does not re-enable
  EXPECT_EQ(gSeen, std::vector<uint32_t>{0xFFFFFFFE});
  auto results = sim::takeKeyResults();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(results[0].sawTap);
  EXPECT_FALSE(results[1].sawTap);
  EXPECT_FALSE(sim::tapState().enabled);
}

// Its port keeps what was sent to it: an enabled tap off every run loop still
// holds the events, until it is invalidated.
TEST_F(SimKeyboard, EventsWaitOnAnEnabledTapUntilItIsGone) {
  install();
  sim::postKeyEvent({12, 0x800000, 63});
  platform::removeSourceFromRunLoop(main.get(), source.get());
  EXPECT_FALSE(sim::tapState().onRunLoop);
  EXPECT_TRUE(sim::takeKeyResults().empty()) << "held by a tap nobody runs";
  platform::invalidateEventTap(tap.get());
  auto results = sim::takeKeyResults();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].sawTap);
  source.reset();
}

TEST_F(SimKeyboard, RunLoopAdvancesTheClockAndSleepsAreLogged) {
  double start = platform::now();
  EXPECT_EQ(start, sim::kClockEpoch);
  platform::runCurrentRunLoop(0.001);
  platform::sleepFor(0.05);
  EXPECT_DOUBLE_EQ(platform::now(), start + 0.051);
  auto log = sim::takeLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].op, "sleep");
  EXPECT_DOUBLE_EQ(log[0].t, start + 0.001);
}

TEST_F(SimKeyboard, TheSystemClearsWhatTheProcessMayNotSee) {
  sim::world().keyboard.allowedTypes = (1u << 12) | (1u << 14);
  auto created = platform::createKeyboardEventTap(0x5C00, recordingTap);
  ASSERT_TRUE(created.tap);
  EXPECT_EQ(created.listedMask, (1u << 12) | (1u << 14));
  EXPECT_EQ(sim::tapState().mask, created.listedMask);
  platform::setEventTapEnabled(created.tap.get(), true);
  source = platform::createEventTapRunLoopSource(created.tap.get());
  platform::addSourceToRunLoop(main.get(), source.get());
  sim::postKeyEvent({10, 0, 4});
  EXPECT_FALSE(sim::takeKeyResults().at(0).sawTap) << "a key press it may not see goes straight on";
  tap = std::move(created.tap);
  EXPECT_FALSE(platform::createKeyboardEventTap(1u << 10, recordingTap).tap) << "nothing left: refused";
}

// The window server waits for a tap on the main run loop only as long as the
// tap timeout: a host that does not turn that loop gets its tap disabled.
TEST_F(SimKeyboard, AServerThatGivesUpDisablesTheTapAndSaysSo) {
  install();
  sim::world().keyboard.tapTimeout = 0.05;
  sim::postKeyEventsAsync({{12, 0x800000, 63}});
  while (sim::pendingAsyncKeyEvents() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  auto results = sim::takeKeyResults();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(results[0].timedOut);
  EXPECT_FALSE(results[0].swallowed);
  EXPECT_GE(results[0].waitedMs, 50);
  EXPECT_FALSE(sim::tapState().enabled);
  platform::runCurrentRunLoop(0.001);
  EXPECT_EQ(gSeen, std::vector<uint32_t>{0xFFFFFFFE}) << "the withdrawn event never arrives; the notice does";
}

TEST_F(SimKeyboard, ATapOnItsOwnThreadDecidesAtOnce) {
  tap = platform::createKeyboardEventTap(0x5C00, recordingTap).tap;
  platform::setEventTapEnabled(tap.get(), true);
  source = platform::createEventTapRunLoopSource(tap.get());
  platform::RunLoop loop;
  std::atomic<bool> ready = false;
  std::thread thread([&] {
    platform::RunLoop own = platform::currentRunLoop();
    platform::addSourceToRunLoop(own.get(), source.get());
    loop = own.share();
    ready = true;
    platform::performOnRunLoop(own.get(), [](void*) { platform::stopCurrentRunLoop(); }, nullptr);
    platform::runRunLoopUntilStopped();  // a stop asked before the run is not lost
    platform::runRunLoopUntilStopped();
    platform::removeSourceFromRunLoop(own.get(), source.get());
  });
  while (!ready) std::this_thread::yield();
  gAnswer = TapVerdict::swallow;
  sim::postKeyEvent({12, 0x800000, 63});
  auto results = sim::takeKeyResults();
  ASSERT_EQ(results.size(), 1u) << "post waited for the verdict";
  EXPECT_TRUE(results[0].swallowed);
  platform::performOnRunLoop(loop.get(), [](void*) { platform::stopCurrentRunLoop(); }, nullptr);
  thread.join();
  EXPECT_FALSE(sim::tapState().onRunLoop);
  source.reset();
}

TEST_F(SimKeyboard, ResetKeepsWhatTheAddonHolds) {
  install();
  sim::world().clock += 5;
  sim::reset();
  EXPECT_EQ(platform::now(), sim::kClockEpoch);
  auto state = sim::tapState();
  EXPECT_TRUE(state.exists);
  EXPECT_TRUE(state.onRunLoop);
}

}  // namespace
