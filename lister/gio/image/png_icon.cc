#include "lister/gio/image/png_icon.h"

#include <libdeflate.h>
#include <sys/mman.h>
#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "lister/gio/image/literal_deflate.h"

namespace corvane::gio {
namespace {

using Bytes = std::vector<unsigned char>;

enum ColorType : uint8_t { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

uint32_t be32(std::string_view b, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

uint16_t be16(std::string_view b, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// libdeflate's CRC, several times zlib's pace: every chunk of every icon
// is checked.
uint32_t crcOf(std::string_view bytes) { return libdeflate_crc32(0, bytes.data(), bytes.size()); }

}  // namespace

std::optional<PngHeader> pngHeader(std::string_view b) {
  static constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
  if (b.size() < 33 || b.substr(0, 8) != std::string_view(kSignature, 8)) return std::nullopt;
  if (be32(b, 8) != 13 || b.substr(12, 4) != "IHDR") return std::nullopt;
  PngHeader h;
  h.width = be32(b, 16);
  h.height = be32(b, 20);
  h.bitDepth = static_cast<uint8_t>(b[24]);
  h.colorType = static_cast<uint8_t>(b[25]);
  h.interlace = static_cast<uint8_t>(b[28]);
  if (h.width == 0 || h.height == 0) return std::nullopt;
  return h;
}

bool isIntactPng(std::string_view b) {
  if (!pngHeader(b)) return false;
  bool sawData = false;
  for (uint64_t at = 8; at < b.size();) {
    if (at + 4 > b.size()) return false;
    const uint32_t length = be32(b, at);
    if (length > 0x7FFFFFFF || at + 12 + length > b.size()) return false;
    const std::string_view type = b.substr(at + 4, 4);
    if (crcOf(b.substr(at + 4, 4 + size_t{length})) != be32(b, at + 8 + length)) return false;
    at += 12 + length;
    if (type == "IDAT") sawData = true;
    if (type == "IEND") return sawData && at == b.size();
  }
  return false;
}

namespace {

int channelsOf(uint8_t colorType) {
  switch (colorType) {
    case kRgb: return 3;
    case kGreyAlpha: return 2;
    case kRgba: return 4;
    default: return 1;
  }
}

// Sixteen-bit samples and the depths no encoder writes are left to a general
// decoder.
bool takenForm(uint8_t colorType, uint8_t depth) {
  switch (colorType) {
    case kGrey:
    case kPalette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case kRgb:
    case kGreyAlpha:
    case kRgba: return depth == 8;
    default: return false;
  }
}

// What the chunks of a PNG say about its pixels.
struct Layout {
  PngHeader header;
  std::string_view palette;       // PLTE data of a palette image
  std::string_view transparency;  // tRNS data
  size_t firstData = 0;           // where the first IDAT chunk starts
};

// Every chunk inside the bytes with its CRC right; IHDR first, PLTE and tRNS
// once each and before the data, the IDATs in one run, IEND last and the end
// of the bytes; each value within what the image's form allows.
std::optional<Layout> layoutOf(std::string_view b, uint32_t maxSide) {
  const std::optional<PngHeader> header = pngHeader(b);
  if (!header) return std::nullopt;
  const PngHeader& h = *header;
  // Bytes 26 and 27 are the compression and filter methods: only 0 exists.
  if (h.width > maxSide || h.height > maxSide || h.interlace != 0 || b[26] != 0 || b[27] != 0 ||
      !takenForm(h.colorType, h.bitDepth))
    return std::nullopt;
  Layout layout{h, {}, {}, 0};
  enum { beforeData, inData, afterData } phase = beforeData;
  bool sawPalette = false, sawTransparency = false;
  for (size_t at = 8; b.size() - at >= 12;) {
    const uint32_t length = be32(b, at);
    if (length > b.size() - at - 12) return std::nullopt;
    const std::string_view type = b.substr(at + 4, 4);
    const std::string_view data = b.substr(at + 8, length);
    if (crcOf(b.substr(at + 4, 4 + length)) != be32(b, at + 8 + length)) return std::nullopt;
    const size_t start = at;
    at += 12 + size_t{length};
    if ((start == 8) != (type == "IHDR")) return std::nullopt;
    if (type == "IHDR") continue;
    if (type == "IDAT") {
      if (phase == afterData) return std::nullopt;
      if (phase == beforeData) layout.firstData = start;
      phase = inData;
      continue;
    }
    if (phase == inData) phase = afterData;
    if (type == "IEND") {
      if (length != 0 || at != b.size() || phase == beforeData) return std::nullopt;
      if (h.colorType == kPalette && !sawPalette) return std::nullopt;
      return layout;
    }
    if (type == "PLTE") {
      const uint32_t entries = length / 3;
      if (phase != beforeData || sawPalette || sawTransparency || length == 0 || length % 3 != 0 || entries > 256 ||
          h.colorType == kGrey || h.colorType == kGreyAlpha || (h.colorType == kPalette && entries > (1u << h.bitDepth)))
        return std::nullopt;
      sawPalette = true;
      // A truecolour image's suggested palette changes none of its pixels.
      if (h.colorType == kPalette) layout.palette = data;
      continue;
    }
    if (type == "tRNS") {
      if (phase != beforeData || sawTransparency) return std::nullopt;
      bool fits = false;
      switch (h.colorType) {
        case kPalette: fits = sawPalette && length >= 1 && length <= layout.palette.size() / 3; break;
        case kGrey: fits = length == 2 && be16(data, 0) < (1u << h.bitDepth); break;
        case kRgb: fits = length == 6 && be16(data, 0) < 256 && be16(data, 2) < 256 && be16(data, 4) < 256; break;
        default: break;  // an image with an alpha channel has no use for one
      }
      if (!fits) return std::nullopt;
      sawTransparency = true;
      layout.transparency = data;
      continue;
    }
    // An ancillary chunk (lower-case first letter) changes no pixel; an
    // unknown critical one may change what every pixel means.
    if (!(static_cast<unsigned char>(type[0]) & 0x20)) return std::nullopt;
  }
  return std::nullopt;  // no IEND
}

// libdeflate's whole-buffer decompressor: on the themes' images two to
// eight times zlib's pace. Each drawing thread keeps its own from icon to
// icon.
struct Decompressor {
  libdeflate_decompressor* d = nullptr;
  Decompressor() = default;
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  ~Decompressor() {
    if (d) libdeflate_free_decompressor(d);
  }
};
thread_local Decompressor decompressor;

// An image whose filtered data is at most this size is inflated whole, in
// one call, into a buffer of its own.
constexpr size_t kWholeImageBytes = 256 << 10;
// Up to this size (a 512 x 512 RGBA image, the largest that themes ship
// often) it is inflated whole too, into the one large buffer when no other
// drawing thread has it: libdeflate inflates these eight times faster than
// zlib, and one megabyte at a time keeps the run's memory in bounds. A
// larger image, or one that finds the buffer taken, streams through zlib a
// row at a time, so that what it holds is bounded by its width.
constexpr size_t kLargeImageBytes = (512 * 4 + 1) * 512;

// Pages of their own, mapped once for the run: from the allocator they
// would stay in the process after the last image anyway, and mapping them
// anew for each image costs a third of its drawing.
class MappedBytes {
 public:
  explicit MappedBytes(size_t size) : size_(size) {
    void* at = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    data_ = at == MAP_FAILED ? nullptr : static_cast<unsigned char*>(at);
  }
  MappedBytes(const MappedBytes&) = delete;
  MappedBytes& operator=(const MappedBytes&) = delete;
  ~MappedBytes() {
    if (data_) ::munmap(data_, size_);
  }
  unsigned char* data() const { return data_; }

 private:
  size_t size_;
  unsigned char* data_;
};

// The one buffer for images above kWholeImageBytes, which a drawing thread
// takes when it is free.
struct LargeImageBuffer {
  std::mutex turn;
  std::optional<MappedBytes> pages;
};
LargeImageBuffer& largeImageBuffer() {
  static LargeImageBuffer buffer;
  return buffer;
}

// The IDAT payloads as one run of bytes: the chunk's own when there is one,
// else a copy of them all. None when they add up to more than maxBytes.
std::optional<std::string_view> dataRun(std::string_view png, size_t firstData, size_t maxBytes, std::string& copy) {
  std::vector<std::string_view> payloads;
  size_t total = 0;
  for (size_t at = firstData; at + 8 <= png.size() && png.substr(at + 4, 4) == "IDAT";) {
    const uint32_t length = be32(png, at);
    total += length;
    if (total > maxBytes) return std::nullopt;
    payloads.push_back(png.substr(at + 8, length));
    at += 12 + size_t{length};
  }
  if (payloads.size() <= 1) return payloads.empty() ? std::string_view() : payloads.front();
  copy.reserve(total);
  for (std::string_view payload : payloads) copy.append(payload);
  return copy;
}

// The image data: the run of IDAT payloads inflated as one zlib stream,
// handed out a scanline at a time.
class Inflater {
 public:
  Inflater(std::string_view png, size_t firstData) : png_(png), next_(firstData) {
    open_ = inflateInit(&z_) == Z_OK;
    // Every chunk's CRC has been checked over these very bytes: the stream's
    // own checksum of the inflated data would only cost another pass.
    if (open_) inflateValidate(&z_, 0);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() {
    if (open_) inflateEnd(&z_);
  }

  // Exactly n bytes, or false when the stream is broken or ends first.
  bool read(unsigned char* out, size_t n) {
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(n);
    while (z_.avail_out > 0) {
      if (!open_ || ended_) return false;
      if (z_.avail_in == 0 && !nextPayload()) return false;
      if (!step()) return false;
    }
    return true;
  }

  // True when the stream ends right after what was read, and so do the
  // IDATs: data beyond the image is a file some other writer made.
  bool endsHere() {
    unsigned char extra;
    z_.next_out = &extra;
    z_.avail_out = 1;
    while (open_ && !ended_) {
      if (z_.avail_in == 0 && !nextPayload()) return false;
      if (!step() || z_.avail_out == 0) return false;
    }
    if (!open_ || z_.avail_in != 0) return false;
    while (nextPayload())
      if (z_.avail_in != 0) return false;
    return true;
  }

 private:
  bool step() {
    const int r = inflate(&z_, Z_NO_FLUSH);
    if (r == Z_STREAM_END) ended_ = true;
    // No progress without more input: the next payload brings it.
    return r == Z_OK || r == Z_STREAM_END || (r == Z_BUF_ERROR && z_.avail_in == 0);
  }

  // The next IDAT's payload as input; false once the run is over. The
  // layout has checked every chunk's frame already.
  bool nextPayload() {
    if (next_ + 8 > png_.size() || png_.substr(next_ + 4, 4) != "IDAT") return false;
    const uint32_t length = be32(png_, next_);
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(png_.data() + next_ + 8));
    z_.avail_in = length;
    next_ += 12 + size_t{length};
    return true;
  }

  std::string_view png_;
  size_t next_;
  z_stream z_{};
  bool open_ = false;
  bool ended_ = false;
};

// The filtered scanlines of an image, filter byte first, one after the
// other; each with the unfiltered one above it (zeros above the first).
class Scanlines {
 public:
  Scanlines(std::string_view png, size_t firstData, size_t rowBytes, uint32_t height)
      : rowBytes_(rowBytes), height_(height), zeros_(rowBytes, 0) {
    const size_t imageBytes = (rowBytes + 1) * height;
    std::string copy;
    // Data much larger than its image (a stream of empty blocks) is
    // streamed too.
    const std::optional<std::string_view> run =
        imageBytes <= kLargeImageBytes ? dataRun(png, firstData, 2 * kLargeImageBytes, copy) : std::nullopt;
    if (run && !decompressor.d) decompressor.d = libdeflate_alloc_decompressor();
    if (run && decompressor.d) {
      if (imageBytes <= kWholeImageBytes) {
        own_.resize(imageBytes);
        whole_ = own_.data();
      } else {
        // Not waited for: a thread that sleeps on the turn is woken late
        // (a scheduler tick on a busy or virtual machine), later than
        // streaming the image would take.
        LargeImageBuffer& large = largeImageBuffer();
        large_ = std::unique_lock(large.turn, std::try_to_lock);
        if (large_.owns_lock()) {
          if (!large.pages || !large.pages->data()) large.pages.emplace(kLargeImageBytes);
          whole_ = large.pages->data();
        }
      }
    }
    if (whole_) {
      size_t in = 0, out = 0;
      // Exactly the image, and the stream ends with the data: anything else
      // is a file some other writer made.
      ok_ = libdeflate_zlib_decompress_ex(decompressor.d, run->data(), run->size(), whole_, imageBytes, &in, &out) ==
                LIBDEFLATE_SUCCESS &&
            in == run->size() && out == imageBytes;
    } else {
      stream_.emplace(png, firstData);
      scanline_.resize(rowBytes + 1);
      above_.resize(rowBytes, 0);
      ok_ = true;
    }
  }

  // The next scanline and the one above it, or false when the data is broken
  // or ends first.
  bool next(unsigned char*& line, const unsigned char*& above) {
    if (!ok_ || y_ >= height_) return false;
    if (stream_) {
      if (y_ > 0) std::memcpy(above_.data(), scanline_.data() + 1, rowBytes_);
      if (!stream_->read(scanline_.data(), scanline_.size())) return false;
      line = scanline_.data();
      above = y_ > 0 ? above_.data() : zeros_.data();
    } else {
      line = whole_ + y_ * (rowBytes_ + 1);
      above = y_ > 0 ? line - rowBytes_ : zeros_.data();
    }
    ++y_;
    return true;
  }

  // True when every scanline was taken and nothing follows them.
  bool endsHere() { return ok_ && y_ == height_ && (!stream_ || stream_->endsHere()); }

 private:
  size_t rowBytes_;
  uint32_t height_;
  uint32_t y_ = 0;
  bool ok_ = false;
  Bytes zeros_, own_, scanline_, above_;
  std::unique_lock<std::mutex> large_;  // the large buffer's turn, while whole_ is in it
  unsigned char* whole_ = nullptr;      // own_ or the large buffer
  std::optional<Inflater> stream_;
};

// The predictor of filter type 4: of left, above and upper left, the one
// nearest to left + above - upper left, ties in that order.
inline int paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  const int ab = pa <= pb ? a : b;
  return std::min(pa, pb) <= pc ? ab : c;
}

#if defined(__SSE2__)
// Four-byte pixels (RGBA, the themes' form) unfiltered a pixel at a time in
// vector registers: the left pixel stays in a register instead of going
// through memory byte by byte, which is what bounds the plain loops.
__m128i loadPixel(const unsigned char* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
void storePixel(unsigned char* p, __m128i v) {
  const int32_t w = _mm_cvtsi128_si32(v);
  std::memcpy(p, &w, 4);
}

// In 16-bit lanes: of left, above and upper left, the one nearest to
// left + above - upper left, ties in that order.
inline __m128i paethLanes(__m128i left, __m128i up, __m128i upperLeft) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i toUp = _mm_sub_epi16(up, upperLeft), toLeft = _mm_sub_epi16(left, upperLeft);
  const __m128i toBoth = _mm_add_epi16(toUp, toLeft);
  const auto abs16 = [&](__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(zero, v)); };
  const __m128i pa = abs16(toUp), pb = abs16(toLeft), pc = abs16(toBoth);
  const __m128i least = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
  const __m128i isLeft = _mm_cmpeq_epi16(least, pa), isUp = _mm_cmpeq_epi16(least, pb);
  const __m128i upOrCorner = _mm_or_si128(_mm_and_si128(isUp, up), _mm_andnot_si128(isUp, upperLeft));
  return _mm_or_si128(_mm_and_si128(isLeft, left), _mm_andnot_si128(isLeft, upOrCorner));
}

// The filter's rounded-down mean of two bytes; the vector mean rounds up.
inline __m128i meanDown(__m128i a, __m128i b) {
  return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

bool unfilterPixels(int type, unsigned char* row, const unsigned char* above, size_t n) {
  const __m128i zero = _mm_setzero_si128();
  switch (type) {
    case 1: {
      __m128i left = zero;
      for (size_t i = 0; i < n; i += 4) storePixel(row + i, left = _mm_add_epi8(loadPixel(row + i), left));
      return true;
    }
    case 3: {
      __m128i left = zero;
      for (size_t i = 0; i < n; i += 4) storePixel(row + i, left = _mm_add_epi8(loadPixel(row + i), meanDown(left, loadPixel(above + i))));
      return true;
    }
    case 4: {
      const __m128i low = _mm_set1_epi16(0xFF);
      __m128i left = zero, upperLeft = zero;
      for (size_t i = 0; i < n; i += 4) {
        const __m128i up = _mm_unpacklo_epi8(loadPixel(above + i), zero);
        left = _mm_and_si128(_mm_add_epi16(_mm_unpacklo_epi8(loadPixel(row + i), zero), paethLanes(left, up, upperLeft)), low);
        storePixel(row + i, _mm_packus_epi16(left, left));
        upperLeft = up;
      }
      return true;
    }
    default: return false;
  }
}
#endif

// Undoes a scanline's filter in place, against the previous scanline
// (zeros above the first).
bool unfilter(int type, unsigned char* row, const unsigned char* above, size_t n, size_t bpp) {
#if defined(__SSE2__)
  if (bpp == 4 && (type == 1 || type == 3 || type == 4)) return unfilterPixels(type, row, above, n);
#endif
  switch (type) {
    case 0: return true;
    case 1:
      for (size_t i = bpp; i < n; ++i) row[i] = static_cast<unsigned char>(row[i] + row[i - bpp]);
      return true;
    case 2:
      for (size_t i = 0; i < n; ++i) row[i] = static_cast<unsigned char>(row[i] + above[i]);
      return true;
    case 3:
      for (size_t i = 0; i < bpp && i < n; ++i) row[i] = static_cast<unsigned char>(row[i] + above[i] / 2);
      for (size_t i = bpp; i < n; ++i) row[i] = static_cast<unsigned char>(row[i] + (row[i - bpp] + above[i]) / 2);
      return true;
    case 4:
      // The first pixel has neither left nor upper left: its predictor is above.
      for (size_t i = 0; i < bpp && i < n; ++i) row[i] = static_cast<unsigned char>(row[i] + above[i]);
      for (size_t i = bpp; i < n; ++i) row[i] = static_cast<unsigned char>(row[i] + paeth(row[i - bpp], above[i], above[i - bpp]));
      return true;
    default: return false;
  }
}

// One scanline of another form than RGBA as 8-bit straight RGBA, as a
// general decoder expands it: grey to three equal channels, low depths scaled
// to the full range, the tRNS colour transparent. False on a palette index
// beyond the palette.
bool toRgba(const Layout& l, const unsigned char* row, unsigned char* out) {
  const PngHeader& h = l.header;
  const auto* trns = reinterpret_cast<const unsigned char*>(l.transparency.data());
  const bool keyed = !l.transparency.empty() && h.colorType != kPalette;
  // The transparent colour; an impossible sample when there is none.
  unsigned key[3] = {~0u, ~0u, ~0u};
  for (size_t i = 0; keyed && i < l.transparency.size() / 2; ++i) key[i] = be16(l.transparency, 2 * i);
  const unsigned depth = h.bitDepth;
  const unsigned mask = (1u << depth) - 1;
  const auto sample = [&](uint32_t x) -> unsigned {
    if (depth == 8) return row[x];
    const size_t bit = size_t{x} * depth;
    return (row[bit / 8] >> (8 - depth - bit % 8)) & mask;
  };
  for (uint32_t x = 0; x < h.width; ++x, out += 4) {
    switch (h.colorType) {
      case kGrey: {
        const unsigned v = sample(x);
        out[0] = out[1] = out[2] = static_cast<unsigned char>(v * 255 / mask);
        out[3] = v == key[0] ? 0 : 255;
        break;
      }
      case kPalette: {
        const unsigned i = sample(x);
        if (i >= l.palette.size() / 3) return false;
        std::memcpy(out, l.palette.data() + 3 * i, 3);
        out[3] = i < l.transparency.size() ? trns[i] : 255;
        break;
      }
      case kGreyAlpha:
        out[0] = out[1] = out[2] = row[2 * x];
        out[3] = row[2 * x + 1];
        break;
      case kRgb: {
        const unsigned char* p = row + 3 * size_t{x};
        std::memcpy(out, p, 3);
        out[3] = p[0] == key[0] && p[1] == key[1] && p[2] == key[2] ? 0 : 255;
        break;
      }
      default: return false;
    }
  }
  return true;
}

// The weights by which the pixels of one axis of the image make up the
// canvas's: for each canvas pixel, the run of image pixels it draws on.
struct Taps {
  uint32_t first;
  uint32_t count;
  size_t at;  // into weights
};
struct Filter {
  std::vector<Taps> taps;
  std::vector<float> weights;
};

// Reducing, a canvas pixel covers 1/scale image pixels and takes each by the
// share of it that it covers. Enlarging, an average over an area under one
// image pixel would repeat pixels unevenly (24 to 32 doubles every third),
// so a canvas pixel interpolates between the two image pixels around its
// centre, the edges held.
Filter filterFor(uint32_t from, uint32_t to) {
  Filter f;
  f.taps.reserve(to);
  for (uint32_t i = 0; i < to; ++i) {
    const size_t at = f.weights.size();
    if (from > to) {
      // Exact wherever a bound falls on a pixel's edge.
      const double lo = static_cast<double>(uint64_t{i} * from) / to, hi = static_cast<double>(uint64_t{i + 1} * from) / to;
      const auto first = static_cast<uint32_t>(lo);
      const uint32_t end = std::min(from, static_cast<uint32_t>(std::ceil(hi)));
      for (uint32_t j = first; j < end; ++j)
        f.weights.push_back(static_cast<float>((std::min<double>(j + 1, hi) - std::max<double>(j, lo)) * to / from));
      f.taps.push_back({first, end - first, at});
    } else if (from < to) {
      const double centre = (i + 0.5) * from / to - 0.5;
      const double below = std::floor(centre);
      const auto fraction = static_cast<float>(centre - below);
      const auto clamp = [&](double k) { return static_cast<uint32_t>(std::clamp<double>(k, 0, from - 1)); };
      const uint32_t a = clamp(below), b = clamp(below + 1);
      if (a == b) {
        f.weights.push_back(1);
      } else {
        f.weights.push_back(1 - fraction);
        f.weights.push_back(fraction);
      }
      f.taps.push_back({a, b - a + 1, at});
    } else {
      f.weights.push_back(1);
      f.taps.push_back({i, 1, at});
    }
  }
  return f;
}

// A scanline of RGBA filtered with the given type.
template <int kType>
void filtered(const unsigned char* row, const unsigned char* above, unsigned char* out, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned a = i >= 4 ? row[i - 4] : 0, b = above[i];
    unsigned predicted = 0;
    if constexpr (kType == 1) predicted = a;
    if constexpr (kType == 2) predicted = b;
    if constexpr (kType == 3) predicted = (a + b) / 2;
    if constexpr (kType == 4) predicted = static_cast<unsigned>(paeth(static_cast<int>(a), static_cast<int>(b), i >= 4 ? above[i - 4] : 0));
    out[i] = static_cast<unsigned char>(row[i] - predicted);
  }
}

// A reduction by whole factors on both axes (512 or 64 to 32: most of what
// themes ship above the canvas size) makes each canvas pixel the plain
// average of one block of image pixels. Summed in integers, in vector
// registers, it costs a fraction of the general filter, which weighs every
// image pixel in floating point; the result is the same but for rounding.
class BlockAverages {
 public:
  BlockAverages(uint32_t width, uint32_t height, uint32_t side, Bytes& out)
      : kx_(width / side), ky_(height / side), side_(side), out_(out) {
    // Every sum of colour times alpha over a block within 32 bits.
    fit_ = width % side == 0 && height % side == 0 && kx_ * ky_ > 1 && uint64_t{kx_} * ky_ * 255 * 255 <= UINT32_MAX;
    if (fit_) sums_.assign(size_t{side} * 4, 0);
  }
  bool fit() const { return fit_; }

