// The Linux platform's text library is ICU, opened with the dynamic loader on
// first use. Its headers give the types; the names are looked up at run time
// with whatever version suffix the library on this machine carries.
#include <dlfcn.h>
#include <unicode/ubrk.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/uvernum.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/icu/text_services.h"
#include "platform/text.h"
#include "unicode/icu_library.h"
#include "unicode/utf16.h"
#include "unicode/utf8.h"

namespace platform::icu {
namespace {

// Every ICU function the text services call. The macros give the declared
// (renamed) type and the plain name to look up.
#define PELMORA_ICU_FUNCTIONS(X)                                                                               \
  X(unorm2_getNFDInstance)                                                                                     \
  X(unorm2_isNormalized)                                                                                       \
  X(unorm2_normalize)                                                                                          \
  X(ubrk_open)                                                                                                 \
  X(ubrk_setUText)                                                                                             \
  X(ubrk_setText)                                                                                              \
  X(ubrk_first)                                                                                                \
  X(ubrk_next)                                                                                                 \
  X(ubrk_close)                                                                                                \
  X(utext_openUTF8)                                                                                            \
  X(utext_close)

struct Functions {
#define PELMORA_ICU_MEMBER(name) decltype(&name) name##_ = nullptr;
  PELMORA_ICU_FUNCTIONS(PELMORA_ICU_MEMBER)
#undef PELMORA_ICU_MEMBER
};

bool resolve(const unicode::IcuLibrary& library, Functions& f) {
  bool all = true;
#define PELMORA_ICU_RESOLVE(name)                                                        \
  f.name##_ = reinterpret_cast<decltype(&name)>(unicode::icuFunction(library, #name)); \
  all = all && f.name##_ != nullptr;
  PELMORA_ICU_FUNCTIONS(PELMORA_ICU_RESOLVE)
#undef PELMORA_ICU_RESOLVE
  return all;
}

// Opens the first candidate with every function; the library stays open for
// the life of the process when `keep` is given.
IcuLibrary open(const std::vector<std::string>& candidates, Functions* keep) {
  IcuLibrary result;
  unicode::IcuLibrary library = unicode::openIcuLibrary(candidates, "ubrk_open");
  Functions f;
  if (library && resolve(library, f)) {
    result.opened = true;
    result.file = library.file;
    result.suffix = library.suffix;
    if (keep) {
      *keep = f;
    } else {
      unicode::closeIcuLibrary(library);
    }
    return result;
  }
  const std::string firstError = library ? library.file + " lacks ICU's functions" : library.error;
  unicode::closeIcuLibrary(library);
  result.error = "ICU's common library could not be opened (tried " + std::to_string(candidates.size()) +
                 " names, from " + (candidates.empty() ? std::string("none") : candidates.front()) + " to " +
                 (candidates.empty() ? std::string("none") : candidates.back()) + "; first: " + firstError +
#if defined(__APPLE__)
                 "): install ICU (brew install icu4c)";
#else
                 "): install ICU's runtime (Debian: apt-get install libicu" + std::to_string(U_ICU_VERSION_MAJOR_NUM) +
                 ")";
#endif
  return result;
}

// The build's own version first, then every other version in the folder it
// was built against, newest first, then the development link.
std::vector<std::string> defaultCandidates() {
  std::vector<std::string> folders;
#ifdef PELMORA_ICU_LIBDIR
  folders.emplace_back(PELMORA_ICU_LIBDIR);
#endif
  std::vector<std::string> names = unicode::icuLibraryCandidates("libicuuc", U_ICU_VERSION_MAJOR_NUM, folders);
#if defined(__APPLE__)
  names.push_back("/usr/lib/libicucore.A.dylib");  // the system's own, unversioned names
#endif
  return names;
}

struct Loaded {
  IcuLibrary library;
  Functions f;
};

const Loaded& loaded() {
  static const Loaded instance = [] {
    Loaded l;
    l.library = open(defaultCandidates(), &l.f);
    if (!l.library.opened) {
      std::fprintf(stderr, "pelmora: %s; text services fall back to code points and exact equality\n",
                   l.library.error.c_str());
    }
    return l;
  }();
  return instance;
}

const Functions* icu() {
  const Loaded& l = loaded();
  return l.library.opened ? &l.f : nullptr;
}

// Ill-formed input becomes U+FFFD, as a CFString built from it would.
std::vector<uint16_t> toUtf16(std::string_view utf8) {
  return unicode::utf16FromUtf8(unicode::toWellFormedUtf8(std::string(utf8))).value_or(std::vector<uint16_t>());
}

std::vector<uint16_t> nfd(const Functions& f, const std::vector<uint16_t>& text) {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* normalizer = f.unorm2_getNFDInstance_(&status);
  if (U_FAILURE(status)) return text;
  const auto* src = reinterpret_cast<const UChar*>(text.data());
  const auto n = static_cast<int32_t>(text.size());
  if (f.unorm2_isNormalized_(normalizer, src, n, &status) && U_SUCCESS(status)) return text;
  status = U_ZERO_ERROR;
  int32_t length = f.unorm2_normalize_(normalizer, src, n, nullptr, 0, &status);
  std::vector<uint16_t> out(static_cast<size_t>(length));
  status = U_ZERO_ERROR;
  f.unorm2_normalize_(normalizer, src, n, reinterpret_cast<UChar*>(out.data()), length, &status);
  return U_SUCCESS(status) ? out : text;
}

// Without ICU: code points, each ill-formed run counting as the one U+FFFD
// that replaces it.
size_t codePointCount(std::string_view utf8) {
  size_t count = 0;
  for (size_t i = 0; i < utf8.size(); ++count) {
    const size_t n = unicode::utf8SequenceLength(utf8, i);
    i += n ? n : unicode::utf8InvalidRunLength(utf8, i);
  }
  return count;
}

}  // namespace

const IcuLibrary& icuLibrary() { return loaded().library; }

IcuLibrary probeIcu(const std::vector<std::string>& candidates) { return open(candidates, nullptr); }

std::string canonicalDecomposition(std::string_view utf8) {
  const Functions* f = icu();
  if (!f) return std::string(utf8);
  return unicode::utf8FromUtf16(nfd(*f, toUtf16(utf8)));
}

}  // namespace platform::icu

