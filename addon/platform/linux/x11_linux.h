// The X server's view of the windows, where there is one.
#pragma once

#include <cstdint>
#include <optional>

namespace platform::lx {

bool x11Available();
// The process of the window the window manager names active, or nothing
// (no X server, no window manager that names it, a window without its pid).
std::optional<int32_t> x11ActiveWindowPid();
// Asks the window manager to activate the process's topmost window; false
// when there is no X server or the process has no window there.
bool x11Activate(int32_t pid);

}  // namespace platform::lx
