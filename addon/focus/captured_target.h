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

// Each Accessibility query of another application is a round trip that
// waits for that application. The system's default timeout is about six
// seconds per query, so one hung application would freeze the editor for
// tens of seconds across a capture with its retries. A second is far longer
// than a healthy reply (milliseconds) and short enough that the worst capture
// stays bounded to a few seconds; a query past it simply fails.
inline constexpr double kAccessibilityMessagingTimeout = 1.0;

// An immutable record; copies share the one element reference.
struct CapturedTextTarget {
  std::string appName;
  std::string bundleID;
  platform::Element element;
  std::optional<std::string> existingText;
  double capturedAt = 0;
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
};

extern TargetRef gCapturedTextTarget;

// Does not touch gCapturedTextTarget; the caller stores the result.
FocusCaptureResult captureFocusedTextTarget();

std::optional<ApplicationIdentity> getFrontmostApplicationIdentity();
bool isSameApplicationIdentity(const CapturedTextTarget& target, std::string_view bundleID, std::string_view name);
bool bundleMatches(std::string_view captured, std::string_view expected);
bool clearCapturedTextTargetIfApplicationChanged();

// Seconds since the capture, to the microsecond (NaN never compares young).
double targetAge(const CapturedTextTarget& target);

}  // namespace pelmora
