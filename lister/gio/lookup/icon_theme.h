// Icon lookup by the freedesktop icon-theme rules, without a display: the
// theme GTK programs would show, the themes it inherits, hicolor, then
// unthemed icons.
#pragma once

#include <string>
#include <string_view>

namespace corvane::gio {

// The theme GTK programs on this desktop would use: GSettings
// org.gnome.desktop.interface icon-theme when that schema is installed, else
// the GTK settings.ini files, else KDE's kdeglobals [Icons] Theme, else
// Adwaita when installed, else hicolor.
std::string chosenThemeName();

// Settles now, on the calling thread, which theme the lookups search (as
// chosenThemeName answers); the first read of the themes does otherwise.
void chooseTheme() noexcept;

// Reads the themes now if no lookup has yet; a lookup reads them otherwise.
void readThemes() noexcept;

// The file that draws the named icon nearest to size pixels at scale 1, or
// empty when no theme and no unthemed folder has it. Safe to call from
// several threads at once; the first call reads the themes.
std::string lookupThemedIcon(std::string_view name, int size);

}  // namespace corvane::gio
