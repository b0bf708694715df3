// The Fn usage type: the text rule against a reference that compares digit
// strings instead of accumulating, and the number conversion against one in
// long double arithmetic.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "settings/fn_usage.h"

namespace {

std::optional<int32_t> referenceParse(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  for (char c : s)
    if (c < '0' || c > '9') return std::nullopt;
  while (s.size() > 1 && s[0] == '0') s.remove_prefix(1);
  const std::string limit = negative ? "2147483648" : "2147483647";
  if (s.size() > limit.size() || (s.size() == limit.size() && std::string(s) > limit)) return std::nullopt;
  long long v = std::stoll(std::string(s));
  return static_cast<int32_t>(negative ? -v : v);
}

int32_t referenceFromReal(double d) {
  if (std::isnan(d)) return 0;
  long double t = std::trunc(static_cast<long double>(d));
  if (t <= -2147483648.0L) return INT32_MIN;
  if (t >= 2147483647.0L) return INT32_MAX;
  return static_cast<int32_t>(t);
}

int32_t referenceFromInteger(int64_t i) {
  return i < INT32_MIN ? INT32_MIN : i > INT32_MAX ? INT32_MAX : static_cast<int32_t>(i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (pelmora::parseInt32Text(text) != referenceParse(text)) abort();
  if (pelmora::fnUsageTypeFrom(platform::PrefValue::ofString(std::string(text))) != referenceParse(text).value_or(0))
    abort();
  if (size >= 8) {
    double d;
    int64_t i;
    std::memcpy(&d, data, 8);
    std::memcpy(&i, data, 8);
    if (pelmora::fnUsageTypeFrom(platform::PrefValue::ofReal(d)) != referenceFromReal(d)) abort();
    if (pelmora::fnUsageTypeFrom(platform::PrefValue::ofInteger(i)) != referenceFromInteger(i)) abort();
  }
  return 0;
}
