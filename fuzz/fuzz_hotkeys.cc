// The symbolic-hotkeys filter over arbitrary preference trees decoded from
// the fuzz bytes: the answer is always a valid JSON array of {k,m} pairs,
// and it is exactly what a reference filter written from the rules keeps.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "settings/symbolic_hotkeys.h"

namespace {

using platform::PrefEntry;
using platform::PrefValue;
using Kind = PrefValue::Kind;

struct Reader : fuzzref::ByteReader {
  int64_t i64() {
    int64_t v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 8) | byte();
    return v;
  }
  std::string text() {
    static const char* words[] = {"enabled", "value", "type", "parameters", "standard", "Standard", "60", ""};
    uint8_t b = byte();
    if (b < 200) return words[b % 8];
    std::string s;
    for (int k = byte() % 6; k > 0; --k) s += static_cast<char>(byte());
    return s;
  }
};

PrefValue decode(Reader& r, int depth) {
  const uint8_t tag = r.byte();
  switch (depth > 5 ? tag % 6 : tag % 9) {
    case 0: return PrefValue::ofBool(r.byte() & 1);
    case 1: {
      uint8_t b = r.byte();
      return PrefValue::ofInteger(b < 128 ? static_cast<int64_t>(b) - 2 : b < 250 ? 65535 : r.i64());
    }
    case 2: {
      int64_t bits = r.i64();
      double d;
      std::memcpy(&d, &bits, 8);
      return PrefValue::ofReal(r.byte() & 1 ? d : static_cast<double>(bits % 1000) / 7);
    }
    case 3: return PrefValue::ofString(r.text());
    case 4: return PrefValue::ofDate(1.0);
    case 5: return PrefValue{};
    case 6: {
      std::vector<PrefValue> items;
      for (int k = r.byte() % 5; k > 0; --k) items.push_back(decode(r, depth + 1));
      return PrefValue::ofArray(std::move(items));
    }
    default: {
      std::vector<PrefEntry> entries;
      for (int k = r.byte() % 5; k > 0; --k) {
        PrefValue key = r.byte() % 8 == 0 ? PrefValue::ofInteger(r.byte()) : PrefValue::ofString(r.text());
        entries.push_back({std::move(key), decode(r, depth + 1)});
      }
      return PrefValue::ofDictionary(std::move(entries));
    }
  }
}

bool stringKeyed(const PrefValue& v) {
  if (v.kind != Kind::dictionary) return false;
  for (const auto& e : v.entries)
    if (e.key.kind != Kind::string) return false;
  return true;
}

const PrefValue* lookup(const PrefValue& dict, std::string_view key) {
  for (const auto& e : dict.entries)
    if (e.key.text == key) return &e.value;
  return nullptr;
}

std::optional<int64_t> integerOf(const PrefValue* v) {
  if (!v) return std::nullopt;
  if (v->kind == Kind::boolean) return v->boolean ? 1 : 0;
  if (v->kind == Kind::integer) return v->integer;
  if (v->kind == Kind::real) {
    if (std::isnan(v->real)) return 0;
    long double t = std::trunc(static_cast<long double>(v->real));
    if (t <= -9223372036854775808.0L) return INT64_MIN;
    if (t >= 9223372036854775807.0L) return INT64_MAX;
    return static_cast<int64_t>(t);
  }
  return std::nullopt;
}

std::vector<std::pair<int64_t, int64_t>> referenceFilter(const PrefValue& tree) {
  std::vector<std::pair<int64_t, int64_t>> kept;
  if (!stringKeyed(tree)) return kept;
  for (const auto& entry : tree.entries) {
    const PrefValue& e = entry.value;
    if (!stringKeyed(e)) continue;
    const PrefValue* enabled = lookup(e, "enabled");
    if (enabled && enabled->kind == Kind::boolean) {
      if (!enabled->boolean) continue;
    } else if (integerOf(enabled).value_or(0) == 0) {
      continue;
    }
    const PrefValue* value = lookup(e, "value");
    if (!value || !stringKeyed(*value) || value->entries.empty()) continue;
    const PrefValue* type = lookup(*value, "type");
    if (!type || type->kind != Kind::string || type->text != "standard") continue;
    const PrefValue* params = lookup(*value, "parameters");
    if (!params || params->kind != Kind::array || params->items.size() < 3) continue;
    auto key = integerOf(&params->items[1]);
    auto mods = integerOf(&params->items[2]);
    if (!key || !mods || *key == 65535) continue;
    kept.emplace_back(*key, *mods);
  }
  return kept;
}

// Parses [{"k":int,"m":int},...] strictly.
std::optional<std::vector<std::pair<int64_t, int64_t>>> parse(const std::string& s) {
  std::vector<std::pair<int64_t, int64_t>> out;
  size_t i = 0;
  auto expect = [&](std::string_view lit) {
    if (s.compare(i, lit.size(), lit) != 0) return false;
    i += lit.size();
    return true;
  };
  auto integer = [&](int64_t& v) {
    size_t start = i;
    if (i < s.size() && s[i] == '-') ++i;
    size_t digits = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == digits || (s[digits] == '0' && i - digits > 1)) return false;
    errno = 0;
    v = std::strtoll(s.substr(start, i - start).c_str(), nullptr, 10);
    return errno == 0;
  };
  if (!expect("[")) return std::nullopt;
  if (expect("]")) return i == s.size() ? std::optional(out) : std::nullopt;
  for (;;) {
    int64_t k, m;
    if (!expect("{\"k\":") || !integer(k) || !expect(",\"m\":") || !integer(m) || !expect("}")) return std::nullopt;
    out.emplace_back(k, m);
    if (expect("]")) break;
    if (!expect(",")) return std::nullopt;
  }
  return i == s.size() ? std::optional(out) : std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r{{data, size}};
  const PrefValue tree = decode(r, 0);
  const std::string json = pelmora::symbolicHotkeysJson(pelmora::symbolicHotkeysFrom(tree));
  auto parsed = parse(json);
  if (!parsed) abort();
  if (*parsed != referenceFilter(tree)) abort();
  return 0;
}
