// Name order without ICU wherever ICU would decide nothing: names of
// printable ASCII under a collation that orders printable ASCII as ICU's
// root collation does. Loading ICU's libraries and its collation data costs
// a run some 3.4 MiB and a few milliseconds; most application names are
// ASCII. The order itself stays ICU's, at secondary strength (case ignored,
// accents not).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::gio {

// The collation locale by the POSIX precedence (LC_ALL, LC_COLLATE, LANG,
// the first set and not empty), without its encoding and modifier; the C
// and POSIX locales, which have no language, give the root collation ("").
std::string collationLocale();

// True when ICU's collation for the locale orders printable ASCII exactly as
// the root collation: the root itself, or a language of rootOrderLanguages()
// alone or with a two-letter region ("de", "de_AT"). Any other shape
// (a script, a variant such as en_US_POSIX) is left to ICU.
bool keepsRootAsciiOrder(std::string_view locale);

// The languages whose collations, in every region ICU knows, leave printable
// ASCII in root order: as ICU 72's data has it, checked against the
// installed ICU by the tests.
std::span<const std::string_view> rootOrderLanguages();

// a against b under the root collation at secondary strength: negative,
// zero or positive; none when either holds a byte outside printable ASCII
// (0x20 to 0x7E).
std::optional<int> compareRootAscii(std::string_view a, std::string_view b);

// The order when ICU cannot be had: root order for printable ASCII, every
// other byte after it in byte order (UTF-8's byte order is code point
// order). Agrees with compareRootAscii wherever that answers, so the two can
// share one sort.
int compareWithoutIcu(std::string_view a, std::string_view b);

}  // namespace corvane::gio
