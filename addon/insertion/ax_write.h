// The verified Accessibility write and bringing the target application
// forward.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace pelmora {

// Read-back pauses after a write: reads at 0, 0.05, 0.15, 0.35, 0.6, 1, 1.5,
// 2, 2.5, 3, 3.5 and 4 s. Applications that show a write late do so within
// a few seconds (a busy one applies a set whose reply ran into the timeout
// 3 to 4 s after it was made); declining earlier has the host paste text
// that then shows twice.
inline constexpr double axWriteVerificationDelays[] = {0.05, 0.1, 0.2, 0.25, 0.4, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
// No read-back starts later than this after the reply of the set it checks,
// however slow the reads: each is bounded by the messaging timeout, the whole
// by this.
inline constexpr double kReadBackBudget = 4.0;
inline constexpr double kActivationPause = 0.18;

// Applications that always get the clipboard: learned from writes that were
// accepted but never shown, for the life of the process.
std::set<std::string, std::less<>>& gClipboardPreferredAppendBundles();

// Whether a field that was given `written` shows it: the same text up to
// canonical equivalence, with its line breaks (CR LF, CR, LF) made one form,
// a final line break the field dropped, and in a single-line field line
// breaks stored as spaces. Any other difference is not the text.
bool showsWrittenValue(std::string_view shown, std::string_view written, bool singleLine);

// A write of a field's whole value, with what the field held before.
struct FieldWrite {
  platform::ElementRef element = nullptr;
  std::string_view original;
  platform::TextRange selection;  // the selection before the write
  std::string_view value;
  bool singleLine = false;
};

// Writes the value and confirms it by reading it back. True when the field
// shows it. False only once the field is as it was: a write that could still
// land, or landed in part, is waited for, then undone (the original value set
// back, its selection too) and read back, since a decline has the host paste
// the text. A field that still shows its original value when the wait ends
// plainly refused the write, which teaches the bundle to go to the clipboard.
bool tryAXWrite(const FieldWrite& write, std::string_view bundleID);

// Brings the application's process to the front unless it is there already;
// by process, so that an application without a bundle identifier comes
// forward too.
void activateTargetApplication(int32_t pid);

}  // namespace pelmora
