// The simulated desktop: one process-wide world that the simulated platform
// layer answers from and that tests (C++ directly, JavaScript through the
// control module) set up and inspect.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
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
// frees what the addon still holds.
struct Object {
  enum class Kind : uint8_t { eventTap, runLoopSource, element, hidManager };
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  const Kind kind;
  int refs = 1;
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
};

struct TapState {
  bool exists = false;
  bool enabled = false;
  bool onRunLoop = false;
};

struct World {
  double clock = kClockEpoch;
  std::vector<LogEntry> log;

  struct Keyboard {
    bool allowTap = true;
    std::deque<KeyEvent> queue;
    std::vector<KeyResult> results;
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

// Keyboard: events reach the tap only while the run loop runs.
void postKeyEvent(const KeyEvent& event);
std::vector<KeyResult> takeKeyResults();
TapState tapState();

// Preferences: reads see the value as it is at the time of the read.
void setPreference(const std::string& domain, const std::string& key, platform::PrefValue value);
void removePreference(const std::string& domain, const std::string& key);

// Delivers everything that is due on the main run loop (the simulation has
// one thread, which is the main thread).
void runMainRunLoop(double seconds);

}  // namespace sim
