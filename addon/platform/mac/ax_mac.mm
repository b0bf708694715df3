// Accessibility over ApplicationServices.
#include <ApplicationServices/ApplicationServices.h>

#include "platform/mac/cf_text.h"
#include "platform/platform.h"

namespace platform {
namespace {

AXUIElementRef asAX(ElementRef element) { return reinterpret_cast<AXUIElementRef>(element); }

Element adoptElement(CFTypeRef owned) {
  return Element::adopt(reinterpret_cast<ElementObject*>(const_cast<void*>(owned)));
}

// Fills the typed result from a copied value, taking over its reference.
void describe(CFTypeRef value, AttributeResult& r) {
  const CFTypeID type = CFGetTypeID(value);
  if (type == AXUIElementGetTypeID()) {
    r.kind = ValueKind::element;
    r.element = adoptElement(value);
    return;
  }
  mac::ScopedCF owned(value);
  if (type == CFStringGetTypeID()) {
    r.kind = ValueKind::string;
    r.string = mac::toUtf8(static_cast<CFStringRef>(value));
  } else if (type == CFBooleanGetTypeID()) {
    r.kind = ValueKind::boolean;
    r.boolean = CFBooleanGetValue(static_cast<CFBooleanRef>(value));
  } else if (type == CFNumberGetTypeID()) {
    r.kind = ValueKind::number;
    CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberDoubleType, &r.number);
  } else if (type == CFArrayGetTypeID()) {
    r.kind = ValueKind::elementList;
    auto array = static_cast<CFArrayRef>(value);
    const CFIndex count = CFArrayGetCount(array);
    r.elements.reserve(static_cast<size_t>(count));
    for (CFIndex i = 0; i < count; ++i) {
      CFTypeRef item = CFArrayGetValueAtIndex(array, i);
      if (item && CFGetTypeID(item) == AXUIElementGetTypeID()) {
        r.elements.push_back(Element::retain(reinterpret_cast<ElementObject*>(const_cast<void*>(item))));
      }
    }
  } else if (type == AXValueGetTypeID()) {
    auto ax = static_cast<AXValueRef>(value);
    CFRange range;
    if (AXValueGetType(ax) == kAXValueTypeCFRange && AXValueGetValue(ax, kAXValueTypeCFRange, &range)) {
      r.kind = ValueKind::range;
      r.range = {range.location, range.length};
    } else {
      r.kind = ValueKind::otherAXValue;
    }
  } else {
    r.kind = ValueKind::other;
  }
}

AXError setValue(ElementRef element, std::string_view attribute, CFTypeRef value) {
  if (!element || !value) return kAXIllegalArgument;
  mac::ScopedCF name(mac::createString(attribute));
  return AXUIElementSetAttributeValue(asAX(element), static_cast<CFStringRef>(name.ref), value);
}

}  // namespace

bool isProcessTrusted() noexcept { return AXIsProcessTrusted(); }

Element applicationElement(int32_t pid) noexcept { return adoptElement(AXUIElementCreateApplication(pid)); }

int32_t elementPid(ElementRef element) noexcept {
  pid_t pid = 0;
  if (element) AXUIElementGetPid(asAX(element), &pid);
  return pid;
}

void setMessagingTimeout(ElementRef element, double seconds) noexcept {
  if (element && seconds >= 0) AXUIElementSetMessagingTimeout(asAX(element), static_cast<float>(seconds));
}

AttributeResult copyAttribute(ElementRef element, std::string_view attribute) {
  AttributeResult r;
  if (!element) {
    r.error = kAXIllegalArgument;
    return r;
  }
  mac::ScopedCF name(mac::createString(attribute));
  CFTypeRef value = nullptr;
  r.error = AXUIElementCopyAttributeValue(asAX(element), static_cast<CFStringRef>(name.ref), &value);
  if (r.error != kAXErrorSuccess) {
    if (value) CFRelease(value);
    return r;
  }
  r.kind = ValueKind::none;
  if (value) describe(value, r);
  return r;
}

