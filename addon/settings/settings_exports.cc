#include "settings/settings_exports.h"

#include "frame/results.h"
#include "settings/fn_usage.h"
#include "settings/symbolic_hotkeys.h"

namespace pelmora {

napi_value fnGetSystemFnUsageType(napi_env env, napi_callback_info) {
  return int32Result(env, readSystemFnUsageType());
}

napi_value fnGetSystemSymbolicHotkeys(napi_env env, napi_callback_info) {
  return stringResult(env, readSystemSymbolicHotkeysJson());
}

}  // namespace pelmora
