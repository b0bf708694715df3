// The simulated desktop: one process-wide world that the simulated platform
// layer answers from and that tests (C++ directly, JavaScript through the
// control module) set up and inspect.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/desktop.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/value.h"

namespace sim {

// Base of every object the simulated platform hands out behind a handle.
// Objects are reference-counted on their own, so that a world reset never
// frees what the addon still holds; the count is atomic because the tap's
// thread and the window server's hold references too.
struct Object {
  enum class Kind : uint8_t { eventTap, runLoopSource, runLoop, element, hidManager };
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  const Kind kind;
  std::atomic<int> refs = 1;
};

void retain(Object* object) noexcept;
void release(Object* object) noexcept;

// Roughly the absolute time of late 2024: a realistic value, far from zero.
inline constexpr double kClockEpoch = 750000000.0;

struct LogEntry {
  double t;
  std::string op;
  Value fields;  // an object
};

struct KeyEvent {
  uint32_t type = 0;
  uint64_t flags = 0;
  int64_t keyCode = 0;
};

struct KeyResult {
  KeyEvent event;
  bool swallowed = false;
  bool sawTap = true;  // false: no enabled tap was there, the event went straight on
  // Events of postKeyEventsAsync: how long the window server waited for the
  // verdict (real time), and whether it gave up waiting.
  bool async = false;
  double waitedMs = 0;
  bool timedOut = false;
  // The server waited on an enabled tap that no running run loop served.
  bool held = false;
};

struct TapState {
  bool exists = false;
  bool enabled = false;
  bool onRunLoop = false;
  uint64_t mask = 0;  // the event types the tap really receives
};

// The platform operations in order. Appended to from the addon's calling
// thread and from the tap's own thread.
class Log {
 public:
  void push_back(LogEntry entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<LogEntry> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(entries_, {});
  }
  void clear() { take(); }

 private:
  std::mutex mutex_;
  std::vector<LogEntry> entries_;
};

struct World {
  std::atomic<double> clock = kClockEpoch;  // time passing, which the addon reads
  // How far the wall clock stands from it: moved by steps (the user setting
  // the time), which no duration the addon measures may see.
  double wallClockOffset = 0;
  Log log;

  // Configuration of the keyboard; its run loops and queues are in
  // keyboard.cc, under that file's lock.
  struct Keyboard {
    bool allowTap = true;
    uint64_t allowedTypes = ~uint64_t{0};  // bits 1 << type the system lets the process see
    double tapTimeout = 1.0;               // real seconds the window server waits for a verdict
    bool listenPreflight = true;           // what the Input Monitoring check answers
    bool listed = true;                    // whether the system's list of taps shows a new tap
  } keyboard;

  Desktop desktop;

  struct Tools {
    std::string osascript = "/usr/bin/osascript";
    std::string ps = "/bin/ps";
  } tools;
  HidWorld hid;

  // Preferences by (domain, key).
  std::map<std::pair<std::string, std::string>, platform::PrefValue> prefs;
};

World& world();

}  // namespace sim

namespace platform {
// What a KeyEventRef points to in the simulation.
struct KeyEventObject {
  sim::KeyEvent event;
};
}  // namespace platform

namespace sim {

// A fresh world (configuration, clock, log, queues). What the addon created
// and still holds (an event tap, its run-loop source, a HID manager) stays
// where it is.
void reset();

void advanceClock(double seconds);

// Appends an entry stamped with the current clock.
void log(std::string op, Value fields = Value::object());
std::vector<LogEntry> takeLog();

// Keyboard. An event reaches a tap when the run loop holding the tap's source
// runs: the main run loop during runMainRunLoop, a thread's own run loop as
// soon as that thread is free. postKeyEvent decides at once when every tap
// that receives the event is on a thread's own run loop (waiting for each
// verdict up to the tap timeout), and otherwise leaves it to the main run
// loop. postKeyEventsAsync answers at once; the window server's own thread
// delivers the events one by one, waiting in real time for each verdict.
void postKeyEvent(const KeyEvent& event);
void postKeyEventsAsync(const std::vector<KeyEvent>& events);
size_t pendingAsyncKeyEvents();
std::vector<KeyResult> takeKeyResults();
TapState tapState();

// Preferences: reads see the value as it is at the time of the read.
void setPreference(const std::string& domain, const std::string& key, platform::PrefValue value);
void removePreference(const std::string& domain, const std::string& key);

// Delivers everything that is due on the calling thread's run loop; on the
// process's main thread that is the main run loop, which also carries the
// HID managers.
void runCurrentThreadRunLoop(double seconds);

}  // namespace sim
