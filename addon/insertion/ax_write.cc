#include "insertion/ax_write.h"

#include "focus/ax_calls.h"
#include "frame/elapsed.h"
#include "unicode/utf8.h"

namespace pelmora {

std::set<std::string, std::less<>>& gClipboardPreferredAppendBundles() {
  static std::set<std::string, std::less<>> bundles{"com.cmuxterm.app"};
  return bundles;
}

bool showsWrittenValue(std::string_view shown, std::string_view written, bool singleLine) {
  if (platform::canonicallyEquivalent(shown, written)) return true;
  const std::string seen = unicode::replaceLineBreaks(shown, '\n');
  const bool endsInBreak = unicode::withoutFinalLineBreak(written).size() != written.size();
  // The forms a field may store: its line breaks as LF or, where it has only
  // one line, as spaces; with or without the final one.
  for (const char lineBreak : {'\n', ' '}) {
    if (lineBreak == ' ' && !singleLine) break;
    const std::string form = unicode::replaceLineBreaks(written, lineBreak);
    if (platform::canonicallyEquivalent(seen, form)) return true;
    if (endsInBreak && platform::canonicallyEquivalent(seen, std::string_view(form).substr(0, form.size() - 1)))
      return true;
  }
  return false;
}

namespace {

using platform::ValueKind;

enum class Seen : uint8_t { written, original, other, unread };

Seen look(const FieldWrite& w) {
  platform::AttributeResult r = ax::copyAfterWrite(w.element, "AXValue");
  if (!r.ok() || r.kind != ValueKind::string) return Seen::unread;
  if (showsWrittenValue(r.string, w.value, w.singleLine)) return Seen::written;
  if (showsWrittenValue(r.string, w.original, w.singleLine)) return Seen::original;
  return Seen::other;
}

// Reads on the schedule after a set's reply until the field shows `wanted`,
// or the budget ends; answers what the last read saw.
Seen watchValue(const FieldWrite& w, Seen wanted) {
  const double replied = platform::now();
  Seen seen = look(w);
  for (double delay : axWriteVerificationDelays) {
    if (seen == wanted || elapsedSeconds(replied, platform::now() + delay) > kReadBackBudget) break;
    platform::sleepFor(delay);
    seen = look(w);
  }
  return seen;
}

// The application has the set: it answered, or the reply ran into the
// timeout, which still left the request with the application (it usually
// applies it).
bool setValueReaches(platform::AXError (*set)(platform::ElementRef, std::string_view, std::string_view),
                     platform::ElementRef element, std::string_view value) {
  ax::AnswerWatch watch;
  const platform::AXError error = set(element, "AXValue", value);
  return error == platform::kAXSuccess || (error == platform::kAXCannotComplete && watch.anyLate());
}

}  // namespace

bool tryAXWrite(const FieldWrite& w, std::string_view bundleID) {
  if (!setValueReaches(ax::setString, w.element, w.value)) return false;
  const Seen seen = watchValue(w, Seen::written);
  if (seen == Seen::written) return true;
  if (seen == Seen::original && !bundleID.empty())
    gClipboardPreferredAppendBundles().emplace(bundleID);

  // The application handles one client's requests in order, so the original
  // lands after the write, however late that one is. A write that shows
  // while the restore is still on its way is not the end: the restore
  // follows it.
  const bool restoreReached = setValueReaches(ax::setStringAfterWrite, w.element, w.original);
  const Seen after = restoreReached ? watchValue(w, Seen::original) : look(w);
  if (after == Seen::written) return true;  // the restore did not take: the text is there, once
  if (after == Seen::original) ax::setRange(w.element, "AXSelectedTextRange", w.selection);
  return false;
}

void activateTargetApplication(int32_t pid) {
  if (pid <= 0) return;
  // Asked at this moment: a running application's own active flag changes
  // only when the host's main run loop turns.
  auto front = platform::frontmostApplication();
  if (front && front->pid == pid) return;
  platform::activateApplication(pid, platform::kActivateIgnoringOtherApps);
  platform::sleepFor(kActivationPause);
}

}  // namespace pelmora
