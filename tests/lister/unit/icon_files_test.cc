// The icon cache and PNG readers on bytes anyone may have written: what a
// well-formed file answers, and that every cut or lie in one is answered
// with nothing rather than a read outside the bytes (the sanitizer lane
// turns such a read into a failure). PNGs redrawn without an image library
// are held to what gdk-pixbuf, the decoder they replace, makes of the same
// files, and so are drawings rendered without it.
#include "lister/gio/files.h"
#include "lister/gio/lookup/theme_files.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lister/gio/image/literal_deflate.h"
#include "lister/gio/image/png_icon.h"
#include "lister/gio/image/svg_icon.h"
#include "tests/lister/unit/drawing_compare.h"

namespace {

using namespace corvane::test;
using corvane::gio::cachedImages;
using corvane::gio::drawnSvg;
using corvane::gio::iconCacheIsWhole;
using corvane::gio::cacheDirectories;
using corvane::gio::isIntactPng;
using corvane::gio::pngHeader;
using corvane::gio::PlainKeyFile;
using corvane::gio::redrawnPng;

void put32(std::string& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
void put16(std::string& b, size_t at, uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<char>(v >> 8);
  b[at + 1] = static_cast<char>(v);
}
uint32_t at32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

// A cache as GTK lays it out, one bucket, the given icons chained in order,
// each in the folders given by index with the flag 4 (PNG).
std::string cacheOf(const std::vector<std::string>& dirs, const std::vector<std::pair<std::string, std::vector<uint16_t>>>& icons) {
  std::string b;
  put16(b, 0, 1);
  put16(b, 2, 0);
  put32(b, 4, 12);  // hash
  put32(b, 12, 1);  // one bucket
  const size_t bucket = 16;
  put32(b, bucket, 0xFFFFFFFF);
  size_t previous = bucket;
  for (const auto& [name, in] : icons) {
    const size_t icon = b.size();
    put32(b, previous, static_cast<uint32_t>(icon));
    b.resize(icon + 12);
    put32(b, icon, 0xFFFFFFFF);
    const size_t nameAt = icon + 12;
    b.append(name).push_back('\0');
    const size_t list = b.size();
    put32(b, icon + 4, static_cast<uint32_t>(nameAt));
    put32(b, icon + 8, static_cast<uint32_t>(list));
    put32(b, list, static_cast<uint32_t>(in.size()));
    for (size_t i = 0; i < in.size(); ++i) {
      put16(b, list + 4 + 8 * i, in[i]);
      put16(b, list + 6 + 8 * i, 4);
      put32(b, list + 8 + 8 * i, 0);
    }
    previous = icon;
  }
  const size_t dirList = b.size();
  put32(b, 8, static_cast<uint32_t>(dirList));
  put32(b, dirList, static_cast<uint32_t>(dirs.size()));
  for (size_t i = 0; i < dirs.size(); ++i) put32(b, dirList + 4 + 4 * i, 0);
  for (size_t i = 0; i < dirs.size(); ++i) {
    put32(b, dirList + 4 + 4 * i, static_cast<uint32_t>(b.size()));
    b.append(dirs[i]).push_back('\0');
  }
  return b;
}

TEST(IconCache, NamesTheFoldersOfAnIconAndNothingOfAnother) {
  const std::string cache = cacheOf({"16x16/apps", "32x32/apps"}, {{"editor", {1, 0}}, {"terminal", {1}}});
  EXPECT_EQ(cacheDirectories(cache), (std::vector<std::string_view>{"16x16/apps", "32x32/apps"}));
  const auto editor = cachedImages(cache, "editor");
  ASSERT_EQ(editor.size(), 2u);
  EXPECT_EQ(editor[0].directory, 1);
  EXPECT_EQ(editor[1].directory, 0);
  EXPECT_EQ(editor[0].flags, corvane::gio::kCachedPng);
  EXPECT_EQ(cachedImages(cache, "terminal").size(), 1u);
  EXPECT_TRUE(cachedImages(cache, "edit").empty());
  EXPECT_TRUE(cachedImages(cache, "").empty());
  EXPECT_TRUE(iconCacheIsWhole(cache));
}

TEST(IconCache, EveryCutOfTheFileAnswersWithoutReadingPastIt) {
  const std::string cache = cacheOf({"32x32/apps"}, {{"a", {0}}, {"b", {0}}});
  for (size_t n = 0; n < cache.size(); ++n) {
    // A copy of exactly n bytes, so a read beyond it is outside the buffer.
    const std::string cut = cache.substr(0, n);
    for (const auto& d : cacheDirectories(cut)) EXPECT_LE(d.size(), n);
    EXPECT_LE(cachedImages(cut, "b").size(), 1u);
    EXPECT_FALSE(iconCacheIsWhole(cut)) << n;
  }
}

TEST(IconCache, LoopsAndCountsBeyondTheFileEndInNothing) {
  std::string looped = cacheOf({"32x32/apps"}, {{"a", {0}}});
  const uint32_t icon = at32(looped, 16);
  put32(looped, icon, icon);  // the chain points back at itself
  EXPECT_TRUE(cachedImages(looped, "missing").empty());
  EXPECT_FALSE(iconCacheIsWhole(looped)) << "a loop in any chain condemns the whole cache";

  std::string stray = cacheOf({"32x32/apps"}, {{"a", {0}}, {"b", {1}}});
  EXPECT_FALSE(iconCacheIsWhole(stray)) << "an image in a folder the cache does not list";
  EXPECT_EQ(cachedImages(stray, "a").size(), 1u) << "though the other icon still reads";

  std::string name = cacheOf({"32x32/apps"}, {{"a", {0}}});
  put32(name, icon + 4, static_cast<uint32_t>(name.size()));
  EXPECT_FALSE(iconCacheIsWhole(name));

  std::string buckets = cacheOf({"32x32/apps"}, {{"a", {0}}});
  put32(buckets, at32(buckets, 4), 0x10000000);
  EXPECT_FALSE(iconCacheIsWhole(buckets));

  std::string images = cacheOf({"32x32/apps"}, {{"a", {0}}});
  put32(images, at32(images, icon + 8), 0x7FFFFFFF);
  EXPECT_TRUE(cachedImages(images, "a").empty());
  EXPECT_FALSE(iconCacheIsWhole(images));

  std::string dirs = cacheOf({"32x32/apps"}, {});
  put32(dirs, at32(dirs, 8), 0x40000000);
  EXPECT_TRUE(cacheDirectories(dirs).empty());

  std::string unterminated = cacheOf({"32x32/apps"}, {});
  unterminated.pop_back();  // the last folder name loses its NUL
  EXPECT_TRUE(cacheDirectories(unterminated).empty());

  std::string version = cacheOf({"32x32/apps"}, {{"a", {0}}});
  put16(version, 0, 2);
  EXPECT_TRUE(cacheDirectories(version).empty());
  EXPECT_TRUE(cachedImages(version, "a").empty());
}

std::string chunk(const std::string& type, const std::string& data) {
  std::string c;
  put32(c, 0, static_cast<uint32_t>(data.size()));
  c += type + data;
  const std::string body = type + data;
  put32(c, c.size(), static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  return c;
}

std::string png(uint32_t w, uint32_t h) {
  std::string ihdr;
  put32(ihdr, 0, w);
  put32(ihdr, 4, h);
  ihdr += std::string("\x08\x06\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", "not really deflate") + chunk("IEND", "");
}

// The PNG writer's deflate streams, read back by zlib: nothing, one byte
// value, every value, and counts doubling from byte to byte, whose plain
// Huffman code needs codes of 20 bits where deflate allows 15.
TEST(LiteralDeflate, EveryStreamInflatesToExactlyItsBytes) {
  std::vector<std::string> inputs = {"", "a", std::string(5000, '\0'), std::string(70000, '\xff')};
  std::string every;
  for (int i = 0; i < 256 * 3; ++i) every.push_back(static_cast<char>(i * 7));
  inputs.push_back(every);
  std::string skewed;
  for (int symbol = 0; symbol < 20; ++symbol) skewed.append(size_t{1} << symbol, static_cast<char>(symbol));
  inputs.push_back(skewed);
  std::mt19937 random(3);
  std::string noise(300000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  inputs.push_back(noise);
  for (const std::string& in : inputs) {
    const std::string packed = corvane::gio::literalZlib(reinterpret_cast<const unsigned char*>(in.data()), in.size());
    std::string back(in.size() + 1, '\0');
    uLongf size = back.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(back.data()), &size, reinterpret_cast<const Bytef*>(packed.data()), packed.size()), Z_OK) << in.size();
    EXPECT_EQ(std::string_view(back.data(), size), in) << in.size();
  }
}

// ---- Theme indexes read without GKeyFile --------------------------------------

// What GKeyFile makes of a text: each group's keys and raw values, or none
// when it refuses the text.
std::optional<std::map<std::string, std::map<std::string, std::string>>> keyFileOf(const std::string& text) {
  GKeyFile* f = g_key_file_new();
  std::optional<std::map<std::string, std::map<std::string, std::string>>> groups;
  if (g_key_file_load_from_data(f, text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) {
    groups.emplace();
    gchar** names = g_key_file_get_groups(f, nullptr);
    for (gchar** g = names; *g; ++g) {
      auto& keys = (*groups)[*g];
      gchar** list = g_key_file_get_keys(f, *g, nullptr, nullptr);
      for (gchar** k = list; k && *k; ++k) {
        gchar* v = g_key_file_get_value(f, *g, *k, nullptr);
        keys[*k] = v;
        g_free(v);
      }
      g_strfreev(list);
    }
    g_strfreev(names);
  }
  g_key_file_free(f);
  return groups;
}

// A text the plain reader takes must read exactly as GKeyFile reads it:
// the same groups, every key's value, integers as g_key_file_get_integer
// gives them. One it leaves to GKeyFile is read there, so only the texts
// written here must be taken.
void expectReadAsGKeyFileReadsIt(const std::string& text, bool mustTake = true) {
  const std::optional<PlainKeyFile> plain = PlainKeyFile::parse(text);
  if (!mustTake && !plain) return;
  ASSERT_TRUE(plain);
  const auto expected = keyFileOf(text);
  ASSERT_TRUE(expected) << "GKeyFile refuses what the plain reader took";
  GKeyFile* f = g_key_file_new();
  g_key_file_load_from_data(f, text.data(), text.size(), G_KEY_FILE_NONE, nullptr);
  for (const auto& [group, keys] : *expected) {
    EXPECT_TRUE(plain->hasGroup(group)) << group;
    for (const auto& [key, value] : keys) {
      EXPECT_EQ(plain->value(group, key), std::optional<std::string_view>(value)) << group << " / " << key;
      GError* error = nullptr;
      const int number = g_key_file_get_integer(f, group.c_str(), key.c_str(), &error);
      EXPECT_EQ(plain->integer(group, key), error ? std::nullopt : std::optional<int>(number)) << group << " / " << key << " = " << value;
      if (error) g_error_free(error);
    }
  }
  g_key_file_free(f);
  for (const char* absent : {"Nowhere", "Icon Theme ", ""}) EXPECT_EQ(plain->hasGroup(absent), expected->count(absent) > 0) << absent;
}

TEST(PlainKeyFile, ReadsTheInstalledThemesAndPlainTextsAsGKeyFileDoes) {
  size_t themes = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/share/icons", ec)) {
    const std::optional<std::string> text = corvane::gio::readRegularFile((entry.path() / "index.theme").string(), 1 << 20);
    if (!text) continue;
    SCOPED_TRACE(entry.path().string());
    expectReadAsGKeyFileReadsIt(*text, false);
    ++themes;
  }
  EXPECT_GE(themes, 2u) << "Adwaita and hicolor are installed";

  for (const std::string& text : {
           std::string("[Icon Theme]\nName=A\nDirectories=16x16/apps,scalable/apps\n\n[16x16/apps]\nSize=16\nType=Fixed\n"),
           std::string("# a comment\n\n  [Icon Theme]  \t\n\t Name \t=  \t spaced out \t\nInherits=b,,c ,\n"),
           std::string("[Icon Theme]\r\nSize=32\r\nType=Scalable\r\n"),
           std::string("[A]\nSize=1\n[B]\nSize=2\n[A]\nSize=3\nMinSize=4\n"),  // the group given twice is one
           std::string("[A]\nSize=1\nSize=2\n"),                                 // the last of a key given twice
           std::string("[A]\nSize=\nScale= +3\nMinSize=-7 \nMaxSize=12 junk\nThreshold=0x10\nOther=12junk\n"),
           std::string("[A]\nSize=99999999999\nScale=2147483647\nMinSize=-2147483648\nKey With Spaces=x=y\n"),
           std::string("[Icon Theme]\nName=no line end at the end"),
       }) {
    SCOPED_TRACE(text);
    expectReadAsGKeyFileReadsIt(text);
  }
}

// Where GKeyFile unescapes, validates, picks by locale or refuses, the
// plain reader takes no part.
TEST(PlainKeyFile, LeavesEveryTextWithMoreToItToGKeyFile) {
  for (const std::string& text : {
           std::string("[A]\nName=a\\sb\n"), std::string("[A]\nName=caf\xc3\xa9\n"), std::string("[A]\nName[de]=b\n"),
           std::string("[A]\nEncoding=UTF-8\n"), std::string("Name=before any group\n[A]\n"), std::string("[A]\nName=a\rb\n"),
           std::string("[A]\nName=a\x01\n"), std::string("[A]\nnot a key value pair\n"), std::string("[A]\n=no key\n"),
           std::string("[A] trailing\nName=b\n"), std::string("[A[B]]\nName=b\n"), std::string("[A[B]\nName=b\n"), std::string("[\tA]\nName=b\n"), std::string("[]\nName=b\n"),
           std::string("[A\nName=b\n"), std::string("[A]\nName\v=b\n"), std::string("[A]\n;Name\n"),
       })
    EXPECT_FALSE(PlainKeyFile::parse(text)) << text;
}

TEST(Png, TheHeaderComesFromIhdrAndAnIntactFrameEndsAtIend) {
  const std::string good = png(32, 48);
  const auto h = pngHeader(good);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->width, 32u);
  EXPECT_EQ(h->height, 48u);
  EXPECT_EQ(h->colorType, 6);
  EXPECT_TRUE(isIntactPng(good));

  EXPECT_FALSE(pngHeader(png(0, 32)));
  EXPECT_FALSE(isIntactPng(good + "trailing"));
  std::string flipped = good;
  flipped[good.size() - 20] ^= 1;  // a byte of the IDAT data: its CRC no longer holds
  EXPECT_FALSE(isIntactPng(flipped));
  for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(isIntactPng(good.substr(0, n))) << n;
  std::string noData = std::string("\x89PNG\r\n\x1a\n", 8) + good.substr(8, 25) + chunk("IEND", "");
  EXPECT_FALSE(isIntactPng(noData));
}

// ---- PNGs redrawn on the canvas ----------------------------------------------

constexpr uint32_t kSideCap = 4096;

std::string ihdrOf(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, uint8_t interlace = 0) {
  std::string d;
  put32(d, 0, w);
  put32(d, 4, h);
  d += std::string{static_cast<char>(depth), static_cast<char>(colorType), 0, 0, static_cast<char>(interlace)};
  return d;
}

// A PNG of any form from its unfiltered scanlines: row y filtered with type
// y % 5, the deflated data cut into `pieces` IDAT chunks, `before` written
// between IHDR and the data.
struct Form {
  uint32_t width, height;
  uint8_t depth, colorType;
  std::vector<std::string> rows;
  std::string before;  // chunks, whole
  size_t pieces = 1;
};

size_t bytesPerPixel(const Form& f) {
  const int channels = f.colorType == 2 ? 3 : f.colorType == 4 ? 2 : f.colorType == 6 ? 4 : 1;
  return std::max<size_t>(1, channels * f.depth / 8);
}

std::string filteredData(const Form& f) {
  std::string raw;
  const size_t bpp = bytesPerPixel(f);
  std::string previous(f.rows.empty() ? 0 : f.rows[0].size(), '\0');
  for (size_t y = 0; y < f.rows.size(); ++y) {
    const auto& row = f.rows[y];
    const int type = static_cast<int>(y % 5);
    raw.push_back(static_cast<char>(type));
    for (size_t i = 0; i < row.size(); ++i) {
      const int left = i >= bpp ? static_cast<unsigned char>(row[i - bpp]) : 0;
      const int up = static_cast<unsigned char>(previous[i]);
      const int corner = i >= bpp ? static_cast<unsigned char>(previous[i - bpp]) : 0;
      int guess = 0;
      if (type == 1) guess = left;
      if (type == 2) guess = up;
      if (type == 3) guess = (left + up) / 2;
      if (type == 4) {
        const int p = left + up - corner, pa = std::abs(p - left), pb = std::abs(p - up), pc = std::abs(p - corner);
        guess = pa <= pb && pa <= pc ? left : pb <= pc ? up : corner;
      }
      raw.push_back(static_cast<char>(static_cast<unsigned char>(row[i]) - guess));
    }
    previous = row;
  }
  return raw;
}

std::string deflated(const std::string& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), 6);
  out.resize(size);
  return out;
}

