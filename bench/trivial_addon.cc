// The yardstick for bench/addon_load.js: a Node-API module with one export,
// built with the addon's compiler and flags, linking nothing of its own.
#include <node_api.h>

namespace {

napi_value answer(napi_env env, napi_callback_info) {
  napi_value v = nullptr;
  napi_create_int32(env, 42, &v);
  return v;
}

}  // namespace

NAPI_MODULE_INIT() {
  napi_value fn = nullptr;
  napi_create_function(env, "answer", NAPI_AUTO_LENGTH, answer, nullptr, &fn);
  napi_set_named_property(env, exports, "answer", fn);
  return exports;
}
