// An application's GIcon drawn onto a square canvas and encoded as PNG.
#pragma once

#include <gio/gio.h>

#include <optional>
#include <string>

namespace corvane::gio {

// The icon scaled to fill size x size pixels (a non-square source is
// stretched), with an alpha channel, as PNG bytes; none when no image could
// be found or decoded.
std::optional<std::string> iconPng(GIcon* icon, int size);

}  // namespace corvane::gio
