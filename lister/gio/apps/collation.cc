#include "lister/gio/apps/collation.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace corvane::gio {
namespace {

// Printable ASCII in the root collation's order at secondary strength, a
// letter's two cases one place: spaces and punctuation, symbols, digits,
// letters. Each sorts apart from every other at the primary level and none
// expands or contracts, so strings of them compare place by place.
constexpr std::string_view kRootOrder = " _-,;:!?.'\"()[]{}@*/\\&#%`^+<=>|~$0123456789abcdefghijklmnopqrstuvwxyz";

// Each byte's place in kRootOrder counted from 1; 0 for bytes outside it.
constexpr std::array<unsigned char, 256> kRank = [] {
  std::array<unsigned char, 256> rank{};
  for (size_t i = 0; i < kRootOrder.size(); ++i) {
    const auto c = static_cast<unsigned char>(kRootOrder[i]);
    rank[c] = static_cast<unsigned char>(i + 1);
    if (c >= 'a' && c <= 'z') rank[c - 'a' + 'A'] = static_cast<unsigned char>(i + 1);
  }
  return rank;
}();

// Sorted, for the binary search.
constexpr std::string_view kRootOrderLanguages[] = {
    "af", "agq", "ak", "am", "ar", "as", "asa", "ast", "bas", "be", "bem", "bez", "bg", "bgc", "bho", "bm", "bn",
    "bo", "brx", "ca", "ccp", "ce", "cgg", "chr", "ckb", "cv", "dav", "de", "dje", "doi", "dua", "dyo", "dz", "ebu",
    "el", "en", "eo", "es", "eu", "ewo", "fa", "ff", "fi", "fr", "fur", "ga", "gd", "gl", "gsw", "gu", "guz", "gv",
    "he", "hi", "hy", "ia", "id", "ii", "is", "it", "ja", "jgo", "jmc", "jv", "ka", "kab", "kam", "kde", "kea",
    "kgp", "khq", "ki", "kk", "kkj", "kln", "km", "kn", "ko", "kok", "ks", "ksb", "ksf", "ksh", "ku", "kw", "ky",
    "lag", "lb", "lg", "lkt", "ln", "lo", "lrc", "lu", "luo", "luy", "mai", "mas", "mer", "mfe", "mg", "mgh", "mgo",
    "mi", "mk", "ml", "mn", "mni", "mr", "ms", "mt", "mua", "my", "mzn", "naq", "nd", "ne", "nl", "nmg", "nnh",
    "nus", "nyn", "or", "os", "pa", "pcm", "pl", "ps", "pt", "qu", "raj", "rm", "rn", "ro", "rof", "ru", "rw", "rwk",
    "sa", "sah", "saq", "sat", "sbp", "sc", "sd", "se", "seh", "ses", "sg", "shi", "si", "sl", "smn", "sn", "so",
    "sr", "su", "sv", "sw", "ta", "te", "teo", "tg", "ti", "tk", "tt", "twq", "tzm", "ug", "uk", "ur", "vai", "vi",
    "vun", "wae", "wo", "xh", "xog", "yav", "yi", "yrl", "yue", "zgh", "zh", "zu"};
static_assert(std::is_sorted(std::begin(kRootOrderLanguages), std::end(kRootOrderLanguages)));

bool allIn(std::string_view s, bool (*test)(char)) { return std::all_of(s.begin(), s.end(), test); }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isPrintable(char c) { return kRank[static_cast<unsigned char>(c)] != 0; }

// The bytes' keys compared place by place, a prefix first.
template <class Key>
int compareKeys(std::string_view a, std::string_view b, Key key) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned ka = key(static_cast<unsigned char>(a[i])), kb = key(static_cast<unsigned char>(b[i]));
    if (ka != kb) return ka < kb ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

std::string collationLocale() {
  const char* value = nullptr;
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    value = std::getenv(name);
    if (value && *value) break;
    value = nullptr;
  }
  std::string locale = value ? value : "";
  locale = locale.substr(0, locale.find_first_of(".@"));
  // ICU's rules for C are code-point order, which would put "Beta" before
  // "alpha".
  if (locale == "C" || locale == "POSIX") locale.clear();
  return locale;
}

bool keepsRootAsciiOrder(std::string_view locale) {
  if (locale.empty()) return true;
  const size_t bar = locale.find('_');
  const std::string_view language = locale.substr(0, bar);
  if (bar != std::string_view::npos) {
    const std::string_view region = locale.substr(bar + 1);
    if (region.size() != 2 || !allIn(region, isUpper)) return false;
  }
  if (language.size() < 2 || language.size() > 3 || !allIn(language, isLower)) return false;
  return std::binary_search(std::begin(kRootOrderLanguages), std::end(kRootOrderLanguages), language);
}

std::span<const std::string_view> rootOrderLanguages() { return kRootOrderLanguages; }

std::optional<int> compareRootAscii(std::string_view a, std::string_view b) {
  if (!allIn(a, isPrintable) || !allIn(b, isPrintable)) return std::nullopt;
  return compareKeys(a, b, [](unsigned char c) -> unsigned { return kRank[c]; });
}

int compareWithoutIcu(std::string_view a, std::string_view b) {
  return compareKeys(a, b, [](unsigned char c) -> unsigned { return kRank[c] ? kRank[c] : kRootOrder.size() + 1 + c; });
}

}  // namespace corvane::gio
