// The keyboard settings exports: getSystemFnUsageType and
// getSystemSymbolicHotkeys. Both ignore their arguments.
#pragma once

#include <node_api.h>

namespace pelmora {

napi_value fnGetSystemFnUsageType(napi_env env, napi_callback_info info);
napi_value fnGetSystemSymbolicHotkeys(napi_env env, napi_callback_info info);

}  // namespace pelmora
