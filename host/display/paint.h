// Display painting: draws a bitmap into a drawing context, stretched to a destination
// rectangle, and makes the logical palette that goes with a bitmap. The image drawing
// paints every decoded image segment onto the composition canvas with it; the effects
// library's transparent paint is the same painting with one colour left out.
//
// Colours. A source pixel's colour is found first: samples of palette layouts (see
// imgproc::is_indexed) through the palette (indices past it are black); grey samples
// keep their most significant 8 bits (1 bit: 0 or 255; 12 bits: >> 4; 16 bits: >> 8);
// 24- and 32-bit pixels are blue, green, red. The colour is then written in the
// canvas's layout: 24 bits as is, 32 bits with the unused byte 0, 8 bits with a grey
// colour order (or no palette) as its luminance (ITU-R BT.601 weights), 8 bits with a
// palette as the nearest entry of the canvas's own palette (the first of equals). The
// palette selected into the context does not change this mapping: the canvas's palette
// is what its indices mean.
#pragma once

#include <cstdint>

#include "kernel/bitmap.h"
#include "kernel/dc.h"
#include "kernel/palette.h"

namespace display {

constexpr std::uint32_t kSourceCopy = 0x00CC0020;

// A logical palette holding the bitmap's palette colours, recorded with the kernel's
// object tracking (kind 3) until kernel::free_palette; null for a missing context or
// bitmap, a bitmap without palette colours, or when memory is refused.
kernel::Palette* palette_for_bitmap(kernel::DrawingContext* context, const kernel::Bitmap* bitmap);

// Paints `source_rect` of `source` (null: the whole bitmap) stretched by nearest
// neighbour into `destination` (display coordinates of the context's bitmap), clipped
// to the context's clip rectangle and to the canvas: a destination partly or wholly off
// the canvas paints what is on it. Only kSourceCopy is offered. Canvases of 8, 24 and
// 32 bits take sources of every kernel layout and either view code.
// Returns RET_SUCCESS (also when nothing is visible or the destination is empty);
// RET_INVALID_PARAMETER without a context or destination, for a destination with
// right < left or bottom < top, or a source rectangle that is empty or not inside the
// source; RET_INVALID_BITMAP for a missing source or canvas, or one whose data do not
// hold its geometry; RET_NOT_SUPPORTED for another raster operation or a canvas of
// 1, 12 or 16 bits; RET_NO_MEMORY when a row buffer is refused.
std::int32_t paint(kernel::DrawingContext* context, const kernel::Bitmap* source,
                   const kernel::Rect* source_rect, const kernel::Rect* destination,
                   std::uint32_t raster_op);

// Whether paint, without stretching or transparency, writes the source's bytes onto this
// canvas unchanged: 24 or 32 bits onto the same depth, grey onto an 8-bit grey canvas,
// indices onto an 8-bit canvas of the same palette. Looks at the layouts only.
bool copies_natively(const kernel::Bitmap& source, kernel::Bitmap& canvas);

// Whether paint, without stretching or transparency, writes each pixel of a grey source
// deeper than 8 bits (12 or 16, not indexed) as a canvas pixel that depends only on its
// top 8 bits: then returns the canvas's bytes per pixel (1, 3 or 4), and `pixels`
// receives for each top-8-bit value the bytes painted (in its first bytes, in memory
// order: the level itself on a grey canvas, the nearest palette entry's index on a
// palette one, blue, green, red (and 0) on a colour one). 0 otherwise. Looks at the
// layouts and the canvas's palette only.
int paints_grey_levels(const kernel::Bitmap& source, kernel::Bitmap& canvas,
                       std::uint32_t pixels[256]);

// As paint, but source pixels whose colour (as found above) is `transparent_colour`
// (0x00BBGGRR; the top byte is ignored) are not drawn and leave the canvas as it was.
std::int32_t paint_keyed(kernel::DrawingContext* context, const kernel::Bitmap* source,
                         const kernel::Rect* source_rect, const kernel::Rect* destination,
                         std::uint32_t raster_op, std::uint32_t transparent_colour);

}  // namespace display
