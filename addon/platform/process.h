// Child processes and terminals: real POSIX processes and ttys on every
// platform; only the paths of the macOS tools and the permission to type
// into a terminal come from the platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

// Whether this process may type into a terminal that is not its own
// controlling terminal (TIOCSTI into another session's tty).
bool canTypeIntoOtherTerminals();

// How typing keeps pace with the terminal's reader.
struct TypingPace {
  int queueLimit = 0;         // a byte waits while the input queue holds this many
  double stallSeconds = 0;    // the reader taking nothing for this long ends the typing
  double totalSeconds = 0;    // nor does the whole text take longer than this
};

// Types the bytes into the terminal device at `path` as its keyboard would,
// as fast as its reader takes them. True when every byte was typed. On any
// other outcome nothing more is typed and what the reader had not yet read is
// taken back; what it had read stays on its line.
bool typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace);

}  // namespace platform
