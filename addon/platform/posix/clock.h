// Seconds on one of the system's clocks, as the platform layers read time.
#pragma once

#include <time.h>

namespace platform::posix {

inline double clockSeconds(clockid_t clock) noexcept {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace platform::posix
