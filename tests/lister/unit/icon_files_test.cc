// The icon cache and PNG readers on bytes anyone may have written: what a
// well-formed file answers, and that every cut or lie in one is answered
// with nothing rather than a read outside the bytes (the sanitizer lane
// turns such a read into a failure).
#include "lister/gio/icon_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

using corvane::gio::cachedImages;
using corvane::gio::cacheDirectories;
using corvane::gio::isIntactPng;
using corvane::gio::pngHeader;

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
}

TEST(IconCache, EveryCutOfTheFileAnswersWithoutReadingPastIt) {
  const std::string cache = cacheOf({"32x32/apps"}, {{"a", {0}}, {"b", {0}}});
  for (size_t n = 0; n < cache.size(); ++n) {
    // A copy of exactly n bytes, so a read beyond it is outside the buffer.
    const std::string cut = cache.substr(0, n);
    for (const auto& d : cacheDirectories(cut)) EXPECT_LE(d.size(), n);
    EXPECT_LE(cachedImages(cut, "b").size(), 1u);
  }
}

TEST(IconCache, LoopsAndCountsBeyondTheFileEndInNothing) {
  std::string looped = cacheOf({"32x32/apps"}, {{"a", {0}}});
  const uint32_t icon = at32(looped, 16);
  put32(looped, icon, icon);  // the chain points back at itself
  EXPECT_TRUE(cachedImages(looped, "missing").empty());

  std::string images = cacheOf({"32x32/apps"}, {{"a", {0}}});
  put32(images, at32(images, icon + 8), 0x7FFFFFFF);
  EXPECT_TRUE(cachedImages(images, "a").empty());

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

}  // namespace
