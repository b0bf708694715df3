// Child processes and terminals in the simulation are real; the path of the
// macOS-only osascript is whatever the tests stand in for it, and every start
// is logged. Whether a terminal may be typed into is this process's own
// answer.
#include "platform/posix/child_process.h"
#include "platform/posix/terminal_input.h"
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

// As on macOS: the simulated terminals are asked through their scripts.
std::optional<TerminalSession> frontTerminalSession(int32_t) { return std::nullopt; }

bool canTypeIntoOtherTerminals() { return posix::canTypeIntoOtherTerminals(); }

TypingOutcome typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace,
                               EraseCount eraseCount) {
  return posix::typeIntoTerminal(path, bytes, pace, eraseCount);
}

}  // namespace platform
