#include "platform/posix/child_process.h"
#include "platform/posix/terminal_input.h"
#include "platform/process.h"

namespace platform {

std::string toolPath(Tool tool) { return tool == Tool::osascript ? "/usr/bin/osascript" : "/bin/ps"; }

ChildResult runChildProcess(const std::string& path, const std::vector<std::string>& args, double timeoutSeconds) {
  return posix::runChildProcess(path, args, timeoutSeconds);
}

bool canTypeIntoOtherTerminals() { return posix::canTypeIntoOtherTerminals(); }

bool typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace) {
  return posix::typeIntoTerminal(path, bytes, pace);
}

}  // namespace platform
