// Application identity rules the captured target depends on.
#include <gtest/gtest.h>

#include "focus/captured_target.h"
#include "focus/tables.h"
#include "platform/sim/world.h"

namespace {

using namespace pelmora;

TEST(BundleMatches, NoExpectationAcceptsAnythingAndDotsBoundTheFamily) {
  EXPECT_TRUE(bundleMatches("com.google.Chrome", "com.google.Chrome.canary"));
  EXPECT_TRUE(bundleMatches("com.google.Chrome.canary", "com.google.Chrome"));
  EXPECT_TRUE(bundleMatches("com.example.app", ""));
  EXPECT_TRUE(bundleMatches("", ""));
  // A target without a bundle identifier is not the application asked for.
  EXPECT_FALSE(bundleMatches("", "com.example.app"));
  EXPECT_TRUE(bundleMatches("com.example.app", "com.example.app"));
  EXPECT_FALSE(bundleMatches("com.example.app", "com.example.apple"));
  EXPECT_FALSE(bundleMatches("com.example.apple", "com.example.app"));
  EXPECT_FALSE(bundleMatches("com.example.a", "com.example.b"));
}

TEST(WebEditorBundle, PrefixOnlyAtADotBoundary) {
  EXPECT_TRUE(isWebEditorBundle("com.openai.codex"));
  EXPECT_TRUE(isWebEditorBundle("com.openai.codex.helper"));
  EXPECT_TRUE(isWebEditorBundle("com.tarnwick.ide.beta"));
  EXPECT_FALSE(isWebEditorBundle("com.openai.codexx"));
  EXPECT_FALSE(isWebEditorBundle("com.openai"));
  EXPECT_FALSE(isWebEditorBundle(""));
  EXPECT_FALSE(isWebEditorBundle("COM.OPENAI.CODEX"));
}

TEST(SameApplication, TheTargetsOwnProcessWithItsBundleIdentifier) {
  CapturedTextTarget withBundle{.appName = "Notes", .bundleID = "com.example.notes", .pid = 41};
  EXPECT_TRUE(isTargetApplication(withBundle, {"com.example.notes", "Renamed", 41}));
  EXPECT_FALSE(isTargetApplication(withBundle, {"com.example.notes", "Notes", 42}));  // a second instance
  EXPECT_FALSE(isTargetApplication(withBundle, {"", "Notes", 41}));  // a process nothing names
  CapturedTextTarget unnamed{.appName = "Tool", .pid = 7};
  EXPECT_TRUE(isTargetApplication(unnamed, {"", "Other name", 7}));
  EXPECT_FALSE(isTargetApplication(unnamed, {"", "Tool", 8}));  // same name, another process
  CapturedTextTarget unknown{.appName = "Tool"};
  EXPECT_FALSE(isTargetApplication(unknown, {"", "Tool", 0}));
}

TEST(TargetAge, WholeSecondsAreExactOnALargeClock) {
  sim::reset();
  sim::advanceClock(0.3);  // an awkward capture time
  CapturedTextTarget target{.appName = "A", .bundleID = "a", .capturedAt = platform::now()};
  for (int i = 0; i < 599; ++i) sim::advanceClock(1);
  EXPECT_LT(targetAge(target), kTargetInsertionLifetime);
  sim::advanceClock(1);
  EXPECT_FALSE(targetAge(target) < kTargetInsertionLifetime);
  EXPECT_EQ(targetAge(target), 600);
}

}  // namespace
