#include "focus/ax_calls.h"
#include "focus/editable_search.h"

#include <deque>

#include "focus/elements.h"
#include "focus/tables.h"
#include "frame/elapsed.h"

namespace pelmora {

using platform::Element;
using platform::ValueKind;

namespace {

bool valueSettable(platform::ElementRef element) {
  platform::SettableResult r = ax::settable(element, "AXValue");
  return r.error == platform::kAXSuccess && r.settable;
}

}  // namespace

Element searchEditableElement(platform::ElementRef root) {
  const double start = platform::now();
  std::deque<Element> queue;
  queue.push_back(Element::retain(root));
  Element fallback;
  int examined = 0;
  while (!queue.empty()) {
    // Exactly the budget still goes on.
    if (elapsedSeconds(start, platform::now()) * 1000 > kSearchBudgetMilliseconds) break;
    if (examined >= kSearchMaxElements) break;
    Element element = std::move(queue.front());
    queue.pop_front();

    // The role and the children in one round trip.
    static constexpr std::string_view kAttributes[] = {"AXRole", "AXChildren"};
    auto results = ax::copyMany(element.get(), kAttributes);
    if (contains(editableTextRoles, readableString(results[0]))) {
      if (valueSettable(element.get())) return element;
      if (!fallback) fallback = element.share();
    }
    platform::AttributeResult& children = results[1];
    if (children.ok() && children.kind == ValueKind::elementList) {
      const size_t take = std::min(children.elements.size(), kSearchMaxChildren);
      for (size_t i = 0; i < take; ++i) queue.push_back(std::move(children.elements[i]));
    }
    ++examined;
  }
  return fallback;
}

Element lockedEditableElement(platform::ElementRef element, platform::ElementRef application,
                              std::string_view bundleID) {
  const std::string role = axStringAttribute(element, "AXRole");
  if (contains(editableTextRoles, role) && (valueSettable(element) || isWebBasedElement(element)))
    return Element::retain(element);

  const bool container = role == "AXWindow" || role == "AXGroup" || role == "AXWebArea" || role == "AXScrollArea";
  const bool search = container || isWebBasedElement(element) || contains(chromeBundleIDs, bundleID) ||
                      isWebEditorBundle(bundleID) || bundleID.starts_with(kElectronBundlePrefix);
  if (!search) return Element::retain(element);

  if (Element found = searchEditableElement(element)) return found;
  Element window = focusedWindowElement(application);
  if (!window) return Element::retain(element);
  if (Element found = searchEditableElement(window.get())) return found;
  return Element::retain(element);
}

}  // namespace pelmora