  // Image row y, 8-bit straight RGBA.
  void add(const unsigned char* rgba, uint32_t y) {
    uint32_t* s = sums_.data();
    for (uint32_t x = 0; x < side_; ++x, s += 4) {
      const unsigned char* p = rgba + size_t{x} * kx_ * 4;
      uint32_t k = 0;
#if defined(__SSE2__)
      // Two pixels at a time in 16-bit lanes: each channel times its pixel's
      // alpha (at most 255 x 255, which 16 bits hold), alpha times one.
      const __m128i zero = _mm_setzero_si128();
      const __m128i colourLanes = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1), alphaLanes = _mm_set_epi16(1, 0, 0, 0, 1, 0, 0, 0);
      __m128i sum = zero;
      for (; k + 2 <= kx_; k += 2, p += 8) {
        const __m128i pixels = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
        const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels, 0xFF), 0xFF);
        const __m128i weighted = _mm_mullo_epi16(pixels, _mm_or_si128(_mm_and_si128(alpha, colourLanes), alphaLanes));
        sum = _mm_add_epi32(sum, _mm_add_epi32(_mm_unpacklo_epi16(weighted, zero), _mm_unpackhi_epi16(weighted, zero)));
      }
      uint32_t lanes[4];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), sum);
      for (int c = 0; c < 4; ++c) s[c] += lanes[c];
#endif
      for (; k < kx_; ++k, p += 4) {
        const uint32_t alpha = p[3];
        s[0] += p[0] * alpha;
        s[1] += p[1] * alpha;
        s[2] += p[2] * alpha;
        s[3] += alpha;
      }
    }
    if ((y + 1) % ky_ != 0) return;
    // The block's last row: its canvas row, rounded as the general filter
    // rounds, a pixel left fully transparent as transparent black.
    const uint64_t n = uint64_t{kx_} * ky_;
    unsigned char* o = out_.data() + size_t{y / ky_} * side_ * 4;
    for (size_t i = 0; i < sums_.size(); i += 4, o += 4) {
      const uint64_t a = sums_[i + 3];
      const auto alpha = static_cast<unsigned char>((2 * a + n) / (2 * n));
      if (alpha != 0)
        for (int c = 0; c < 3; ++c) o[c] = static_cast<unsigned char>((2 * uint64_t{sums_[i + c]} + a) / (2 * a));
      o[3] = alpha;
    }
    std::fill(sums_.begin(), sums_.end(), 0u);
  }

 private:
  uint32_t kx_, ky_, side_;
  Bytes& out_;
  bool fit_ = false;
  std::vector<uint32_t> sums_;  // colour times alpha, and alpha, per canvas column
};

