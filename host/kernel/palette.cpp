// Kernel palette objects: made, copied into bitmaps, freed.
#include "palette.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "memory.h"

namespace kernel {

Palette* create_palette(const std::uint32_t* colours, std::uint32_t count) {
  if (count && !colours) return nullptr;
  void* block = allocate(1, sizeof(Palette));
  if (!block) return nullptr;
  auto* palette = new (block) Palette;
  palette->count = std::min(count, kMaxPaletteEntries);
  if (palette->count)
    std::memcpy(palette->entries, colours, palette->count * sizeof(std::uint32_t));
  record_object(ObjectKind::kPalette, palette);
  return palette;
}

std::int32_t set_palette(Bitmap* bitmap, const Palette* palette) {
  if (!bitmap || !palette || palette->count > kMaxPaletteEntries) return RET_INVALID_PARAMETER;
  std::uint32_t* entries = nullptr;
  if (palette->count) {
    entries = static_cast<std::uint32_t*>(allocate(palette->count, sizeof(std::uint32_t)));
    if (!entries) return RET_NO_MEMORY;
    std::memcpy(entries, palette->entries, palette->count * sizeof(std::uint32_t));
  }
  kernel::free(bitmap->palette);
  bitmap->palette = entries;
  bitmap->palette_count = static_cast<std::int32_t>(palette->count);
  return RET_SUCCESS;
}

void free_palette(Palette* palette) {
  if (!palette) return;
  unrecord_object(ObjectKind::kPalette, palette);
  palette->~Palette();
  kernel::free(palette);
}

}  // namespace kernel
