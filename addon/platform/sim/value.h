// A JavaScript-shaped value: how tests describe the simulated desktop to it
// and how the simulation reports back (log entries, inspections).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct Value {
  enum class Kind : uint8_t { undefined, null, boolean, number, string, array, object };

  Kind kind = Kind::undefined;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<Value> items;                             // array
  std::vector<std::pair<std::string, Value>> members;  // object, in insertion order

  Value() = default;
  static Value null() { return make(Kind::null); }
  Value(bool b) : kind(Kind::boolean), boolean(b) {}
  Value(double n) : kind(Kind::number), number(n) {}
  Value(int n) : kind(Kind::number), number(n) {}
  Value(int64_t n) : kind(Kind::number), number(static_cast<double>(n)) {}
  Value(uint32_t n) : kind(Kind::number), number(n) {}
  Value(uint64_t n) : kind(Kind::number), number(static_cast<double>(n)) {}
  Value(std::string s) : kind(Kind::string), string(std::move(s)) {}
  Value(const char* s) : kind(Kind::string), string(s) {}

  static Value array(std::vector<Value> items = {}) {
    Value v = make(Kind::array);
    v.items = std::move(items);
    return v;
  }
  static Value object(std::initializer_list<std::pair<std::string, Value>> members = {}) {
    Value v = make(Kind::object);
    v.members.assign(members.begin(), members.end());
    return v;
  }

  bool isUndefined() const { return kind == Kind::undefined; }
  bool isNull() const { return kind == Kind::null; }
  bool isBool() const { return kind == Kind::boolean; }
  bool isNumber() const { return kind == Kind::number; }
  bool isString() const { return kind == Kind::string; }
  bool isArray() const { return kind == Kind::array; }
  bool isObject() const { return kind == Kind::object; }

  // Member lookup on objects; undefined for a missing member or a non-object.
  const Value& operator[](const std::string& key) const;
  bool has(const std::string& key) const { return !(*this)[key].isUndefined(); }
  void set(const std::string& key, Value value);
  Value& push(Value value) {
    items.push_back(std::move(value));
    return items.back();
  }

  // Conveniences with a fallback for a missing or mistyped value.
  double numberOr(double fallback) const { return isNumber() ? number : fallback; }
  bool boolOr(bool fallback) const { return isBool() ? boolean : fallback; }
  std::string stringOr(std::string fallback) const { return isString() ? string : fallback; }

 private:
  static Value make(Kind k) {
    Value v;
    v.kind = k;
    return v;
  }
};

bool operator==(const Value& a, const Value& b);

}  // namespace sim
