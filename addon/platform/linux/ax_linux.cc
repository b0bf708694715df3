// The seam's Accessibility vocabulary over AT-SPI: attributes by their macOS
// names, answered from the AT-SPI interfaces (Accessible, Collection, Text,
// EditableText, Component, Value) of the session's accessibility bus.
#include <unistd.h>

#include <atomic>
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

// An interface of the object; kAXAttributeUnsupported when it has none, or
// kAXCannotComplete when asking which it has ran into the timeout.
template <class Iface>
Iface* interfaceOf(Iface* (*get)(AtspiAccessible*), AtspiAccessible* object, AXError& error) {
  const double asked = lx::monotonicNow();
  Iface* iface = get(object);
  if (!iface) error = lx::ranIntoTimeout(asked) ? kAXCannotComplete : kAXAttributeUnsupported;
  return iface;
}

// The first descendant that has the focus: one Collection query where the
// toolkit offers it (GTK 3, Chromium), else a walk of the visible tree within
// a bound (GTK 4, Qt).
constexpr int kFocusWalkLimit = 400;

// kAXAttributeUnsupported when the object offers no Collection.
Element focusedByCollection(const Api& a, AtspiAccessible* root, AXError& error) {
  AtspiCollection* collection = interfaceOf(a.atspi_accessible_get_collection_iface, root, error);
  if (!collection) return {};
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

Element focusedWithin(const Api& a, AtspiAccessible* root, AXError& error) {
  Element found = focusedByCollection(a, root, error);
  if (error != kAXAttributeUnsupported) return found;
  error = kAXSuccess;
  std::deque<Element> queue;
  queue.push_back(lx::adoptAccessible(static_cast<AtspiAccessible*>((a.g_object_ref)(root))));
  for (int examined = 0; !queue.empty() && examined < kFocusWalkLimit; ++examined) {
    Element node = std::move(queue.front());
    queue.pop_front();
    AtspiAccessible* object = node.get()->accessible;
    AXError e = kAXSuccess;
    const auto states = statesOf(a, object, e);
    // A silent application ends the walk; an object that went away is passed.
    if (!states && e == kAXCannotComplete) {
      error = e;
      return {};
    }
    if (!states) continue;
    if (has(*states, ATSPI_STATE_FOCUSED) && object != root) return node;
    // Hidden parts of the window (other pages of a stack) hold no focus.
    if (!has(*states, ATSPI_STATE_VISIBLE) && object != root) continue;
    AttributeResult children = childrenOf(a, object);
    if (children.error == kAXCannotComplete) {
      error = kAXCannotComplete;
      return {};
    }
    for (Element& child : children.elements) queue.push_back(std::move(child));
  }
  return {};
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

// The whole text: GetText(0, -1), as AT-SPI means it. GTK 4.8's GtkText
// clamps that end to 0 and answers nothing, so an empty answer from a text
// that has characters is asked again up to its length. An end past the
// length is no way round: Chromium 156 drops its window on one.
std::optional<std::string> textOf(const Api& a, ElementObject& element, AXError& error) {
  AtspiText* text = interfaceOf(a.atspi_accessible_get_text_iface, element.accessible, error);
  if (!text) return std::nullopt;
  GError* e = nullptr;
  const double started = lx::monotonicNow();
  std::string value = adoptString(a, a.atspi_text_get_text(text, 0, -1, &e));
  if (!e && value.empty()) {
    const int count = a.atspi_text_get_character_count(text, &e);
    if (!e && count > 0) value = adoptString(a, a.atspi_text_get_text(text, 0, count, &e));
  }
  a.g_object_unref(text);
  if (e) {
    error = lx::takeError(e, started);
    return std::nullopt;
  }
  element.lastText = value;
  return value;
}

// The selection, else the insertion point, in the toolkit's offsets.
struct CharRange {
  int start = 0;
  int end = 0;
};

// Qt 5 counts its texts' offsets in UTF-16 units, as the logic does; GTK and
// Chromium count code points, as AT-SPI says. The toolkit's name is asked
// once per application (libatspi keeps it).
bool offsetsInUtf16(const Api& a, AtspiAccessible* object) {
  // Asked of the application's root: Qt answers it there only.
  AtspiAccessible* root = object->parent.app && object->parent.app->root ? object->parent.app->root : object;
  GError* e = nullptr;
  gchar* toolkit = a.atspi_accessible_get_toolkit_name(root, &e);
  const bool qt = !lx::failed(e) && toolkit && std::string_view(toolkit).starts_with("Qt");
  a.g_free(toolkit);
  return qt;
}

std::optional<int64_t> unitsBefore(std::string_view text, int64_t offset, bool utf16) {
  if (!utf16) return unicode::utf16UnitsBeforeCodePoint(text, offset);
  if (offset < 0 || !unicode::codePointsBeforeUtf16Unit(text, offset)) return std::nullopt;
  return offset;
}

std::optional<int64_t> offsetOf(std::string_view text, int64_t units, bool utf16) {
  const auto codePoints = unicode::codePointsBeforeUtf16Unit(text, units);
  if (!codePoints) return std::nullopt;
  return utf16 ? units : *codePoints;
}

AttributeResult rangeResult(const std::string& text, CharRange chars, bool utf16) {
  const auto start = unitsBefore(text, std::min(chars.start, chars.end), utf16);
  const auto end = unitsBefore(text, std::max(chars.start, chars.end), utf16);
  // An offset past the text stands for a range the text cannot hold.
  if (!start || !end) return success(ValueKind::otherAXValue);
  AttributeResult r = success(ValueKind::range);
  r.range = {*start, *end - *start};
  return r;
}

// AXSelectedTextRange in UTF-16 units, or AXSelectedText: the text it spans.
AttributeResult rangeOrSelectedText(const std::string& text, CharRange chars, bool utf16, std::string_view attribute) {
  AttributeResult range = rangeResult(text, chars, utf16);
  if (attribute == "AXSelectedTextRange") return range;
  if (range.kind != ValueKind::range) return failure(kAXFailure);
  const auto units = unicode::utf16FromUtf8(text);
  if (!units) return failure(kAXFailure);
  return stringResult(unicode::utf8FromUtf16(
      std::span(*units).subspan(static_cast<size_t>(range.range.location), static_cast<size_t>(range.range.length))));
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

// ---- A text's value and selection, read together -------------------------

struct TextState {
  AXError error = kAXSuccess;  // of the whole batch
  std::string text;
  std::optional<CharRange> chars;  // the selection, else the caret
  bool utf16 = false;
};

bool isTextAttribute(std::string_view attribute) {
  return attribute == "AXValue" || attribute == "AXSelectedTextRange" || attribute == "AXSelectedText";
}

bool wantsTextState(std::span<const std::string_view> attributes) {
  size_t count = 0;
  for (std::string_view attribute : attributes) count += isTextAttribute(attribute);
  return count >= 2;
}

std::atomic<uint64_t> gBatches = 0;

// Sends the calls one after the other without waiting, then takes the
// replies in order: five questions, one wait for the application.
struct Batch {
  const Api& a;
  AtspiAccessible* object;
  std::vector<DBusPendingCall*> pending;

  void call(DBusMessage* message) {
    DBusPendingCall* call = nullptr;
    if (message && a.dbus_connection_send_with_reply(object->parent.app->bus, message, &call,
                                                     static_cast<int>(lx::kCallTimeout * 1000)))
      pending.push_back(call);
    else
      pending.push_back(nullptr);
    if (message) a.dbus_message_unref(message);
  }
  DBusMessage* message(const char* interface, const char* method) {
    return a.dbus_message_new_method_call(object->parent.app->bus_name, object->parent.path, interface, method);
  }
  // A property of the object's Text interface.
  void getProperty(const char* name) {
    DBusMessage* get = message(DBUS_INTERFACE_PROPERTIES, "Get");
    const char* textInterface = ATSPI_DBUS_INTERFACE_TEXT;
    if (get) a.dbus_message_append_args(get, DBUS_TYPE_STRING, &textInterface, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    call(get);
  }
  // The integer a property's reply holds (the i-th call).
  std::optional<dbus_int32_t> intProperty(size_t i) {
    DBusMessage* r = reply(i);
    if (!r) return std::nullopt;
    DBusMessageIter iter, variant;
    std::optional<dbus_int32_t> value;
    if (a.dbus_message_iter_init(r, &iter) && a.dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT) {
      a.dbus_message_iter_recurse(&iter, &variant);
      dbus_int32_t v = 0;
      if (a.dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_INT32) {
        a.dbus_message_iter_get_basic(&variant, &v);
        value = v;
      }
    }
    a.dbus_message_unref(r);
    return value;
  }
  // The reply of the i-th call, or null for an error or no reply.
  DBusMessage* reply(size_t i) {
    DBusPendingCall* call = pending[i];
    if (!call) return nullptr;
    a.dbus_pending_call_block(call);
    DBusMessage* r = a.dbus_pending_call_steal_reply(call);
    a.dbus_pending_call_unref(call);
    pending[i] = nullptr;
    if (r && a.dbus_message_get_type(r) == DBUS_MESSAGE_TYPE_METHOD_RETURN) return r;
    if (r) a.dbus_message_unref(r);
    return nullptr;
  }
  ~Batch() {
    for (DBusPendingCall* call : pending)
      if (call) {
        a.dbus_pending_call_block(call);
        a.dbus_pending_call_unref(call);
      }
  }
};

TextState textStateOf(const Api& a, ElementObject& element) {
  TextState state;
  AtspiAccessible* object = element.accessible;
  AtspiText* iface = interfaceOf(a.atspi_accessible_get_text_iface, object, state.error);
  if (!iface) return state;
  a.g_object_unref(iface);
  if (!object->parent.app || !object->parent.app->bus || !object->parent.app->bus_name || !object->parent.path) {
    state.error = kAXInvalidElement;
    return state;
  }
  state.utf16 = offsetsInUtf16(a, object);
  const double started = lx::monotonicNow();
  ++gBatches;
  Batch batch{a, object, {}};
  const dbus_int32_t zero = 0, whole = -1;
  DBusMessage* getText = batch.message(ATSPI_DBUS_INTERFACE_TEXT, "GetText");
  if (getText) a.dbus_message_append_args(getText, DBUS_TYPE_INT32, &zero, DBUS_TYPE_INT32, &whole, DBUS_TYPE_INVALID);
  batch.call(getText);
  batch.call(batch.message(ATSPI_DBUS_INTERFACE_TEXT, "GetNSelections"));
  DBusMessage* getSelection = batch.message(ATSPI_DBUS_INTERFACE_TEXT, "GetSelection");
  if (getSelection) a.dbus_message_append_args(getSelection, DBUS_TYPE_INT32, &zero, DBUS_TYPE_INVALID);
  batch.call(getSelection);
  batch.getProperty("CaretOffset");
  batch.getProperty("CharacterCount");

  DBusMessage* r = batch.reply(0);
  const char* value = nullptr;
  if (!r || !a.dbus_message_get_args(r, nullptr, DBUS_TYPE_STRING, &value, DBUS_TYPE_INVALID) || !value) {
    if (r) a.dbus_message_unref(r);
    state.error = lx::ranIntoTimeout(started) ? kAXCannotComplete : kAXFailure;
    return state;
  }
  state.text = value;
  a.dbus_message_unref(r);
  // GTK 4.8 answers an end of -1 with nothing (see textOf).
  if (state.text.empty() && batch.intProperty(4).value_or(0) > 0) {
    AXError again = kAXSuccess;
    if (auto text = textOf(a, element, again)) state.text = std::move(*text);
  }
  element.lastText = state.text;

  dbus_int32_t selections = 0, start = 0, end = 0;
  if ((r = batch.reply(1))) {
    a.dbus_message_get_args(r, nullptr, DBUS_TYPE_INT32, &selections, DBUS_TYPE_INVALID);
    a.dbus_message_unref(r);
  }
  // A toolkit without a selection may answer its index with an error.
  if ((r = batch.reply(2))) {
    if (selections > 0 &&
        a.dbus_message_get_args(r, nullptr, DBUS_TYPE_INT32, &start, DBUS_TYPE_INT32, &end, DBUS_TYPE_INVALID) &&
        start != end)
      state.chars = CharRange{start, end};
    a.dbus_message_unref(r);
  }
  const auto caret = batch.intProperty(3);
  if (!state.chars && caret && *caret >= 0) state.chars = CharRange{*caret, *caret};
  if (!state.chars) state.error = lx::ranIntoTimeout(started) ? kAXCannotComplete : kAXSuccess;
  return state;
}

AttributeResult fromTextState(const TextState& state, std::string_view attribute) {
  if (attribute == "AXValue") return state.error && state.text.empty() ? failure(state.error) : stringResult(state.text);
  if (!state.chars) return failure(state.error ? state.error : kAXFailure);
  return rangeOrSelectedText(state.text, *state.chars, state.utf16, attribute);
}

AttributeResult copyOne(const Api& a, ElementObject& element, std::string_view attribute) {
  AtspiAccessible* object = element.accessible;
  AXError error = kAXSuccess;
  if (attribute == "AXFocusedUIElement") {
    // Only the focus widget of an active window has the focused state, so
    // an application that offers Collection is asked at its root, in one
    // round trip; one that does not is walked from its active window.
    if (element.application) {
      Element focused = focusedByCollection(a, object, error);
      if (error != kAXAttributeUnsupported) return error ? failure(error) : elementResult(std::move(focused));
      error = kAXSuccess;
    }
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
    if (!element.roleName) {
      const Role role = roleOf(a, object);
      if (role.error) return failure(role.error);
      element.roleName.emplace(role.name.role, role.name.subrole);
    }
    const auto& [role, subrole] = *element.roleName;
    if (attribute == "AXRole") return stringResult(std::string(role));
    return subrole.empty() ? failure(kAXAttributeUnsupported) : stringResult(std::string(subrole));
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
  if (attribute == "AXSelectedTextRange" || attribute == "AXSelectedText")
    return fromTextState(textStateOf(a, element), attribute);
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

// The library, when the element can be asked; else null, and `error` says
// why: no library, no element, or one of the host's own.
const Api* askable(ElementRef element, AXError& error) {
  const Api* a = lx::api();
  error = !a ? kAXAPIDisabled : !element ? kAXIllegalArgument : ownProcess(*element) ? kAXCannotComplete : kAXSuccess;
  return error == kAXSuccess ? a : nullptr;
}

}  // namespace

namespace lx {
uint64_t batchesSent() { return gBatches; }
}  // namespace lx

bool isProcessTrusted() noexcept { return lx::api() && lx::accessibilityEnabled(); }

Element applicationElement(int32_t pid) noexcept { return lx::applicationOfProcess(pid); }

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
  AXError error = kAXSuccess;
  const Api* a = askable(element, error);
  return a ? copyOne(*a, *element, attribute) : failure(error);
}

std::vector<AttributeResult> copyAttributes(ElementRef element, std::span<const std::string_view> attributes) {
  std::vector<AttributeResult> results;
  results.reserve(attributes.size());
  // The text's value and selection come from one batch of calls: sent
  // together, answered in one round trip.
  AXError error = kAXSuccess;
  const Api* a = askable(element, error);
  std::optional<TextState> text;
  if (a && wantsTextState(attributes)) text = textStateOf(*a, *element);
  for (std::string_view attribute : attributes) {
    AttributeResult r = !a                                   ? failure(error)
                        : text && isTextAttribute(attribute) ? fromTextState(*text, attribute)
                                                             : copyOne(*a, *element, attribute);
    // As on macOS, an attribute without a value is an error here.
    if (r.ok() && r.kind == ValueKind::none) r = failure(kAXNoValue);
    results.push_back(std::move(r));
  }
  return results;
}

SettableResult isAttributeSettable(ElementRef element, std::string_view attribute) noexcept {
  AXError error = kAXSuccess;
  const Api* a = askable(element, error);
  if (!a) return {error, false};
  AtspiAccessible* object = element->accessible;
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
  AXError error = kAXSuccess;
  const Api* a = askable(element, error);
  if (!a) return error;
  if (attribute != "AXValue") return kAXAttributeUnsupported;
  // D-Bus strings are UTF-8 without U+0000: text that is not cannot be sent,
  // and a C string would end at the first zero and write the rest away.
  if (value.find('\0') != std::string_view::npos || !unicode::utf16FromUtf8(value)) return kAXIllegalArgument;
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
  AXError error = kAXSuccess;
  const Api* a = askable(element, error);
  if (!a) return error;
  if (attribute != "AXFocused" || !value) return kAXAttributeUnsupported;
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
  AXError error = kAXSuccess;
  const Api* a = askable(element, error);
  if (!a) return error;
  if (attribute != "AXSelectedTextRange") return kAXAttributeUnsupported;
  std::optional<std::string> text = element->lastText;
  if (!text) text = textOf(*a, *element, error);
  if (!text) return error;
  const bool utf16 = offsetsInUtf16(*a, element->accessible);
  const auto start = offsetOf(*text, value.location, utf16);
  const auto end = offsetOf(*text, value.location + value.length, utf16);
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
