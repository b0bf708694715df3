// While GIO reads the applications that open a type, which takes most of a
// run before the icons, the icons those applications are likely to name are
// drawn on a thread of their own: the desktop files that the applications
// folders' mimeinfo.cache lists for the type say which. Each icon drawn is
// kept under the GIcon it was drawn from, made as GIO makes an entry's, so
// a wrong guess costs that thread's time and never gives an application
// another's icon.
#pragma once

#include <gio/gio.h>

#include <optional>
#include <string>

namespace corvane::gio {

// Starts drawing, at size x size pixels, the icons of the type's likely
// applications; nothing when it is already drawing.
void startEarlyIcons(const std::string& contentType, int size) noexcept;

// Stops the drawing after the icon in hand and waits for it; what was drawn
// stays for earlyIcon. Safe to call when none was started, and again.
void stopEarlyIcons() noexcept;

// The icon drawn early from an icon equal to this one: the drawing's result,
// none included. Nothing when it was not drawn, or the drawing has not
// stopped. Safe to call from several threads at once.
std::optional<std::optional<std::string>> earlyIcon(GIcon* icon);

// Lets what was drawn early go.
void releaseEarlyIcons() noexcept;

}  // namespace corvane::gio
