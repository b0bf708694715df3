// The X server's view of the windows, where there is one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace platform::lx {

// The process of the window the window manager names active, or nothing
// (no X server, no window manager that names it, a window without its pid).
std::optional<int32_t> x11ActiveWindowPid();
// Asks the window manager to activate the process's topmost window; false
// when there is no X server or the process has no window there.
bool x11Activate(int32_t pid);
// The WM_CLASS of the process's topmost window: its instance and class names.
std::optional<std::pair<std::string, std::string>> x11WindowClass(int32_t pid);

}  // namespace platform::lx
