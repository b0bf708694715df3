// Application identity rules the captured target depends on.
#include <gtest/gtest.h>

#include "focus/captured_target.h"
#include "focus/tables.h"
#include "platform/sim/world.h"

namespace {

using namespace pelmora;

TEST(BundleMatches, EmptyAcceptsAnythingAndDotsBoundTheFamily) {
  EXPECT_TRUE(bundleMatches("com.google.Chrome", "com.google.Chrome.canary"));
  EXPECT_TRUE(bundleMatches("com.google.Chrome.canary", "com.google.Chrome"));
  EXPECT_TRUE(bundleMatches("", "com.example.app"));
  EXPECT_TRUE(bundleMatches("com.example.app", ""));
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

TEST(SameApplication, BundleIdentifiersFirstNamesOnlyWhenBothAreEmpty) {
  CapturedTextTarget withBundle{.appName = "Notes", .bundleID = "com.example.notes"};
  EXPECT_TRUE(isSameApplicationIdentity(withBundle, "com.example.notes", "Renamed"));
  EXPECT_FALSE(isSameApplicationIdentity(withBundle, "", "Notes"));
  CapturedTextTarget unnamed{.appName = "Tool"};
  EXPECT_TRUE(isSameApplicationIdentity(unnamed, "", "Tool"));
  EXPECT_FALSE(isSameApplicationIdentity(unnamed, "", "Other"));
  EXPECT_FALSE(isSameApplicationIdentity(unnamed, "com.example.tool", "Tool"));
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
