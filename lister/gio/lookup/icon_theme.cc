// Which folders make up a theme comes from its index.theme. Which icons a
// theme folder holds comes from its icon-theme.cache where that is current,
// else from listing its folders once. Either way every theme is indexed by
// icon name before the first lookup, so a lookup costs a few hash probes per
// theme, however many folders the themes list.
#include "lister/gio/lookup/icon_theme.h"

#include <gio/gio.h>

#include <climits>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "lister/gio/files.h"
#include "lister/gio/lookup/theme_files.h"

namespace corvane::gio {
namespace {

// Bounds on what a theme may make the lister read: real indexes are tens of
// kilobytes with hundreds of folders, and real themes inherit two or three.
constexpr size_t kMaxIndexBytes = 1 << 20;
constexpr size_t kMaxSettingsBytes = 1 << 20;
constexpr size_t kMaxThemeDirs = 4096;
constexpr size_t kMaxThemes = 64;

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

struct Image {
  uint16_t dir;    // index into Theme::dirs
  uint16_t flags;  // CacheFlag bits
};

// One theme in one base folder: its cache, or what listing its folders found.
struct ThemeRoot {
  std::string path;
  MappedCache cache;
  std::vector<int> cacheToDir;  // cache folder index -> Theme::dirs index, or -1
  std::unordered_map<std::string, std::vector<Image>> listed;
};

struct Theme {
  std::vector<ThemeDir> dirs;
  std::vector<ThemeRoot> roots;
  std::vector<std::string> parents;
};

struct IconSearch {
  std::vector<Theme> chain;  // the chosen theme, what it inherits, hicolor
  std::vector<std::pair<std::string, std::unordered_set<std::string>>> unthemed;  // folder, its files
};

struct Extension {
  uint16_t flag;
  const char* suffix;
};
// In the order a folder's files are preferred.
constexpr Extension kExtensions[] = {{kCachedPng, ".png"}, {kCachedSvg, ".svg"}, {kCachedXpm, ".xpm"}};

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

// A theme's index: read as a plain key file where it is one (every index the
// themes ship), else by GLib's key file, whose rules it then follows.
class ThemeIndex {
 public:
  static std::unique_ptr<ThemeIndex> read(std::string text) {
    auto index = std::unique_ptr<ThemeIndex>(new ThemeIndex(std::move(text)));
    index->plain_ = PlainKeyFile::parse(index->text_);
    if (index->plain_) return index;
    index->keyFile_.reset(g_key_file_new());
    g_key_file_set_list_separator(index->keyFile_.get(), ',');
    if (!g_key_file_load_from_data(index->keyFile_.get(), index->text_.data(), index->text_.size(), G_KEY_FILE_NONE, nullptr))
      return nullptr;
    return index;
  }
  ThemeIndex(const ThemeIndex&) = delete;
  ThemeIndex& operator=(const ThemeIndex&) = delete;

  bool hasGroup(const std::string& group) const {
    return plain_ ? plain_->hasGroup(group) : g_key_file_has_group(keyFile_.get(), group.c_str());
  }

  std::optional<std::string> string(const char* group, const char* key) const {
    if (plain_) {
      const std::optional<std::string_view> value = plain_->value(group, key);
      return value ? std::optional<std::string>(*value) : std::nullopt;
    }
    // Each key is asked for first: GLib formats and translates the error
    // for a missing one even when no error is wanted, which over hicolor's
    // hundreds of folders costs milliseconds.
    if (!g_key_file_has_key(keyFile_.get(), group, key, nullptr)) return std::nullopt;
    gchar* value = g_key_file_get_string(keyFile_.get(), group, key, nullptr);
    if (!value) return std::nullopt;
    std::string text(value);
    g_free(value);
    return text;
  }

  // The items of a comma-separated list, blanks around each trimmed, empty
  // ones left out.
  std::vector<std::string> list(const char* group, const char* key) const {
    if (plain_) return listItems(plain_->value(group, key).value_or(""), ',');
    std::vector<std::string> items;
    gsize n = 0;
    if (!g_key_file_has_key(keyFile_.get(), group, key, nullptr)) return items;
    gchar** values = g_key_file_get_string_list(keyFile_.get(), group, key, &n, nullptr);
    for (gsize i = 0; i < n; ++i) {
      const std::string_view item = trimmed(values[i]);
      if (!item.empty()) items.emplace_back(item);
    }
    g_strfreev(values);
    return items;
  }

