// The Fn key monitor: exports start, stop, processEvents and isActive.
#pragma once

#include <node_api.h>

namespace pelmora {

extern bool gRunning;

napi_value fnStart(napi_env env, napi_callback_info info);
void fnStop();

// Table entries of the exports without a function of their own.
napi_value processEventsEntry(napi_env env, napi_callback_info info);
napi_value isActiveEntry(napi_env env, napi_callback_info info);
napi_value stopEntry(napi_env env, napi_callback_info info);

}  // namespace pelmora
