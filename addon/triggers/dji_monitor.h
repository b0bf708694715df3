// The microphone button monitor: exports startDjiMicButton, stopDjiMicButton
// and isDjiMicButtonActive.
#pragma once

#include <node_api.h>

namespace pelmora {

extern bool gDjiRunning;

napi_value fnStartDjiMicButton(napi_env env, napi_callback_info info);
void stopDjiMicButton();

// Table entries of the exports without a function of their own.
napi_value stopDjiMicButtonEntry(napi_env env, napi_callback_info info);
napi_value isDjiMicButtonActiveEntry(napi_env env, napi_callback_info info);

}  // namespace pelmora
