#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "platform/sim/world.h"
#include "triggers/fn_tap.h"

namespace {
int gReports = 0;
std::atomic<bool> gCountAllocations{false};
std::atomic<long> gAllocations{0};
}  // namespace

// The monitor's half, doubled: count what would reach JavaScript.
void pelmora::reportFnTap() noexcept { ++gReports; }

// Counting allocator, switched on only around the measured burst.
void* operator new(size_t size) {
  if (gCountAllocations) ++gAllocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using namespace pelmora;
using platform::TapVerdict;

constexpr uint64_t kShift = 0x20000;

struct Step {
  uint32_t type;
  uint64_t flags;
  int64_t keyCode;
  TapVerdict expected;
};

class FnRecognizer : public ::testing::Test {
 protected:
  void SetUp() override {
    gFnIsDown = gOtherKeyPressed = gSuppressGlobeKey = false;
    gReports = 0;
  }
  TapVerdict feed(uint32_t type, uint64_t flags = 0, int64_t keyCode = 0) {
    platform::KeyEventObject event{sim::KeyEvent{type, flags, keyCode}};
    return eventTapCallback(type, &event);
  }
  void run(const std::vector<Step>& steps) {
    for (size_t i = 0; i < steps.size(); ++i) {
      const Step& s = steps[i];
      EXPECT_EQ(feed(s.type, s.flags, s.keyCode), s.expected) << "step " << i;
    }
  }
  static constexpr auto S = TapVerdict::swallow;
  static constexpr auto P = TapVerdict::pass;
};

TEST_F(FnRecognizer, PressAndReleaseIsOneTapBothSwallowed) {
  run({{kFlagsChangedEventType, kFnFlag, 63, S}, {kFlagsChangedEventType, 0, 63, S}});
  EXPECT_EQ(gReports, 1);
  EXPECT_TRUE(gSuppressGlobeKey);
}

TEST_F(FnRecognizer, AKeyInBetweenSpoilsTheTapAndItsEventsPass) {
  run({{kFlagsChangedEventType, kFnFlag, 63, S},
       {kKeyDownEventType, kFnFlag, 0, P},
       {kKeyUpEventType, kFnFlag, 0, P},
       {kFlagsChangedEventType, 0, 63, P}});
  EXPECT_EQ(gReports, 0);
  EXPECT_FALSE(gSuppressGlobeKey);
}

TEST_F(FnRecognizer, OtherModifiersWhileHeldDoNotSpoil) {
  run({{kFlagsChangedEventType, kFnFlag, 63, S},
       {kFlagsChangedEventType, kFnFlag | kShift, 56, P},
       {kFlagsChangedEventType, kFnFlag, 56, P},
       {kFlagsChangedEventType, 0, 63, S}});
  EXPECT_EQ(gReports, 1);
}

TEST_F(FnRecognizer, SystemDefinedEventSpoils) {
  run({{kFlagsChangedEventType, kFnFlag, 63, S},
       {kSystemDefinedEventType, kFnFlag, 0, P},
       {kFlagsChangedEventType, 0, 63, P}});
  EXPECT_EQ(gReports, 0);
}

TEST_F(FnRecognizer, ReleaseWithoutPressAndUnrelatedEventsPass) {
  run({{kFlagsChangedEventType, 0, 56, P}, {1, 0, 0, P}, {kKeyDownEventType, 0, 4, P}});
  EXPECT_FALSE(gOtherKeyPressed);  // keys while idle do not count against a later tap
  run({{kFlagsChangedEventType, kFnFlag, 63, S}, {kFlagsChangedEventType, 0, 63, S}});
  EXPECT_EQ(gReports, 1);
}

TEST_F(FnRecognizer, GlobeKeyIsSwallowedAfterATapUpToItsKeyUp) {
  run({{kFlagsChangedEventType, kFnFlag, 63, S}, {kFlagsChangedEventType, 0, 63, S}});
  run({{kKeyDownEventType, 0, kGlobeKeyCode, S}});
  EXPECT_TRUE(gSuppressGlobeKey);
  run({{kKeyDownEventType, 0, kGlobeKeyCode, S}, {kKeyUpEventType, 0, kGlobeKeyCode, S}});
  EXPECT_FALSE(gSuppressGlobeKey);
  run({{kKeyDownEventType, 0, kGlobeKeyCode, P}, {kKeyUpEventType, 0, kGlobeKeyCode, P}});
}

TEST_F(FnRecognizer, SuppressedGlobeEventsNeitherSpoilNorChangeTheState) {
  run({{kFlagsChangedEventType, kFnFlag, 63, S}, {kFlagsChangedEventType, 0, 63, S}});
  run({{kFlagsChangedEventType, kFnFlag, 63, S},
       {kKeyDownEventType, kFnFlag, kGlobeKeyCode, S},
       {kFlagsChangedEventType, 0, 63, S}});
  EXPECT_EQ(gReports, 2);
  EXPECT_TRUE(gSuppressGlobeKey);  // the key up has not come yet
}

TEST_F(FnRecognizer, GlobeKeyWithoutSuppressionIsAnOrdinaryKey) {
  run({{kFlagsChangedEventType, kFnFlag, 63, S},
       {kKeyDownEventType, kFnFlag, kGlobeKeyCode, P},
       {kFlagsChangedEventType, 0, 63, P}});
  EXPECT_EQ(gReports, 0);
}

TEST_F(FnRecognizer, DisabledNotificationsPassAndAskForReenableOnly) {
  feed(kFlagsChangedEventType, kFnFlag, 63);
  for (uint32_t type : {kTapDisabledByTimeout, kTapDisabledByUserInput}) {
    platform::KeyEventObject event{sim::KeyEvent{type, 0, 0}};
    FnStep step = recognizeFnEvent(type, &event);
    EXPECT_EQ(step.verdict, P);
    EXPECT_TRUE(step.reenableTap);
    EXPECT_FALSE(step.reportTap);
  }
  EXPECT_TRUE(gFnIsDown);
  EXPECT_FALSE(gOtherKeyPressed);
  EXPECT_EQ(feed(kFlagsChangedEventType, 0, 63), S);
  EXPECT_EQ(gReports, 1);
}

TEST_F(FnRecognizer, LongHoldStillCounts) {
  feed(kFlagsChangedEventType, kFnFlag, 63);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(feed(kFlagsChangedEventType, kFnFlag, 63), P);
  EXPECT_EQ(feed(kFlagsChangedEventType, 0, 63), S);
  EXPECT_EQ(gReports, 1);
}

TEST_F(FnRecognizer, TheCallbackAllocatesNothing) {
  const sim::KeyEvent pattern[] = {
      {kFlagsChangedEventType, kFnFlag, 63}, {kFlagsChangedEventType, 0, 63},
      {kKeyDownEventType, 0, kGlobeKeyCode}, {kKeyUpEventType, 0, kGlobeKeyCode},
      {kFlagsChangedEventType, kFnFlag, 63}, {kKeyDownEventType, kFnFlag, 4},
      {kSystemDefinedEventType, 0, 0},       {kTapDisabledByTimeout, 0, 0},
      {kFlagsChangedEventType, 0, 63},       {1, 0, 0}};
  std::vector<platform::KeyEventObject> events;
  for (int i = 0; i < 10000; ++i) events.push_back({pattern[i % 10]});
  gAllocations = 0;
  gCountAllocations = true;
  for (const auto& e : events) eventTapCallback(e.event.type, &e);
  gCountAllocations = false;
  EXPECT_EQ(gAllocations.load(), 0);
  EXPECT_EQ(gReports, 1000);
}

}  // namespace
