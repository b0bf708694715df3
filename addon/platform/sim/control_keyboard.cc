// Control functions of the keyboard section.
#include <cmath>

#include "platform/sim/control.h"
#include "platform/sim/world.h"

namespace sim {
namespace {

Value keyboardAllowTap(const std::vector<Value>& args) {
  world().keyboard.allowTap = requireBool(arg(args, 0), "allowTap");
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

Value keyboardPost(const std::vector<Value>& args) {
  const Value& events = arg(args, 0);
  if (events.isArray()) {
    std::vector<KeyEvent> parsed;
    parsed.reserve(events.items.size());
    for (const auto& item : events.items) parsed.push_back(keyEventFrom(item));  // all or nothing
    for (const auto& e : parsed) postKeyEvent(e);
  } else {
    postKeyEvent(keyEventFrom(events));
  }
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
    list.push(std::move(item));
  }
  return list;
}

Value keyboardTap(const std::vector<Value>&) {
  TapState s = tapState();
  return Value::object({{"exists", s.exists}, {"enabled", s.enabled}, {"onRunLoop", s.onRunLoop}});
}

constexpr ControlEntry kKeyboardControl[] = {
    {"keyboard.allowTap", keyboardAllowTap},
    {"keyboard.post", keyboardPost},
    {"keyboard.results", keyboardResults},
    {"keyboard.tap", keyboardTap},
};

}  // namespace

std::span<const ControlEntry> keyboardControl() { return kKeyboardControl; }

}  // namespace sim
