// The Linux platform's Unicode services against the Unicode conformance data.
#include <gtest/gtest.h>

#include "unicode/utf8.h"

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/icu/text_services.h"
#include "platform/text.h"

namespace {

std::string utf8(uint32_t cp) {
  std::string s;
  unicode::appendUtf8(s, cp);
  return s;
}

TEST(GraphemeClusters, WholeConformanceFile) {
  std::ifstream in(PELMORA_UNICODE_DATA_DIR "/auxiliary/GraphemeBreakTest.txt");
  ASSERT_TRUE(in) << PELMORA_UNICODE_DATA_DIR "/auxiliary/GraphemeBreakTest.txt is missing: apt-get install unicode-data";
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
  EXPECT_EQ(platform::icu::canonicalDecomposition("caf\xC3\xA9"), "cafe\xCC\x81");
}

#if defined(__APPLE__)
const char* const kUnversionedIcu = "libicuuc.dylib";
const char* const kNotIcu = "/usr/lib/libSystem.B.dylib";
#else
const char* const kUnversionedIcu = "libicuuc.so";
const char* const kNotIcu = "libm.so.6";
#endif

TEST(IcuLoading, FindsTheSymbolVersionWhateverTheFileIsNamed) {
  const platform::icu::IcuLibrary& used = platform::icu::icuLibrary();
  ASSERT_TRUE(used.opened) << used.error;
  EXPECT_TRUE(std::regex_match(used.suffix, std::regex("_[0-9]+|"))) << used.suffix;
  // The development link carries no version in its name: the suffix must be
  // found in the library, not taken from the build.
  const std::string folder = used.file.find('/') == std::string::npos ? "" : used.file.substr(0, used.file.rfind('/') + 1);
  const platform::icu::IcuLibrary plain = platform::icu::probeIcu({folder + kUnversionedIcu});
  ASSERT_TRUE(plain.opened) << plain.error;
  EXPECT_EQ(plain.suffix, used.suffix);
}

TEST(IcuLoading, NoIcuIsAnErrorThatSaysWhatToInstall) {
  // A file that is missing, and a library that opens but is not ICU.
  const platform::icu::IcuLibrary none = platform::icu::probeIcu({"/nonexistent/libicuuc.so.99", kNotIcu});
  EXPECT_FALSE(none.opened);
  EXPECT_NE(none.error.find("tried 2 names"), std::string::npos) << none.error;
  EXPECT_NE(none.error.find("/nonexistent/libicuuc.so.99"), std::string::npos) << none.error;
  EXPECT_NE(none.error.find("install"), std::string::npos) << none.error;
}

}  // namespace
