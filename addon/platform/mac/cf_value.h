// Property-list objects of CoreFoundation as the seam's value tree; shared by
// the preference reads and the HID device properties.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string_view>
#include <type_traits>

#include "platform/handle.h"
#include "platform/prefs.h"

namespace platform {

// An owned CoreFoundation reference; CF's own pointer types name a const
// struct, which the handle takes as it is (CFStringRef is const __CFString*).
template <class CFRef>
using CFHandle = Handle<std::remove_pointer_t<CFRef>>;

// The value tree of a borrowed object (absent for null).
PrefValue valueFromCF(CFTypeRef object);

// A CFString of UTF-8 text (empty handle when the text is not UTF-8).
CFHandle<CFStringRef> cfStringFromUtf8(std::string_view text);

}  // namespace platform