#if defined(__SSE2__)
// Sixteen bytes of RGBA filtered with the given type, from the bytes, their
// left, upper and upper-left neighbours.
template <int kType>
inline __m128i filteredBlock(__m128i x, __m128i a, __m128i b, __m128i c) {
  if constexpr (kType == 1) return _mm_sub_epi8(x, a);
  if constexpr (kType == 2) return _mm_sub_epi8(x, b);
  if constexpr (kType == 3) return _mm_sub_epi8(x, meanDown(a, b));
  if constexpr (kType == 4) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = paethLanes(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(c, zero));
    const __m128i high = paethLanes(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(c, zero));
    return _mm_sub_epi8(x, _mm_packus_epi16(low, high));
  }
  return x;
}

// The rows of a side x side RGBA image (side a multiple of 4) filtered as
// rgbaPng chooses, sixteen bytes at a time: each row behind four zero bytes
// under a row of zeros, so that every byte has its neighbours to read, and
// the sizes of all five filters weighed in one pass.
void vectorFiltered(const unsigned char* rgba, uint32_t side, unsigned char* raw) {
  const size_t stride = size_t{side} * 4, padded = stride + 16;
  Bytes rows(padded * (size_t{side} + 1), 0);
  for (uint32_t y = 0; y < side; ++y) std::memcpy(rows.data() + (y + 1) * padded + 16, rgba + y * stride, stride);
  const __m128i zero = _mm_setzero_si128();
  const auto load = [](const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  // Sum of the bytes as signed sizes: |v| is the lesser of v and -v unsigned.
  const auto size = [&](__m128i v) { return _mm_sad_epu8(_mm_min_epu8(v, _mm_sub_epi8(zero, v)), zero); };
  for (uint32_t y = 0; y < side; ++y) {
    const unsigned char* row = rows.data() + (y + 1) * padded + 16;
    const unsigned char* above = row - padded;
    __m128i sums[5] = {zero, zero, zero, zero, zero};
    for (size_t i = 0; i < stride; i += 16) {
      const __m128i x = load(row + i), a = load(row + i - 4), b = load(above + i), c = load(above + i - 4);
      sums[0] = _mm_add_epi64(sums[0], size(filteredBlock<0>(x, a, b, c)));
      sums[1] = _mm_add_epi64(sums[1], size(filteredBlock<1>(x, a, b, c)));
      sums[2] = _mm_add_epi64(sums[2], size(filteredBlock<2>(x, a, b, c)));
      sums[3] = _mm_add_epi64(sums[3], size(filteredBlock<3>(x, a, b, c)));
      sums[4] = _mm_add_epi64(sums[4], size(filteredBlock<4>(x, a, b, c)));
    }
    uint64_t totals[5];
    for (int t = 0; t < 5; ++t) totals[t] = static_cast<uint64_t>(_mm_cvtsi128_si64(sums[t])) + static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums[t], sums[t])));
    // The first of the smallest, as the plain loop chooses.
    const int type = static_cast<int>(std::min_element(totals, totals + 5) - totals);
    unsigned char* out = raw + y * (stride + 1);
    out[0] = static_cast<unsigned char>(type);
    for (size_t i = 0; i < stride; i += 16) {
      const __m128i x = load(row + i), a = load(row + i - 4), b = load(above + i), c = load(above + i - 4);
      __m128i f;
      switch (type) {
        case 0: f = filteredBlock<0>(x, a, b, c); break;
        case 1: f = filteredBlock<1>(x, a, b, c); break;
        case 2: f = filteredBlock<2>(x, a, b, c); break;
        case 3: f = filteredBlock<3>(x, a, b, c); break;
        default: f = filteredBlock<4>(x, a, b, c); break;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 1 + i), f);
    }
  }
}
#endif

}  // namespace

