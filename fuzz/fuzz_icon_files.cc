// The theme cache and PNG readers take files any user can drop into their
// own data folder. Whatever the bytes: no read outside them (the sanitizers),
// a cache judged whole answers only folders it lists, a redrawn icon is
// always a whole PNG of the canvas size, and a drawing rendered without
// gdk-pixbuf is always the whole canvas with transparent pixels as zeros;
// the writer's own deflate streams inflate back to exactly their bytes; a
// key file read as plain reads exactly as GLib's key files read it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <glib.h>
#include <zlib.h>

#include "lister/gio/files.h"
#include "lister/gio/image/literal_deflate.h"
#include "lister/gio/image/png_icon.h"
#include "lister/gio/image/svg_icon.h"
#include "lister/gio/lookup/theme_files.h"

namespace {

using namespace corvane::gio;

// Names to look up: the NUL-terminated runs of the bytes themselves, so that
// names the cache really holds are among them.
std::vector<std::string_view> probeNames(std::string_view bytes) {
  std::vector<std::string_view> names;
  for (size_t start = 0; start < bytes.size() && names.size() < 16;) {
    const size_t end = bytes.find('\0', start);
    if (end == std::string_view::npos) break;
    if (end > start) names.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

void checkCache(std::string_view cache) {
  const size_t folders = cacheDirectories(cache).size();
  const bool whole = iconCacheIsWhole(cache);
  if (whole && folders == 0) abort();
  for (std::string_view name : probeNames(cache))
    for (const CachedImage& image : cachedImages(cache, name))
      if (whole && image.directory >= folders) abort();
}

void checkPng(std::string_view bytes) {
  const auto redrawn = redrawnPng(bytes, 32, 4096);
  if (!redrawn) return;
  const auto header = pngHeader(*redrawn);
  if (!header || header->width != 32 || header->height != 32 || !isIntactPng(*redrawn)) abort();
}

void checkSvg(std::string_view bytes) {
  const auto drawn = drawnSvg(bytes, 32);
  if (!drawn) return;
  if (drawn->size() != 32 * 32 * 4) abort();
  for (size_t i = 0; i < drawn->size(); i += 4)
    if ((*drawn)[i + 3] == 0 && ((*drawn)[i] || (*drawn)[i + 1] || (*drawn)[i + 2])) abort();
}

void checkDeflate(std::string_view bytes) {
  const std::string packed = literalZlib(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  std::string back(bytes.size() + 1, '\0');
  uLongf size = back.size();
  if (uncompress(reinterpret_cast<Bytef*>(back.data()), &size, reinterpret_cast<const Bytef*>(packed.data()), packed.size()) != Z_OK ||
      std::string_view(back.data(), size) != bytes)
    abort();
}

void checkKeyFile(std::string_view text) {
  const std::optional<PlainKeyFile> plain = PlainKeyFile::parse(text);
  if (!plain) return;
  GKeyFile* f = g_key_file_new();
  if (!g_key_file_load_from_data(f, text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) abort();
  gchar** groups = g_key_file_get_groups(f, nullptr);
  for (gchar** g = groups; *g; ++g) {
    if (!plain->hasGroup(*g)) abort();
    gchar** keys = g_key_file_get_keys(f, *g, nullptr, nullptr);
    for (gchar** k = keys; k && *k; ++k) {
      gchar* value = g_key_file_get_value(f, *g, *k, nullptr);
      if (!value || plain->value(*g, *k) != std::optional<std::string_view>(value)) abort();
      g_free(value);
      GError* error = nullptr;
      const int number = g_key_file_get_integer(f, *g, *k, &error);
      if (plain->integer(*g, *k) != (error ? std::nullopt : std::optional<int>(number))) abort();
      if (error) g_error_free(error);
    }
    g_strfreev(keys);
  }
  g_strfreev(groups);
  g_key_file_free(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);  // exactly sized: overreads are caught
  checkCache(bytes);
  checkPng(bytes);
  checkSvg(bytes);
  checkDeflate(bytes);
  checkKeyFile(bytes);
  return 0;
}
