#pragma once

#include "platform/process.h"

namespace platform::posix {

bool typeIntoTerminal(const std::string& path, std::string_view bytes, const TypingPace& pace);

// What the kernel's TIOCSTI checks for a tty that is not the caller's
// controlling terminal: the effective user id on macOS; CAP_SYS_ADMIN in the
// initial user namespace, and the dev.tty.legacy_tiocsti sysctl, on Linux.
bool canTypeIntoOtherTerminals();

}  // namespace platform::posix
