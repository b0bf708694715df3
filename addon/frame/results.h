// Result values handed back to the host. The slot starts null: when the host
// cannot create the value, the export answers undefined.
#pragma once

#include <node_api.h>

#include <cstdint>
#include <string_view>

namespace pelmora {

inline napi_value booleanResult(napi_env env, bool value) {
  napi_value result = nullptr;
  napi_get_boolean(env, value, &result);
  return result;
}

inline napi_value int32Result(napi_env env, int32_t value) {
  napi_value result = nullptr;
  napi_create_int32(env, value, &result);
  return result;
}

// The text must be valid UTF-8 without NUL bytes (every JSON answer is).
inline napi_value stringResult(napi_env env, std::string_view text) {
  napi_value result = nullptr;
  napi_create_string_utf8(env, text.data(), text.size(), &result);
  return result;
}

}  // namespace pelmora