std::string pngOf(const Form& f) {
  const std::string data = deflated(filteredData(f));
  std::string b = std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdrOf(f.width, f.height, f.depth, f.colorType)) + f.before;
  const size_t piece = data.size() / f.pieces + 1;
  for (size_t at = 0; at < data.size(); at += piece) b += chunk("IDAT", data.substr(at, piece));
  return b + chunk("IEND", "");
}

// A scanline of samples packed at the form's depth, each from sample(x, c).
template <class F>
std::string packed(const Form& f, int channels, F sample) {
  std::string row((f.width * channels * f.depth + 7) / 8, '\0');
  for (uint32_t x = 0; x < f.width; ++x) {
    for (int c = 0; c < channels; ++c) {
      const size_t bit = (size_t{x} * channels + c) * f.depth;
      const unsigned v = sample(x, c) & ((1u << f.depth) - 1);
      row[bit / 8] = static_cast<char>(static_cast<unsigned char>(row[bit / 8]) | v << (8 - f.depth - bit % 8));
    }
  }
  return row;
}

// What gdk-pixbuf makes of a file, scaled as the lister's general path
// scales (bilinear) when a side is given, with an alpha channel.
std::optional<Rgba> pixbufOf(const std::string& bytes, int side = 0) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  const bool ok = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), nullptr);
  const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* pixbuf = ok && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pixbuf) g_object_ref(pixbuf);
  g_object_unref(loader);
  if (!pixbuf) return std::nullopt;
  if (side && (gdk_pixbuf_get_width(pixbuf) != side || gdk_pixbuf_get_height(pixbuf) != side)) {
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(pixbuf, side, side, GDK_INTERP_BILINEAR);
    g_object_unref(pixbuf);
    pixbuf = scaled;
  }
  GdkPixbuf* rgba = gdk_pixbuf_add_alpha(pixbuf, FALSE, 0, 0, 0);
  g_object_unref(pixbuf);
  Rgba image;
  image.width = gdk_pixbuf_get_width(rgba);
  image.height = gdk_pixbuf_get_height(rgba);
  const guchar* pixels = gdk_pixbuf_read_pixels(rgba);
  for (int y = 0; y < image.height; ++y)
    image.px.insert(image.px.end(), pixels + y * gdk_pixbuf_get_rowstride(rgba), pixels + y * gdk_pixbuf_get_rowstride(rgba) + image.width * 4);
  g_object_unref(rgba);
  return image;
}

