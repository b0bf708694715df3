#include "lister/gio/image/icon_gio.h"

#include <dlfcn.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <mutex>

#include "lister/gio/files.h"
#include "lister/gio/gobject_ptr.h"
#include "lister/gio/image/png_icon.h"
#include "lister/gio/image/svg_icon.h"
#include "lister/gio/lookup/icon_theme.h"

namespace corvane::gio {
namespace {

using Pixbuf = GObjectPtr<GdkPixbuf>;

// Bounds on one icon. A PNG's pixels are known from its header before any
// decoding; a drawing's cost is not, and grows with its file, so drawings
// get the far smaller cap (real application icons are a few kilobytes).
constexpr size_t kMaxPngBytes = 8 << 20;
constexpr size_t kMaxOtherBytes = 512 << 10;
constexpr uint32_t kMaxSide = 4096;

// gdk-pixbuf and the loaders it brings (the SVG one pulls in a whole
// rendering stack) are loaded on the first icon that neither redrawnPng nor
// drawnSvg takes: a run whose icons are plain PNGs and simple drawings never
// pays for them.
struct PixbufApi {
  decltype(&gdk_pixbuf_loader_new) loaderNew;
  decltype(&gdk_pixbuf_loader_write) loaderWrite;
  decltype(&gdk_pixbuf_loader_close) loaderClose;
  decltype(&gdk_pixbuf_loader_get_pixbuf) loaderGetPixbuf;
  decltype(&gdk_pixbuf_loader_get_format) loaderGetFormat;
  decltype(&gdk_pixbuf_loader_set_size) loaderSetSize;
  decltype(&gdk_pixbuf_format_is_scalable) formatIsScalable;
  decltype(&gdk_pixbuf_get_width) width;
  decltype(&gdk_pixbuf_get_height) height;
  decltype(&gdk_pixbuf_get_has_alpha) hasAlpha;
  decltype(&gdk_pixbuf_scale_simple) scaleSimple;
  decltype(&gdk_pixbuf_add_alpha) addAlpha;
  decltype(&gdk_pixbuf_save_to_bufferv) saveToBuffer;
};

template <class F>
bool bind(void* library, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(library, name));
  return function != nullptr;
}

const PixbufApi* pixbufApi() {
  static std::once_flag once;
  static PixbufApi api;
  static bool loaded = false;
  std::call_once(once, [] {
    // Kept loaded for the rest of the process.
    void* lib = dlopen("libgdk_pixbuf-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    loaded = bind(lib, "gdk_pixbuf_loader_new", api.loaderNew) && bind(lib, "gdk_pixbuf_loader_write", api.loaderWrite) &&
             bind(lib, "gdk_pixbuf_loader_close", api.loaderClose) && bind(lib, "gdk_pixbuf_loader_get_pixbuf", api.loaderGetPixbuf) &&
             bind(lib, "gdk_pixbuf_loader_get_format", api.loaderGetFormat) && bind(lib, "gdk_pixbuf_loader_set_size", api.loaderSetSize) &&
             bind(lib, "gdk_pixbuf_format_is_scalable", api.formatIsScalable) && bind(lib, "gdk_pixbuf_get_width", api.width) &&
             bind(lib, "gdk_pixbuf_get_height", api.height) && bind(lib, "gdk_pixbuf_get_has_alpha", api.hasAlpha) &&
             bind(lib, "gdk_pixbuf_scale_simple", api.scaleSimple) && bind(lib, "gdk_pixbuf_add_alpha", api.addAlpha) &&
             bind(lib, "gdk_pixbuf_save_to_bufferv", api.saveToBuffer);
  });
  return loaded ? &api : nullptr;
}

struct Decoding {
  const PixbufApi* api;
  int size;
  bool refused = false;
};

// Called once the loader knows the image's size, before it allocates any
// pixels: a drawing is rendered at the canvas size, an image too large to be
// an icon is not decoded at all (a size of 0 stops the loader).
void sizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
  auto* d = static_cast<Decoding*>(data);
  GdkPixbufFormat* format = d->api->loaderGetFormat(loader);
  if (!(format && d->api->formatIsScalable(format)) &&
      (width <= 0 || height <= 0 || static_cast<uint32_t>(width) > kMaxSide || static_cast<uint32_t>(height) > kMaxSide)) {
    d->refused = true;
    d->api->loaderSetSize(loader, 0, 0);
    return;
  }
  d->api->loaderSetSize(loader, d->size, d->size);
}

std::optional<std::string> decodeAndEncode(std::string_view bytes, int size) {
  const PixbufApi* api = pixbufApi();
  if (!api) return std::nullopt;
  GdkPixbufLoader* loader = api->loaderNew();
  Decoding decoding{api, size};
  g_signal_connect(loader, "size-prepared", G_CALLBACK(sizePrepared), &decoding);
  const bool written = api->loaderWrite(loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), nullptr);
  // Closed whatever happened: the loader frees its work only then.
  const bool closed = api->loaderClose(loader, nullptr);
  Pixbuf pixbuf;
  if (written && closed && !decoding.refused) pixbuf = Pixbuf::retain(api->loaderGetPixbuf(loader));
  g_object_unref(loader);
  if (!pixbuf) return std::nullopt;

