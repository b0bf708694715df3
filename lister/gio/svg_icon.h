// Application icons that are drawings, rendered here for the small set of
// features icon drawings use, so that a run does not load a general SVG
// stack for them.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace corvane::gio {

// The drawing in bytes rendered onto a size x size canvas: size * size * 4
// bytes of 8-bit straight (not premultiplied) RGBA, row-major, a fully
// transparent pixel written as 0,0,0,0. The document is mapped as
// gdk-pixbuf's SVG loader maps it when asked for size x size: its viewBox
// (or, without one, its width and height at 90 pixels an inch) placed onto
// the whole canvas by its preserveAspectRatio.
//
// Anything that could change the pixels and that is not drawn here exactly
// (filters, masks, text, images, style sheets, dashes, an unknown element,
// attribute or value, a reference that does not resolve, a document past
// the bounds on elements, nesting, path length or work) gives none: such a
// file is for the general loader.
std::optional<std::vector<unsigned char>> drawnSvg(std::string_view bytes, int size);

}  // namespace corvane::gio
