#include "platform/sim/control.h"

#include <mutex>

#include "frame/export_lock.h"

#include <cmath>
#include <span>

#include "platform/sim/world.h"

namespace sim {
namespace {

// ---- World -------------------------------------------------------------------

Value resetWorld(const std::vector<Value>&) {
  reset();
  return {};
}

Value clockNow(const std::vector<Value>&) { return world().clock.load(); }

Value clockAdvance(const std::vector<Value>& args) {
  double seconds = requireNumber(arg(args, 0), "seconds");
  if (seconds < 0) throw ControlError{"the clock only moves forward"};
  advanceClock(seconds);
  return world().clock.load();
}

Value logTake(const std::vector<Value>&) {
  Value entries = Value::array();
  for (auto& entry : takeLog()) {
    Value e = Value::object({{"t", entry.t}, {"op", entry.op}});
    for (auto& member : entry.fields.members) e.members.push_back(std::move(member));
    entries.push(std::move(e));
  }
  return entries;
}

// The wall clock jumps while no time passes; answers the wall clock's time.
Value clockStep(const std::vector<Value>& args) {
  const double seconds = requireNumber(arg(args, 0), "seconds");
  if (!std::isfinite(seconds)) throw ControlError{"clock.step(seconds): seconds must be finite"};
  world().wallClockOffset += seconds;
  return world().clock.load() + world().wallClockOffset;
}

constexpr ControlEntry kWorldControl[] = {
    {"reset", resetWorld},
    {"clock.now", clockNow},
    {"clock.advance", clockAdvance},
    {"clock.step", clockStep},
    {"log.take", logTake},
};

// One table per section of the simulated desktop.
using Section = std::span<const ControlEntry> (*)();
constexpr Section kSections[] = {worldControl, keyboardControl, axControl, hidControl, prefsControl};

napi_value callControl(napi_env env, napi_callback_info info) {
  void* data = nullptr;
  size_t argc = 8;
  napi_value argv[8];
  napi_get_cb_info(env, info, &argc, argv, nullptr, &data);
  std::vector<Value> args;
  for (size_t i = 0; i < argc && i < 8; ++i) args.push_back(fromJs(env, argv[i]));
  auto function = reinterpret_cast<ControlFunction>(data);
  // The simulated world is shared like the addon's own state, and taken in
  // turns the same way.
  std::lock_guard lock(pelmora::exportLock());
  try {
    return toJs(env, function(args));
  } catch (const ControlError& error) {
    napi_throw_type_error(env, nullptr, error.message.c_str());
    return nullptr;
  }
}

}  // namespace

std::span<const ControlEntry> worldControl() { return kWorldControl; }

napi_value makeControlObject(napi_env env) {
  napi_value object = nullptr;
  napi_create_object(env, &object);
  for (Section section : kSections) {
    for (const auto& entry : section()) {
      napi_value fn = nullptr;
      napi_create_function(env, entry.name, NAPI_AUTO_LENGTH, callControl,
                           reinterpret_cast<void*>(entry.function), &fn);
      napi_set_named_property(env, object, entry.name, fn);
    }
  }
  napi_value epoch = nullptr;
  napi_create_double(env, kClockEpoch, &epoch);
  napi_set_named_property(env, object, "clock.epoch", epoch);
  return object;
}

}  // namespace sim
