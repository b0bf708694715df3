// The lister's platform on Linux desktops: the GIO application database.
// An application is a desktop entry; its identifier is the desktop-file id
// without ".desktop", its location the desktop file.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <dirent.h>
#include <malloc.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lister/gio/apps/early_icons.h"
#include "lister/gio/files.h"
#include "lister/gio/gobject_ptr.h"
#include "lister/gio/image/icon_gio.h"
#include "lister/gio/image/png_icon.h"
#include "lister/gio/lookup/icon_theme.h"
#include "lister/platform.h"

namespace corvane::platform {

struct FileObject {
  std::string contentType;
};

struct AppObject {
  GObjectPtr<GAppInfo> info;
};

// Whatever ends the run, the early drawing ends with the file it was for.
void release(FileObject* file) noexcept {
  gio::stopEarlyIcons();
  delete file;
}
void release(AppObject* app) noexcept { delete app; }

namespace {

constexpr int kIconSize = 32;

// GLib and its loaders report their own troubles through the log; corvane's
// standard error carries only its own messages.
GLogWriterOutput discardLog(GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; }

App wrap(GAppInfo* owned) {
  if (!owned) return nullptr;
  auto* app = new AppObject;
  app->info = GObjectPtr<GAppInfo>::adopt(owned);
  return App(app);
}

GDesktopAppInfo* desktopEntry(const AppObject& app) {
  return G_IS_DESKTOP_APP_INFO(app.info.get()) ? G_DESKTOP_APP_INFO(app.info.get()) : nullptr;
}

std::optional<std::string> taken(gchar* owned) {
  if (!owned) return std::nullopt;
  std::string value(owned);
  g_free(owned);
  return value;
}

// GIO watches the applications and configuration folders through inotify
// for the rest of the process, and a run never needs to hear of a change.
// A process that ends with watches in place waits in exit while the kernel
// frees them after an SRCU grace period: 0 to 16 ms, in scheduler ticks, on
// every run. Removed as soon as the database is read, they are freed while
// the icons are drawn. corvane makes no inotify instance of its own, and GIO
// passes over the IN_IGNORED events that the removals raise.
void dropFileWatches() noexcept {
  DIR* fds = opendir("/proc/self/fd");
  if (!fds) return;
  while (const dirent* entry = readdir(fds)) {
    char target[32];
    const ssize_t n = readlinkat(dirfd(fds), entry->d_name, target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (std::strcmp(target, "anon_inode:inotify") != 0) continue;
    const int fd = std::atoi(entry->d_name);
    // One line a watch: "inotify wd:<hex> ino:<hex> sdev:<hex> ...".
    const std::string info = gio::readRegularFile("/proc/self/fdinfo/" + std::string(entry->d_name), 1 << 20).value_or("");
    constexpr std::string_view kWatch = "inotify wd:";
    for (size_t at = info.find(kWatch); at != std::string::npos; at = info.find(kWatch, at + 1)) {
      const long wd = std::strtol(info.c_str() + at + kWatch.size(), nullptr, 16);
      if (wd > 0 && wd <= INT_MAX) inotify_rm_watch(fd, static_cast<int>(wd));
    }
  }
  closedir(fds);
}

}  // namespace

void beginRun() noexcept {
  // A heap for each thread, up to eight: GLib starts its worker threads
  // (the file monitors', the settings backend's) in an order that depends on
  // the desktop, and the drawing thread that shares the main thread's heap
  // waits on the listing's allocations, waking a tick late each time (6 ms
  // a run). Heaps of idle threads hold next to nothing: the run's peak is
  // the same as with three.
  mallopt(M_ARENA_MAX, 8);
  std::setlocale(LC_ALL, "");
  g_log_set_writer_func(discardLog, nullptr, nullptr);
}

File fileForPath(std::string_view path) {
  const std::string p(path);
  auto* file = new FileObject;
  // The local file system directly: no VFS modules, no session bus. A file
  // that exists is sniffed; one that does not is judged by its name.
  GObjectPtr<GFile> gfile = GObjectPtr<GFile>::adopt(g_vfs_get_file_for_path(g_vfs_get_local(), p.c_str()));
  if (gfile) {
    GObjectPtr<GFileInfo> info = GObjectPtr<GFileInfo>::adopt(g_file_query_info(
        gfile.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE, G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    if (info) {
      if (const char* type = g_file_info_get_attribute_string(info.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE))
        file->contentType = type;
    }
  }
  if (file->contentType.empty()) file->contentType = taken(g_content_type_guess(p.c_str(), nullptr, 0, nullptr)).value_or("");
  // The type known, its applications' icons are drawn while GIO finds them.
  gio::startEarlyIcons(file->contentType, kIconSize);
  return File(file);
}

App defaultApp(const FileObject& file) {
  if (file.contentType.empty()) return nullptr;
  App app = wrap(g_app_info_get_default_for_type(file.contentType.c_str(), FALSE));
  // GIO has read the database and made its watches.
  dropFileWatches();
  return app;
}

std::vector<App> appsForFile(const FileObject& file) {
  std::vector<App> apps;
  if (file.contentType.empty()) return apps;
  GList* list = g_app_info_get_all_for_type(file.contentType.c_str());
  for (GList* l = list; l; l = l->next) apps.push_back(wrap(static_cast<GAppInfo*>(l->data)));
  g_list_free(list);  // the entries' references now belong to apps
  return apps;
}

std::optional<std::string> appIdentifier(AppObject& app) {
  if (!desktopEntry(app)) return std::nullopt;
  const char* id = g_app_info_get_id(app.info.get());
  if (!id) return std::nullopt;
  std::string identifier(id);
  constexpr std::string_view kSuffix = ".desktop";
  if (identifier.size() > kSuffix.size() && identifier.ends_with(kSuffix)) identifier.resize(identifier.size() - kSuffix.size());
  return identifier;
}

std::optional<std::string> appNameValue(AppObject& app, NameKey key) {
  GDesktopAppInfo* entry = desktopEntry(app);
  if (!entry) return std::nullopt;
  // Localized for the user's languages; a value that is not UTF-8 is not a
  // string to GLib and so counts as missing.
  return taken(g_desktop_app_info_get_locale_string(entry, key == NameKey::displayName ? "Name" : "GenericName"));
}

std::string appFileStem(const AppObject& app) {
  std::string name = taken(g_path_get_basename(appPath(app).c_str())).value_or("");
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string appPath(const AppObject& app) {
  GDesktopAppInfo* entry = desktopEntry(app);
  const char* filename = entry ? g_desktop_app_info_get_filename(entry) : nullptr;
  return filename ? filename : "";
}

// A thread that waits for another here is woken late (a scheduler tick on a
// busy or virtual machine): the themes are read before the others start,
// and only when some icon is looked up in them.
void beginIcons(const std::vector<const AppObject*>& apps) noexcept {
  gio::stopEarlyIcons();
  for (const AppObject* app : apps) {
    if (GIcon* icon = g_app_info_get_icon(app->info.get()); icon && G_IS_THEMED_ICON(icon)) {
      gio::readThemes();
      return;
    }
  }
}

void endIcons() noexcept {
  gio::releaseImageBuffers();
  gio::releaseEarlyIcons();
}

std::optional<std::string> appIconPng(const AppObject& app) {
  GIcon* icon = g_app_info_get_icon(app.info.get());  // borrowed
  if (!icon) return std::nullopt;
  if (std::optional<std::optional<std::string>> drawn = gio::earlyIcon(icon)) return std::move(*drawn);
  return gio::iconPng(icon, kIconSize);
}

}  // namespace corvane::platform
