#include "platform/posix/child_process.h"
#include "platform/posix/terminal_input.h"
#include "platform/process.h"

namespace platform {

std::string toolPath(Tool tool) { return tool == Tool::osascript ? "/usr/bin/osascript" : "/bin/ps"; }

ChildResult runChildProcess(const std::string& path, const std::vector<std::string>& args, double timeoutSeconds) {
  return posix::runChildProcess(path, args, timeoutSeconds);
}

// Terminal and iTerm2 are asked through their scripts.
std::optional<TerminalSession> frontTerminalSession(int32_t) { return std::nullopt; }

bool canTypeIntoOtherTerminals() { return posix::canTypeIntoOtherTerminals(); }

TypingOutcome typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace,
                               EraseCount eraseCount) {
  return posix::typeIntoTerminal(path, bytes, pace, eraseCount);
}

}  // namespace platform
