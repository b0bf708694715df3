#include <gtest/gtest.h>

#include <string>

#include "lister/base64.h"
#include "lister/json_document.h"

namespace {

using corvane::AppInfo;
using corvane::Result;

std::string jsonQuoted(std::string_view text) {
  std::string out;
  corvane::appendJsonString(out, text);
  return out;
}

TEST(Base64, Rfc4648Vectors) {
  EXPECT_EQ(corvane::base64Encode(""), "");
  EXPECT_EQ(corvane::base64Encode("f"), "Zg==");
  EXPECT_EQ(corvane::base64Encode("fo"), "Zm8=");
  EXPECT_EQ(corvane::base64Encode("foo"), "Zm9v");
  EXPECT_EQ(corvane::base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(corvane::base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(corvane::base64Encode("foobar"), "Zm9vYmFy");
}

TEST(Base64, HighBytesUseTheStandardAlphabetAndLongTextHasNoLineBreaks) {
  EXPECT_EQ(corvane::base64Encode(std::string("\xFB\xFF\xBF", 3)), "+/+/");
  EXPECT_EQ(corvane::base64Encode(std::string("\0\0", 2)), "AAA=");
  const std::string long64 = corvane::base64Encode(std::string(10000, '\xAB'));
  EXPECT_EQ(long64.size(), 13336u);
  EXPECT_EQ(long64.find_first_of("\r\n"), std::string::npos);
}

TEST(JsonString, QuotesBackslashesAndEverySlashAreEscaped) {
  EXPECT_EQ(jsonQuoted(R"(a"b\c/d)"), R"("a\"b\\c\/d")");
  EXPECT_EQ(jsonQuoted("//"), R"("\/\/")");
  EXPECT_EQ(jsonQuoted(""), R"("")");
}

TEST(JsonString, ControlCharactersAreEscapedAndNothingElse) {
  EXPECT_EQ(jsonQuoted("\b\f\n\r\t"), R"("\b\f\n\r\t")");
  EXPECT_EQ(jsonQuoted(std::string("\x00\x01\x1f", 3)), R"("\u0000\u0001\u001f")");
  EXPECT_EQ(jsonQuoted("\x7f ~"), "\"\x7f ~\"");
  EXPECT_EQ(jsonQuoted("Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x98\x80"), "\"Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x98\x80\"");
}

// Long plain runs (an icon's text) are scanned sixteen bytes at a time:
// a byte that ends a run is found at every place in and across the blocks.
TEST(JsonString, EveryByteThatEndsARunIsFoundWhereverItStands) {
  const std::string plain(80, 'A');
  const std::pair<std::string, std::string> enders[] = {
      {"/", "\\/"}, {"\"", "\\\""}, {"\\", "\\\\"}, {"\n", "\\n"}, {std::string(1, '\0'), "\\u0000"}, {"\x1f", "\\u001f"},
      {"\xC3\xA9", "\xC3\xA9"}, {"\xFF", "\xEF\xBF\xBD"}};
  for (const auto& [ender, escaped] : enders) {
    for (size_t at = 0; at <= 64; ++at) {
      const std::string text = plain.substr(0, at) + ender + plain.substr(at);
      EXPECT_EQ(jsonQuoted(text), "\"" + plain.substr(0, at) + escaped + plain.substr(at) + "\"") << at << " " << escaped;
    }
  }
}

TEST(JsonString, IllFormedUtf8BecomesReplacementCharacters) {
  const std::string R = "\xEF\xBF\xBD";
  EXPECT_EQ(jsonQuoted("a\xFF" "b"), "\"a" + R + "b\"");
  EXPECT_EQ(jsonQuoted("\xED\xA0\x80"), "\"" + R + R + R + "\"");  // a surrogate
  EXPECT_EQ(jsonQuoted("end\xE2\x82"), "\"end" + R + "\"");          // cut short
  EXPECT_EQ(jsonQuoted("\xC3\"/"), "\"" + R + "\\\"\\/\"");          // a broken lead does not eat what follows
}

TEST(Document, EmptyListAndNoDefault) { EXPECT_EQ(corvane::documentJson(Result{}), R"({"apps":[]})"); }

TEST(Document, KeysSortedAndAbsentOptionalsLeftOut) {
  Result r;
  r.defaultAppIdentifier = "com.apple.TextEdit";
  r.apps.push_back(AppInfo{"com.apple.TextEdit", "TextEdit", "/System/Applications/TextEdit.app", "iVBO+/w=="});
  r.apps.push_back(AppInfo{"com.x", "", "/X.app", std::nullopt});
  EXPECT_EQ(corvane::documentJson(r),
            R"({"apps":[{"icon":"iVBO+\/w==","identifier":"com.apple.TextEdit","name":"TextEdit",)"
            R"("path":"\/System\/Applications\/TextEdit.app"},{"identifier":"com.x","name":"","path":"\/X.app"}],)"
            R"("defaultAppIdentifier":"com.apple.TextEdit"})");
}

}  // namespace
