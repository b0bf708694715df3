// The simulated build's second entry point, for the test-only control module
// (tests/sim): it answers the simulated desktop's control functions plus
// probes that call the addon's own helpers. The host never sees it: it is a C
// symbol, not an export of the module.
#include <node_api.h>

#include "frame/args.h"
#include "platform/sim/control.h"

namespace {

// probe.stringArg(index, ...args): getNapiStringArg over the probe's own
// arguments (the first one, the index, included), or null when absent.
napi_value probeStringArg(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value first = nullptr;
  napi_get_cb_info(env, info, &argc, &first, nullptr, nullptr);
  int32_t index = 0;
  if (argc < 1 || napi_get_value_int32(env, first, &index) != napi_ok) index = 0;
  auto text = pelmora::getNapiStringArg(env, info, index);
  napi_value result = nullptr;
  if (text) {
    napi_create_string_utf8(env, text->data(), text->size(), &result);
  } else {
    napi_get_null(env, &result);
  }
  return result;
}

}  // namespace

extern "C" NAPI_MODULE_EXPORT napi_value pelmora_sim_control_v1(napi_env env) {
  napi_value control = sim::makeControlObject(env);
  napi_value fn = nullptr;
  napi_create_function(env, "probe.stringArg", NAPI_AUTO_LENGTH, probeStringArg, nullptr, &fn);
  napi_set_named_property(env, control, "probe.stringArg", fn);
  return control;
}
