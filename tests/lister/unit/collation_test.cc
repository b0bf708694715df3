// The names corvane orders without ICU, against the installed ICU itself:
// the table must give ICU's answer for every pair it answers, under the
// root collation and every locale it is trusted with, and every locale it
// is trusted with must, by ICU's own data, leave printable ASCII in root
// order in every region.
#include "lister/gio/apps/collation.h"
#include "unicode/icu_library.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/uset.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using corvane::gio::compareRootAscii;
using corvane::gio::compareWithoutIcu;
using corvane::gio::keepsRootAsciiOrder;

struct Closer {
  void operator()(UCollator* c) const { ucol_close(c); }
};
using Collator = std::unique_ptr<UCollator, Closer>;

// As the lister opens it: the locale's collation at secondary strength.
Collator collatorFor(const std::string& locale) {
  UErrorCode status = U_ZERO_ERROR;
  Collator c(ucol_open(locale.c_str(), &status));
  EXPECT_TRUE(U_SUCCESS(status)) << locale << ": " << u_errorName(status);
  if (c) ucol_setStrength(c.get(), UCOL_SECONDARY);
  return c;
}

int icuOrder(UCollator* c, const std::string& a, const std::string& b) {
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult r = ucol_strcollUTF8(c, a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size()), &status);
  EXPECT_TRUE(U_SUCCESS(status));
  return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

int sign(int v) { return (v > 0) - (v < 0); }

std::string printable() {
  std::string all;
  for (char c = 0x20; c < 0x7F; ++c) all.push_back(c);
  return all;
}

// Pairs of names as applications have them and the near misses that decide
// an order: words of letters in mixed case, digits, spaces and punctuation,
// and each with one place changed, a case flipped, a character added or
// dropped, or a prefix.
std::vector<std::pair<std::string, std::string>> namePairs(size_t count, unsigned seed) {
  static const std::string kAll = printable();
  static const std::string kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  static const std::string kDigits = "0123456789";
  static const std::string kMarks = " _-,;:!?.'\"()[]{}@*/\\&#%`^+<=>|~$";
  std::mt19937 random(seed);
  const auto pick = [&](const std::string& from) { return from[random() % from.size()]; };
  const auto word = [&] {
    std::string w;
    for (size_t n = random() % 12; n > 0; --n) {
      const unsigned kind = random() % 10;
      w.push_back(kind < 6 ? pick(kLetters) : kind < 8 ? pick(kDigits) : kind < 9 ? ' ' : pick(kind % 2 ? kMarks : kAll));
    }
    return w;
  };
  std::vector<std::pair<std::string, std::string>> pairs;
  while (pairs.size() < count) {
    std::string a = word(), b = a;
    switch (random() % 6) {
      case 0: b = word(); break;
      case 1:
        if (!b.empty()) b[random() % b.size()] = pick(kAll);
        break;
      case 2:
        for (char& c : b)
          if (random() % 3 == 0 && std::isalpha(static_cast<unsigned char>(c))) c ^= 0x20;
        break;
      case 3: b.insert(b.begin() + static_cast<long>(random() % (b.size() + 1)), pick(kAll)); break;
      case 4:
        if (!b.empty()) b.erase(random() % b.size(), 1);
        break;
      default: b = b.substr(0, random() % (b.size() + 1)); break;
    }
    pairs.emplace_back(std::move(a), std::move(b));
  }
  return pairs;
}

// Every pair of single characters and the generated names: the fast path's
// answer is ICU's, in sign.
void expectIcuOrder(UCollator* c, const std::string& locale, size_t names, unsigned seed) {
  const std::string all = printable();
  for (char x : all) {
    for (char y : all) {
      const std::string a(1, x), b(1, y);
      ASSERT_EQ(compareRootAscii(a, b), icuOrder(c, a, b)) << locale << ": '" << a << "' against '" << b << "'";
    }
  }
  for (const auto& [a, b] : namePairs(names, seed)) {
    ASSERT_EQ(sign(compareRootAscii(a, b).value()), icuOrder(c, a, b)) << locale << ": \"" << a << "\" against \"" << b << "\"";
    ASSERT_EQ(compareWithoutIcu(a, b), *compareRootAscii(a, b)) << "the order without ICU agrees on \"" << a << "\", \"" << b << "\"";
  }
}

