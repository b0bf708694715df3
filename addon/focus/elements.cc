#include "focus/ax_calls.h"
#include "focus/elements.h"

namespace pelmora {

using platform::ValueKind;

std::string readableString(platform::AttributeResult& r) {
  return r.ok() && r.kind == ValueKind::string ? std::move(r.string) : std::string();
}

std::string axStringAttribute(platform::ElementRef element, std::string_view attribute) {
  platform::AttributeResult r = ax::copy(element, attribute);
  return readableString(r);
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
  // One round trip per level: the element's DOM identifier comes with its
  // role and parent.
  static constexpr std::string_view kFirst[] = {"AXDOMIdentifier", "AXRole", "AXParent"};
  static constexpr std::string_view kLevel[] = {"AXRole", "AXParent"};
  auto results = ax::copyMany(element, kFirst);
  if (results[0].ok()) return true;
  platform::AttributeResult* role = &results[1];
  platform::AttributeResult* parent = &results[2];
  constexpr int kLevels = 20;  // the element and its 19 nearest ancestors
  for (int examined = 1;; ++examined) {
    if (readableString(*role) == "AXWebArea") return true;
    if (examined == kLevels) return false;
    if (!parent->ok() || parent->kind != ValueKind::element) return false;
    platform::Element current = std::move(parent->element);
    results = ax::copyMany(current.get(), kLevel);
    role = &results[0];
    parent = &results[1];
  }
}

}  // namespace pelmora
