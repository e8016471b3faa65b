// Colour intensity: brightens (or dims) a bitmap by stretching its levels. The image
// drawing calls it with kFullStretch on pictures whose every value lies below 20, which
// would otherwise show as black: such data are usually deep or radiometric samples that
// use only the bottom of the range.
//
// The rule. Let M be the largest level present: for grey layouts the largest sample,
// for 24- and 32-bit layouts the largest blue, green or red of any pixel, for palette
// layouts the largest blue, green or red of the palette entries the pixels use. Let F
// be the layout's full scale (1-bit grey 1, 8-bit 255, 12-bit 4095, 16-bit 65535,
// channels and palette entries 255) and T = round(F x min(value, 350) / 350). Every
// level v (sample, channel, or channel of every palette entry) becomes
// min(F, round(v x T / M)). So 350 stretches [0, M] onto the whole range (the largest
// level becomes F, 0 stays 0, hue is kept); smaller values give a proportionally
// dimmer stretch, larger ones the same as 350. When M is 0 nothing changes.
#pragma once

#include <cstdint>

#include "kernel/bitmap.h"

namespace colour {

constexpr std::int32_t kFullStretch = 350;

// Applies the rule above. Palette bitmaps (those whose samples index palette colours,
// see imgproc::is_indexed) change their palette and keep their pixels; all others
// change their samples. Returns RET_SUCCESS, RET_INVALID_BITMAP for a missing bitmap
// or one whose data do not hold its geometry, RET_INVALID_PARAMETER for a negative
// value, RET_NOT_SUPPORTED for non-zero flags (none are defined), RET_NO_MEMORY when a
// row buffer is refused.
std::int32_t intensity(kernel::Bitmap* bitmap, std::int32_t value, std::uint32_t flags);

}  // namespace colour
