// Base64 of RFC 4648: the standard alphabet, padded, no line breaks.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

std::string base64Encode(std::string_view bytes);

}  // namespace corvane
