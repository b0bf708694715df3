// The simulated HID manager must hear exactly what a real one would: only
// while open, scheduled and matching, only inside the run loop, and nothing
// that was sent while nobody listened.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "platform/sim/world.h"

namespace {

using platform::PrefValue;

std::vector<int64_t> gHeard;

void recordingCallback(platform::HidValueRef value) { gHeard.push_back(platform::hidValueInteger(value)); }

constexpr platform::HidNumberMatch kMatching[] = {{"VendorID", 1}, {"ProductID", 2}};

class SimHid : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    gHeard.clear();
    device = sim::addHidDevice({{{"VendorID", PrefValue::ofInteger(1)}, {"ProductID", PrefValue::ofInteger(2)}}});
  }
  platform::HidManager listening() {
    auto manager = platform::createHidManager();
    platform::setHidDeviceMatching(manager.get(), kMatching);
    platform::registerHidInputValueCallback(manager.get(), recordingCallback);
    platform::scheduleHidManagerOnMainRunLoop(manager.get());
    EXPECT_EQ(platform::openHidManager(manager.get(), platform::kHidOpenSeizeDevice), platform::kHidSuccess);
    return manager;
  }
  bool post(int64_t integer, int id = 0) { return sim::postHidInput({id ? id : device, 0x0C, 0xE9, integer}); }
  int device = 0;
};

TEST_F(SimHid, ValuesWaitForTheRunLoop) {
  auto manager = listening();
  EXPECT_TRUE(post(1));
  EXPECT_TRUE(post(0));
  EXPECT_TRUE(gHeard.empty());
  platform::runCurrentRunLoop(0.001);
  EXPECT_EQ(gHeard, (std::vector<int64_t>{1, 0}));
}

TEST_F(SimHid, OnlyOpenScheduledMatchingManagersHear) {
  auto closed = platform::createHidManager();
  platform::registerHidInputValueCallback(closed.get(), recordingCallback);
  platform::scheduleHidManagerOnMainRunLoop(closed.get());
  EXPECT_FALSE(post(1)) << "scheduled but never opened";

  auto unscheduled = platform::createHidManager();
  platform::registerHidInputValueCallback(unscheduled.get(), recordingCallback);
  ASSERT_EQ(platform::openHidManager(unscheduled.get(), platform::kHidOpenNone), 0);
  EXPECT_FALSE(post(1)) << "open but on no run loop";

  auto manager = listening();
  const int stranger = sim::addHidDevice({{{"VendorID", PrefValue::ofInteger(1)}, {"ProductID", PrefValue::ofInteger(3)}}});
  const int named = sim::addHidDevice({{{"VendorID", PrefValue::ofString("1")}, {"ProductID", PrefValue::ofInteger(2)}}});
  const int bare = sim::addHidDevice({});
  EXPECT_FALSE(post(1, stranger));
  EXPECT_FALSE(post(1, named)) << "a string is not the number";
  EXPECT_FALSE(post(1, bare));
  EXPECT_TRUE(post(5));
  platform::runCurrentRunLoop(0.001);
  EXPECT_EQ(gHeard, std::vector<int64_t>{5});
}

TEST_F(SimHid, DevicesComeOnlyThroughTheMatchingsNotifications) {
  auto manager = platform::createHidManager();
  platform::registerHidInputValueCallback(manager.get(), recordingCallback);
  platform::scheduleHidManagerOnMainRunLoop(manager.get());
  ASSERT_EQ(platform::openHidManager(manager.get(), platform::kHidOpenNone), 0);
  EXPECT_FALSE(post(1)) << "no matching, no device";
  platform::setHidDeviceMatching(manager.get(), {});
  EXPECT_TRUE(post(1, sim::addHidDevice({}))) << "an empty matching takes every device";
  EXPECT_TRUE(post(1)) << "including those plugged in before";
}

// IOKitUser-1955: leaving the run loop drops the device-matching and removal
// notifications, and scheduling again does not bring them back.
TEST_F(SimHid, AManagerOffItsRunLoopNeverHearsOfANewDeviceAgain) {
  auto manager = listening();
  ASSERT_TRUE(sim::removeHidDevice(device));
  EXPECT_TRUE(sim::hidManagerState().devices.empty());
  const int again = sim::addHidDevice({{{"VendorID", PrefValue::ofInteger(1)}, {"ProductID", PrefValue::ofInteger(2)}}});
  EXPECT_NE(again, device) << "a device plugged in again is a new one";
  EXPECT_TRUE(post(1, again)) << "heard while the notifications live";

  platform::unscheduleHidManagerFromMainRunLoop(manager.get());
  platform::scheduleHidManagerOnMainRunLoop(manager.get());
  ASSERT_TRUE(sim::removeHidDevice(again));
  const int third = sim::addHidDevice({{{"VendorID", PrefValue::ofInteger(1)}, {"ProductID", PrefValue::ofInteger(2)}}});
  EXPECT_FALSE(post(1, third)) << "scheduled again, but deaf to new devices";
  platform::scheduleHidManagerOnMainRunLoop(manager.get());
  auto log = sim::takeLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().op, "hidFault") << "a second schedule is the fault macOS asserts on";

  platform::setHidDeviceMatching(manager.get(), kMatching);
  EXPECT_TRUE(post(1, third)) << "only a new matching brings them back";
}

