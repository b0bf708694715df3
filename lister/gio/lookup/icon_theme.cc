// Which folders make up a theme comes from its index.theme. Which icons a
// theme folder holds comes from its root's icon-theme.cache where that is
// current, else from listing the folder once. Every theme GTK would search
// is indexed so before the first lookup, in GTK's own order: its quirks
// (a later theme's folders looked for in the roots of every theme tried
// before it, ties going to the folder met last, a weighing whose outcome
// depends on that order) decide real icons, so they are followed rather
// than mended.
#include "lister/gio/lookup/icon_theme.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
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
// Theme names tried for one theme and what it inherits, found or not, and
// the theme folders they add (GTK keeps every one, so a name inherited twice
// adds its folders twice).
constexpr size_t kMaxThemeTries = 256;
constexpr size_t kMaxRootPlaces = 1024;
constexpr size_t kMaxEntries = 1 << 16;

enum class DirType { fixed, scalable, threshold };

// A folder of a theme as its index describes it.
struct DirDef {
  std::string subdir;
  DirType type = DirType::threshold;
  int size = 0;
  int minSize = 0;
  int maxSize = 0;
  int threshold = 2;
  int scale = 1;
};

// Which files of one icon a folder holds: the cache's bits, and one more for
// a listed "name.symbolic.png".
constexpr uint16_t kSymbolicPng = 16;
constexpr uint16_t kImageFlags = kCachedXpm | kCachedSvg | kCachedPng | kSymbolicPng;

struct Image {
  int32_t folder;  // the root's cache folder index, or its listed folder
  uint16_t flags;
};

// One folder search-path/theme-name: its cache where current, else its
// subfolders listed as a theme asks for them.
struct Root {
  std::string path;
  bool exists = false;
  MappedCache cache;
  std::unordered_map<std::string_view, int32_t> cacheFolders;  // cache folder name -> index
  std::unordered_map<std::string, int32_t> listedFolders;      // subfolder -> index, -1 when none
  std::unordered_map<std::string, std::vector<Image>> listed;  // icon name -> where listed
};

// A theme folder in one root, in the order GTK weighs them.
struct Entry {
  uint32_t def;
  uint32_t root;
};

struct Theme {
  std::vector<DirDef> defs;
  std::vector<Entry> entries;
  std::vector<uint32_t> roots;  // each root its entries are in, once
  std::unordered_map<uint64_t, std::vector<uint32_t>> entriesOf;  // root << 32 | folder -> entries
};

