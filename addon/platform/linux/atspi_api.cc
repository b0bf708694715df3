#include "platform/linux/atspi_api.h"
#include "platform/linux/desktop_linux.h"

#include <dlfcn.h>

#include <mutex>

namespace platform::lx {
namespace {

// By soname: a host that has them loaded already (a GTK or Chromium host
// does) shares its copy, and with it libatspi's one connection.
void* openLibrary(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

template <class F>
bool resolve(void* library, const char* name, F& function) {
  function = library ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
  return function != nullptr;
}

bool load(Api& a) {
  void* atspi = openLibrary("libatspi.so.0");
  void* glib = openLibrary("libglib-2.0.so.0");
  void* gobject = openLibrary("libgobject-2.0.so.0");
  void* gio = openLibrary("libgio-2.0.so.0");
  void* dbus = openLibrary("libdbus-1.so.3");
  bool all = true;
#define PELMORA_RESOLVE_FROM(library) \
  [&](const char* name, auto& function) { all = resolve(library, name, function) && all; }
  auto fromAtspi = PELMORA_RESOLVE_FROM(atspi);
  auto fromGlib = PELMORA_RESOLVE_FROM(glib);
  auto fromGobject = PELMORA_RESOLVE_FROM(gobject);
  auto fromGio = PELMORA_RESOLVE_FROM(gio);
  auto fromDbus = PELMORA_RESOLVE_FROM(dbus);
#undef PELMORA_RESOLVE_FROM
#define PELMORA_ATSPI(name) fromAtspi(#name, a.name);
#define PELMORA_GLIB(name) fromGlib(#name, a.name);
#define PELMORA_GOBJECT(name) fromGobject(#name, a.name);
#define PELMORA_GIO(name) fromGio(#name, a.name);
#define PELMORA_DBUS(name) fromDbus(#name, a.name);
  PELMORA_ATSPI_FUNCTIONS(PELMORA_ATSPI)
  PELMORA_GLIB_FUNCTIONS(PELMORA_GLIB)
  PELMORA_GOBJECT_FUNCTIONS(PELMORA_GOBJECT)
  PELMORA_GIO_FUNCTIONS(PELMORA_GIO)
  PELMORA_DBUS_FUNCTIONS(PELMORA_DBUS)
#undef PELMORA_ATSPI
#undef PELMORA_GLIB
#undef PELMORA_GOBJECT
#undef PELMORA_GIO
#undef PELMORA_DBUS
  return all;
}

}  // namespace

const Api* api() {
  static Api loaded;  // for the life of the process, as the libraries are
  static Api* instance = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    Api* a = &loaded;
    // 0: connected; 1: the host's own copy had connected already; anything
    // else: no accessibility bus.
    if (!load(*a) || a->atspi_init() > 1) return;
    // Every call waits for one application, which may hang: a second, and no
    // longer grace for applications that registered lately (15 s by
    // default, counted from when this process first heard of them).
    a->atspi_set_timeout(static_cast<int>(kCallTimeout * 1000), -1);
    a->desktop = a->atspi_get_desktop(0);
    if (a->desktop) instance = a;
  });
  return instance;
}

bool failed(GError*& error) {
  if (!error) return false;
  if (const Api* a = api()) a->g_error_free(error);
  error = nullptr;
  return true;
}

}  // namespace platform::lx
