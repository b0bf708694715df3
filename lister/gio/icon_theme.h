// Icon lookup by the freedesktop icon-theme rules, without a display: the
// user's theme and the themes it inherits, then hicolor, then unthemed icons.
#pragma once

#include <string>
#include <string_view>

namespace corvane::gio {

// The file that draws the named icon nearest to size pixels at scale 1, or
// empty when no theme and no unthemed folder has it.
std::string lookupThemedIcon(std::string_view name, int size);

}  // namespace corvane::gio
