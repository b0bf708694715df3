// Which application a Linux process is: the desktop-file id from GIO's
// launch environment or the desktop's systemd unit, as corvane names
// applications.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/identity_linux.h"

namespace {

namespace fs = std::filesystem;
using platform::lx::desktopFileOf;
using platform::lx::desktopIdOfPath;
using platform::lx::desktopIdOfProcess;
using platform::lx::desktopIdOfUnit;

TEST(DesktopId, FromTheUnitsADesktopPutsApplicationsIn) {
  const std::pair<const char*, const char*> named[] = {
      {"app-gnome-org.gnome.Terminal-1234.scope", "org.gnome.Terminal"},
      {"app-org.gnome.Terminal-1234.scope", "org.gnome.Terminal"},
      {"app-gnome-org.gnome.Nautilus@12ab.service", "org.gnome.Nautilus"},
      {"app-org.gnome.Nautilus.service", "org.gnome.Nautilus"},
      {"app-flatpak-org.gimp.GIMP-5678.scope", "org.gimp.GIMP"},
      {"app-kde-foo\\x2dbar-99.scope", "foo-bar"},
  };
  for (const auto& [unit, id] : named) EXPECT_EQ(desktopIdOfUnit(unit), id) << unit;
  for (const char* other : {"session-2.scope", "user@1000.service", "app.slice", "app-gnome-x.slice",
                            "gnome-terminal-server.service", "app-.scope"})
    EXPECT_FALSE(desktopIdOfUnit(other)) << other;
}

TEST(DesktopId, PathsAndFilesAsTheDesktopEntrySpecificationNamesThem) {
  EXPECT_EQ(desktopIdOfPath("/usr/share/applications/org.gnome.gedit.desktop"), "org.gnome.gedit");
  EXPECT_EQ(desktopIdOfPath("/usr/share/applications/kde4/kate.desktop"), "kde4-kate");
  EXPECT_FALSE(desktopIdOfPath("/usr/share/applications/readme.txt"));
  EXPECT_FALSE(desktopIdOfPath("/tmp/x.desktop"));

  const fs::path data = fs::temp_directory_path() / ("pelmora-ids-" + std::to_string(getpid()));
  fs::create_directories(data / "applications/kde4");
  std::ofstream(data / "applications/kde4/kate.desktop") << "[Desktop Entry]\nName=Kate\n";
  std::ofstream(data / "applications/plain.desktop") << "[Desktop Entry]\nName=Plain\n";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  EXPECT_EQ(desktopFileOf("kde4-kate"), (data / "applications/kde4/kate.desktop").string()) << "a dash for a folder";
  EXPECT_EQ(desktopFileOf("plain"), (data / "applications/plain.desktop").string());
  EXPECT_FALSE(desktopFileOf("missing"));
  EXPECT_FALSE(desktopFileOf("../applications/plain")) << "an id names no path of its own";

  // GIO's launch environment names the process it started, not its children,
  // which inherit the variables.
  const std::string file = (data / "applications/plain.desktop").string();
  const std::string script = "GIO_LAUNCHED_DESKTOP_FILE='" + file +
                             "' GIO_LAUNCHED_DESKTOP_FILE_PID=$$ exec sh -c 'sleep 30 & echo $!; exec sleep 30'";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t launched = fork();
  if (launched == 0) {
    dup2(out[1], 1);
    execl("/bin/sh", "sh", "-c", script.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  char line[32] = {};
  ASSERT_GT(read(out[0], line, sizeof line - 1), 0);
  close(out[0]);
  const pid_t child = std::atoi(line);
  EXPECT_EQ(desktopIdOfProcess(launched), "plain");
  EXPECT_FALSE(desktopIdOfProcess(child)) << "inherited, for another pid";
  kill(child, SIGKILL);
  kill(launched, SIGKILL);
  waitpid(launched, nullptr, 0);
  fs::remove_all(data);
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