TEST(Collation, PrintableAsciiComparesAsIcusRootAndTheLocalesTrustedWithIt) {
  for (const std::string locale : {"", "en_US", "de_DE", "fr_FR", "es_ES", "sv_SE", "pl_PL", "ja_JP", "zh_CN", "ru_RU"}) {
    ASSERT_TRUE(keepsRootAsciiOrder(locale)) << locale;
    const Collator c = collatorFor(locale);
    ASSERT_TRUE(c);
    expectIcuOrder(c.get(), locale.empty() ? "root" : locale, locale.empty() ? 200000 : 20000, 11);
  }
}

TEST(Collation, NamesBeyondPrintableAsciiAreLeftToIcu) {
  for (const auto& [a, b] : std::vector<std::pair<std::string, std::string>>{
           {"Caf\xc3\xa9", "Cafe"}, {"tab\there", "tab here"}, {"", "\x7f"}, {"line\n", "line"}, {"\x80", "a"}}) {
    EXPECT_FALSE(compareRootAscii(a, b)) << a;
    EXPECT_FALSE(compareRootAscii(b, a)) << a;
  }
  EXPECT_EQ(compareRootAscii("", ""), 0);
  // Without ICU, such names still sort in one consistent order: after the
  // printable ones, by code point.
  EXPECT_LT(compareWithoutIcu("Zulu", "\xc3\x89" "clair"), 0);
  EXPECT_LT(compareWithoutIcu("\xc3\x89" "clair", "\xc3\x96rn"), 0);
  EXPECT_EQ(compareWithoutIcu("alpha", "ALPHA"), 0);
}

// What ICU's data says of a collation: whether it tailors any printable
// ASCII character or string of them (a contraction such as Czech "ch"), or
// orders a pair of them otherwise than the root.
bool leavesAsciiInRootOrder(UCollator* c, UCollator* root) {
  UErrorCode status = U_ZERO_ERROR;
  USet* tailored = ucol_getTailoredSet(c, &status);
  EXPECT_TRUE(U_SUCCESS(status));
  bool touches = false;
  for (int32_t i = 0; i < uset_getItemCount(tailored) && !touches; ++i) {
    UChar32 start, end;
    UChar text[64];
    UErrorCode e = U_ZERO_ERROR;
    const int32_t length = uset_getItem(tailored, i, &start, &end, text, 64, &e);
    if (length == 0) {
      touches = start <= 0x7E && end >= 0x20;
    } else {
      touches = std::all_of(text, text + std::min(length, 64), [](UChar u) { return u >= 0x20 && u <= 0x7E; });
    }
  }
  uset_close(tailored);
  if (touches) return false;
  const std::string all = printable();
  for (char x : all)
    for (char y : all)
      if (icuOrder(c, std::string(1, x), std::string(1, y)) != icuOrder(root, std::string(1, x), std::string(1, y))) return false;
  for (const auto& [a, b] : namePairs(300, 5))
    if (icuOrder(c, a, b) != icuOrder(root, a, b)) return false;
  return true;
}

