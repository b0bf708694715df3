// Unicode services from the platform's own text library.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// User-perceived characters: extended grapheme clusters of UTF-8 text.
size_t graphemeClusterCount(std::string_view utf8) noexcept;

// Whether two UTF-8 texts are the same text up to Unicode normalisation
// (composed and decomposed forms of the same characters are equal).
bool canonicallyEquivalent(std::string_view a, std::string_view b) noexcept;

}  // namespace platform
