// Independent references the fuzzers hold the production code against.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzref {

// Draws values from the fuzz bytes; past the end every byte is 0.
struct ByteReader {
  const uint8_t* p;
  size_t n;
  uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
};

inline constexpr uint32_t kInvalid = 0xFFFFFFFF;

// Decodes UTF-8 with the Unicode standard's practice for ill-formed input:
// each maximal subpart of an ill-formed sequence is one U+FFFD. Written from
// table 3-7 of the standard as explicit ranges.
inline std::vector<uint32_t> decodeWithReplacement(std::string_view s, bool markInvalid = false) {
  std::vector<uint32_t> out;
  const uint32_t replacement = markInvalid ? kInvalid : 0xFFFD;
  size_t i = 0;
  auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  auto in = [](uint8_t b, uint8_t lo, uint8_t hi) { return b >= lo && b <= hi; };
  while (i < s.size()) {
    const uint8_t b0 = byte(i);
    int need;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b0 <= 0x7F) {
      out.push_back(b0);
      ++i;
      continue;
    } else if (in(b0, 0xC2, 0xDF)) {
      need = 1;
    } else if (b0 == 0xE0) {
      need = 2, lo = 0xA0;
    } else if (in(b0, 0xE1, 0xEC) || in(b0, 0xEE, 0xEF)) {
      need = 2;
    } else if (b0 == 0xED) {
      need = 2, hi = 0x9F;
    } else if (b0 == 0xF0) {
      need = 3, lo = 0x90;
    } else if (in(b0, 0xF1, 0xF3)) {
      need = 3;
    } else if (b0 == 0xF4) {
      need = 3, hi = 0x8F;
    } else {
      out.push_back(replacement);
      ++i;
      continue;
    }
    uint32_t cp = b0 & (need == 1 ? 0x1F : need == 2 ? 0x0F : 0x07);
    size_t k = 1;
    bool ok = true;
    for (; k <= static_cast<size_t>(need); ++k) {
      if (i + k >= s.size()) {
        ok = false;
        break;
      }
      const uint8_t b = byte(i + k);
      const bool fits = k == 1 ? in(b, lo, hi) : in(b, 0x80, 0xBF);
      if (!fits) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
    if (ok) {
      out.push_back(cp);
      i += need + 1;
    } else {
      out.push_back(replacement);
      i += k;  // the lead and the continuation bytes that fitted
    }
  }
  return out;
}

inline bool wellFormed(std::string_view s) {
  for (uint32_t cp : decodeWithReplacement(s, true))
    if (cp == kInvalid) return false;
  return true;
}

// The scalars a JSON string body denotes, or nothing when it is not valid.
inline std::optional<std::vector<uint32_t>> parseJsonStringBody(std::string_view s) {
  if (!wellFormed(s)) return std::nullopt;
  std::vector<uint32_t> raw = decodeWithReplacement(s);
  std::vector<uint32_t> out;
  for (size_t i = 0; i < raw.size(); ++i) {
    const uint32_t c = raw[i];
    if (c == '"' || c < 0x20) return std::nullopt;
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i >= raw.size()) return std::nullopt;
    switch (raw[i]) {
      case '"': out.push_back('"'); break;
      case '\\': out.push_back('\\'); break;
      case '/': out.push_back('/'); break;
      case 'b': out.push_back(8); break;
      case 'f': out.push_back(12); break;
      case 'n': out.push_back(10); break;
      case 'r': out.push_back(13); break;
      case 't': out.push_back(9); break;
      case 'u': {
        uint32_t v = 0;
        for (int k = 1; k <= 4; ++k) {
          if (i + k >= raw.size()) return std::nullopt;
          const uint32_t h = raw[i + k];
          v <<= 4;
          if (h >= '0' && h <= '9') v |= h - '0';
          else if (h >= 'a' && h <= 'f') v |= h - 'a' + 10;
          else if (h >= 'A' && h <= 'F') v |= h - 'A' + 10;
          else return std::nullopt;
        }
        if (v >= 0xD800 && v <= 0xDFFF) return std::nullopt;  // we never write surrogate escapes
        out.push_back(v);
        i += 4;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

}  // namespace fuzzref
