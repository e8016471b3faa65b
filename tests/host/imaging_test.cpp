// Kernel bitmaps, palettes and drawing contexts, and the imaging services the image
// drawing relies on: block placement (combine), the brightening of dark images (the
// planes JPEG bands are merged from: image_compressed_test), painting with and without a
// transparent colour.
// Expected pictures are built pixel by pixel from the documented rules with helpers of
// this file, never from the code under test, and compared byte for byte so that a stray
// write in padding or beside a span shows. Refusals leave their records as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "colour/histogram.h"
#include "colour/intensity.h"
#include "colour/merge.h"
#include "display/paint.h"
#include "effects/transparent.h"
#include "imgproc/combine.h"
#include "kernel/bitmap.h"
#include "kernel/dc.h"
#include "kernel/memory.h"
#include "kernel/palette.h"
#include "testing.h"

namespace {

using kernel::Bitmap;
using kernel::Rect;
using testing_support::OwnedBitmap;
using Bytes = std::vector<std::uint8_t>;
using HostKernel = testing_support::LeakChecked;  // no palette or context left alive
using HostImaging = testing_support::LeakChecked;

constexpr std::uint32_t kSize = kernel::kBitmapRecordSize;
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr int kGrey = kernel::kColourGrey, kIndex = kernel::kColourPalette,
              kRgb = kernel::kColourRgb;
constexpr int kTopDown = kernel::kViewTopDown, kBottomUp = kernel::kViewBottomUp;

std::int32_t create(OwnedBitmap& b, std::int32_t width, std::int32_t height, int bpp, int order,
                    int view = kTopDown, const std::uint32_t* palette = nullptr,
                    const void* data = nullptr, std::uint64_t data_size = 0) {
  return kernel::create_bitmap(b.get(), kSize, 1, width, height, bpp, order, palette, view, data,
                               data_size);
}

void make(OwnedBitmap& b, std::int32_t width, std::int32_t height, int bpp, int order,
          int view = kTopDown) {
  ASSERT_EQ(create(b, width, height, bpp, order, view), RET_SUCCESS);
}

// 0x00BBGGRR, as the painters' callers give colours.
constexpr std::uint32_t rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return r | g << 8 | b << 16;
}

std::uint8_t* display_row(Bitmap& b, std::int32_t y) {
  return kernel::storage_row(b, kernel::top_down_row(b, y));
}

// The stored value of pixel (x, y) of any layout: for 24 and 32 bits the bytes read
// little-endian (blue lowest), the unused byte included.
std::uint32_t get_pixel(Bitmap& b, std::int32_t x, std::int32_t y) {
  const std::uint8_t* row = display_row(b, y);
  if (b.bits_per_pixel == 1) return (row[x / 8] >> (7 - x % 8)) & 1;
  if (b.bits_per_pixel == 12) return kernel::sample12(row, x);
  std::uint32_t v = 0;
  for (int k = b.bits_per_pixel / 8 - 1; k >= 0; --k)
    v = v << 8 | row[x * (b.bits_per_pixel / 8) + k];
  return v;
}

void set_pixel(Bitmap& b, std::int32_t x, std::int32_t y, std::uint32_t v) {
  std::uint8_t* row = display_row(b, y);
  if (b.bits_per_pixel == 1)
    row[x / 8] = std::uint8_t((row[x / 8] & ~(0x80 >> x % 8)) | (v & 1) << (7 - x % 8));
  else if (b.bits_per_pixel == 12)
    kernel::put_sample12(row, x, std::uint16_t(v));
  else
    for (int k = 0; k < b.bits_per_pixel / 8; ++k)
      row[x * (b.bits_per_pixel / 8) + k] = std::uint8_t(v >> 8 * k);
}

