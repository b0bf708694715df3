// Which folders make up a theme comes from its index.theme; which files a
// folder holds is read once per folder, so a lookup costs no system calls
// once the folders it needs have been listed.
#include "lister/gio/icon_theme.h"

#include <glib.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace corvane::gio {
namespace {

enum class DirType { fixed, scalable, threshold };

struct ThemeDir {
  std::string subdir;
  DirType type = DirType::threshold;
  int size = 0;
  int minSize = 0;
  int maxSize = 0;
  int threshold = 2;
  int scale = 1;
};

struct Theme {
  std::vector<std::string> roots;  // <base>/<theme> for the bases that have the theme
  std::vector<ThemeDir> dirs;
  std::vector<std::string> parents;
};

struct IconSearch {
  std::vector<std::string> bases;           // icon base folders, in lookup order
  std::vector<std::string> unthemedFolders; // the bases, then the pixmaps folders
  std::string userTheme;
  std::map<std::string, std::optional<Theme>, std::less<>> themes;
  std::unordered_map<std::string, std::unordered_set<std::string>> listings;
};

constexpr const char* kExtensions[] = {".png", ".svg", ".xpm"};

struct KeyFileDeleter {
  void operator()(GKeyFile* f) const noexcept { g_key_file_free(f); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

std::string joined(std::string_view a, std::string_view b) {
  std::string path(a);
  if (path.empty() || path.back() != '/') path += '/';
  path.append(b);
  return path;
}

std::optional<std::string> keyString(GKeyFile* file, const char* group, const char* key) {
  gchar* value = g_key_file_get_string(file, group, key, nullptr);
  if (!value) return std::nullopt;
  std::string text(value);
  g_free(value);
  return text;
}

std::vector<std::string> keyList(GKeyFile* file, const char* group, const char* key) {
  std::vector<std::string> items;
  gsize n = 0;
  gchar** values = g_key_file_get_string_list(file, group, key, &n, nullptr);
  for (gsize i = 0; i < n; ++i) {
    std::string item(values[i]);
    while (!item.empty() && item.front() == ' ') item.erase(item.begin());
    while (!item.empty() && item.back() == ' ') item.pop_back();
    if (!item.empty()) items.push_back(std::move(item));
  }
  g_strfreev(values);
  return items;
}

int keyInt(GKeyFile* file, const char* group, const char* key, int fallback) {
  GError* error = nullptr;
  const int value = g_key_file_get_integer(file, group, key, &error);
  if (error) {
    g_error_free(error);
    return fallback;
  }
  return value;
}

KeyFile loadKeyFile(const std::string& path, char listSeparator) {
  KeyFile file(g_key_file_new());
  g_key_file_set_list_separator(file.get(), listSeparator);
  if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, nullptr)) return nullptr;
  return file;
}

// The theme that GTK programs would use, from the GTK settings files: without
// a display there is no settings daemon to ask.
std::string userThemeName() {
  std::vector<std::string> configDirs{g_get_user_config_dir()};
  for (const gchar* const* d = g_get_system_config_dirs(); *d; ++d) configDirs.emplace_back(*d);
  for (const std::string& dir : configDirs) {
    KeyFile file = loadKeyFile(joined(dir, "gtk-3.0/settings.ini"), ';');
    if (!file) continue;
    if (auto name = keyString(file.get(), "Settings", "gtk-icon-theme-name"); name && !name->empty()) return *name;
  }
  return "hicolor";
}

IconSearch& search() {
  static IconSearch state = [] {
    IconSearch built;
    IconSearch* s = &built;
    std::vector<std::string> dataDirs{g_get_user_data_dir()};
    for (const gchar* const* d = g_get_system_data_dirs(); *d; ++d) dataDirs.emplace_back(*d);
    s->bases.push_back(joined(dataDirs.front(), "icons"));
    s->bases.push_back(joined(g_get_home_dir(), ".icons"));
    for (size_t i = 1; i < dataDirs.size(); ++i) s->bases.push_back(joined(dataDirs[i], "icons"));
    s->unthemedFolders = s->bases;
    for (const std::string& d : dataDirs) s->unthemedFolders.push_back(joined(d, "pixmaps"));
    s->userTheme = userThemeName();
    return built;
  }();
  return state;
}

bool folderHas(IconSearch& s, const std::string& folder, const std::string& file) {
  auto it = s.listings.find(folder);
  if (it == s.listings.end()) {
    std::unordered_set<std::string> names;
    if (GDir* dir = g_dir_open(folder.c_str(), 0, nullptr)) {
      while (const gchar* name = g_dir_read_name(dir)) names.emplace(name);
      g_dir_close(dir);
    }
    it = s.listings.emplace(folder, std::move(names)).first;
  }
  return it->second.count(file) > 0;
}

bool isFolder(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR); }

