// The insertion export.
#include "insertion/insert_exports.h"

#include "frame/args.h"
#include "frame/results.h"
#include "insertion/insert_text.h"

namespace pelmora {

napi_value fnInsertTextIntoFocusedElement(napi_env env, napi_callback_info info) {
  const std::string text = getNapiStringArg(env, info, 0).value_or("");
  const std::string expected = getNapiStringArg(env, info, 1).value_or("");
  return stringResult(env, insertTextIntoFocusedElementText(text, expected));
}

}  // namespace pelmora
