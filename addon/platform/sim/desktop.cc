#include "platform/sim/desktop.h"

#include <cmath>

#include "platform/sim/control_args.h"
#include "platform/sim/world.h"

namespace sim {
namespace {

std::optional<std::string> optionalString(const Value& v, const char* what) {
  if (v.isUndefined() || v.isNull()) return std::nullopt;
  if (!v.isString()) throw ControlError{std::string(what) + " must be a string"};
  return v.string;
}

std::map<std::string, int32_t> errorTable(const Value& v, const char* what) {
  std::map<std::string, int32_t> table;
  if (v.isUndefined()) return table;
  if (!v.isObject()) throw ControlError{std::string(what) + " must map attribute names to error codes"};
  for (const auto& [name, code] : v.members)
    table[name] = static_cast<int32_t>(requireNumber(code, what));
  return table;
}

// 'apply', 'refuse', 'ignore', or the behaviours and storage rules of an
// object; a misspelt rule would otherwise be an 'apply' that tests rely on.
void checkOnWrite(const Value& v) {
  if (v.isUndefined()) return;
  if (v.isString()) {
    if (v.string == "apply" || v.string == "refuse" || v.string == "ignore") return;
    throw ControlError{"onWrite must be 'apply', 'refuse', 'ignore' or an object of storage rules"};
  }
  if (!v.isObject()) throw ControlError{"onWrite must be 'apply', 'refuse', 'ignore' or an object of storage rules"};
  for (const auto& [name, rule] : v.members) {
    if (name == "delay") {
      if (!(requireNumber(rule, "onWrite.delay") >= 0)) throw ControlError{"onWrite.delay is seconds, zero or more"};
    } else if (name == "decompose" || name == "trimTrailingNewline") {
      requireBool(rule, name == "decompose" ? "onWrite.decompose" : "onWrite.trimTrailingNewline");
    } else if (name == "lineBreaks") {
      if (!rule.isString() || (rule.string != "lf" && rule.string != "space"))
        throw ControlError{"onWrite.lineBreaks must be 'lf' or 'space'"};
    } else if (name == "maxLength") {
      const double n = requireNumber(rule, "onWrite.maxLength");
      if (n < 0 || n != std::floor(n)) throw ControlError{"onWrite.maxLength must be a whole number of UTF-16 units"};
    } else {
      throw ControlError{"unknown onWrite rule: " + name};
    }
  }
}

bool isReference(const Value& v) { return v.isString() || (v.isNumber() && v.number >= 0); }

void checkAppRef(const Value& v, const char* what) {
  if (v.isUndefined() || v.isNull() || v.isString() || v.isNumber()) return;
  throw ControlError{std::string(what) + " must be an element id, null or a negative error code"};
}

struct Builder {
  App& app;
  std::vector<std::pair<Node*, Value>> references;  // children given as ids

  Node* build(const Value& d, Node* parent) {
    if (!d.isObject()) throw ControlError{"an element is an object with an id"};
    if (!isReference(d["id"])) throw ControlError{"an element needs an id (a string or a non-negative number)"};
    auto node = std::make_unique<Node>();
    Node* n = node.get();
    n->id = d["id"];
    n->key = elementKey(n->id);
    if (app.byKey.count(n->key)) throw ControlError{"element id used twice: " + n->key};
    n->pid = app.pid;
    n->parent = parent;
    n->role = optionalString(d["role"], "role");
    n->subrole = optionalString(d["subrole"], "subrole");
    n->roleDescription = optionalString(d["roleDescription"], "roleDescription");
    n->selectedText = optionalString(d["selectedText"], "selectedText");
    n->domIdentifier = optionalString(d["domIdentifier"], "domIdentifier");
    const Value& value = d["value"];
    if (!value.isUndefined() && !value.isString() && !value.isNumber())
      throw ControlError{"value must be a string, a number or undefined"};
    n->value = value;
    n->valueSettable = d["valueSettable"].boolOr(false);
    const Value& range = d["selectedRange"];
    if (range.isString() && range.string == "notRange") {
      n->rangeKind = Node::Range::notRange;
    } else if (range.isObject()) {
      n->rangeKind = Node::Range::range;
      n->range = {static_cast<int64_t>(requireNumber(range["location"], "selectedRange.location")),
                  static_cast<int64_t>(requireNumber(range["length"], "selectedRange.length"))};
    } else if (!range.isUndefined()) {
      throw ControlError{"selectedRange must be {location, length}, 'notRange' or undefined"};
    }
    n->errors = errorTable(d["errors"], "errors");
    n->settableErrors = errorTable(d["settableErrors"], "settableErrors");
    n->latency = d.has("latency") ? requireNumber(d["latency"], "latency") : 0;
    n->setLatency = d.has("setLatency") ? requireNumber(d["setLatency"], "setLatency") : 0;
    if (!(n->latency >= 0) || !(n->setLatency >= 0)) throw ControlError{"latencies are seconds, zero or more"};
    n->onWrite = d["onWrite"];
    checkOnWrite(n->onWrite);
    n->focusedElement = d["focusedElement"];
    checkAppRef(n->focusedElement, "focusedElement");
    app.byKey[n->key] = n;
    app.nodes.push_back(std::move(node));

    const Value& children = d["children"];
    if (!children.isUndefined() && !children.isArray()) throw ControlError{"children must be an array"};
    for (const auto& child : children.items) {
      if (isReference(child)) {
        references.emplace_back(n, child);
        n->children.push_back(nullptr);  // resolved once every node exists
      } else {
        n->children.push_back(build(child, n));
      }
    }
    return n;
  }

