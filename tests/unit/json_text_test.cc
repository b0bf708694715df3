#include "frame/json_text.h"

#include <gtest/gtest.h>

#include "unicode/utf8.h"

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using pelmora::jsonEscape;
using pelmora::JsonObjectText;

// An independent reader of a JSON string body (the text between the quotes):
// the scalars it denotes, or nothing when it is not valid JSON.
std::optional<std::vector<uint32_t>> parseJsonStringBody(const std::string& s) {
  std::vector<uint32_t> out;
  size_t i = 0;
  auto hex4 = [&](size_t at) -> std::optional<uint32_t> {
    if (at + 4 > s.size()) return std::nullopt;
    uint32_t v = 0;
    for (size_t k = at; k < at + 4; ++k) {
      char c = s[k];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= c - '0';
      else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
      else return std::nullopt;
    }
    return v;
  };
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c < 0x20) return std::nullopt;  // must have been escaped
    if (c == '\\') {
      if (i + 1 >= s.size()) return std::nullopt;
      char e = s[i + 1];
      static const std::string simple = "\"\\/bfnrt";
      static const uint32_t values[] = {'"', '\\', '/', 8, 12, 10, 13, 9};
      if (auto p = simple.find(e); p != std::string::npos) {
        out.push_back(values[p]);
        i += 2;
        continue;
      }
      if (e != 'u') return std::nullopt;
      auto v = hex4(i + 2);
      if (!v || (*v >= 0xD800 && *v <= 0xDFFF)) return std::nullopt;  // never produced
      out.push_back(*v);
      i += 6;
      continue;
    }
    // Raw UTF-8 must be well-formed.
    int len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (len == 0 || c > 0xF4 || i + len > s.size()) return std::nullopt;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
      auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (b & 0x3F);
    }
    static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    out.push_back(cp);
    i += len;
  }
  return out;
}

std::string utf8(uint32_t cp) {
  std::string s;
  unicode::appendUtf8(s, cp);
  return s;
}

TEST(JsonEscape, EscapesExactlyTheQuoteBackslashAndControls) {
  EXPECT_EQ(jsonEscape(std::string("\"\\\t\n\r\x01\x7F")), "\\\"\\\\\\t\\n\\r\\u0001\x7F");
  EXPECT_EQ(jsonEscape("\b\f\x1B"), "\\u0008\\u000c\\u001b");
  EXPECT_EQ(jsonEscape(std::string("a\0b", 3)), "a\\u0000b");
  EXPECT_EQ(jsonEscape(""), "");
}

TEST(JsonEscape, EveryControlCharacterHasItsForm) {
  for (uint32_t c = 0; c < 0x20; ++c) {
    std::string escaped = jsonEscape(std::string(1, static_cast<char>(c)));
    std::string expected;
    if (c == '\n') expected = "\\n";
    else if (c == '\r') expected = "\\r";
    else if (c == '\t') expected = "\\t";
    else {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      expected = buf;
    }
    EXPECT_EQ(escaped, expected) << "U+" << c;
  }
}

TEST(JsonEscape, SolidusAccentsAndAstralTextPassUnchanged) {
  const std::string text = "caf\xC3\xA9 / na\xC3\xAFve \xE2\x82\xAC \xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";
  EXPECT_EQ(jsonEscape(text), text);
}

TEST(JsonEscape, IllFormedInputBecomesReplacementCharacters) {
  const std::string R = "\xEF\xBF\xBD";
  EXPECT_EQ(jsonEscape("a\xFF" "b"), "a" + R + "b");
  EXPECT_EQ(jsonEscape("\xC3"), R);
  EXPECT_EQ(jsonEscape("\xED\xA0\x80\""), R + R + R + "\\\"");
  EXPECT_EQ(jsonEscape("\xE2\x82\xE2\x82\xAC"), R + "\xE2\x82\xAC");
}

TEST(JsonEscape, LongRunsAroundEscapesAreCopiedWhole) {
  // Escapes at every offset relative to the eight-byte scan.
  for (size_t at = 0; at < 24; ++at) {
    std::string text(24, 'x');
    text[at] = '"';
    std::string expected = text.substr(0, at) + "\\\"" + text.substr(at + 1);
    EXPECT_EQ(jsonEscape(text), expected) << at;
  }
}

TEST(JsonEscape, RandomTextRoundTripsThroughAJsonReader) {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> kind(0, 9);
  for (int round = 0; round < 2000; ++round) {
    std::vector<uint32_t> scalars;
    std::string text;
    int length = round % 40;
    for (int k = 0; k < length; ++k) {
      uint32_t cp;
      switch (kind(rng)) {
        case 0: cp = rng() % 0x20; break;
        case 1: cp = "\"\\/"[rng() % 3]; break;
        case 2: cp = 0x80 + rng() % 0x780; break;
        case 3: cp = 0x800 + rng() % 0xD000; break;
        case 4: cp = 0x10000 + rng() % 0x100000; break;
        case 5: cp = 0x7F; break;
        default: cp = 0x20 + rng() % 0x5F; break;
      }
      if (cp >= 0xD800 && cp <= 0xDFFF) cp = 'x';
      scalars.push_back(cp);
      text += utf8(cp);
    }
    auto parsed = parseJsonStringBody(jsonEscape(text));
    ASSERT_TRUE(parsed.has_value()) << "round " << round;
    EXPECT_EQ(*parsed, scalars) << "round " << round;
  }
}

TEST(JsonEscape, ArbitraryBytesAlwaysGiveValidJson) {
  std::mt19937 rng(99);
  for (int round = 0; round < 5000; ++round) {
    std::string bytes(rng() % 32, '\0');
    for (auto& b : bytes) b = static_cast<char>(rng());
    EXPECT_TRUE(parseJsonStringBody(jsonEscape(bytes)).has_value()) << round;
  }
}

TEST(JsonObjectText, MembersInOrderCompactAndEscaped) {
  std::string text = JsonObjectText()
                         .add("ok", false)
                         .add("appName", "Say \"hi\"\n")
                         .add("count", int64_t{-42})
                         .add("empty", "")
                         .finish();
  EXPECT_EQ(text, R"({"ok":false,"appName":"Say \"hi\"\n","count":-42,"empty":""})");
  EXPECT_EQ(JsonObjectText().finish(), "{}");
}

}  // namespace
