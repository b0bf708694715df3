// Name order on Linux: ICU's collation for the user's collation locale at
// secondary strength, so case is ignored but accents are not. Names that
// ICU would order as a table does never load it (collation.h); the first
// pair that needs it opens ICU with the dynamic loader, whose headers give
// only the types here.
#include <dlfcn.h>
#include <glib.h>
#include <link.h>
#include <unicode/ucol.h>
#include <unicode/uvernum.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lister/gio/collation.h"
#include "lister/platform.h"

namespace corvane::platform {
namespace {

// The folders the dynamic loader searches first, then the one it loaded
// GLib from: a distribution installs ICU beside it.
std::vector<std::string> libraryFolders() {
  std::vector<std::string> folders;
  if (const char* path = std::getenv("LD_LIBRARY_PATH")) {
    for (std::string_view rest = path; !rest.empty();) {
      const size_t colon = rest.find(':');
      if (colon) folders.emplace_back(rest.substr(0, colon));
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&g_free), &info) && info.dli_fname) {
    const std::string file = info.dli_fname;
    if (const size_t slash = file.rfind('/'); slash != std::string::npos && slash > 0) folders.push_back(file.substr(0, slash));
  }
  return folders;
}

// The suffix ICU gives its functions' names ("_72"), read off the file the
// loader opened, whatever name led to it; empty for a build without renaming.
std::string suffixOf(void* library) {
  link_map* map = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  char* real = realpath(map->l_name, nullptr);
  const std::string file = real ? real : map->l_name;
  std::free(real);
  constexpr std::string_view kStem = "libicui18n.so.";
  const size_t at = file.rfind(kStem);
  if (at == std::string::npos) return {};
  const std::string version = file.substr(at + kStem.size());
  return "_" + version.substr(0, version.find('.'));
}

template <class F>
bool bind(void* library, const char* name, const std::string& suffix, F& function) {
  function = reinterpret_cast<F>(dlsym(library, (name + suffix).c_str()));
  if (!function) function = reinterpret_cast<F>(dlsym(library, name));
  return function != nullptr;
}

// ICU's collator for the locale, or for the root when ICU has no data for
// it; none when no ICU can be opened. Kept for the rest of the process.
class Collator {
 public:
  explicit Collator(const std::string& locale) {
    for (const std::string& candidate : gio::icuLibraryCandidates(U_ICU_VERSION_MAJOR_NUM, libraryFolders())) {
      void* library = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!library) continue;
      const std::string suffix = suffixOf(library);
      decltype(&ucol_open) open = nullptr;
      decltype(&ucol_setStrength) setStrength = nullptr;
      if (bind(library, "ucol_open", suffix, open) && bind(library, "ucol_setStrength", suffix, setStrength) &&
          bind(library, "ucol_strcollUTF8", suffix, strcoll_) && bind(library, "ucol_close", suffix, close_)) {
        collator_ = openFor(open, locale);
        if (!collator_) collator_ = openFor(open, "");
        if (collator_) {
          setStrength(collator_, UCOL_SECONDARY);
          return;
        }
      }
      dlclose(library);
    }
  }
  Collator(const Collator&) = delete;
  Collator& operator=(const Collator&) = delete;
  ~Collator() {
    if (collator_) close_(collator_);
  }

  // a against b, or none when ICU is missing or fails on them.
  std::optional<int> compare(std::string_view a, std::string_view b) const {
    if (!collator_ || a.size() > INT_MAX || b.size() > INT_MAX) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r =
        strcoll_(collator_, a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
  }

 private:
  UCollator* openFor(decltype(&ucol_open) open, const std::string& locale) const {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = open(locale.c_str(), &status);
    if (U_SUCCESS(status)) return collator;
    if (collator) close_(collator);
    return nullptr;
  }

  decltype(&ucol_strcollUTF8) strcoll_ = nullptr;
  decltype(&ucol_close) close_ = nullptr;
  UCollator* collator_ = nullptr;
};

}  // namespace

int compareNames(std::string_view a, std::string_view b) {
  static const std::string locale = gio::collationLocale();
  static const bool rootAscii = gio::keepsRootAsciiOrder(locale);
  if (rootAscii) {
    if (const std::optional<int> r = gio::compareRootAscii(a, b)) return *r;
  }
  // Built by the first pair that needs it.
  static const Collator collator(locale);
  if (const std::optional<int> r = collator.compare(a, b)) return *r;
  return gio::compareWithoutIcu(a, b);
}

}  // namespace corvane::platform
