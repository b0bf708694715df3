// Control functions of the preferences section, and the encoding of
// property-list values that tests write (also used for HID device
// properties).
#include <charconv>
#include <cmath>
#include <string>

#include "platform/sim/control.h"
#include "platform/sim/world.h"

namespace sim {
namespace {

using platform::PrefValue;

// Seconds between the Unix epoch and the absolute-time epoch (2001-01-01).
constexpr double kUnixToAbsolute = 978307200.0;
constexpr double kTwoTo63 = 9223372036854775808.0;

const char* const kWrappers[] = {"double", "int", "date", "data", "dict"};

// {double: x} and its kin: an object whose only member names a wrapper.
const char* wrapperName(const Value& v) {
  if (!v.isObject() || v.members.size() != 1) return nullptr;
  for (const char* name : kWrappers)
    if (v.members[0].first == name) return name;
  return nullptr;
}

PrefValue fromNumber(double n) {
  if (!(std::isfinite(n) && n == std::trunc(n))) return PrefValue::ofReal(n);
  if (n < -kTwoTo63 || n >= kTwoTo63)
    throw ControlError{"an integer-valued number must fit in 64 bits; write {double: x} for a floating-point one"};
  return PrefValue::ofInteger(static_cast<int64_t>(n));
}

PrefValue fromDigits(const Value& v) {
  if (!v.isString()) throw ControlError{"{int: 'digits'} takes its integer as a string"};
  const std::string& s = v.string;
  int64_t out = 0;
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), out);
  if (s.empty() || error != std::errc() || end != s.data() + s.size())
    throw ControlError{"{int: '" + s + "'}: not a 64-bit decimal integer"};
  return PrefValue::ofInteger(out);
}

PrefValue fromBytes(const Value& v) {
  if (!v.isArray()) throw ControlError{"{data: [bytes]} takes an array of bytes"};
  std::string bytes;
  for (const auto& b : v.items) {
    if (!b.isNumber() || b.number < 0 || b.number > 255 || b.number != std::floor(b.number))
      throw ControlError{"a data byte is an integer from 0 to 255"};
    bytes.push_back(static_cast<char>(static_cast<uint8_t>(b.number)));
  }
  return PrefValue::ofData(std::move(bytes));
}

PrefValue fromPairs(const Value& v) {
  if (!v.isArray()) throw ControlError{"{dict: [[key, value], ...]} takes an array of pairs"};
  PrefValue dict = PrefValue::ofDictionary();
  for (const auto& pair : v.items) {
    if (!pair.isArray() || pair.items.size() != 2) throw ControlError{"a dictionary entry is a pair [key, value]"};
    PrefValue key = prefValueFrom(pair.items[0]);
    for (const auto& entry : dict.entries)
      if (entry.key == key) throw ControlError{"a dictionary's keys must be distinct"};
    dict.entries.push_back({std::move(key), prefValueFrom(pair.items[1])});
  }
  return dict;
}

Value prefsSet(const std::vector<Value>& args) {
  const Value& domain = arg(args, 0);
  const Value& key = arg(args, 1);
  if (!domain.isString() || !key.isString()) throw ControlError{"prefs.set(domain, key, value): domain and key are strings"};
  setPreference(domain.string, key.string, prefValueFrom(arg(args, 2)));
  return {};
}

Value prefsRemove(const std::vector<Value>& args) {
  const Value& domain = arg(args, 0);
  const Value& key = arg(args, 1);
  if (!domain.isString() || !key.isString()) throw ControlError{"prefs.remove(domain, key): domain and key are strings"};
  removePreference(domain.string, key.string);
  return {};
}

constexpr ControlEntry kPrefsControl[] = {
    {"prefs.set", prefsSet},
    {"prefs.remove", prefsRemove},
};

}  // namespace

PrefValue prefValueFrom(const Value& v) {
  switch (v.kind) {
    case Value::Kind::string: return PrefValue::ofString(v.string);
    case Value::Kind::boolean: return PrefValue::ofBool(v.boolean);
    case Value::Kind::number: return fromNumber(v.number);
    case Value::Kind::array: {
      PrefValue array = PrefValue::ofArray();
      array.items.reserve(v.items.size());
      for (const auto& item : v.items) array.items.push_back(prefValueFrom(item));
      return array;
    }
    case Value::Kind::object: {
      if (const char* wrapper = wrapperName(v)) {
        const std::string name = wrapper;
        const Value& inner = v.members[0].second;
        if (name == "double") {
          if (!inner.isNumber()) throw ControlError{"{double: x} takes a number"};
          return PrefValue::ofReal(inner.number);
        }
        if (name == "int") return fromDigits(inner);
        if (name == "date") return PrefValue::ofDate(requireNumber(inner, "{date: ms}") / 1000 - kUnixToAbsolute);
        if (name == "data") return fromBytes(inner);
        return fromPairs(inner);
      }
      PrefValue dict = PrefValue::ofDictionary();
      dict.entries.reserve(v.members.size());
      for (const auto& [name, member] : v.members)
        dict.entries.push_back({PrefValue::ofString(name), prefValueFrom(member)});
      return dict;
    }
    case Value::Kind::undefined:
    case Value::Kind::null: break;
  }
  throw ControlError{"a preference value cannot be null or undefined (prefs.remove deletes one)"};
}

std::span<const ControlEntry> prefsControl() { return kPrefsControl; }

}  // namespace sim
