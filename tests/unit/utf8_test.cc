#include "unicode/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unicode/utf16.h"

namespace {

using unicode::isWellFormedUtf8;
using unicode::toWellFormedUtf8;
using unicode::utf16FromUtf8;
using unicode::codePointsBeforeUtf16Unit;
using unicode::utf16UnitsBeforeCodePoint;
using unicode::utf8FromUtf16;
using Units = std::vector<uint16_t>;

const std::string R = "\xEF\xBF\xBD";

TEST(Utf8, WellFormedTextIsKept) {
  for (std::string s : {std::string(""), std::string("plain"), std::string("caf\xC3\xA9"),
                        std::string("\xE2\x82\xAC"), std::string("\xF0\x9F\x98\x80"),
                        std::string("\xF4\x8F\xBF\xBF"), std::string("a\0b", 3)})
    EXPECT_EQ(toWellFormedUtf8(s), s);
}

TEST(Utf8, EachMaximalIllFormedSubpartBecomesOneReplacement) {
  // Lone continuation bytes, invalid leads, overlongs, surrogates, beyond U+10FFFF.
  EXPECT_EQ(toWellFormedUtf8("\x80"), R);
  EXPECT_EQ(toWellFormedUtf8("\x80\x80"), R + R);
  EXPECT_EQ(toWellFormedUtf8("\xC0\xAF"), R + R);          // C0 can never start a sequence
  EXPECT_EQ(toWellFormedUtf8("\xE0\x80\xAF"), R + R + R);  // overlong three-byte form
  EXPECT_EQ(toWellFormedUtf8("\xED\xA0\x80"), R + R + R);  // a UTF-16 surrogate
  EXPECT_EQ(toWellFormedUtf8("\xF4\x90\x80\x80"), R + R + R + R);
  EXPECT_EQ(toWellFormedUtf8("\xFF"), R);
}

TEST(Utf8, TruncatedSequencesAreOneReplacementEach) {
  EXPECT_EQ(toWellFormedUtf8("\xE2\x82"), R);
  EXPECT_EQ(toWellFormedUtf8("\xF0\x9F\x98"), R);
  EXPECT_EQ(toWellFormedUtf8("\xE2\x82x"), R + "x");
  EXPECT_EQ(toWellFormedUtf8("\xF0\x9F\x98\xE2\x82\xAC"), R + "\xE2\x82\xAC");
  EXPECT_EQ(toWellFormedUtf8("ab\xC3"), "ab" + R);
}

// UTF-16, as every macOS string API takes and gives text.
TEST(Utf16, EveryCharacterMakesTheRoundTripNulAndByteOrderMarkIncluded) {
  const std::string text("\xEF\xBB\xBF" "a\0b caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 21);
  const auto units = utf16FromUtf8(text);
  ASSERT_TRUE(units);
  EXPECT_EQ(*units, (Units{0xFEFF, 'a', 0, 'b', ' ', 'c', 'a', 'f', 0xE9, ' ', 0x20AC, ' ', 0xD83D, 0xDE00}));
  EXPECT_EQ(utf8FromUtf16(*units), text);
  EXPECT_EQ(utf16FromUtf8(""), Units{});
  EXPECT_EQ(utf16FromUtf8("\xF4\x8F\xBF\xBF"), (Units{0xDBFF, 0xDFFF}));  // U+10FFFF
}

TEST(Utf16, LoneSurrogatesBecomeOneReplacementEach) {
  EXPECT_EQ(utf8FromUtf16(Units{0xD83D}), R);
  EXPECT_EQ(utf8FromUtf16(Units{'a', 0xDE00, 'b'}), "a" + R + "b");
  EXPECT_EQ(utf8FromUtf16(Units{0xDE00, 0xD83D}), R + R);          // a pair in the wrong order
  EXPECT_EQ(utf8FromUtf16(Units{0xD83D, 0xD83D, 0xDE00}), R + "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8FromUtf16(Units{'x', 0xD83D}), "x" + R);           // cut off at the end
}

TEST(Utf16, TextThatIsNotUtf8HasNoUtf16) {
  for (std::string bad : {std::string("\x80"), std::string("ok\xC3"), std::string("\xED\xA0\x80"),
                          std::string("\xC0\xAF"), std::string("\xF4\x90\x80\x80"), std::string("a\xFF")}) {
    EXPECT_FALSE(utf16FromUtf8(bad)) << bad;
    EXPECT_FALSE(isWellFormedUtf8(bad)) << bad;
  }
  EXPECT_TRUE(isWellFormedUtf8(std::string("a\0\xF0\x9F\x98\x80", 6)));
}

// AT-SPI counts code points, the addon UTF-16 units: an emoji outside the
// Basic Multilingual Plane is one and two, a combining accent one and one.
TEST(Utf16, OffsetsConvertBetweenCodePointsAndUnits) {
  const std::string text = "a\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD" "e\xCC\x81\xE4\xB8\xAD";  // a, thumbs up + skin tone, e + acute, CJK
  const int64_t units[] = {0, 1, 3, 5, 6, 7, 8};
  for (int64_t cp = 0; cp <= 6; ++cp) {
    EXPECT_EQ(utf16UnitsBeforeCodePoint(text, cp), units[cp]) << cp;
    EXPECT_EQ(codePointsBeforeUtf16Unit(text, units[cp]), cp) << cp;
  }
  EXPECT_FALSE(codePointsBeforeUtf16Unit(text, 2)) << "inside a surrogate pair";
  EXPECT_FALSE(codePointsBeforeUtf16Unit(text, 9)) << "past the end";
  EXPECT_FALSE(utf16UnitsBeforeCodePoint(text, 7));
  EXPECT_FALSE(utf16UnitsBeforeCodePoint(text, -1));
  EXPECT_EQ(codePointsBeforeUtf16Unit("x\xFFy", 3), 3) << "a stray byte is one of each";
}

}  // namespace
