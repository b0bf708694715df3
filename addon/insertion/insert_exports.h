#pragma once

#include <node_api.h>

namespace pelmora {

napi_value fnInsertTextIntoFocusedElement(napi_env env, napi_callback_info info);

}  // namespace pelmora
