// The focus and application exports.
#include "focus/focus_exports.h"

#include "focus/focus_queries.h"
#include "frame/results.h"

namespace pelmora {

napi_value fnGetFocusedElementInfo(napi_env env, napi_callback_info) {
  return stringResult(env, focusedElementInfoText());
}

napi_value fnGetFrontmostApplicationInfo(napi_env env, napi_callback_info) {
  return stringResult(env, frontmostApplicationInfoText());
}

napi_value fnReadCapturedFocusedElementText(napi_env env, napi_callback_info) {
  return stringResult(env, capturedFocusedElementText());
}

}  // namespace pelmora
