// Simulated Accessibility and workspace: every query is a round trip that
// costs the queried element's latency on the virtual clock and is logged.
#include <algorithm>
#include <cmath>

#include "platform/platform.h"
#include "platform/icu/text_services.h"
#include "platform/sim/world.h"
#include "unicode/utf8.h"

namespace platform {

struct ElementObject : sim::Object {
  enum class Target : uint8_t { system, app, node };
  ElementObject(Target t, int32_t p, std::string k) : Object(Kind::element), target(t), pid(p), key(std::move(k)) {
    ++live();
  }
  ~ElementObject() override { --live(); }
  static int64_t& live() {
    static int64_t count = 0;
    return count;
  }
  Target target;
  int32_t pid;
  std::string key;  // node key for nodes
  // The messaging timeout set on this reference; 0 uses the global one. As on
  // macOS it belongs to the reference, not to the element it names: another
  // reference to the same element keeps its own.
  double timeout = 0;
};

}  // namespace platform

namespace sim {

int64_t liveElementCount() { return platform::ElementObject::live(); }

namespace {

using platform::AttributeResult;
using platform::AXError;
using platform::ElementObject;
using platform::ValueKind;
using Target = ElementObject::Target;

Desktop& desk() { return world().desktop; }

platform::Element makeElement(Target t, int32_t pid, std::string key = {}) {
  return platform::Element::adopt(new ElementObject(t, pid, std::move(key)));
}

Value logName(const ElementObject& e) {
  switch (e.target) {
    case Target::system: return "system";
    case Target::app: return "app:" + std::to_string(e.pid);
    case Target::node: {
      const App* app = desk().app(e.pid);
      const Node* n = app ? app->find(e.key) : nullptr;
      return n ? n->id : Value(e.key);
    }
  }
  return {};
}

std::string timeoutKey(const ElementObject& e) {
  return e.target == Target::app ? "app:" + std::to_string(e.pid) : e.key;
}

double effectiveTimeout(const ElementObject& e) {
  if (e.target != Target::system && e.timeout > 0) return e.timeout;
  return desk().globalTimeout.value_or(kDefaultMessagingTimeout);
}

double latencyOf(const ElementObject& e) {
  if (e.target == Target::system) return 0;
  const App* app = desk().app(e.pid);
  if (!app) return 0;
  if (e.target == Target::app) return app->latency;
  const Node* n = app->find(e.key);
  return n ? n->latency : 0;
}

// One round trip: counts, costs its latency plus the application's own work
// (or the timeout), and tells whether the reply came in time. An application
// answers one request at a time: one that is still working on an earlier
// request (whose reply ran into the timeout) answers only after it.
bool roundTrip(const ElementObject& e, const char* kind, double work = 0) {
  ++desk().queryCounts[kind];
  App* app = e.target == Target::system ? nullptr : desk().app(e.pid);
  const double queued = app ? std::max(0.0, app->busyUntil - world().clock) : 0;
  const double reply = queued + latencyOf(e) + work;
  if (app) app->busyUntil = world().clock + reply;
  const double timeout = effectiveTimeout(e);
  if (reply > timeout) {
    advanceClock(timeout);
    return false;
  }
  advanceClock(reply);
  return true;
}

AttributeResult failure(AXError code) {
  AttributeResult r;
  r.error = code;
  return r;
}

AttributeResult success(ValueKind kind) {
  AttributeResult r;
  r.error = platform::kAXSuccess;
  r.kind = kind;
  return r;
}

AttributeResult stringResult(const std::optional<std::string>& s) {
  if (!s) return failure(platform::kAXAttributeUnsupported);
  AttributeResult r = success(ValueKind::string);
  r.string = *s;
  return r;
}

AttributeResult nodeElement(const Node* n) {
  AttributeResult r = success(ValueKind::element);
  r.element = makeElement(Target::node, n->pid, n->key);
  return r;
}

// An element id, null (no value) or a negative error code.
AttributeResult resolveRef(const App& app, const AppRef& ref) {
  if (ref.isUndefined()) return failure(platform::kAXAttributeUnsupported);
  if (ref.isNull()) return success(ValueKind::none);
  if (ref.isNumber() && ref.number < 0) return failure(static_cast<AXError>(ref.number));
  const Node* n = app.find(elementKey(ref));
  return n ? nodeElement(n) : failure(platform::kAXInvalidElement);
}

AttributeResult copySystem(std::string_view attribute) {
  if (attribute != "AXFocusedApplication") return failure(platform::kAXAttributeUnsupported);
  settlePendingFrontmost();
  const Desktop& d = desk();
  std::optional<int32_t> pid;
  switch (d.focusMode) {
    case Desktop::Focus::followFrontmost: pid = d.frontmost; break;
    case Desktop::Focus::app: pid = d.focusValue; break;
    case Desktop::Focus::none: break;
    case Desktop::Focus::error: return failure(d.focusValue);
  }
  if (!pid || !d.app(*pid)) return failure(platform::kAXNoValue);
  AttributeResult r = success(ValueKind::element);
  r.element = makeElement(Target::app, *pid);
  return r;
}

AttributeResult copyApp(App& app, std::string_view attribute) {
  if (attribute == "AXFocusedUIElement") {
    if (!app.focusedElementErrors.empty()) {
      AXError code = app.focusedElementErrors.front();
      app.focusedElementErrors.pop_front();
      return failure(code);
    }
    return resolveRef(app, app.focusedElement);
  }
  if (attribute == "AXFocusedWindow") return resolveRef(app, app.focusedWindow);
  if (attribute == "AXMainWindow") return resolveRef(app, app.mainWindow);
  if (attribute == "AXWindows" || attribute == "AXChildren") {
    AttributeResult r = success(ValueKind::elementList);
    for (const Node* w : app.windows) r.elements.push_back(makeElement(Target::node, w->pid, w->key));
    return r;
  }
  if (attribute == "AXRole") return stringResult(std::string("AXApplication"));
  if (attribute == "AXTitle") return stringResult(app.name);
  return failure(platform::kAXAttributeUnsupported);
}

AttributeResult copyNode(App& app, Node& n, std::string_view attribute) {
  settlePendingValue(n);
  if (auto it = n.errors.find(std::string(attribute)); it != n.errors.end()) return failure(it->second);
  if (attribute == "AXRole") return stringResult(n.role);
  if (attribute == "AXSubrole") return stringResult(n.subrole);
  if (attribute == "AXRoleDescription") return stringResult(n.roleDescription);
  if (attribute == "AXSelectedText") return stringResult(n.selectedText);
  if (attribute == "AXDOMIdentifier") return stringResult(n.domIdentifier);
  if (attribute == "AXValue") {
    if (n.value.isString()) return stringResult(n.value.string);
    if (n.value.isNumber()) {
      AttributeResult r = success(ValueKind::number);
      r.number = n.value.number;
      return r;
    }
    return failure(platform::kAXAttributeUnsupported);
  }
  if (attribute == "AXSelectedTextRange") {
    switch (n.rangeKind) {
      case Node::Range::unsupported: return failure(platform::kAXAttributeUnsupported);
      case Node::Range::notRange: return success(ValueKind::otherAXValue);
      case Node::Range::range: {
        AttributeResult r = success(ValueKind::range);
        r.range = n.range;
        return r;
      }
    }
  }
  if (attribute == "AXParent") {
    if (n.parent) return nodeElement(n.parent);
    AttributeResult r = success(ValueKind::element);
    r.element = makeElement(Target::app, app.pid);
    return r;
  }
  if (attribute == "AXChildren") {
    AttributeResult r = success(ValueKind::elementList);
    for (const Node* c : n.children) r.elements.push_back(makeElement(Target::node, c->pid, c->key));
    return r;
  }
  if (attribute == "AXFocusedUIElement") return resolveRef(app, n.focusedElement);
  return failure(platform::kAXAttributeUnsupported);
}

// The application and node behind an element, or the error a query of it
// answers.
struct Resolved {
  App* app = nullptr;
  Node* node = nullptr;
  AXError error = platform::kAXSuccess;
};

Resolved resolve(const ElementObject& e) {
  Resolved r;
  if (!desk().trusted) {
    r.error = platform::kAXAPIDisabled;
    return r;
  }
  if (e.target == Target::system) return r;
  r.app = desk().app(e.pid);
  if (r.app && e.target == Target::node) r.node = r.app->find(e.key);
  if (!r.app || (e.target == Target::node && !r.node)) r.error = platform::kAXInvalidElement;
  return r;
}

Value rangeValue(platform::TextRange range) {
  return Value::object({{"location", range.location}, {"length", range.length}});
}

// What a field stores of a value set: its storage rules, in this order.
std::string storedForm(const Value& mode, const std::string& value) {
  if (!mode.isObject()) return value;
  std::string stored = mode["decompose"].boolOr(false) ? platform::icu::canonicalDecomposition(value) : value;
  if (mode["trimTrailingNewline"].boolOr(false)) stored.resize(unicode::withoutFinalLineBreak(stored).size());
  const std::string breaks = mode["lineBreaks"].stringOr("");
  if (breaks == "lf") stored = unicode::replaceLineBreaks(stored, '\n');
  else if (breaks == "space") stored = unicode::replaceLineBreaks(stored, ' ');
  if (mode.has("maxLength")) {
    // The first n UTF-16 units; a pair the cut would split goes whole.
    const auto cap = static_cast<size_t>(mode["maxLength"].number);
    size_t units = 0, at = 0;
    while (at < stored.size()) {
      const size_t len = std::max<size_t>(1, unicode::utf8SequenceLength(stored, at));
      const size_t add = len == 4 ? 2 : 1;
      if (units + add > cap) break;
      units += add;
      at += len;
    }
    stored.resize(at);
  }
  return stored;
}

// The application takes an AXValue set at `at` on the clock, as its onWrite
// says; a set whose reply ran into the timeout is still taken then. Sets to
// one application land in the order they were made: none before one still
// pending. Answers the set's own error when the reply comes in time.
AXError takeValueSet(Node& n, const std::string& value, double at) {
  const Value& mode = n.onWrite;
  if (mode.isString() && mode.string == "refuse") return platform::kAXFailure;
  n.writes.push_back(value);
  if (mode.isString() && mode.string == "ignore") return platform::kAXSuccess;  // accepted, never shown
  if (mode.isObject() && mode.has("delay")) at += mode["delay"].numberOr(0);
  if (const App* app = desk().app(n.pid))
    for (const auto& other : app->nodes)
      if (!other->pendingValues.empty()) at = std::max(at, other->pendingValues.back().first);
  std::string shown = storedForm(mode, value);
  if (at <= world().clock) {
    n.value = Value(std::move(shown));
  } else {
    n.pendingValues.emplace_back(at, std::move(shown));
  }
  return platform::kAXSuccess;
}

AXError setAttribute(platform::ElementRef ref, std::string_view attribute, const Value& value) {
  const ElementObject& e = *ref;
  const double started = world().clock;
  AXError error = platform::kAXSuccess;
  Resolved r = resolve(e);
  const bool valueSet = attribute == "AXValue" && value.isString();
  const double work = r.node && valueSet ? r.node->setLatency : 0;
  if (r.error) {
    error = r.error;
  } else if (!roundTrip(e, "axSet", work)) {
    error = platform::kAXCannotComplete;
    // The request reached the application, which works on it regardless.
    if (r.node && valueSet) {
      settlePendingValue(*r.node);
      takeValueSet(*r.node, value.string, r.app->busyUntil);
    }
  } else if (!r.node) {
    error = platform::kAXAttributeUnsupported;
  } else {
    Node& n = *r.node;
    settlePendingValue(n);
    if (valueSet) {
      error = takeValueSet(n, value.string, world().clock);
    } else if (attribute == "AXSelectedTextRange" && value.isObject()) {
      if (n.rangeKind == Node::Range::unsupported) {
        error = platform::kAXAttributeUnsupported;
      } else {
        n.rangeKind = Node::Range::range;
        n.range = {static_cast<int64_t>(value["location"].number), static_cast<int64_t>(value["length"].number)};
      }
    } else if (attribute == "AXFocused" && value.isBool()) {
      if (value.boolean) ++n.focusedSets;
    } else {
      error = platform::kAXIllegalArgument;
    }
  }
  world().log.push_back(LogEntry{started, "axSet",
                                 Value::object({{"element", logName(e)},
                                                {"attribute", std::string(attribute)},
                                                {"value", value},
                                                {"error", error}})});
  return error;
}

std::optional<platform::RunningApplication> record(const App* app) {
  if (!app || !app->running) return std::nullopt;
  return platform::RunningApplication{app->pid, app->bundleID, app->name};
}

}  // namespace
}  // namespace sim

