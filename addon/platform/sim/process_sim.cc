// Child processes in the simulation are real; the path of the macOS-only
// osascript is whatever the tests stand in for it, and every start is logged.
#include "platform/posix/child_process.h"
#include "platform/process.h"
#include "platform/sim/world.h"

namespace platform {

std::string toolPath(Tool tool) {
  return tool == Tool::osascript ? sim::world().tools.osascript : sim::world().tools.ps;
}

ChildResult runChildProcess(const std::string& path, const std::vector<std::string>& args, double timeoutSeconds) {
  sim::Value list = sim::Value::array();
  for (const auto& a : args) list.push(a);
  sim::log("spawn", sim::Value::object({{"path", path}, {"args", std::move(list)}}));
  return posix::runChildProcess(path, args, timeoutSeconds);
}

}  // namespace platform
