// Reading string arguments of an export.
#pragma once

#include <node_api.h>

#include <optional>
#include <string>

namespace pelmora {

// The argument at a zero-based index as UTF-8 text, whole (U+0000 included).
// Absent when fewer arguments were passed or the value is not a string: no
// conversion is made.
std::optional<std::string> getNapiStringArg(napi_env env, napi_callback_info info, int index);

}  // namespace pelmora
