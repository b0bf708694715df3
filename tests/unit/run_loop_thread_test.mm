// The tap's thread over the real CoreFoundation run loop (macOS only): its
// run starts, serves a mach port, and ends on the stop queued for it. A plain
// CFMachPort stands in for the tap's, which needs no permission.
#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>
#include <mach/mach.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "triggers/run_loop_thread.h"

namespace {

struct Seen {
  std::atomic<int> runs = 0, stops = 0, messages = 0;
  std::atomic<bool> onThread = true;  // every hook and message off the test's thread
  std::thread::id test = std::this_thread::get_id();
  void note() {
    if (std::this_thread::get_id() == test) onThread = false;
  }
};

void onRun(void* context) {
  auto* seen = static_cast<Seen*>(context);
  seen->note();
  ++seen->runs;
}

void beforeStop(void* context) {
  auto* seen = static_cast<Seen*>(context);
  seen->note();
  ++seen->stops;
}

void onMessage(CFMachPortRef, void*, CFIndex, void* info) {
  auto* seen = static_cast<Seen*>(info);
  seen->note();
  ++seen->messages;
}

bool sendTo(CFMachPortRef port) {
  mach_msg_header_t message{};
  message.msgh_bits = MACH_MSGH_BITS(MACH_MSG_TYPE_MAKE_SEND, 0);
  message.msgh_size = sizeof message;
  message.msgh_remote_port = CFMachPortGetPort(port);
  message.msgh_id = 1;
  return mach_msg(&message, MACH_SEND_MSG | MACH_SEND_TIMEOUT, sizeof message, 0, MACH_PORT_NULL, 1000,
                  MACH_PORT_NULL) == MACH_MSG_SUCCESS;
}

TEST(RunLoopThread, StartsServesAndEndsOnTheQueuedStop) {
  Seen seen;
  CFMachPortContext context{0, &seen, nullptr, nullptr, nullptr};
  CFMachPortRef port = CFMachPortCreate(kCFAllocatorDefault, onMessage, &context, nullptr);
  ASSERT_NE(port, nullptr);
  // What the tap's own source is made with.
  platform::RunLoopSource source =
      platform::createEventTapRunLoopSource(reinterpret_cast<platform::EventTapObject*>(port));
  ASSERT_TRUE(source);
  const pelmora::RunLoopThreadHooks hooks{onRun, beforeStop, &seen};

  for (int round = 0; round < 50; ++round) {
    pelmora::RunLoopThread thread;
    ASSERT_TRUE(pelmora::startRunLoopThread(thread, source.get(), hooks));
    EXPECT_EQ(seen.runs, round + 1) << "start answers once the run has begun";
    if (round % 2 == 0) {
      ASSERT_TRUE(sendTo(port));
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (seen.messages < round / 2 + 1 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
      EXPECT_EQ(seen.messages, round / 2 + 1) << "the thread serves its source";
    }
    pelmora::stopRunLoopThread(thread, hooks);  // odd rounds: a stop at once
    EXPECT_FALSE(thread.thread.joinable());
    EXPECT_EQ(seen.stops, round + 1);
  }
  EXPECT_TRUE(seen.onThread);
  CFMachPortInvalidate(port);
  CFRelease(port);
}

}  // namespace
