#include "insertion/ax_write.h"

#include "focus/ax_calls.h"
#include "focus/elements.h"

namespace pelmora {

std::set<std::string, std::less<>>& gClipboardPreferredAppendBundles() {
  static std::set<std::string, std::less<>> bundles{"com.cmuxterm.app"};
  return bundles;
}

bool tryAXWrite(platform::ElementRef element, std::string_view value, std::string_view bundleID,
                bool promoteBundleOnFailure) {
  if (ax::setString(element, "AXValue", value) != platform::kAXSuccess) return false;
  // Applications may store a different normalisation of the same text.
  auto shows = [&](const std::optional<std::string>& current) {
    return current && platform::canonicallyEquivalent(*current, value);
  };
  if (shows(getElementValue(element))) return true;
  for (double delay : axWriteVerificationDelays) {
    platform::sleepFor(delay);
    if (shows(getElementValue(element))) return true;
  }
  if (promoteBundleOnFailure && !bundleID.empty()) gClipboardPreferredAppendBundles().emplace(bundleID);
  return false;
}

void activateTargetApplication(std::string_view bundleID) {
  if (bundleID.empty()) return;
  auto apps = platform::runningApplicationsWithBundleID(bundleID);
  if (apps.empty()) return;
  const platform::RunningApplication& app = apps.front();
  if (app.active) {
    auto front = platform::frontmostApplication();
    if (front && front->bundleID && *front->bundleID == bundleID) return;
  }
  platform::activateApplication(app.pid, platform::kActivateIgnoringOtherApps);
  platform::sleepFor(kActivationPause);
}

}  // namespace pelmora
