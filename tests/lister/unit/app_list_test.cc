#include "lister/app_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "lister/base64.h"

namespace {

using corvane::AppInfo;
using corvane::listApps;
using corvane::fake::FakeApp;
using corvane::fake::gApps;
using corvane::fake::gDefault;
using corvane::fake::gIconPaths;

FakeApp app(std::string id, std::string name, std::string path) {
  FakeApp a;
  a.identifier = std::move(id);
  a.displayName = std::move(name);
  a.path = std::move(path);
  a.png = "PNG";
  return a;
}

std::vector<std::string> identifiers(const corvane::Result& r) {
  std::vector<std::string> ids;
  for (const AppInfo& a : r.apps) ids.push_back(a.identifier);
  return ids;
}

class ListApps : public ::testing::Test {
 protected:
  void SetUp() override { corvane::fake::reset(); }
};

TEST_F(ListApps, SkipsApplicationsWithoutIdentifierAndDrawsNoIconForThem) {
  FakeApp noBundle = app("x", "Nobody", "/Apps/Nobody.app");
  noBundle.identifier.reset();
  gApps = {noBundle, app("com.b", "B", "/Apps/B.app")};
  const corvane::Result r = listApps("f");
  EXPECT_EQ(identifiers(r), std::vector<std::string>{"com.b"});
  EXPECT_EQ(gIconPaths, std::vector<std::string>{"/Apps/B.app"});
}

TEST_F(ListApps, TheFirstLocationOfAnIdentifierWinsAndLaterCopiesCostNoIcon) {
  gApps = {app("com.e", "Editor", "/Applications/Editor.app"), app("com.o", "Other", "/Applications/Other.app"),
           app("com.e", "Editor Old", "/Users/me/Applications/Editor.app")};
  const corvane::Result r = listApps("f");
  ASSERT_EQ(r.apps.size(), 2u);
  EXPECT_EQ(r.apps[0].name, "Editor");
  EXPECT_EQ(r.apps[0].path, "/Applications/Editor.app");
  std::sort(gIconPaths.begin(), gIconPaths.end());
  EXPECT_EQ(gIconPaths, (std::vector<std::string>{"/Applications/Editor.app", "/Applications/Other.app"}));
}

TEST_F(ListApps, DisplayNameThenNameThenStemAndAnEmptyValueCounts) {
  FakeApp both = app("a", "Shown", "/A.app");
  both.name = "Plain";
  FakeApp onlyName = app("b", "", "/B.app");
  onlyName.displayName.reset();
  onlyName.name = "Bundle name";
  FakeApp neither = app("c", "", "/TextEdit.app");
  neither.displayName.reset();
  neither.stem = "TextEdit";
  FakeApp empty = app("d", "", "/D.app");
  empty.name = "Never";
  gApps = {both, onlyName, neither, empty};
  const corvane::Result r = listApps("f");
  ASSERT_EQ(r.apps.size(), 4u);
  EXPECT_EQ(r.apps[0].name, "");  // empty sorts first
  EXPECT_EQ(r.apps[1].name, "Bundle name");
  EXPECT_EQ(r.apps[2].name, "Shown");
  EXPECT_EQ(r.apps[3].name, "TextEdit");
}

TEST_F(ListApps, TheDefaultComesFirstEvenWhenItSortsLast) {
  gApps = {app("z", "Zed", "/Z.app"), app("a", "alpha", "/a.app"), app("b", "Beta", "/B.app")};
  gDefault = app("z", "Zed", "/Z.app");
  const corvane::Result r = listApps("f");
  EXPECT_EQ(r.defaultAppIdentifier, "z");
  EXPECT_EQ(identifiers(r), (std::vector<std::string>{"z", "a", "b"}));
}

TEST_F(ListApps, ADefaultThatIsNotListedIsNamedButNotAdded) {
  gApps = {app("b", "Beta", "/B.app"), app("a", "alpha", "/a.app")};
  gDefault = app("elsewhere", "Elsewhere", "/E.app");
  const corvane::Result r = listApps("f");
  EXPECT_EQ(r.defaultAppIdentifier, "elsewhere");
  EXPECT_EQ(identifiers(r), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(gIconPaths.size(), 2u);
}

TEST_F(ListApps, NoDefaultWhenThereIsNoneOrItHasNoIdentifier) {
  gApps = {app("b", "Beta", "/B.app"), app("a", "alpha", "/a.app")};
  EXPECT_FALSE(listApps("f").defaultAppIdentifier);
  gDefault = app("b", "Beta", "/B.app");
  gDefault->identifier.reset();
  const corvane::Result r = listApps("f");
  EXPECT_FALSE(r.defaultAppIdentifier);
  EXPECT_EQ(identifiers(r), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ListApps, NamesThatCompareEqualKeepThePlatformOrder) {
  // Enough entries that an unstable sort would be likely to reorder them.
  std::vector<std::string> expected;
  for (int i = 0; i < 40; ++i) {
    const std::string id = "id" + std::to_string(i);
    gApps.push_back(app(id, i % 2 ? "SAME" : "same", "/" + id));
    expected.push_back(id);
  }
  gApps.push_back(app("first", "Alpha", "/first"));
  expected.insert(expected.begin(), "first");
  EXPECT_EQ(identifiers(listApps("f")), expected);
}

TEST_F(ListApps, IllFormedUtf8IsRepairedBeforeDedupeAndSort) {
  const std::string R = "\xEF\xBF\xBD";
  gApps = {app("id\xFF", "B\xC3", "/p\xFE/B.app"), app("id\xFE", "Copy", "/C.app"), app("a", "A", "/A.app")};
  gDefault = app("id\xFE", "x", "/x");
  const corvane::Result r = listApps("f");
  // Both raw identifiers print as id + U+FFFD: one application, and the default.
  ASSERT_EQ(r.apps.size(), 2u);
  EXPECT_EQ(r.defaultAppIdentifier, "id" + R);
  EXPECT_EQ(r.apps[0].identifier, "id" + R);
  EXPECT_EQ(r.apps[0].name, "B" + R);
  EXPECT_EQ(r.apps[0].path, "/p" + R + "/B.app");
}

TEST_F(ListApps, IconsAreDrawnOnSeveralThreadsAndEachLandsOnItsOwnApplication) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core: drawing is not spread";
  for (int i = 0; i < 64; ++i) {
    FakeApp a = app("id" + std::to_string(i), "Name " + std::to_string(100 + (i * 37) % 64), "/Apps/" + std::to_string(i) + ".app");
    a.png = "PNG of " + a.path;
    gApps.push_back(a);
  }
  // Each drawing waits, up to a bound, for another one to be under way.
  std::atomic<int> inFlight{0}, mostInFlight{0};
  corvane::fake::gWhileDrawing = [&](const std::string&) {
    const int now = ++inFlight;
    for (int seen = mostInFlight; now > seen && !mostInFlight.compare_exchange_weak(seen, now);) {
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (mostInFlight < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    --inFlight;
  };
  const corvane::Result r = listApps("f");
  EXPECT_GE(mostInFlight.load(), 2);
  ASSERT_EQ(r.apps.size(), 64u);
  for (const AppInfo& a : r.apps) EXPECT_EQ(a.icon, corvane::base64Encode("PNG of " + a.path)) << a.identifier;
}

TEST_F(ListApps, ADrawingThatRunsOutOfMemoryCostsOnlyItsOwnIcon) {
  gApps = {app("a", "A", "/A.app"), app("b", "B", "/B.app"), app("c", "C", "/C.app")};
  corvane::fake::gWhileDrawing = [](const std::string& path) {
    if (path == "/B.app") throw std::bad_alloc();
  };
  const corvane::Result r = listApps("f");
  ASSERT_EQ(r.apps.size(), 3u);
  EXPECT_TRUE(r.apps[0].icon);
  EXPECT_FALSE(r.apps[1].icon);
  EXPECT_TRUE(r.apps[2].icon);
}

}  // namespace
