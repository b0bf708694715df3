#pragma once

#include "platform/process.h"

namespace platform::posix {

ChildResult runChildProcess(const std::string& path, const std::vector<std::string>& args, double timeoutSeconds);

}  // namespace platform::posix
