// The X server's active window and its activation (EWMH), over XCB opened on
// first use. AT-SPI has no way to bring an application forward, and on X11
// the window manager knows for certain which window has the keyboard, with no
// application (a hung one included) in the way. XCB rather than Xlib: Xlib's
// error handler is one per process, and a GTK host has its own.
#include "platform/linux/x11_linux.h"

#include <dlfcn.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform::lx {
namespace {

#define PELMORA_XCB_FUNCTIONS(X)     \
  X(xcb_connect)                     \
  X(xcb_connection_has_error)        \
  X(xcb_get_setup)                   \
  X(xcb_setup_roots_iterator)        \
  X(xcb_intern_atom)                 \
  X(xcb_intern_atom_reply)           \
  X(xcb_get_property)                \
  X(xcb_get_property_reply)          \
  X(xcb_get_property_value)          \
  X(xcb_get_property_value_length)   \
  X(xcb_send_event)                  \
  X(xcb_flush)

struct X11 {
#define PELMORA_MEMBER(name) decltype(&::name) name = nullptr;
  PELMORA_XCB_FUNCTIONS(PELMORA_MEMBER)
#undef PELMORA_MEMBER
  xcb_connection_t* connection = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t activeWindow = 0, clientList = 0, wmPid = 0;
};

xcb_atom_t atom(const X11& x, const char* name) {
  auto cookie = x.xcb_intern_atom(x.connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = x.xcb_intern_atom_reply(x.connection, cookie, nullptr);
  const xcb_atom_t result = reply ? reply->atom : 0;
  std::free(reply);
  return result;
}

// The X server, connected once for the life of the process; null without
// one (a Wayland session without XWayland, a console).
const X11* x11() {
  static X11* instance = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    if (!std::getenv("DISPLAY")) return;
    void* library = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library) return;
    auto* x = new X11();
    bool all = true;
#define PELMORA_RESOLVE(name) \
  x->name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  all = all && x->name;
    PELMORA_XCB_FUNCTIONS(PELMORA_RESOLVE)
#undef PELMORA_RESOLVE
    if (!all) return;
    int screen = 0;
    x->connection = x->xcb_connect(nullptr, &screen);
    if (!x->connection || x->xcb_connection_has_error(x->connection)) return;
    xcb_screen_iterator_t roots = x->xcb_setup_roots_iterator(x->xcb_get_setup(x->connection));
    for (int i = 0; i < screen && roots.rem; ++i) {
      ++roots.data;
      --roots.rem;
    }
    if (!roots.rem) return;
    x->root = roots.data->root;
    x->activeWindow = atom(*x, "_NET_ACTIVE_WINDOW");
    x->clientList = atom(*x, "_NET_CLIENT_LIST_STACKING");
    x->wmPid = atom(*x, "_NET_WM_PID");
    if (x->activeWindow && x->clientList && x->wmPid) instance = x;
  });
  return instance && !instance->xcb_connection_has_error(instance->connection) ? instance : nullptr;
}

// The 32-bit values of a window's property.
std::vector<uint32_t> property(const X11& x, xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
  auto cookie = x.xcb_get_property(x.connection, 0, window, name, type, 0, 4096);
  xcb_get_property_reply_t* reply = x.xcb_get_property_reply(x.connection, cookie, nullptr);
  std::vector<uint32_t> values;
  if (reply && reply->format == 32) {
    const auto* data = static_cast<const uint32_t*>(x.xcb_get_property_value(reply));
    values.assign(data, data + x.xcb_get_property_value_length(reply) / 4);
  }
  std::free(reply);
  return values;
}

std::optional<int32_t> pidOfWindow(const X11& x, xcb_window_t window) {
  const auto pid = property(x, window, x.wmPid, XCB_ATOM_CARDINAL);
  if (pid.empty() || pid[0] == 0) return std::nullopt;
  return static_cast<int32_t>(pid[0]);
}

}  // namespace

std::optional<int32_t> x11ActiveWindowPid() {
  const X11* x = x11();
  if (!x) return std::nullopt;
  const auto active = property(*x, x->root, x->activeWindow, XCB_ATOM_WINDOW);
  if (active.empty() || active[0] == 0) return std::nullopt;
  return pidOfWindow(*x, active[0]);
}

namespace {

// The topmost of the process's windows, as the window manager stacks them.
std::optional<xcb_window_t> topWindowOf(const X11& x, int32_t pid) {
  const auto windows = property(x, x.root, x.clientList, XCB_ATOM_WINDOW);
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if (pidOfWindow(x, *it) == pid) return *it;
  return std::nullopt;
}

}  // namespace

std::optional<std::pair<std::string, std::string>> x11WindowClass(int32_t pid) {
  const X11* x = x11();
  if (!x) return std::nullopt;
  const auto window = topWindowOf(*x, pid);
  if (!window) return std::nullopt;
  auto cookie = x->xcb_get_property(x->connection, 0, *window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
  xcb_get_property_reply_t* reply = x->xcb_get_property_reply(x->connection, cookie, nullptr);
  std::optional<std::pair<std::string, std::string>> result;
  if (reply && reply->format == 8) {
    const std::string both(static_cast<const char*>(x->xcb_get_property_value(reply)),
                           static_cast<size_t>(x->xcb_get_property_value_length(reply)));
    const size_t zero = both.find('\0');
    if (zero != std::string::npos) result.emplace(both.substr(0, zero), std::string(both.c_str() + zero + 1));
  }
  std::free(reply);
  return result;
}

bool x11Activate(int32_t pid) {
  const X11* x = x11();
  if (!x) return false;
  if (const auto window = topWindowOf(*x, pid)) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = *window;
    message.type = x->activeWindow;
    message.data.data32[0] = 2;  // from a pager: window managers honour it
    message.data.data32[1] = XCB_CURRENT_TIME;
    x->xcb_send_event(x->connection, 0, x->root,
                      XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                      reinterpret_cast<const char*>(&message));
    x->xcb_flush(x->connection);
    return true;
  }
  return false;
}

}  // namespace platform::lx
