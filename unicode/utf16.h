// UTF-8 <-> UTF-16, the form every macOS string API works in. Both
// directions keep every character, U+0000 and a leading U+FEFF included: a
// field's text comes back exactly as it went in.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace unicode {

// Nothing when the text is not well-formed UTF-8: a caller about to replace
// someone's text must not guess what was meant.
std::optional<std::vector<uint16_t>> utf16FromUtf8(std::string_view utf8);

// A lone surrogate, which has no UTF-8 form, becomes U+FFFD.
std::string utf8FromUtf16(std::span<const uint16_t> utf16);

// Offsets into UTF-8 text in the two ways platforms count them: code points
// (AT-SPI) and UTF-16 units (macOS, and the addon's logic). Each answers
// nothing for an offset past the end, or one that falls between the two
// halves of a surrogate pair; a byte that is not UTF-8 counts as one code
// point of one unit, as U+FFFD would.
std::optional<int64_t> utf16UnitsBeforeCodePoint(std::string_view utf8, int64_t codePoints);
std::optional<int64_t> codePointsBeforeUtf16Unit(std::string_view utf8, int64_t units);

}  // namespace unicode
