#include "frame/module.h"

#include <iterator>

#include "focus/focus_exports.h"
#include "frame/export_lock.h"
#include "insertion/insert_exports.h"
#include "settings/settings_exports.h"
#include "triggers/dji_monitor.h"
#include "triggers/fn_monitor.h"

namespace pelmora {

std::recursive_mutex& exportLock() {
  static auto& lock = *new std::recursive_mutex();  // never destroyed: a worker may still be leaving
  return lock;
}

namespace {

struct ExportEntry {
  const char* name;
  napi_callback method;
};

template <napi_callback method>
napi_value serialized(napi_env env, napi_callback_info info) {
  std::lock_guard lock(exportLock());
  return method(env, info);
}

// The thirteen exports, in table order.
constexpr ExportEntry kExports[] = {
    {"start", serialized<fnStart>},
    {"stop", serialized<stopEntry>},
    {"processEvents", serialized<processEventsEntry>},
    {"isActive", serialized<isActiveEntry>},
    {"startDjiMicButton", serialized<fnStartDjiMicButton>},
    {"stopDjiMicButton", serialized<stopDjiMicButtonEntry>},
    {"isDjiMicButtonActive", serialized<isDjiMicButtonActiveEntry>},
    {"getSystemFnUsageType", serialized<fnGetSystemFnUsageType>},
    {"getSystemSymbolicHotkeys", serialized<fnGetSystemSymbolicHotkeys>},
    {"getFocusedElementInfo", serialized<fnGetFocusedElementInfo>},
    {"getFrontmostApplicationInfo", serialized<fnGetFrontmostApplicationInfo>},
    {"insertTextIntoFocusedElement", serialized<fnInsertTextIntoFocusedElement>},
    {"readCapturedFocusedElementText", serialized<fnReadCapturedFocusedElementText>},
};
static_assert(std::size(kExports) == 13);

}  // namespace

napi_value registerModule(napi_env env, napi_value exports) {
  napi_property_descriptor descriptors[std::size(kExports)];
  for (size_t i = 0; i < std::size(kExports); ++i) {
    // napi_default: read-only, non-enumerable, non-configurable.
    descriptors[i] = {kExports[i].name, nullptr, kExports[i].method, nullptr, nullptr,
                      nullptr,          napi_default, nullptr};
  }
  napi_define_properties(env, exports, std::size(descriptors), descriptors);
  return exports;
}

int32_t getApiVersion() { return kModuleApiVersion; }

}  // namespace pelmora

extern "C" {

NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
  return pelmora::registerModule(env, exports);
}

NAPI_MODULE_EXPORT int32_t node_api_module_get_api_version_v1(void) {
  return pelmora::getApiVersion();
}

}
