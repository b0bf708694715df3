// UTF-8 well-formedness and encoding: the rules every string of the addon and
// of corvane follows at the edges where text comes in or goes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace unicode {

// Length of the well-formed UTF-8 sequence starting at text[i] (1 to 4), or 0
// when the bytes there are ill-formed. Follows the table of well-formed byte
// sequences of the Unicode standard (no overlongs, no surrogates, nothing
// above U+10FFFF).
size_t utf8SequenceLength(std::string_view text, size_t i) noexcept;

// Length of the maximal subpart of an ill-formed sequence at text[i]: the
// bytes that one U+FFFD replaces (at least 1).
size_t utf8InvalidRunLength(std::string_view text, size_t i) noexcept;

bool isWellFormedUtf8(std::string_view text) noexcept;

// The text with every maximal ill-formed subpart replaced by U+FFFD.
std::string toWellFormedUtf8(std::string text);

// Appends the UTF-8 form of a scalar value (U+0000..U+10FFFF, no surrogates).
void appendUtf8(std::string& out, uint32_t scalar);

inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace unicode
