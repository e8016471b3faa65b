// Colour histogram: how often each 8-bit level occurs in a bitmap. The image drawing
// uses it to notice pictures too dark to see (every value below 20) before brightening
// them with colour::intensity.
#pragma once

#include <cstdint>

#include "kernel/bitmap.h"

namespace colour {

constexpr std::uint32_t kHistogramBins = 256;

// Counts the bitmap's pixels (padding excluded) by one 8-bit value each:
//   1 bit: the index, 0 or 1;  8 bits: the stored value (palette index or grey level);
//   12 bits: the sample >> 4;  16 bits: the sample >> 8 (the most significant 8 bits,
//   the bits a painter shows, for grey and indexed bitmaps alike);
//   24 and 32 bits: max(blue, green, red), the HSV value, so that a bitmap counts as
//   dark exactly when none of its channels is bright (luminance would call a pure
//   blue of 255 dark). The unused byte of 32-bit pixels is ignored.
// `counts` (which must hold `bins` entries) is zeroed first. Returns RET_SUCCESS,
// RET_INVALID_PARAMETER without counts or for bins other than 256, RET_NOT_SUPPORTED
// for a channel other than 0 (all channels), RET_INVALID_BITMAP for a missing bitmap or
// one whose data do not hold its geometry, RET_NO_MEMORY when a row buffer is refused.
std::int32_t histogram(const kernel::Bitmap* bitmap, std::uint64_t* counts, std::uint32_t bins,
                       std::int32_t channel);

}  // namespace colour
