// Durations on the absolute-time clock.
#pragma once

#include <cmath>

namespace pelmora {

// Seconds from one clock reading to another, to the microsecond. A double
// holding an absolute time of about 7.5e8 s resolves little better than
// 0.1 us, so without the rounding a pause of exactly 150 ms or an age of
// exactly 600 s could read a hair longer or shorter than it is. NaN stays NaN.
inline double elapsedSeconds(double from, double to) { return std::round((to - from) * 1e6) / 1e6; }

}  // namespace pelmora
