// Argument checks shared by the control functions and the descriptions of
// the simulated desktop that tests hand in.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "platform/sim/value.h"

namespace sim {

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

}  // namespace sim
