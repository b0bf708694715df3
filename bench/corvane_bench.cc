// corvane as the host runs it, a whole process per call, on a plain text
// file against a database of 200 applications whose icons are real icons of
// the themes installed here (Adwaita, hicolor), beside GLib's own
// `gio mime text/plain` on the same database. The two run in turn, A B A B,
// so a drift of the shared machine hits both; each figure is the median of
// the runs, with the ratio corvane / gio mime pair by pair. Twins of the
// database tell what the icons cost: one without icons, one whose icons are
// the same less those the themes have as drawings only or also (which need
// librsvg), one whose only icon is a drawing. Peak resident size is the
// kernel's accounting of each finished child, the largest of the runs.
//
// Then the same on the desktop files Debian's packages installed here, under
// each theme Debian ships: all of them, and the same less the applications
// whose icon corvane leaves to librsvg under that theme.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "lister/gio/files.h"
#include "lister/gio/image/svg_icon.h"
#include "lister/gio/lookup/icon_theme.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kApps = 200;
const fs::path kSystemData = "/usr/share";

void writeFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

struct Run {
  double wallMs = 0;
  long peakKiB = 0;
  bool ok = false;
};

Run run(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  Run r;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int err = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return r;
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  r.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  r.peakKiB = usage.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

std::string capture(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  const fs::path out = fs::temp_directory_path() / ("corvane-bench-out-" + std::to_string(getpid()));
  std::string command;
  for (const std::string& e : env) command += "'" + e + "' ";
  for (const std::string& a : argv) command += "'" + a + "' ";
  std::system(("env -i " + command + ">" + out.string()).c_str());
  std::ifstream in(out);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(out);
  return text;
}

struct IconName {
  std::string name;
  bool png = false;      // some file of it is a PNG
  bool drawing = false;  // some file of it is an SVG
};

// The environment of a desktop whose applications are in root/data: the
// system's folders named (its MIME database, themes, schemas) beside them,
// its own home and configuration, the applications folder's cache written.
std::vector<std::string> desktopOf(const fs::path& root, std::initializer_list<const char*> systemFolders) {
  const fs::path data = root / "data", shared = root / "share";
  fs::create_directories(shared);
  for (const char* folder : systemFolders)
    if (fs::exists(kSystemData / folder)) fs::create_directory_symlink(kSystemData / folder, shared / folder);
  fs::create_directories(root / "home");
  std::system(("update-desktop-database '" + (data / "applications").string() + "'").c_str());
  return {"PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"),
          "HOME=" + (root / "home").string(),
          "XDG_DATA_HOME=" + (root / "home/.local/share").string(),
          "XDG_DATA_DIRS=" + data.string() + ":" + shared.string(),
          "XDG_CONFIG_HOME=" + (root / "config").string(),
          "XDG_CONFIG_DIRS=" + (root / "config-sys").string()};
}

// Icon names the installed Adwaita and hicolor themes draw, as files: a
// spread across the alphabet of all of them, so the mix of sizes and
// formats is the themes' own.
std::vector<IconName> realIconNames() {
  std::map<std::string, IconName> names;
  for (const char* theme : {"Adwaita", "hicolor"}) {
    const fs::path root = kSystemData / "icons" / theme;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const fs::path& p = it->path();
      const std::string ext = p.extension().string();
      const std::string stem = p.stem().string();
      // Symbolic icons (and their -rtl and -ltr variants) are glyphs for
      // buttons, recoloured by the toolkit: no application shows one.
      if ((ext == ".png" || ext == ".svg") && stem.find("-symbolic") == std::string::npos && !stem.ends_with(".symbolic")) {
        IconName& n = names[stem];
        n.name = stem;
        (ext == ".png" ? n.png : n.drawing) = true;
      }
    }
  }
  std::vector<IconName> all, picked;
  for (auto& [stem, n] : names) all.push_back(std::move(n));
  for (size_t i = 0; i < kApps && !all.empty(); ++i) picked.push_back(all[i * all.size() / kApps]);
  return picked;
}

// Which of the applications name an icon.
enum Icons : int64_t {
  kNoIcons,
  kAllIcons,     // every one: the real icons of the themes
  kPngIcons,     // the same, less those with a drawing among their files
  kOneDrawing,   // one, of an icon the themes have as a drawing
};

// A desktop's database: 200 editors of plain text and a default, the
// system's MIME database, icon themes and settings schemas (so the theme is
// the one GTK programs would show), and no GTK settings file.
struct Database {
  fs::path root;
  fs::path textFile;
  std::vector<std::string> env;
  size_t names = 0;
  size_t icons = 0;  // applications that name one

