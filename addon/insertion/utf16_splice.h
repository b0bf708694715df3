// Replacing a selection given in UTF-16 offsets (as Accessibility counts)
// inside UTF-8 text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelmora {

size_t utf16Length(std::string_view utf8);

struct Splice {
  std::string value;     // the text with the selection replaced
  int64_t caret = 0;     // the insertion point after the new text, in UTF-16 units
};

// Nothing when the selection does not fit the value: a negative part, past
// the end, a boundary between the two halves of a surrogate pair, or an end
// or insertion point that overflows.
std::optional<Splice> spliceUtf16(std::string_view value, int64_t location, int64_t length, std::string_view text);

}  // namespace pelmora
