// Applications of the accessibility bus, which of them is in front, and
// bringing one forward.
#include <unistd.h>

#include <map>

#include "platform/linux/desktop_linux.h"
#include "platform/linux/identity_linux.h"
#include "platform/linux/x11_linux.h"

namespace platform::lx {

std::vector<Application> applications() {
  std::vector<Application> apps;
  const Api* a = api();
  if (!a) return apps;
  GError* error = nullptr;
  const int count = a->atspi_accessible_get_child_count(a->desktop, &error);
  if (failed(error)) return apps;
  for (int i = 0; i < count; ++i) {
    AtspiAccessible* root = a->atspi_accessible_get_child_at_index(a->desktop, i, &error);
    if (failed(error) || !root) continue;
    Application app;
    app.pid = pidOfBusName(root);
    app.root = adoptAccessible(root, true);
    apps.push_back(std::move(app));
  }
  return apps;
}

Element activeWindowOf(AtspiAccessible* application, AXError& error) {
  const Api* a = api();
  if (!a || !application) return {};
  GError* e = nullptr;
  const double started = monotonicNow();
  const int count = a->atspi_accessible_get_child_count(application, &e);
  if (e || count < 0) {
    error = takeError(e, started);
    return {};
  }
  // An application's windows are its root's children: one state query each.
  for (int i = 0; i < count; ++i) {
    const double asked = monotonicNow();
    AtspiAccessible* window = a->atspi_accessible_get_child_at_index(application, i, &e);
    if (e || !window) {
      error = takeError(e, asked);
      if (error == kAXCannotComplete) return {};
      error = kAXSuccess;
      continue;
    }
    const double statesAsked = monotonicNow();
    AtspiStateSet* states = a->atspi_accessible_get_state_set(window);
    const bool active = states && a->atspi_state_set_contains(states, ATSPI_STATE_ACTIVE);
    const bool defunct = !states || a->atspi_state_set_contains(states, ATSPI_STATE_DEFUNCT);
    if (states) a->g_object_unref(states);
    if (active) return adoptAccessible(window);
    a->g_object_unref(window);
    if (defunct && ranIntoTimeout(statesAsked)) {
      error = kAXCannotComplete;
      return {};
    }
  }
  return {};
}

bool accessibilityEnabled() {
  const Api* a = api();
  if (!a) return false;
  GError* error = nullptr;
  GDBusConnection* session = a->g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (failed(error) || !session) return false;
  GVariant* reply = a->g_dbus_connection_call_sync(
      session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
      a->g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000,
      nullptr, &error);
  a->g_object_unref(session);
  if (failed(error) || !reply) return false;
  GVariant* value = nullptr;
  a->g_variant_get(reply, "(v)", &value);
  gboolean enabled = FALSE;
  if (value) {
    a->g_variant_get(value, "b", &enabled);
    a->g_variant_unref(value);
  }
  a->g_variant_unref(reply);
  return enabled;
}

namespace {

// Applications that let the front-window scan run into its timeout are left
// out of the scans of the next seconds: one hung application must not hold
// every query of the front application.
constexpr int kScanTimeoutMs = 100;
constexpr double kSilentFor = 5.0;

// The application in front: the one whose window the X server's window
// manager names active, where there is one (no application is asked, so a
// hung one delays nothing); else, as on Wayland, the one whose window has
// AT-SPI's active state, each asked within a short timeout.
std::optional<Application> frontApplication(std::optional<int32_t>& otherPid) {
  static std::map<std::string, double> silentUntil;
  std::vector<Application> apps = applications();
  if (const auto pid = x11ActiveWindowPid()) {
    for (Application& app : apps)
      if (app.pid == *pid) return std::move(app);
    otherPid = pid;  // a window of a process that is not on the bus
    return std::nullopt;
  }
  const Api* a = api();
  if (!a) return std::nullopt;
  const double now = monotonicNow();
  std::optional<Application> front;
  a->atspi_set_timeout(kScanTimeoutMs, -1);
  for (Application& app : apps) {
    const std::string bus = busNameOf(app.root.get()->accessible);
    if (auto it = silentUntil.find(bus); it != silentUntil.end() && it->second > now) continue;
    AXError error = kAXSuccess;
    const double asked = monotonicNow();
    const bool active = static_cast<bool>(activeWindowOf(app.root.get()->accessible, error));
    if (!active && monotonicNow() - asked >= kScanTimeoutMs / 1000.0 * 0.9) silentUntil[bus] = now + kSilentFor;
    if (active) {
      front = std::move(app);
      break;
    }
  }
  a->atspi_set_timeout(static_cast<int>(kCallTimeout * 1000), -1);
  return front;
}

// The name an application gives itself on the bus, asked once per bus name:
// every query of the front application names it, and a hung one must not
// hold each of them for the timeout. A healthy application answers in well
// under a millisecond.
constexpr int kNameTimeoutMs = 100;

std::optional<std::string> busApplicationName(AtspiAccessible* root) {
  static std::map<std::string, std::string> known;
  const Api* a = api();
  const std::string bus = busNameOf(root);
  if (!a || bus.empty()) return std::nullopt;
  if (auto it = known.find(bus); it != known.end()) return it->second;
  a->atspi_set_timeout(kNameTimeoutMs, -1);
  GError* error = nullptr;
  gchar* name = a->atspi_accessible_get_name(root, &error);
  a->atspi_set_timeout(static_cast<int>(kCallTimeout * 1000), -1);
  std::optional<std::string> result;
  if (!failed(error) && name && *name) result = known.emplace(bus, name).first->second;
  a->g_free(name);
  return result;
}

RunningApplication recordOf(int32_t pid, AtspiAccessible* root) {
  RunningApplication record;
  record.pid = pid;
  record.bundleID = desktopIdOfProcess(pid);
  if (record.bundleID) record.name = desktopEntryName(*record.bundleID);
  if (!record.name && root) record.name = busApplicationName(root);
  return record;
}

}  // namespace

Element frontApplicationElement() {
  std::optional<int32_t> other;
  auto front = frontApplication(other);
  return front ? std::move(front->root) : Element();
}

}  // namespace platform::lx

namespace platform {

std::optional<RunningApplication> runningApplication(int32_t pid) {
  if (pid <= 0) return std::nullopt;
  for (lx::Application& app : lx::applications())
    if (app.pid == pid) return lx::recordOf(pid, app.root.get()->accessible);
  // Not on the bus, but running: named from its desktop entry alone.
  if (access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0) return std::nullopt;
  return lx::recordOf(pid, nullptr);
}

std::optional<RunningApplication> frontmostApplication() {
  std::optional<int32_t> other;
  auto front = lx::frontApplication(other);
  if (front) return lx::recordOf(front->pid, front->root.get()->accessible);
  if (other) return lx::recordOf(*other, nullptr);
  return std::nullopt;
}

// Only the X server's window manager may be asked; Wayland lets no client
// bring another forward, so nothing happens there (the paste preparation's
// focus request still reaches the field's own toolkit).
void activateApplication(int32_t pid, uint32_t) noexcept { lx::x11Activate(pid); }

}  // namespace platform
