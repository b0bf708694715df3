#include "unicode/utf8.h"

#include <cstdint>

namespace unicode {
namespace {

// Second-byte bounds of a sequence, by its lead byte (Unicode table 3-7).
struct LeadInfo {
  uint8_t length;
  uint8_t secondLow;
  uint8_t secondHigh;
};

LeadInfo leadInfo(uint8_t lead) noexcept {
  if (lead < 0x80) return {1, 0, 0};
  if (lead < 0xC2) return {0, 0, 0};
  if (lead < 0xE0) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead < 0xF0) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead < 0xF4) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// How many bytes from i form a valid prefix of a sequence (lead included).
size_t validPrefix(std::string_view text, size_t i, LeadInfo info) noexcept {
  const size_t n = text.size();
  if (i + 1 >= n) return 1;
  const auto second = static_cast<uint8_t>(text[i + 1]);
  if (second < info.secondLow || second > info.secondHigh) return 1;
  size_t k = 2;
  while (k < info.length && i + k < n) {
    const auto b = static_cast<uint8_t>(text[i + k]);
    if (b < 0x80 || b > 0xBF) break;
    ++k;
  }
  return k;
}

}  // namespace

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

uint32_t utf8Decode(std::string_view text, size_t i, size_t length) noexcept {
  static constexpr uint8_t kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  uint32_t scalar = static_cast<uint8_t>(text[i]) & kLeadMask[length];
  for (size_t k = 1; k < length; ++k) scalar = (scalar << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
  return scalar;
}

size_t utf8SequenceLength(std::string_view text, size_t i) noexcept {
  const LeadInfo info = leadInfo(static_cast<uint8_t>(text[i]));
  if (info.length <= 1) return info.length;
  return validPrefix(text, i, info) == info.length ? info.length : 0;
}

size_t utf8InvalidRunLength(std::string_view text, size_t i) noexcept {
  const LeadInfo info = leadInfo(static_cast<uint8_t>(text[i]));
  if (info.length == 0) return 1;
  return validPrefix(text, i, info);
}

bool isWellFormedUtf8(std::string_view text) noexcept {
  for (size_t i = 0; i < text.size();) {
    const size_t len = utf8SequenceLength(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string toWellFormedUtf8(std::string owned) {
  const std::string_view text = owned;
  std::string out;
  size_t runStart = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (static_cast<uint8_t>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    if (const size_t len = utf8SequenceLength(text, i)) {
      i += len;
      continue;
    }
    if (out.empty()) out.reserve(text.size() + 2);
    out.append(text.substr(runStart, i - runStart)).append(kReplacementCharacter);
    i += utf8InvalidRunLength(text, i);
    runStart = i;
  }
  if (runStart == 0) return owned;
  out.append(text.substr(runStart));
  return out;
}

std::string replaceLineBreaks(std::string_view text, char replacement) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      out += c;
      continue;
    }
    out += replacement;
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

std::string_view withoutFinalLineBreak(std::string_view text) noexcept {
  if (text.ends_with("\r\n")) text.remove_suffix(2);
  else if (text.ends_with('\n') || text.ends_with('\r')) text.remove_suffix(1);
  return text;
}

}  // namespace unicode
