// Colour intensity: find the largest level, then map every level through a table built
// once (levels above the largest present never occur in the pixels, so the tables stop
// there). Palette bitmaps are stretched in the palette alone.
#include "intensity.h"

#include <algorithm>
#include <array>
#include <bit>

#include "imgproc/pixels.h"
#include "kernel/memory.h"

namespace colour {
namespace {

using kernel::Bitmap;

std::uint32_t target_level(std::uint32_t full, std::int32_t value) {
  const auto v = static_cast<std::uint64_t>(std::min(value, kFullStretch));
  return static_cast<std::uint32_t>((full * v + kFullStretch / 2) / kFullStretch);
}

std::uint32_t stretched(std::uint32_t level, std::uint32_t largest, std::uint32_t target,
                        std::uint32_t full) {
  const std::uint64_t scaled = (std::uint64_t(level) * target + largest / 2) / largest;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(scaled, full));
}

// Calls visit(row data, row samples) for every row in turn; the samples are a buffer the
// visitor may rewrite.
template <class Visit>
std::int32_t each_sample_row(Bitmap& bitmap, Visit visit) {
  kernel::Buffer<std::uint16_t> samples;
  if (!samples.allocate(std::size_t(bitmap.width))) return RET_NO_MEMORY;
  for (std::int32_t row = 0; row < bitmap.height; ++row) {
    std::uint8_t* data = kernel::storage_row(bitmap, row);
    imgproc::read_samples(bitmap, data, 0, bitmap.width, samples.data());
    visit(data, samples.data());
  }
  return RET_SUCCESS;
}

std::array<std::uint8_t, 4> channels(std::uint32_t entry) {
  return std::bit_cast<std::array<std::uint8_t, 4>>(entry);
}

std::int32_t stretch_palette(Bitmap& bitmap, std::int32_t value) {
  const std::uint32_t size = imgproc::palette_size(bitmap);
  std::array<bool, kernel::kMaxPaletteEntries> used{};
  const std::int32_t scanned = each_sample_row(bitmap, [&](std::uint8_t*, const std::uint16_t* s) {
    for (std::int32_t x = 0; x < bitmap.width; ++x)
      if (s[x] < size) used[s[x]] = true;
  });
  if (scanned != RET_SUCCESS) return scanned;
  std::uint32_t largest = 0;
  for (std::uint32_t i = 0; i < size; ++i) {
    const auto c = channels(bitmap.palette[i]);
    if (used[i]) largest = std::max<std::uint32_t>({largest, c[0], c[1], c[2]});
  }
  if (largest == 0) return RET_SUCCESS;
  const std::uint32_t target = target_level(255, value);
  for (std::uint32_t i = 0; i < size; ++i) {
    auto c = channels(bitmap.palette[i]);
    for (int k = 0; k < 3; ++k)
      c[k] = static_cast<std::uint8_t>(stretched(c[k], largest, target, 255));
    bitmap.palette[i] = std::bit_cast<std::uint32_t>(c);
  }
  return RET_SUCCESS;
}

std::int32_t stretch_samples(Bitmap& bitmap, std::int32_t value) {
  std::uint32_t largest = 0;
  std::int32_t result = each_sample_row(bitmap, [&](std::uint8_t*, const std::uint16_t* s) {
    largest = std::max<std::uint32_t>(largest, *std::max_element(s, s + bitmap.width));
  });
  if (result != RET_SUCCESS || largest == 0) return result;
  const std::uint32_t full = imgproc::full_scale(bitmap.bits_per_pixel);
  const std::uint32_t target = target_level(full, value);
  kernel::Buffer<std::uint16_t> table;
  if (!table.allocate(std::size_t(largest) + 1)) return RET_NO_MEMORY;
  for (std::uint32_t v = 0; v <= largest; ++v)
    table[v] = static_cast<std::uint16_t>(stretched(v, largest, target, full));
  return each_sample_row(bitmap, [&](std::uint8_t* data, std::uint16_t* levels) {
    for (std::int32_t x = 0; x < bitmap.width; ++x) levels[x] = table[levels[x]];
    imgproc::write_samples(bitmap, data, 0, bitmap.width, levels);
  });
}

// Calls visit(channel byte) for blue, green and red of every pixel.
template <class Visit>
void each_channel(Bitmap& bitmap, Visit visit) {
  const auto step = static_cast<std::size_t>(bitmap.bits_per_pixel / 8);
  for (std::int32_t row = 0; row < bitmap.height; ++row) {
    std::uint8_t* p = kernel::storage_row(bitmap, row);
    for (std::int32_t x = 0; x < bitmap.width; ++x, p += step) {
      visit(p[0]);
      visit(p[1]);
      visit(p[2]);
    }
  }
}

std::int32_t stretch_colours(Bitmap& bitmap, std::int32_t value) {
  std::uint32_t largest = 0;
  each_channel(bitmap, [&](std::uint8_t c) { largest = std::max<std::uint32_t>(largest, c); });
  if (largest == 0) return RET_SUCCESS;
  const std::uint32_t target = target_level(255, value);
  std::array<std::uint8_t, 256> table{};
  for (std::uint32_t v = 0; v <= largest; ++v)
    table[v] = static_cast<std::uint8_t>(stretched(v, largest, target, 255));
  each_channel(bitmap, [&](std::uint8_t& c) { c = table[c]; });
  return RET_SUCCESS;
}

}  // namespace

std::int32_t intensity(Bitmap* bitmap, std::int32_t value, std::uint32_t flags) {
  if (!bitmap || !imgproc::holds_pixels(*bitmap)) return RET_INVALID_BITMAP;
  if (value < 0) return RET_INVALID_PARAMETER;
  if (flags != 0) return RET_NOT_SUPPORTED;
  if (imgproc::is_indexed(*bitmap)) return stretch_palette(*bitmap, value);
  if (bitmap->bits_per_pixel >= 24) return stretch_colours(*bitmap, value);
  return stretch_samples(*bitmap, value);
}

}  // namespace colour
