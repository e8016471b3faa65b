// Effects transparent paint: paints a bitmap like the display library does but leaves
// the canvas showing wherever the source has one colour. The image drawing uses it for
// images with a pad pixel code, whose pad pixels must not cover what lies below.
#pragma once

#include <cstdint>

#include "kernel/bitmap.h"
#include "kernel/dc.h"

namespace effects {

// Paints the whole of `source` stretched into `destination` of the context's bitmap
// exactly as display::paint does, except that source pixels whose colour equals
// `transparent_colour` (0x00BBGGRR) are skipped: for palette sources the colour of the
// palette entry the pixel indexes, for 24- and 32-bit sources blue, green and red, for
// grey sources the grey the painter shows (its most significant 8 bits). Only
// display::kSourceCopy is offered. The results are display::paint's.
std::int32_t transparent_paint(kernel::DrawingContext* context, const kernel::Bitmap* source,
                               const kernel::Rect* destination, std::uint32_t transparent_colour,
                               std::uint32_t raster_op);

}  // namespace effects
