#import <Foundation/Foundation.h>

#include "platform/platform.h"
#include "platform/posix/clock.h"

namespace platform {

// Every time the logic reads is a duration (a budget, a pause's end, a
// target's age), so it comes from a clock no one sets: the wall clock
// (CFAbsoluteTimeGetCurrent) jumps when the user or the network sets the
// time. Darwin's CLOCK_MONOTONIC keeps counting while the Mac sleeps, so a
// target captured before a night's sleep is as old as it looks.
double now() noexcept { return posix::clockSeconds(CLOCK_MONOTONIC); }

void sleepFor(double seconds) noexcept {
  if (!(seconds > 0)) return;
  [NSThread sleepForTimeInterval:seconds];
}

}  // namespace platform
