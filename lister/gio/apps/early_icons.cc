#include "lister/gio/apps/early_icons.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "lister/gio/files.h"
#include "lister/gio/gobject_ptr.h"
#include "lister/gio/image/icon_gio.h"
#include "lister/gio/lookup/icon_theme.h"

namespace corvane::gio {
namespace {

// Bounds on the guessing: real caches list tens of applications for a type
// in files of tens of kilobytes, and desktop files are a few kilobytes. At
// most kMaxGuesses desktop files are opened, whatever the caches list.
constexpr size_t kMaxCacheBytes = 4 << 20;
constexpr size_t kMaxDesktopFileBytes = 256 << 10;
constexpr size_t kMaxGuesses = 512;

// What an icon is drawn from, as one string: equal for equal icons.
std::optional<std::string> keyOf(GIcon* icon) {
  if (G_IS_THEMED_ICON(icon)) {
    std::string key = "t";
    for (const gchar* const* name = g_themed_icon_get_names(G_THEMED_ICON(icon)); name && *name; ++name) key.append(*name).push_back('\0');
    return key;
  }
  if (G_IS_FILE_ICON(icon)) {
    gchar* path = g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon)));
    if (!path) return std::nullopt;
    std::string key = std::string("f") + path;
    g_free(path);
    return key;
  }
  return std::nullopt;
}

// The icon GIO makes of an entry's Icon value: a file for an absolute path,
// else a themed name, without the extension that desktop files often add
// by mistake.
GObjectPtr<GIcon> iconOfValue(std::string value) {
  if (g_path_is_absolute(value.c_str())) {
    // The local file system directly, as for the file asked about: no VFS
    // modules, no session bus.
    GObjectPtr<GFile> file = GObjectPtr<GFile>::adopt(g_vfs_get_file_for_path(g_vfs_get_local(), value.c_str()));
    return GObjectPtr<GIcon>::adopt(g_file_icon_new(file.get()));
  }
  const size_t dot = value.rfind('.');
  if (dot != std::string::npos) {
    const std::string_view extension = std::string_view(value).substr(dot);
    if (extension == ".png" || extension == ".xpm" || extension == ".svg") value.resize(dot);
  }
  return GObjectPtr<GIcon>::adopt(g_themed_icon_new(value.c_str()));
}

// A desktop file's plain Icon value; none where it holds an escape, which
// GIO would read otherwise.
std::optional<std::string> desktopIconValue(std::string_view desktopFile) {
  std::optional<std::string> value = iniValue(desktopFile, "Desktop Entry", "Icon");
  if (value && value->find('\\') != std::string::npos) return std::nullopt;
  return value;
}

std::vector<std::string> applicationFolders() {
  std::vector<std::string> folders{std::string(g_get_user_data_dir()) + "/applications"};
  for (const gchar* const* d = g_get_system_data_dirs(); *d; ++d) folders.push_back(std::string(*d) + "/applications");
  return folders;
}

// The Icon values of the desktop files the folders' caches list for the
// type (and for plain text, which GIO offers for every text type), each
// desktop id once, read in the folder whose cache lists it first. (GIO takes
// an id from the first folder that has its file; where an earlier folder
// without it in its cache has one too, the guess is wrong, and costs only
// its drawing.)
std::vector<std::string> guessedIconValues(const std::string& contentType, const std::atomic<bool>& stop) {
  std::vector<std::string> types{contentType};
  if (contentType.starts_with("text/") && contentType != "text/plain") types.emplace_back("text/plain");
  std::vector<std::string> files;
  std::unordered_set<std::string> seen;
  for (const std::string& folder : applicationFolders()) {
    const std::optional<std::string> cache = readRegularFile(folder + "/mimeinfo.cache", kMaxCacheBytes);
    if (!cache) continue;
    for (const std::string& type : types)
      for (std::string& id : listItems(iniValue(*cache, "MIME Cache", type).value_or(""), ';', kMaxGuesses - files.size()))
        // A desktop id names a file directly in its folder; the rarer ones
        // in subfolders go unguessed.
        if (id.find('/') == std::string::npos && seen.insert(id).second) files.push_back(folder + "/" + id);
  }
  std::vector<std::string> values;
  for (const std::string& file : files) {
    if (stop.load(std::memory_order_relaxed)) break;
    if (const std::optional<std::string> text = readRegularFile(file, kMaxDesktopFileBytes))
      if (std::optional<std::string> value = desktopIconValue(*text); value && !value->empty()) values.push_back(std::move(*value));
  }
  return values;
}

struct EarlyIcons {
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<bool> finished{false};
  bool stopped = true;  // no thread runs: drawn may be read
  std::unordered_map<std::string, std::optional<std::string>> drawn;

  void draw(const std::string& contentType, int size) {
    try {
      std::vector<std::string> values = guessedIconValues(contentType, stop);
      // The themes are read here, beside the listing, rather than after it,
      // when some guess is looked up in them.
      if (std::any_of(values.begin(), values.end(), [](const std::string& v) { return !g_path_is_absolute(v.c_str()); })) readThemes();
      for (std::string& value : values) {
        if (stop.load(std::memory_order_relaxed)) break;
        GObjectPtr<GIcon> icon = iconOfValue(std::move(value));
        std::optional<std::string> key = keyOf(icon.get());
        if (!key || drawn.count(*key)) continue;
        std::optional<std::string> png = iconPng(icon.get(), size);
        drawn.emplace(std::move(*key), std::move(png));
      }
    } catch (const std::exception&) {
      // Out of memory: what was drawn stays, the rest is drawn when asked.
    }
    finished.store(true, std::memory_order_release);
  }
};

EarlyIcons& early() {
  static EarlyIcons state;
  return state;
}

}  // namespace

void startEarlyIcons(const std::string& contentType, int size) noexcept {
  EarlyIcons& e = early();
  if (!e.stopped || contentType.empty()) return;
  // GIO's defaults made on two threads at once deadlock (GLib 2.74): the
  // settings backend is made holding GIO's module lock and asks for the
  // default file system, whose one-time set-up waits for that lock. Both are
  // made here, before the thread starts, so that it only ever finds them
  // made: the theme's name, read through GSettings, and the default file
  // system, which the listing would make anyway.
  chooseTheme();
  g_vfs_get_default();
  e.stop = false;
  e.finished = false;
  try {
    e.thread = std::thread([&e, contentType, size] { e.draw(contentType, size); });
    e.stopped = false;
  } catch (const std::exception&) {
    // No thread: every icon is drawn when asked.
  }
}

void stopEarlyIcons() noexcept {
  EarlyIcons& e = early();
  if (e.stopped) return;
  e.stop.store(true, std::memory_order_relaxed);
  // A thread that sleeps in a join is woken late (a scheduler tick on a
  // busy or virtual machine): the icon in hand is waited for awake.
  while (!e.finished.load(std::memory_order_acquire)) std::this_thread::yield();
  e.thread.join();
  e.stopped = true;
}

std::optional<std::optional<std::string>> earlyIcon(GIcon* icon) {
  const EarlyIcons& e = early();
  if (!e.stopped || e.drawn.empty()) return std::nullopt;
  const std::optional<std::string> key = keyOf(icon);
  if (!key) return std::nullopt;
  const auto it = e.drawn.find(*key);
  if (it == e.drawn.end()) return std::nullopt;
  return it->second;
}

void releaseEarlyIcons() noexcept {
  EarlyIcons& e = early();
  if (e.stopped) e.drawn.clear();
}

}  // namespace corvane::gio