// A new system-wide element for each call, released before it answers: no
// reference to it ever leaves this file.
AttributeResult copySystemWideAttribute(std::string_view attribute) {
  Element systemWide = adoptElement(AXUIElementCreateSystemWide());
  return copyAttribute(systemWide.get(), attribute);
}

std::vector<AttributeResult> copyAttributes(ElementRef element, std::span<const std::string_view> attributes) {
  std::vector<AttributeResult> results(attributes.size());
  auto failAll = [&](AXError error) {
    for (auto& r : results) r.error = error;
    return std::move(results);
  };
  if (!element) return failAll(kAXIllegalArgument);
  CFMutableArrayRef names = CFArrayCreateMutable(kCFAllocatorDefault, static_cast<CFIndex>(attributes.size()),
                                                 &kCFTypeArrayCallBacks);
  mac::ScopedCF ownedNames(names);
  for (std::string_view attribute : attributes) {
    mac::ScopedCF name(mac::createString(attribute));
    CFArrayAppendValue(names, name.ref);
  }
  CFArrayRef values = nullptr;
  const AXError error = AXUIElementCopyMultipleAttributeValues(asAX(element), names, 0, &values);
  mac::ScopedCF ownedValues(values);
  if (error != kAXErrorSuccess) return failAll(error);
  if (!values || CFArrayGetCount(values) != static_cast<CFIndex>(attributes.size())) return failAll(kAXFailure);
  for (size_t i = 0; i < attributes.size(); ++i) {
    CFTypeRef value = CFArrayGetValueAtIndex(values, static_cast<CFIndex>(i));
    AttributeResult& r = results[i];
    // Per attribute, an error arrives wrapped in an AXValue, and an
    // unsupported attribute may arrive as CFNull: both answer as the failed
    // single copy would.
    if (!value || CFGetTypeID(value) == CFNullGetTypeID()) {
      r.error = kAXErrorNoValue;
      continue;
    }
    if (CFGetTypeID(value) == AXValueGetTypeID() && AXValueGetType(static_cast<AXValueRef>(value)) == kAXValueTypeAXError) {
      AXError wrapped = kAXErrorFailure;
      AXValueGetValue(static_cast<AXValueRef>(value), kAXValueTypeAXError, &wrapped);
      r.error = wrapped;
      continue;
    }
    r.error = kAXErrorSuccess;
    describe(CFRetain(value), r);
  }
  return results;
}

SettableResult isAttributeSettable(ElementRef element, std::string_view attribute) noexcept {
  SettableResult r;
  if (!element) {
    r.error = kAXIllegalArgument;
    return r;
  }
  mac::ScopedCF name(mac::createString(attribute));
  Boolean settable = false;
  r.error = AXUIElementIsAttributeSettable(asAX(element), static_cast<CFStringRef>(name.ref), &settable);
  r.settable = r.error == kAXErrorSuccess && settable;
  return r;
}

// Text that is not UTF-8 makes no string, and the set is refused as an
// illegal argument: an empty string in its place would wipe the field.
AXError setStringAttribute(ElementRef element, std::string_view attribute, std::string_view value) noexcept {
  mac::ScopedCF string(mac::createString(value));
  return setValue(element, attribute, string.ref);
}

AXError setBoolAttribute(ElementRef element, std::string_view attribute, bool value) noexcept {
  return setValue(element, attribute, value ? kCFBooleanTrue : kCFBooleanFalse);
}

AXError setRangeAttribute(ElementRef element, std::string_view attribute, TextRange value) noexcept {
  CFRange range = CFRangeMake(static_cast<CFIndex>(value.location), static_cast<CFIndex>(value.length));
  mac::ScopedCF ax(AXValueCreate(kAXValueTypeCFRange, &range));
  if (!ax.ref) return kAXFailure;
  return setValue(element, attribute, ax.ref);
}

bool sameElement(ElementRef a, ElementRef b) noexcept {
  if (a == b) return true;
  return a && b && CFEqual(asAX(a), asAX(b));
}

}  // namespace platform
