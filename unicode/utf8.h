// UTF-8 well-formedness and encoding: the rules every string of the addon and
// of corvane follows at the edges where text comes in or goes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace unicode {

// Length of the well-formed UTF-8 sequence starting at text[i] (1 to 4), or 0
// when the bytes there are ill-formed. Follows the table of well-formed byte
// sequences of the Unicode standard (no overlongs, no surrogates, nothing
// above U+10FFFF).
size_t utf8SequenceLength(std::string_view text, size_t i) noexcept;

// The scalar of the well-formed sequence of `length` bytes at text[i] (the
// length utf8SequenceLength gave).
uint32_t utf8Decode(std::string_view text, size_t i, size_t length) noexcept;

// Length of the maximal subpart of an ill-formed sequence at text[i]: the
// bytes that one U+FFFD replaces (at least 1).
size_t utf8InvalidRunLength(std::string_view text, size_t i) noexcept;

bool isWellFormedUtf8(std::string_view text) noexcept;

// The text with every maximal ill-formed subpart replaced by U+FFFD.
std::string toWellFormedUtf8(std::string text);

// Appends the UTF-8 form of a scalar value (U+0000..U+10FFFF, no surrogates).
void appendUtf8(std::string& out, uint32_t scalar);

// Line breaks as text fields count them: CR LF, CR and LF, each made the one
// `replacement` character.
std::string replaceLineBreaks(std::string_view text, char replacement);

// The text without its final line break (CR LF, CR or LF), when it ends in one.
std::string_view withoutFinalLineBreak(std::string_view text) noexcept;

inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The length of the run of printable ASCII (0x20 to 0x7F) at the start of
// text that holds none of kExcluded: the bytes a JSON writer copies as they
// are, found eight at a time where it can.
template <char... kExcluded>
size_t plainAsciiRun(std::string_view text) noexcept {
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  // Sets the high bit of every byte of x below n (n at most 0x80), and at
  // worst of some bytes after one: a word so flagged is walked byte by byte.
  const auto below = [](uint64_t x, uint64_t n) { return (x - kOnes * n) & ~x; };
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    uint64_t x;
    std::memcpy(&x, text.data() + at, 8);
    const uint64_t excluded = (uint64_t{0} | ... | below(x ^ (kOnes * static_cast<unsigned char>(kExcluded)), 1));
    if (((below(x, 0x20) | x | excluded) & kHighs) != 0) break;
  }
  for (; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c >= 0x80 || ((c == static_cast<unsigned char>(kExcluded)) || ...)) break;
  }
  return at;
}

// The same for text of long plain runs (an icon's base64 text, where the
// solidus is the one byte in 64 that ends a run): sixteen bytes at a time
// first. Text of short runs is faster through plainAsciiRun alone.
template <char... kExcluded>
size_t longPlainAsciiRun(std::string_view text) noexcept {
  size_t at = 0;
#if defined(__SSE2__)
  // A byte below 0x20 or from 0x80 up is below 0x20 as a signed byte.
  for (; at + 16 <= text.size(); at += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    const __m128i stop = (_mm_cmplt_epi8(x, _mm_set1_epi8(0x20)) | ... | _mm_cmpeq_epi8(x, _mm_set1_epi8(kExcluded)));
    if (const int mask = _mm_movemask_epi8(stop)) return at + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  return at + plainAsciiRun<kExcluded...>(text.substr(at));
}

}  // namespace unicode
