// Icon lookup by the freedesktop icon-theme rules as GTK 3 applies them,
// without a display: the theme GTK programs would show and the themes it
// inherits, then Adwaita, gnome and hicolor, then unthemed icons.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::gio {

// The theme GTK programs on this desktop would use: GSettings
// org.gnome.desktop.interface icon-theme when that schema is installed, else
// the GTK settings.ini files, else KDE's kdeglobals [Icons] Theme, else
// Adwaita when installed, else hicolor.
std::string chosenThemeName();

// The themes of one theme name, read whole when made: which folders each
// theme has in which root (its icon-theme.cache where current, else listed),
// indexed by icon name, so that a lookup costs a few hash probes a theme.
// Answers as gtk_icon_theme_lookup_icon (GTK 3.24) answers for the same
// theme and search path, at scale 1 with drawings allowed. Lookups on
// several threads at once are safe.
class IconThemes {
 public:
  IconThemes(std::vector<std::string> searchPath, const std::string& theme);
  ~IconThemes();
  IconThemes(const IconThemes&) = delete;
  IconThemes& operator=(const IconThemes&) = delete;

  // The file GTK would load for the named icon at size pixels, or empty.
  std::string lookup(std::string_view name, int size) const;

  // GTK's own: the user's data folder's icons, ~/.icons, each system data
  // folder's icons, then each one's pixmaps.
  static std::vector<std::string> defaultSearchPath();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Settles now, on the calling thread, which theme the lookups search (as
// chosenThemeName answers); the first read of the themes does otherwise.
void chooseTheme() noexcept;

// Reads the themes now if no lookup has yet; a lookup reads them otherwise.
void readThemes() noexcept;

// lookup() over the default search path and the chosen theme. The first call
// reads the themes.
std::string lookupThemedIcon(std::string_view name, int size);

}  // namespace corvane::gio
