// Display painting. One painting is planned once (which source column and row every
// visible canvas pixel shows, per axis, by nearest neighbour) and then done row by row:
// a source row is turned into colours once however many canvas rows repeat it, and the
// canvas row is written from those colours. Layouts that need no conversion (24 or 32
// bits onto the same depth, grey onto grey, indices onto a canvas of the same palette)
// copy pixels instead, a whole row at a time when nothing is stretched.
#include "paint.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "imgproc/pixels.h"
#include "kernel/memory.h"

namespace display {
namespace {

using kernel::Bitmap;
using kernel::DrawingContext;
using kernel::Rect;

// Colours travel as palette entries (bytes blue, green, red, 0), so the first three
// bytes of one are a 24-bit pixel. No such colour has a non-zero top byte, so kNoKey
// never matches: it is the key of a painting without transparency.
constexpr std::uint32_t kNoKey = 0xFFFFFFFF;

std::uint32_t grey_entry(std::uint32_t level) {
  const auto g = static_cast<std::uint8_t>(level);
  return kernel::palette_entry(g, g, g);
}

std::uint32_t without_top_byte(std::uint32_t entry) {
  auto bytes = std::bit_cast<std::array<std::uint8_t, 4>>(entry);
  bytes[3] = 0;
  return std::bit_cast<std::uint32_t>(bytes);
}

// One axis of the stretch. Destination offset i (from the destination's edge) shows
// source offset (2i + 1) * source size / (2 * destination size), the source pixel under
// the centre of the destination pixel. The product stays below 2^64: i is below 2^32
// and a source size below 2^31.
struct Axis {
  std::int64_t source_start = 0, source_size = 0, destination_start = 0, destination_size = 0;

  std::int64_t source_at(std::int64_t position) const {
    const auto offset = static_cast<std::uint64_t>(position - destination_start);
    return source_start + static_cast<std::int64_t>((2 * offset + 1) * std::uint64_t(source_size) /
                                                    (2 * std::uint64_t(destination_size)));
  }
};

struct Plan {
  Axis x, y;
  Rect visible;  // the destination cut to the context's clip and the canvas
};

bool inside(const Rect& r, const Bitmap& bitmap) {
  return !kernel::rect_empty(r) && r.left >= 0 && r.top >= 0 && r.right <= bitmap.width &&
         r.bottom <= bitmap.height;
}

std::int32_t make_plan(const DrawingContext& context, const Bitmap& source, const Rect* source_rect,
                       const Rect& destination, Plan* plan) {
  const Rect s = source_rect ? *source_rect : Rect{0, 0, source.width, source.height};
  if (!inside(s, source) || destination.right < destination.left ||
      destination.bottom < destination.top)
    return RET_INVALID_PARAMETER;
  plan->x = {s.left, std::int64_t(s.right) - s.left, destination.left,
             std::int64_t(destination.right) - destination.left};
  plan->y = {s.top, std::int64_t(s.bottom) - s.top, destination.top,
             std::int64_t(destination.bottom) - destination.top};
  const Rect canvas{0, 0, context.bitmap->width, context.bitmap->height};
  Rect bounds;
  kernel::intersect_rect(context.clip, canvas, &bounds);
  kernel::intersect_rect(destination, bounds, &plan->visible);
  return RET_SUCCESS;
}

// The source column of every visible canvas column, and the span of source columns
// they use (a row is converted only there).
struct Columns {
  kernel::Buffer<std::int32_t> map;
  std::int32_t width = 0, first = 0, count = 0;
  bool identity = false;  // not stretched: map[i] == first + i

  bool build(const Plan& plan) {
    width = plan.visible.right - plan.visible.left;
    if (!map.allocate(std::size_t(width))) return false;
    for (std::int32_t i = 0; i < width; ++i)
      map[std::size_t(i)] = static_cast<std::int32_t>(plan.x.source_at(plan.visible.left + i));
    first = map[0];
    count = map[std::size_t(width) - 1] - first + 1;
    identity = plan.x.source_size == plan.x.destination_size;
    return true;
  }
};

// How the source's values become colours.
struct Source {
  const Bitmap* bitmap = nullptr;
  bool indexed = false;
  std::uint32_t palette_size = 0;
  std::array<std::uint32_t, 256> grey{};   // colour of each 8-bit grey level
  std::array<std::uint32_t, 256> small{};  // colour of each 1- or 8-bit value