  void resolveReferences() {
    for (auto& [parent, id] : references) {
      Node* target = app.find(elementKey(id));
      if (!target) throw ControlError{"child refers to an unknown element: " + elementKey(id)};
      for (auto& slot : parent->children) {
        if (slot == nullptr) {
          slot = target;
          break;
        }
      }
    }
  }
};

}  // namespace

std::string elementKey(const Value& id) {
  if (id.isString()) return id.string;
  if (id.isNumber()) {
    if (id.number == std::floor(id.number) && std::fabs(id.number) < 1e15)
      return std::to_string(static_cast<int64_t>(id.number));
    return std::to_string(id.number);
  }
  return "?";
}

void setWindows(App& app, const Value& windows) {
  if (!windows.isUndefined() && !windows.isArray()) throw ControlError{"windows must be an array of element trees"};
  App fresh;
  fresh.pid = app.pid;
  Builder builder{fresh, {}};
  for (const auto& w : windows.items) fresh.windows.push_back(builder.build(w, nullptr));
  builder.resolveReferences();
  app.windows = std::move(fresh.windows);
  app.nodes = std::move(fresh.nodes);
  app.byKey = std::move(fresh.byKey);
}

void applyAppFields(App& app, const Value& f) {
  if (!f.isObject()) throw ControlError{"application fields must be an object"};
  for (const auto& [name, v] : f.members) {
    if (name == "pid") continue;
    if (name == "bundleID") app.bundleID = optionalString(v, "bundleID");
    else if (name == "name") app.name = optionalString(v, "name");
    else if (name == "active") app.active = requireBool(v, "active");
    else if (name == "running") app.running = requireBool(v, "running");
    else if (name == "latency") app.latency = requireNumber(v, "latency");
    else if (name == "windows") setWindows(app, v);
    else if (name == "focusedWindow") { checkAppRef(v, name.c_str()); app.focusedWindow = v; }
    else if (name == "mainWindow") { checkAppRef(v, name.c_str()); app.mainWindow = v; }
    else if (name == "focusedElement") { checkAppRef(v, name.c_str()); app.focusedElement = v; }
    else if (name == "focusedElementErrors") {
      if (!v.isArray()) throw ControlError{"focusedElementErrors must be an array of error codes"};
      app.focusedElementErrors.clear();
      for (const auto& code : v.items)
        app.focusedElementErrors.push_back(static_cast<int32_t>(requireNumber(code, "focusedElementErrors")));
    } else {
      throw ControlError{"unknown application field: " + name};
    }
  }
}

Node* findNode(const Value& id) {
  const std::string key = elementKey(id);
  for (const auto& app : world().desktop.apps)
    if (Node* n = app->find(key)) return n;
  return nullptr;
}

void settlePendingFrontmost() {
  Desktop& d = world().desktop;
  if (d.pendingFrontmost && world().clock >= d.pendingFrontmost->first) {
    d.frontmost = d.pendingFrontmost->second;
    d.pendingFrontmost.reset();
  }
}

void settlePendingValue(Node& node) {
  while (!node.pendingValues.empty() && world().clock >= node.pendingValues.front().first) {
    node.value = Value(std::move(node.pendingValues.front().second));
    node.pendingValues.pop_front();
  }
}

}  // namespace sim
