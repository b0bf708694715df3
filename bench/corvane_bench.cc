// corvane as the host runs it, a whole process per call, on a plain text
// file against a database of 200 applications, beside GLib's own
// `gio mime text/plain` on the same database. The twin database without
// icons tells what the icons cost. Wall time per run, and the largest peak
// resident size of any run (the kernel's accounting of the finished child).
#include <benchmark/benchmark.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kApps = 200;

void writeFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

void writePng(const fs::path& file, int size, guint32 rgba) {
  fs::create_directories(file.parent_path());
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, size, size);
  gdk_pixbuf_fill(pixbuf, rgba);
  gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, nullptr);
  g_object_unref(pixbuf);
}

int run(const std::vector<std::string>& argv, const std::vector<std::string>& env, long* peakKiB) {
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int err = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return -1;
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  *peakKiB = std::max(*peakKiB, usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

// A database like a desktop's: 200 editors of plain text, each with PNG
// icons at four sizes (one in four with an SVG only), the full hicolor
// index, and a default.
struct Database {
  fs::path root;
  fs::path textFile;
  std::vector<std::string> env;

  explicit Database(bool icons) {
    root = fs::temp_directory_path() / ("corvane-bench-" + std::to_string(getpid()) + (icons ? "-icons" : "-plain"));
    fs::remove_all(root);
    const fs::path data = root / "data";
    for (int i = 0; i < kApps; ++i) {
      const std::string id = "org.example.Editor" + std::to_string(i);
      std::string entry = "[Desktop Entry]\nType=Application\nExec=true %f\nName=Editor " + std::to_string((i * 37) % kApps) +
                          "\nGenericName=Text Editor\nMimeType=text/plain;text/x-csrc;\n";
      if (icons) {
        entry += "Icon=" + id + "\n";
        const guint32 colour = 0x10203000u + static_cast<guint32>(i) * 0x01010100u + 0xFF;
        if (i % 4 == 3) {
          writeFile(data / "icons/hicolor/scalable/apps" / (id + ".svg"),
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"128\" height=\"128\"><circle cx=\"64\" cy=\"64\" r=\"60\" fill=\"#3366cc\"/></svg>\n");
        } else {
          for (int size : {16, 32, 48, 256})
            writePng(data / "icons/hicolor" / (std::to_string(size) + "x" + std::to_string(size)) / "apps" / (id + ".png"), size, colour);
        }
      }
      writeFile(data / "applications" / (id + ".desktop"), entry);
    }
    if (icons) fs::copy_file("/usr/share/icons/hicolor/index.theme", data / "icons/hicolor/index.theme");
    writeFile(root / "config/mimeapps.list", "[Default Applications]\ntext/plain=org.example.Editor7.desktop\n");
    fs::create_directories(root / "mime-only");
    fs::create_directory_symlink("/usr/share/mime", root / "mime-only/mime");
    fs::create_directories(root / "home");
    std::system(("update-desktop-database '" + (data / "applications").string() + "'").c_str());
    textFile = root / "notes.txt";
    writeFile(textFile, "A plain text file.\n");
    env = {"PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"),
           "HOME=" + (root / "home").string(),
           "XDG_DATA_HOME=" + (root / "home/.local/share").string(),
           "XDG_DATA_DIRS=" + data.string() + ":" + (root / "mime-only").string(),
           "XDG_CONFIG_HOME=" + (root / "config").string(),
           "XDG_CONFIG_DIRS=" + (root / "config-sys").string()};
  }
  ~Database() { fs::remove_all(root); }
};

Database& database(bool icons) {
  static Database withIcons(true);
  static Database without(false);
  return icons ? withIcons : without;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void measure(benchmark::State& state, const std::vector<std::string>& argv, const Database& db) {
  long peakKiB = 0;
  for (auto _ : state) {
    if (run(argv, db.env, &peakKiB) != 0) {
      state.SkipWithError("the command failed");
      break;
    }
  }
  state.counters["peak_rss_KiB"] = benchmark::Counter(static_cast<double>(peakKiB));
}

void BM_Corvane(benchmark::State& state) {
  const bool icons = state.range(0) != 0;
  const Database& db = database(icons);
  const std::vector<std::string> argv{CORVANE_PATH, db.textFile.string()};
  const std::string doc = capture(argv, db.env);
  if (count(doc, "\"identifier\"") != kApps || count(doc, "\"icon\"") != (icons ? kApps : 0)) {
    state.SkipWithError(("corvane did not list the 200 applications as expected: " + doc.substr(0, 200)).c_str());
    return;
  }
  state.SetLabel(icons ? "with icons" : "without icons");
  measure(state, argv, db);
}
BENCHMARK(BM_Corvane)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_GioMime(benchmark::State& state) {
  const Database& db = database(true);
  const std::vector<std::string> argv{"gio", "mime", "text/plain"};
  const std::string out = capture(argv, db.env);
  if (count(out, "org.example.Editor") < kApps) {
    state.SkipWithError("gio mime did not list the 200 applications");
    return;
  }
  state.SetLabel("gio mime text/plain");
  measure(state, argv, db);
}
BENCHMARK(BM_GioMime)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
