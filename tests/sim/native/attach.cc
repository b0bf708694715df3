// The native half of the control module: finds the simulated desktop inside
// the already loaded pelmora.node, so that both share one world.
#include <dlfcn.h>
#include <node_api.h>

#include <cstdint>
#include <string>

namespace {

using ControlEntry = napi_value (*)(napi_env);

napi_value attach(napi_env env, napi_callback_info info) {
  size_t argc = 1;
  napi_value arg = nullptr;
  napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr);
  char path[4096] = {0};
  size_t length = 0;
  if (argc < 1 || napi_get_value_string_utf8(env, arg, path, sizeof path, &length) != napi_ok) {
    napi_throw_type_error(env, nullptr, "attach(addonPath): a path is needed");
    return nullptr;
  }
  // RTLD_NOLOAD: only the copy that node has loaded, never a second one.
  void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
  if (!handle) {
    std::string message = std::string("pelmora.node is not loaded from ") + path;
    napi_throw_error(env, nullptr, message.c_str());
    return nullptr;
  }
  auto entry = reinterpret_cast<ControlEntry>(dlsym(handle, "pelmora_sim_control_v1"));
  auto version = reinterpret_cast<int32_t (*)()>(dlsym(handle, "node_api_module_get_api_version_v1"));
  dlclose(handle);  // drops only the reference taken above
  if (!entry) {
    napi_throw_error(env, nullptr, "this pelmora.node has no simulated desktop (a macOS build?)");
    return nullptr;
  }
  napi_value control = entry(env);
  // The version entry as the host reads it, straight from the symbol.
  napi_value v = nullptr;
  if (version) {
    napi_create_int32(env, version(), &v);
  } else {
    napi_get_null(env, &v);
  }
  napi_set_named_property(env, control, "probe.moduleApiVersion", v);
  return control;
}

}  // namespace

NAPI_MODULE_INIT() {
  napi_value fn = nullptr;
  napi_create_function(env, "attach", NAPI_AUTO_LENGTH, attach, nullptr, &fn);
  napi_set_named_property(env, exports, "attach", fn);
  return exports;
}
