#include "unicode/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using unicode::toWellFormedUtf8;

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

}  // namespace
