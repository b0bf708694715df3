#include "frame/json_text.h"

#include "unicode/utf8.h"

namespace pelmora {

using unicode::kReplacementCharacter;
using unicode::utf8InvalidRunLength;
using unicode::utf8SequenceLength;

namespace {

void appendEscapedScalar(std::string& out, unsigned char c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: {
      static constexpr char kHex[] = "0123456789abcdef";
      const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(esc, 6);
    }
  }
}

}  // namespace

void appendJsonEscaped(std::string& out, std::string_view text) {
  const char* data = text.data();
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    // Find the end of the run that is copied unchanged.
    const size_t runStart = i;
    for (;;) {
      i += unicode::plainAsciiRun<'"', '\\'>(text.substr(i));
      if (i >= n || static_cast<unsigned char>(data[i]) < 0x80) break;
      const size_t len = utf8SequenceLength(text, i);
      if (len == 0) break;
      i += len;  // well-formed non-ASCII stays in the run
    }
    out.append(data + runStart, i - runStart);
    if (i >= n) break;

    const auto c = static_cast<unsigned char>(data[i]);
    if (c < 0x80) {
      appendEscapedScalar(out, c);
      ++i;
    } else {
      out.append(kReplacementCharacter);
      i += utf8InvalidRunLength(text, i);
    }
  }
}

std::string jsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendJsonEscaped(out, text);
  return out;
}

void JsonObjectText::name(std::string_view name) {
  if (text_.size() > 1) text_ += ',';
  text_ += '"';
  text_ += name;
  text_ += "\":";
}

JsonObjectText& JsonObjectText::add(std::string_view n, std::string_view value) {
  name(n);
  text_ += '"';
  appendJsonEscaped(text_, value);
  text_ += '"';
  return *this;
}

JsonObjectText& JsonObjectText::add(std::string_view n, bool value) {
  name(n);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObjectText& JsonObjectText::add(std::string_view n, int64_t value) {
  name(n);
  text_ += std::to_string(value);
  return *this;
}

std::string JsonObjectText::finish() {
  text_ += '}';
  return std::move(text_);
}

}  // namespace pelmora
