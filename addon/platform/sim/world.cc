#include "platform/sim/world.h"

#include <cmath>
#include <utility>

namespace sim {

const Value& Value::operator[](const std::string& key) const {
  static const Value kUndefined;
  if (kind != Kind::object) return kUndefined;
  for (const auto& [name, value] : members)
    if (name == key) return value;
  return kUndefined;
}

void Value::set(const std::string& key, Value value) {
  if (kind != Kind::object) *this = object();
  for (auto& [name, existing] : members) {
    if (name == key) {
      existing = std::move(value);
      return;
    }
  }
  members.emplace_back(key, std::move(value));
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case Value::Kind::undefined:
    case Value::Kind::null: return true;
    case Value::Kind::boolean: return a.boolean == b.boolean;
    case Value::Kind::number: return a.number == b.number;
    case Value::Kind::string: return a.string == b.string;
    case Value::Kind::array: return a.items == b.items;
    case Value::Kind::object: return a.members == b.members;
  }
  return false;
}

// Never destroyed, like the simulation's other registries: when node exits
// through process.exit no environment clean-up runs, and the addon's global
// handles release their objects during static destruction, which would
// otherwise find these already gone.
World& world() {
  static World& instance = *new World();
  return instance;
}

void retain(Object* object) noexcept {
  if (object) ++object->refs;
}

void release(Object* object) noexcept {
  if (object && --object->refs == 0) delete object;
}

void resetKeyboard();
void resetHid();
void resetPrefs();

void reset() {
  World& w = world();
  w.clock = kClockEpoch;
  w.wallClockOffset = 0;
  w.log.clear();
  resetKeyboard();
  w.desktop = Desktop{};
  w.tools = World::Tools{};
  resetHid();
  resetPrefs();
}

void advanceClock(double seconds) {
  // A negative or NaN pause never turns the clock back.
  if (seconds > 0) world().clock += seconds;
}

void log(std::string op, Value fields) {
  World& w = world();
  w.log.push_back(LogEntry{w.clock, std::move(op), std::move(fields)});
}

std::vector<LogEntry> takeLog() { return world().log.take(); }

}  // namespace sim

namespace platform {

double now() noexcept { return sim::world().clock; }

void sleepFor(double seconds) noexcept {
  sim::log("sleep", sim::Value::object({{"seconds", seconds}}));
  sim::advanceClock(seconds);
}

void retainObject(const void* ref) noexcept {
  sim::retain(static_cast<sim::Object*>(const_cast<void*>(ref)));
}

void releaseObject(const void* ref) noexcept {
  sim::release(static_cast<sim::Object*>(const_cast<void*>(ref)));
}

}  // namespace platform