TEST_F(SimHid, ClosingUnschedulingOrDroppingLosesQueuedValues) {
  {
    auto manager = listening();
    post(1);
    platform::closeHidManager(manager.get(), platform::kHidOpenNone);
  }
  {
    auto manager = listening();
    post(2);
    platform::unscheduleHidManagerFromMainRunLoop(manager.get());
  }
  {
    auto manager = listening();
    post(3);
  }  // released while open
  auto manager = listening();
  platform::runCurrentRunLoop(0.001);
  EXPECT_TRUE(gHeard.empty());
}

// IOHIDManagerOpen marks the manager open before opening its devices, stays
// marked open when a device refuses, and then answers success doing nothing;
// only a close makes the next open mean anything. The close answers what its
// devices' closes answer: one that never opened is not open.
TEST_F(SimHid, OpeningFollowsIOKit) {
  sim::world().hid.exclusiveResult = 0xE00002C5;  // the unsigned spelling
  auto manager = platform::createHidManager();
  platform::setHidDeviceMatching(manager.get(), kMatching);
  platform::scheduleHidManagerOnMainRunLoop(manager.get());
  EXPECT_EQ(platform::openHidManager(manager.get(), platform::kHidOpenSeizeDevice), -536870203);
  auto state = sim::hidManagerState();
  EXPECT_TRUE(state.open) << "marked open although its device refused";
  EXPECT_TRUE(state.devices.empty());
  EXPECT_EQ(platform::openHidManager(manager.get(), platform::kHidOpenNone), 0) << "a no-op that answers success";
  EXPECT_TRUE(sim::hidManagerState().devices.empty());
  EXPECT_EQ(sim::hidManagerState().openOptions, 1u);
  auto log = sim::takeLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].op, "hidOpen");
  EXPECT_EQ(log[0].fields["options"], sim::Value(1));
  EXPECT_EQ(log[0].fields["result"], sim::Value(0xE00002C5u));
  EXPECT_EQ(log[1].fields["result"], sim::Value(0));

  EXPECT_EQ(platform::closeHidManager(manager.get(), 0), -536870195) << "its device never opened: kIOReturnNotOpen";
  state = sim::hidManagerState();
  EXPECT_FALSE(state.open);
  EXPECT_FALSE(state.scheduled) << "a close takes the manager off its run loop";
  EXPECT_EQ(platform::closeHidManager(manager.get(), 0), -536870195) << "kIOReturnNotOpen";

  EXPECT_EQ(platform::openHidManager(manager.get(), platform::kHidOpenNone), 0);
  EXPECT_EQ(sim::hidManagerState().devices, (std::vector<std::pair<int, uint32_t>>{{device, 0}}))
      << "the devices it knew open again";
  platform::setHidDeviceMatching(manager.get(), kMatching);  // notifications again, after the close
  const int later = sim::addHidDevice({{{"VendorID", PrefValue::ofInteger(1)}, {"ProductID", PrefValue::ofInteger(2)}}});
  sim::addHidDevice({{{"VendorID", PrefValue::ofInteger(9)}}});
  EXPECT_EQ(sim::hidManagerState().devices, (std::vector<std::pair<int, uint32_t>>{{device, 0}, {later, 0}}))
      << "a matching device that appears while open is opened with the manager's options";
  EXPECT_EQ(platform::closeHidManager(manager.get(), 0), 0) << "every device it held closes";
}

TEST_F(SimHid, NoDeviceNoRefusal) {
  sim::world().hid.devices.clear();
  sim::world().hid.exclusiveResult = 0xE00002C5;
  auto manager = platform::createHidManager();
  platform::setHidDeviceMatching(manager.get(), {});
  EXPECT_EQ(platform::openHidManager(manager.get(), platform::kHidOpenSeizeDevice), 0);
  sim::addHidDevice({});
  EXPECT_TRUE(sim::hidManagerState().devices.empty()) << "the late device refused the seize";
}

TEST_F(SimHid, ResetForgetsDevicesAndResultsButNotManagers) {
  auto manager = listening();
  post(1);
  sim::world().hid.exclusiveResult = 5;
  sim::reset();
  EXPECT_TRUE(sim::hidManagerState().open);
  EXPECT_EQ(sim::world().hid.exclusiveResult, 0);
  EXPECT_TRUE(sim::world().hid.devices.empty());
  platform::runCurrentRunLoop(0.001);
  EXPECT_TRUE(gHeard.empty());
}

}  // namespace
