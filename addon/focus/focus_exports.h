#pragma once

#include <node_api.h>

namespace pelmora {

napi_value fnGetFocusedElementInfo(napi_env env, napi_callback_info info);
napi_value fnGetFrontmostApplicationInfo(napi_env env, napi_callback_info info);
napi_value fnReadCapturedFocusedElementText(napi_env env, napi_callback_info info);

}  // namespace pelmora
