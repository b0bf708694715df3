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
  activateTargetApplication(target.pid);
  ax::setBool(target.element.get(), "AXFocused", true);
  platform::sleepFor(kRefocusPause);
}

std::string declineForPaste(const CapturedTextTarget& target, std::string_view reason) {
  preparePaste(target);
  return failure(target.appName, target.bundleID, reason);
}

// The application's focus has moved to another element since the capture:
// neither to the locked element nor to the one it was locked from (focus
// resting on the group around the field is no move).
bool focusDrifted(const CapturedTextTarget& target) {
  platform::Element application = platform::applicationElement(target.pid);
  platform::AttributeResult focused = ax::copy(application.get(), "AXFocusedUIElement");
  if (!focused.ok() || focused.kind != ValueKind::element) return false;
  return !platform::sameElement(focused.element.get(), target.element.get()) &&
         !(target.focusedAtLock && platform::sameElement(focused.element.get(), target.focusedAtLock.get()));
}

// What the route tests and the reads before the write decided.
struct Decision {
  std::string_view decline;  // empty: take the Accessibility route
  std::optional<std::string> value;
  platform::AttributeResult range;
  bool singleLine = false;
};

Decision declined(std::string_view reason) {
  Decision d;
  d.decline = reason;
  return d;
}

// The drift and web-content tests and the value and range reads share one
// budget. A test that could not get its answers (the budget ran out, the
// application stopped answering) decides nothing: its "no" would send the
// text down a route that was never checked.
Decision decideRoute(const CapturedTextTarget& target) {
  ax::Deadline deadline(ax::kDecisionBudget);
  ax::AnswerWatch watch;
  const bool drifted = focusDrifted(target);
  if (!watch.allAnswered()) return declined("target_unresponsive");
  if (drifted) return declined("focus_drifted");
  const bool web = target.webContent ? *target.webContent : isWebBasedElement(target.element.get());
  if (!watch.allAnswered()) return declined("target_unresponsive");
  if (web) return declined("clipboard_preferred_web");
  if (gClipboardPreferredAppendBundles().count(target.bundleID)) return declined("clipboard_preferred_bundle");

  // The value, the selection and the role (what the read-back may accept)
  // in one round trip.
  static constexpr std::string_view kReads[] = {"AXValue", "AXSelectedTextRange", "AXRole"};
  auto reads = ax::copyMany(target.element.get(), kReads);
  if (!watch.allAnswered()) return declined("target_unresponsive");
  Decision d;
  if (reads[0].ok() && reads[0].kind == ValueKind::string) d.value = std::move(reads[0].string);
  d.range = std::move(reads[1]);
  d.singleLine = contains(singleLineTextRoles, readableString(reads[2]));
  return d;
}

std::string insertThroughAccessibility(const CapturedTextTarget& target, std::string_view text, Decision d) {
  if (!d.value) return declineForPaste(target, "missing_value");
  const platform::AttributeResult& range = d.range;
  if (!range.ok() || range.kind != ValueKind::range || range.range.location < 0 || range.range.length < 0)
    return declineForPaste(target, "missing_selected_text_range");

  auto splice = spliceUtf16(*d.value, range.range.location, range.range.length, text);
  if (!splice) return failure(target.appName, target.bundleID, "invalid_selected_text_range");

  platform::ElementRef element = target.element.get();
  const FieldWrite write{element, *d.value, range.range, splice->value, d.singleLine};
  if (!tryAXWrite(write, target.bundleID)) return declineForPaste(target, "ax_write_verification_failed");
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
  if (!front || !isTargetApplication(*target, *front)) {
    gCapturedTextTarget.reset();
    return failure(target->appName, target->bundleID, "frontmost_app_changed");
  }

  const std::string& bundle = target->bundleID;
  if (ttyScriptFor(bundle)) {
    const platform::TypingOutcome outcome = insertViaTTY(text, bundle, target->pid);
    if (outcome == platform::TypingOutcome::typed) return success("tty", *target);
    // A line typed in part is brought forward all the same: the user
    // finishes it there, since a paste would repeat the part.
    return declineForPaste(*target, outcome == platform::TypingOutcome::partial ? "tty_write_incomplete"
                                                                                : "tty_write_failed");
  }
  if (contains(jetbrainsIDs, bundle)) return declineForPaste(*target, "clipboard_preferred_jetbrains");
  if (isWebEditorBundle(bundle)) return declineForPaste(*target, "clipboard_preferred_web_editor_bundle");
  Decision decision = decideRoute(*target);
  if (!decision.decline.empty()) return declineForPaste(*target, decision.decline);
  return insertThroughAccessibility(*target, text, std::move(decision));
}

}  // namespace pelmora
