// Every object the macOS layer hands out behind a handle is a CoreFoundation
// object, so one pair of functions serves them all.
#include <CoreFoundation/CoreFoundation.h>

#include "platform/platform.h"

namespace platform {

void retainObject(const void* ref) noexcept { CFRetain(static_cast<CFTypeRef>(ref)); }

void releaseObject(const void* ref) noexcept { CFRelease(static_cast<CFTypeRef>(ref)); }

}  // namespace platform