// The redrawn icon, read back by gdk-pixbuf: a size x size RGBA PNG.
Rgba redrawn(const std::string& bytes, int size) {
  const std::optional<std::string> png = redrawnPng(bytes, size, kSideCap);
  EXPECT_TRUE(png);
  if (!png) return {};
  const auto h = pngHeader(*png);
  EXPECT_TRUE(h && h->width == uint32_t(size) && h->height == uint32_t(size) && h->colorType == 6 && h->bitDepth == 8);
  EXPECT_TRUE(isIntactPng(*png));
  return pixbufOf(*png).value_or(Rgba{});
}

// Every form the reader takes, 13 pixels a side (so low depths end a row
// mid-byte), all five filters, the data in several IDATs around an empty
// one, ancillary chunks on the way.
std::vector<std::pair<std::string, std::string>> everyForm() {
  std::vector<std::pair<std::string, std::string>> forms;
  const auto value = [](uint32_t x, uint32_t y, int c) { return (x * 37 + y * 91 + c * 53 + x * y * 7) % 256; };
  const std::string extras = chunk("gAMA", std::string("\0\0\xb1\x8f", 4)) + chunk("tEXt", std::string("Comment\0made here", 17));
  for (uint8_t depth : {1, 2, 4, 8}) {
    for (bool keyed : {false, true}) {
      Form f{13, 13, depth, 0, {}, extras};
      for (uint32_t y = 0; y < 13; ++y) f.rows.push_back(packed(f, 1, [&](uint32_t x, int) { return value(x, y, 0) >> (8 - depth); }));
      if (keyed) {
        std::string key;
        put16(key, 0, static_cast<uint16_t>(value(3, 0, 0) >> (8 - depth)));
        f.before += chunk("tRNS", key);
      }
      f.pieces = 3;
      forms.emplace_back("grey " + std::to_string(depth) + (keyed ? " keyed" : ""), pngOf(f));
    }
    Form p{13, 13, depth, 3, {}, {}};
    const unsigned entries = std::min(1u << depth, 200u);
    std::string palette, alpha;
    for (unsigned i = 0; i < entries; ++i) {
      palette += std::string{static_cast<char>(i * 41), static_cast<char>(255 - i * 13), static_cast<char>(i * 7 + 60)};
      if (i < entries / 2 + 1) alpha.push_back(static_cast<char>(i * 97));
    }
    p.before = chunk("PLTE", palette) + chunk("tRNS", alpha) + extras;
    for (uint32_t y = 0; y < 13; ++y) p.rows.push_back(packed(p, 1, [&](uint32_t x, int) { return value(x, y, 0) % entries; }));
    p.pieces = 2;
    forms.emplace_back("palette " + std::to_string(depth), pngOf(p));
  }
  for (uint8_t type : {2, 4, 6}) {
    for (bool keyed : {false, true}) {
      if (keyed && type != 2) continue;
      const int channels = type == 2 ? 3 : type == 4 ? 2 : 4;
      Form f{13, 13, 8, type, {}, extras};
      for (uint32_t y = 0; y < 13; ++y) f.rows.push_back(packed(f, channels, [&](uint32_t x, int c) { return value(x, y, c); }));
      if (keyed) {
        std::string key;
        for (int c = 0; c < 3; ++c) put16(key, 2 * c, static_cast<uint16_t>(value(5, 2, c)));
        f.before += chunk("tRNS", key);
      }
      // An empty IDAT among the others is still one run of data.
      std::string b = pngOf(f);
      const size_t firstIdat = b.find("IDAT") - 4;
      b.insert(firstIdat, chunk("IDAT", ""));
      forms.emplace_back("colour type " + std::to_string(type) + (keyed ? " keyed" : ""), b);
    }
  }
  return forms;
}