namespace platform {

size_t graphemeClusterCount(std::string_view utf8) noexcept {
  if (utf8.empty()) return 0;
  const icu::Functions* f = icu::icu();
  if (!f) return icu::codePointCount(utf8);
  struct Closer {
    const icu::Functions* f;
    void operator()(UBreakIterator* bi) const { f->ubrk_close_(bi); }
  };
  // One iterator for the process: opening one loads the break rules.
  static std::unique_ptr<UBreakIterator, Closer> iterator = [f] {
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator* bi = f->ubrk_open_(UBRK_CHARACTER, "", nullptr, 0, &status);
    return std::unique_ptr<UBreakIterator, Closer>(U_SUCCESS(status) ? bi : nullptr, Closer{f});
  }();
  if (!iterator) return 0;
  UErrorCode status = U_ZERO_ERROR;
  UText* text = f->utext_openUTF8_(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
  f->ubrk_setUText_(iterator.get(), text, &status);
  size_t count = 0;
  if (U_SUCCESS(status)) {
    f->ubrk_first_(iterator.get());
    while (f->ubrk_next_(iterator.get()) != UBRK_DONE) ++count;
  }
  // Detach the text before closing it.
  static const UChar kEmpty[1] = {0};
  UErrorCode ignored = U_ZERO_ERROR;
  f->ubrk_setText_(iterator.get(), kEmpty, 0, &ignored);
  f->utext_close_(text);
  return count;
}

bool canonicallyEquivalent(std::string_view a, std::string_view b) noexcept {
  if (a == b) return true;
  const icu::Functions* f = icu::icu();
  if (!f) return false;
  return icu::nfd(*f, icu::toUtf16(a)) == icu::nfd(*f, icu::toUtf16(b));
}

}  // namespace platform
