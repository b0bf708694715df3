// What the Linux layer's files share: the element behind a handle, and the
// applications of the accessibility bus.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/atspi_api.h"
#include "platform/platform.h"

namespace platform {

// One AT-SPI object (an application's root, or any accessible of it), with a
// reference of its own to the library's object.
struct ElementObject {
  std::atomic<int> refs = 1;
  AtspiAccessible* accessible = nullptr;
  bool application = false;  // an application's root
  // The object's role in the logic's vocabulary, once asked: an object keeps
  // its role, and the multi-line state that names a text role.
  std::optional<std::pair<std::string_view, std::string_view>> roleName;
  // The text this reference last read, for the offsets of a selection set
  // that follows at once: AT-SPI counts code points, the logic UTF-16 units.
  std::optional<std::string> lastText;
};

}  // namespace platform

namespace platform::lx {

// Takes over one reference of the library's object (null gives nothing).
Element adoptAccessible(AtspiAccessible* owned, bool application = false);

// The bus name of the object's application ("" when it has gone).
std::string busNameOf(AtspiAccessible* accessible);

// The process behind an application's bus name; asked of the bus once per
// name, as a unique name is never given to another connection.
int32_t pidOfBusName(AtspiAccessible* accessible);

// Seconds since a fixed moment, on the monotonic clock.
double monotonicNow();

// The accessibility error a failed call stands for: one that took about the
// whole timeout found no reply (kAXCannotComplete), one of an application
// that left is kAXInvalidElement, any other kAXFailure.
inline constexpr double kCallTimeout = 1.0;
AXError errorOfFailedCall(const GError* error, double started);
// The same for a call that filled in `error`, which it then drops.
AXError takeError(GError*& error, double started);

// Several of libatspi's calls answer a timeout only with their empty answer
// (no parent, no interface, a child count of -1), filling in no error: an
// empty answer that took about the whole timeout found no reply.
inline bool ranIntoTimeout(double started) { return monotonicNow() - started >= kCallTimeout * 0.9; }

struct Application {
  Element root;
  int32_t pid = 0;
};

// The applications on the accessibility bus, as the registry lists them.
std::vector<Application> applications();

// The root of the process's application: from those seen before while its
// connection lasts (no round trip), else from the registry's list; empty
// when the process has none on the bus.
Element applicationOfProcess(int32_t pid);

// The window of the application that has the active state (the one that
// receives the keyboard), or nothing.
Element activeWindowOf(AtspiAccessible* application, AXError& error);

// The root of the application in front (see apps_linux.cc), or nothing.
Element frontApplicationElement();

// How many batches of calls the layer has sent itself (each one round trip
// for several calls), beside what libatspi sends: for the benchmarks.
uint64_t batchesSent();

// Whether the toolkit accessibility of the session is on: the accessibility
// bus launcher's IsEnabled, which follows GNOME's setting.
bool accessibilityEnabled();

}  // namespace platform::lx
