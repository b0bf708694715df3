#include "focus/ax_calls.h"
#include "focus/focus_queries.h"

#include "focus/captured_target.h"
#include "focus/elements.h"
#include "frame/json_text.h"

namespace pelmora {

std::string focusedElementInfoText() {
  ax::CallScope scope;
  FocusCaptureResult capture = captureFocusedTextTarget();
  gCapturedTextTarget = capture.target;

  JsonObjectText text;
  if (!capture.target) {
    return text.add("appName", capture.appName)
        .add("bundleID", capture.bundleID)
        .add("role", "")
        .add("subrole", "")
        .add("roleDescription", "")
        .add("selectedTextRangeAvailable", false)
        .add("selectedTextLength", 0)
        .add("error", capture.reason)
        .finish();
  }
  const CapturedTextTarget& target = *capture.target;
  platform::ElementRef element = target.element.get();
  static constexpr std::string_view kAttributes[] = {"AXRole", "AXSubrole", "AXRoleDescription",
                                                     "AXSelectedTextRange", "AXSelectedText"};
  auto results = ax::copyMany(element, kAttributes);
  const std::string role = readableString(results[0]);
  const std::string subrole = readableString(results[1]);
  const std::string roleDescription = readableString(results[2]);
  const bool rangeAvailable = results[3].ok();
  const std::string selected = readableString(results[4]);
  return text.add("appName", target.appName)
      .add("bundleID", target.bundleID)
      .add("role", role)
      .add("subrole", subrole)
      .add("roleDescription", roleDescription)
      .add("selectedTextRangeAvailable", rangeAvailable)
      .add("selectedTextLength", static_cast<int64_t>(platform::graphemeClusterCount(selected)))
      .add("error", "")
      .finish();
}

std::string frontmostApplicationInfoText() {
  auto front = getFrontmostApplicationIdentity();
  if (!front) return R"({"ok":false,"appName":"Current App","bundleID":"","reason":"frontmost_app_unavailable"})";
  return JsonObjectText().add("ok", true).add("appName", front->name).add("bundleID", front->bundleID).add("reason", "").finish();
}

std::string capturedFocusedElementText() {
  ax::CallScope scope;
  const TargetRef target = gCapturedTextTarget;  // a copy: the slot may be emptied below
  auto failure = [](std::string_view appName, std::string_view bundleID, std::string_view reason) {
    return JsonObjectText().add("ok", false).add("appName", appName).add("bundleID", bundleID).add("reason", reason).finish();
  };
  if (!target) return failure(kCurrentAppName, "", "missing_captured_target");
  if (clearCapturedTextTargetIfApplicationChanged())
    return failure(target->appName, target->bundleID, "frontmost_app_changed");

  if (targetAge(*target) < kTargetReadLifetime) {
    auto value = getElementValue(target->element.get());
    if (!value) return failure(target->appName, target->bundleID, "missing_value");
    return JsonObjectText()
        .add("ok", true)
        .add("appName", target->appName)
        .add("bundleID", target->bundleID)
        .add("text", *value)
        .finish();
  }
  gCapturedTextTarget.reset();
  return failure(target->appName, target->bundleID, "captured_target_expired");
}

}  // namespace pelmora
