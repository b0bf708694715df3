// Desktop-file ids and names of processes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::lx {

// /proc/<pid>/<name> whole (up to 1 MiB), or "" when it cannot be read.
std::string readProcFile(int32_t pid, const char* name);

// The id of the desktop entry the process was started from: what GIO's
// launcher put in its environment (for that very process), else the systemd
// unit the desktop put it in, when a desktop file of that id exists.
std::optional<std::string> desktopIdOfProcess(int32_t pid);

// The parts: the id of a desktop file's path (below an applications folder,
// folders joined by '-', without ".desktop"); the id a systemd unit name
// carries; the desktop file an id names, in XDG_DATA_HOME and XDG_DATA_DIRS.
std::optional<std::string> desktopIdOfPath(std::string_view path);
std::optional<std::string> desktopIdOfUnit(std::string_view unit);
std::optional<std::string> desktopFileOf(std::string_view id);

// The id a window's WM_CLASS names, as desktop shells match windows to
// applications: the class, then the instance (each also lower-cased), when a
// desktop file of that id exists. Chromium, for one, writes its process title
// over its environment, and its windows are all that names it.
std::optional<std::string> desktopIdOfWindowClass(std::string_view instance, std::string_view windowClass);

// The entry's Name in the user's language.
std::optional<std::string> desktopEntryName(std::string_view id);

}  // namespace platform::lx
