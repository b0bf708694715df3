#include "insertion/insert_text.h"

#include "focus/ax_calls.h"
#include "focus/captured_target.h"
#include "focus/elements.h"
#include "focus/tables.h"
#include "frame/json_text.h"
#include "insertion/ax_write.h"
#include "insertion/tty.h"
#include "insertion/utf16_splice.h"

namespace pelmora {
namespace {

using platform::ValueKind;

std::string failure(std::string_view appName, std::string_view bundleID, std::string_view reason) {
  return JsonObjectText().add("ok", false).add("appName", appName).add("bundleID", bundleID).add("reason", reason).finish();
}

std::string success(std::string_view method, const CapturedTextTarget& target) {
  return JsonObjectText()
      .add("ok", true)
      .add("method", method)
      .add("appName", target.appName)
      .add("bundleID", target.bundleID)
      .finish();
}

// Brings the application forward and focuses the field, so that the host
// can paste at once.
void preparePaste(const CapturedTextTarget& target) {
  activateTargetApplication(target.bundleID);
  ax::setBool(target.element.get(), "AXFocused", true);
  platform::sleepFor(kRefocusPause);
}

std::string declineForPaste(const CapturedTextTarget& target, std::string_view reason) {
  preparePaste(target);
  return failure(target.appName, target.bundleID, reason);
}

// The application's focus has moved to another element since the capture.
bool focusDrifted(const CapturedTextTarget& target) {
  auto apps = platform::runningApplicationsWithBundleID(target.bundleID);
  if (apps.empty()) return false;
  platform::Element application = platform::applicationElement(apps.front().pid);
  platform::setMessagingTimeout(application.get(), kAccessibilityMessagingTimeout);
  platform::AttributeResult focused = ax::copy(application.get(), "AXFocusedUIElement");
  return focused.ok() && focused.kind == ValueKind::element &&
         !platform::sameElement(focused.element.get(), target.element.get());
}

std::string insertThroughAccessibility(const CapturedTextTarget& target, std::string_view text) {
  platform::ElementRef element = target.element.get();
  std::optional<std::string> value;
  platform::AttributeResult range;
  {
    ax::Deadline deadline(ax::kDecisionBudget);
    value = getElementValue(element);
    if (value) range = ax::copy(element, "AXSelectedTextRange");
  }
  if (!value) return declineForPaste(target, "missing_value");

  if (!range.ok() || range.kind != ValueKind::range || range.range.location < 0 || range.range.length < 0)
    return declineForPaste(target, "missing_selected_text_range");

  auto splice = spliceUtf16(*value, range.range.location, range.range.length, text);
  if (!splice) return failure(target.appName, target.bundleID, "invalid_selected_text_range");

  if (!tryAXWrite(element, splice->value, target.bundleID, true))
    return declineForPaste(target, "ax_write_verification_failed");
  ax::setRange(element, "AXSelectedTextRange", {splice->caret, 0});
  return success("accessibility", target);
}

}  // namespace

std::string insertTextIntoFocusedElementText(std::string_view text, std::string_view expected) {
  if (text.empty()) return failure(kCurrentAppName, "", "empty_text");
  ax::CallScope scope;
  clearCapturedTextTargetIfApplicationChanged();

  TargetRef target = gCapturedTextTarget;
  const bool young = target && targetAge(*target) < kTargetInsertionLifetime;
  if (young && !bundleMatches(target->bundleID, expected)) {
    gCapturedTextTarget.reset();
    target.reset();
  }
  if (!target || !young) {
    FocusCaptureResult capture = captureFocusedTextTarget();
    if (!capture.target) {
      gCapturedTextTarget.reset();
      return failure(capture.appName, capture.bundleID, capture.reason);
    }
    if (!bundleMatches(capture.target->bundleID, expected)) {
      gCapturedTextTarget.reset();
      return failure(capture.target->appName, capture.target->bundleID, "focus_target_mismatch");
    }
    gCapturedTextTarget = capture.target;
    target = capture.target;
  }

  auto front = getFrontmostApplicationIdentity();
  if (!front || !isSameApplicationIdentity(*target, front->bundleID, front->name)) {
    gCapturedTextTarget.reset();
    return failure(target->appName, target->bundleID, "frontmost_app_changed");
  }

  const std::string& bundle = target->bundleID;
  if (ttyScriptFor(bundle)) {
    if (insertViaTTY(text, bundle)) return success("tty", *target);
    return declineForPaste(*target, "tty_write_failed");
  }
  if (contains(jetbrainsIDs, bundle)) return declineForPaste(*target, "clipboard_preferred_jetbrains");
  if (isWebEditorBundle(bundle)) return declineForPaste(*target, "clipboard_preferred_web_editor_bundle");
  bool drifted = false, web = false;
  {
    ax::Deadline deadline(ax::kDecisionBudget);
    drifted = focusDrifted(*target);
    web = !drifted && isWebBasedElement(target->element.get());
  }
  if (drifted) return declineForPaste(*target, "focus_drifted");
  if (web) return declineForPaste(*target, "clipboard_preferred_web");
  if (gClipboardPreferredAppendBundles().count(bundle)) return declineForPaste(*target, "clipboard_preferred_bundle");
  return insertThroughAccessibility(*target, text);
}

}  // namespace pelmora
