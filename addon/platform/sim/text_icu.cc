// The Linux platform's text library is ICU.
#include <unicode/ubrk.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/text_services.h"
#include "platform/text.h"

namespace sim {
namespace {

std::u16string toUtf16(std::string_view utf8) {
  if (utf8.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  // Ill-formed input becomes U+FFFD rather than failing.
  u_strFromUTF8WithSub(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  std::u16string out(static_cast<size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), length, nullptr, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  return U_SUCCESS(status) ? out : std::u16string();
}

std::string toUtf8(const std::u16string& utf16) {
  if (utf16.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto* src = reinterpret_cast<const UChar*>(utf16.data());
  u_strToUTF8WithSub(nullptr, 0, &length, src, static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr, &status);
  std::string out(static_cast<size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), length, nullptr, src, static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr, &status);
  return U_SUCCESS(status) ? out : std::string();
}

std::u16string nfd(const std::u16string& text) {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* normalizer = unorm2_getNFDInstance(&status);
  if (U_FAILURE(status)) return text;
  const auto* src = reinterpret_cast<const UChar*>(text.data());
  const auto n = static_cast<int32_t>(text.size());
  if (unorm2_isNormalized(normalizer, src, n, &status) && U_SUCCESS(status)) return text;
  status = U_ZERO_ERROR;
  int32_t length = unorm2_normalize(normalizer, src, n, nullptr, 0, &status);
  std::u16string out(static_cast<size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  unorm2_normalize(normalizer, src, n, reinterpret_cast<UChar*>(out.data()), length, &status);
  return U_SUCCESS(status) ? out : text;
}

struct BreakIteratorCloser {
  void operator()(UBreakIterator* bi) const { ubrk_close(bi); }
};

}  // namespace

std::string canonicalDecomposition(std::string_view utf8) { return toUtf8(nfd(toUtf16(utf8))); }

}  // namespace sim

namespace platform {

size_t graphemeClusterCount(std::string_view utf8) noexcept {
  if (utf8.empty()) return 0;
  // One iterator for the process: opening one loads the break rules.
  static std::unique_ptr<UBreakIterator, sim::BreakIteratorCloser> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator* bi = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
    return std::unique_ptr<UBreakIterator, sim::BreakIteratorCloser>(U_SUCCESS(status) ? bi : nullptr);
  }();
  if (!iterator) return 0;
  UErrorCode status = U_ZERO_ERROR;
  UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
  ubrk_setUText(iterator.get(), text, &status);
  size_t count = 0;
  if (U_SUCCESS(status)) {
    ubrk_first(iterator.get());
    while (ubrk_next(iterator.get()) != UBRK_DONE) ++count;
  }
  // Detach the text before closing it.
  static const UChar kEmpty[1] = {0};
  UErrorCode ignored = U_ZERO_ERROR;
  ubrk_setText(iterator.get(), kEmpty, 0, &ignored);
  utext_close(text);
  return count;
}

bool canonicallyEquivalent(std::string_view a, std::string_view b) noexcept {
  if (a == b) return true;
  return sim::nfd(sim::toUtf16(a)) == sim::nfd(sim::toUtf16(b));
}

}  // namespace platform
