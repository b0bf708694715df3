#include "settings/fn_usage.h"

#include "settings/number_conversion.h"

namespace pelmora {

std::optional<int32_t> parseInt32Text(std::string_view text) noexcept {
  size_t i = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return std::nullopt;  // empty, or a sign alone
  // Magnitude up to 2^31 (the most negative value); leading zeros add nothing.
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kLimit) return std::nullopt;
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t fnUsageTypeFrom(const platform::PrefValue& value) noexcept {
  using Kind = platform::PrefValue::Kind;
  switch (value.kind) {
    // Numbers convert as the platform converts them (see number_conversion.h):
    // saturating, truncating, NaN as 0.
    case Kind::integer: return saturatingCast<int32_t>(value.integer);
    case Kind::real: return saturatingCast<int32_t>(value.real);
    case Kind::string: return parseInt32Text(value.text).value_or(0);
    default: return 0;
  }
}

int32_t readSystemFnUsageType() noexcept {
  return fnUsageTypeFrom(platform::copyAppPreference(kFnUsageTypeKey, kHIToolboxDomain));
}

}  // namespace pelmora
