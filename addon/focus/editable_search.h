// Finding the element that dictated text should be written to.
#pragma once

#include <string_view>

#include "platform/platform.h"

namespace pelmora {

inline constexpr double kSearchBudgetMilliseconds = 150;
inline constexpr int kSearchMaxElements = 500;
inline constexpr size_t kSearchMaxChildren = 30;

// Breadth first from the root: the first editable element whose value can be
// set, else the first editable one seen, else empty. Bounded by time, by the
// number of elements examined and by the children taken per element.
platform::Element searchEditableElement(platform::ElementRef root);

// The element to lock the text onto: the focused element itself when it is
// an editable field (or any element of a native application), else what a
// search finds around it or in the focused window. Never empty for a
// non-null element.
platform::Element lockedEditableElement(platform::ElementRef element, platform::ElementRef application,
                                        std::string_view bundleID);

}  // namespace pelmora
