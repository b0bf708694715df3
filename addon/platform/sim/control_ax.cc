// Control functions of the applications and accessibility sections.
#include <cmath>

#include "platform/sim/control.h"
#include "platform/sim/world.h"

namespace sim {
namespace {

Desktop& desk() { return world().desktop; }

int32_t requirePid(const Value& v) {
  double pid = requireNumber(v, "pid");
  if (pid != std::floor(pid) || pid < -2147483648.0 || pid > 2147483647.0) throw ControlError{"pid must be a 32-bit integer"};
  return static_cast<int32_t>(pid);
}

App& requireApp(const Value& pid) {
  App* app = desk().app(requirePid(pid));
  if (!app) throw ControlError{"no application with pid " + elementKey(pid)};
  return *app;
}

Node& requireNode(const Value& id) {
  Node* n = findNode(id);
  if (!n) throw ControlError{"no element with id " + elementKey(id)};
  return *n;
}

Value axSetTrusted(const std::vector<Value>& args) {
  desk().trusted = requireBool(arg(args, 0), "trusted");
  return {};
}

Value appsAdd(const std::vector<Value>& args) {
  const Value& d = arg(args, 0);
  if (!d.isObject()) throw ControlError{"an application is an object with a pid"};
  auto app = std::make_unique<App>();
  app->pid = requirePid(d["pid"]);
  if (desk().app(app->pid)) throw ControlError{"an application with pid " + elementKey(d["pid"]) + " exists"};
  applyAppFields(*app, d);
  desk().apps.push_back(std::move(app));
  return {};
}

Value appsUpdate(const std::vector<Value>& args) {
  applyAppFields(requireApp(arg(args, 0)), arg(args, 1));
  return {};
}

std::optional<int32_t> optionalPid(const Value& v) {
  if (v.isNull() || v.isUndefined()) return std::nullopt;
  return requirePid(v);
}

Value appsSetFrontmost(const std::vector<Value>& args) {
  desk().frontmost = optionalPid(arg(args, 0));
  desk().pendingFrontmost.reset();
  return {};
}

Value appsSetFrontmostAfter(const std::vector<Value>& args) {
  const double seconds = requireNumber(arg(args, 1), "seconds");
  if (!(seconds >= 0)) throw ControlError{"setFrontmostAfter(pid, seconds): seconds must be zero or more"};
  desk().pendingFrontmost = std::make_pair(world().clock + seconds, optionalPid(arg(args, 0)));
  return {};
}

Value appsSetSystemFocus(const std::vector<Value>& args) {
  const Value& v = arg(args, 0);
  Desktop& d = desk();
  if (v.isUndefined()) {
    d.focusMode = Desktop::Focus::followFrontmost;
  } else if (v.isNull()) {
    d.focusMode = Desktop::Focus::none;
  } else {
    int32_t n = requirePid(v);
    d.focusMode = n < 0 ? Desktop::Focus::error : Desktop::Focus::app;
    d.focusValue = n;
  }
  return {};
}

Value appsActivations(const std::vector<Value>&) { return desk().activations; }

Value rangeOf(const Node& n) {
  switch (n.rangeKind) {
    case Node::Range::unsupported: return {};
    case Node::Range::notRange: return "notRange";
    case Node::Range::range:
      return Value::object({{"location", n.range.location}, {"length", n.range.length}});
  }
  return {};
}

Value axInspect(const std::vector<Value>& args) {
  Node& n = requireNode(arg(args, 0));
  settlePendingValue(n);
  Value writes = Value::array();
  for (const auto& w : n.writes) writes.push(w);
  Value result = Value::object();
  result.set("value", n.value);
  result.set("selectedRange", rangeOf(n));
  result.set("focusedSets", n.focusedSets);
  result.set("writes", std::move(writes));
  return result;
}

Value axType(const std::vector<Value>& args) {
  Node& n = requireNode(arg(args, 0));
  const Value& v = arg(args, 1);
  if (!v.isString() && !v.isNumber() && !v.isUndefined()) throw ControlError{"value must be a string, a number or undefined"};
  n.value = v;
  n.pendingValues.clear();
  return {};
}

Value axLiveHandles(const std::vector<Value>&) { return liveElementCount(); }

Value axQueryCounts(const std::vector<Value>&) {
  Value counts = Value::object();
  for (const auto& [kind, n] : desk().queryCounts) counts.set(kind, n);
  return counts;
}

Value axTimeouts(const std::vector<Value>&) {
  Value t = Value::object();
  if (desk().globalTimeout) t.set("system", *desk().globalTimeout);
  for (const auto& [key, seconds] : desk().timeouts) t.set(key, seconds);
  return t;
}

Value toolsSetPath(const std::vector<Value>& args) {
  const Value& name = arg(args, 0);
  const Value& path = arg(args, 1);
  if (!path.isString() || path.string.empty()) throw ControlError{"setPath(name, path): path must be a non-empty string"};
  if (name.isString() && name.string == "osascript") world().tools.osascript = path.string;
  else if (name.isString() && name.string == "ps") world().tools.ps = path.string;
  else throw ControlError{"setPath: the tools are 'osascript' and 'ps'"};
  return {};
}

constexpr ControlEntry kAxControl[] = {
    {"tools.setPath", toolsSetPath},
    {"ax.setTrusted", axSetTrusted},
    {"ax.inspect", axInspect},
    {"ax.type", axType},
    {"ax.liveHandles", axLiveHandles},
    {"ax.queryCounts", axQueryCounts},
    {"ax.timeouts", axTimeouts},
    {"apps.add", appsAdd},
    {"apps.update", appsUpdate},
    {"apps.setFrontmost", appsSetFrontmost},
    {"apps.setFrontmostAfter", appsSetFrontmostAfter},
    {"apps.setSystemFocus", appsSetSystemFocus},
    {"apps.activations", appsActivations},
};

}  // namespace

std::span<const ControlEntry> axControl() { return kAxControl; }

}  // namespace sim
