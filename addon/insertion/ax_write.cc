#include "insertion/ax_write.h"

#include "focus/ax_calls.h"
#include "frame/elapsed.h"

namespace pelmora {

std::set<std::string, std::less<>>& gClipboardPreferredAppendBundles() {
  static std::set<std::string, std::less<>> bundles{"com.cmuxterm.app"};
  return bundles;
}

bool tryAXWrite(platform::ElementRef element, std::string_view value, std::string_view bundleID,
                bool promoteBundleOnFailure) {
  ax::AnswerWatch watch;
  const platform::AXError error = ax::setString(element, "AXValue", value);
  // A reply that ran into the timeout still left the request with the
  // application, which usually applies it: verified like an accepted one,
  // since declining would have the host paste the same text again.
  if (error != platform::kAXSuccess && !(error == platform::kAXCannotComplete && watch.anyLate())) return false;
  const double replied = platform::now();
  // Applications may store a different normalisation of the same text.
  auto shows = [&] {
    platform::AttributeResult r = ax::copyAfterWrite(element, "AXValue");
    return r.ok() && r.kind == platform::ValueKind::string && platform::canonicallyEquivalent(r.string, value);
  };
  if (shows()) return true;
  for (double delay : axWriteVerificationDelays) {
    if (elapsedSeconds(replied, platform::now() + delay) > kReadBackBudget) break;
    platform::sleepFor(delay);
    if (shows()) return true;
  }
  if (promoteBundleOnFailure && !bundleID.empty()) gClipboardPreferredAppendBundles().emplace(bundleID);
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
