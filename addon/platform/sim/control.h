// The control module's native half: the simulated desktop's test API as a
// table of functions over sim::Value arguments, and its bridge to JavaScript.
#pragma once

#include <node_api.h>

#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "platform/prefs.h"
#include "platform/sim/value.h"

namespace sim {

using ControlFunction = Value (*)(const std::vector<Value>& args);

struct ControlEntry {
  const char* name;  // dotted path: "keyboard.post"
  ControlFunction function;
};

// Thrown by a control function on arguments it cannot use; becomes a
// JavaScript TypeError.
struct ControlError {
  std::string message;
};

// Argument helpers for control functions.
inline const Value& arg(const std::vector<Value>& args, size_t i) {
  static const Value kUndefined;
  return i < args.size() ? args[i] : kUndefined;
}

inline double requireNumber(const Value& v, const char* what) {
  if (!v.isNumber() || !std::isfinite(v.number)) throw ControlError{std::string(what) + " must be a finite number"};
  return v.number;
}

inline bool requireBool(const Value& v, const char* what) {
  if (!v.isBool()) throw ControlError{std::string(what) + " must be a boolean"};
  return v.boolean;
}

// The sections' tables.
std::span<const ControlEntry> worldControl();
std::span<const ControlEntry> keyboardControl();
std::span<const ControlEntry> hidControl();
std::span<const ControlEntry> prefsControl();

// A property-list value as tests write it (see docs/simulation.md).
platform::PrefValue prefValueFrom(const Value& value);

Value fromJs(napi_env env, napi_value value);
napi_value toJs(napi_env env, const Value& value);

// A flat object of functions, keyed by their dotted names.
napi_value makeControlObject(napi_env env);

}  // namespace sim
