#include "focus/ax_calls.h"
#include "focus/elements.h"

namespace pelmora {

using platform::ValueKind;

std::string axStringAttribute(platform::ElementRef element, std::string_view attribute) {
  platform::AttributeResult r = ax::copy(element, attribute);
  return r.ok() && r.kind == ValueKind::string ? std::move(r.string) : std::string();
}

std::optional<std::string> getElementValue(platform::ElementRef element) {
  platform::AttributeResult r = ax::copy(element, "AXValue");
  if (r.ok() && r.kind == ValueKind::string) return std::move(r.string);
  return std::nullopt;
}

platform::Element focusedWindowElement(platform::ElementRef application) {
  for (std::string_view attribute : {"AXFocusedWindow", "AXMainWindow"}) {
    platform::AttributeResult r = ax::copy(application, attribute);
    if (r.ok() && r.kind == ValueKind::element) return std::move(r.element);
  }
  return {};
}

bool isWebBasedElement(platform::ElementRef element) {
  if (ax::copy(element, "AXDOMIdentifier").ok()) return true;
  platform::Element current = platform::Element::retain(element);
  constexpr int kLevels = 20;  // the element and its 19 nearest ancestors
  for (int examined = 1;; ++examined) {
    if (axStringAttribute(current.get(), "AXRole") == "AXWebArea") return true;
    if (examined == kLevels) return false;
    platform::AttributeResult parent = ax::copy(current.get(), "AXParent");
    if (!parent.ok() || parent.kind != ValueKind::element) return false;
    current = std::move(parent.element);
  }
}

}  // namespace pelmora
