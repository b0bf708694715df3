// Running applications and the workspace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// What does not change while an application runs. Whether it is active is
// not here: a running-application record answers that as of the last turn
// of the main run loop, which a host need not turn between calls.
struct RunningApplication {
  int32_t pid = 0;
  std::optional<std::string> bundleID;  // absent: the application has none
  std::optional<std::string> name;      // its localized name; absent: none
};

std::optional<RunningApplication> runningApplication(int32_t pid);
// The application that receives key events, as it is at the moment of the
// call.
std::optional<RunningApplication> frontmostApplication();

inline constexpr uint32_t kActivateAllWindows = 1;
inline constexpr uint32_t kActivateIgnoringOtherApps = 2;
// Asks the application to come to the front; the outcome is not reported.
void activateApplication(int32_t pid, uint32_t options) noexcept;

}  // namespace platform