std::optional<Theme> loadTheme(const IconSearch& s, const std::string& name) {
  Theme theme;
  KeyFile index;
  for (const std::string& base : s.bases) {
    const std::string root = joined(base, name);
    if (!isFolder(root)) continue;
    theme.roots.push_back(root);
    if (!index) index = loadKeyFile(joined(root, "index.theme"), ',');
  }
  if (!index) return std::nullopt;  // a folder without an index is not a theme
  GKeyFile* f = index.get();
  constexpr const char* kMain = "Icon Theme";
  theme.parents = keyList(f, kMain, "Inherits");
  std::vector<std::string> subdirs = keyList(f, kMain, "Directories");
  for (std::string& d : keyList(f, kMain, "ScaledDirectories")) subdirs.push_back(std::move(d));
  std::set<std::string> seen;
  for (const std::string& subdir : subdirs) {
    if (!seen.insert(subdir).second || !g_key_file_has_group(f, subdir.c_str())) continue;
    const char* g = subdir.c_str();
    ThemeDir dir;
    dir.subdir = subdir;
    dir.size = keyInt(f, g, "Size", 0);
    if (dir.size <= 0) continue;
    dir.scale = keyInt(f, g, "Scale", 1);
    dir.minSize = keyInt(f, g, "MinSize", dir.size);
    dir.maxSize = keyInt(f, g, "MaxSize", dir.size);
    dir.threshold = keyInt(f, g, "Threshold", 2);
    const std::string type = keyString(f, g, "Type").value_or("Threshold");
    dir.type = type == "Fixed" ? DirType::fixed : type == "Scalable" ? DirType::scalable : DirType::threshold;
    theme.dirs.push_back(std::move(dir));
  }
  return theme;
}

const Theme* themeNamed(IconSearch& s, const std::string& name) {
  auto it = s.themes.find(name);
  if (it == s.themes.end()) it = s.themes.emplace(name, loadTheme(s, name)).first;
  return it->second ? &*it->second : nullptr;
}

bool matchesSize(const ThemeDir& d, int size) {
  if (d.scale != 1) return false;
  switch (d.type) {
    case DirType::fixed: return d.size == size;
    case DirType::scalable: return d.minSize <= size && size <= d.maxSize;
    case DirType::threshold: return d.size - d.threshold <= size && size <= d.size + d.threshold;
  }
  return false;
}

int sizeDistance(const ThemeDir& d, int size) {
  int low = d.size, high = d.size;
  if (d.type == DirType::scalable) {
    low = d.minSize;
    high = d.maxSize;
  } else if (d.type == DirType::threshold) {
    low = d.size - d.threshold;
    high = d.size + d.threshold;
  }
  low *= d.scale;
  high *= d.scale;
  if (size < low) return low - size;
  if (size > high) return size - high;
  return 0;
}

// One theme without its parents: a folder of the right size first, else the
// folder whose size is nearest.
std::string lookupInTheme(IconSearch& s, const Theme& theme, const std::string& name, int size) {
  for (const ThemeDir& d : theme.dirs) {
    if (!matchesSize(d, size)) continue;
    for (const std::string& root : theme.roots) {
      const std::string folder = joined(root, d.subdir);
      for (const char* ext : kExtensions)
        if (folderHas(s, folder, name + ext)) return joined(folder, name + ext);
    }
  }
  std::string closest;
  int best = INT_MAX;
  for (const ThemeDir& d : theme.dirs) {
    const int distance = sizeDistance(d, size);
    if (distance >= best) continue;
    for (const std::string& root : theme.roots) {
      const std::string folder = joined(root, d.subdir);
      for (const char* ext : kExtensions) {
        if (distance < best && folderHas(s, folder, name + ext)) {
          closest = joined(folder, name + ext);
          best = distance;
        }
      }
    }
  }
  return closest;
}

std::string lookupWithParents(IconSearch& s, const std::string& themeName, const std::string& name, int size,
                              std::set<std::string>& visited) {
  if (!visited.insert(themeName).second) return {};
  const Theme* theme = themeNamed(s, themeName);
  if (!theme) return {};
  if (std::string file = lookupInTheme(s, *theme, name, size); !file.empty()) return file;
  for (const std::string& parent : theme->parents) {
    if (std::string file = lookupWithParents(s, parent, name, size, visited); !file.empty()) return file;
  }
  return {};
}

}  // namespace

std::string lookupThemedIcon(std::string_view iconName, int size) {
  // A name is one file name; one with a slash would reach outside the themes.
  if (iconName.empty() || iconName.find('/') != std::string_view::npos) return {};
  const std::string name(iconName);
  IconSearch& s = search();
  std::set<std::string> visited;
  if (std::string file = lookupWithParents(s, s.userTheme, name, size, visited); !file.empty()) return file;
  if (std::string file = lookupWithParents(s, "hicolor", name, size, visited); !file.empty()) return file;
  for (const std::string& folder : s.unthemedFolders) {
    for (const char* ext : kExtensions)
      if (folderHas(s, folder, name + ext)) return joined(folder, name + ext);
  }
  return {};
}

}  // namespace corvane::gio
