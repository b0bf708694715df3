#include "unicode/utf16.h"

#include "unicode/utf8.h"

#include <utility>

namespace unicode {
namespace {

bool isHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-16 units of the character at text[i], and its length in bytes.
std::pair<int64_t, size_t> unitsAt(std::string_view text, size_t i) {
  const size_t length = utf8SequenceLength(text, i);
  if (length == 0) return {1, 1};
  return {length == 4 ? 2 : 1, length};
}

}  // namespace

std::optional<int64_t> utf16UnitsBeforeCodePoint(std::string_view utf8, int64_t codePoints) {
  if (codePoints < 0) return std::nullopt;
  int64_t units = 0;
  size_t i = 0;
  for (int64_t n = 0; n < codePoints; ++n) {
    if (i >= utf8.size()) return std::nullopt;
    const auto [u, length] = unitsAt(utf8, i);
    units += u;
    i += length;
  }
  return units;
}

std::optional<int64_t> codePointsBeforeUtf16Unit(std::string_view utf8, int64_t units) {
  if (units < 0) return std::nullopt;
  int64_t seen = 0, codePoints = 0;
  for (size_t i = 0; seen < units;) {
    if (i >= utf8.size()) return std::nullopt;
    const auto [u, length] = unitsAt(utf8, i);
    seen += u;
    i += length;
    ++codePoints;
  }
  if (seen != units) return std::nullopt;  // inside a surrogate pair
  return codePoints;
}

std::optional<std::vector<uint16_t>> utf16FromUtf8(std::string_view utf8) {
  std::vector<uint16_t> out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<uint8_t>(utf8[i]);
    if (byte < 0x80) {
      out.push_back(byte);
      ++i;
      continue;
    }
    const size_t length = utf8SequenceLength(utf8, i);
    if (length == 0) return std::nullopt;
    const uint32_t scalar = utf8Decode(utf8, i, length);
    if (scalar >= 0x10000) {
      out.push_back(static_cast<uint16_t>(0xD800 + ((scalar - 0x10000) >> 10)));
      out.push_back(static_cast<uint16_t>(0xDC00 + ((scalar - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<uint16_t>(scalar));
    }
    i += length;
  }
  return out;
}

std::string utf8FromUtf16(std::span<const uint16_t> utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    const uint32_t unit = utf16[i];
    if (isHighSurrogate(unit) && i + 1 < utf16.size() && isLowSurrogate(utf16[i + 1])) {
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace unicode