namespace platform {

bool isProcessTrusted() noexcept {
  sim::log("trusted");
  return sim::desk().trusted;
}

Element applicationElement(int32_t pid) noexcept { return sim::makeElement(ElementObject::Target::app, pid); }

int32_t elementPid(ElementRef element) noexcept {
  return element && element->target != ElementObject::Target::system ? element->pid : 0;
}

void setMessagingTimeout(ElementRef element, double seconds) noexcept {
  if (!element || !(seconds >= 0)) return;
  // As on macOS: on the system-wide element it sets the timeout of every
  // reference of the process (zero restores the default); on any other it
  // sets that reference's own (zero returns it to the global one).
  auto& d = sim::desk();
  if (element->target == ElementObject::Target::system) {
    d.globalTimeout = seconds > 0 ? std::optional<double>(seconds) : std::nullopt;
    return;
  }
  element->timeout = seconds;
  if (seconds > 0) d.timeouts[sim::timeoutKey(*element)] = seconds;
  else d.timeouts.erase(sim::timeoutKey(*element));
}

AttributeResult copyAttribute(ElementRef element, std::string_view attribute) {
  using namespace sim;
  const double started = world().clock;
  AttributeResult result;
  Resolved r = resolve(*element);
  if (r.error) {
    result = failure(r.error);
  } else if (!roundTrip(*element, "axCopy")) {
    result = failure(kAXCannotComplete);
  } else if (element->target == ElementObject::Target::system) {
    result = copySystem(attribute);
  } else if (!r.node) {
    result = copyApp(*r.app, attribute);
  } else {
    result = copyNode(*r.app, *r.node, attribute);
  }
  world().log.push_back(LogEntry{started, "axCopy",
                                 Value::object({{"element", logName(*element)},
                                                {"attribute", std::string(attribute)},
                                                {"error", result.error}})});
  return result;
}

AttributeResult copySystemWideAttribute(std::string_view attribute) {
  Element systemWide = sim::makeElement(ElementObject::Target::system, 0);
  return copyAttribute(systemWide.get(), attribute);
}

std::vector<AttributeResult> copyAttributes(ElementRef element, std::span<const std::string_view> attributes) {
  using namespace sim;
  const double started = world().clock;
  std::vector<AttributeResult> results;
  Resolved r = resolve(*element);
  AXError overall = r.error;
  if (!overall && !roundTrip(*element, "axCopyMultiple")) overall = kAXCannotComplete;
  Value names = Value::array();
  for (std::string_view attribute : attributes) {
    names.push(std::string(attribute));
    if (overall) {
      results.push_back(failure(overall));
    } else if (element->target == ElementObject::Target::system) {
      results.push_back(copySystem(attribute));
    } else if (!r.node) {
      results.push_back(copyApp(*r.app, attribute));
    } else {
      results.push_back(copyNode(*r.app, *r.node, attribute));
    }
  }
  world().log.push_back(LogEntry{started, "axCopyMultiple",
                                 Value::object({{"element", logName(*element)},
                                                {"attributes", std::move(names)},
                                                {"error", overall}})});
  return results;
}

SettableResult isAttributeSettable(ElementRef element, std::string_view attribute) noexcept {
  using namespace sim;
  const double started = world().clock;
  SettableResult result;
  Resolved r = resolve(*element);
  if (r.error) {
    result.error = r.error;
  } else if (!roundTrip(*element, "axSettable")) {
    result.error = kAXCannotComplete;
  } else if (r.node) {
    Node& n = *r.node;
    if (auto it = n.settableErrors.find(std::string(attribute)); it != n.settableErrors.end()) {
      result.error = it->second;
    } else {
      result.error = kAXSuccess;
      if (attribute == "AXValue") result.settable = n.valueSettable && !n.value.isUndefined();
      else if (attribute == "AXSelectedTextRange") result.settable = n.rangeKind != Node::Range::unsupported;
      else if (attribute == "AXFocused") result.settable = true;
    }
  } else {
    result.error = kAXSuccess;  // applications and the system-wide element: nothing settable
  }
  world().log.push_back(LogEntry{started, "axSettable",
                                 Value::object({{"element", logName(*element)},
                                                {"attribute", std::string(attribute)},
                                                {"error", result.error},
                                                {"settable", result.settable}})});
  return result;
}

AXError setStringAttribute(ElementRef element, std::string_view attribute, std::string_view value) noexcept {
  // Text that is not UTF-8 has no string to send; the macOS layer refuses it
  // before asking the application.
  if (!unicode::isWellFormedUtf8(value)) {
    sim::log("axSet", sim::Value::object({{"element", sim::logName(*element)},
                                           {"attribute", std::string(attribute)},
                                           {"value", sim::Value(unicode::toWellFormedUtf8(std::string(value)))},
                                           {"error", kAXIllegalArgument}}));
    return kAXIllegalArgument;
  }
  return sim::setAttribute(element, attribute, sim::Value(std::string(value)));
}

AXError setBoolAttribute(ElementRef element, std::string_view attribute, bool value) noexcept {
  return sim::setAttribute(element, attribute, sim::Value(value));
}

AXError setRangeAttribute(ElementRef element, std::string_view attribute, TextRange value) noexcept {
  return sim::setAttribute(element, attribute, sim::rangeValue(value));
}

bool sameElement(ElementRef a, ElementRef b) noexcept {
  if (a == b) return true;
  if (!a || !b) return false;
  return a->target == b->target && a->pid == b->pid && a->key == b->key;
}

std::optional<RunningApplication> runningApplication(int32_t pid) {
  sim::log("appByPid", sim::Value::object({{"pid", pid}}));
  return sim::record(sim::desk().app(pid));
}

std::optional<RunningApplication> frontmostApplication() {
  sim::log("frontmost");
  sim::settlePendingFrontmost();
  const auto& d = sim::desk();
  return d.frontmost ? sim::record(d.app(*d.frontmost)) : std::nullopt;
}

void activateApplication(int32_t pid, uint32_t options) noexcept {
  sim::log("activate", sim::Value::object({{"pid", pid}, {"options", options}}));
  auto& d = sim::desk();
  d.activations.push(sim::Value::object({{"pid", pid}, {"options", options}}));
  sim::App* target = d.app(pid);
  if (!target || !target->running) return;
  for (auto& app : d.apps) app->active = app.get() == target;
  d.frontmost = pid;
}

}  // namespace platform
