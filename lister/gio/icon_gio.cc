#include "lister/gio/icon_gio.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>

#include "lister/gio/gobject_ptr.h"
#include "lister/gio/icon_theme.h"

namespace corvane::gio {
namespace {

using Pixbuf = GObjectPtr<GdkPixbuf>;

// Bigger files are not icons; reading them would only cost time and memory.
constexpr off_t kMaxIconFileBytes = 32 << 20;

Pixbuf loadFile(const char* path, int size) {
  // Only regular files: a desktop entry naming a pipe or a device would
  // otherwise block the lister or feed it without end.
  struct stat st;
  if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxIconFileBytes) return {};
  // SVG is rendered at the canvas size rather than scaled afterwards.
  return Pixbuf::adopt(gdk_pixbuf_new_from_file_at_scale(path, size, size, FALSE, nullptr));
}

Pixbuf loadLoadable(GIcon* icon, int size) {
  GObjectPtr<GInputStream> stream =
      GObjectPtr<GInputStream>::adopt(g_loadable_icon_load(G_LOADABLE_ICON(icon), size, nullptr, nullptr, nullptr));
  if (!stream) return {};
  return Pixbuf::adopt(gdk_pixbuf_new_from_stream_at_scale(stream.get(), size, size, FALSE, nullptr, nullptr));
}

Pixbuf loadIcon(GIcon* icon, int size) {
  if (G_IS_THEMED_ICON(icon)) {
    for (const gchar* const* name = g_themed_icon_get_names(G_THEMED_ICON(icon)); name && *name; ++name) {
      const std::string file = lookupThemedIcon(*name, size);
      if (file.empty()) continue;
      if (Pixbuf pixbuf = loadFile(file.c_str(), size)) return pixbuf;
    }
    return {};
  }
  if (G_IS_FILE_ICON(icon)) {
    gchar* path = g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon)));
    if (path) {
      Pixbuf pixbuf = loadFile(path, size);
      g_free(path);
      return pixbuf;
    }
  }
  if (G_IS_LOADABLE_ICON(icon)) return loadLoadable(icon, size);
  return {};
}

}  // namespace

std::optional<std::string> iconPng(GIcon* icon, int size) {
  Pixbuf pixbuf = loadIcon(icon, size);
  if (!pixbuf) return std::nullopt;
  if (gdk_pixbuf_get_width(pixbuf.get()) != size || gdk_pixbuf_get_height(pixbuf.get()) != size)
    pixbuf = Pixbuf::adopt(gdk_pixbuf_scale_simple(pixbuf.get(), size, size, GDK_INTERP_BILINEAR));
  // Every icon is a transparent canvas with the image drawn over it.
  if (pixbuf && !gdk_pixbuf_get_has_alpha(pixbuf.get()))
    pixbuf = Pixbuf::adopt(gdk_pixbuf_add_alpha(pixbuf.get(), FALSE, 0, 0, 0));
  if (!pixbuf) return std::nullopt;

  gchar* buffer = nullptr;
  gsize length = 0;
  if (!gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &length, "png", nullptr, nullptr)) return std::nullopt;
  std::string png(buffer, length);
  g_free(buffer);
  return png;
}

}  // namespace corvane::gio