struct Unthemed {
  std::string svg, other;  // the first drawing found; the best other file
  uint16_t otherFlag = 0;
};

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

  bool hasKey(const char* group, const char* key) const {
    return plain_ ? plain_->value(group, key).has_value() : g_key_file_has_key(keyFile_.get(), group, key, nullptr);
  }

  // None where the key is missing or not a number in int range.
  std::optional<int> integer(const char* group, const char* key) const {
    if (plain_) return plain_->integer(group, key);
    if (!g_key_file_has_key(keyFile_.get(), group, key, nullptr)) return std::nullopt;
    GError* error = nullptr;
    const int value = g_key_file_get_integer(keyFile_.get(), group, key, &error);
    if (error) {
      g_error_free(error);
      return std::nullopt;
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

bool isFolder(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR); }

// ---- Reading the themes as GTK 3 does -------------------------------------------

std::vector<DirDef> themeDirs(const ThemeIndex& f) {
  constexpr const char* kMain = "Icon Theme";
  std::vector<std::string> subdirs = f.list(kMain, "Directories");
  for (std::string& d : f.list(kMain, "ScaledDirectories")) subdirs.push_back(std::move(d));
  std::vector<DirDef> dirs;
  std::set<std::string> seen;
  for (const std::string& subdir : subdirs) {
    if (dirs.size() == kMaxThemeDirs) break;
    // A folder listed twice weighs the same both times: once is enough.
    if (!seen.insert(subdir).second || !f.hasGroup(subdir)) continue;
    const char* g = subdir.c_str();
    DirDef dir;
    dir.subdir = subdir;
    const std::optional<int> size = f.integer(g, "Size");
    if (!size) continue;
    dir.size = *size;
    // As GTK reads them: a key given but not a number counts as 0.
    const auto optional = [&](const char* key, int fallback) { return f.hasKey(g, key) ? f.integer(g, key).value_or(0) : fallback; };
    dir.scale = optional("Scale", 1);
    dir.minSize = optional("MinSize", dir.size);
    dir.maxSize = optional("MaxSize", dir.size);
    dir.threshold = optional("Threshold", 2);
    const std::string type = f.string(g, "Type").value_or("Threshold");
    dir.type = type == "Fixed" ? DirType::fixed : type == "Scalable" ? DirType::scalable : DirType::threshold;
    dirs.push_back(std::move(dir));
  }
  return dirs;
}

// The icon name and flag of a file name, as GTK strips them.
std::optional<std::pair<std::string_view, uint16_t>> iconFileName(std::string_view file) {
  static constexpr std::pair<std::string_view, uint16_t> kSuffixes[] = {
      {".symbolic.png", kSymbolicPng}, {".png", kCachedPng}, {".svg", kCachedSvg}, {".xpm", kCachedXpm}};
  for (const auto& [suffix, flag] : kSuffixes)
    if (file.size() > suffix.size() && file.ends_with(suffix)) return std::pair{file.substr(0, file.size() - suffix.size()), flag};
  return std::nullopt;
}

// The file GTK takes among a folder's files of one icon: a symbolic PNG, a
// PNG, a drawing, an XPM.
const char* bestSuffix(uint16_t flags) {
  if (flags & kSymbolicPng) return ".symbolic.png";
  if (flags & kCachedPng) return ".png";
  if (flags & kCachedSvg) return ".svg";
  if (flags & kCachedXpm) return ".xpm";
  return nullptr;
}

// GTK's distance of a folder from the size asked for; 0 when it serves it.
long sizeDifference(const DirDef& d, int size) {
  const long scaled = size, dirScale = d.scale;
  switch (d.type) {
    case DirType::fixed: return std::labs(scaled - long{d.size} * dirScale);
    case DirType::scalable:
      if (scaled < long{d.minSize} * dirScale) return long{d.minSize} * dirScale - scaled;
      if (scaled > long{d.maxSize} * dirScale) return scaled - long{d.maxSize} * dirScale;
      return 0;
    case DirType::threshold: {
      const long low = (long{d.size} - d.threshold) * dirScale, high = (long{d.size} + d.threshold) * dirScale;
      return scaled < low ? low - scaled : scaled > high ? scaled - high : 0;
    }
  }
  return 0;
}

// Whether folder a, met after b, takes the icon from it, as GTK 3.24 weighs
// them: one that serves the size; else one to shrink over one to enlarge,
// then the nearer; then the right scale; then a fixed size over a scalable
// one; then the nearer nominal size, a tie going to a.
bool betterMatch(const DirDef& a, long differenceA, const DirDef& b, long differenceB, int size) {
  if (differenceA == 0) {
    if (differenceB != 0) return true;
  } else {
    if (a.size >= size && b.size < size) return true;
    if (a.size < size && b.size >= size) return false;
    if (differenceA != differenceB) return differenceA < differenceB;
  }
  if ((a.scale == 1) != (b.scale == 1)) return a.scale == 1;
  if ((a.type == DirType::scalable) != (b.type == DirType::scalable)) return b.type == DirType::scalable;
  return std::labs(long{size} - long{a.size} * a.scale) <= std::labs(long{size} - long{b.size} * b.scale);
}

}  // namespace

struct IconThemes::State {
  std::vector<std::string> searchPath;
  std::vector<Root> roots;
  std::unordered_map<std::string, uint32_t> rootIndex;  // path -> roots
  std::vector<uint32_t> places;  // the theme folders in GTK's order, latest first, repeats kept
  std::vector<std::string> names;  // of the themes in `themes`
  std::vector<Theme> themes;  // in search order
  std::unordered_map<std::string, Unthemed> unthemed;
  size_t entries = 0;

  uint32_t rootFor(const std::string& path) {
    if (const auto it = rootIndex.find(path); it != rootIndex.end()) return it->second;
    Root root;
    root.path = path;
    root.exists = isFolder(path);
    if (root.exists) {
      root.cache = openIconCache(path);
      const std::vector<std::string_view> folders = cacheDirectories(root.cache.bytes);
      if (!folders.empty() && root.cache.isWhole()) {
        for (size_t i = 0; i < folders.size(); ++i) root.cacheFolders.emplace(folders[i], static_cast<int32_t>(i));
      } else {
        root.cache = MappedCache();  // not a cache we can read: list instead
      }
    }
    roots.push_back(std::move(root));
    rootIndex.emplace(path, static_cast<uint32_t>(roots.size() - 1));
    return static_cast<uint32_t>(roots.size() - 1);
  }