  // The fallback where the key is missing or not a number in int range.
  int integer(const char* group, const char* key, int fallback) const {
    if (plain_) return plain_->integer(group, key).value_or(fallback);
    if (!g_key_file_has_key(keyFile_.get(), group, key, nullptr)) return fallback;
    GError* error = nullptr;
    const int value = g_key_file_get_integer(keyFile_.get(), group, key, &error);
    if (error) {
      g_error_free(error);
      return fallback;
    }
    return value;
  }

 private:
  explicit ThemeIndex(std::string text) : text_(std::move(text)) {}

  std::string text_;  // what plain_ points into
  std::optional<PlainKeyFile> plain_;
  KeyFile keyFile_;
};

// A theme name that stays one folder name inside the icon folders.
bool isThemeName(std::string_view name) {
  return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

// ---- Which theme ----------------------------------------------------------------

std::optional<std::string> gsettingsTheme() {
  // Looked up first: a GSettings object of a schema that is not installed
  // aborts the program.
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();  // borrowed
  if (!source) return std::nullopt;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
  if (!schema) return std::nullopt;
  std::optional<std::string> name;
  if (g_settings_schema_has_key(schema, "icon-theme")) {
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    GVariant* value = g_settings_get_value(settings, "icon-theme");
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) name = g_variant_get_string(value, nullptr);
    g_variant_unref(value);
    g_object_unref(settings);
  }
  g_settings_schema_unref(schema);
  return name;
}

// The user's configuration folder, then the system's, in precedence order.
std::vector<std::string> configDirs() {
  std::vector<std::string> dirs{g_get_user_config_dir()};
  for (const gchar* const* d = g_get_system_config_dirs(); *d; ++d) dirs.emplace_back(*d);
  return dirs;
}

std::optional<std::string> configuredTheme(std::initializer_list<const char*> files, const char* group, const char* key) {
  for (const std::string& dir : configDirs()) {
    for (const char* file : files) {
      const std::optional<std::string> text = readRegularFile(joined(dir, file), kMaxSettingsBytes);
      if (!text) continue;
      if (std::optional<std::string> name = iniValue(*text, group, key); name && !name->empty()) return name;
    }
  }
  return std::nullopt;
}

// The folders that hold icon themes, in lookup order.
std::vector<std::string> iconBases() {
  std::vector<std::string> bases{joined(g_get_user_data_dir(), "icons"), joined(g_get_home_dir(), ".icons")};
  for (const gchar* const* d = g_get_system_data_dirs(); *d; ++d) bases.push_back(joined(*d, "icons"));
  return bases;
}

bool isFolder(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR); }

// ---- Reading a theme ------------------------------------------------------------

std::vector<ThemeDir> themeDirs(const ThemeIndex& f) {
  constexpr const char* kMain = "Icon Theme";
  std::vector<std::string> subdirs = f.list(kMain, "Directories");
  for (std::string& d : f.list(kMain, "ScaledDirectories")) subdirs.push_back(std::move(d));
  std::vector<ThemeDir> dirs;
  std::set<std::string> seen;
  for (const std::string& subdir : subdirs) {
    if (dirs.size() == kMaxThemeDirs) break;
    if (!seen.insert(subdir).second || !f.hasGroup(subdir)) continue;
    const char* g = subdir.c_str();
    ThemeDir dir;
    dir.subdir = subdir;
    dir.size = f.integer(g, "Size", 0);
    if (dir.size <= 0) continue;
    dir.scale = f.integer(g, "Scale", 1);
    dir.minSize = f.integer(g, "MinSize", dir.size);
    dir.maxSize = f.integer(g, "MaxSize", dir.size);
    dir.threshold = f.integer(g, "Threshold", 2);
    const std::string type = f.string(g, "Type").value_or("Threshold");
    dir.type = type == "Fixed" ? DirType::fixed : type == "Scalable" ? DirType::scalable : DirType::threshold;
    dirs.push_back(std::move(dir));
  }
  return dirs;
}

// Splits a file name into the icon name and its extension's flag.
std::optional<std::pair<std::string_view, uint16_t>> iconFileName(std::string_view file) {
  for (const Extension& e : kExtensions) {
    const std::string_view suffix = e.suffix;
    if (file.size() > suffix.size() && file.ends_with(suffix)) return std::pair{file.substr(0, file.size() - suffix.size()), e.flag};
  }
  return std::nullopt;
}

void addImage(std::vector<Image>& images, uint16_t dir, uint16_t flag) {
  if (!images.empty() && images.back().dir == dir) {
    images.back().flags |= flag;
  } else {
    images.push_back({dir, flag});
  }
}

void indexRoot(ThemeRoot& root, const std::vector<ThemeDir>& dirs) {
  root.cache = openIconCache(root.path);
  if (!root.cache.bytes.empty()) {
    std::unordered_map<std::string_view, int> byName;
    for (size_t i = 0; i < dirs.size(); ++i) byName.emplace(dirs[i].subdir, static_cast<int>(i));
    const std::vector<std::string_view> cached = cacheDirectories(root.cache.bytes);
    if (!cached.empty() && iconCacheIsWhole(root.cache.bytes)) {
      for (std::string_view d : cached) {
        const auto it = byName.find(d);
        root.cacheToDir.push_back(it == byName.end() ? -1 : it->second);
      }
      return;
    }
    root.cache = MappedCache();  // not a cache we can read: list instead
  }
  for (size_t i = 0; i < dirs.size(); ++i) {
    GDir* folder = g_dir_open(joined(root.path, dirs[i].subdir).c_str(), 0, nullptr);
    if (!folder) continue;
    while (const gchar* file = g_dir_read_name(folder)) {
      if (const auto icon = iconFileName(file)) addImage(root.listed[std::string(icon->first)], static_cast<uint16_t>(i), icon->second);
    }
    g_dir_close(folder);
  }
}

std::optional<Theme> loadTheme(const std::vector<std::string>& bases, const std::string& name) {
  Theme theme;
  std::unique_ptr<ThemeIndex> index;
  for (const std::string& base : bases) {
    const std::string root = joined(base, name);
    if (!isFolder(root)) continue;
    theme.roots.push_back({root, {}, {}, {}});
    if (index) continue;
    if (std::optional<std::string> text = readRegularFile(joined(root, "index.theme"), kMaxIndexBytes)) index = ThemeIndex::read(std::move(*text));
  }
  if (!index) return std::nullopt;  // a folder without an index is not a theme
  theme.parents = index->list("Icon Theme", "Inherits");
  theme.dirs = themeDirs(*index);
  for (ThemeRoot& root : theme.roots) indexRoot(root, theme.dirs);
  return theme;
}

// The theme, then what it inherits depth first, each theme once, then
// hicolor; walked with a stack of its own, so a chain of any length costs no
// call depth.
std::vector<Theme> themeChain(const std::vector<std::string>& bases, const std::string& first) {
  std::vector<Theme> chain;
  std::set<std::string> seen;
  std::vector<std::string> pending{first};
  while (!pending.empty() && chain.size() < kMaxThemes) {
    const std::string name = std::move(pending.back());
    pending.pop_back();
    if (!seen.insert(name).second) continue;
    std::optional<Theme> theme = loadTheme(bases, name);
    if (!theme) continue;
    for (auto parent = theme->parents.rbegin(); parent != theme->parents.rend(); ++parent)
      if (isThemeName(*parent) && !seen.count(*parent)) pending.push_back(*parent);
    chain.push_back(std::move(*theme));
  }
  if (!seen.count("hicolor")) {
    if (std::optional<Theme> hicolor = loadTheme(bases, "hicolor")) chain.push_back(std::move(*hicolor));
  }
  return chain;
}

// ---- Looking up ---------------------------------------------------------------

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
  long low = d.size, high = d.size;
  if (d.type == DirType::scalable) {
    low = d.minSize;
    high = d.maxSize;
  } else if (d.type == DirType::threshold) {
    low = long{d.size} - d.threshold;
    high = long{d.size} + d.threshold;
  }
  low *= d.scale;
  high *= d.scale;
  const long distance = size < low ? low - size : size > high ? size - high : 0;
  return distance > INT_MAX ? INT_MAX : static_cast<int>(distance);
}

