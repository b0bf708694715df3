// Child processes: real POSIX processes on every platform; only the paths of
// the macOS tools come from the platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class Tool : uint8_t { osascript, ps };

// "/usr/bin/osascript", "/bin/ps" on macOS.
std::string toolPath(Tool tool);

struct ChildResult {
  int32_t status = -1;   // the exit status; -1 when it did not start, was killed or timed out
  std::string output;    // standard output as read (not decoded)
  bool timedOut = false;
};

// Runs the program with the arguments (never through a shell), standard
// input and standard error on the null device, standard output read while it
// runs, and no other descriptor of the host. A process still running after
// timeoutSeconds is killed and reaped.
ChildResult runChildProcess(const std::string& path, const std::vector<std::string>& args, double timeoutSeconds);

}  // namespace platform
