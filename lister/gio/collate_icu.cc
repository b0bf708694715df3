// Name order on Linux: ICU's collation for the user's collation locale at
// secondary strength, so case is ignored but accents are not.
#include <unicode/ucol.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "lister/platform.h"

namespace corvane::platform {
namespace {

struct CollatorDeleter {
  void operator()(UCollator* c) const noexcept { ucol_close(c); }
};

// The POSIX precedence for collation. The C locale has no language, and
// ICU's rules for it are code-point order, which would put "Beta" before
// "alpha": it gets the root collation instead.
std::string collationLocale() {
  const char* value = nullptr;
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    value = std::getenv(name);
    if (value && *value) break;
    value = nullptr;
  }
  std::string locale = value ? value : "";
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale == "C" || locale == "POSIX") locale.clear();
  return locale;
}

UCollator* openCollator() {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open(collationLocale().c_str(), &status);
  if (U_FAILURE(status)) {
    if (collator) ucol_close(collator);
    status = U_ZERO_ERROR;
    collator = ucol_open("", &status);
    if (U_FAILURE(status)) return nullptr;
  }
  ucol_setStrength(collator, UCOL_SECONDARY);
  return collator;
}

}  // namespace

int compareNames(std::string_view a, std::string_view b) {
  static const std::unique_ptr<UCollator, CollatorDeleter> collator(openCollator());
  if (collator) {
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(collator.get(), a.data(), static_cast<int32_t>(a.size()), b.data(),
                                                static_cast<int32_t>(b.size()), &status);
    if (U_SUCCESS(status)) return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
  }
  return a.compare(b);
}

}  // namespace corvane::platform
