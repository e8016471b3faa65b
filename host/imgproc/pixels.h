// Pixel access shared by the image-processing, colour, display and effects services.
// Their callers hand them kernel bitmap records whose public fields anyone may have
// edited, so each service first asks holds_pixels whether the data really hold the rows
// the geometry describes; after that check every row inside the bitmap is a valid
// storage_row of at least the bytes its pixels take, and the row helpers below stay
// inside it for any x below the width.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "kernel/bitmap.h"

namespace imgproc {

// A non-empty bitmap whose data hold height rows of bytes_per_line bytes, each long
// enough for width pixels. The products cannot overflow: a width below 2^31 at 32 bits
// is below 2^37 bits, and two 31-bit factors stay below 2^62.
inline bool holds_pixels(const kernel::Bitmap& bitmap) {
  if (!bitmap.data || bitmap.width <= 0 || bitmap.height <= 0 || bitmap.bytes_per_line <= 0)
    return false;
  if (!kernel::supported_depth(bitmap.bits_per_pixel)) return false;
  const std::uint64_t row_bits = std::uint64_t(bitmap.width) * std::uint64_t(bitmap.bits_per_pixel);
  if ((row_bits + 7) / 8 > std::uint64_t(bitmap.bytes_per_line)) return false;
  return std::uint64_t(bitmap.bytes_per_line) * std::uint64_t(bitmap.height) <= bitmap.data_size;
}

// Whether sample values are indices into the bitmap's palette rather than grey levels:
// any layout up to 16 bits with palette colours, unless its colour order says grey.
inline bool is_indexed(const kernel::Bitmap& bitmap) {
  return bitmap.bits_per_pixel <= 16 && bitmap.colour_order != kernel::kColourGrey &&
         bitmap.palette && bitmap.palette_count > 0;
}

// Palette entries the services may read: the kernel never makes more than 256.
inline std::uint32_t palette_size(const kernel::Bitmap& bitmap) {
  if (!bitmap.palette || bitmap.palette_count <= 0) return 0;
  return std::min(static_cast<std::uint32_t>(bitmap.palette_count), kernel::kMaxPaletteEntries);
}

// Largest sample value of a 1-, 8-, 12- or 16-bit layout.
inline std::uint32_t full_scale(int bits_per_pixel) {
  return (1u << bits_per_pixel) - 1;
}

// Samples x0 .. x0 + count - 1 of one row of a 1-, 8-, 12- or 16-bit bitmap, as values.
inline void read_samples(const kernel::Bitmap& bitmap, const std::uint8_t* row, std::int32_t x0,
                         std::int32_t count, std::uint16_t* out) {
  switch (bitmap.bits_per_pixel) {
    case 1:
      for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t x = x0 + i;
        out[i] = (row[x >> 3] >> (7 - (x & 7))) & 1;
      }
      return;
    case 8:
      std::copy(row + x0, row + x0 + count, out);
      return;
    case 12:
      for (std::int32_t i = 0; i < count; ++i) out[i] = kernel::sample12(row, x0 + i);
      return;
    case 16:
      std::memcpy(out, row + 2 * std::size_t(x0), 2 * std::size_t(count));
      return;
    default:
      return;
  }
}

// The inverse of read_samples; values are cut to the depth.
inline void write_samples(const kernel::Bitmap& bitmap, std::uint8_t* row, std::int32_t x0,
                          std::int32_t count, const std::uint16_t* values) {
  switch (bitmap.bits_per_pixel) {
    case 1:
      for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t x = x0 + i;
        const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
        row[x >> 3] =
            static_cast<std::uint8_t>((values[i] & 1) ? row[x >> 3] | bit : row[x >> 3] & ~bit);
      }
      return;
    case 8:
      for (std::int32_t i = 0; i < count; ++i) row[x0 + i] = static_cast<std::uint8_t>(values[i]);
      return;
    case 12:
      for (std::int32_t i = 0; i < count; ++i) kernel::put_sample12(row, x0 + i, values[i]);
      return;
    case 16:
      std::memcpy(row + 2 * std::size_t(x0), values, 2 * std::size_t(count));
      return;
    default:
      return;
  }
}

}  // namespace imgproc