  explicit Source(const Bitmap& b)
      : bitmap(&b), indexed(imgproc::is_indexed(b)), palette_size(imgproc::palette_size(b)) {
    for (std::uint32_t level = 0; level < 256; ++level) grey[level] = grey_entry(level);
    if (b.bits_per_pixel <= 8)
      for (std::uint32_t v = 0; v <= imgproc::full_scale(b.bits_per_pixel); ++v)
        small[v] = colour_of(v);
  }

  std::uint32_t colour_of(std::uint32_t value) const {
    if (indexed) return value < palette_size ? without_top_byte(bitmap->palette[value]) : 0;
    if (bitmap->bits_per_pixel == 1) return grey[value ? 255 : 0];
    return grey[value >> (bitmap->bits_per_pixel - 8)];
  }
};

void read_colours(const Source& source, const std::uint8_t* row, const Columns& columns,
                  std::uint32_t* out, std::uint16_t* samples) {
  const Bitmap& b = *source.bitmap;
  const std::int32_t first = columns.first, count = columns.count;
  if (b.bits_per_pixel == 8) {
    for (std::int32_t i = 0; i < count; ++i) out[i] = source.small[row[first + i]];
  } else if (b.bits_per_pixel >= 24) {
    const auto step = static_cast<std::size_t>(b.bits_per_pixel / 8);
    const std::uint8_t* p = row + std::size_t(first) * step;
    for (std::int32_t i = 0; i < count; ++i, p += step)
      out[i] = kernel::palette_entry(p[2], p[1], p[0]);
  } else if (b.bits_per_pixel == 1) {
    imgproc::read_samples(b, row, first, count, samples);
    for (std::int32_t i = 0; i < count; ++i) out[i] = source.small[samples[i]];
  } else {
    imgproc::read_samples(b, row, first, count, samples);
    for (std::int32_t i = 0; i < count; ++i) out[i] = source.colour_of(samples[i]);
  }
}

std::uint8_t luminance(std::uint32_t entry) {
  const auto c = std::bit_cast<std::array<std::uint8_t, 4>>(entry);
  return static_cast<std::uint8_t>((299u * c[2] + 587u * c[1] + 114u * c[0] + 500) / 1000);
}

std::uint32_t squared_distance(std::uint32_t a, std::uint32_t b) {
  const auto x = std::bit_cast<std::array<std::uint8_t, 4>>(a);
  const auto y = std::bit_cast<std::array<std::uint8_t, 4>>(b);
  std::uint32_t total = 0;
  for (int k = 0; k < 3; ++k) total += std::uint32_t((x[k] - y[k]) * (x[k] - y[k]));
  return total;
}

enum class CanvasKind { kGrey8, kIndex8, kBgr24, kBgrx32 };

// The canvas and how colours are written to it. Palette canvases remember the nearest
// index of recent colours in a small direct-mapped table: pictures hold few colours in
// long runs, so the search over the palette seldom runs.
struct Canvas {
  Bitmap* bitmap;
  CanvasKind kind;
  std::uint32_t palette_size;
  std::array<std::uint32_t, 1024> keys;
  std::array<std::uint8_t, 1024> indices{};

  explicit Canvas(Bitmap& b)
      : bitmap(&b), kind(kind_of(b)), palette_size(imgproc::palette_size(b)) {
    keys.fill(kNoKey);
  }

  static CanvasKind kind_of(const Bitmap& b) {
    if (b.bits_per_pixel == 24) return CanvasKind::kBgr24;
    if (b.bits_per_pixel == 32) return CanvasKind::kBgrx32;
    const bool indexed = b.colour_order != kernel::kColourGrey && imgproc::palette_size(b) > 0;
    return indexed ? CanvasKind::kIndex8 : CanvasKind::kGrey8;
  }

  std::uint8_t index_of(std::uint32_t colour) {
    const std::size_t slot = (colour * 2654435761u) >> 22;
    if (keys[slot] != colour) {
      keys[slot] = colour;
      indices[slot] = nearest(colour);
    }
    return indices[slot];
  }

