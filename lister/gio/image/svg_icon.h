// Application icons that are drawings, rendered here for the small set of
// features icon drawings use, so that a run does not load a general SVG
// stack for them.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace corvane::gio {

// The drawing in bytes rendered onto a size x size canvas (size 1 to 256):
// size * size * 4 bytes of 8-bit straight (not premultiplied) RGBA,
// row-major, a fully transparent pixel written as 0,0,0,0. The document is
// mapped as gdk-pixbuf's SVG loader maps it when asked for size x size: its
// viewBox (or, without one, its width and height at 90 pixels an inch)
// placed on the whole canvas by its preserveAspectRatio, nothing clipped to
// the viewport.
//
// Drawn: groups, defs, uses of groups and shapes, paths (every command),
// rects, circles, ellipses, lines, polylines and polygons; fills and strokes
// in colour (#rgb, #rrggbb, rgb() of numbers or percentages, common names,
// currentColor) or in linear and radial gradients (in user units too with
// coordinates left out or in percent of the view box); fill and clip rules,
// caps, joins, miter limits, paint order, opacities (a group's through a
// layer of its own), display and visibility, transforms, clip paths of
// shapes. Presentation attributes, style sheets of class and id rules (as
// the themes' colour schemes write them) and style declarations; other
// vocabularies' elements and attributes, metadata, titles and text-only
// properties change nothing.
//
// None, for the general loader to draw, for anything that could change the
// pixels and that is not drawn here as it would be: filters, masks,
// patterns, markers, text, images, any other style sheet, dashes, nested viewports,
// an unknown element, attribute, property or value, a relative unit, a
// reference that does not resolve or loops, a gradient's hard step, a
// document past the bounds on elements, nesting, points or work, or one
// that is not well-formed.
std::optional<std::vector<unsigned char>> drawnSvg(std::string_view bytes, int size);

}  // namespace corvane::gio
