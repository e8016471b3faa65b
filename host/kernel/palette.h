// Kernel palette objects: a colour table held apart from any bitmap, made from an
// image's lookup tables and then set into the bitmaps that show it. A drawing context
// selects one for painting. Objects are tracked as ObjectKind::kPalette while alive,
// so a test can see that every palette made for a drawing was freed.
#pragma once

#include <cstdint>

#include "bitmap.h"

namespace kernel {

struct Palette {
  std::uint32_t count = 0;                         // entries in use, at most 256
  std::uint32_t entries[kMaxPaletteEntries] = {};  // bytes blue, green, red, 0
};

// A palette of the first min(count, 256) quadruples of `colours` (which must hold
// them); null when colours are missing for a non-zero count or memory is refused.
// A count of 0 gives an empty palette.
Palette* create_palette(const std::uint32_t* colours, std::uint32_t count);

// Replaces the bitmap's palette by a copy of the object's entries, whatever the
// bitmap's depth: a deep image with a lookup table keeps its colours this way.
std::int32_t set_palette(Bitmap* bitmap, const Palette* palette);

void free_palette(Palette* palette);

}  // namespace kernel
