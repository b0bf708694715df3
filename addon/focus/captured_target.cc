#include "focus/ax_calls.h"
#include "focus/captured_target.h"

#include <algorithm>
#include <cctype>

#include "focus/editable_search.h"
#include "focus/elements.h"
#include "focus/tables.h"
#include "frame/elapsed.h"

namespace pelmora {

using platform::Element;
using platform::ValueKind;

TargetRef gCapturedTextTarget;

namespace {

struct Identity {
  std::string bundleID;
  std::string name{kCurrentAppName};
};

Identity identityOf(const std::optional<platform::RunningApplication>& app) {
  Identity id;
  if (app) {
    id.bundleID = app->bundleID.value_or("");
    id.name = app->name.value_or(std::string(kCurrentAppName));
  }
  return id;
}

FocusCaptureResult failed(std::string reason, const Identity& id = {}) {
  FocusCaptureResult r;
  r.reason = std::move(reason);
  r.appName = id.name;
  r.bundleID = id.bundleID;
  return r;
}

// Applications whose focus answers lag behind while their web content or
// windows settle get more attempts.
int focusRetryCount(const std::string& bundleID) {
  std::string lower = bundleID;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const bool slowFocus = contains(chromeBundleIDs, bundleID) || isWebEditorBundle(bundleID) ||
                         bundleID.starts_with(kElectronBundlePrefix) || lower.find("chrome") != std::string::npos;
  return slowFocus ? 4 : 1;
}

}  // namespace

FocusCaptureResult captureFocusedTextTarget() {
  if (!platform::isProcessTrusted()) return failed("accessibility_not_trusted");
  ax::Deadline deadline(ax::kDecisionBudget);

  // The application: the system-wide focused one, else the workspace's
  // frontmost one.
  Identity id;
  Element application;
  int32_t pid = 0;
  platform::AttributeResult focusedApp = ax::copySystemWide("AXFocusedApplication");
  if (focusedApp.ok() && focusedApp.kind == ValueKind::element) {
    application = std::move(focusedApp.element);
    pid = platform::elementPid(application.get());
    id = identityOf(platform::runningApplication(pid));
  } else {
    auto front = platform::frontmostApplication();
    if (!front) return failed("missing_frontmost_app");
    pid = front->pid;
    application = platform::applicationElement(pid);
    id = identityOf(front);
  }
  if (!application) return failed("missing_frontmost_app");

  Element chosen;
  Element lockedFrom;  // the element lockedEditableElement started from
  platform::AttributeResult focused = ax::copy(application.get(), "AXFocusedUIElement");
  // An answer that is not an element counts as a failed query.
  auto failedQuery = [](const platform::AttributeResult& r) {
    return !r.ok() || (r.kind != ValueKind::element && r.kind != ValueKind::none);
  };
  auto errorOf = [](const platform::AttributeResult& r) { return r.ok() ? platform::kAXFailure : r.error; };

  if (failedQuery(focused)) {
    platform::AXError lastError = errorOf(focused);
    const int retries = focusRetryCount(id.bundleID);
    for (int i = 0; i < retries && failedQuery(focused); ++i) {
      platform::sleepFor(kFocusRetryPause);
      focused = ax::copy(application.get(), "AXFocusedUIElement");
      if (failedQuery(focused)) lastError = errorOf(focused);
    }
    if (failedQuery(focused)) {
      Element candidate;
      if (Element window = focusedWindowElement(application.get())) {
        platform::AttributeResult inWindow = ax::copy(window.get(), "AXFocusedUIElement");
        candidate = inWindow.ok() && inWindow.kind == ValueKind::element ? std::move(inWindow.element)
                                                                            : searchEditableElement(window.get());
      }
      if (!candidate) return failed("focus_error_" + std::to_string(lastError), id);
      chosen = lockedEditableElement(candidate.get(), application.get(), id.bundleID);
      lockedFrom = std::move(candidate);
    }
  }
  if (!chosen) {
    if (focused.kind != ValueKind::element) return failed("missing_focused_element", id);
    chosen = lockedEditableElement(focused.element.get(), application.get(), id.bundleID);
    lockedFrom = std::move(focused.element);
  }

  auto target = std::make_shared<CapturedTextTarget>();
  target->appName = id.name;
  target->bundleID = id.bundleID;
  target->pid = pid;
  target->existingText = getElementValue(chosen.get());
  target->capturedAt = platform::now();
  {
    ax::AnswerWatch watch;
    const bool web = isWebBasedElement(chosen.get());
    if (watch.allAnswered()) target->webContent = web;
  }
  if (!platform::sameElement(lockedFrom.get(), chosen.get())) target->focusedAtLock = std::move(lockedFrom);
  target->element = std::move(chosen);

  FocusCaptureResult result;
  result.appName = id.name;
  result.bundleID = id.bundleID;
  result.target = std::move(target);
  return result;
}

std::optional<ApplicationIdentity> getFrontmostApplicationIdentity() {
  auto front = platform::frontmostApplication();
  if (!front) return std::nullopt;
  Identity id = identityOf(front);
  return ApplicationIdentity{std::move(id.bundleID), std::move(id.name), front->pid};
}

// By process: an application without a bundle identifier has nothing else
// that tells it from another, and a name is no identity. The bundle
// identifier must agree as well, so that a process nothing names (or a pid
// the system has given to another application since) is never taken for the
// target.
bool isTargetApplication(const CapturedTextTarget& target, const ApplicationIdentity& app) {
  return target.pid > 0 && app.pid == target.pid && app.bundleID == target.bundleID;
}

// A target without a bundle identifier satisfies no expected one: the host
// asked for a particular application, and nothing shows that this is it.
bool bundleMatches(std::string_view captured, std::string_view expected) {
  if (expected.empty() || captured == expected) return true;
  if (captured.empty()) return false;
  auto continues = [](std::string_view longer, std::string_view prefix) {
    return longer.size() > prefix.size() && longer.starts_with(prefix) && longer[prefix.size()] == '.';
  };
  return continues(captured, expected) || continues(expected, captured);
}

bool clearCapturedTextTargetIfApplicationChanged() {
  if (!gCapturedTextTarget) return false;
  auto front = getFrontmostApplicationIdentity();
  if (front && isTargetApplication(*gCapturedTextTarget, *front)) return false;
  gCapturedTextTarget.reset();
  return true;
}

double targetAge(const CapturedTextTarget& target) { return elapsedSeconds(target.capturedAt, platform::now()); }

}  // namespace pelmora
