// Conversion of a stored number to a fixed-width integer, the way the
// platform's number object converts one: a value outside the target range
// saturates to the nearest end, a floating-point value is truncated toward
// zero. The platform leaves NaN to the processor (x86-64 and arm64 disagree);
// here it gives 0, so every input has one answer on every machine.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace pelmora {

template <class Int>
inline Int saturatingCast(int64_t value) noexcept {
  static_assert(std::is_signed_v<Int> && sizeof(Int) <= sizeof(int64_t));
  constexpr int64_t low = std::numeric_limits<Int>::min();
  constexpr int64_t high = std::numeric_limits<Int>::max();
  return static_cast<Int>(value < low ? low : value > high ? high : value);
}

template <class Int>
inline Int saturatingCast(double value) noexcept {
  static_assert(std::is_signed_v<Int> && sizeof(Int) <= sizeof(int64_t));
  if (std::isnan(value)) return 0;
  // Both bounds are exact doubles: -2^(n-1) and 2^(n-1).
  constexpr double low = static_cast<double>(std::numeric_limits<Int>::min());
  constexpr double high = -low;
  if (value <= low) return std::numeric_limits<Int>::min();
  if (value >= high) return std::numeric_limits<Int>::max();
  return static_cast<Int>(value);  // in range: truncates toward zero
}

}  // namespace pelmora