TEST(RedrawnPng, EveryFormAndFilterReadsAsGdkPixbufReadsIt) {
  for (const auto& [name, bytes] : everyForm()) {
    SCOPED_TRACE(name);
    const std::optional<Rgba> expected = pixbufOf(bytes);
    ASSERT_TRUE(expected) << "gdk-pixbuf reads the test's own file";
    // At the image's own size nothing is scaled: every pixel must be the
    // general decoder's, exactly.
    const Rgba mine = redrawn(bytes, 13);
    ASSERT_EQ(mine.px.size(), expected->px.size());
    const Difference d = difference(mine, *expected);
    EXPECT_EQ(d.largest, 0) << "mean " << d.mean;
  }
}

// An image is inflated whole into a buffer of its own, into the one large
// buffer the threads take in turn, or streamed through zlib a row at a time,
// by its size: each way draws it as gdk-pixbuf does.
TEST(RedrawnPng, SmallLargeAndStreamedImagesDrawAlike) {
  for (const auto& [width, height] : {std::pair{200u, 150u}, {300u, 300u}, {640u, 440u}}) {
    const uint32_t w = width, h = height;  // lambdas cannot capture bindings
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    Form f{w, h, 8, 6, {}, {}};
    for (uint32_t y = 0; y < h; ++y)
      f.rows.push_back(packed(f, 4, [&](uint32_t x, int c) -> unsigned { return c == 3 ? (x + y) * 255 / (w + h) : (x * 3 + y * (c + 1)) % 256; }));
    f.pieces = 4;
    const std::string bytes = pngOf(f);
    const std::optional<Rgba> expected = pixbufOf(bytes, 32);
    ASSERT_TRUE(expected);
    EXPECT_LT(difference(redrawn(bytes, 32), *expected).mean, 2.0);
  }
}

TEST(RedrawnPng, ReducingAveragesAreasOfAlphaWeightedColour) {
  // Single-pixel stripes of opaque red and fully transparent green, and a
  // checkerboard of black and white: a 2:1 reduction must give half-covered
  // red (no green bleeding in) and even grey, where sampling one pixel of
  // each pair would give solid colours.
  Form f{64, 64, 8, 6, {}, {}};
  for (uint32_t y = 0; y < 64; ++y)
    f.rows.push_back(packed(f, 4, [&](uint32_t x, int c) -> unsigned {
      if (y < 32) return x % 2 ? (c == 1 ? 255 : 0) : (c == 0 || c == 3 ? 255 : 0);
      return c == 3 ? 255 : (x + y) % 2 ? 255 : 0;
    }));
  const Rgba out = redrawn(pngOf(f), 32);
  ASSERT_EQ(out.width, 32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const unsigned char* p = out.at(x, y);
      if (y < 16) {
        EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{255, 0, 0, 128})) << x << "," << y;
      } else {
        EXPECT_NEAR(p[0], 127.5, 0.5) << x << "," << y;
        EXPECT_EQ(p[3], 255);
      }
    }
  }
}