  std::uint8_t nearest(std::uint32_t colour) const {
    std::uint32_t best = 0, best_distance = std::numeric_limits<std::uint32_t>::max();
    for (std::uint32_t i = 0; i < palette_size; ++i) {
      const std::uint32_t d = squared_distance(colour, bitmap->palette[i]);
      if (d < best_distance) best_distance = d, best = i;
    }
    return static_cast<std::uint8_t>(best);
  }
};

template <std::size_t Bytes>
void write_pixels(std::uint8_t* out, std::int32_t count, const std::uint32_t* colours,
                  std::uint32_t key) {
  for (std::int32_t i = 0; i < count; ++i, out += Bytes)
    if (colours[i] != key) std::memcpy(out, &colours[i], Bytes);
}

void write_colours(Canvas& canvas, std::uint8_t* row, std::int32_t first, std::int32_t count,
                   const std::uint32_t* colours, std::uint32_t key) {
  switch (canvas.kind) {
    case CanvasKind::kBgr24:
      return write_pixels<3>(row + 3 * std::size_t(first), count, colours, key);
    case CanvasKind::kBgrx32:
      return write_pixels<4>(row + 4 * std::size_t(first), count, colours, key);
    case CanvasKind::kGrey8:
      for (std::int32_t i = 0; i < count; ++i)
        if (colours[i] != key) row[first + i] = luminance(colours[i]);
      return;
    case CanvasKind::kIndex8:
      for (std::int32_t i = 0; i < count; ++i)
        if (colours[i] != key) row[first + i] = canvas.index_of(colours[i]);
      return;
  }
}

bool same_palette(const Bitmap& a, const Bitmap& b) {
  const std::uint32_t size = imgproc::palette_size(a);
  if (size != imgproc::palette_size(b) || size != imgproc::full_scale(a.bits_per_pixel) + 1)
    return false;
  for (std::uint32_t i = 0; i < size; ++i)
    if (without_top_byte(a.palette[i]) != without_top_byte(b.palette[i])) return false;
  return true;
}

// Whether the source's bytes already are the canvas's pixels.
bool copies_natively(const Bitmap& source, const Canvas& canvas, std::uint32_t key) {
  if (key != kNoKey || source.bits_per_pixel != canvas.bitmap->bits_per_pixel) return false;
  switch (canvas.kind) {
    case CanvasKind::kGrey8:
      return !imgproc::is_indexed(source);
    case CanvasKind::kIndex8:
      return imgproc::is_indexed(source) && same_palette(source, *canvas.bitmap);
    default:
      return true;
  }
}

// Calls paint_row(source row index, source storage row, canvas storage row) for every
// visible canvas row, top to bottom.
template <class PaintRow>
void each_visible_row(const Plan& plan, const Bitmap& source, Bitmap& canvas, PaintRow paint_row) {
  for (std::int32_t y = plan.visible.top; y < plan.visible.bottom; ++y) {
    const auto from = static_cast<std::int32_t>(plan.y.source_at(y));
    paint_row(from, kernel::storage_row(source, kernel::top_down_row(source, from)),
              kernel::storage_row(canvas, kernel::top_down_row(canvas, y)));
  }
}

template <std::size_t Bytes>
void gather_pixels(const Columns& columns, const std::uint8_t* from, std::uint8_t* out) {
  for (std::int32_t i = 0; i < columns.width; ++i, out += Bytes)
    std::memcpy(out, from + std::size_t(columns.map[std::size_t(i)]) * Bytes, Bytes);
}

void copy_row(const Columns& columns, std::size_t bytes, const std::uint8_t* from,
              std::uint8_t* out) {
  if (columns.identity)
    return void(std::memmove(out, from + std::size_t(columns.first) * bytes,
                             std::size_t(columns.width) * bytes));
  if (bytes == 1) return gather_pixels<1>(columns, from, out);
  if (bytes == 3) return gather_pixels<3>(columns, from, out);
  gather_pixels<4>(columns, from, out);
}

std::int32_t paint_native(const Plan& plan, const Columns& columns, const Bitmap& source,
                          Bitmap& canvas) {
  const auto bytes = static_cast<std::size_t>(canvas.bits_per_pixel / 8);
  const std::size_t offset = std::size_t(plan.visible.left) * bytes;
  each_visible_row(plan, source, canvas,
                   [&](std::int32_t, const std::uint8_t* from, std::uint8_t* to) {
                     copy_row(columns, bytes, from, to + offset);
                   });
  return RET_SUCCESS;
}

// The colours of the visible canvas columns, picked from a converted source span.
void gather_colours(const Columns& columns, const std::uint32_t* span, std::uint32_t* out) {
  for (std::int32_t i = 0; i < columns.width; ++i)
    out[i] = span[columns.map[std::size_t(i)] - columns.first];
}

std::int32_t paint_converted(const Plan& plan, const Columns& columns, const Bitmap& source,
                             Canvas& canvas, std::uint32_t key) {
  kernel::Buffer<std::uint32_t> span, gathered;
  kernel::Buffer<std::uint16_t> samples;
  if (!span.allocate(std::size_t(columns.count)) || !samples.allocate(std::size_t(columns.count)) ||
      (!columns.identity && !gathered.allocate(std::size_t(columns.width))))
    return RET_NO_MEMORY;
  const Source reader(source);
  const std::uint32_t* row_colours = columns.identity ? span.data() : gathered.data();
  std::int32_t converted = -1;  // the source row the colour buffers hold
  each_visible_row(plan, source, *canvas.bitmap,
                   [&](std::int32_t from_row, const std::uint8_t* from, std::uint8_t* to) {
                     if (from_row != converted) {
                       read_colours(reader, from, columns, span.data(), samples.data());
                       if (!columns.identity) gather_colours(columns, span.data(), gathered.data());
                       converted = from_row;
                     }
                     write_colours(canvas, to, plan.visible.left, columns.width, row_colours, key);
                   });
  return RET_SUCCESS;
}

std::int32_t check_arguments(const DrawingContext* context, const Bitmap* source,
                             const Rect* destination, std::uint32_t raster_op) {
  if (!context || !destination) return RET_INVALID_PARAMETER;
  if (!source || !context->bitmap || !imgproc::holds_pixels(*source) ||
      !imgproc::holds_pixels(*context->bitmap))
    return RET_INVALID_BITMAP;
  const int canvas_bits = context->bitmap->bits_per_pixel;
  if (raster_op != kSourceCopy || (canvas_bits != 8 && canvas_bits != 24 && canvas_bits != 32))
    return RET_NOT_SUPPORTED;
  return RET_SUCCESS;
}

std::int32_t paint_with_key(DrawingContext* context, const Bitmap* source, const Rect* source_rect,
                            const Rect* destination, std::uint32_t raster_op, std::uint32_t key) {
  std::int32_t result = check_arguments(context, source, destination, raster_op);
  Plan plan;
  if (result == RET_SUCCESS)
    result = make_plan(*context, *source, source_rect, *destination, &plan);
  if (result != RET_SUCCESS || kernel::rect_empty(plan.visible)) return result;
  Columns columns;
  if (!columns.build(plan)) return RET_NO_MEMORY;
  Canvas canvas(*context->bitmap);
  if (copies_natively(*source, canvas, key))
    return paint_native(plan, columns, *source, *canvas.bitmap);
  return paint_converted(plan, columns, *source, canvas, key);
}

}  // namespace

kernel::Palette* palette_for_bitmap(DrawingContext* context, const Bitmap* bitmap) {
  if (!context || !bitmap) return nullptr;
  const std::uint32_t size = imgproc::palette_size(*bitmap);
  return size ? kernel::create_palette(bitmap->palette, size) : nullptr;
}

bool copies_natively(const Bitmap& source, Bitmap& canvas) {
  const int bits = canvas.bits_per_pixel;
  if (bits != 8 && bits != 24 && bits != 32) return false;
  const Canvas target(canvas);
  return copies_natively(source, target, kNoKey);
}

int paints_grey_levels(const Bitmap& source, Bitmap& canvas, std::uint32_t pixels[256]) {
  const int bytes = canvas.bits_per_pixel / 8;
  if ((source.bits_per_pixel != 12 && source.bits_per_pixel != 16) || imgproc::is_indexed(source) ||
      (bytes != 1 && bytes != 3 && bytes != 4))
    return 0;
  // The colours and their writing are the painting's own (Source::colour_of reads the top
  // 8 bits of such a source as a grey level, write_colours puts it on the canvas).
  const Source reader(source);
  Canvas target(canvas);
  std::array<std::uint8_t, 256 * 4> row{};
  write_colours(target, row.data(), 0, 256, reader.grey.data(), kNoKey);
  for (std::size_t level = 0; level < 256; ++level) {
    pixels[level] = 0;
    std::memcpy(&pixels[level], row.data() + level * std::size_t(bytes), std::size_t(bytes));
  }
  return bytes;
}

std::int32_t paint(DrawingContext* context, const Bitmap* source, const Rect* source_rect,
                   const Rect* destination, std::uint32_t raster_op) {
  return paint_with_key(context, source, source_rect, destination, raster_op, kNoKey);
}

std::int32_t paint_keyed(DrawingContext* context, const Bitmap* source, const Rect* source_rect,
                         const Rect* destination, std::uint32_t raster_op,
                         std::uint32_t transparent_colour) {
  return paint_with_key(context, source, source_rect, destination, raster_op,
                        kernel::entry_of_colour(transparent_colour));
}

}  // namespace display
