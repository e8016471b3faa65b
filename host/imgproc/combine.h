// Image-processing combine: copies a rectangle of one bitmap into another of the same
// pixel layout. The image readers place every decoded block into the output image with
// it, so it must be exact for packed layouts too: a 1-bit block may start at any bit of
// a byte and a 12-bit block at either half of a three-byte sample pair.
#pragma once

#include <cstdint>

#include "kernel/bitmap.h"

namespace imgproc {

// The one operation offered: the source rectangle replaces the destination's pixels.
constexpr std::int32_t kCombineCopy = 800;

// Copies the width x height rectangle at (source_x, source_y) of `source` to (x, y) of
// `destination`, both in display coordinates (row 0 at the top whatever the view code).
// The rectangle is clipped to both bitmaps, so negative positions and sizes running off
// either edge copy only the overlap; pixels, padding and palettes outside it stay.
// Returns RET_SUCCESS (also when nothing overlaps), RET_INVALID_BITMAP for a missing
// bitmap or one whose data do not hold its geometry, RET_INVALID_PARAMETER for a
// negative size, different bits per pixel or a bitmap combined with itself, and
// RET_NOT_SUPPORTED for another operation or non-zero flags (none are defined).
std::int32_t combine(kernel::Bitmap* destination, std::int32_t x, std::int32_t y,
                     std::int32_t width, std::int32_t height, const kernel::Bitmap* source,
                     std::int32_t source_x, std::int32_t source_y, std::int32_t operation,
                     std::uint32_t flags);

}  // namespace imgproc
