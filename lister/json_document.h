// The document corvane prints: compact JSON, keys sorted, absent optional
// members left out, every solidus escaped, always well-formed UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "lister/app_list.h"

namespace corvane {

// The string as a JSON string literal, quotes included. Ill-formed UTF-8
// becomes U+FFFD.
void appendJsonString(std::string& out, std::string_view text);

// The document, without the line break that ends the output.
std::string documentJson(const Result& result);

}  // namespace corvane
