// corvane's icons over the themes Debian ships, against the libraries whose
// answers they stand in for: every application icon name resolves to the
// file GTK 3's own lookup loads, and every such drawing that corvane draws
// itself looks as librsvg draws it. A theme that is not installed skips
// with the command that installs it, and fails under CI, which installs
// them all.
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "lister/gio/files.h"
#include "lister/gio/image/svg_icon.h"
#include "lister/gio/lookup/icon_theme.h"
#include "tests/lister/unit/drawing_compare.h"

namespace {

using corvane::gio::IconThemes;
using namespace corvane::test;

constexpr int kSize = 32;

struct DebianTheme {
  const char* name;
  const char* package;
};
constexpr DebianTheme kThemes[] = {
    {"Papirus", "papirus-icon-theme"},
    {"breeze", "breeze-icon-theme"},
    {"Adwaita", "adwaita-icon-theme"},
    {"hicolor", "hicolor-icon-theme"},
};

bool underCi() {
  const char* ci = std::getenv("CI");
  return ci && std::string_view(ci) == "true";
}

std::string themeFolder(const DebianTheme& t) { return std::string("/usr/share/icons/") + t.name; }

bool installed(const DebianTheme& t) { return std::filesystem::is_regular_file(themeFolder(t) + "/index.theme"); }

#define REQUIRE_THEME(t)                                                                                       \
  do {                                                                                                         \
    if (!installed(t)) {                                                                                       \
      if (underCi()) FAIL() << (t).name << " is not installed: CI installs " << (t).package;                   \
      GTEST_SKIP() << (t).name << " is not installed: apt-get install " << (t).package;                        \
    }                                                                                                          \
  } while (0)

// The names of application icons: every icon in an Applications folder of
// the themes above, and every themed Icon= of the installed desktop files.
const std::vector<std::string>& applicationIconNames() {
  static const std::vector<std::string> names = [] {
    std::set<std::string> found;
    for (const DebianTheme& t : kThemes) {
      GKeyFile* index = g_key_file_new();
      g_key_file_set_list_separator(index, ',');
      if (g_key_file_load_from_file(index, (themeFolder(t) + "/index.theme").c_str(), G_KEY_FILE_NONE, nullptr)) {
        gchar** dirs = g_key_file_get_string_list(index, "Icon Theme", "Directories", nullptr, nullptr);
        for (gchar** d = dirs; d && *d; ++d) {
          gchar* context = g_key_file_get_string(index, *d, "Context", nullptr);
          if (context && (std::string_view(context) == "Applications" || std::string_view(context) == "Apps")) {
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(themeFolder(t) + "/" + *d, ec)) {
              const std::string file = entry.path().filename();
              for (const char* suffix : {".png", ".svg", ".xpm"})
                if (file.size() > 4 && file.ends_with(suffix)) found.insert(file.substr(0, file.size() - 4));
            }
          }
          g_free(context);
        }
        g_strfreev(dirs);
      }
      g_key_file_free(index);
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/share/applications", ec)) {
      if (entry.path().extension() != ".desktop") continue;
      const auto text = corvane::gio::readRegularFile(entry.path(), 1 << 20);
      const auto icon = text ? corvane::gio::iniValue(*text, "Desktop Entry", "Icon") : std::nullopt;
      if (icon && !icon->empty() && icon->find('/') == std::string::npos) found.insert(*icon);
    }
    return std::vector<std::string>(found.begin(), found.end());
  }();
  return names;
}

void PrintTo(const DebianTheme& t, std::ostream* os) { *os << t.name; }

class ThemeTest : public testing::TestWithParam<DebianTheme> {};

TEST_P(ThemeTest, EveryApplicationIconIsTheFileGtkLoads) {
  const DebianTheme& t = GetParam();
  REQUIRE_THEME(t);
  const std::vector<std::string>& names = applicationIconNames();
  ASSERT_GT(names.size(), 100u);
  GtkIconTheme* gtk = gtk_icon_theme_new();
  gtk_icon_theme_set_custom_theme(gtk, t.name);
  const IconThemes mine(IconThemes::defaultSearchPath(), t.name);
  size_t found = 0, differ = 0;
  for (const std::string& name : names) {
    GtkIconInfo* info = gtk_icon_theme_lookup_icon(gtk, name.c_str(), kSize, static_cast<GtkIconLookupFlags>(0));
    std::string expected = info && gtk_icon_info_get_filename(info) ? gtk_icon_info_get_filename(info) : "";
    if (info) g_object_unref(info);
    // GTK's own icons, compiled into it, are no file corvane could load.
    if (expected.starts_with("/org/gtk/")) continue;
    const std::string actual = mine.lookup(name, kSize);
    found += !expected.empty();
    if (actual != expected && ++differ <= 20) ADD_FAILURE() << name << ": GTK loads \"" << expected << "\", corvane \"" << actual << "\"";
  }
  g_object_unref(gtk);
  EXPECT_EQ(differ, 0u);
  std::printf("%s: %zu application icon names, %zu found, %zu resolved otherwise than GTK\n", t.name, names.size(), found, differ);
}

// The bound is drawing_compare.h's: a mean of one level, 48 at any pixel.
// Papirus's own icons show it strict enough: round joins that turned back by
// 180 degrees on the wrong side put cc3d's and foursquare's 157 and 141
// levels out at a pixel, and a fill's overlapping strands counted twice put
// breeze's acroread 71 out.
TEST_P(ThemeTest, EveryApplicationDrawingCorvaneDrawsLooksAsLibrsvgDrawsIt) {
  const DebianTheme& t = GetParam();
  REQUIRE_THEME(t);
  const IconThemes mine(IconThemes::defaultSearchPath(), t.name);
  std::set<std::string> files;
  for (const std::string& name : applicationIconNames())
    if (std::string file = mine.lookup(name, kSize); !file.empty()) files.insert(std::move(file));
  size_t drawings = 0, declined = 0, pngs = 0;
  double total = 0, worstMean = 0;
  std::string worst;
  for (const std::string& file : files) {
    if (!file.ends_with(".svg")) {
      pngs += file.ends_with(".png");
      continue;
    }
    const std::optional<std::string> bytes = corvane::gio::readRegularFile(file, 512 << 10);
    if (!bytes) continue;
    ++drawings;
    const std::optional<Rgba> drawn = drawing(*bytes, kSize);
    if (!drawn) {
      ++declined;
      continue;
    }
    SCOPED_TRACE(file);
    const std::optional<Rgba> expected = generalDrawing(*bytes, kSize);
    ASSERT_TRUE(expected) << "drawn here but not by librsvg";
    const Difference d = difference(*drawn, *expected);
    EXPECT_LT(d.mean, kMeanTolerance);
    EXPECT_LT(d.largest, kPixelTolerance);
    total += d.mean;
    if (d.mean > worstMean) worstMean = d.mean, worst = file;
  }
  const size_t drawn = drawings - declined;
  std::printf("%s: %zu application icons (%zu PNG, %zu drawings); %zu drawings declined for librsvg (%.1f%% of the icons); drawn: mean difference %.3f, the worst %.3f (%s)\n",
              t.name, files.size(), pngs, drawings, declined, 100.0 * declined / std::max<size_t>(files.size(), 1), total / std::max<size_t>(drawn, 1),
              worstMean, worst.c_str());
}

INSTANTIATE_TEST_SUITE_P(Debian, ThemeTest, testing::ValuesIn(kThemes), [](const testing::TestParamInfo<DebianTheme>& info) { return std::string(info.param.name); });

}  // namespace
