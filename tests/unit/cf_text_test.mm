// Strings through CoreFoundation (macOS only): every character survives the
// trip in both directions, whatever storage CoreFoundation chose.
#include <gtest/gtest.h>

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <vector>

#include "platform/mac/cf_text.h"

namespace {

using platform::mac::createString;
using platform::mac::createStringReplacing;
using platform::mac::ScopedCF;
using platform::mac::toUtf8;

const std::string kReplacement = "\xEF\xBF\xBD";

std::string fromUnits(std::vector<UniChar> units) {
  ScopedCF s(CFStringCreateWithCharacters(kCFAllocatorDefault, units.data(), static_cast<CFIndex>(units.size())));
  return toUtf8(static_cast<CFStringRef>(s.ref));
}

std::vector<UniChar> unitsOf(CFStringRef s) {
  std::vector<UniChar> units(static_cast<size_t>(CFStringGetLength(s)));
  CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)), units.data());
  return units;
}

TEST(CFText, ANulInsideTheValueIsKeptWhateverTheStorage) {
  EXPECT_EQ(fromUnits({'a', 0, 'b'}), std::string("a\0b", 3));
  // Eight-bit storage, where a C-string pointer to the contents is on offer.
  ScopedCF eightBit(CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>("ab\0cd"), 5,
                                            kCFStringEncodingASCII, false));
  EXPECT_EQ(toUtf8(static_cast<CFStringRef>(eightBit.ref)), std::string("ab\0cd", 5));
  ScopedCF made(createString(std::string("x\0y", 3)));
  ASSERT_TRUE(made.ref);
  EXPECT_EQ(CFStringGetLength(static_cast<CFStringRef>(made.ref)), 3);
}

TEST(CFText, ALeadingByteOrderMarkIsACharacterLikeAnyOther) {
  const std::string value = "\xEF\xBB\xBF" "abc";
  ScopedCF made(createString(value));
  ASSERT_TRUE(made.ref);
  EXPECT_EQ(unitsOf(static_cast<CFStringRef>(made.ref)), (std::vector<UniChar>{0xFEFF, 'a', 'b', 'c'}));
  EXPECT_EQ(toUtf8(static_cast<CFStringRef>(made.ref)), value);
  // What the code steers clear of: the byte-based constructor drops it.
  ScopedCF fromBytes(CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(value.data()),
                                             static_cast<CFIndex>(value.size()), kCFStringEncodingUTF8, false));
  EXPECT_EQ(CFStringGetLength(static_cast<CFStringRef>(fromBytes.ref)), 3);
}

TEST(CFText, LoneSurrogatesBecomeReplacementCharactersAndPairsStayWhole) {
  EXPECT_EQ(fromUnits({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(fromUnits({0xD83D, 'x'}), kReplacement + "x");
  EXPECT_EQ(fromUnits({'x', 0xDE00}), "x" + kReplacement);
  EXPECT_EQ(fromUnits({0xDE00, 0xD83D}), kReplacement + kReplacement);
  EXPECT_EQ(fromUnits({'a', 0xD83D}), "a" + kReplacement);
}

TEST(CFText, TextThatIsNotUtf8MakesNoStringToWrite) {
  for (std::string bad : {std::string("\xFF"), std::string("ok\xC3"), std::string("\xED\xA0\x80"), std::string("\xC0\xAF")})
    EXPECT_EQ(createString(bad), nullptr) << bad;
  ScopedCF measured(createStringReplacing("a\xFF" "b"));
  ASSERT_TRUE(measured.ref);
  EXPECT_EQ(toUtf8(static_cast<CFStringRef>(measured.ref)), "a" + kReplacement + "b");
  ScopedCF empty(createString(""));
  ASSERT_TRUE(empty.ref);
  EXPECT_EQ(CFStringGetLength(static_cast<CFStringRef>(empty.ref)), 0);
}

}  // namespace