  explicit Database(Icons which) {
    root = fs::temp_directory_path() / ("corvane-bench-" + std::to_string(getpid()) + "-" + std::to_string(which));
    fs::remove_all(root);
    const fs::path data = root / "data";
    const std::vector<IconName> iconNames = realIconNames();
    names = iconNames.size();
    for (int i = 0; i < kApps; ++i) {
      const std::string id = "org.example.Editor" + std::to_string(i);
      std::string entry = "[Desktop Entry]\nType=Application\nExec=true %f\nName=Editor " + std::to_string((i * 37) % kApps) +
                          "\nGenericName=Text Editor\nMimeType=text/plain;text/x-csrc;\n";
      if (static_cast<size_t>(i) < iconNames.size()) {
        const IconName& n = iconNames[i];
        const bool named = which == kAllIcons || (which == kPngIcons && !n.drawing) ||
                           (which == kOneDrawing && icons == 0 && n.drawing);
        if (named) {
          entry += "Icon=" + n.name + "\n";
          ++icons;
        }
      }
      writeFile(data / "applications" / (id + ".desktop"), entry);
    }
    writeFile(root / "config/mimeapps.list", "[Default Applications]\ntext/plain=org.example.Editor7.desktop\n");
    env = desktopOf(root, {"mime", "icons", "pixmaps", "glib-2.0"});
    textFile = root / "notes.txt";
    writeFile(textFile, "A plain text file.\n");
  }
  ~Database() { fs::remove_all(root); }
};

const Database& database(Icons which) {
  static const Database databases[] = {Database(kNoIcons), Database(kAllIcons), Database(kPngIcons), Database(kOneDrawing)};
  return databases[which];
}

// The desktop files of the installed packages under one theme: every one,
// or only those whose icon corvane draws without librsvg. The file is a
// TeX source: the text editors open it, and a TeX editor whose icon under
// Papirus is a drawing corvane leaves to librsvg (latexila) names it.
constexpr const char* kThemes[] = {"Papirus", "breeze", "Adwaita"};
enum RealIcons : int64_t { kEveryApp, kNoneForLibrsvg };

// The installed desktop files whose icon, under the theme, corvane leaves to
// librsvg. Found in a child process: the themes read here would otherwise
// stay in this process, whose size the spawned commands' peaks include
// until they exec.
std::set<std::string> iconsForLibrsvg(const char* theme) {
  const fs::path out = fs::temp_directory_path() / ("corvane-bench-classes-" + std::to_string(getpid()));
  const pid_t child = fork();
  if (child == 0) {
    const corvane::gio::IconThemes themes({(kSystemData / "icons").string(), (kSystemData / "pixmaps").string()}, theme);
    std::ofstream list(out);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kSystemData / "applications", ec)) {
      const std::optional<std::string> text = corvane::gio::readRegularFile(entry.path(), 1 << 20);
      const std::string icon = text ? corvane::gio::iniValue(*text, "Desktop Entry", "Icon").value_or("") : "";
      if (icon.empty()) continue;
      const std::string file = icon[0] == '/' ? icon : themes.lookup(icon, 32);
      const std::optional<std::string> bytes = file.ends_with(".svg") ? corvane::gio::readRegularFile(file, 512 << 10) : std::nullopt;
      if (bytes && !corvane::gio::drawnSvg(*bytes, 32)) list << entry.path().filename().string() << "\n";
    }
    list.close();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::set<std::string> names;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) names.insert(line);
  fs::remove(out);
  return names;
}

struct RealDatabase {
  fs::path root;
  fs::path textFile;
  std::vector<std::string> env;
  std::set<std::string> forLibrsvg;  // desktop files whose icon librsvg draws
  size_t apps = 0;