std::vector<Image> imagesIn(const ThemeRoot& root, const std::string& name) {
  if (root.cache.bytes.empty()) {
    const auto it = root.listed.find(name);
    return it == root.listed.end() ? std::vector<Image>{} : it->second;
  }
  std::vector<Image> images;
  for (const CachedImage& c : cachedImages(root.cache.bytes, name)) {
    const int dir = c.directory < root.cacheToDir.size() ? root.cacheToDir[c.directory] : -1;
    if (dir >= 0) images.push_back({static_cast<uint16_t>(dir), c.flags});
  }
  return images;
}

// One theme without its parents: a folder of the right size first, else the
// folder whose size is nearest; among equals the folder listed first, in the
// base folder searched first.
std::string lookupInTheme(const Theme& theme, const std::string& name, int size) {
  struct Best {
    int distance = INT_MAX;
    size_t dir = SIZE_MAX;
    size_t root = SIZE_MAX;
    uint16_t flags = 0;
  } best;
  for (size_t r = 0; r < theme.roots.size(); ++r) {
    for (const Image& image : imagesIn(theme.roots[r], name)) {
      if (image.dir >= theme.dirs.size()) continue;
      const ThemeDir& d = theme.dirs[image.dir];
      const int distance = matchesSize(d, size) ? -1 : sizeDistance(d, size);
      if (distance < best.distance || (distance == best.distance && image.dir < best.dir)) best = {distance, image.dir, r, image.flags};
    }
  }
  if (best.root == SIZE_MAX) return {};
  for (const Extension& e : kExtensions)
    if (best.flags & e.flag) return joined(joined(theme.roots[best.root].path, theme.dirs[best.dir].subdir), name + e.suffix);
  return {};
}

