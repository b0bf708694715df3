// What the user has set the Fn/Globe key to do, read from the preferences
// and passed through unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/platform.h"

namespace pelmora {

inline constexpr char kFnUsageTypeKey[] = "AppleFnUsageType";
inline constexpr char kHIToolboxDomain[] = "com.apple.HIToolbox";

// The whole text as a decimal signed 32-bit integer: an optional single sign
// and one or more ASCII digits, nothing else.
std::optional<int32_t> parseInt32Text(std::string_view text) noexcept;

// The stored value as a signed 32-bit integer; 0 for no value or a value of
// another kind (booleans included).
int32_t fnUsageTypeFrom(const platform::PrefValue& value) noexcept;

// Read afresh on every call.
int32_t readSystemFnUsageType() noexcept;

}  // namespace pelmora
