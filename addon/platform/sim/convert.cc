#include <cmath>
#include <string>

#include "platform/sim/control.h"

namespace sim {

Value fromJs(napi_env env, napi_value value) {
  napi_valuetype type = napi_undefined;
  if (value == nullptr || napi_typeof(env, value, &type) != napi_ok) return {};
  switch (type) {
    case napi_null: return Value::null();
    case napi_boolean: {
      bool b = false;
      napi_get_value_bool(env, value, &b);
      return Value(b);
    }
    case napi_number: {
      double d = 0;
      napi_get_value_double(env, value, &d);
      return Value(d);
    }
    case napi_string: {
      size_t length = 0;
      napi_get_value_string_utf8(env, value, nullptr, 0, &length);
      std::string s(length + 1, '\0');
      napi_get_value_string_utf8(env, value, s.data(), s.size(), &length);
      s.resize(length);
      return Value(std::move(s));
    }
    case napi_object: {
      bool isArray = false;
      napi_is_array(env, value, &isArray);
      if (isArray) {
        uint32_t length = 0;
        napi_get_array_length(env, value, &length);
        Value array = Value::array();
        array.items.reserve(length);
        for (uint32_t i = 0; i < length; ++i) {
          napi_value item = nullptr;
          napi_get_element(env, value, i, &item);
          array.items.push_back(fromJs(env, item));
        }
        return array;
      }
      napi_value keys = nullptr;
      if (napi_get_all_property_names(env, value, napi_key_own_only,
                                      static_cast<napi_key_filter>(napi_key_enumerable | napi_key_skip_symbols),
                                      napi_key_numbers_to_strings, &keys) != napi_ok)
        return Value::object();
      uint32_t count = 0;
      napi_get_array_length(env, keys, &count);
      Value object = Value::object();
      for (uint32_t i = 0; i < count; ++i) {
        napi_value key = nullptr, member = nullptr;
        napi_get_element(env, keys, i, &key);
        napi_get_property(env, value, key, &member);
        Value name = fromJs(env, key);
        Value converted = fromJs(env, member);
        // A member set to undefined is the same as a missing one.
        if (!converted.isUndefined()) object.members.emplace_back(name.string, std::move(converted));
      }
      return object;
    }
    default: return {};  // functions, symbols, bigints: not part of the control API
  }
}

napi_value toJs(napi_env env, const Value& value) {
  napi_value result = nullptr;
  switch (value.kind) {
    case Value::Kind::undefined: napi_get_undefined(env, &result); break;
    case Value::Kind::null: napi_get_null(env, &result); break;
    case Value::Kind::boolean: napi_get_boolean(env, value.boolean, &result); break;
    case Value::Kind::number: napi_create_double(env, value.number, &result); break;
    case Value::Kind::string:
      napi_create_string_utf8(env, value.string.data(), value.string.size(), &result);
      break;
    case Value::Kind::array:
      napi_create_array_with_length(env, value.items.size(), &result);
      for (size_t i = 0; i < value.items.size(); ++i)
        napi_set_element(env, result, static_cast<uint32_t>(i), toJs(env, value.items[i]));
      break;
    case Value::Kind::object:
      napi_create_object(env, &result);
      for (const auto& [name, member] : value.members)
        napi_set_named_property(env, result, name.c_str(), toJs(env, member));
      break;
  }
  return result;
}

}  // namespace sim