  // The root's index of a theme folder that holds icons, or -1.
  static int32_t folderOf(Root& root, const std::string& subdir) {
    if (!root.cache.bytes.empty()) {
      const auto it = root.cacheFolders.find(subdir);
      return it == root.cacheFolders.end() ? -1 : it->second;
    }
    if (const auto it = root.listedFolders.find(subdir); it != root.listedFolders.end()) return it->second;
    int32_t index = -1;
    if (GDir* folder = g_dir_open(joined(root.path, subdir).c_str(), 0, nullptr)) {
      const auto id = static_cast<int32_t>(root.listedFolders.size());
      while (const gchar* file = g_dir_read_name(folder)) {
        const auto icon = iconFileName(file);
        if (!icon) continue;
        std::vector<Image>& images = root.listed[std::string(icon->first)];
        if (images.empty() || images.back().folder != id) images.push_back({id, 0});
        images.back().flags |= icon->second;
        index = id;
      }
      g_dir_close(folder);
    }
    root.listedFolders.emplace(subdir, index);
    return index;
  }

  // GTK's insert_theme, with a stack of its own in place of the recursion:
  // the theme once, its folders in every root tried so far, then what it
  // inherits, depth first.
  // Each call inserts at most kMaxThemes themes, so that a chain without end
  // still leaves room for the fallbacks after it.
  void insert(const std::string& first) {
    std::vector<std::string> pending{first};
    const size_t themesBefore = themes.size();
    for (size_t tries = 0; !pending.empty() && themes.size() - themesBefore < kMaxThemes && tries < kMaxThemeTries;) {
      const std::string name = std::move(pending.back());
      pending.pop_back();
      if (!isThemeName(name) || std::find(names.begin(), names.end(), name) != names.end()) continue;
      ++tries;
      std::vector<uint32_t> own;
      for (const std::string& base : searchPath) own.push_back(rootFor(joined(base, name)));
      for (uint32_t r : own) {
        if (places.size() >= kMaxRootPlaces) break;
        places.insert(places.begin(), r);
      }
      std::unique_ptr<ThemeIndex> index;
      for (uint32_t r : own) {
        if (!roots[r].exists) continue;
        if (std::optional<std::string> text = readRegularFile(joined(roots[r].path, "index.theme"), kMaxIndexBytes))
          if ((index = ThemeIndex::read(std::move(*text)))) break;
      }
      // Without an index, or one that lists no folders, not a theme.
      if (!index || !index->string("Icon Theme", "Directories")) continue;
      Theme theme;
      theme.defs = themeDirs(*index);
      for (size_t d = 0; d < theme.defs.size(); ++d) {
        for (uint32_t r : places) {
          if (!roots[r].exists || entries >= kMaxEntries) continue;
          const int32_t folder = folderOf(roots[r], theme.defs[d].subdir);
          if (folder < 0) continue;
          const auto entry = static_cast<uint32_t>(theme.entries.size());
          theme.entries.push_back({static_cast<uint32_t>(d), r});
          ++entries;
          std::vector<uint32_t>& of = theme.entriesOf[uint64_t{r} << 32 | static_cast<uint32_t>(folder)];
          if (of.empty() && std::find(theme.roots.begin(), theme.roots.end(), r) == theme.roots.end()) theme.roots.push_back(r);
          of.push_back(entry);
        }
      }
      const std::vector<std::string> parents = index->list("Icon Theme", "Inherits");
      for (auto parent = parents.rbegin(); parent != parents.rend(); ++parent) pending.push_back(*parent);
      names.push_back(name);
      themes.push_back(std::move(theme));
    }
  }

  // Files directly in the search path's folders, for names no theme has; a
  // folder with a current icon-theme.cache is passed over, as GTK does.
  void readUnthemed() {
    for (const std::string& folder : searchPath) {
      if (!isFolder(folder) || !openIconCache(folder).bytes.empty()) continue;
      GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
      if (!dir) continue;
      while (const gchar* file = g_dir_read_name(dir)) {
        const auto icon = iconFileName(file);
        if (!icon) continue;
        Unthemed& u = unthemed[std::string(icon->first)];
        const std::string path = joined(folder, file);
        if (icon->second == kCachedSvg) {
          if (u.svg.empty()) u.svg = path;
        } else if (icon->second > u.otherFlag) {
          u.other = path;
          u.otherFlag = icon->second;
        }
      }
      g_dir_close(dir);
    }
  }

  std::vector<Image> imagesIn(const Root& root, const std::string& name) const {
    std::vector<Image> images;
    if (root.cache.bytes.empty()) {
      if (const auto it = root.listed.find(name); it != root.listed.end()) images = it->second;
      return images;
    }
    for (const CachedImage& c : cachedImages(root.cache.bytes, name))
      if (c.flags & kImageFlags) images.push_back({c.directory, static_cast<uint16_t>(c.flags & kImageFlags)});
    // The cache keeps "name.symbolic.png" under "name.symbolic".
    if (name.ends_with("-symbolic")) {
      for (const CachedImage& c : cachedImages(root.cache.bytes, name + ".symbolic")) {
        if (!(c.flags & kCachedPng)) continue;
        const auto it = std::find_if(images.begin(), images.end(), [&](const Image& i) { return i.folder == c.directory; });
        if (it == images.end()) images.push_back({c.directory, kSymbolicPng});
        else it->flags = kSymbolicPng;
      }
    }
    return images;
  }

