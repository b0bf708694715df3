#include "lister/json_document.h"

#include "unicode/utf8.h"

namespace corvane {

void appendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  size_t i = 0;
  while (i < text.size()) {
    // A run that needs no escape goes in at once: an icon's base64 text is
    // almost all such runs.
    // The solidus is escaped too, as it always was.
    const size_t plain = unicode::longPlainAsciiRun<'"', '\\', '/'>(text.substr(i));
    out.append(text.substr(i, plain));
    i += plain;
    if (i == text.size()) break;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      if (const size_t len = unicode::utf8SequenceLength(text, i)) {
        out.append(text.substr(i, len));
        i += len;
      } else {
        out.append(unicode::kReplacementCharacter);
        i += unicode::utf8InvalidRunLength(text, i);
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '/': out += "\\/"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
          out.append(esc, 6);
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

std::string documentJson(const Result& result) {
  // Members are written in the sorted order of their keys.
  // Sized once for the icons' text, the bulk of it: growing a string of
  // half a megabyte by doubling copies it over and over.
  size_t expected = 64;
  for (const AppInfo& app : result.apps)
    expected += 96 + app.identifier.size() + app.name.size() + app.path.size() + (app.icon ? app.icon->size() * 17 / 16 : 0);
  std::string out;
  out.reserve(expected);
  out = "{\"apps\":[";
  bool first = true;
  for (const AppInfo& app : result.apps) {
    if (!first) out += ',';
    first = false;
    out += '{';
    if (app.icon) {
      out += "\"icon\":";
      appendJsonString(out, *app.icon);
      out += ',';
    }
    out += "\"identifier\":";
    appendJsonString(out, app.identifier);
    out += ",\"name\":";
    appendJsonString(out, app.name);
    out += ",\"path\":";
    appendJsonString(out, app.path);
    out += '}';
  }
  out += ']';
  if (result.defaultAppIdentifier) {
    out += ",\"defaultAppIdentifier\":";
    appendJsonString(out, *result.defaultAppIdentifier);
  }
  out += '}';
  return out;
}

}  // namespace corvane
