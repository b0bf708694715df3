// Module entry and export table.
#pragma once

#include <node_api.h>

#include <cstdint>

namespace pelmora {

inline constexpr int32_t kModuleApiVersion = 8;

napi_value registerModule(napi_env env, napi_value exports);
int32_t getApiVersion();

}  // namespace pelmora
