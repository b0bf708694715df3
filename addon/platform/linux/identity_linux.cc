// Which application a process is: its desktop-file id (the bundle identifier's
// counterpart, as corvane names applications) and its desktop entry's name.
#include "platform/linux/identity_linux.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/linux/atspi_api.h"
#include "platform/posix/fd.h"

namespace platform::lx {

std::string readProcFile(int32_t pid, const char* name) {
  const std::string path = "/proc/" + std::to_string(pid) + "/" + name;
  posix::Fd file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  std::string text;
  if (file.fd < 0) return text;
  char buffer[4096];
  for (ssize_t n; (n = read(file.fd, buffer, sizeof buffer)) > 0 && text.size() < (1u << 20);)
    text.append(buffer, static_cast<size_t>(n));
  return text;
}

namespace {

bool exists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

std::vector<std::string> applicationFolders() {
  std::vector<std::string> folders;
  const char* home = std::getenv("HOME");
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && *dataHome) folders.push_back(std::string(dataHome) + "/applications/");
  else if (home && *home) folders.push_back(std::string(home) + "/.local/share/applications/");
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
  while (!dirs.empty()) {
    const size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    if (!dir.empty()) folders.push_back(std::string(dir) + "/applications/");
    dirs.remove_prefix(colon == std::string_view::npos ? dirs.size() : colon + 1);
  }
  return folders;
}

}  // namespace

std::optional<std::string> desktopFileOf(std::string_view id) {
  if (id.empty() || id.find('/') != std::string_view::npos || id.starts_with(".")) return std::nullopt;
  // The XDG rule: an id's dashes may stand for folders below applications/.
  for (const std::string& folder : applicationFolders()) {
    std::string relative(id);
    for (size_t dash = std::string::npos;;) {
      if (const std::string path = folder + relative + ".desktop"; exists(path)) return path;
      dash = relative.find('-', dash == std::string::npos ? 0 : dash + 1);
      if (dash == std::string::npos) break;
      relative[dash] = '/';
    }
  }
  return std::nullopt;
}

std::optional<std::string> desktopIdOfPath(std::string_view path) {
  constexpr std::string_view kFolder = "/applications/";
  const size_t at = path.rfind(kFolder);
  if (at == std::string_view::npos || !path.ends_with(".desktop")) return std::nullopt;
  std::string id(path.substr(at + kFolder.size(), path.size() - at - kFolder.size() - 8));
  for (char& c : id)
    if (c == '/') c = '-';
  if (id.empty()) return std::nullopt;
  return id;
}

std::optional<std::string> desktopIdOfUnit(std::string_view unit) {
  // systemd's names for an application's processes, from the desktop
  // environment interface: app[-<launcher>]-<id>[-<random>].scope and
  // app[-<launcher>]-<id>[@<random>].service, the id with '-' escaped.
  std::string_view name = unit;
  if (!name.starts_with("app-")) return std::nullopt;
  name.remove_prefix(4);
  if (name.ends_with(".scope")) {
    name.remove_suffix(6);
    const size_t dash = name.rfind('-');
    if (dash != std::string_view::npos) name = name.substr(0, dash);
  } else if (name.ends_with(".service")) {
    name.remove_suffix(8);
    if (const size_t at = name.find('@'); at != std::string_view::npos) name = name.substr(0, at);
  } else {
    return std::nullopt;
  }
  if (const size_t dash = name.find('-'); dash != std::string_view::npos) name.remove_prefix(dash + 1);
  std::string id;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name.substr(i).starts_with("\\x2d")) {
      id += '-';
      i += 3;
    } else {
      id += name[i];
    }
  }
  if (id.empty()) return std::nullopt;
  return id;
}

std::optional<std::string> desktopIdOfProcess(int32_t pid) {
  if (pid <= 0) return std::nullopt;
  // What GIO's launcher says of the process it started (and of none of that
  // process's children, which inherit the variable but not the pid).
  const std::string environ = readProcFile(pid, "environ");
  std::string_view file, launchedPid;
  for (std::string_view rest = environ; !rest.empty();) {
    const size_t end = rest.find('\0');
    const std::string_view entry = rest.substr(0, end);
    if (entry.starts_with("GIO_LAUNCHED_DESKTOP_FILE=")) file = entry.substr(26);
    if (entry.starts_with("GIO_LAUNCHED_DESKTOP_FILE_PID=")) launchedPid = entry.substr(30);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  if (!file.empty() && launchedPid == std::to_string(pid) && exists(std::string(file)))
    if (auto id = desktopIdOfPath(file)) return id;
  // The systemd unit a desktop put the application in.
  const std::string cgroup = readProcFile(pid, "cgroup");
  for (std::string_view rest = cgroup; !rest.empty();) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    // The innermost unit first: a terminal's shells sit in units of their own.
    for (size_t slash; (slash = line.rfind('/')) != std::string_view::npos; line = line.substr(0, slash))
      if (auto id = desktopIdOfUnit(line.substr(slash + 1)); id && desktopFileOf(*id)) return id;
  }
  return std::nullopt;
}

std::optional<std::string> desktopIdOfWindowClass(std::string_view instance, std::string_view windowClass) {
  // Chromium names a profile folder after its instance: "chromium (folder)".
  if (const size_t space = instance.find(' '); space != std::string_view::npos) instance = instance.substr(0, space);
  for (std::string_view name : {windowClass, instance}) {
    if (name.empty()) continue;
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& id : {std::string(name), lower})
      if (desktopFileOf(id)) return id;
  }
  return std::nullopt;
}

std::optional<std::string> desktopEntryName(std::string_view id) {
  const Api* a = api();
  const auto path = desktopFileOf(id);
  if (!a || !path) return std::nullopt;
  GDesktopAppInfo* info = a->g_desktop_app_info_new_from_filename(path->c_str());
  if (!info) return std::nullopt;
  std::optional<std::string> name;
  if (const char* n = a->g_app_info_get_name(reinterpret_cast<GAppInfo*>(info)); n && *n) name = n;
  a->g_object_unref(info);
  return name;
}

}  // namespace platform::lx
