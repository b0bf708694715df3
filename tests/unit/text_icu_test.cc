// The Linux platform's Unicode services against the Unicode conformance data.
#include <gtest/gtest.h>

#include "unicode/utf8.h"

#include <fstream>
#include <sstream>
#include <string>

#include "platform/sim/text_services.h"
#include "platform/text.h"

namespace {

std::string utf8(uint32_t cp) {
  std::string s;
  unicode::appendUtf8(s, cp);
  return s;
}

TEST(GraphemeClusters, WholeConformanceFile) {
  std::ifstream in("/usr/share/unicode/auxiliary/GraphemeBreakTest.txt");
  ASSERT_TRUE(in) << "GraphemeBreakTest.txt is missing: apt-get install unicode-data";
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    std::istringstream tokens(line);
    std::string token, text;
    size_t clusters = 0;
    bool first = true;
    while (tokens >> token) {
      if (token == "\xC3\xB7") {  // a break
        if (!first) ++clusters;
      } else if (token != "\xC3\x97") {  // not "no break": a code point
        text += utf8(static_cast<uint32_t>(std::stoul(token, nullptr, 16)));
      }
      first = false;
    }
    // The line starts with a break that opens nothing.
    EXPECT_EQ(platform::graphemeClusterCount(text), clusters) << line;
    ++cases;
  }
  EXPECT_GT(cases, 500);  // 602 in Unicode 15
}

TEST(GraphemeClusters, EverydayText) {
  EXPECT_EQ(platform::graphemeClusterCount(""), 0u);
  EXPECT_EQ(platform::graphemeClusterCount("ab"), 2u);
  EXPECT_EQ(platform::graphemeClusterCount("e\xCC\x81"), 1u);                  // e + combining acute
  EXPECT_EQ(platform::graphemeClusterCount("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"), 1u);  // thumbs up, skin tone
  EXPECT_EQ(platform::graphemeClusterCount("\r\n"), 1u);
}

TEST(CanonicalEquivalence, ComposedEqualsDecomposed) {
  EXPECT_TRUE(platform::canonicallyEquivalent("caf\xC3\xA9", "cafe\xCC\x81"));
  EXPECT_TRUE(platform::canonicallyEquivalent("", ""));
  EXPECT_FALSE(platform::canonicallyEquivalent("cafe", "caf\xC3\xA9"));
  EXPECT_FALSE(platform::canonicallyEquivalent("abc", "abcd"));
  // Compatibility forms are not canonical: the ligature is not "fi".
  EXPECT_FALSE(platform::canonicallyEquivalent("\xEF\xAC\x81", "fi"));
  EXPECT_EQ(sim::canonicalDecomposition("caf\xC3\xA9"), "cafe\xCC\x81");
}

}  // namespace