  // GTK's theme_lookup_icon: every folder of the theme that has the icon,
  // weighed in the theme's order.
  std::string lookupInTheme(const Theme& theme, const std::string& name, int size) const {
    std::vector<std::pair<uint32_t, uint16_t>> found;  // entry, flags
    for (uint32_t r : theme.roots) {
      for (const Image& image : imagesIn(roots[r], name)) {
        const auto it = theme.entriesOf.find(uint64_t{r} << 32 | static_cast<uint32_t>(image.folder));
        if (it == theme.entriesOf.end()) continue;
        for (uint32_t entry : it->second) found.emplace_back(entry, image.flags);
      }
    }
    if (found.empty()) return {};
    std::sort(found.begin(), found.end());
    size_t best = 0;
    long bestDifference = sizeDifference(theme.defs[theme.entries[found[0].first].def], size);
    for (size_t i = 1; i < found.size(); ++i) {
      const DirDef& d = theme.defs[theme.entries[found[i].first].def];
      const long difference = sizeDifference(d, size);
      if (betterMatch(d, difference, theme.defs[theme.entries[found[best].first].def], bestDifference, size)) best = i, bestDifference = difference;
    }
    const Entry& e = theme.entries[found[best].first];
    return joined(joined(roots[e.root].path, theme.defs[e.def].subdir), name + bestSuffix(found[best].second));
  }

  std::string lookup(const std::string& name, int size) const {
    for (const Theme& theme : themes)
      if (std::string file = lookupInTheme(theme, name, size); !file.empty()) return file;
    const auto it = unthemed.find(name);
    if (it == unthemed.end()) return {};
    // A drawing beats an XPM, not a PNG.
    const Unthemed& u = it->second;
    if (!u.svg.empty() && (u.other.empty() || u.otherFlag < kCachedPng)) return u.svg;
    return u.other;
  }
};

IconThemes::IconThemes(std::vector<std::string> searchPath, const std::string& theme) : state_(std::make_unique<State>()) {
  state_->searchPath = std::move(searchPath);
  // Always Adwaita, gnome and hicolor after the theme and its parents, as
  // GTK 3 looks: hicolor as the icon-theme rules ask, the other two so that
  // icons a GNOME program names are there under any theme.
  for (const char* name : {theme.c_str(), "Adwaita", "gnome", "hicolor"}) state_->insert(name);
  state_->readUnthemed();
}

IconThemes::~IconThemes() = default;

std::string IconThemes::lookup(std::string_view name, int size) const {
  // A name is one file name; one with a slash would reach outside the themes.
  if (name.empty() || name.find('/') != std::string_view::npos) return {};
  return state_->lookup(std::string(name), size);
}

std::vector<std::string> IconThemes::defaultSearchPath() {
  std::vector<std::string> path{joined(g_get_user_data_dir(), "icons"), joined(g_get_home_dir(), ".icons")};
  for (const gchar* const* d = g_get_system_data_dirs(); *d; ++d) path.push_back(joined(*d, "icons"));
  for (const gchar* const* d = g_get_system_data_dirs(); *d; ++d) path.push_back(joined(*d, "pixmaps"));
  return path;
}

namespace {

// The theme's name, settled once: on the thread that first asks.
const std::string& chosenTheme() {
  static std::once_flag once;
  static std::string name;
  std::call_once(once, [] { name = chosenThemeName(); });
  return name;
}

}  // namespace

std::string chosenThemeName() {
  std::optional<std::string> name = gsettingsTheme();
  if (!name || !isThemeName(*name)) name = configuredTheme({"gtk-3.0/settings.ini", "gtk-4.0/settings.ini"}, "Settings", "gtk-icon-theme-name");
  if (!name || !isThemeName(*name)) name = configuredTheme({"kdeglobals"}, "Icons", "Theme");
  if (name && isThemeName(*name)) return *name;
  for (const std::string& base : IconThemes::defaultSearchPath())
    if (g_file_test(joined(base, "Adwaita/index.theme").c_str(), G_FILE_TEST_IS_REGULAR)) return "Adwaita";
  return "hicolor";
}

namespace {

// Built once and never changed after, so lookups on several threads share
// it; any that come while it is built wait.
const IconThemes& iconThemes() {
  static const IconThemes themes(IconThemes::defaultSearchPath(), chosenTheme());
  return themes;
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
    iconThemes();
  } catch (const std::exception&) {
    // Out of memory: the first lookup tries again.
  }
}

std::string lookupThemedIcon(std::string_view iconName, int size) { return iconThemes().lookup(iconName, size); }

}  // namespace corvane::gio
