// Name order on Linux: ICU's collation for the user's collation locale at
// secondary strength, so case is ignored but accents are not. Names that
// ICU would order as a table does never load it (collation.h); the first
// pair that needs it opens ICU with the dynamic loader, whose headers give
// only the types here.
#include <dlfcn.h>
#include <glib.h>
#include <unicode/ucol.h>
#include <unicode/uvernum.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lister/gio/apps/collation.h"
#include "lister/platform.h"
#include "unicode/icu_library.h"

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

template <class F>
bool bind(const unicode::IcuLibrary& library, const char* name, F& function) {
  function = reinterpret_cast<F>(unicode::icuFunction(library, name));
  return function != nullptr;
}

// ICU's collator for the locale, or for the root when ICU has no data for
// it; none when no ICU can be opened. Kept for the rest of the process.
class Collator {
 public:
  explicit Collator(const std::string& locale) {
    unicode::IcuLibrary library = unicode::openIcuLibrary(
        unicode::icuLibraryCandidates("libicui18n", U_ICU_VERSION_MAJOR_NUM, libraryFolders()), "ucol_open");
    decltype(&ucol_open) open = nullptr;
    decltype(&ucol_setStrength) setStrength = nullptr;
    if (bind(library, "ucol_open", open) && bind(library, "ucol_setStrength", setStrength) &&
        bind(library, "ucol_strcollUTF8", strcoll_) && bind(library, "ucol_close", close_)) {
      collator_ = openFor(open, locale);
      if (!collator_) collator_ = openFor(open, "");
      if (collator_) {
        setStrength(collator_, UCOL_SECONDARY);
        return;
      }
    }
    unicode::closeIcuLibrary(library);
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
