// Kernel bitmaps: the picture record that image readers fill, that the composition
// paints onto, and that the row callback of the filter hands back to its caller.
//
// A record owns its pixel data (when flags bit 0 is set) and its palette. Records are
// always passed with their size, kBitmapRecordSize, and a wrong size is refused so that
// a caller built against another layout cannot write past the record. Sizes that come
// from files reach create_bitmap unchecked: every product is checked for overflow and
// the pixel data come from kernel::allocate, so the allocation cap turns a hostile
// width or height into RET_NO_MEMORY.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include <kvntfu.h>

namespace kernel {

constexpr std::uint32_t kBitmapRecordSize = 216;

// Colour orders: how an 8-bit value is read, and what a palette means for the painters.
constexpr int kColourPalette = 0;
constexpr int kColourRgb = 1;
constexpr int kColourGrey = 2;

// The pixel depths a bitmap may have.
inline bool supported_depth(int bits_per_pixel) {
  switch (bits_per_pixel) {
    case 1:
    case 8:
    case 12:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

// View codes: whether storage row 0 is the top or the bottom row of the picture.
constexpr int kViewTopDown = 1;
constexpr int kViewBottomUp = 4;

constexpr std::uint32_t kBitmapDataAllocated = 1;  // flags bit 0
constexpr std::uint32_t kMaxPaletteEntries = 256;

// Layouts by bits per pixel: 1 (palette indices, most significant bit first), 8 (palette
// index or grey), 12 (grey, two samples in three bytes, see sample12), 16 (grey, native
// order), 24 (blue, green, red), 32 (blue, green, red, unused). Rows are padded to a
// multiple of 4 bytes. Palette entries hold the bytes blue, green, red, 0.
struct Bitmap {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t bits_per_pixel = 0;
  std::int32_t bytes_per_line = 0;
  std::int32_t colour_order = 0;
  std::int32_t palette_count = 0;
  std::uint32_t flags = 0;
  std::int32_t view_code = 0;
  std::int32_t memory_kind = 0;
  std::int32_t row_access = 0;  // nesting depth of begin_row_access
  std::uint64_t data_size = 0;
  std::uint32_t* palette = nullptr;
  std::uint8_t* data = nullptr;
  std::uint8_t reserved[kBitmapRecordSize - 48 - 2 * sizeof(void*)] = {};
};
static_assert(sizeof(Bitmap) == kBitmapRecordSize);
static_assert(offsetof(Bitmap, palette) == 48);

// An empty record: no data, no palette. Does not release what the record held.
std::int32_t init_bitmap(Bitmap* bitmap, std::uint32_t size);

// Releases what the record holds, then makes a width x height bitmap with zeroed pixel
// data (none when the picture is empty). Bitmaps of at most 8 bits per pixel get a
// palette of 2^bits entries copied from `palette` (which must hold that many) or a grey
// ramp; deeper bitmaps get none (see set_palette). With `data`, min(data_size, image
// size) bytes are copied into storage. Bad arguments give RET_INVALID_PARAMETER; sizes
// that overflow or exceed the allocation cap give RET_NO_MEMORY.
std::int32_t create_bitmap(Bitmap* bitmap, std::uint32_t size, int memory_kind, std::int32_t width,
                           std::int32_t height, int bits_per_pixel, int colour_order,
                           const std::uint32_t* palette, int view_code, const void* data,
                           std::uint64_t data_size);

// Releases the pixel data (when flags bit 0 is set) and the palette; the record is
// left empty.
void free_bitmap(Bitmap* bitmap);

// Zeroed storage for the record's geometry, replacing any data it held.
std::int32_t allocate_pixel_data(Bitmap* bitmap);
// Releases the pixel data only: the geometry and the palette stay, so the data can be
// allocated afresh.
void free_pixel_data(Bitmap* bitmap);

// Every pixel takes `colour` (0x00BBGGRR): grey layouts its luminance at their depth,
// palette layouts the nearest palette entry.
std::int32_t fill_bitmap(Bitmap* bitmap, std::uint32_t colour);

// Bracket a sequence of row transfers; the record only counts the nesting.
std::int32_t begin_row_access(Bitmap* bitmap);
std::int32_t end_row_access(Bitmap* bitmap);

// Copy palette entries [first, first + count), cut to the palette's size. A `first`
// beyond the palette gives RET_INVALID_PARAMETER.
std::int32_t get_palette(const Bitmap* bitmap, std::uint32_t first, std::uint32_t count,
                         std::uint32_t* colours);
std::int32_t put_palette(Bitmap* bitmap, std::uint32_t first, std::uint32_t count,
                         const std::uint32_t* colours);

// Palette entries as stored (bytes blue, green, red, 0) and colours 0x00BBGGRR.
inline std::uint32_t palette_entry(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return std::bit_cast<std::uint32_t>(std::array<std::uint8_t, 4>{blue, green, red, 0});
}
inline std::uint32_t colour_of_entry(std::uint32_t entry) {
  auto b = std::bit_cast<std::array<std::uint8_t, 4>>(entry);
  return std::uint32_t{b[2]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[0]} << 16;
}
inline std::uint32_t entry_of_colour(std::uint32_t colour) {
  return palette_entry(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

// Start of storage row `row`, or null outside the bitmap or its data: a whole row of
// bytes_per_line bytes may be used from it.
inline std::uint8_t* storage_row(Bitmap& bitmap, std::int32_t row) {
  if (!bitmap.data || row < 0 || row >= bitmap.height || bitmap.bytes_per_line < 0) return nullptr;
  const auto line = static_cast<std::uint64_t>(bitmap.bytes_per_line);
  const std::uint64_t start = static_cast<std::uint64_t>(row) * line;
  if (start + line > bitmap.data_size) return nullptr;
  return bitmap.data + start;
}
inline const std::uint8_t* storage_row(const Bitmap& bitmap, std::int32_t row) {
  return storage_row(const_cast<Bitmap&>(bitmap), row);
}

// Bytes of a row's pixels without the padding to 4 bytes.
inline std::uint64_t packed_row_bytes(const Bitmap& bitmap) {
  if (bitmap.width <= 0 || bitmap.bits_per_pixel <= 0) return 0;
  return (static_cast<std::uint64_t>(bitmap.width) *
              static_cast<std::uint32_t>(bitmap.bits_per_pixel) +
          7) /
         8;
}

// Start of storage row `row`, of which only the pixel bytes (packed_row_bytes) may be
// used; null outside the bitmap or its data. Unlike storage_row it also serves a view
// into a wider bitmap (make_view), whose last row ends at its last pixel.
inline std::uint8_t* pixel_row(Bitmap& bitmap, std::int32_t row) {
  if (!bitmap.data || row < 0 || row >= bitmap.height || bitmap.bytes_per_line < 0) return nullptr;
  const std::uint64_t start =
      static_cast<std::uint64_t>(row) * static_cast<std::uint64_t>(bitmap.bytes_per_line);
  if (start + packed_row_bytes(bitmap) > bitmap.data_size) return nullptr;
  return bitmap.data + start;
}

// Makes `view` show the rectangle of `parent` whose top left pixel is (x, y) in display
// rows: the parent's depth, colour order, row order and row length, over the parent's
// pixels (not owned: freeing the view releases nothing). No palette. Decoding straight
// into a part of a larger picture goes through such a view. RET_INVALID_PARAMETER when
// the rectangle leaves the parent's data or does not start on a byte.
std::int32_t make_view(Bitmap& parent, std::int32_t x, std::int32_t y, std::int32_t width,
                       std::int32_t height, Bitmap* view);

// The storage row that shows display row y (0 at the top).
inline std::int32_t top_down_row(const Bitmap& bitmap, std::int32_t y) {
  return bitmap.view_code == kViewBottomUp ? bitmap.height - 1 - y : y;
}

// Sample x of a 12-bit row: pairs share three bytes, sample 0 = b0 | (b1 & 0x0F) << 8,
// sample 1 = b1 >> 4 | b2 << 4.
inline std::uint16_t sample12(const std::uint8_t* row, std::int32_t x) {
  const std::uint8_t* p = row + static_cast<std::size_t>(x / 2) * 3;
  if (x % 2 == 0) return static_cast<std::uint16_t>(p[0] | (p[1] & 0x0F) << 8);
  return static_cast<std::uint16_t>(p[1] >> 4 | p[2] << 4);
}
inline void put_sample12(std::uint8_t* row, std::int32_t x, std::uint16_t value) {
  std::uint8_t* p = row + static_cast<std::size_t>(x / 2) * 3;
  if (x % 2 == 0) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>((p[1] & 0xF0) | ((value >> 8) & 0x0F));
  } else {
    p[1] = static_cast<std::uint8_t>((p[1] & 0x0F) | (value & 0x0F) << 4);
    p[2] = static_cast<std::uint8_t>(value >> 4);
  }
}

}  // namespace kernel