  RealDatabase(const char* theme, RealIcons which) : forLibrsvg(iconsForLibrsvg(theme)) {
    root = fs::temp_directory_path() / ("corvane-bench-real-" + std::to_string(getpid()) + "-" + theme + "-" + std::to_string(which));
    fs::remove_all(root);
    const fs::path data = root / "data";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kSystemData / "applications", ec)) {
      if (entry.path().extension() != ".desktop" || (which == kNoneForLibrsvg && forLibrsvg.count(entry.path().filename().string()))) continue;
      fs::create_directories(data / "applications");
      fs::copy_file(entry.path(), data / "applications" / entry.path().filename(), ec);
      ++apps;
    }
    writeFile(root / "config/gtk-3.0/settings.ini", std::string("[Settings]\ngtk-icon-theme-name=") + theme + "\n");
    // No settings schemas: the theme is the one settings.ini names.
    env = desktopOf(root, {"mime", "icons", "pixmaps"});
    textFile = root / "notes.tex";
    writeFile(textFile, "\\documentclass{article}\n\\begin{document}A note.\\end{document}\n");
  }
  ~RealDatabase() { fs::remove_all(root); }
};

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// corvane and gio mime in turn, A B A B; the medians and the peaks.
void timeInTurn(benchmark::State& state, const std::vector<std::string>& corvane, const std::vector<std::string>& gio, const std::vector<std::string>& env) {
  std::vector<double> corvaneMs, gioMs, ratios;
  long corvanePeak = 0, gioPeak = 0;
  for (auto _ : state) {
    const Run a = run(corvane, env);
    const Run b = run(gio, env);
    if (!a.ok || !b.ok) {
      state.SkipWithError("a command failed");
      return;
    }
    corvaneMs.push_back(a.wallMs);
    gioMs.push_back(b.wallMs);
    ratios.push_back(a.wallMs / b.wallMs);
    corvanePeak = std::max(corvanePeak, a.peakKiB);
    gioPeak = std::max(gioPeak, b.peakKiB);
  }
  state.counters["corvane_ms"] = median(corvaneMs);
  state.counters["gio_mime_ms"] = median(gioMs);
  state.counters["time_ratio"] = median(ratios);
  state.counters["corvane_peak_MiB"] = static_cast<double>(corvanePeak) / 1024;
  state.counters["gio_mime_peak_MiB"] = static_cast<double>(gioPeak) / 1024;
  state.counters["peak_ratio"] = gioPeak ? static_cast<double>(corvanePeak) / static_cast<double>(gioPeak) : 0;
}

void BM_CorvaneBesideGioMime(benchmark::State& state) {
  const auto which = static_cast<Icons>(state.range(0));
  const Database& db = database(which);
  const std::vector<std::string> corvane{CORVANE_PATH, db.textFile.string()};
  const std::vector<std::string> gio{"gio", "mime", "text/plain"};
  const std::string doc = capture(corvane, db.env);
  if (db.names != kApps || count(doc, "\"identifier\"") != kApps || count(doc, "\"icon\"") != db.icons) {
    state.SkipWithError(("corvane did not list 200 applications with their " + std::to_string(db.icons) + " icons: " + doc.substr(0, 200)).c_str());
    return;
  }
  if (count(capture(gio, db.env), "org.example.Editor") < kApps) {
    state.SkipWithError("gio mime did not list the 200 applications");
    return;
  }
  const char* labels[] = {"icons", "icons, the themes' own", "icons, the themes' own less any with a drawing", "icon, a drawing"};
  state.SetLabel(std::to_string(db.icons) + " " + labels[which]);
  timeInTurn(state, corvane, gio, db.env);
}

BENCHMARK(BM_CorvaneBesideGioMime)
    ->Arg(kAllIcons)
    ->Arg(kPngIcons)
    ->Arg(kOneDrawing)
    ->Arg(kNoIcons)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_RealDesktopBesideGioMime(benchmark::State& state) {
  const char* theme = kThemes[state.range(0)];
  const RealDatabase db(theme, static_cast<RealIcons>(state.range(1)));
  const std::vector<std::string> corvane{CORVANE_PATH, db.textFile.string()};
  const std::vector<std::string> gio{"gio", "mime", "text/x-tex"};
  const std::string doc = capture(corvane, db.env);
  const size_t listed = count(doc, "\"identifier\""), icons = count(doc, "\"icon\"");
  size_t forLibrsvg = 0;
  for (const std::string& file : db.forLibrsvg) forLibrsvg += count(doc, "\\/" + file + "\"") > 0;
  if (listed == 0) {
    state.SkipWithError(("corvane listed nothing: " + doc.substr(0, 200)).c_str());
    return;
  }
  state.SetLabel(std::string(theme) + ": " + std::to_string(listed) + " of " + std::to_string(db.apps) + " applications, " + std::to_string(icons) +
                 " icons, " + std::to_string(forLibrsvg) + " by librsvg");
  timeInTurn(state, corvane, gio, db.env);
}
BENCHMARK(BM_RealDesktopBesideGioMime)
    ->ArgsProduct({{0, 1, 2}, {kEveryApp, kNoneForLibrsvg}})
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
