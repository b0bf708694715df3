#import <Foundation/Foundation.h>

#include <cmath>

#include "platform/platform.h"

namespace platform {

double now() noexcept { return CFAbsoluteTimeGetCurrent(); }

void sleepFor(double seconds) noexcept {
  if (!(seconds > 0)) return;
  [NSThread sleepForTimeInterval:seconds];
}

}  // namespace platform