// The theme's name, settled once: on the thread that first asks.
const std::string& chosenTheme() {
  static std::once_flag once;
  static std::string name;
  std::call_once(once, [] { name = chosenThemeName(); });
  return name;
}

IconSearch buildSearch() {
  IconSearch s;
  const std::vector<std::string> bases = iconBases();
  s.chain = themeChain(bases, chosenTheme());
  std::vector<std::string> folders = bases;
  folders.push_back(joined(g_get_user_data_dir(), "pixmaps"));
  for (const gchar* const* d = g_get_system_data_dirs(); *d; ++d) folders.push_back(joined(*d, "pixmaps"));
  for (const std::string& folder : folders) {
    std::unordered_set<std::string> files;
    if (GDir* dir = g_dir_open(folder.c_str(), 0, nullptr)) {
      while (const gchar* name = g_dir_read_name(dir)) files.emplace(name);
      g_dir_close(dir);
    }
    if (!files.empty()) s.unthemed.emplace_back(folder, std::move(files));
  }
  return s;
}

}  // namespace

std::string chosenThemeName() {
  std::optional<std::string> name = gsettingsTheme();
  if (!name || !isThemeName(*name)) name = configuredTheme({"gtk-3.0/settings.ini", "gtk-4.0/settings.ini"}, "Settings", "gtk-icon-theme-name");
  if (!name || !isThemeName(*name)) name = configuredTheme({"kdeglobals"}, "Icons", "Theme");
  if (name && isThemeName(*name)) return *name;
  for (const std::string& base : iconBases())
    if (g_file_test(joined(base, "Adwaita/index.theme").c_str(), G_FILE_TEST_IS_REGULAR)) return "Adwaita";
  return "hicolor";
}

namespace {

// Built once and never changed after, so lookups on several threads share
// it; any that come while it is built wait.
const IconSearch& iconSearch() {
  static const IconSearch search = buildSearch();
  return search;
}

}  // namespace

void chooseTheme() noexcept {
  try {
    chosenTheme();
  } catch (const std::exception&) {
    // Out of memory: the first lookup tries again.
  }
}

void readThemes() noexcept {
  try {
    iconSearch();
  } catch (const std::exception&) {
    // Out of memory: the first lookup tries again.
  }
}

std::string lookupThemedIcon(std::string_view iconName, int size) {
  // A name is one file name; one with a slash would reach outside the themes.
  if (iconName.empty() || iconName.find('/') != std::string_view::npos) return {};
  const IconSearch& search = iconSearch();
  const std::string name(iconName);
  for (const Theme& theme : search.chain)
    if (std::string file = lookupInTheme(theme, name, size); !file.empty()) return file;
  for (const auto& [folder, files] : search.unthemed) {
    for (const Extension& e : kExtensions)
      if (files.count(name + e.suffix)) return joined(folder, name + e.suffix);
  }
  return {};
}

}  // namespace corvane::gio
