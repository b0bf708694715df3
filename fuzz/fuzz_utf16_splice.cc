// The selection splice over arbitrary text and ranges: it refuses exactly
// the selections that do not fit, never reads out of bounds, and never
// produces ill-formed text from well-formed input.
#include <algorithm>
#include <cstdlib>
#include <vector>
#include <cstring>
#include <limits>

#include "fuzz_support.h"
#include "insertion/utf16_splice.h"

namespace {

int64_t readOffset(const uint8_t*& data, size_t& size) {
  if (size < 8) return 0;
  int64_t v;
  std::memcpy(&v, data, 8);
  data += 8;
  size -= 8;
  // Mostly small offsets, sometimes anything (overflow, negatives).
  return (v & 0x100) ? v : (v & 0x3F);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int64_t location = readOffset(data, size);
  const int64_t length = readOffset(data, size);
  const std::string_view rest(reinterpret_cast<const char*>(data), size);
  const size_t cut = rest.find('\xFE');  // never part of well-formed text
  const std::string_view value = rest.substr(0, cut);
  const std::string_view text = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);

  // Where selection boundaries may fall, in UTF-16 units.
  std::vector<int64_t> boundaries{0};
  for (uint32_t cp : fuzzref::decodeWithReplacement(value)) boundaries.push_back(boundaries.back() + (cp > 0xFFFF ? 2 : 1));
  auto isBoundary = [&](int64_t at) { return std::find(boundaries.begin(), boundaries.end(), at) != boundaries.end(); };
  int64_t inserted = 0;
  for (uint32_t cp : fuzzref::decodeWithReplacement(text)) inserted += cp > 0xFFFF ? 2 : 1;

  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  const bool fits = location >= 0 && length >= 0 && length <= kMax - location && isBoundary(location) &&
                    isBoundary(location + length) && inserted <= kMax - location;

  auto splice = pelmora::spliceUtf16(value, location, length, text);
  if (splice.has_value() != fits) abort();
  if (!splice) return 0;
  if (splice->caret != location + inserted) abort();
  // Ill-formed pieces may join into new sequences across the cut; the
  // platform only ever hands over well-formed text.
  if (!fuzzref::wellFormed(value) || !fuzzref::wellFormed(text)) return 0;
  const int64_t total = boundaries.back();
  if (static_cast<int64_t>(pelmora::utf16Length(splice->value)) != total - length + inserted) abort();
  if (!fuzzref::wellFormed(splice->value)) abort();
  return 0;
}
