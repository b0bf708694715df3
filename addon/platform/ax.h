// Accessibility: elements of other applications and their attributes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handle.h"

namespace platform {

struct ElementObject;  // an AXUIElementRef on macOS
using Element = Handle<ElementObject>;
using ElementRef = ElementObject*;

// The platform's Accessibility error codes; 0 is success.
using AXError = int32_t;
inline constexpr AXError kAXSuccess = 0;
inline constexpr AXError kAXFailure = -25200;
inline constexpr AXError kAXIllegalArgument = -25201;
inline constexpr AXError kAXInvalidElement = -25202;
inline constexpr AXError kAXCannotComplete = -25204;  // also: the messaging timeout passed
inline constexpr AXError kAXAttributeUnsupported = -25205;
inline constexpr AXError kAXAPIDisabled = -25211;
inline constexpr AXError kAXNoValue = -25212;

struct TextRange {
  int64_t location = 0;
  int64_t length = 0;
};

// What a successful attribute copy delivered.
enum class ValueKind : uint8_t {
  none,         // the copy succeeded without a value
  string,
  number,
  boolean,
  element,
  elementList,
  range,        // an accessibility value of the range type
  otherAXValue, // an accessibility value of another type (a point, a size...)
  other,        // any other kind of object
};

struct AttributeResult {
  AXError error = kAXFailure;
  ValueKind kind = ValueKind::none;
  std::string string;
  double number = 0;
  bool boolean = false;
  Element element;
  std::vector<Element> elements;
  TextRange range;

  bool ok() const { return error == kAXSuccess; }
};

bool isProcessTrusted() noexcept;
Element applicationElement(int32_t pid) noexcept;
// 0 when the element's process is not known (the call's status is not
// reported).
int32_t elementPid(ElementRef element) noexcept;

// An attribute of the system-wide element (its focused application). The
// element itself never reaches the logic: a messaging timeout set on it would
// hold for every Accessibility client of the host, so every element the logic
// holds is one of an application.
AttributeResult copySystemWideAttribute(std::string_view attribute);

// Bounds every later query through this reference of the element; a slower
// reply fails with kAXCannotComplete.
void setMessagingTimeout(ElementRef element, double seconds) noexcept;

AttributeResult copyAttribute(ElementRef element, std::string_view attribute);

// Several attributes in one round trip; each result answers as copyAttribute
// would for that attribute (an attribute without a value is an error here).
std::vector<AttributeResult> copyAttributes(ElementRef element, std::span<const std::string_view> attributes);

struct SettableResult {
  AXError error = kAXFailure;
  bool settable = false;
};
SettableResult isAttributeSettable(ElementRef element, std::string_view attribute) noexcept;

AXError setStringAttribute(ElementRef element, std::string_view attribute, std::string_view value) noexcept;
AXError setBoolAttribute(ElementRef element, std::string_view attribute, bool value) noexcept;
AXError setRangeAttribute(ElementRef element, std::string_view attribute, TextRange value) noexcept;

// Whether two references denote the same element.
bool sameElement(ElementRef a, ElementRef b) noexcept;

}  // namespace platform