TEST(Collation, EveryTrustedLanguageLeavesAsciiInRootOrderInEveryRegion) {
  const Collator root = collatorFor("");
  std::set<std::string> languages;
  for (std::string_view l : corvane::gio::rootOrderLanguages()) languages.emplace(l);
  // ICU's own languages besides: the ones it tailors must all be refused.
  for (int32_t i = 0; i < uloc_countAvailable(); ++i) {
    char language[16];
    UErrorCode e = U_ZERO_ERROR;
    uloc_getLanguage(uloc_getAvailable(i), language, sizeof language, &e);
    if (U_SUCCESS(e) && *language) languages.emplace(language);
  }
  std::vector<std::string> regions;
  for (const char* const* r = uloc_getISOCountries(); *r; ++r) regions.emplace_back(*r);
  ASSERT_GT(regions.size(), 200u);

  // Collations repeat across regions: each is judged once, by the locale
  // ICU actually took its rules from.
  std::map<std::string, bool> judged;
  const auto judge = [&](const std::string& locale) {
    const Collator c = collatorFor(locale);
    UErrorCode e = U_ZERO_ERROR;
    const std::string actual = ucol_getLocaleByType(c.get(), ULOC_ACTUAL_LOCALE, &e);
    auto it = judged.find(actual);
    if (it == judged.end()) it = judged.emplace(actual, leavesAsciiInRootOrder(c.get(), root.get())).first;
    return it->second;
  };
  std::vector<std::string> wronglyTrusted;
  size_t refusedByIcu = 0;
  for (const std::string& language : languages) {
    bool keeps = judge(language);
    for (size_t r = 0; r < regions.size() && keeps; ++r) keeps = judge(language + "_" + regions[r]);
    if (!keeps) ++refusedByIcu;
    if (!keeps && keepsRootAsciiOrder(language)) wronglyTrusted.push_back(language);
  }
  EXPECT_TRUE(wronglyTrusted.empty()) << "trusted but tailoring ASCII under this ICU: " << testing::PrintToString(wronglyTrusted);
  // The judge can tell: Turkish dots its i apart, Czech contracts ch.
  EXPECT_GE(refusedByIcu, 10u);
  EXPECT_FALSE(keepsRootAsciiOrder("tr_TR"));
  EXPECT_FALSE(keepsRootAsciiOrder("cs"));
}

TEST(Collation, OnlyPlainLanguageAndRegionShapesAreTrusted) {
  EXPECT_TRUE(keepsRootAsciiOrder(""));
  EXPECT_TRUE(keepsRootAsciiOrder("de"));
  EXPECT_TRUE(keepsRootAsciiOrder("en_GB"));
  // ICU gives these rules of their own, or may: POSIX order, a script.
  for (const char* locale : {"en_US_POSIX", "sr_Latn", "sr_Latn_RS", "en-US", "en_us", "EN_US", "es_419", "e", "engl", "xx_YY"})
    EXPECT_FALSE(keepsRootAsciiOrder(locale)) << locale;
}

TEST(Collation, TheLocaleFollowsThePosixPrecedence) {
  const auto with = [](const char* all, const char* collate, const char* lang) {
    for (const auto& [name, value] : {std::pair{"LC_ALL", all}, {"LC_COLLATE", collate}, {"LANG", lang}}) {
      if (value) {
        setenv(name, value, 1);
      } else {
        unsetenv(name);
      }
    }
    return corvane::gio::collationLocale();
  };
  EXPECT_EQ(with(nullptr, nullptr, "sv_SE.UTF-8"), "sv_SE");
  EXPECT_EQ(with(nullptr, "de_DE.UTF-8@euro", "sv_SE.UTF-8"), "de_DE");
  EXPECT_EQ(with("tr_TR", "de_DE", "sv_SE"), "tr_TR");
  EXPECT_EQ(with("", "", "C.UTF-8"), "");
  EXPECT_EQ(with(nullptr, "POSIX", "sv_SE"), "");
  EXPECT_EQ(with(nullptr, nullptr, nullptr), "");
}

TEST(Collation, IcuIsLookedForByVersionNewestFirst) {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path() / ("corvane-icu-" + std::to_string(getpid()));
  fs::create_directories(base / "a");
  fs::create_directories(base / "b");
  for (const char* name : {"a/libicui18n.so.70", "a/libicui18n.so.70.1", "a/libicui18n.so", "a/libicuuc.so.99", "a/libicui18n.so.x1",
                           "b/libicui18n.so.9", "b/libicui18n.so.123.4", "b/libicui18n.so.70", "b/libicui18n.so.72abc"})
    std::ofstream(base / name) << "";
  const std::vector<std::string> candidates = unicode::icuLibraryCandidates("libicui18n", 72, {(base / "a").string(), (base / "b").string(), "/no/such"});
  fs::remove_all(base);
  EXPECT_EQ(candidates, (std::vector<std::string>{"libicui18n.so.72", (base / "b/libicui18n.so.123.4").string(),
                                                  (base / "a/libicui18n.so.70").string(), (base / "b/libicui18n.so.9").string(),
                                                  "libicui18n.so"}));
}

}  // namespace
