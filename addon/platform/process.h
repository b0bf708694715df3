// Child processes and terminals: real POSIX processes and ttys on every
// platform; only the paths of the macOS tools and the permission to type
// into a terminal come from the platform.
#pragma once

#include <cstdint>
#include <optional>
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

// Where a terminal application's session reads its keyboard: the tty device
// of its shell and the name of the process in that tty's foreground. Answered
// where the platform can read it (Linux, from /proc) and only when the
// terminal has one session: with several, which is in front is unknown.
// Elsewhere the terminal is asked (its script) and nothing is answered here.
struct TerminalSession {
  std::string ttyPath;
  std::string foregroundName;
};
std::optional<TerminalSession> frontTerminalSession(int32_t terminalPid);

// Whether this process may type into a terminal that is not its own
// controlling terminal (TIOCSTI into another session's tty).
bool canTypeIntoOtherTerminals();

// How typing keeps pace with the terminal's reader.
struct TypingPace {
  int queueLimit = 0;         // a byte waits while the input queue holds this many
  double stallSeconds = 0;    // the reader taking nothing for this long ends the typing
  double totalSeconds = 0;    // nor may the whole text take longer than this (nor its erasing)
};

enum class TypingOutcome : uint8_t {
  typed,      // every byte reached the reader
  untouched,  // the reader's line is as it was: it took nothing, or what it took was erased
  partial,    // part of the text stayed with the reader, which no longer reads or cannot erase it
};

// How many erase characters take back the text typed so far (whole
// characters), or nothing when line editors may erase it otherwise.
using EraseCount = std::optional<size_t> (*)(std::string_view typed);

// Types the bytes into the terminal device at `path` as its keyboard would,
// as fast as its reader takes them. A text the reader cannot take within the
// total time, at the pace it shows, is not typed to its end: what the reader
// took is erased with its erase character (eraseCount of them), so that its
// line is as it was. When typing ends early otherwise (the reader stops
// reading), what it had not read is taken back and what it had read stays.
TypingOutcome typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace,
                               EraseCount eraseCount);

}  // namespace platform
