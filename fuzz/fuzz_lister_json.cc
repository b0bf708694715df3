// The lister's document writer and base64 over arbitrary records: the
// document is valid JSON with sorted keys, no raw solidus and no null, its
// strings read back as the records' (ill-formed bytes as U+FFFD), and each
// icon decodes back to its bytes.
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "lister/base64.h"
#include "lister/json_document.h"

namespace {

struct Reader : fuzzref::ByteReader {
  std::string bytes() {
    std::string s;
    for (size_t k = byte() % 24; k > 0 && n; --k) s += static_cast<char>(byte());
    return s;
  }
};

// A JSON value of the document's kinds: objects, arrays, strings.
struct Json {
  enum Kind { string, array, object } kind = string;
  std::vector<uint32_t> text;
  std::vector<Json> items;
  std::vector<std::vector<uint32_t>> keys;  // object members, in order
  std::vector<Json> values;
};

struct Parser {
  const std::string& s;
  size_t i = 0;
  bool fail = false;

  std::optional<std::vector<uint32_t>> str() {
    if (i >= s.size() || s[i] != '"') return std::nullopt;
    size_t j = ++i;
    while (j < s.size() && s[j] != '"') j += s[j] == '\\' ? 2 : 1;
    if (j >= s.size()) return std::nullopt;
    auto body = fuzzref::parseJsonStringBody(std::string_view(s).substr(i, j - i));
    i = j + 1;
    return body;
  }
  std::optional<Json> value() {
    if (i >= s.size()) return std::nullopt;
    Json v;
    if (s[i] == '"') {
      auto t = str();
      if (!t) return std::nullopt;
      v.text = *t;
      return v;
    }
    if (s[i] == '[') {
      v.kind = Json::array;
      ++i;
      if (i < s.size() && s[i] == ']') return ++i, v;
      for (;;) {
        auto item = value();
        if (!item) return std::nullopt;
        v.items.push_back(*item);
        if (i < s.size() && s[i] == ',') { ++i; continue; }
        if (i < s.size() && s[i] == ']') return ++i, v;
        return std::nullopt;
      }
    }
    if (s[i] == '{') {
      v.kind = Json::object;
      ++i;
      if (i < s.size() && s[i] == '}') return ++i, v;
      for (;;) {
        auto key = str();
        if (!key || i >= s.size() || s[i++] != ':') return std::nullopt;
        auto member = value();
        if (!member) return std::nullopt;
        v.keys.push_back(*key);
        v.values.push_back(*member);
        if (i < s.size() && s[i] == ',') { ++i; continue; }
        if (i < s.size() && s[i] == '}') return ++i, v;
        return std::nullopt;
      }
    }
    return std::nullopt;
  }
};

std::vector<uint32_t> ascii(const char* s) { return std::vector<uint32_t>(s, s + strlen(s)); }

std::string referenceBase64Decode(const std::string& text, bool& ok) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  ok = text.size() % 4 == 0;
  std::string out;
  for (size_t i = 0; ok && i < text.size(); i += 4) {
    uint32_t v = 0;
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++pad;
        v <<= 6;
        continue;
      }
      const size_t at = alphabet.find(c);
      if (at == std::string::npos || pad) ok = false;
      v = (v << 6) | static_cast<uint32_t>(at & 63);
    }
    out += static_cast<char>(v >> 16);
    if (pad < 2) out += static_cast<char>((v >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(v & 0xFF);
  }
  return out;
}

void check(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r{{data, size}};
  corvane::Result result;
  if (r.byte() & 1) result.defaultAppIdentifier = r.bytes();
  std::vector<std::string> iconBytes;
  for (int k = r.byte() % 5; k > 0; --k) {
    corvane::AppInfo app{r.bytes(), r.bytes(), r.bytes(), std::nullopt};
    if (r.byte() & 1) {
      iconBytes.push_back(r.bytes());
      app.icon = corvane::base64Encode(iconBytes.back());
      bool ok = false;
      check(referenceBase64Decode(*app.icon, ok) == iconBytes.back() && ok);
      check(app.icon->size() == (iconBytes.back().size() + 2) / 3 * 4);
    }
    result.apps.push_back(std::move(app));
  }

  const std::string doc = corvane::documentJson(result);
  check(fuzzref::wellFormed(doc));
  check(doc.find('/') == std::string::npos || doc.find("\\/") != std::string::npos);
  for (size_t at = doc.find('/'); at != std::string::npos; at = doc.find('/', at + 1)) check(at > 0 && doc[at - 1] == '\\');
  Parser parser{doc};
  auto parsed = parser.value();
  check(parsed && parser.i == doc.size() && parsed->kind == Json::object);

  // Top level: apps, then defaultAppIdentifier when there is one.
  const Json& top = *parsed;
  check(top.keys.size() == (result.defaultAppIdentifier ? 2u : 1u));
  check(top.keys[0] == ascii("apps") && top.values[0].kind == Json::array);
  if (result.defaultAppIdentifier) {
    check(top.keys[1] == ascii("defaultAppIdentifier"));
    check(top.values[1].text == fuzzref::decodeWithReplacement(*result.defaultAppIdentifier));
  }
  const auto& apps = top.values[0].items;
  check(apps.size() == result.apps.size());
  for (size_t k = 0; k < apps.size(); ++k) {
    const corvane::AppInfo& in = result.apps[k];
    const Json& app = apps[k];
    size_t at = 0;
    if (in.icon) {
      check(app.keys.size() == 4 && app.keys[0] == ascii("icon") && app.values[0].text == fuzzref::decodeWithReplacement(*in.icon));
      at = 1;
    } else {
      check(app.keys.size() == 3);
    }
    check(app.keys[at] == ascii("identifier") && app.values[at].text == fuzzref::decodeWithReplacement(in.identifier));
    check(app.keys[at + 1] == ascii("name") && app.values[at + 1].text == fuzzref::decodeWithReplacement(in.name));
    check(app.keys[at + 2] == ascii("path") && app.values[at + 2].text == fuzzref::decodeWithReplacement(in.path));
  }
  return 0;
}
