// Kernel bitmaps: creation with checked sizes, fills for every layout, row and palette
// transfers. The painters and readers reach pixels through storage_row; this unit is
// where a record gets its geometry and where its memory comes and goes.
#include "bitmap.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "memory.h"

namespace kernel {
namespace {

bool valid_record(const Bitmap* bitmap, std::uint32_t size) {
  return bitmap && size == kBitmapRecordSize;
}

bool valid_layout(int memory_kind, int bits_per_pixel, int colour_order, int view_code) {
  return (memory_kind == 1 || memory_kind == 2) && supported_depth(bits_per_pixel) &&
         colour_order >= kColourPalette && colour_order <= kColourGrey &&
         (view_code == kViewTopDown || view_code == kViewBottomUp);
}

// Row bytes rounded up to 4 and the whole image size; false when either overflows
// (a row must also fit the record's 32-bit field).
bool image_geometry(std::int32_t width, std::int32_t height, int bits_per_pixel,
                    std::int32_t* bytes_per_line, std::uint64_t* image_size) {
  std::uint64_t row = (std::uint64_t(width) * std::uint64_t(bits_per_pixel) + 31) / 32 * 4;
  if (row > std::uint64_t(std::numeric_limits<std::int32_t>::max())) return false;
  if (mul_overflows(row, std::uint64_t(height), image_size)) return false;
  if (*image_size > std::numeric_limits<std::size_t>::max()) return false;
  *bytes_per_line = static_cast<std::int32_t>(row);
  return true;
}

void release_palette(Bitmap& bitmap) {
  kernel::free(bitmap.palette);
  bitmap.palette = nullptr;
  bitmap.palette_count = 0;
}

// Replaces the palette by `count` entries from `colours`, or a grey ramp without them.
bool give_palette(Bitmap& bitmap, std::uint32_t count, const std::uint32_t* colours) {
  release_palette(bitmap);
  if (count == 0) return true;
  auto* entries = static_cast<std::uint32_t*>(allocate(count, sizeof(std::uint32_t)));
  if (!entries) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    auto level = static_cast<std::uint8_t>(count > 1 ? i * 255 / (count - 1) : 0);
    entries[i] = colours ? colours[i] : palette_entry(level, level, level);
  }
  bitmap.palette = entries;
  bitmap.palette_count = static_cast<std::int32_t>(count);
  return true;
}

// ITU-R BT.601 weights, rounded.
std::uint8_t luminance(std::uint32_t colour) {
  std::uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  return static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

std::uint32_t squared_distance(std::uint32_t colour, std::uint32_t entry) {
  std::uint32_t c = entry_of_colour(colour);  // compared byte for byte with the entry
  std::uint32_t total = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    int d = int((c >> shift) & 0xFF) - int((entry >> shift) & 0xFF);
    total += std::uint32_t(d * d);
  }
  return total;
}

// The palette index closest to `colour` among those the depth can address (the first
// of equals); without a palette, the grey level cut to the index range.
std::uint8_t nearest_index(const Bitmap& bitmap, std::uint32_t colour) {
  if (bitmap.palette_count <= 0) {
    std::uint8_t grey = luminance(colour);
    return bitmap.bits_per_pixel == 1 ? grey >> 7 : grey;
  }
  const std::int32_t usable = std::min(bitmap.palette_count, bitmap.bits_per_pixel == 1 ? 2 : 256);
  std::uint8_t best = 0;
  std::uint32_t best_distance = std::numeric_limits<std::uint32_t>::max();
  for (std::int32_t i = 0; i < usable; ++i) {
    std::uint32_t d = squared_distance(colour, bitmap.palette[i]);
    if (d < best_distance) {
      best_distance = d;
      best = static_cast<std::uint8_t>(i);
    }
  }
  return best;
}

void fill_row_bits(std::uint8_t* row, std::int32_t width, bool set) {
  if (!set) return;
  for (std::int32_t x = 0; x < width; ++x) row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
}

void fill_row_12(std::uint8_t* row, std::int32_t width, std::uint8_t grey) {
  auto value = static_cast<std::uint16_t>(grey << 4 | grey >> 4);  // bit replication
  for (std::int32_t x = 0; x < width; ++x) put_sample12(row, x, value);
}

void fill_row_16(std::uint8_t* row, std::int32_t width, std::uint8_t grey) {
  auto value = static_cast<std::uint16_t>(grey * 257);
  for (std::int32_t x = 0; x < width; ++x) std::memcpy(row + 2 * std::size_t(x), &value, 2);
}

void fill_row_colour(std::uint8_t* row, std::int32_t width, int step, std::uint32_t colour) {
  for (std::int32_t x = 0; x < width; ++x) {
    std::uint8_t* p = row + std::size_t(x) * std::size_t(step);
    p[0] = static_cast<std::uint8_t>(colour >> 16);
    p[1] = static_cast<std::uint8_t>(colour >> 8);
    p[2] = static_cast<std::uint8_t>(colour);
  }
}

// Writes the pixels of one zeroed row; padding bytes stay 0.
void fill_row(const Bitmap& bitmap, std::uint8_t* row, std::uint32_t colour) {
  const std::int32_t w = bitmap.width;
  switch (bitmap.bits_per_pixel) {
    case 1:
      return fill_row_bits(row, w, nearest_index(bitmap, colour) & 1);
    case 8: {
      bool grey = bitmap.colour_order == kColourGrey;
      std::memset(row, grey ? luminance(colour) : nearest_index(bitmap, colour), std::size_t(w));
      return;
    }
    case 12:
      return fill_row_12(row, w, luminance(colour));
    case 16:
      return fill_row_16(row, w, luminance(colour));
    default:
      return fill_row_colour(row, w, bitmap.bits_per_pixel / 8, colour);
  }
}

// Whether the data hold every row the geometry describes: callers may edit the public
// fields, and a fill trusts them.
bool holds_pixels(const Bitmap& bitmap) {
  std::int32_t bytes_per_line = 0;
  std::uint64_t image_size = 0;
  if (!bitmap.data || bitmap.width < 0 || bitmap.height < 0) return false;
  if (!supported_depth(bitmap.bits_per_pixel)) return false;
  if (!image_geometry(bitmap.width, bitmap.height, bitmap.bits_per_pixel, &bytes_per_line,
                      &image_size))
    return false;
  return bytes_per_line <= bitmap.bytes_per_line &&
         std::uint64_t(bitmap.bytes_per_line) * std::uint64_t(bitmap.height) <= bitmap.data_size;
}

// The entries [first, first + count) that lie inside the palette, as a count.
bool palette_span(const Bitmap* bitmap, std::uint32_t first, std::uint32_t count,
                  const void* colours, std::uint32_t* span) {
  if (!bitmap || (!colours && count)) return false;
  auto size = static_cast<std::uint32_t>(bitmap->palette_count > 0 ? bitmap->palette_count : 0);
  if (count && first >= size) return false;
  *span = count ? std::min(count, size - first) : 0;
  return true;
}

}  // namespace