// The installed themes' own PNGs, every form among them and a spread of the
// rest, against what gdk-pixbuf's bilinear scaling made of them before. A
// PNG may be left to gdk-pixbuf only for what the reader does not take: a
// form outside its own (16 bits a sample, interlacing) or a frame that does
// not hold up.
TEST(RedrawnPng, TheInstalledThemesLookAsGdkPixbufDrewThem) {
  std::vector<std::string> files;
  for (const char* theme : {"/usr/share/icons/Adwaita", "/usr/share/icons/hicolor"}) {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(theme, ec); !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      if (it->path().extension() == ".png" && it->is_regular_file()) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  size_t compared = 0, declined = 0;
  double worstMean = 0, total = 0;
  std::string worst;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::optional<std::string> bytes = corvane::gio::readRegularFile(files[i], 8 << 20);
    ASSERT_TRUE(bytes);
    const auto h = pngHeader(*bytes);
    ASSERT_TRUE(h) << files[i];
    const bool plain = h->colorType == 6 && h->bitDepth == 8;
    if (plain && i % 8 != 0 && h->width < 256) continue;
    SCOPED_TRACE(files[i]);
    const std::optional<Rgba> expected = pixbufOf(*bytes, 32);
    ASSERT_TRUE(expected);
    if (!redrawnPng(*bytes, 32, kSideCap)) {
      const bool takenForm = h->interlace == 0 && (h->bitDepth == 8 || ((h->colorType == 0 || h->colorType == 3) && h->bitDepth < 8));
      EXPECT_TRUE(!takenForm || !isIntactPng(*bytes)) << "declined: depth " << int(h->bitDepth) << ", colour type " << int(h->colorType);
      ++declined;
      continue;
    }
    const Rgba mine = redrawn(*bytes, 32);
    ASSERT_EQ(mine.px.size(), expected->px.size());
    const Difference d = difference(mine, *expected);
    // gdk-pixbuf places each pixel to a sixteenth, which alone puts an
    // enlarged 22-pixel icon up to about 1.5 levels out on average. Half a
    // pixel of shift or colour not weighted by alpha put icons 6 to 30 out.
    EXPECT_LT(d.mean, 2.0);
    total += d.mean;
    if (d.mean > worstMean) worstMean = d.mean, worst = files[i];
    ++compared;
  }
  // Over them all, such faults cost 0.4 to 28 levels; placing pixels to the
  // sixteenth as gdk-pixbuf does would bring this to 0.08.
  if (compared) EXPECT_LT(total / static_cast<double>(compared), 0.2);
  std::printf("%zu icons: mean difference %.3f, the worst %.3f (%s); %zu left to gdk-pixbuf\n", compared, total / std::max<size_t>(compared, 1),
              worstMean, worst.c_str(), declined);
}

// One chunk of a PNG replaced, its CRC made right again.
std::string withChunk(const std::string& png, const std::string& type, const std::string& replacement) {
  const size_t at = png.find(type) - 4;
  return png.substr(0, at) + replacement + png.substr(at + 12 + at32(png, at));
}

TEST(RedrawnPng, WhatItDoesNotTakeIsLeftForAGeneralDecoder) {
  Form f{16, 16, 8, 6, {}, {}};
  for (uint32_t y = 0; y < 16; ++y) f.rows.push_back(packed(f, 4, [&](uint32_t x, int c) { return (x * 16 + y + c * 70) % 256; }));
  const std::string good = pngOf(f);
  ASSERT_TRUE(redrawnPng(good, 32, kSideCap));
  const std::string data = good.substr(good.find("IDAT") + 4, at32(good, good.find("IDAT") - 4));
  const std::string raw = filteredData(f);
  const auto build = [&](const std::string& ihdr, const std::string& middle) {
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + middle + chunk("IEND", "");
  };
  std::string badFilter = raw;
  badFilter[0] = 5;
  std::string extra = raw + std::string(65, '\0');
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"interlaced", build(ihdrOf(16, 16, 8, 6, 1), chunk("IDAT", data))},
      {"16 bits a sample", build(ihdrOf(8, 16, 16, 6), chunk("IDAT", data))},
      {"a depth the form does not have", build(ihdrOf(16, 16, 4, 6), chunk("IDAT", data))},
      {"wider than the cap", build(ihdrOf(kSideCap + 1, 1, 8, 6), chunk("IDAT", deflated(std::string((kSideCap + 1) * 4 + 1, '\0'))))},
      {"an unknown critical chunk", withChunk(good, "IDAT", chunk("ZZZZ", "x") + chunk("IDAT", data))},
      {"data in two runs", withChunk(good, "IDAT", chunk("IDAT", data.substr(0, 10)) + chunk("tEXt", std::string("a\0b", 3)) + chunk("IDAT", data.substr(10)))},
      {"no data", build(ihdrOf(16, 16, 8, 6), "")},
      {"data that ends early", build(ihdrOf(16, 16, 8, 6), chunk("IDAT", deflated(raw.substr(0, raw.size() - 1))))},
      {"more data than the image", build(ihdrOf(16, 16, 8, 6), chunk("IDAT", deflated(extra)))},
      {"bytes after the stream", build(ihdrOf(16, 16, 8, 6), chunk("IDAT", data + "zz"))},
      {"a filter type beyond 4", build(ihdrOf(16, 16, 8, 6), chunk("IDAT", deflated(badFilter)))},
      {"transparency for an image with alpha", withChunk(good, "IDAT", chunk("tRNS", std::string(2, '\0')) + chunk("IDAT", data))},
      {"a palette image without a palette", build(ihdrOf(16, 16, 8, 3), chunk("IDAT", deflated(std::string(16 * 17, '\0'))))},
      {"a palette index beyond the palette", build(ihdrOf(16, 16, 8, 3), chunk("PLTE", std::string(6, '\x7f')) + chunk("IDAT", deflated(std::string(16 * 17, '\x02'))))},
      {"a grey key beyond the depth", build(ihdrOf(16, 16, 2, 0), chunk("tRNS", std::string("\0\x04", 2)) + chunk("IDAT", deflated(std::string(16 * 5, '\0'))))},
      {"bytes after IEND", good + "x"},
  };
  for (const auto& [name, bytes] : refused) EXPECT_FALSE(redrawnPng(bytes, 32, kSideCap)) << name;
  EXPECT_FALSE(redrawnPng(good, 32, 15)) << "a side above the cap given";
  EXPECT_FALSE(redrawnPng(good, 0, kSideCap)) << "no canvas";

  // Any byte changed anywhere breaks a CRC or the frame; every cut loses
  // IEND. Neither may read outside the bytes.
  for (size_t i = 8; i < good.size(); ++i) {
    std::string changed = good;
    changed[i] = static_cast<char>(changed[i] ^ 0x10);
    EXPECT_FALSE(redrawnPng(changed, 32, kSideCap)) << i;
    EXPECT_FALSE(redrawnPng(good.substr(0, i), 32, kSideCap)) << i;
  }
}

TEST(RedrawnPng, DataThatLiesBehindRightCrcsIsReadWithinItsBounds) {
  // Changed bytes of the image data and header with the CRCs made right:
  // whatever the stream then says, the answer is nothing or a whole icon.
  Form f{20, 9, 8, 6, {}, {}};
  for (uint32_t y = 0; y < 9; ++y) f.rows.push_back(packed(f, 4, [&](uint32_t x, int c) { return (x * 13 + y * 5 + c) % 256; }));
  const std::string good = pngOf(f);
  const std::string data = good.substr(good.find("IDAT") + 4, at32(good, good.find("IDAT") - 4));
  std::mt19937 random(7);
  for (int round = 0; round < 4000; ++round) {
    std::string d = data;
    std::string ihdr = ihdrOf(20, 9, 8, 6);
    for (int n = 1 + round % 3; n > 0; --n) {
      if (round % 5 == 0) {
        ihdr[random() % ihdr.size()] = static_cast<char>(random());
      } else {
        d[random() % d.size()] = static_cast<char>(random());
      }
    }
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", d) + chunk("IEND", "");
    if (const std::optional<std::string> out = redrawnPng(png, 32, kSideCap)) {
      const auto h = pngHeader(*out);
      ASSERT_TRUE(h && h->width == 32 && h->height == 32 && isIntactPng(*out)) << round;
    }
  }
}

