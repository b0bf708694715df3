// User preferences, and the typed value tree in which the platform hands
// property-list values to the logic (preferences, HID device properties).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

struct PrefEntry;

// A property-list value as the logic sees it. Booleans are not numbers, and
// integers are not doubles: the readers' rules depend on both distinctions.
// Dictionary keys are values themselves, since a stored dictionary may be
// keyed by numbers.
struct PrefValue {
  enum class Kind : uint8_t {
    absent,      // no value at all
    boolean,
    integer,     // a number stored as an integer
    real,        // a number stored as floating point
    string,      // UTF-8
    date,        // seconds on the absolute-time clock, in `real`
    data,        // bytes, in `bytes`
    array,
    dictionary,
    other,       // an object of a kind the tree does not model
  };

  Kind kind = Kind::absent;
  bool boolean = false;
  int64_t integer = 0;
  double real = 0;
  std::string text;               // string
  std::string bytes;              // data
  std::vector<PrefValue> items;   // array
  std::vector<PrefEntry> entries; // dictionary, in the platform's iteration order

  static PrefValue ofBool(bool b);
  static PrefValue ofInteger(int64_t i);
  static PrefValue ofReal(double d);
  static PrefValue ofString(std::string s);
  static PrefValue ofDate(double absoluteTime);
  static PrefValue ofData(std::string b);
  // Both start empty without their argument. (A default argument here would
  // need PrefEntry complete.)
  static PrefValue ofArray();
  static PrefValue ofArray(std::vector<PrefValue> items);
  static PrefValue ofDictionary();
  static PrefValue ofDictionary(std::vector<PrefEntry> entries);

 private:
  static PrefValue make(Kind k);
};

struct PrefEntry {
  PrefValue key;
  PrefValue value;
};

inline PrefValue PrefValue::make(Kind k) {
  PrefValue v;
  v.kind = k;
  return v;
}
inline PrefValue PrefValue::ofBool(bool b) {
  PrefValue v = make(Kind::boolean);
  v.boolean = b;
  return v;
}
inline PrefValue PrefValue::ofInteger(int64_t i) {
  PrefValue v = make(Kind::integer);
  v.integer = i;
  return v;
}
inline PrefValue PrefValue::ofReal(double d) {
  PrefValue v = make(Kind::real);
  v.real = d;
  return v;
}
inline PrefValue PrefValue::ofString(std::string s) {
  PrefValue v = make(Kind::string);
  v.text = std::move(s);
  return v;
}
inline PrefValue PrefValue::ofDate(double absoluteTime) {
  PrefValue v = make(Kind::date);
  v.real = absoluteTime;
  return v;
}
inline PrefValue PrefValue::ofData(std::string b) {
  PrefValue v = make(Kind::data);
  v.bytes = std::move(b);
  return v;
}
inline PrefValue PrefValue::ofArray(std::vector<PrefValue> items) {
  PrefValue v = make(Kind::array);
  v.items = std::move(items);
  return v;
}

inline PrefValue PrefValue::ofArray() { return ofArray(std::vector<PrefValue>()); }
inline PrefValue PrefValue::ofDictionary() { return ofDictionary(std::vector<PrefEntry>()); }
inline PrefValue PrefValue::ofDictionary(std::vector<PrefEntry> entries) {
  PrefValue v = make(Kind::dictionary);
  v.entries = std::move(entries);
  return v;
}

// Same kind and same contents (dictionaries in the same order).
inline bool operator==(const PrefValue& a, const PrefValue& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case PrefValue::Kind::absent:
    case PrefValue::Kind::other: return true;
    case PrefValue::Kind::boolean: return a.boolean == b.boolean;
    case PrefValue::Kind::integer: return a.integer == b.integer;
    case PrefValue::Kind::real:
    case PrefValue::Kind::date: return a.real == b.real;
    case PrefValue::Kind::string: return a.text == b.text;
    case PrefValue::Kind::data: return a.bytes == b.bytes;
    case PrefValue::Kind::array: return a.items == b.items;
    case PrefValue::Kind::dictionary:
      if (a.entries.size() != b.entries.size()) return false;
      for (size_t i = 0; i < a.entries.size(); ++i)
        if (!(a.entries[i].key == b.entries[i].key) || !(a.entries[i].value == b.entries[i].value)) return false;
      return true;
  }
  return false;
}

// The current value of a key in an application's preference domain, read
// afresh from the user's preferences (absent when there is none).
PrefValue copyAppPreference(std::string_view key, std::string_view domain) noexcept;

}  // namespace platform
