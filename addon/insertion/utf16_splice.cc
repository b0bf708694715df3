#include "insertion/utf16_splice.h"

#include <cstring>
#include <limits>

#include "unicode/utf8.h"

namespace pelmora {

using unicode::utf8InvalidRunLength;
using unicode::utf8SequenceLength;

namespace {

// UTF-16 units of the well-formed sequence at text[i] (a replacement
// character for an ill-formed byte counts one, as it would in UTF-16).
struct Step {
  size_t bytes;
  int units;
};

// Eight ASCII bytes at i: eight units, no decoding needed.
inline bool asciiWord(std::string_view text, size_t i) {
  if (i + 8 > text.size()) return false;
  uint64_t w;
  std::memcpy(&w, text.data() + i, 8);
  return (w & 0x8080808080808080ULL) == 0;
}

inline Step stepAt(std::string_view text, size_t i) {
  if (static_cast<unsigned char>(text[i]) < 0x80) return {1, 1};
  const size_t len = utf8SequenceLength(text, i);
  if (len == 0) return {utf8InvalidRunLength(text, i), 1};
  return {len, len == 4 ? 2 : 1};
}

struct Position {
  size_t byte;
  int64_t units;
};

// Walks from a position until `units` UTF-16 units are behind or the text
// ends.
Position walk(std::string_view text, Position from, int64_t units) {
  Position at = from;
  while (at.units < units && at.byte < text.size()) {
    if (units - at.units >= 8 && asciiWord(text, at.byte)) {
      at.byte += 8;
      at.units += 8;
      continue;
    }
    const Step s = stepAt(text, at.byte);
    at.byte += s.bytes;
    at.units += s.units;
  }
  return at;
}

// The byte offset of a UTF-16 offset, or nothing when it falls inside a
// surrogate pair or past the end.
std::optional<size_t> byteOffset(std::string_view text, int64_t units, Position from) {
  const Position at = walk(text, from, units);
  if (at.units != units) return std::nullopt;
  return at.byte;
}

}  // namespace

size_t utf16Length(std::string_view utf8) {
  return static_cast<size_t>(walk(utf8, {0, 0}, std::numeric_limits<int64_t>::max()).units);
}

std::optional<Splice> spliceUtf16(std::string_view value, int64_t location, int64_t length, std::string_view text) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  if (location < 0 || length < 0 || length > kMax - location) return std::nullopt;
  const int64_t end = location + length;
  const auto total = static_cast<int64_t>(utf16Length(value));
  if (location > total || end > total) return std::nullopt;
  const auto inserted = static_cast<int64_t>(utf16Length(text));
  if (inserted > kMax - location) return std::nullopt;

  auto startByte = byteOffset(value, location, {0, 0});
  if (!startByte) return std::nullopt;
  auto endByte = byteOffset(value, end, {*startByte, location});
  if (!endByte) return std::nullopt;

  Splice s;
  s.value.reserve(value.size() - (*endByte - *startByte) + text.size());
  s.value.append(value.substr(0, *startByte)).append(text).append(value.substr(*endByte));
  s.caret = location + inserted;
  return s;
}

}  // namespace pelmora
