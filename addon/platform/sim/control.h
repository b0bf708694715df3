// The control module's native half: the simulated desktop's test API as a
// table of functions over sim::Value arguments, and its bridge to JavaScript.
#pragma once

#include <node_api.h>

#include <span>
#include <string>
#include <vector>

#include "platform/sim/control_args.h"
#include "platform/prefs.h"
#include "platform/sim/value.h"

namespace sim {

using ControlFunction = Value (*)(const std::vector<Value>& args);

struct ControlEntry {
  const char* name;  // dotted path: "keyboard.post"
  ControlFunction function;
};

// The sections' tables.
std::span<const ControlEntry> worldControl();
std::span<const ControlEntry> keyboardControl();
std::span<const ControlEntry> axControl();
std::span<const ControlEntry> hidControl();
std::span<const ControlEntry> prefsControl();

// A property-list value as tests write it (see docs/simulation.md).
platform::PrefValue prefValueFrom(const Value& value);

Value fromJs(napi_env env, napi_value value);
napi_value toJs(napi_env env, const Value& value);

// A flat object of functions, keyed by their dotted names.
napi_value makeControlObject(napi_env env);

}  // namespace sim
