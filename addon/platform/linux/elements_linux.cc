// Element references over AT-SPI objects, and the bus they live on.
#include <time.h>

#include <map>

#include "platform/linux/desktop_linux.h"
#include "platform/posix/clock.h"

namespace platform {

// Only elements exist on this platform: no event tap, run loop or HID
// manager is ever handed out.
void retainObject(const void* ref) noexcept {
  if (ref) static_cast<ElementObject*>(const_cast<void*>(ref))->refs.fetch_add(1, std::memory_order_relaxed);
}

void releaseObject(const void* ref) noexcept {
  auto* element = static_cast<ElementObject*>(const_cast<void*>(ref));
  if (!element || element->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (const lx::Api* a = lx::api(); a && element->accessible) a->g_object_unref(element->accessible);
  delete element;
}

}  // namespace platform

namespace platform::lx {

Element adoptAccessible(AtspiAccessible* owned, bool application) {
  if (!owned) return {};
  auto* element = new ElementObject();
  element->accessible = owned;
  element->application = application;
  return Element::adopt(element);
}

std::string busNameOf(AtspiAccessible* accessible) {
  if (!accessible || !accessible->parent.app || !accessible->parent.app->bus_name) return {};
  return accessible->parent.app->bus_name;
}

int32_t pidOfBusName(AtspiAccessible* accessible) {
  static std::map<std::string, int32_t> known;
  const Api* a = api();
  const std::string bus = busNameOf(accessible);
  if (!a || bus.empty()) return 0;
  if (auto it = known.find(bus); it != known.end()) return it->second;
  GError* error = nullptr;
  const auto pid = static_cast<int32_t>(a->atspi_accessible_get_process_id(accessible, &error));
  if (failed(error) || pid <= 0) return 0;  // asked again next time
  known.emplace(bus, pid);
  return pid;
}

double monotonicNow() { return posix::clockSeconds(CLOCK_MONOTONIC); }

AXError errorOfFailedCall(const GError* error, double started) {
  if (ranIntoTimeout(started)) return kAXCannotComplete;
  // libatspi's own error of an application that has quit: code 0 of its
  // domain (atspi-misc-private.h, AtspiError).
  const Api* a = api();
  if (error && a && error->domain == a->g_quark_from_static_string("atspi_error") && error->code == 0)
    return kAXInvalidElement;
  return kAXFailure;
}

AXError takeError(GError*& error, double started) {
  const AXError result = errorOfFailedCall(error, started);
  failed(error);
  return result;
}

}  // namespace platform::lx
