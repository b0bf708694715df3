// Images compared as they look: corvane's drawings and redrawn PNGs held to
// what gdk-pixbuf (and librsvg through it) makes of the same files.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "lister/gio/image/svg_icon.h"

namespace corvane::test {

struct Rgba {
  int width = 0, height = 0;
  std::vector<unsigned char> px;  // straight alpha
  const unsigned char* at(int x, int y) const { return px.data() + (size_t(y) * width + x) * 4; }
};

// Mean and largest difference of two images of one size, over colour
// weighted by alpha (how the pixel looks over any background) and alpha:
// the colour of a transparent pixel shows nowhere.
struct Difference {
  double mean = 0, largest = 0;
};
inline Difference difference(const Rgba& a, const Rgba& b) {
  Difference d;
  for (size_t i = 0; i < a.px.size(); i += 4) {
    for (int c = 0; c < 4; ++c) {
      const double va = c == 3 ? a.px[i + 3] : a.px[i + c] * a.px[i + 3] / 255.0;
      const double vb = c == 3 ? b.px[i + 3] : b.px[i + c] * b.px[i + 3] / 255.0;
      d.mean += std::fabs(va - vb);
      d.largest = std::max(d.largest, std::fabs(va - vb));
    }
  }
  d.mean /= static_cast<double>(a.px.size());
  return d;
}

inline void prepareSide(GdkPixbufLoader* loader, gint, gint, gpointer side) {
  gdk_pixbuf_loader_set_size(loader, *static_cast<int*>(side), *static_cast<int*>(side));
}

// What the lister's general path makes of a drawing: gdk-pixbuf asked for
// side x side as the loader is prepared, with alpha.
inline std::optional<Rgba> generalDrawing(const std::string& bytes, int side) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  g_signal_connect(loader, "size-prepared", G_CALLBACK(prepareSide), &side);
  const bool ok = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), nullptr);
  const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* pixbuf = ok && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  std::optional<Rgba> image;
  if (pixbuf && gdk_pixbuf_get_width(pixbuf) == side && gdk_pixbuf_get_height(pixbuf) == side) {
    GdkPixbuf* rgba = gdk_pixbuf_add_alpha(pixbuf, FALSE, 0, 0, 0);
    image = Rgba{side, side, {}};
    const guchar* pixels = gdk_pixbuf_read_pixels(rgba);
    for (int y = 0; y < side; ++y)
      image->px.insert(image->px.end(), pixels + y * gdk_pixbuf_get_rowstride(rgba), pixels + y * gdk_pixbuf_get_rowstride(rgba) + side * 4);
    g_object_unref(rgba);
  }
  g_object_unref(loader);
  return image;
}

inline std::optional<Rgba> drawing(const std::string& bytes, int side) {
  const auto px = corvane::gio::drawnSvg(bytes, side);
  if (!px) return std::nullopt;
  EXPECT_EQ(px->size(), size_t(side) * side * 4);
  for (size_t i = 0; i + 3 < px->size(); i += 4)
    if ((*px)[i + 3] == 0) EXPECT_TRUE((*px)[i] == 0 && (*px)[i + 1] == 0 && (*px)[i + 2] == 0) << "a transparent pixel is written as 0,0,0,0";
  return Rgba{side, side, *px};
}

// How far a drawing may be from gdk-pixbuf's. The two rasterisers place
// anti-aliased edges a little differently (the installed icons differ by
// 0.12 levels on average, 0.5 at worst, and 26 at their worst pixel, an edge
// pixel of a thin curve). A fault is far beyond that: a shape half a pixel
// out, a stroke a little too wide, colour not weighted by alpha, a missed
// gradient stop or opacity all cost a mean of one level or more and put
// whole pixels 60 or more out.
inline constexpr double kMeanTolerance = 1.0, kPixelTolerance = 48;

}  // namespace corvane::test