// Writes a side x side RGBA image as a PNG: each scanline with the filter
// whose bytes sum smallest as signed values (libpng's choice), then deflated.
std::optional<std::string> rgbaPng(const std::vector<unsigned char>& rgba, uint32_t side) {
  if (rgba.size() != size_t{side} * side * 4) return std::nullopt;
  const size_t stride = size_t{side} * 4;
  Bytes raw((stride + 1) * side);
#if defined(__SSE2__)
  if (stride % 16 == 0) {
    vectorFiltered(rgba.data(), side, raw.data());
  } else
#endif
  {
    Bytes trial(stride), zeros(stride, 0);
    for (uint32_t y = 0; y < side; ++y) {
      const unsigned char* row = rgba.data() + y * stride;
      const unsigned char* above = y ? row - stride : zeros.data();
      unsigned char* out = raw.data() + y * (stride + 1);
      uint32_t best = UINT32_MAX;
      for (int type = 0; type <= 4; ++type) {
        unsigned char* t = trial.data();
        switch (type) {
          case 0: filtered<0>(row, above, t, stride); break;
          case 1: filtered<1>(row, above, t, stride); break;
          case 2: filtered<2>(row, above, t, stride); break;
          case 3: filtered<3>(row, above, t, stride); break;
          default: filtered<4>(row, above, t, stride); break;
        }
        uint32_t sum = 0;
        for (size_t i = 0; i < stride; ++i) sum += static_cast<uint32_t>(std::abs(static_cast<signed char>(t[i])));
        if (sum < best) {
          best = sum;
          out[0] = static_cast<unsigned char>(type);
          std::memcpy(out + 1, t, stride);
        }
        if (sum == 0) break;  // nothing beats all zeros
      }
    }
  }

  const std::string packed = literalZlib(raw.data(), raw.size());

  // Sized exactly: the icon is kept to the end of the run, and growing it
  // by doubling would keep twice its bytes.
  std::string png;
  png.reserve(8 + (12 + 13) + (12 + packed.size()) + 12);
  png.assign("\x89PNG\r\n\x1a\n", 8);
  const auto put32 = [&](uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<char>(v >> shift));
  };
  const auto chunk = [&](std::string_view type, std::string_view data) {
    put32(static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.append(type).append(data);
    put32(crcOf(std::string_view(png).substr(start)));
  };
  std::string ihdr;
  for (int i = 0; i < 2; ++i)
    for (int shift = 24; shift >= 0; shift -= 8) ihdr.push_back(static_cast<char>(side >> shift));
  ihdr.append("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, adaptive filters, not interlaced
  chunk("IHDR", ihdr);
  chunk("IDAT", packed);
  chunk("IEND", {});
  return png;
}

void releaseImageBuffers() noexcept {
  LargeImageBuffer& large = largeImageBuffer();
  const std::lock_guard lock(large.turn);
  large.pages.reset();
}

std::optional<std::string> redrawnPng(std::string_view bytes, int size, uint32_t maxSide) {
  if (size <= 0) return std::nullopt;
  const std::optional<Layout> layout = layoutOf(bytes, maxSide);
  if (!layout) return std::nullopt;
  const PngHeader& h = layout->header;
  const auto side = static_cast<uint32_t>(size);
  const size_t bpp = std::max<size_t>(1, channelsOf(h.colorType) * size_t{h.bitDepth} / 8);
  const size_t rowBytes = (size_t{h.width} * channelsOf(h.colorType) * h.bitDepth + 7) / 8;

  Bytes converted(h.colorType == kRgba ? 0 : size_t{h.width} * 4);
  Scanlines data(bytes, layout->firstData, rowBytes, h.height);
  // Each image row, unfiltered, as 8-bit straight RGBA, to the canvas.
  const auto drawRows = [&](auto&& draw) {
    for (uint32_t y = 0; y < h.height; ++y) {
      unsigned char* scanline = nullptr;
      const unsigned char* above = nullptr;
      if (!data.next(scanline, above)) return false;
      unsigned char* row = scanline + 1;
      if (!unfilter(scanline[0], row, above, rowBytes, bpp)) return false;
      const unsigned char* rgba = row;
      if (h.colorType != kRgba) {
        if (!toRgba(*layout, row, converted.data())) return false;
        rgba = converted.data();
      }
      draw(rgba, y);
    }
    return data.endsHere();
  };

  Bytes out(size_t{side} * side * 4);
  if (BlockAverages blocks(h.width, h.height, side, out); blocks.fit()) {
    if (!drawRows([&](const unsigned char* rgba, uint32_t y) { blocks.add(rgba, y); })) return std::nullopt;
    return rgbaPng(out, side);
  }

  const Filter across = filterFor(h.width, side);
  const Filter down = filterFor(h.height, side);
  std::vector<float> weighted(size_t{h.width} * 4), line(size_t{side} * 4), canvas(size_t{side} * side * 4, 0.0f);
  uint32_t lowest = 0;  // the first canvas row that image rows still reach
  const auto draw = [&](const unsigned char* rgba, uint32_t y) {
    // Colour weighted by alpha, so that a transparent pixel's colour counts
    // for nothing.
    for (size_t i = 0; i < weighted.size(); i += 4) {
      const float a = rgba[i + 3];
      weighted[i] = rgba[i] * a;
      weighted[i + 1] = rgba[i + 1] * a;
      weighted[i + 2] = rgba[i + 2] * a;
      weighted[i + 3] = a;
    }

    // Across: this row's share of each canvas column.
    for (uint32_t x = 0; x < side; ++x) {
      const Taps& t = across.taps[x];
      float sum[4] = {0, 0, 0, 0};
      for (uint32_t k = 0; k < t.count; ++k) {
        const float* p = weighted.data() + 4 * size_t{t.first + k};
        const float w = across.weights[t.at + k];
        for (int c = 0; c < 4; ++c) sum[c] += w * p[c];
      }
      std::memcpy(line.data() + 4 * size_t{x}, sum, sizeof sum);
    }
    // Down: into every canvas row that draws on this image row.
    while (lowest < side && down.taps[lowest].first + down.taps[lowest].count <= y) ++lowest;
    for (uint32_t cy = lowest; cy < side && down.taps[cy].first <= y; ++cy) {
      const float w = down.weights[down.taps[cy].at + (y - down.taps[cy].first)];
      float* c = canvas.data() + size_t{cy} * side * 4;
      for (size_t i = 0; i < line.size(); ++i) c[i] += w * line[i];
    }
  };
  if (!drawRows(draw)) return std::nullopt;

  for (size_t p = 0; p < out.size(); p += 4) {
    const float a = canvas[p + 3];
    // Rounded; every sum is at least 0.
    const auto alpha = static_cast<unsigned>(std::min(a, 255.0f) + 0.5f);
    if (alpha == 0) continue;  // transparent black
    for (int c = 0; c < 3; ++c) out[p + c] = static_cast<unsigned char>(std::min(canvas[p + c] / a, 255.0f) + 0.5f);
    out[p + 3] = static_cast<unsigned char>(alpha);
  }
  return rgbaPng(out, side);
}

}  // namespace corvane::gio
