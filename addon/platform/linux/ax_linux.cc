// The seam's Accessibility vocabulary over AT-SPI: attributes by their macOS
// names, answered from the AT-SPI interfaces (Accessible, Collection, Text,
// EditableText, Component, Value) of the session's accessibility bus.
#include <unistd.h>

#include <climits>
#include <deque>

#include "platform/linux/desktop_linux.h"
#include "platform/linux/roles_linux.h"
#include "unicode/utf16.h"

namespace platform {
namespace {

using lx::Api;

AttributeResult failure(AXError error) {
  AttributeResult r;
  r.error = error;
  return r;
}

AttributeResult success(ValueKind kind) {
  AttributeResult r;
  r.error = kAXSuccess;
  r.kind = kind;
  return r;
}

AttributeResult elementResult(Element element) {
  if (!element) return success(ValueKind::none);
  AttributeResult r = success(ValueKind::element);
  r.element = std::move(element);
  return r;
}

AttributeResult stringResult(std::string s) {
  AttributeResult r = success(ValueKind::string);
  r.string = std::move(s);
  return r;
}

// Takes over a string the library allocated.
std::string adoptString(const Api& a, gchar* s) {
  std::string out = s ? s : "";
  a.g_free(s);
  return out;
}

// The states of the object, or nothing when the call failed (the library
// then answers a set holding only the defunct state).
std::optional<uint64_t> statesOf(const Api& a, AtspiAccessible* object, AXError& error) {
  const double started = lx::monotonicNow();
  AtspiStateSet* set = a.atspi_accessible_get_state_set(object);
  if (!set) {
    error = lx::errorOfFailedCall(nullptr, started);
    return std::nullopt;
  }
  uint64_t bits = 0;
  for (int s = 0; s < ATSPI_STATE_LAST_DEFINED && s < 64; ++s)
    if (a.atspi_state_set_contains(set, static_cast<AtspiStateType>(s))) bits |= uint64_t{1} << s;
  a.g_object_unref(set);
  if (bits & (uint64_t{1} << ATSPI_STATE_DEFUNCT)) {
    error = lx::errorOfFailedCall(nullptr, started);
    if (error == kAXFailure) error = kAXInvalidElement;
    return std::nullopt;
  }
  return bits;
}

bool has(uint64_t states, AtspiStateType state) { return (states >> state) & 1; }

// The first descendant that has the focus: one Collection query where the
// toolkit offers it (GTK 3, Chromium), else a walk of the visible tree within
// a bound (GTK 4, Qt).
constexpr int kFocusWalkLimit = 400;

Element focusedWithin(const Api& a, AtspiAccessible* root, AXError& error) {
  const double asked = lx::monotonicNow();
  AtspiCollection* collection = a.atspi_accessible_get_collection_iface(root);
  if (!collection && lx::ranIntoTimeout(asked)) {
    error = kAXCannotComplete;
    return {};
  }
  if (collection) {
    GArray* wanted = a.g_array_new(FALSE, FALSE, sizeof(AtspiStateType));
    const AtspiStateType focused = ATSPI_STATE_FOCUSED;
    a.g_array_append_vals(wanted, &focused, 1);
    AtspiStateSet* states = a.atspi_state_set_new(wanted);
    a.g_array_free(wanted, TRUE);
    AtspiMatchRule* rule = a.atspi_match_rule_new(states, ATSPI_Collection_MATCH_ALL, nullptr,
                                                  ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE,
                                                  nullptr, ATSPI_Collection_MATCH_NONE, FALSE);
    GError* e = nullptr;
    const double started = lx::monotonicNow();
    GArray* found = a.atspi_collection_get_matches(collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, &e);
    a.g_object_unref(rule);
    a.g_object_unref(states);
    a.g_object_unref(collection);
    if (e || !found) {
      error = lx::takeError(e, started);
      if (found) a.g_array_free(found, TRUE);
      return {};
    }
    Element result;
    for (guint i = 0; i < found->len; ++i) {
      auto* match = g_array_index(found, AtspiAccessible*, i);
      if (!result) result = lx::adoptAccessible(match);
      else a.g_object_unref(match);
    }
    a.g_array_free(found, TRUE);
    return result;
  }
  std::deque<AtspiAccessible*> queue{static_cast<AtspiAccessible*>((a.g_object_ref)(root))};
  Element result;
  for (int examined = 0; !queue.empty() && !result && examined < kFocusWalkLimit; ++examined) {
    AtspiAccessible* node = queue.front();
    queue.pop_front();
    AXError e = kAXSuccess;
    const auto states = statesOf(a, node, e);
    if (!states) {
      if (e == kAXCannotComplete) error = e;
      a.g_object_unref(node);
      if (error == kAXCannotComplete) break;
      continue;
    }
    if (has(*states, ATSPI_STATE_FOCUSED) && node != root) {
      result = lx::adoptAccessible(node);
      break;
    }
    // Hidden parts of the window (other pages of a stack) hold no focus.
    if (has(*states, ATSPI_STATE_VISIBLE) || node == root) {
      GError* ce = nullptr;
      const double counted = lx::monotonicNow();
      const int count = a.atspi_accessible_get_child_count(node, &ce);
      if ((ce || count < 0) && lx::takeError(ce, counted) == kAXCannotComplete) {
        error = kAXCannotComplete;
        a.g_object_unref(node);
        break;
      }
      for (int i = 0; i < count; ++i) {
        GError* ie = nullptr;
        const double fetched = lx::monotonicNow();
        AtspiAccessible* child = a.atspi_accessible_get_child_at_index(node, i, &ie);
        if (child) queue.push_back(child);
        else if (lx::takeError(ie, fetched) == kAXCannotComplete) error = kAXCannotComplete;
        if (error == kAXCannotComplete) break;
      }
      if (error == kAXCannotComplete) {
        a.g_object_unref(node);
        break;
      }
    }
    a.g_object_unref(node);
  }
  for (AtspiAccessible* left : queue) a.g_object_unref(left);
  return result;
}

// The object's role in the logic's vocabulary; the text roles need the
// states as well (multi-line, editable).
struct Role {
  AXError error = kAXSuccess;
  AtspiRole role = ATSPI_ROLE_INVALID;
  lx::RoleName name;
};

Role roleOf(const Api& a, AtspiAccessible* object) {
  Role r;
  GError* e = nullptr;
  const double started = lx::monotonicNow();
  r.role = a.atspi_accessible_get_role(object, &e);
  if (e || r.role == ATSPI_ROLE_INVALID) {
    r.error = lx::takeError(e, started);
    return r;
  }
  bool multiLine = false, editable = false;
  if (lx::roleNeedsStates(r.role)) {
    const auto states = statesOf(a, object, r.error);
    if (!states) return r;
    multiLine = has(*states, ATSPI_STATE_MULTI_LINE);
    editable = has(*states, ATSPI_STATE_EDITABLE);
  }
  r.name = lx::axRole(r.role, multiLine, editable);
  return r;
}

// The whole text. GTK 4.8's GtkText answers GetText(0, -1) with nothing, and
// every toolkit takes an end past the last character as the end.
// An interface of the object; kAXAttributeUnsupported when it has none, or
// kAXCannotComplete when asking which it has ran into the timeout.
template <class Iface>
Iface* interfaceOf(Iface* (*get)(AtspiAccessible*), AtspiAccessible* object, AXError& error) {
  const double asked = lx::monotonicNow();
  Iface* iface = get(object);
  if (!iface) error = lx::ranIntoTimeout(asked) ? kAXCannotComplete : kAXAttributeUnsupported;
  return iface;
}

std::optional<std::string> textOf(const Api& a, ElementObject& element, AXError& error) {
  AtspiText* text = interfaceOf(a.atspi_accessible_get_text_iface, element.accessible, error);
  if (!text) return std::nullopt;
  GError* e = nullptr;
  const double started = lx::monotonicNow();
  std::string value = adoptString(a, a.atspi_text_get_text(text, 0, INT_MAX, &e));
  a.g_object_unref(text);
  if (e) {
    error = lx::takeError(e, started);
    return std::nullopt;
  }
  element.lastText = value;
  return value;
}

// The selection, else the insertion point, in code points.
struct CharRange {
  int start = 0;
  int end = 0;
};

std::optional<CharRange> selectionOf(const Api& a, AtspiAccessible* object, AXError& error) {
  AtspiText* text = interfaceOf(a.atspi_accessible_get_text_iface, object, error);
  if (!text) return std::nullopt;
  GError* e = nullptr;
  const double started = lx::monotonicNow();
  std::optional<CharRange> result;
  const int selections = a.atspi_text_get_n_selections(text, &e);
  if (!e && selections > 0) {
    AtspiRange* range = a.atspi_text_get_selection(text, 0, &e);
    if (!e && range) result = CharRange{range->start_offset, range->end_offset};
    if (range) a.g_free(range);
    // A toolkit that has no selection after all may say so with an error.
    if (!result) lx::failed(e);
  }
  if (!e && (!result || result->start == result->end)) {
    const int caret = a.atspi_text_get_caret_offset(text, &e);
    if (!e && caret >= 0) result = CharRange{caret, caret};
    else result.reset();
  }
  a.g_object_unref(text);
  if (!result) error = lx::takeError(e, started);
  return result;
}

AttributeResult rangeResult(const std::string& text, CharRange chars) {
  const auto start = unicode::utf16UnitsBeforeCodePoint(text, std::min(chars.start, chars.end));
  const auto end = unicode::utf16UnitsBeforeCodePoint(text, std::max(chars.start, chars.end));
  // An offset past the text stands for a range the text cannot hold.
  if (!start || !end) return success(ValueKind::otherAXValue);
  AttributeResult r = success(ValueKind::range);
  r.range = {*start, *end - *start};
  return r;
}

AttributeResult childrenOf(const Api& a, AtspiAccessible* object) {
  GError* e = nullptr;
  const double started = lx::monotonicNow();
  const int count = a.atspi_accessible_get_child_count(object, &e);
  if (e || count < 0) return failure(lx::takeError(e, started));
  AttributeResult r = success(ValueKind::elementList);
  for (int i = 0; i < count; ++i) {
    GError* ie = nullptr;
    const double fetched = lx::monotonicNow();
    AtspiAccessible* child = a.atspi_accessible_get_child_at_index(object, i, &ie);
    if (child) r.elements.push_back(lx::adoptAccessible(child));
    // A child that left meanwhile is no failure; a silent application is.
    else if (const AXError error = lx::takeError(ie, fetched); error == kAXCannotComplete) return failure(error);
  }
  return r;
}

AttributeResult parentOf(const Api& a, AtspiAccessible* object) {
  GError* e = nullptr;
  const double started = lx::monotonicNow();
  AtspiAccessible* parent = a.atspi_accessible_get_parent(object, &e);
  if (e) {
    if (parent) a.g_object_unref(parent);
    return failure(lx::takeError(e, started));
  }
  if (!parent) return lx::ranIntoTimeout(started) ? failure(kAXCannotComplete) : success(ValueKind::none);
  // Above an application's root is the registry's desktop, which the logic
  // never needs: the root ends the chain, as an application does on macOS.
  const bool application = object->parent.app && parent == object->parent.app->root;
  if (!application && lx::busNameOf(parent) != lx::busNameOf(object)) {
    a.g_object_unref(parent);
    return success(ValueKind::none);
  }
  return elementResult(lx::adoptAccessible(parent, application));
}

AttributeResult copyOne(const Api& a, ElementObject& element, std::string_view attribute) {
  AtspiAccessible* object = element.accessible;
  AXError error = kAXSuccess;
  if (attribute == "AXFocusedUIElement") {
    Element window = element.application ? lx::activeWindowOf(object, error) : Element::retain(&element);
    if (!window) return error ? failure(error) : success(ValueKind::none);
    Element focused = focusedWithin(a, window.get()->accessible, error);
    if (error) return failure(error);
    return elementResult(std::move(focused));
  }
  if (attribute == "AXFocusedWindow" || attribute == "AXMainWindow") {
    if (!element.application) return failure(kAXAttributeUnsupported);
    Element window = lx::activeWindowOf(object, error);
    return error ? failure(error) : elementResult(std::move(window));
  }
  if (attribute == "AXRole" || attribute == "AXSubrole") {
    const Role role = roleOf(a, object);
    if (role.error) return failure(role.error);
    if (attribute == "AXRole") return stringResult(std::string(role.name.role));
    return role.name.subrole.empty() ? failure(kAXAttributeUnsupported) : stringResult(std::string(role.name.subrole));
  }
  if (attribute == "AXRoleDescription" || attribute == "AXTitle") {
    GError* e = nullptr;
    const double started = lx::monotonicNow();
    gchar* s = attribute == "AXTitle" ? a.atspi_accessible_get_name(object, &e)
                                      : a.atspi_accessible_get_localized_role_name(object, &e);
    if (e || (!s && lx::ranIntoTimeout(started))) {
      a.g_free(s);
      return failure(lx::takeError(e, started));
    }
    return stringResult(adoptString(a, s));
  }
  if (attribute == "AXValue") {
    if (auto text = textOf(a, element, error)) return stringResult(std::move(*text));
    if (error != kAXAttributeUnsupported) return failure(error);
    AtspiValue* value = interfaceOf(a.atspi_accessible_get_value_iface, object, error);
    if (!value) return failure(error);
    GError* e = nullptr;
    const double started = lx::monotonicNow();
    const double number = a.atspi_value_get_current_value(value, &e);
    a.g_object_unref(value);
    if (e) return failure(lx::takeError(e, started));
    AttributeResult r = success(ValueKind::number);
    r.number = number;
    return r;
  }
  if (attribute == "AXSelectedTextRange" || attribute == "AXSelectedText") {
    auto text = textOf(a, element, error);
    if (!text) return failure(error);
    auto chars = selectionOf(a, object, error);
    if (!chars) return failure(error);
    AttributeResult range = rangeResult(*text, *chars);
    if (attribute == "AXSelectedTextRange") return range;
    if (range.kind != ValueKind::range) return failure(kAXFailure);
    const auto units = unicode::utf16FromUtf8(*text);
    if (!units) return failure(kAXFailure);
    return stringResult(unicode::utf8FromUtf16(
        std::span(*units).subspan(static_cast<size_t>(range.range.location), static_cast<size_t>(range.range.length))));
  }
  if (attribute == "AXChildren") return childrenOf(a, object);
  if (attribute == "AXParent") return parentOf(a, object);
  if (attribute == "AXFocused") {
    const auto states = statesOf(a, object, error);
    if (!states) return failure(error);
    AttributeResult r = success(ValueKind::boolean);
    r.boolean = has(*states, ATSPI_STATE_FOCUSED);
    return r;
  }
  return failure(kAXAttributeUnsupported);
}

// The host's own windows answer from its main loop, which this very call
// holds: each query would only wait out the timeout.
bool ownProcess(ElementObject& element) { return lx::pidOfBusName(element.accessible) == getpid(); }

}  // namespace

bool isProcessTrusted() noexcept { return lx::api() && lx::accessibilityEnabled(); }

Element applicationElement(int32_t pid) noexcept {
  if (pid <= 0) return {};
  for (lx::Application& app : lx::applications())
    if (app.pid == pid) return std::move(app.root);
  return {};
}

int32_t elementPid(ElementRef element) noexcept { return element ? lx::pidOfBusName(element->accessible) : 0; }

// AT-SPI's timeout holds for every call of the process; it is set once to
// what the logic sets here for each reference (atspi_api.cc).
void setMessagingTimeout(ElementRef, double) noexcept {}

AttributeResult copySystemWideAttribute(std::string_view attribute) {
  if (attribute != "AXFocusedApplication") return failure(kAXAttributeUnsupported);
  if (!lx::api()) return failure(kAXAPIDisabled);
  Element front = lx::frontApplicationElement();
  return front ? elementResult(std::move(front)) : failure(kAXNoValue);
}

AttributeResult copyAttribute(ElementRef element, std::string_view attribute) {
  const Api* a = lx::api();
  if (!a) return failure(kAXAPIDisabled);
  if (!element) return failure(kAXIllegalArgument);
  if (ownProcess(*element)) return failure(kAXCannotComplete);
  return copyOne(*a, *element, attribute);
}

std::vector<AttributeResult> copyAttributes(ElementRef element, std::span<const std::string_view> attributes) {
  std::vector<AttributeResult> results;
  results.reserve(attributes.size());
  for (std::string_view attribute : attributes) {
    AttributeResult r = copyAttribute(element, attribute);
    // As on macOS, an attribute without a value is an error here.
    if (r.ok() && r.kind == ValueKind::none) r = failure(kAXNoValue);
    results.push_back(std::move(r));
  }
  return results;
}

SettableResult isAttributeSettable(ElementRef element, std::string_view attribute) noexcept {
  const Api* a = lx::api();
  if (!a) return {kAXAPIDisabled, false};
  if (!element) return {kAXIllegalArgument, false};
  if (ownProcess(*element)) return {kAXCannotComplete, false};
  AtspiAccessible* object = element->accessible;
  AXError error = kAXSuccess;
  if (attribute == "AXValue") {
    AtspiEditableText* editable = interfaceOf(a->atspi_accessible_get_editable_text_iface, object, error);
    if (!editable) return {error == kAXCannotComplete ? error : kAXSuccess, false};
    a->g_object_unref(editable);
    const auto states = statesOf(*a, object, error);
    if (!states) return {error, false};
    return {kAXSuccess, has(*states, ATSPI_STATE_EDITABLE)};
  }
  if (attribute == "AXSelectedTextRange") {
    AtspiText* text = interfaceOf(a->atspi_accessible_get_text_iface, object, error);
    if (text) a->g_object_unref(text);
    return {error == kAXCannotComplete ? error : kAXSuccess, text != nullptr};
  }
  if (attribute == "AXFocused") {
    AtspiComponent* component = interfaceOf(a->atspi_accessible_get_component_iface, object, error);
    if (component) a->g_object_unref(component);
    return {error == kAXCannotComplete ? error : kAXSuccess, component != nullptr};
  }
  return {kAXSuccess, false};
}

AXError setStringAttribute(ElementRef element, std::string_view attribute, std::string_view value) noexcept {
  const Api* a = lx::api();
  if (!a) return kAXAPIDisabled;
  if (!element) return kAXIllegalArgument;
  if (ownProcess(*element)) return kAXCannotComplete;
  if (attribute != "AXValue") return kAXAttributeUnsupported;
  // D-Bus strings are UTF-8 without U+0000: text that is not cannot be sent,
  // and a C string would end at the first zero and write the rest away.
  if (value.find('\0') != std::string_view::npos || !unicode::utf16FromUtf8(value)) return kAXIllegalArgument;
  AXError error = kAXSuccess;
  AtspiEditableText* editable = interfaceOf(a->atspi_accessible_get_editable_text_iface, element->accessible, error);
  if (!editable) return error;
  GError* e = nullptr;
  const double started = lx::monotonicNow();
  const std::string text(value);
  const gboolean done = a->atspi_editable_text_set_text_contents(editable, text.c_str(), &e);
  a->g_object_unref(editable);
  if (e) return lx::takeError(e, started);
  element->lastText.reset();
  return done ? kAXSuccess : kAXFailure;
}

AXError setBoolAttribute(ElementRef element, std::string_view attribute, bool value) noexcept {
  const Api* a = lx::api();
  if (!a) return kAXAPIDisabled;
  if (!element) return kAXIllegalArgument;
  if (ownProcess(*element)) return kAXCannotComplete;
  if (attribute != "AXFocused" || !value) return kAXAttributeUnsupported;
  AXError error = kAXSuccess;
  AtspiComponent* component = interfaceOf(a->atspi_accessible_get_component_iface, element->accessible, error);
  if (!component) return error;
  GError* e = nullptr;
  const double started = lx::monotonicNow();
  const gboolean done = a->atspi_component_grab_focus(component, &e);
  a->g_object_unref(component);
  if (e) return lx::takeError(e, started);
  return done ? kAXSuccess : kAXFailure;
}

// The offsets come in UTF-16 units, AT-SPI takes code points: they are
// converted against the text this reference read last (the logic reads it
// just before), else against the text as it is now.
AXError setRangeAttribute(ElementRef element, std::string_view attribute, TextRange value) noexcept {
  const Api* a = lx::api();
  if (!a) return kAXAPIDisabled;
  if (!element) return kAXIllegalArgument;
  if (ownProcess(*element)) return kAXCannotComplete;
  if (attribute != "AXSelectedTextRange") return kAXAttributeUnsupported;
  AXError error = kAXSuccess;
  std::optional<std::string> text = element->lastText;
  if (!text) text = textOf(*a, *element, error);
  if (!text) return error;
  const auto start = unicode::codePointsBeforeUtf16Unit(*text, value.location);
  const auto end = unicode::codePointsBeforeUtf16Unit(*text, value.location + value.length);
  if (!start || !end) return kAXIllegalArgument;
  AtspiText* iface = interfaceOf(a->atspi_accessible_get_text_iface, element->accessible, error);
  if (!iface) return error;
  GError* e = nullptr;
  const double started = lx::monotonicNow();
  gboolean done = FALSE;
  if (*start == *end) {
    done = a->atspi_text_set_caret_offset(iface, static_cast<gint>(*start), &e);
  } else {
    done = a->atspi_text_set_selection(iface, 0, static_cast<gint>(*start), static_cast<gint>(*end), &e);
    if (!e && !done) done = a->atspi_text_add_selection(iface, static_cast<gint>(*start), static_cast<gint>(*end), &e);
  }
  a->g_object_unref(iface);
  if (e) return lx::takeError(e, started);
  return done ? kAXSuccess : kAXFailure;
}

bool sameElement(ElementRef a, ElementRef b) noexcept {
  if (a == b) return true;
  if (!a || !b) return false;
  if (a->accessible == b->accessible) return true;
  return lx::busNameOf(a->accessible) == lx::busNameOf(b->accessible) && a->accessible->parent.path &&
         b->accessible->parent.path && std::string_view(a->accessible->parent.path) == b->accessible->parent.path;
}

}  // namespace platform
