// The number conversion at the edges that preferences written by other
// programs can reach, and the value kinds that only the macOS layer makes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "settings/fn_usage.h"
#include "settings/number_conversion.h"
#include "settings/symbolic_hotkeys.h"

namespace {

using namespace pelmora;
using platform::PrefValue;

constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kI64Min = std::numeric_limits<int64_t>::min();

TEST(NumberConversion, SaturatesTruncatesAndZeroesNaN) {
  EXPECT_EQ(saturatingCast<int32_t>(kI64Max), INT32_MAX);
  EXPECT_EQ(saturatingCast<int32_t>(kI64Min), INT32_MIN);
  EXPECT_EQ(saturatingCast<int32_t>(int64_t{INT32_MAX} + 1), INT32_MAX);
  EXPECT_EQ(saturatingCast<int32_t>(int64_t{-7}), -7);
  EXPECT_EQ(saturatingCast<int32_t>(-2147483648.5), INT32_MIN);
  EXPECT_EQ(saturatingCast<int32_t>(std::nextafter(2147483648.0, 0.0)), INT32_MAX);
  EXPECT_EQ(saturatingCast<int32_t>(-1.999), -1);
  EXPECT_EQ(saturatingCast<int32_t>(std::nan("")), 0);
  // 2^63 is the first double beyond the range; the one below it converts exactly.
  EXPECT_EQ(saturatingCast<int64_t>(9223372036854775808.0), kI64Max);
  EXPECT_EQ(saturatingCast<int64_t>(std::nextafter(9223372036854775808.0, 0.0)), int64_t{9223372036854774784});
  EXPECT_EQ(saturatingCast<int64_t>(-9223372036854775808.0), kI64Min);
  EXPECT_EQ(saturatingCast<int64_t>(-std::numeric_limits<double>::infinity()), kI64Min);
  EXPECT_EQ(saturatingCast<int64_t>(-std::nan("")), 0);
}

TEST(Int32Text, Boundaries) {
  EXPECT_EQ(parseInt32Text("2147483647"), INT32_MAX);
  EXPECT_EQ(parseInt32Text("-2147483648"), INT32_MIN);
  EXPECT_EQ(parseInt32Text("-000000000000002147483648"), INT32_MIN);
  EXPECT_FALSE(parseInt32Text("2147483648"));
  EXPECT_FALSE(parseInt32Text("-2147483649"));
  EXPECT_FALSE(parseInt32Text("184467440737095516160"));  // would wrap a 64-bit accumulator
  EXPECT_FALSE(parseInt32Text(std::string_view("1\0", 2)));
}

TEST(SettingsValues, KindsTheTreeDoesNotModelAreNeitherNumbersNorStrings) {
  PrefValue other;
  other.kind = PrefValue::Kind::other;
  EXPECT_EQ(fnUsageTypeFrom(other), 0);
  EXPECT_FALSE(toInt(&other));
  EXPECT_FALSE(toInt(nullptr));
  PrefValue tree = PrefValue::ofDictionary(
      {{PrefValue::ofString("1"),
        PrefValue::ofDictionary({{PrefValue::ofString("enabled"), other},
                                 {PrefValue::ofString("value"),
                                  PrefValue::ofDictionary({{PrefValue::ofString("type"), PrefValue::ofString("standard")},
                                                           {PrefValue::ofString("parameters"),
                                                            PrefValue::ofArray({other, PrefValue::ofInteger(1),
                                                                                PrefValue::ofInteger(2)})}})}})}});
  EXPECT_TRUE(symbolicHotkeysFrom(tree).empty());
  tree.entries[0].value.entries[0].value = PrefValue::ofBool(true);
  ASSERT_EQ(symbolicHotkeysFrom(tree).size(), 1u);
  tree.entries[0].value.entries[1].value.entries[1].value.items[2] = other;
  EXPECT_TRUE(symbolicHotkeysFrom(tree).empty());
}

}  // namespace