  if (api->width(pixbuf.get()) != size || api->height(pixbuf.get()) != size)
    pixbuf = Pixbuf::adopt(api->scaleSimple(pixbuf.get(), size, size, GDK_INTERP_BILINEAR));
  // Every icon is a transparent canvas with the image drawn over it.
  if (pixbuf && !api->hasAlpha(pixbuf.get())) pixbuf = Pixbuf::adopt(api->addAlpha(pixbuf.get(), FALSE, 0, 0, 0));
  if (!pixbuf) return std::nullopt;

  gchar* buffer = nullptr;
  gsize length = 0;
  // zlib's fastest level: a 32 x 32 icon packs almost as small, for a
  // fraction of the time of the default one.
  char key[] = "compression", level[] = "1";
  char* keys[] = {key, nullptr};
  char* values[] = {level, nullptr};
  if (!api->saveToBuffer(pixbuf.get(), &buffer, &length, "png", keys, values, nullptr)) return std::nullopt;
  std::string png(buffer, length);
  g_free(buffer);
  return png;
}

// An icon file's bytes as a size x size RGBA PNG. One that already is one
// goes through as it is; another PNG is redrawn here if it can be.
std::optional<std::string> encodeIcon(std::string bytes, int size) {
  if (const std::optional<PngHeader> png = pngHeader(bytes)) {
    if (png->width > kMaxSide || png->height > kMaxSide) return std::nullopt;
    if (png->width == static_cast<uint32_t>(size) && png->height == static_cast<uint32_t>(size) && png->bitDepth == 8 &&
        png->colorType == 6 && png->interlace == 0 && isIntactPng(bytes))
      return bytes;
    if (std::optional<std::string> redrawn = redrawnPng(bytes, size, kMaxSide)) return redrawn;
  } else if (bytes.size() > kMaxOtherBytes || (bytes.size() >= 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b')) {
    // A compressed drawing can unfold to any size: not an icon worth its risk.
    return std::nullopt;
  } else if (const std::optional<std::vector<unsigned char>> drawn = drawnSvg(bytes, size)) {
    // A drawing of the features icons use: no rendering stack is loaded.
    return rgbaPng(*drawn, static_cast<uint32_t>(size));
  }
  return decodeAndEncode(bytes, size);
}

std::optional<std::string> encodeFile(const std::string& path, int size) {
  std::optional<std::string> bytes = readRegularFile(path, kMaxPngBytes);
  if (!bytes) return std::nullopt;
  return encodeIcon(std::move(*bytes), size);
}

// What a loadable icon's stream yields, up to the cap.
std::optional<std::string> encodeLoadable(GIcon* icon, int size) {
  GObjectPtr<GInputStream> stream =
      GObjectPtr<GInputStream>::adopt(g_loadable_icon_load(G_LOADABLE_ICON(icon), size, nullptr, nullptr, nullptr));
  if (!stream) return std::nullopt;
  std::string bytes;
  char chunk[16384];
  for (;;) {
    const gssize n = g_input_stream_read(stream.get(), chunk, sizeof chunk, nullptr, nullptr);
    if (n < 0 || bytes.size() + static_cast<size_t>(n) > kMaxPngBytes) return std::nullopt;
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  return encodeIcon(std::move(bytes), size);
}

}  // namespace

std::optional<std::string> iconPng(GIcon* icon, int size) {
  if (G_IS_THEMED_ICON(icon)) {
    for (const gchar* const* name = g_themed_icon_get_names(G_THEMED_ICON(icon)); name && *name; ++name) {
      const std::string file = lookupThemedIcon(*name, size);
      if (file.empty()) continue;
      if (std::optional<std::string> png = encodeFile(file, size)) return png;
    }
    return std::nullopt;
  }
  if (G_IS_FILE_ICON(icon)) {
    // Local files only: another location would be a network fetch.
    gchar* path = g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon)));
    if (!path) return std::nullopt;
    std::optional<std::string> png = encodeFile(path, size);
    g_free(path);
    return png;
  }
  if (G_IS_LOADABLE_ICON(icon)) return encodeLoadable(icon, size);
  return std::nullopt;
}

}  // namespace corvane::gio
