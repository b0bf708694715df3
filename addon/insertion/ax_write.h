// The verified Accessibility write and bringing the target application
// forward.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace pelmora {

// Read-back pauses after a write: reads at 0, 0.05, 0.15, 0.35 and 0.6 s.
inline constexpr double axWriteVerificationDelays[] = {0.05, 0.1, 0.2, 0.25};
// No read-back starts later than this after the write's reply, however slow
// the reads: each is bounded by the messaging timeout, the whole by this.
inline constexpr double kReadBackBudget = 2.0;
inline constexpr double kActivationPause = 0.18;

// Applications that always get the clipboard: learned from writes that were
// accepted but never shown, for the life of the process.
std::set<std::string, std::less<>>& gClipboardPreferredAppendBundles();

// Writes the whole value and confirms it by reading it back; a write that is
// accepted (or whose reply ran into the timeout) but never shows teaches the
// bundle to go to the clipboard.
bool tryAXWrite(platform::ElementRef element, std::string_view value, std::string_view bundleID,
                bool promoteBundleOnFailure);

// Brings the application's process to the front unless it is there already;
// by process, so that an application without a bundle identifier comes
// forward too.
void activateTargetApplication(int32_t pid);

}  // namespace pelmora
