// The captured text target: which field of which application receives the
// transcript, remembered from the start of dictation.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace pelmora {

inline constexpr std::string_view kCurrentAppName = "Current App";
inline constexpr double kTargetInsertionLifetime = 600;  // seconds
inline constexpr double kTargetReadLifetime = 900;       // seconds
inline constexpr double kFocusRetryPause = 0.05;         // seconds

// An immutable record; copies share the one element reference.
struct CapturedTextTarget {
  std::string appName;
  std::string bundleID;
  // The application's process: what tells the target's application from any
  // other, with or without a bundle identifier. 0 when it is not known.
  int32_t pid = 0;
  platform::Element element;
  std::optional<std::string> existingText;
  double capturedAt = 0;
  // The element that had the focus when the text was locked onto `element`
  // (a group around the field, say); empty when it was `element` itself.
  platform::Element focusedAtLock;
  // Whether `element` lies in web content; it cannot change while the
  // element lives, so the capture answers it while the user speaks. Absent
  // when the capture could not complete the check.
  std::optional<bool> webContent;
};
using TargetRef = std::shared_ptr<const CapturedTextTarget>;

struct FocusCaptureResult {
  TargetRef target;  // present exactly when the capture succeeded
  std::string reason;
  std::string appName{kCurrentAppName};
  std::string bundleID;
};

struct ApplicationIdentity {
  std::string bundleID;
  std::string name;
  int32_t pid = 0;
};

extern TargetRef gCapturedTextTarget;

// Does not touch gCapturedTextTarget; the caller stores the result.
FocusCaptureResult captureFocusedTextTarget();

std::optional<ApplicationIdentity> getFrontmostApplicationIdentity();
// Whether the application is the target's own process.
bool isTargetApplication(const CapturedTextTarget& target, const ApplicationIdentity& app);
bool bundleMatches(std::string_view captured, std::string_view expected);
bool clearCapturedTextTargetIfApplicationChanged();

// Seconds since the capture, to the microsecond (NaN never compares young).
double targetAge(const CapturedTextTarget& target);

}  // namespace pelmora
