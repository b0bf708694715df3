// Control functions of the keyboard section.
#include <cmath>

#include "platform/sim/control.h"
#include "platform/sim/world.h"

namespace sim {
namespace {

// allowTap(true | false | {types: [..], listed}): with types, the tap is
// created but the system lets it see only those event types; with listed
// false, the system's list of taps does not show it.
Value keyboardAllowTap(const std::vector<Value>& args) {
  const Value& v = arg(args, 0);
  auto& kb = world().keyboard;
  kb.allowedTypes = ~uint64_t{0};
  kb.listed = true;
  if (v.isObject()) {
    kb.allowTap = true;
    if (const Value& types = v["types"]; !types.isUndefined()) {
      if (!types.isArray()) throw ControlError{"allowTap({types: [event types], listed})"};
      uint64_t allowed = 0;
      for (const auto& t : types.items) {
        const double type = requireNumber(t, "types[]");
        if (type < 0 || type > 63 || type != std::floor(type)) throw ControlError{"an allowed type is an event type from 0 to 63"};
        allowed |= uint64_t{1} << static_cast<int>(type);
      }
      kb.allowedTypes = allowed;
    }
    if (const Value& listed = v["listed"]; !listed.isUndefined()) kb.listed = requireBool(listed, "listed");
  } else {
    kb.allowTap = requireBool(v, "allowTap");
  }
  return {};
}

// setPreflight({listen}): what the system's Input Monitoring check answers.
Value keyboardSetPreflight(const std::vector<Value>& args) {
  const Value& v = arg(args, 0);
  if (!v.isObject()) throw ControlError{"setPreflight({listen})"};
  world().keyboard.listenPreflight = requireBool(v["listen"], "listen");
  return {};
}

KeyEvent keyEventFrom(const Value& v) {
  if (!v.isObject()) throw ControlError{"an event is an object {type, flags, keyCode}"};
  KeyEvent e;
  double type = requireNumber(v["type"], "type");
  if (type < 0 || type > 0xFFFFFFFF || type != std::floor(type)) throw ControlError{"type must be a 32-bit unsigned integer"};
  e.type = static_cast<uint32_t>(type);
  if (v.has("flags")) {
    double flags = requireNumber(v["flags"], "flags");
    if (flags < 0 || flags != std::floor(flags)) throw ControlError{"flags must be an unsigned integer"};
    e.flags = static_cast<uint64_t>(flags);
  }
  if (v.has("keyCode")) e.keyCode = static_cast<int64_t>(requireNumber(v["keyCode"], "keyCode"));
  return e;
}

// One event or a list of them, parsed all or nothing.
std::vector<KeyEvent> keyEventsFrom(const Value& events) {
  std::vector<KeyEvent> parsed;
  if (!events.isArray()) {
    parsed.push_back(keyEventFrom(events));
    return parsed;
  }
  parsed.reserve(events.items.size());
  for (const auto& item : events.items) parsed.push_back(keyEventFrom(item));
  return parsed;
}

Value keyboardPost(const std::vector<Value>& args) {
  for (const auto& e : keyEventsFrom(arg(args, 0))) postKeyEvent(e);
  return {};
}

Value keyboardPostAsync(const std::vector<Value>& args) {
  postKeyEventsAsync(keyEventsFrom(arg(args, 0)));
  return {};
}

Value keyboardPending(const std::vector<Value>&) { return static_cast<double>(pendingAsyncKeyEvents()); }

Value keyboardSetTapTimeout(const std::vector<Value>& args) {
  const double seconds = requireNumber(arg(args, 0), "seconds");
  if (!(seconds >= 0) || seconds > 3600) throw ControlError{"the tap timeout is from 0 to 3600 seconds"};
  world().keyboard.tapTimeout = seconds;
  return {};
}

Value keyboardResults(const std::vector<Value>&) {
  Value list = Value::array();
  for (const auto& r : takeKeyResults()) {
    Value item = Value::object({{"type", r.event.type},
                                {"flags", r.event.flags},
                                {"keyCode", r.event.keyCode},
                                {"verdict", r.swallowed ? "swallow" : "pass"}});
    if (!r.sawTap) item.set("tap", false);
    if (r.async) {
      item.set("waitedMs", r.waitedMs);
      item.set("timedOut", r.timedOut);
    }
    if (r.held) item.set("held", true);
    list.push(std::move(item));
  }
  return list;
}

Value keyboardTap(const std::vector<Value>&) {
  TapState s = tapState();
  return Value::object({{"exists", s.exists},
                        {"enabled", s.enabled},
                        {"onRunLoop", s.onRunLoop},
                        {"mask", static_cast<double>(s.mask)}});
}

constexpr ControlEntry kKeyboardControl[] = {
    {"keyboard.allowTap", keyboardAllowTap},
    {"keyboard.post", keyboardPost},
    {"keyboard.postAsync", keyboardPostAsync},
    {"keyboard.pending", keyboardPending},
    {"keyboard.setTapTimeout", keyboardSetTapTimeout},
    {"keyboard.setPreflight", keyboardSetPreflight},
    {"keyboard.results", keyboardResults},
    {"keyboard.tap", keyboardTap},
};

}  // namespace

std::span<const ControlEntry> keyboardControl() { return kKeyboardControl; }

}  // namespace sim
