#include "platform/posix/child_process.h"
#include "platform/process.h"

namespace platform {

std::string toolPath(Tool tool) { return tool == Tool::osascript ? "/usr/bin/osascript" : "/bin/ps"; }

ChildResult runChildProcess(const std::string& path, const std::vector<std::string>& args, double timeoutSeconds) {
  return posix::runChildProcess(path, args, timeoutSeconds);
}

}  // namespace platform