// ---- Drawings rendered without gdk-pixbuf ---------------------------------------

// Every drawing of the themes the set-up installs beside the program's own,
// Adwaita and hicolor, is drawn close to what gdk-pixbuf draws, or left to
// it. The themes Debian ships beside them are held to the same bound over
// their application icons in debian_themes_test.cc.
TEST(DrawnSvg, TheInstalledDrawingsLookAsGdkPixbufDrawsThem) {
  std::vector<std::string> files;
  for (const char* theme : {"/usr/share/icons/Adwaita", "/usr/share/icons/hicolor"}) {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(theme, ec); !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      if (it->path().extension() == ".svg" && it->is_regular_file()) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  size_t drawn = 0;
  double total = 0, slowest = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const std::optional<std::string> bytes = corvane::gio::readRegularFile(file, 512 << 10);
    if (!bytes) continue;  // past the bound on drawings: never read
    const auto start = std::chrono::steady_clock::now();
    const std::optional<Rgba> mine = drawing(*bytes, 32);
    slowest = std::max(slowest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!mine) continue;
    const std::optional<Rgba> expected = generalDrawing(*bytes, 32);
    ASSERT_TRUE(expected) << "drawn here but not by gdk-pixbuf";
    const Difference d = difference(*mine, *expected);
    EXPECT_LT(d.mean, kMeanTolerance);
    EXPECT_LT(d.largest, kPixelTolerance);
    total += d.mean;
    ++drawn;
  }
  if (drawn) EXPECT_LT(total / static_cast<double>(drawn), 0.25);
  std::printf("%zu of %zu drawings drawn: mean difference %.3f, the slowest %.2f ms\n", drawn, files.size(), total / std::max<size_t>(drawn, 1), slowest);
}

constexpr const char* kHead = R"svg(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" )svg";

