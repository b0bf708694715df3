// The Linux desktop layer's rules that need no desktop: which application a
// process is (the desktop-file id from GIO's launch environment, the
// desktop's systemd unit or a window's class, as corvane names applications)
// and where a terminal's shell reads its keyboard.
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/identity_linux.h"
#include "platform/process.h"

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

TEST(DesktopId, PathsAndFilesAsTheDesktopEntryStandardNamesThem) {
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
  EXPECT_EQ(platform::lx::desktopIdOfWindowClass("plain (/tmp/profile)", "Plain"), "plain") << "Chromium's WM_CLASS";
  EXPECT_EQ(platform::lx::desktopIdOfWindowClass("kde4-kate", "Kate"), "kde4-kate");
  EXPECT_FALSE(platform::lx::desktopIdOfWindowClass("nothing", "Nothing"));

  // GIO's launch environment names the process it started, not its children,
  // which inherit the variables.
  const std::string file = (data / "applications/plain.desktop").string();
  const std::string script = "GIO_LAUNCHED_DESKTOP_FILE='" + file +
                             "' GIO_LAUNCHED_DESKTOP_FILE_PID=$$ exec sh -c 'sleep 30 & echo $!; wait'";
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
  // A process's environment reads as empty across its exec: read the child's
  // once it is sleep, and the launched shell never execs again.
  const auto commandOf = [](pid_t pid) {
    std::string name;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), name);
    return name;
  };
  for (int i = 0; i < 400 && commandOf(child) != "sleep"; ++i) usleep(5000);
  ASSERT_EQ(commandOf(child), "sleep");
  EXPECT_EQ(desktopIdOfProcess(launched), "plain");
  EXPECT_FALSE(desktopIdOfProcess(child)) << "inherited, for another pid";
  kill(child, SIGKILL);
  kill(launched, SIGKILL);
  waitpid(launched, nullptr, 0);
  fs::remove_all(data);
  unsetenv("XDG_DATA_HOME");
}

// This test process stands for the terminal: it holds each pseudo-terminal's
// master side, and its child leads a session on the slave side.
struct Session {
  pid_t pid = -1;
  int master = -1;
  explicit Session(const char* command) {
    pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", command, nullptr);
      _exit(127);
    }
  }
  ~Session() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(master);
  }
};

std::optional<platform::TerminalSession> sessionSoon() {
  // The child needs a moment to exec.
  for (int i = 0; i < 200; ++i) {
    if (auto s = platform::frontTerminalSession(getpid()); s && s->foregroundName != "sh") return s;
    usleep(10000);
  }
  return platform::frontTerminalSession(getpid());
}

TEST(TerminalSession, TheShellOfATerminalsOnlySessionAndWhatRunsInFront) {
  EXPECT_FALSE(platform::frontTerminalSession(getpid())) << "no session yet";
  {
    Session bash("exec bash --norc --noprofile -i");
    const auto s = sessionSoon();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->foregroundName, "bash");
    EXPECT_EQ(s->ttyPath.rfind("/dev/pts/", 0), 0u) << s->ttyPath;
    struct stat st {};
    ASSERT_EQ(stat(s->ttyPath.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    Session other("exec sleep 30");
    // Until the second child leads its session, there is one tab.
    bool declined = false;
    for (int i = 0; i < 200 && !(declined = !platform::frontTerminalSession(getpid())); ++i) usleep(10000);
    EXPECT_TRUE(declined) << "two tabs: which is in front is unknown";
  }
  Session editor("exec sleep 30");
  const auto s = sessionSoon();
  ASSERT_TRUE(s);
  EXPECT_EQ(s->foregroundName, "sleep") << "not a shell: the route declines";
}

}  // namespace
