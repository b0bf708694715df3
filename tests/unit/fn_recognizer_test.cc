#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <utility>
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

// While the tap was off, a release may have gone by unseen: a held Fn and the
// Globe key's suppression are forgotten, or the next press would pass and
// its release be swallowed.
TEST_F(FnRecognizer, DisabledNotificationsPassAskForReenableAndStartOver) {
  for (uint32_t type : {kTapDisabledByTimeout, kTapDisabledByUserInput}) {
    feed(kFlagsChangedEventType, kFnFlag, 63);
    feed(kFlagsChangedEventType, 0, 63);  // a tap: the Globe key is suppressed
    feed(kFlagsChangedEventType, kFnFlag, 63);
    platform::KeyEventObject event{sim::KeyEvent{type, 0, 0}};
    FnStep step = recognizeFnEvent(type, &event);
    EXPECT_EQ(step.verdict, P);
    EXPECT_TRUE(step.reenableTap);
    EXPECT_FALSE(step.reportTap);
    EXPECT_EQ(feed(kKeyUpEventType, 0, kGlobeKeyCode), P) << "suppression over";
    EXPECT_EQ(feed(kFlagsChangedEventType, kFnFlag, 63), S) << "a new press is a press";
    EXPECT_EQ(feed(kFlagsChangedEventType, 0, 63), S);
  }
  EXPECT_EQ(gReports, 4);
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

namespace {

// The state table, written out on its own: Idle, Held (an Fn press not yet
// spoilt) and Spoilt, plus the Globe suppression window.
struct ReferenceModel {
  enum State { idle, held, spoilt } state = idle;
  bool suppress = false;

  // Answers (swallowed, reported).
  std::pair<bool, bool> feed(uint32_t type, uint64_t flags, int64_t keyCode) {
    if (type == 0xFFFFFFFE || type == 0xFFFFFFFF) {
      state = idle;
      suppress = false;
      return {false, false};
    }
    const bool key = type == 10 || type == 11;
    if (key && keyCode == 179 && suppress) {
      if (type == 11) suppress = false;
      return {true, false};
    }
    const bool fnSet = type == 12 && (flags & 0x800000);
    const bool fnClear = type == 12 && !(flags & 0x800000);
    const bool spoiler = key || type == 14;
    switch (state) {
      case idle:
        if (fnSet) {
          state = held;
          return {true, false};
        }
        return {false, false};
      case held:
        if (spoiler) state = spoilt;
        if (fnClear) {
          state = idle;
          suppress = true;
          return {true, true};
        }
        return {false, false};
      case spoilt:
        if (fnClear) state = idle;
        return {false, false};
    }
    return {false, false};
  }
};

TEST_F(FnRecognizer, AgreesWithTheStateTableOnAMillionRandomEvents) {
  std::mt19937_64 rng(20261208);
  ReferenceModel model;
  constexpr int kEvents = 1'200'000;
  int taps = 0;
  for (int i = 0; i < kEvents; ++i) {
    uint32_t type;
    switch (rng() % 16) {
      case 0: case 1: case 2: case 3: case 4: type = 12; break;
      case 5: case 6: type = 10; break;
      case 7: case 8: type = 11; break;
      case 9: type = 14; break;
      case 10: type = (rng() & 1) ? 0xFFFFFFFE : 0xFFFFFFFF; break;
      default: type = static_cast<uint32_t>(rng() % 40); break;
    }
    uint64_t flags = rng() & 0xFF0000;  // other modifiers
    if (rng() % 2) flags |= 0x800000;
    const int64_t keyCode = (rng() % 3 == 0) ? 179 : static_cast<int64_t>(rng() % 128);

    const int before = gReports;
    platform::KeyEventObject event{sim::KeyEvent{type, flags, keyCode}};
    const bool swallowed = eventTapCallback(type, &event) == TapVerdict::swallow;
    const bool reported = gReports != before;
    const auto [expectSwallow, expectReport] = model.feed(type, flags, keyCode);
    ASSERT_EQ(swallowed, expectSwallow) << "event " << i << " type " << type << " flags " << flags << " key " << keyCode;
    ASSERT_EQ(reported, expectReport) << "event " << i;
    taps += reported;
  }
  EXPECT_GT(taps, 1000) << "the stream must exercise complete taps";
}

}  // namespace
