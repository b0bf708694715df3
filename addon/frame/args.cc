#include "frame/args.h"

#include <utility>
#include <vector>

#include "unicode/utf8.h"

namespace pelmora {

using unicode::toWellFormedUtf8;

std::optional<std::string> getNapiStringArg(napi_env env, napi_callback_info info, int index) {
  if (index < 0) return std::nullopt;
  // The slots cover the requested index, so the host never writes past them.
  size_t argc = static_cast<size_t>(index) + 1;
  std::vector<napi_value> argv(argc, nullptr);
  napi_get_cb_info(env, info, &argc, argv.data(), nullptr, nullptr);
  if (argc <= static_cast<size_t>(index)) return std::nullopt;
  napi_value value = argv[static_cast<size_t>(index)];
  if (value == nullptr) return std::nullopt;

  size_t length = 0;
  if (napi_get_value_string_utf8(env, value, nullptr, 0, &length) != napi_ok) return std::nullopt;
  std::string buffer(length + 1, '\0');
  size_t copied = 0;
  if (napi_get_value_string_utf8(env, value, buffer.data(), buffer.size(), &copied) != napi_ok)
    return std::nullopt;
  // By its length: a U+0000 is a character like any other.
  buffer.resize(copied);
  return toWellFormedUtf8(std::move(buffer));
}

}  // namespace pelmora