// A colour (0x00BBGGRR) as a 24-bit pixel stores it, and back: the byte order reverses.
constexpr std::uint32_t swap_rb(std::uint32_t c) {
  return rgb((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

std::uint32_t colour_at(Bitmap& b, std::int32_t x, std::int32_t y) {
  return swap_rb(get_pixel(b, x, y) & 0xFFFFFF);
}

Bytes data_of(const Bitmap& b) {
  return Bytes(b.data, b.data + b.data_size);
}

// Deterministic bytes covering every bit pattern, padding included.
void scramble(Bitmap& b, std::uint32_t seed) {
  for (std::uint64_t i = 0; i < b.data_size; ++i)
    b.data[i] = std::uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
}

struct Context {
  kernel::DrawingContext* dc;
  explicit Context(Bitmap* canvas) : dc(kernel::device_context_for_bitmap(canvas)) {}
  ~Context() { kernel::delete_device_context(dc); }
};

// The layouts, with the row length at a width of 7 (every layout but 32 bits pads it)
// and a row of 7 pixels filled with red A0, green E0, blue C0: luminance 0xC9, nearest
// grey of the ramp 0xC0, of black and white, white.
constexpr std::uint32_t kFill = 0x00C0E0A0;
struct Layout {
  const char* name;
  int bpp, order;
  std::int32_t line;
  Bytes filled;
};

Bytes repeat(const Bytes& unit, int times, const Bytes& tail) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

const std::vector<Layout> kLayouts = {
    {"Bit1", 1, kIndex, 4, {0xFE, 0, 0, 0}},
    {"Index8", 8, kIndex, 8, repeat({0xC0}, 7, {0})},
    {"Grey8", 8, kGrey, 8, repeat({0xC9}, 7, {0})},
    {"Grey12", 12, kGrey, 12, repeat({0x9C, 0xCC, 0xC9}, 3, {0x9C, 0x0C, 0})},
    {"Grey16", 16, kGrey, 16, repeat({0xC9, 0xC9}, 7, {0, 0})},
    {"Bgr24", 24, kRgb, 24, repeat({0xC0, 0xE0, 0xA0}, 7, {0, 0, 0})},
    {"Bgrx32", 32, kRgb, 28, repeat({0xC0, 0xE0, 0xA0, 0}, 7, {})},
};

Bytes row_of(const OwnedBitmap& b, std::int32_t row) {
  const std::uint8_t* p = kernel::storage_row(b.b, row);
  return Bytes(p, p + b.b.bytes_per_line);
}

// ---------------------------------------------------------------------------------
// Kernel bitmaps

// Geometry, the row map (display row 0 is the last storage row bottom-up), given data
// copied in storage order, and fills that write every row and leave padding zero.
TEST_F(HostKernel, Layouts) {
  for (const Layout& l : kLayouts)
    for (int view : {kTopDown, kBottomUp}) {
      SCOPED_TRACE(std::string(l.name) + (view == kTopDown ? " top-down" : " bottom-up"));
      const auto line = std::size_t(l.line);
      Bytes data(line * 5);
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(i * 7 + 3);
      OwnedBitmap b;
      ASSERT_EQ(create(b, 7, 5, l.bpp, l.order, view, nullptr, data.data(), data.size()),
                RET_SUCCESS);
      EXPECT_TRUE(b->bytes_per_line == l.line && b->data_size == data.size());
      EXPECT_TRUE(b->flags & kernel::kBitmapDataAllocated);
      EXPECT_EQ(data_of(b.b), data);
      EXPECT_EQ(kernel::top_down_row(b.b, 0), view == kBottomUp ? 4 : 0);
      EXPECT_TRUE(kernel::storage_row(b.b, 4) == b->data + 4 * line &&
                  !kernel::storage_row(b.b, 5) && !kernel::storage_row(b.b, -1));
      ASSERT_EQ(kernel::fill_bitmap(b.get(), 0x00FFFFFF), RET_SUCCESS);  // must not show through
      ASSERT_EQ(kernel::fill_bitmap(b.get(), kFill), RET_SUCCESS);
      for (std::int32_t r = 0; r < 5; ++r) EXPECT_EQ(row_of(b, r), l.filled);
      ASSERT_EQ(kernel::fill_bitmap(b.get(), 0), RET_SUCCESS);  // black is 0 at every depth
      EXPECT_EQ(data_of(b.b), Bytes(data.size(), 0));
    }
}

// 12-bit samples share three bytes; pixel data go without the palette. Palettes: the
// caller's (cut to the depth); fills match a colour by its entry, only among the
// indices the depth can hold. Hostile sizes give no memory and an empty record; a record
// edited past its data is not filled.
TEST_F(HostKernel, RowsPalettesAndSizes) {
  std::uint8_t row[6] = {0, 0, 0, 0, 0, 0xEE};
  kernel::put_sample12(row, 0, 0xABC);
  kernel::put_sample12(row, 1, 0x123);
  kernel::put_sample12(row, 2, 0xFFF);
  EXPECT_EQ(Bytes(row, row + 6), (Bytes{0xBC, 0x3A, 0x12, 0xFF, 0x0F, 0xEE}));
  OwnedBitmap b, bits, big;
  make(b, 5, 3, 8, kIndex);
  kernel::free_pixel_data(b.get());
  EXPECT_TRUE(!b->data && b->palette_count == 256);
  std::vector<std::uint32_t> given(300, kernel::palette_entry(0xFF, 0xFF, 0xFF)), back(2);
  given[0] = kernel::palette_entry(0, 0, 0), given[1] = kernel::palette_entry(0x11, 0x22, 0x33);
  make(bits, 8, 1, 1, kIndex);
  EXPECT_EQ(kernel::put_palette(bits.get(), 0, 255, given.data()), RET_SUCCESS);  // two
  EXPECT_EQ(kernel::get_palette(bits.get(), 0, 255, back.data()), RET_SUCCESS);
  EXPECT_EQ(back, std::vector<std::uint32_t>(given.begin(), given.begin() + 2));
  EXPECT_EQ(kernel::put_palette(bits.get(), 2, 1, back.data()), RET_INVALID_PARAMETER);
  kernel::Palette* p = kernel::create_palette(given.data(), 300);  // wider than the depth
  ASSERT_EQ(kernel::set_palette(bits.get(), p), RET_SUCCESS);
  kernel::free_palette(p);
  ASSERT_EQ(kernel::fill_bitmap(bits.get(), 0x00FFFFFF), RET_SUCCESS);  // white: entry 2 on
  EXPECT_EQ(row_of(bits, 0), (Bytes{0xFF, 0, 0, 0}));
  EXPECT_EQ(kernel::set_palette(bits.get(), nullptr), RET_INVALID_PARAMETER);
  EXPECT_EQ(create(big, kMax, 1, 32, kRgb), RET_NO_MEMORY);  // a row over 2 GiB
  EXPECT_EQ(create(big, 65536, 65536, 32, kRgb), RET_NO_MEMORY);
  {
    testing_support::AllocationCap cap(1 << 16);
    ASSERT_EQ(create(big, 100, 100, 8, kIndex), RET_SUCCESS);
    big->width = big->height = 1000;  // the same record re-allocated above the cap
    EXPECT_EQ(kernel::allocate_pixel_data(big.get()), RET_NO_MEMORY);
    EXPECT_EQ(create(big, 1000, 1000, 24, kRgb), RET_NO_MEMORY);
    EXPECT_TRUE(!big->data && !big->palette && !(big->flags & kernel::kBitmapDataAllocated));
  }
  ASSERT_EQ(create(big, 4, 4, 24, kRgb), RET_SUCCESS);
  big->height = 400;
  EXPECT_EQ(kernel::fill_bitmap(big.get(), kFill), RET_INVALID_PARAMETER);
  big->height = 4;
  OwnedBitmap empty;
  EXPECT_EQ(kernel::fill_bitmap(empty.get(), kFill), RET_SUCCESS);
}

// ---------------------------------------------------------------------------------
// Combine

struct Placement {
  std::int32_t x, y, width, height, source_x, source_y;
};

// Every destination pixel whose offset from (x, y) lies in the rectangle and whose
// source pixel exists takes that source pixel; nothing else changes.
TEST_F(HostImaging, CombinePlacesExactlyAndClips) {
  const Placement placements[] = {
      {3, 1, 5, 3, 0, 0},        // odd destination x: inside a byte, second 12-bit half
      {4, 2, 6, 3, 1, 1},        // odd source x onto even destination x
      {5, 0, 7, 4, 3, 0},        // both odd
      {2, 3, 11, 5, 0, 0},       // the whole source
      {-2, -1, 6, 4, 0, 0},      // off the top left: the source's left columns are cut
      {17, 5, 11, 5, 0, 0},      // past the right and bottom edges
      {1, 1, 40, 40, 3, 2},      // running past the source
      {6, 2, 5, 3, -2, -1},      // before the source
      {0, 0, kMax, kMax, 0, 0},  // sizes that overflow any sum
      {kMin, 0, kMax, 3, 0, 0},  // ends just before the destination
      {kMax, kMax, 5, 3, 0, 0},  // nothing to copy
      {3, 1, 0, 3, 0, 0},
  };
  for (const Layout& l : kLayouts)
    for (int from : {kTopDown, kBottomUp})
      for (int to : {kTopDown, kBottomUp})
        for (const Placement& p : placements) {
          SCOPED_TRACE(::testing::Message() << l.name << " views " << from << to << " at " << p.x
                                            << "," << p.y << " size " << p.width << "x" << p.height
                                            << " from " << p.source_x << "," << p.source_y);
          OwnedBitmap source, target, expected;
          make(source, 11, 5, l.bpp, l.order, from);
          make(target, 21, 7, l.bpp, l.order, to);
          make(expected, 21, 7, l.bpp, l.order, to);
          scramble(source.b, 7);
          scramble(target.b, 99);
          std::memcpy(expected->data, target->data, target->data_size);
          for (std::int32_t Y = 0; Y < 7; ++Y)
            for (std::int32_t X = 0; X < 21; ++X) {
              const std::int64_t i = std::int64_t(X) - p.x, j = std::int64_t(Y) - p.y;
              const std::int64_t sx = p.source_x + i, sy = p.source_y + j;
              if (i >= 0 && j >= 0 && i < p.width && j < p.height && sx >= 0 && sy >= 0 &&
                  sx < 11 && sy < 5)
                set_pixel(expected.b, X, Y,
                          get_pixel(source.b, std::int32_t(sx), std::int32_t(sy)));
            }
          EXPECT_EQ(imgproc::combine(target.get(), p.x, p.y, p.width, p.height, source.get(),
                                     p.source_x, p.source_y, imgproc::kCombineCopy, 0),
                    RET_SUCCESS);
          EXPECT_EQ(data_of(target.b), data_of(expected.b));
        }
}

// ---------------------------------------------------------------------------------
// Intensity

// Whether the image drawing would brighten the bitmap: something below 20, nothing above.
bool looks_dark(Bitmap* b) {
  std::vector<std::uint64_t> counts(256);
  EXPECT_EQ(colour::histogram(b, counts.data(), 256, 0), RET_SUCCESS);
  std::uint64_t low = 0, high = 0;
  for (int v = 0; v < 256; ++v) (v < 20 ? low : high) += counts[std::size_t(v)];
  return low > 0 && high == 0;
}

// The rule on samples: the largest level present maps to round(full x min(value, 350)
// / 350), the others in proportion, rounded. Colour keeps its hue (the unused byte too);
// a palette image changes only its palette (unused entries follow, up to white).
TEST_F(HostImaging, Intensity) {
  const struct {
    int bpp;
    std::int32_t value;
    std::vector<std::uint32_t> before, after;
  } cases[] = {
      {8, 350, {0, 5, 10, 19}, {0, 67, 134, 255}},
      {8, 1000, {0, 5, 10, 19}, {0, 67, 134, 255}},
      {8, 175, {0, 5, 10, 19}, {0, 34, 67, 128}},
      {8, 0, {0, 5, 10, 19}, {0, 0, 0, 0}},
      {8, 350, {0, 19, 255}, {0, 19, 255}},
      {8, 350, {0, 0, 0}, {0, 0, 0}},
      {12, 350, {0, 100, 300, 299, 1}, {0, 1365, 4095, 4081, 14}},
      {16, 350, {0, 1000, 5000, 4999}, {0, 13107, 65535, 65522}},
      {1, 350, {0, 1, 0}, {0, 1, 0}},
  };
  for (const auto& c : cases) {
    OwnedBitmap b, expected;
    const auto width = std::int32_t(c.before.size());
    make(b, width, 3, c.bpp, kGrey, kBottomUp);
    make(expected, width, 3, c.bpp, kGrey, kBottomUp);
    scramble(b.b, 11);
    std::memcpy(expected->data, b->data, b->data_size);  // the same junk in the padding
    for (std::int32_t i = 0; i < 3 * width; ++i) {
      set_pixel(b.b, i % width, i / width, c.before[std::size_t(i % width)]);
      set_pixel(expected.b, i % width, i / width, c.after[std::size_t(i % width)]);
    }
    ASSERT_EQ(colour::intensity(b.get(), c.value, 0), RET_SUCCESS);
    EXPECT_EQ(data_of(b.b), data_of(expected.b)) << c.bpp << " bits at " << c.value;
  }
  for (int bpp : {24, 32}) {
    OwnedBitmap b;
    make(b, 3, 1, bpp, kRgb);
    set_pixel(b.b, 0, 0, 0xEE000A13u);  // blue 19, green 10, red 0 (unused byte EE)
    set_pixel(b.b, 1, 0, 0x00030201u);
    EXPECT_TRUE(looks_dark(b.get()));
    ASSERT_EQ(colour::intensity(b.get(), colour::kFullStretch, 0), RET_SUCCESS);
    EXPECT_EQ(get_pixel(b.b, 0, 0), (bpp == 32 ? 0xEE000000u : 0u) | 0x0086FFu) << bpp;
    EXPECT_EQ(get_pixel(b.b, 1, 0), 0x281B0Du);  // 3, 2, 1 -> 40, 27, 13
    EXPECT_EQ(get_pixel(b.b, 2, 0), 0u);
    EXPECT_FALSE(looks_dark(b.get()));
  }
  OwnedBitmap indexed, bits;
  make(indexed, 4, 2, 8, kIndex);  // the kernel's grey ramp: entry i is grey i
  const std::uint32_t indices[] = {0, 3, 19, 3};
  for (std::int32_t x = 0; x < 4; ++x) set_pixel(indexed.b, x, 0, indices[x]);
  indexed->palette[3] = kernel::palette_entry(3, 0, 1);
  const Bytes pixels = data_of(indexed.b);
  EXPECT_TRUE(looks_dark(indexed.get()));
  ASSERT_EQ(colour::intensity(indexed.get(), colour::kFullStretch, 0), RET_SUCCESS);
  EXPECT_EQ(data_of(indexed.b), pixels);
  EXPECT_EQ(indexed->palette[0], kernel::palette_entry(0, 0, 0));
  EXPECT_EQ(indexed->palette[3], kernel::palette_entry(40, 0, 13));
  EXPECT_EQ(indexed->palette[19], kernel::palette_entry(255, 255, 255));
  EXPECT_EQ(indexed->palette[10], kernel::palette_entry(134, 134, 134));
  EXPECT_EQ(indexed->palette[200], kernel::palette_entry(255, 255, 255));
  make(bits, 9, 1, 1, kIndex);  // a 1-bit image whose "white" is a dark red
  bits->palette[1] = kernel::palette_entry(12, 0, 0);
  set_pixel(bits.b, 8, 0, 1);
  ASSERT_EQ(colour::intensity(bits.get(), colour::kFullStretch, 0), RET_SUCCESS);
  EXPECT_EQ(bits->palette[1], kernel::palette_entry(255, 0, 0));
}

// ---------------------------------------------------------------------------------
// Paint

constexpr std::uint32_t kBackdrop = rgb(0x5A, 0x6B, 0x7C);
constexpr std::int64_t kNone = -1;  // an expectation of "the backdrop shows"

void make_canvas(OwnedBitmap& canvas, std::int32_t w, std::int32_t h, int bpp = 24,
                 int view = kTopDown) {
  make(canvas, w, h, bpp, bpp == 8 ? kGrey : kRgb, view);
  ASSERT_EQ(kernel::fill_bitmap(canvas.get(), kBackdrop), RET_SUCCESS);
}

// A 24-bit source whose pixel (x, y) is rgb(10 + x, 20 + y, 30 + x + y).
constexpr std::uint32_t marker(std::int32_t x, std::int32_t y) {
  return rgb(std::uint32_t(10 + x), std::uint32_t(20 + y), std::uint32_t(30 + x + y));
}

void make_marked(OwnedBitmap& b, std::int32_t w, std::int32_t h) {
  make(b, w, h, 24, kRgb);
  for (std::int32_t i = 0; i < w * h; ++i)
    set_pixel(b.b, i % w, i / w, swap_rb(marker(i % w, i / w)));
}

// Every canvas pixel: what `shown(x, y)` says, or the backdrop where it returns none.
template <class Shown>
void expect_canvas(Bitmap& canvas, Shown shown) {
  for (std::int32_t y = 0; y < canvas.height; ++y)
    for (std::int32_t x = 0; x < canvas.width; ++x) {
      const std::int64_t want = shown(x, y);
      EXPECT_EQ(colour_at(canvas, x, y), want == kNone ? kBackdrop : std::uint32_t(want))
          << "at " << x << "," << y;
    }
}

// Exactly the transparent colour is skipped: by colour for palette sources (whatever the
// entry's flag byte), by the three bytes for 24 and 32 bits, by the grey shown for deep
// grey.
TEST_F(HostImaging, TransparentPaint) {
  constexpr std::uint32_t kKey = rgb(1, 2, 3);
  const std::uint32_t colours[] = {kKey, rgb(1, 2, 4), kKey, rgb(0, 2, 3), rgb(1, 3, 3), kKey};
  OwnedBitmap palette_source, colour_source, x_source;
  make(palette_source, 6, 1, 8, kIndex);
  make(colour_source, 6, 1, 24, kRgb, kBottomUp);
  make(x_source, 6, 1, 32, kRgb);
  const std::uint32_t indices[] = {0, 1, 5, 2, 3, 0};
  for (std::int32_t x = 0; x < 6; ++x) {
    palette_source->palette[indices[x]] =
        kernel::entry_of_colour(colours[x]) | (x == 2 ? 0xFF000000u : 0);
    set_pixel(palette_source.b, x, 0, indices[x]);
    set_pixel(colour_source.b, x, 0, swap_rb(colours[x]));
    set_pixel(x_source.b, x, 0, swap_rb(colours[x]) | 0x7F000000u);
  }
  for (Bitmap* source : {palette_source.get(), colour_source.get(), x_source.get()}) {
    OwnedBitmap canvas;
    make_canvas(canvas, 12, 3, 24, kBottomUp);
    Context context(canvas.get());
    const Rect into{0, 1, 12, 3};  // each source pixel covers 2 x 2
    ASSERT_EQ(effects::transparent_paint(context.dc, source, &into, kKey, display::kSourceCopy),
              RET_SUCCESS);
    SCOPED_TRACE(source->bits_per_pixel);
    expect_canvas(canvas.b, [&](std::int32_t x, std::int32_t y) -> std::int64_t {
      return y == 0 || colours[x / 2] == kKey ? kNone : colours[x / 2];
    });
  }
  OwnedBitmap deep, canvas;
  make(deep, 3, 1, 12, kGrey);
  set_pixel(deep.b, 0, 0, 0x40F);  // shows grey 0x40: transparent
  set_pixel(deep.b, 1, 0, 0x410);
  set_pixel(deep.b, 2, 0, 0x3FF);
  make_canvas(canvas, 3, 1, 8);
  const std::uint32_t backdrop = get_pixel(canvas.b, 0, 0);
  Context context(canvas.get());
  const Rect into{0, 0, 3, 1};
  ASSERT_EQ(effects::transparent_paint(context.dc, deep.get(), &into, rgb(0x40, 0x40, 0x40),
                                       display::kSourceCopy),
            RET_SUCCESS);
  EXPECT_TRUE(backdrop != 0x40 && get_pixel(canvas.b, 0, 0) == backdrop);
  EXPECT_TRUE(get_pixel(canvas.b, 1, 0) == 0x41u && get_pixel(canvas.b, 2, 0) == 0x3Fu);
}

// A refusal of each kind from every imaging call (records whose fields no longer describe
// their data among them) leaves the destination as it was.
TEST_F(HostImaging, Refusals) {
  OwnedBitmap target, source, deeper, canvas, small, empty;
  make(target, 8, 8, 8, kIndex);
  make_marked(source, 4, 4);
  make(deeper, 4, 4, 16, kGrey);
  make_canvas(canvas, 6, 6);
  make(small, 2, 2, 24, kRgb);
  scramble(target.b, 1);
  const Bytes target_before = data_of(target.b), canvas_before = data_of(canvas.b);
  constexpr auto kBad = RET_INVALID_PARAMETER, kBitmap = RET_INVALID_BITMAP;
  auto combine = [&](const Bitmap* from, std::int32_t op = imgproc::kCombineCopy) {
    return imgproc::combine(target.get(), 0, 0, 4, 4, from, 0, 0, op, 0);
  };
  EXPECT_EQ(combine(empty.get()), kBitmap);
  EXPECT_EQ(combine(deeper.get()), kBad);
  deeper->bits_per_pixel = 8;
  EXPECT_EQ(combine(deeper.get(), 801), RET_NOT_SUPPORTED);
  for (auto edit : {&Bitmap::bytes_per_line, &Bitmap::height, &Bitmap::width}) {
    const std::int32_t was = deeper.b.*edit;  // rows too short, more rows than the data hold
    deeper.b.*edit = edit == &Bitmap::bytes_per_line ? 3 : kMax;
    EXPECT_EQ(combine(deeper.get()), kBitmap);
    deeper.b.*edit = was;
  }
  EXPECT_EQ(data_of(target.b), target_before);
  Bitmap planes[3] = {deeper.b, deeper.b, small.b};  // 4 x 4, 4 x 4 and 2 x 2
  EXPECT_EQ(colour::merge_planes(nullptr, planes, kSize, 0), kBad);
  EXPECT_EQ(colour::merge_planes(small.get(), planes, kSize, 0), kBad);
  planes[2] = deeper.b;
  EXPECT_EQ(colour::merge_planes(small.get(), planes, kSize, 0), kBad) << "a 2 x 2 target";
  Context context(canvas.get());
  const Rect into{0, 0, 4, 4}, inverted{4, 0, 0, 4}, outside{0, 0, 5, 4};
  const auto copy = display::kSourceCopy;
  EXPECT_EQ(display::paint(context.dc, source.get(), nullptr, nullptr, copy), kBad);
  EXPECT_EQ(display::paint(context.dc, source.get(), &outside, &into, copy), kBad);
  EXPECT_EQ(display::paint(context.dc, source.get(), nullptr, &inverted, copy), kBad);
  EXPECT_EQ(display::paint(context.dc, nullptr, nullptr, &into, copy), kBitmap);
  EXPECT_EQ(display::paint(context.dc, source.get(), nullptr, &into, 0x00EE0086),
            RET_NOT_SUPPORTED);
  canvas->data_size -= 1;  // the canvas one byte short of its last row
  EXPECT_EQ(effects::transparent_paint(context.dc, source.get(), &into, 0, copy), kBitmap);
  canvas->data_size += 1;
  EXPECT_EQ(data_of(canvas.b), canvas_before);
}

}  // namespace
