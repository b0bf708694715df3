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
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/text_services.h"
#include "platform/text.h"
#include "unicode/utf8.h"

namespace sim {
namespace {

// Every ICU function the text services call. The macros give the declared
// (renamed) type and the plain name to look up.
#define PELMORA_ICU_FUNCTIONS(X)                                                                               \
  X(u_strFromUTF8WithSub)                                                                                      \
  X(u_strToUTF8WithSub)                                                                                        \
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

// Major versions to look for when the build's own is gone (ICU 50 came out
// in 2012; a major a half-year since).
constexpr int kOldestMajor = 50;
constexpr int kNewestMajor = 150;

#if defined(__APPLE__)
std::string fileName(int major) { return "libicuuc." + std::to_string(major) + ".dylib"; }
const char* const kUnversioned = "libicuuc.dylib";
#else
std::string fileName(int major) { return "libicuuc.so." + std::to_string(major); }
const char* const kUnversioned = "libicuuc.so";
#endif

// The major version that a file name carries ("libicuuc.so.72.1" and
// "libicuuc.72.dylib" carry 72), or 0.
int majorOf(const std::string& file) {
  const size_t base = file.rfind('/') == std::string::npos ? 0 : file.rfind('/') + 1;
  const size_t at = file.find_first_of("0123456789", base);
  return at == std::string::npos ? 0 : std::atoi(file.c_str() + at);
}

// The suffix of the library's versioned names: the file name's version,
// else none (ICU built without renaming), else any other major.
bool findSuffix(void* handle, const std::string& file, std::string& suffix) {
  std::vector<std::string> tries;
  if (int major = majorOf(file)) tries.push_back("_" + std::to_string(major));
  tries.push_back("");
  for (int major = kNewestMajor; major >= kOldestMajor; --major) tries.push_back("_" + std::to_string(major));
  for (const auto& s : tries) {
    if (dlsym(handle, ("ubrk_open" + s).c_str())) {
      suffix = s;
      return true;
    }
  }
  return false;
}

bool resolve(void* handle, const std::string& suffix, Functions& f) {
  bool all = true;
#define PELMORA_ICU_RESOLVE(name)                                                         \
  f.name##_ = reinterpret_cast<decltype(&name)>(dlsym(handle, (#name + suffix).c_str())); \
  all = all && f.name##_ != nullptr;
  PELMORA_ICU_FUNCTIONS(PELMORA_ICU_RESOLVE)
#undef PELMORA_ICU_RESOLVE
  return all;
}

// Opens the first candidate with every function; the handle stays open for
// the life of the process when `keep` is given.
IcuLibrary open(const std::vector<std::string>& candidates, Functions* keep) {
  IcuLibrary result;
  std::string firstError;
  for (const auto& file : candidates) {
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      if (firstError.empty()) firstError = dlerror();
      continue;
    }
    Functions f;
    std::string suffix;
    if (findSuffix(handle, file, suffix) && resolve(handle, suffix, f)) {
      result.opened = true;
      result.file = file;
      result.suffix = suffix;
      if (keep) {
        *keep = f;
      } else {
        dlclose(handle);
      }
      return result;
    }
    if (firstError.empty()) firstError = file + " lacks ICU's functions";
    dlclose(handle);
  }
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

// The build's own version first (in the folder it was built against, then
// wherever the loader finds it), then any other major, newest first, then
// the development link.
std::vector<std::string> defaultCandidates() {
  std::vector<std::string> names;
#ifdef PELMORA_ICU_LIBDIR
  names.push_back(std::string(PELMORA_ICU_LIBDIR) + "/" + fileName(U_ICU_VERSION_MAJOR_NUM));
#endif
  names.push_back(fileName(U_ICU_VERSION_MAJOR_NUM));
  for (int major = kNewestMajor; major >= kOldestMajor; --major) {
    if (major != U_ICU_VERSION_MAJOR_NUM) names.push_back(fileName(major));
  }
  names.push_back(kUnversioned);
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
      std::fprintf(stderr, "pelmora (simulated desktop): %s; text services fall back to code points and exact equality\n",
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

std::u16string toUtf16(const Functions& f, std::string_view utf8) {
  if (utf8.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  // Ill-formed input becomes U+FFFD rather than failing.
  f.u_strFromUTF8WithSub_(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr,
                          &status);
  std::u16string out(static_cast<size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  f.u_strFromUTF8WithSub_(reinterpret_cast<UChar*>(out.data()), length, nullptr, utf8.data(),
                          static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  return U_SUCCESS(status) ? out : std::u16string();
}

std::string toUtf8(const Functions& f, const std::u16string& utf16) {
  if (utf16.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const auto* src = reinterpret_cast<const UChar*>(utf16.data());
  f.u_strToUTF8WithSub_(nullptr, 0, &length, src, static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr, &status);
  std::string out(static_cast<size_t>(length), '\0');
  status = U_ZERO_ERROR;
  f.u_strToUTF8WithSub_(out.data(), length, nullptr, src, static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr,
                        &status);
  return U_SUCCESS(status) ? out : std::string();
}

std::u16string nfd(const Functions& f, const std::u16string& text) {
  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* normalizer = f.unorm2_getNFDInstance_(&status);
  if (U_FAILURE(status)) return text;
  const auto* src = reinterpret_cast<const UChar*>(text.data());
  const auto n = static_cast<int32_t>(text.size());
  if (f.unorm2_isNormalized_(normalizer, src, n, &status) && U_SUCCESS(status)) return text;
  status = U_ZERO_ERROR;
  int32_t length = f.unorm2_normalize_(normalizer, src, n, nullptr, 0, &status);
  std::u16string out(static_cast<size_t>(length), u'\0');
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
  return toUtf8(*f, nfd(*f, toUtf16(*f, utf8)));
}

}  // namespace sim

namespace platform {

size_t graphemeClusterCount(std::string_view utf8) noexcept {
  if (utf8.empty()) return 0;
  const sim::Functions* f = sim::icu();
  if (!f) return sim::codePointCount(utf8);
  struct Closer {
    const sim::Functions* f;
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
  const sim::Functions* f = sim::icu();
  if (!f) return false;
  return sim::nfd(*f, sim::toUtf16(*f, a)) == sim::nfd(*f, sim::toUtf16(*f, b));
}

}  // namespace platform
