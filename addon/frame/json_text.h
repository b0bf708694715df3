// JSON answer texts: escaping of values and the compact object writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelmora {

// The text escaped for use between two double quotes: quote, backslash and
// the C0 controls are escaped (\n \r \t, otherwise \u00XX), everything else
// is copied as it is, including the solidus, U+007F and non-ASCII text.
// Ill-formed UTF-8 becomes U+FFFD, so the answer is always valid JSON.
std::string jsonEscape(std::string_view text);
void appendJsonEscaped(std::string& out, std::string_view text);

// Builds {"name":value,...} with members in the order they are added. Names
// are fixed identifiers of the answer shapes and are written as they are.
class JsonObjectText {
 public:
  JsonObjectText& add(std::string_view name, std::string_view value);
  JsonObjectText& add(std::string_view name, const char* value) {
    return add(name, std::string_view(value));
  }
  JsonObjectText& add(std::string_view name, bool value);
  JsonObjectText& add(std::string_view name, int64_t value);
  JsonObjectText& add(std::string_view name, int value) {
    return add(name, static_cast<int64_t>(value));
  }
  std::string finish();

 private:
  void name(std::string_view name);
  std::string text_ = "{";
};

}  // namespace pelmora