// What the installed icons do not use: gradients of both kinds inherited and
// spread, every path command, nested transforms of every kind, opacity and
// clips on groups, the canvas mapping in its other forms.
TEST(DrawnSvg, FeaturesTheInstalledDrawingsLackLookAsGdkPixbufDrawsThem) {
  const std::string head = kHead;
  const std::vector<std::pair<std::string, std::string>> documents = {
      {"linear gradients", head + R"svg(width="48" height="48"><defs><linearGradient id="a" x1="0" y1="0" x2="1" y2="1"><stop offset="0" stop-color="#f80"/><stop offset="60%" stop-color="rgb(10%,50%,90%)" stop-opacity=".5"/><stop offset="1" stop-color="navy"/></linearGradient><linearGradient id="b" xlink:href="#a" gradientUnits="userSpaceOnUse" x1="10" y1="0" x2="20" y2="0" spreadMethod="reflect"/></defs><rect x="2" y="2" width="44" height="20" rx="6" fill="url(#a)"/><rect x="2" y="26" width="44" height="20" fill="url(#b)" stroke="url(#a)" stroke-width="3"/></svg>)svg"},
      {"radial gradients", head + R"svg(viewBox="0 0 24 24"><radialGradient id="r" cx="12" cy="12" r="10" fx="8" fy="9" gradientUnits="userSpaceOnUse" gradientTransform="rotate(20 12 12) scale(1 0.8)"><stop offset="0" stop-color="white"/><stop offset="1" stop-color="#2060a0"/></radialGradient><radialGradient id="s" r="0.3" spreadMethod="repeat"><stop offset="0.1" stop-color="red"/><stop offset="0.7" stop-color="yellow" stop-opacity="0.2"/></radialGradient><circle cx="12" cy="12" r="11" fill="url(#r)"/><ellipse cx="12" cy="18" rx="8" ry="4" fill="url(#s)" opacity="0.8"/></svg>)svg"},
      {"a gradient on a turned shape's box", head + R"svg(width="16" height="16"><linearGradient id="g" y2="1" gradientTransform="skewX(20)"><stop offset="0" stop-color="#ff0"/><stop offset="0.5" stop-color="#f00" stop-opacity="0.3"/><stop offset="1" stop-color="#00f"/></linearGradient><ellipse cx="8" cy="8" rx="7" ry="5" fill="url(#g)" transform="rotate(-20 8 8)"/></svg>)svg"},
      {"arcs and curves", head + R"svg(width="32" height="32" viewBox="0 0 16 16"><path d="M2 8a6 3 30 1 1 12 0A6 6 0 0 1 2 8zM3 3q3-2 5 0t5 0M3 13c1-2 3-2 4 0s3 2 4 0" fill="#3a7" fill-rule="evenodd" stroke="#123" stroke-width=".8" stroke-linecap="round" stroke-linejoin="round"/><path d="m9 1 l2 0 a1 2 45 0 0 2 2 h-2 v3 z" fill="none" stroke="red" stroke-width=".5" stroke-linejoin="bevel"/></svg>)svg"},
      {"nested transforms", head + R"svg(viewBox="0 0 100 100"><g transform="translate(50 50) rotate(30)" fill="#c33"><g transform="scale(1.5 .7) skewX(20)"><rect x="-20" y="-20" width="40" height="40"/><g transform="matrix(0.8 0.2 -0.2 0.8 5 5) skewY(-10)" fill="#33c" opacity=".6"><circle r="15" stroke="#000" stroke-width="6"/><use xlink:href="#t" x="3"/></g></g></g><defs><polygon id="t" points="0,-10 8,6 -8,6" fill="yellow" stroke="green" stroke-width="2" stroke-miterlimit="2"/></defs><polyline points="5 95 20 70 35 95 50 70" fill="none" stroke="purple" stroke-width="5" stroke-linecap="square"/><line x1="60" y1="95" x2="95" y2="60" stroke="teal" stroke-width="4" stroke-linecap="round"/></svg>)svg"},
      {"a clipped group", head + R"svg(width="16" height="16"><clipPath id="c" transform="rotate(10 8 8)"><circle cx="8" cy="8" r="6"/><rect x="0" y="0" width="4" height="4"/></clipPath><g clip-path="url(#c)" style="opacity:.9;fill:currentColor;color:#963"><rect width="16" height="16"/><path d="M0 8h16" stroke="white" stroke-width="2"/></g></svg>)svg"},
      {"a shape clipped along its own edge", head + R"svg(width="16" height="16"><clipPath id="c"><path d="M1 0H17V16H1Z"/></clipPath><rect width="14" height="14" x="1" y="1" transform="rotate(5)" clip-path="url(#c)" fill="#48c" stroke="#000"/></svg>)svg"},
      {"a clip through a use, as editors export one", head + R"svg(width="16" height="16"><defs><rect id="r" x="1" y="2" width="9" height="11" transform="rotate(8)" clip-rule="evenodd"/></defs><clipPath id="c"><use xlink:href="#r" x="2" transform="scale(1.1 1)"/></clipPath><path clip-path="url(#c)" fill="#e33" d="M0 0H16L0 16z"/><circle clip-path="url(#c)" cx="11" cy="11" r="5" fill="#36c"/></svg>)svg"},
      {"inheritance through uses", head + R"svg(width="16" height="16"><defs><g id="s" transform="rotate(15 4 4)" color="#0c0"><rect width="6" height="6" fill="currentColor" stroke="#00f" stroke-linejoin="round"/></g></defs><use xlink:href="#s" x="1" y="1" opacity=".5"/><use xlink:href="#s" x="8" y="8" style="stroke-width:2;color:red"/><g visibility="hidden"><circle cx="12" cy="3" r="2"/><circle cx="3" cy="12" r="2" visibility="visible" fill="#f0f"/></g></svg>)svg"},
      {"declarations over attributes", head + R"svg(width="16" height="16"><clipPath id="c"><rect width="3" height="3"/></clipPath><rect width="8" height="8" display="none" fill="red" style="display:inline;fill:#0a0"/><rect x="8" y="8" width="8" height="8" clip-path="url(#c)" style="clip-path:none"/></svg>)svg"},
      {"a sliced view box", head + R"svg(width="24" height="12" preserveAspectRatio="xMaxYMin slice" viewBox="0 0 12 12"><rect x="1" y="1" width="10" height="10" fill="#0a0"/><rect x="6" y="0" width="6" height="3" fill="#00a"/></svg>)svg"},
      {"a stretched one", head + R"svg(viewBox="0 0 16 8" preserveAspectRatio="none"><circle cx="8" cy="4" r="3" fill="#0a0"/></svg>)svg"},
      {"absolute units, no view box", head + R"svg(width="20pt" height="10mm"><rect x="1" y="1" width="18" height="30" fill="#a0a"/></svg>)svg"},
      {"round joins that turn back by exactly 180 degrees", head + R"svg(viewBox="0 0 32 32"><path d="M 8 8 L 24 24 Z" fill="none" stroke="#000" stroke-width="6" stroke-linejoin="round" stroke-linecap="round"/><path d="M 4 28 H 28 H 4" fill="none" stroke="#06c" stroke-width="4" stroke-linejoin="round"/></svg>)svg"},
      {"user-space gradients with coordinates left out or in percent of the view box", head + R"svg(viewBox="0 0 48 24"><linearGradient id="a" gradientUnits="userSpaceOnUse" y2="24"><stop offset="0" stop-color="#f00"/><stop offset="1" stop-color="#00f"/></linearGradient><linearGradient id="b" gradientUnits="userSpaceOnUse" x1="10%" x2="90%"><stop offset="0" stop-color="#0f0"/><stop offset="1" stop-color="#000" stop-opacity=".2"/></linearGradient><radialGradient id="c" gradientUnits="userSpaceOnUse" fx="40%"><stop offset="0" stop-color="#ff0"/><stop offset="1" stop-color="#08f"/></radialGradient><rect width="24" height="24" fill="url(#a)"/><rect x="24" width="24" height="12" fill="url(#b)"/><rect x="24" y="12" width="24" height="12" fill="url(#c)"/></svg>)svg"},
      {"the stroke under the fill by paint-order, inherited", head + R"svg(viewBox="0 0 16 16"><g paint-order="stroke"><circle cx="5" cy="5" r="3" fill="#fc0" stroke="#036" stroke-width="3"/><rect x="9" y="2" width="5" height="5" fill="#0c6" stroke="#600" stroke-width="2" style="paint-order: markers fill"/></g><path d="M2 13h12" stroke="#c00" stroke-width="3" paint-order="stroke fill markers"/></svg>)svg"},
      {"a style sheet of class and id rules, as the themes' colour schemes", head + R"svg(viewBox="0 0 16 16"><defs><style type="text/css" id="current-color-scheme"><![CDATA[
        /* the desktop's colours */ .ColorScheme-Text { color:#232629; } .ColorScheme-Highlight, .Other { color:#3daee9; fill-opacity: .8 }
        #hot { fill: #e00 } .ColorScheme-Text { stroke: none }]]></style></defs><path class="ColorScheme-Text" fill="currentcolor" stroke="#0f0" d="M1 1h6v6H1z"/><path class="Other ColorScheme-Highlight" style="fill:currentColor" d="M9 1h6v6H9z"/><rect id="hot" class="ColorScheme-Highlight" x="1" y="9" width="6" height="6"/><rect class="ColorScheme-Text" x="9" y="9" width="6" height="6" style="fill:#080"/></svg>)svg"},
      {"subpaths of one fill whose areas in a pixel add up past it", head + R"svg(viewBox="0 0 32 32"><path d="M2 2h26v.3H2zM2 2.02h26v.3H2zM2 2.04h26v.3H2zM2 2.06h26v.3H2zM4 9.2h24v.5H4zM4 9.3h24v.5H4zM4 9.4h24v.5H4z" fill="#123"/></svg>)svg"},
      {"miter limits under 1, which bevel every join", head + R"svg(viewBox="0 0 16 16"><path d="M2 14L8 2L14 14" fill="none" stroke="#000" stroke-width="2" stroke-miterlimit="0"/><g stroke-miterlimit="1.5"><path d="M2 8L8 12L14 8" fill="none" stroke="#c00" stroke-width="2" style="stroke-miterlimit:0"/></g></svg>)svg"},
      {"a thin stroke", head + R"svg(width="320" height="320"><path d="M10 55H300M10 100L300 200" stroke="#000" stroke-width="0.45"/><path d="M10 155H300" stroke="#000" stroke-width="0.55"/></svg>)svg"},
  };
  for (const auto& [name, svg] : documents) {
    SCOPED_TRACE(name);
    const std::optional<Rgba> mine = drawing(svg, 32);
    ASSERT_TRUE(mine) << "drawn here";
    const std::optional<Rgba> expected = generalDrawing(svg, 32);
    ASSERT_TRUE(expected);
    const Difference d = difference(*mine, *expected);
    EXPECT_LT(d.mean, kMeanTolerance);
    EXPECT_LT(d.largest, kPixelTolerance);
  }
}

TEST(DrawnSvg, WhatItCannotDrawExactlyIsLeftToTheGeneralLoader) {
  const std::string head = std::string(kHead) + R"svg(width="16" height="16">)svg";
  const std::string rect = R"svg(<rect width="8" height="8"/>)svg";
  ASSERT_TRUE(drawnSvg(head + rect + "</svg>", 32)) << "the plain document drawn";
  std::string deep = head;
  for (int i = 0; i < 100; ++i) deep += "<g>";
  deep += rect;
  for (int i = 0; i < 100; ++i) deep += "</g>";
  std::string many = head;
  for (int i = 0; i < 30000; ++i) many += "<g/>";
  // Each level draws the one below ten times: 10^8 rectangles.
  std::string fan = head + R"svg(<defs><rect id="l0" width="1" height="1"/>)svg";
  for (int i = 1; i <= 8; ++i) {
    fan += "<g id=\"l" + std::to_string(i) + "\">";
    for (int k = 0; k < 10; ++k) fan += "<use xlink:href=\"#l" + std::to_string(i - 1) + "\"/>";
    fan += "</g>";
  }
  fan += R"svg(</defs><use xlink:href="#l8"/>)svg";
  std::string curves = head + R"svg(<path d="M0 0)svg";
  for (int i = 0; i < 20000; ++i) curves += "C-3e5 9e5 9e5 -3e5 0 0";
  curves += R"svg("/>)svg";
  const std::vector<std::pair<std::string, std::string>> declined = {
      {"a filter", head + R"svg(<filter id="f"><feGaussianBlur stdDeviation="2"/></filter><rect width="8" height="8" filter="url(#f)"/>)svg"},
      {"a mask", head + R"svg(<mask id="m"><rect width="4" height="4" fill="white"/></mask><rect width="8" height="8" mask="url(#m)"/>)svg"},
      {"text", head + R"svg(<text x="2" y="12">A</text>)svg"},
      {"a style sheet", head + R"svg(<style>rect { fill: red }</style>)svg" + rect},
      {"a style sheet's descendant selector", head + R"svg(<style>.a rect { fill: red }</style><g class="a">)svg" + rect + "</g>"},
      {"a style sheet's at-rule", head + R"svg(<style>@media print { .a { fill: red } }</style><rect class="a" width="8" height="8"/>)svg"},
      {"a style sheet for another medium", head + R"svg(<style media="print">.a { fill: red }</style><rect class="a" width="8" height="8"/>)svg"},
      {"an important rule", head + R"svg(<style>.a { fill: red !important }</style><rect class="a" width="8" height="8"/>)svg"},
      {"paint-order naming a part twice", head + R"svg(<rect width="8" height="8" stroke="red" paint-order="stroke stroke"/>)svg"},
      {"a pattern", head + R"svg(<pattern id="p" width="2" height="2"/><rect width="8" height="8" fill="url(#p)"/>)svg"},
      {"an image", head + R"svg(<image width="8" height="8" xlink:href="x.png"/>)svg"},
      {"a marker", head + R"svg(<path d="M0 0L8 8" stroke="red" marker-end="url(#m)"/>)svg"},
      {"dashes", head + R"svg(<path d="M0 0L8 8" stroke="red" stroke-dasharray="1 1"/>)svg"},
      {"an unknown element", head + R"svg(<blob/>)svg" + rect},
      {"an unknown attribute", head + R"svg(<rect width="8" height="8" transform-origin="4 4"/>)svg"},
      {"a nested viewport", head + R"svg(<svg width="8" height="8"/>)svg"},
      {"a use cycle", head + R"svg(<g id="a"><use xlink:href="#b"/></g><g id="b"><use xlink:href="#a"/></g>)svg"},
      {"a use of its own ancestor", head + R"svg(<g id="a"><rect width="1" height="1"/><use xlink:href="#a"/></g>)svg"},
      {"a reference to nothing", head + R"svg(<rect width="8" height="8" fill="url(#nowhere)"/>)svg"},
      {"a clip to nothing", head + R"svg(<rect width="8" height="8" clip-path="url(#nowhere)"/>)svg"},
      {"a gradient inheriting from itself", head + R"svg(<linearGradient id="g" xlink:href="#g"/><rect width="8" height="8" fill="url(#g)"/>)svg"},
      {"a gradient's hard step", head + R"svg(<linearGradient id="g" x1="0" x2="1" y2=".3"><stop offset=".2" stop-color="#fff"/><stop offset=".2" stop-color="#f00"/></linearGradient><rect width="8" height="8" fill="url(#g)"/>)svg"},
      {"a repeating gradient's step", head + R"svg(<linearGradient id="g" spreadMethod="repeat" x2=".3"><stop offset="0" stop-color="#fff"/><stop offset="1" stop-color="#f00"/></linearGradient><rect width="8" height="8" fill="url(#g)"/>)svg"},
      {"a second root", head + rect + "</svg><svg width=\"16\" height=\"16\">" + rect},
      {"a huge coordinate", head + R"svg(<rect width="8e30" height="8"/>)svg"},
      {"a huge path coordinate", head + R"svg(<path d="M0 0L1e300 5z"/>)svg"},
      {"NaN", head + R"svg(<rect width="NaN" height="8"/>)svg"},
      {"a number that is not one", head + R"svg(<path d="M0 0L1 1e"/>)svg"},
      {"a colour it does not know", head + R"svg(<rect width="8" height="8" fill="hsl(0, 50%, 50%)"/>)svg"},
      {"a relative unit", head + R"svg(<rect width="50%" height="8"/>)svg"},
      {"a broken path", head + R"svg(<path d="M0 0L8"/>)svg"},
      {"a singular transform", head + R"svg(<linearGradient id="g" gradientTransform="scale(0)"><stop offset="0"/></linearGradient><rect width="8" height="8" fill="url(#g)"/>)svg"},
      {"no size and no view box", std::string(kHead) + ">" + rect},
      {"a property name in capitals", head + R"svg(<rect width="8" height="8" style="STROKE: red"/>)svg"},
      {"an attribute twice", head + R"svg(<rect width="8" height="8" width="4"/>)svg"},
      {"an important declaration", head + R"svg(<rect width="8" height="8" style="fill: red !important"/>)svg"},
      {"a foreign default namespace", R"svg(<svg xmlns="http://example.com/other" width="16" height="16">)svg" + rect},
      {"too deep", deep},
      {"too many elements", many},
      {"a use that fans out", fan},
      {"curves past the point budget", curves},
      {"not XML", head + "<rect"},
  };
  for (const auto& [name, svg] : declined) {
    const std::string whole = svg.find("</svg>") == std::string::npos ? svg + "</svg>" : svg;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(drawnSvg(whole, 32)) << name;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0) << name;
  }
  // Other vocabularies, metadata and editors' attributes change no pixel.
  const std::string editor = std::string(kHead) +
                             R"svg(xmlns:ed="http://example.com/editor" xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" width="16" height="16" ed:version="1"><title>t</title><metadata><rdf:RDF><rdf:Description/></rdf:RDF></metadata><ed:grid><rect width="1" height="1"/></ed:grid><rect width="8" height="8" ed:label="x" class="c" style="font-family:Sans;marker:none;-ed-private:1;block-progression:tb;filter-blend-mode:normal;filter-gaussianBlur-deviation:0"/></svg>)svg";
  const auto withExtras = drawnSvg(editor, 32), plain = drawnSvg(head + rect + "</svg>", 32);
  ASSERT_TRUE(withExtras);
  EXPECT_EQ(*withExtras, *plain);
  EXPECT_FALSE(drawnSvg(head + rect + "</svg>", 0));
}

}  // namespace