std::int32_t init_bitmap(Bitmap* bitmap, std::uint32_t size) {
  if (!valid_record(bitmap, size)) return RET_INVALID_PARAMETER;
  *bitmap = Bitmap{};
  return RET_SUCCESS;
}

std::int32_t create_bitmap(Bitmap* bitmap, std::uint32_t size, int memory_kind, std::int32_t width,
                           std::int32_t height, int bits_per_pixel, int colour_order,
                           const std::uint32_t* palette, int view_code, const void* data,
                           std::uint64_t data_size) {
  if (!valid_record(bitmap, size) || width < 0 || height < 0 ||
      !valid_layout(memory_kind, bits_per_pixel, colour_order, view_code))
    return RET_INVALID_PARAMETER;
  std::int32_t bytes_per_line = 0;
  std::uint64_t image_size = 0;
  if (!image_geometry(width, height, bits_per_pixel, &bytes_per_line, &image_size))
    return RET_NO_MEMORY;
  free_bitmap(bitmap);
  *bitmap = Bitmap{.width = width,
                   .height = height,
                   .bits_per_pixel = bits_per_pixel,
                   .bytes_per_line = bytes_per_line,
                   .colour_order = colour_order,
                   .view_code = view_code,
                   .memory_kind = memory_kind};
  std::uint32_t entries = bits_per_pixel <= 8 ? 1u << bits_per_pixel : 0;
  if (!give_palette(*bitmap, entries, palette) ||
      (image_size && allocate_pixel_data(bitmap) != RET_SUCCESS)) {
    free_bitmap(bitmap);
    return RET_NO_MEMORY;
  }
  if (data && image_size) std::memcpy(bitmap->data, data, std::min(data_size, image_size));
  return RET_SUCCESS;
}

void free_bitmap(Bitmap* bitmap) {
  if (!bitmap) return;
  free_pixel_data(bitmap);
  release_palette(*bitmap);
  *bitmap = Bitmap{};
}

