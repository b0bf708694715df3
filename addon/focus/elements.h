// Readers of Accessibility elements shared by capture and insertion.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace pelmora {

// The attribute's value when it is a readable string, else "".
std::string axStringAttribute(platform::ElementRef element, std::string_view attribute);
std::string readableString(platform::AttributeResult& result);

// "AXValue" when it is a string: an empty field gives "", a non-text element
// gives nothing.
std::optional<std::string> getElementValue(platform::ElementRef element);

// The application's focused window, else its main window, else empty.
platform::Element focusedWindowElement(platform::ElementRef application);

// The element belongs to web content: it has a DOM identifier, or it or one of
// its 19 nearest ancestors is a web area.
bool isWebBasedElement(platform::ElementRef element);

}  // namespace pelmora
