// The PNGs icon themes ship, redrawn onto the canvas without an image
// library: inflated by libdeflate (linked in) or, when large, by zlib (which
// GIO loads anyway) a row at a time, scaled by area, written back as RGBA
// PNGs packed by literalZlib. A run whose icons are all such PNGs never loads
// gdk-pixbuf, and with it libpng.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::gio {

struct PngHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t bitDepth = 0;
  uint8_t colorType = 0;
  uint8_t interlace = 0;
};

// The image header of a PNG: the signature, then an IHDR chunk of the right
// length with non-zero dimensions; none for anything else.
std::optional<PngHeader> pngHeader(std::string_view bytes);

// True when the bytes are a whole PNG that can be handed on as it is: the
// header, every chunk inside the bytes with its CRC right, IDAT present and
// IEND last, nothing after it.
bool isIntactPng(std::string_view bytes);

// The image scaled to fill size x size pixels (a non-square one is
// stretched) as an 8-bit RGBA PNG. Reducing averages each canvas pixel's
// area of the image, enlarging interpolates linearly, both over
// alpha-weighted colour; a canvas pixel left fully transparent is written as
// transparent black.
//
// Takes non-interlaced images of 8 bits a sample, and palette and grey ones
// of 1, 2 and 4 bits, with tRNS where their colour type allows it; none for
// anything else or anything that does not hold up: a side above maxSide, a
// CRC, length or chunk out of place, an unknown critical chunk, a palette
// index beyond the palette, pixel data that does not inflate to exactly the
// image, bytes after IEND. Such a file is for a general decoder to judge.
//
// Memory is bounded: an image whose filtered data is at most 256 KiB is
// inflated whole into a buffer of its own, one up to 512 x 512 RGBA into the
// one large buffer when no other thread has it, any other streams through
// the scaling a row at a time and is never held whole.
std::optional<std::string> redrawnPng(std::string_view bytes, int size, uint32_t maxSide);

// Hands back the buffer that images up to 512 x 512 are inflated into, kept
// from one such image to the next; the next such image maps it again.
void releaseImageBuffers() noexcept;

// A side x side image of 8-bit straight RGBA, row-major, as a PNG: each
// scanline with the filter whose bytes sum smallest, packed by literalZlib.
// None when the pixels are not that many.
std::optional<std::string> rgbaPng(const std::vector<unsigned char>& rgba, uint32_t side);

}  // namespace corvane::gio