std::int32_t allocate_pixel_data(Bitmap* bitmap) {
  if (!bitmap) return RET_INVALID_PARAMETER;
  std::int32_t bytes_per_line = 0;
  std::uint64_t image_size = 0;
  if (bitmap->width < 0 || bitmap->height < 0 || !supported_depth(bitmap->bits_per_pixel))
    return RET_INVALID_PARAMETER;
  if (!image_geometry(bitmap->width, bitmap->height, bitmap->bits_per_pixel, &bytes_per_line,
                      &image_size))
    return RET_NO_MEMORY;
  free_pixel_data(bitmap);
  void* block = allocate(static_cast<std::size_t>(image_size), 1);
  if (!block) return RET_NO_MEMORY;
  bitmap->data = static_cast<std::uint8_t*>(block);
  bitmap->data_size = image_size;
  bitmap->bytes_per_line = bytes_per_line;
  bitmap->flags |= kBitmapDataAllocated;
  return RET_SUCCESS;
}

void free_pixel_data(Bitmap* bitmap) {
  if (!bitmap || !(bitmap->flags & kBitmapDataAllocated)) return;
  kernel::free(bitmap->data);
  bitmap->data = nullptr;
  bitmap->data_size = 0;
  bitmap->flags &= ~kBitmapDataAllocated;
}

std::int32_t fill_bitmap(Bitmap* bitmap, std::uint32_t colour) {
  if (!bitmap) return RET_INVALID_PARAMETER;
  if (bitmap->width == 0 || bitmap->height == 0) return RET_SUCCESS;
  if (!holds_pixels(*bitmap)) return RET_INVALID_PARAMETER;
  std::uint8_t* first = storage_row(*bitmap, 0);
  const auto row_bytes = static_cast<std::size_t>(bitmap->bytes_per_line);
  std::memset(first, 0, row_bytes);
  fill_row(*bitmap, first, colour);
  for (std::int32_t row = 1; row < bitmap->height; ++row)
    std::memcpy(storage_row(*bitmap, row), first, row_bytes);
  return RET_SUCCESS;
}

std::int32_t begin_row_access(Bitmap* bitmap) {
  if (!bitmap) return RET_INVALID_PARAMETER;
  ++bitmap->row_access;
  return RET_SUCCESS;
}

std::int32_t end_row_access(Bitmap* bitmap) {
  if (!bitmap || bitmap->row_access <= 0) return RET_INVALID_PARAMETER;
  --bitmap->row_access;
  return RET_SUCCESS;
}

std::int32_t get_palette(const Bitmap* bitmap, std::uint32_t first, std::uint32_t count,
                         std::uint32_t* colours) {
  std::uint32_t span = 0;
  if (!palette_span(bitmap, first, count, colours, &span)) return RET_INVALID_PARAMETER;
  if (span) std::memcpy(colours, bitmap->palette + first, span * sizeof(std::uint32_t));
  return RET_SUCCESS;
}

std::int32_t put_palette(Bitmap* bitmap, std::uint32_t first, std::uint32_t count,
                         const std::uint32_t* colours) {
  std::uint32_t span = 0;
  if (!palette_span(bitmap, first, count, colours, &span)) return RET_INVALID_PARAMETER;
  if (span) std::memcpy(bitmap->palette + first, colours, span * sizeof(std::uint32_t));
  return RET_SUCCESS;
}

std::int32_t make_view(Bitmap& parent, std::int32_t x, std::int32_t y, std::int32_t width,
                       std::int32_t height, Bitmap* view) {
  const std::int64_t bits = parent.bits_per_pixel;
  if (!view || !parent.data || x < 0 || y < 0 || width <= 0 || height <= 0 ||
      std::int64_t{x} + width > parent.width || std::int64_t{y} + height > parent.height ||
      bits <= 0 || (x * bits) % 8 != 0 || parent.bytes_per_line <= 0)
    return RET_INVALID_PARAMETER;
  // The storage rows of display rows y .. y + height - 1 are contiguous either way round;
  // the lowest of them becomes the view's storage row 0.
  const std::int32_t first = parent.view_code == kViewBottomUp ? parent.height - y - height : y;
  const auto line = static_cast<std::uint64_t>(parent.bytes_per_line);
  const std::uint64_t offset =
      static_cast<std::uint64_t>(first) * line + static_cast<std::uint64_t>(x * bits / 8);
  Bitmap v{.width = width,
           .height = height,
           .bits_per_pixel = parent.bits_per_pixel,
           .bytes_per_line = parent.bytes_per_line,
           .colour_order = parent.colour_order,
           .view_code = parent.view_code,
           .memory_kind = parent.memory_kind};
  v.data_size = static_cast<std::uint64_t>(height - 1) * line + packed_row_bytes(v);
  if (offset + v.data_size > parent.data_size) return RET_INVALID_PARAMETER;
  v.data = parent.data + offset;
  *view = v;
  return RET_SUCCESS;
}

}  // namespace kernel
