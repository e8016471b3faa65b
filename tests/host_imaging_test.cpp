// The imaging services the image drawing relies on: block placement (combine), the
// histogram and brightening of dark images, the merging of band planes, and painting
// with and without a transparent colour. Expected pictures are built pixel by pixel
// from the documented rules with helpers of this file, never from the code under test,
// and compared byte for byte so that a stray write in padding or beside a span shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
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
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSize = kernel::kBitmapRecordSize;
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr int kGrey = kernel::kColourGrey, kIndex = kernel::kColourPalette;
constexpr int kRgb = kernel::kColourRgb;

using testing_support::OwnedBitmap;

void make(OwnedBitmap& out, std::int32_t width, std::int32_t height, int bpp, int order,
          int view = kernel::kViewTopDown) {
  ASSERT_EQ(kernel::create_bitmap(out.get(), kSize, 1, width, height, bpp, order, nullptr, view,
                                  nullptr, 0),
            RET_SUCCESS);
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
  switch (b.bits_per_pixel) {
    case 1:
      return (row[x / 8] >> (7 - x % 8)) & 1;
    case 8:
      return row[x];
    case 12:
      return kernel::sample12(row, x);
    case 16:
      return std::uint32_t(row[2 * x]) | std::uint32_t(row[2 * x + 1]) << 8;
    default: {
      const std::uint8_t* p = row + x * (b.bits_per_pixel / 8);
      std::uint32_t v = p[0] | p[1] << 8 | std::uint32_t(p[2]) << 16;
      return b.bits_per_pixel == 32 ? v | std::uint32_t(p[3]) << 24 : v;
    }
  }
}

void set_pixel(Bitmap& b, std::int32_t x, std::int32_t y, std::uint32_t v) {
  std::uint8_t* row = display_row(b, y);
  switch (b.bits_per_pixel) {
    case 1:
      row[x / 8] = std::uint8_t((row[x / 8] & ~(0x80 >> x % 8)) | (v & 1) << (7 - x % 8));
      return;
    case 8:
      row[x] = std::uint8_t(v);
      return;
    case 12:
      return kernel::put_sample12(row, x, std::uint16_t(v));
    case 16:
      row[2 * x] = std::uint8_t(v);
      row[2 * x + 1] = std::uint8_t(v >> 8);
      return;
    default:
      for (int k = 0; k < b.bits_per_pixel / 8; ++k)
        row[x * (b.bits_per_pixel / 8) + k] = std::uint8_t(v >> 8 * k);
  }
}

// The colour a 24- or 32-bit canvas shows at (x, y).
std::uint32_t colour_at(Bitmap& b, std::int32_t x, std::int32_t y) {
  const std::uint32_t v = get_pixel(b, x, y);
  return rgb((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

std::uint32_t bytes_of(std::uint32_t colour) {  // 0x00BBGGRR -> stored B, G, R
  return rgb((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
}

Bytes data_of(const Bitmap& b) {
  return Bytes(b.data, b.data + b.data_size);
}

// Deterministic bytes covering every bit pattern, padding included.
void scramble(Bitmap& b, std::uint32_t seed) {
  for (std::uint64_t i = 0; i < b.data_size; ++i) {
    seed = seed * 1664525u + 1013904223u;
    b.data[i] = std::uint8_t(seed >> 24);
  }
}

struct Context {
  kernel::DrawingContext* dc;
  explicit Context(Bitmap* canvas) : dc(kernel::device_context_for_bitmap(canvas)) {}
  ~Context() { kernel::delete_device_context(dc); }
};

struct Layout {
  const char* name;
  int bpp;
  int order;
};

const Layout kLayouts[] = {{"Bit1", 1, kIndex},   {"Index8", 8, kIndex}, {"Grey12", 12, kGrey},
                           {"Grey16", 16, kGrey}, {"Bgr24", 24, kRgb},   {"Bgrx32", 32, kRgb}};

const char* view_name(int view) {
  return view == kernel::kViewTopDown ? "TopDown" : "BottomUp";
}

// ---------------------------------------------------------------------------------
// Combine

struct Placement {
  std::int32_t x, y, width, height, source_x, source_y;
};

// What combine must leave: every destination pixel whose offset from (x, y) lies in the
// rectangle and whose source pixel exists takes that source pixel.
void reference_combine(Bitmap& expected, Bitmap& source, const Placement& p) {
  for (std::int32_t Y = 0; Y < expected.height; ++Y)
    for (std::int32_t X = 0; X < expected.width; ++X) {
      const std::int64_t i = std::int64_t(X) - p.x, j = std::int64_t(Y) - p.y;
      const std::int64_t sx = p.source_x + i, sy = p.source_y + j;
      if (i < 0 || j < 0 || i >= p.width || j >= p.height || sx < 0 || sy < 0 ||
          sx >= source.width || sy >= source.height)
        continue;
      set_pixel(expected, X, Y, get_pixel(source, std::int32_t(sx), std::int32_t(sy)));
    }
}

class CombineLayouts : public ::testing::TestWithParam<std::tuple<Layout, int, int>> {};

TEST_P(CombineLayouts, PlacesExactlyAndClipsToBothBitmaps) {
  const auto [layout, source_view, target_view] = GetParam();
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
      {kMax, kMax, 5, 3, 0, 0}, {3, 1, 0, 3, 0, 0},  // nothing to copy
  };
  for (const Placement& p : placements) {
    SCOPED_TRACE(::testing::Message() << "at " << p.x << "," << p.y << " size " << p.width << "x"
                                      << p.height << " from " << p.source_x << "," << p.source_y);
    OwnedBitmap source, target, expected;
    make(source, 11, 5, layout.bpp, layout.order, source_view);
    make(target, 21, 7, layout.bpp, layout.order, target_view);
    make(expected, 21, 7, layout.bpp, layout.order, target_view);
    scramble(source.b, 7);
    scramble(target.b, 99);
    std::memcpy(expected->data, target->data, target->data_size);
    reference_combine(expected.b, source.b, p);
    EXPECT_EQ(imgproc::combine(target.get(), p.x, p.y, p.width, p.height, source.get(), p.source_x,
                               p.source_y, imgproc::kCombineCopy, 0),
              RET_SUCCESS);
    EXPECT_EQ(data_of(target.b), data_of(expected.b));
  }
}

INSTANTIATE_TEST_SUITE_P(
    HostImaging, CombineLayouts,
    ::testing::Combine(::testing::ValuesIn(kLayouts),
                       ::testing::Values(kernel::kViewTopDown, kernel::kViewBottomUp),
                       ::testing::Values(kernel::kViewTopDown, kernel::kViewBottomUp)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + view_name(std::get<1>(info.param)) +
             "_onto_" + view_name(std::get<2>(info.param));
    });

TEST(HostImagingCombine, RefusalsLeaveTheDestinationAlone) {
  OwnedBitmap target, source, deeper, empty;
  make(target, 8, 8, 8, kIndex);
  make(source, 4, 4, 8, kIndex);
  make(deeper, 4, 4, 16, kGrey);
  scramble(target.b, 1);
  scramble(source.b, 2);
  const Bytes before = data_of(target.b);
  auto run = [&](Bitmap* to, std::int32_t w, std::int32_t h, const Bitmap* from, std::int32_t op,
                 std::uint32_t flags) {
    return imgproc::combine(to, 0, 0, w, h, from, 0, 0, op, flags);
  };
  EXPECT_EQ(run(nullptr, 4, 4, source.get(), 800, 0), RET_INVALID_BITMAP);
  EXPECT_EQ(run(target.get(), 4, 4, nullptr, 800, 0), RET_INVALID_BITMAP);
  EXPECT_EQ(run(target.get(), 4, 4, empty.get(), 800, 0), RET_INVALID_BITMAP);
  EXPECT_EQ(run(target.get(), 4, 4, deeper.get(), 800, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(run(target.get(), -1, 4, source.get(), 800, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(run(target.get(), 4, -1, source.get(), 800, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(run(target.get(), 4, 4, target.get(), 800, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(run(target.get(), 4, 4, source.get(), 801, 0), RET_NOT_SUPPORTED);
  EXPECT_EQ(run(target.get(), 4, 4, source.get(), 800, 1), RET_NOT_SUPPORTED);
  // Records whose fields no longer describe their data.
  source->bytes_per_line = 3;
  EXPECT_EQ(run(target.get(), 4, 4, source.get(), 800, 0), RET_INVALID_BITMAP);
  source->bytes_per_line = 4;
  source->height = kMax;
  EXPECT_EQ(run(target.get(), 4, 4, source.get(), 800, 0), RET_INVALID_BITMAP);
  source->height = 4;
  source->width = kMax;
  EXPECT_EQ(run(target.get(), 4, 4, source.get(), 800, 0), RET_INVALID_BITMAP);
  source->width = 4;
  EXPECT_EQ(data_of(target.b), before);
}

// ---------------------------------------------------------------------------------
// Histogram, intensity, plane merge

struct HistogramCase {
  int bpp;
  int order;
  std::vector<std::uint32_t> pixels;  // stored values, one row
  std::vector<std::pair<int, std::uint64_t>> counts;
};

TEST(HostImagingColour, HistogramCountsOneLevelPerPixel) {
  const HistogramCase cases[] = {
      {8, kGrey, {0, 5, 5, 19, 200, 255, 5}, {{0, 1}, {5, 3}, {19, 1}, {200, 1}, {255, 1}}},
      {8, kIndex, {3, 3, 250}, {{3, 2}, {250, 1}}},
      {1, kIndex, {1, 0, 1, 1, 0, 1, 1, 1, 0, 1, 1}, {{0, 3}, {1, 8}}},
      // Deeper grey counts the top eight bits.
      {12, kGrey, {0x0FF, 0xABC, 0x010, 0xAB0, 0xFFF}, {{0x0F, 1}, {0xAB, 2}, {1, 1}, {0xFF, 1}}},
      {16, kGrey, {0xABCD, 0x00FF, 0xAB00}, {{0xAB, 2}, {0, 1}}},
      // Colour counts the largest channel; 32 bits ignore the unused byte.
      {24, kRgb, {0x0AC81E, 0, 0x090000, 0x020411}, {{200, 1}, {0, 1}, {9, 1}, {17, 1}}},
      {32, kRgb, {0xFA030201u, 0x00000000u}, {{3, 1}, {0, 1}}},
  };
  for (const HistogramCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.bpp << " bits, colour order " << c.order);
    OwnedBitmap b;
    const auto width = std::int32_t(c.pixels.size());
    make(b, width, 2, c.bpp, c.order, kernel::kViewBottomUp);
    scramble(b.b, 5);  // padding holds junk that must not be counted
    for (std::int32_t y = 0; y < 2; ++y)
      for (std::int32_t x = 0; x < width; ++x) set_pixel(b.b, x, y, c.pixels[std::size_t(x)]);
    std::vector<std::uint64_t> counts(256, 77);
    ASSERT_EQ(colour::histogram(b.get(), counts.data(), 256, 0), RET_SUCCESS);
    std::vector<std::uint64_t> expected(256, 0);
    for (const auto& [level, n] : c.counts) expected[std::size_t(level)] = 2 * n;
    EXPECT_EQ(counts, expected);
  }
}

TEST(HostImagingColour, HistogramRefusals) {
  OwnedBitmap b, empty;
  make(b, 4, 4, 8, kGrey);
  std::vector<std::uint64_t> counts(256, 77);
  EXPECT_EQ(colour::histogram(b.get(), nullptr, 256, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(colour::histogram(b.get(), counts.data(), 255, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(colour::histogram(b.get(), counts.data(), 256, 1), RET_NOT_SUPPORTED);
  EXPECT_EQ(colour::histogram(nullptr, counts.data(), 256, 0), RET_INVALID_BITMAP);
  EXPECT_EQ(colour::histogram(empty.get(), counts.data(), 256, 0), RET_INVALID_BITMAP);
  b->bits_per_pixel = 24;  // rows now too short for the width
  EXPECT_EQ(colour::histogram(b.get(), counts.data(), 256, 0), RET_INVALID_BITMAP);
  EXPECT_EQ(counts, std::vector<std::uint64_t>(256, 77));
}

// Whether the image drawing would brighten the bitmap: something below 20, nothing above.
bool looks_dark(Bitmap* b) {
  std::vector<std::uint64_t> counts(256);
  EXPECT_EQ(colour::histogram(b, counts.data(), 256, 0), RET_SUCCESS);
  std::uint64_t low = 0, high = 0;
  for (int v = 0; v < 256; ++v) (v < 20 ? low : high) += counts[std::size_t(v)];
  return low > 0 && high == 0;
}

struct StretchCase {
  const char* name;
  int bpp;
  std::int32_t value;
  std::vector<std::uint32_t> before, after;
};

// The documented rule on samples: the largest level present maps to
// round(full x min(value, 350) / 350), the others in proportion, rounded.
TEST(HostImagingColour, IntensityStretchesSamplesByTheDocumentedRule) {
  const StretchCase cases[] = {
      {"8-bit at 350", 8, 350, {0, 5, 10, 19}, {0, 67, 134, 255}},
      {"8-bit above 350 is 350", 8, 1000, {0, 5, 10, 19}, {0, 67, 134, 255}},
      {"8-bit at 175", 8, 175, {0, 5, 10, 19}, {0, 34, 67, 128}},
      {"8-bit at 0", 8, 0, {0, 5, 10, 19}, {0, 0, 0, 0}},
      {"8-bit already full", 8, 350, {0, 19, 255}, {0, 19, 255}},
      {"8-bit black", 8, 350, {0, 0, 0}, {0, 0, 0}},
      {"12-bit", 12, 350, {0, 100, 300, 299, 1}, {0, 1365, 4095, 4081, 14}},
      {"16-bit", 16, 350, {0, 1000, 5000, 4999}, {0, 13107, 65535, 65522}},
      {"1-bit grey", 1, 350, {0, 1, 0}, {0, 1, 0}},
  };
  for (const StretchCase& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedBitmap b;
    const auto width = std::int32_t(c.before.size());
    make(b, width, 3, c.bpp, kGrey, kernel::kViewBottomUp);
    scramble(b.b, 11);
    for (std::int32_t y = 0; y < 3; ++y)
      for (std::int32_t x = 0; x < width; ++x) set_pixel(b.b, x, y, c.before[std::size_t(x)]);
    Bitmap expected_record = b.b;  // same geometry, for the padding-aware comparison below
    Bytes expected = data_of(b.b);
    expected_record.data = expected.data();
    for (std::int32_t y = 0; y < 3; ++y)
      for (std::int32_t x = 0; x < width; ++x)
        set_pixel(expected_record, x, y, c.after[std::size_t(x)]);
    ASSERT_EQ(colour::intensity(b.get(), c.value, 0), RET_SUCCESS);
    EXPECT_EQ(data_of(b.b), expected);
  }
}

TEST(HostImagingColour, IntensityBrightensAColourImageKeepingItsHue) {
  for (int bpp : {24, 32}) {
    SCOPED_TRACE(bpp);
    OwnedBitmap b;
    make(b, 3, 1, bpp, kRgb);
    set_pixel(b.b, 0, 0, 0xEE000A13u);  // blue 19, green 10, red 0 (unused byte EE)
    set_pixel(b.b, 1, 0, 0x00030201u);
    set_pixel(b.b, 2, 0, 0x00000000u);
    EXPECT_TRUE(looks_dark(b.get()));
    ASSERT_EQ(colour::intensity(b.get(), colour::kFullStretch, 0), RET_SUCCESS);
    EXPECT_EQ(get_pixel(b.b, 0, 0), (bpp == 32 ? 0xEE000000u : 0u) | 0x0086FFu);
    EXPECT_EQ(get_pixel(b.b, 1, 0), 0x281B0Du);  // 3, 2, 1 -> 40, 27, 13
    EXPECT_EQ(get_pixel(b.b, 2, 0), 0u);
    EXPECT_FALSE(looks_dark(b.get()));
  }
}

TEST(HostImagingColour, IntensityOfAPaletteImageChangesOnlyThePalette) {
  OwnedBitmap b;
  make(b, 4, 2, 8, kIndex);  // the kernel's grey ramp: entry i is grey i
  const std::uint32_t indices[] = {0, 3, 19, 3};
  for (std::int32_t x = 0; x < 4; ++x) set_pixel(b.b, x, 0, indices[x]), set_pixel(b.b, x, 1, 0);
  b->palette[3] = kernel::palette_entry(3, 0, 1);
  const Bytes pixels = data_of(b.b);
  EXPECT_TRUE(looks_dark(b.get()));
  ASSERT_EQ(colour::intensity(b.get(), colour::kFullStretch, 0), RET_SUCCESS);
  EXPECT_EQ(data_of(b.b), pixels);
  EXPECT_EQ(b->palette[0], kernel::palette_entry(0, 0, 0));
  EXPECT_EQ(b->palette[3], kernel::palette_entry(40, 0, 13));
  EXPECT_EQ(b->palette[19], kernel::palette_entry(255, 255, 255));
  EXPECT_EQ(b->palette[10], kernel::palette_entry(134, 134, 134));   // unused entries follow
  EXPECT_EQ(b->palette[200], kernel::palette_entry(255, 255, 255));  // and stop at white

  OwnedBitmap bits;  // a 1-bit image whose "white" is a dark red
  make(bits, 9, 1, 1, kIndex);
  bits->palette[1] = kernel::palette_entry(12, 0, 0);
  set_pixel(bits.b, 8, 0, 1);
  ASSERT_EQ(colour::intensity(bits.get(), colour::kFullStretch, 0), RET_SUCCESS);
  EXPECT_EQ(bits->palette[1], kernel::palette_entry(255, 0, 0));
  EXPECT_EQ(get_pixel(bits.b, 8, 0), 1u);
}

TEST(HostImagingColour, IntensityRefusals) {
  OwnedBitmap b, empty;
  make(b, 4, 4, 8, kGrey);
  set_pixel(b.b, 0, 0, 7);
  const Bytes before = data_of(b.b);
  EXPECT_EQ(colour::intensity(nullptr, 350, 0), RET_INVALID_BITMAP);
  EXPECT_EQ(colour::intensity(empty.get(), 350, 0), RET_INVALID_BITMAP);
  EXPECT_EQ(colour::intensity(b.get(), -1, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(colour::intensity(b.get(), 350, 1), RET_NOT_SUPPORTED);
  b->data_size = 15;  // one byte short of the last row
  EXPECT_EQ(colour::intensity(b.get(), 350, 0), RET_INVALID_BITMAP);
  b->data_size = 16;
  EXPECT_EQ(data_of(b.b), before);
}

// Planes arrive in reverse band order, so entry 0 is blue.
void make_planes(Bitmap planes[3], std::int32_t width, std::int32_t height, const int views[3]) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(kernel::create_bitmap(&planes[i], kSize, 1, width, height, 8, kGrey, nullptr,
                                    views[i], nullptr, 0),
              RET_SUCCESS);
    for (std::int32_t y = 0; y < height; ++y)
      for (std::int32_t x = 0; x < width; ++x)
        set_pixel(planes[i], x, y, std::uint32_t(100 * i + 10 * y + x));
  }
}

struct Planes {
  Bitmap p[3];
  ~Planes() {
    for (Bitmap& b : p) kernel::free_bitmap(&b);
  }
};

TEST(HostImagingColour, MergeInterleavesBlueGreenRedPlanes) {
  const int views[3] = {kernel::kViewTopDown, kernel::kViewBottomUp, kernel::kViewTopDown};
  Planes planes;
  make_planes(planes.p, 3, 2, views);
  OwnedBitmap made, given;
  ASSERT_EQ(colour::merge_planes(made.get(), planes.p, kSize, 0), RET_SUCCESS);
  EXPECT_EQ(made->bits_per_pixel, 24);
  EXPECT_EQ(made->colour_order, kRgb);
  make(given, 3, 2, 24, kRgb, kernel::kViewBottomUp);
  ASSERT_EQ(colour::merge_planes(given.get(), planes.p, kSize, 0), RET_SUCCESS);
  for (Bitmap* b : {made.get(), given.get()})
    for (std::int32_t y = 0; y < 2; ++y)
      for (std::int32_t x = 0; x < 3; ++x) {
        const std::uint32_t level = std::uint32_t(10 * y + x);
        EXPECT_EQ(colour_at(*b, x, y), rgb(200 + level, 100 + level, level)) << x << "," << y;
      }
}

TEST(HostImagingColour, MergeRefusesPlanesThatDoNotAgree) {
  const int views[3] = {kernel::kViewTopDown, kernel::kViewTopDown, kernel::kViewTopDown};
  Planes planes;
  make_planes(planes.p, 3, 2, views);
  OwnedBitmap target, small;
  make(small, 2, 2, 24, kRgb);
  EXPECT_EQ(colour::merge_planes(nullptr, planes.p, kSize, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(colour::merge_planes(target.get(), nullptr, kSize, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(colour::merge_planes(target.get(), planes.p, kSize - 1, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(colour::merge_planes(target.get(), planes.p, kSize, 1), RET_NOT_SUPPORTED);
  EXPECT_EQ(colour::merge_planes(small.get(), planes.p, kSize, 0), RET_INVALID_PARAMETER);
  planes.p[1].width = 2;
  EXPECT_EQ(colour::merge_planes(target.get(), planes.p, kSize, 0), RET_INVALID_PARAMETER);
  planes.p[1].width = 3;
  planes.p[2].bits_per_pixel = 1;
  EXPECT_EQ(colour::merge_planes(target.get(), planes.p, kSize, 0), RET_INVALID_PARAMETER);
  planes.p[2].bits_per_pixel = 8;
  std::uint8_t* data = planes.p[0].data;
  planes.p[0].data = nullptr;
  EXPECT_EQ(colour::merge_planes(target.get(), planes.p, kSize, 0), RET_INVALID_BITMAP);
  planes.p[0].data = data;
  EXPECT_EQ(target->data, nullptr);
}

// ---------------------------------------------------------------------------------
// Paint

constexpr std::uint32_t kBackdrop = rgb(0x5A, 0x6B, 0x7C);
constexpr std::int64_t kNone = -1;  // an expectation of "the backdrop shows"

void make_canvas(OwnedBitmap& canvas, std::int32_t w, std::int32_t h, int bpp = 24,
                 int view = kernel::kViewTopDown) {
  make(canvas, w, h, bpp, bpp == 8 ? kGrey : kRgb, view);
  ASSERT_EQ(kernel::fill_bitmap(canvas.get(), kBackdrop), RET_SUCCESS);
}

// A 24-bit source whose pixel (x, y) is rgb(10 + x, 20 + y, 30 + x + y).
constexpr std::uint32_t marker(std::int32_t x, std::int32_t y) {
  return rgb(std::uint32_t(10 + x), std::uint32_t(20 + y), std::uint32_t(30 + x + y));
}
void make_marked(OwnedBitmap& b, std::int32_t w, std::int32_t h, int view = kernel::kViewTopDown) {
  make(b, w, h, 24, kRgb, view);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w; ++x) set_pixel(b.b, x, y, bytes_of(marker(x, y)));
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

// Where nearest-neighbour painting takes a destination coordinate from: the source
// pixel under the target pixel's centre, (at - from + 1/2) x count / (to - from).
std::int32_t nearest(std::int32_t at, std::int32_t from, std::int32_t to, std::int32_t first,
                     std::int32_t count) {
  const std::int64_t offset = 2 * (std::int64_t(at) - from) + 1, span = std::int64_t(to) - from;
  return first + std::int32_t(offset * count / (2 * span));
}

// A marked source (or part of it) painted into a 6 x 6 canvas: stretched, shrunk, cut by
// the canvas edges and by the context's clip; huge rectangles must not overflow.
TEST(HostImagingPaint, StretchesAndClipsByNearestNeighbour) {
  struct Case {
    const char* name;
    std::int32_t width, height;  // of the source
    Rect part;                   // of the source; empty for the whole source
    Rect into;
    Rect clip;  // of the context
  };
  const Rect whole{0, 0, 0, 0}, canvas_clip{0, 0, 6, 6};
  const Case cases[] = {
      {"doubled", 2, 2, whole, {1, 1, 5, 5}, canvas_clip},
      {"shrunk and uneven", 4, 3, whole, {0, 0, 2, 5}, canvas_clip},  // columns 4 -> 2, rows 3 -> 5
      {"part of the source", 5, 4, {2, 1, 4, 3}, {0, 0, 4, 2}, canvas_clip},
      {"negative offset", 4, 4, whole, {-2, -1, 2, 3}, canvas_clip},
      {"negative and stretched", 4, 4, whole, {-3, -3, 5, 5}, canvas_clip},
      {"beyond the canvas", 4, 4, whole, {4, 3, 8, 7}, canvas_clip},
      {"wholly above", 4, 4, whole, {-10, -10, -2, -2}, canvas_clip},
      {"wholly beyond", 4, 4, whole, {6, 0, 10, 4}, canvas_clip},
      {"empty", 4, 4, whole, {2, 2, 2, 6}, canvas_clip},
      {"context clip", 4, 4, whole, {0, 0, 4, 4}, {1, 2, 3, 3}},
      {"clip past the canvas", 4, 4, whole, {2, 2, 6, 6}, {-5, -5, 50, 50}},
      {"huge destination", 4, 4, whole, {-(1 << 30), -(1 << 30), kMax, kMax}, canvas_clip},
      {"widest destination", 4, 4, whole, {kMin, kMin, kMax, kMax}, canvas_clip},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedBitmap source, canvas;
    make_marked(source, c.width, c.height);
    make_canvas(canvas, 6, 6);
    Context context(canvas.get());
    context.dc->clip = c.clip;
    const bool has_part = c.part.right > c.part.left;
    const Rect from = has_part ? c.part : Rect{0, 0, c.width, c.height};
    ASSERT_EQ(display::paint(context.dc, source.get(), has_part ? &c.part : nullptr, &c.into,
                             display::kSourceCopy),
              RET_SUCCESS);
    const Rect& to = c.into;
    expect_canvas(canvas.b, [&](std::int32_t x, std::int32_t y) -> std::int64_t {
      if (x < to.left || y < to.top || x >= to.right || y >= to.bottom) return kNone;
      if (x < c.clip.left || y < c.clip.top || x >= c.clip.right || y >= c.clip.bottom)
        return kNone;
      return marker(nearest(x, to.left, to.right, from.left, from.right - from.left),
                    nearest(y, to.top, to.bottom, from.top, from.bottom - from.top));
    });
  }
}

// One source layout, with the colour the painter must show for each stored value.
struct SourceLayout {
  const char* name;
  int bpp;
  int order;
  std::vector<std::uint32_t> values;  // stored values, cycled over the pixels
  std::uint32_t (*shown)(const Bitmap& source, std::uint32_t value);
};

std::uint32_t through_palette(const Bitmap& b, std::uint32_t v) {
  return kernel::colour_of_entry(b.palette[v]);
}
std::uint32_t grey_of(std::uint32_t level) {
  return rgb(level, level, level);
}
template <int kShift>
std::uint32_t top_grey(const Bitmap&, std::uint32_t v) {
  return grey_of(v >> kShift);
}
std::uint32_t as_stored(const Bitmap&, std::uint32_t v) {  // the unused byte does not show
  return bytes_of(v & 0xFFFFFF);
}

const SourceLayout kSourceLayouts[] = {
    {"Bit1", 1, kIndex, {0, 1, 1, 0, 1, 0}, through_palette},
    {"Index8", 8, kIndex, {0, 7, 255, 128, 3, 64}, through_palette},
    {"Grey8", 8, kGrey, {0, 7, 255, 128, 3, 64}, top_grey<0>},
    {"Grey12", 12, kGrey, {0xABC, 0x00F, 0xFFF, 0x010, 0x7F0, 0x800}, top_grey<4>},
    {"Grey16", 16, kGrey, {0xABCD, 0x00FF, 0xFFFF, 0x0100, 0x7FFF, 0x8000}, top_grey<8>},
    {"Bgr24", 24, kRgb, {0x010203, 0xFFFFFF, 0, 0x80FF00, 0x123456, 0xFEDCBA}, as_stored},
    {"Bgrx32",
     32,
     kRgb,
     {0xFF010203, 0x00FFFFFF, 0x11000000, 0x0080FF00, 0x123456, 0xFEDCBA},
     as_stored},
};

// A source of the layout whose display picture does not depend on its view code. Palette
// layouts get a palette that is no grey ramp; the grey layout gets one too, which its
// colour order says to ignore.
void make_source(OwnedBitmap& b, const SourceLayout& layout, int view) {
  make(b, 3, 2, layout.bpp, layout.order, view);
  for (std::int32_t i = 0; i < b->palette_count; ++i)
    b->palette[i] =
        kernel::palette_entry(std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7));
  for (std::int32_t y = 0; y < 2; ++y)
    for (std::int32_t x = 0; x < 3; ++x)
      set_pixel(b.b, x, y, layout.values[std::size_t(3 * y + x)]);
}

class PaintLayouts : public ::testing::TestWithParam<std::tuple<SourceLayout, int, int, int>> {};

TEST_P(PaintLayouts, EveryLayoutShowsTheSamePictureInEitherRowOrder) {
  const auto [layout, source_view, canvas_view, canvas_bpp] = GetParam();
  OwnedBitmap source;
  make_source(source, layout, source_view);
  auto shown = [&](std::int32_t x, std::int32_t y) {
    return layout.shown(source.b, layout.values[std::size_t(3 * y + x)]);
  };
  const Rect same{2, 1, 5, 3}, doubled{1, 1, 7, 5};
  for (const Rect& into : {same, doubled}) {
    SCOPED_TRACE(into.right - into.left);
    OwnedBitmap canvas;
    make_canvas(canvas, 8, 6, canvas_bpp, canvas_view);
    Context context(canvas.get());
    ASSERT_EQ(display::paint(context.dc, source.get(), nullptr, &into, display::kSourceCopy),
              RET_SUCCESS);
    const std::int32_t scale = (into.right - into.left) / 3;
    expect_canvas(canvas.b, [&](std::int32_t x, std::int32_t y) -> std::int64_t {
      if (x < into.left || y < into.top || x >= into.right || y >= into.bottom) return kNone;
      return shown((x - into.left) / scale, (y - into.top) / scale);
    });
  }
}

INSTANTIATE_TEST_SUITE_P(
    HostImaging, PaintLayouts,
    ::testing::Combine(::testing::ValuesIn(kSourceLayouts),
                       ::testing::Values(kernel::kViewTopDown, kernel::kViewBottomUp),
                       ::testing::Values(kernel::kViewTopDown, kernel::kViewBottomUp),
                       ::testing::Values(24, 32)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + view_name(std::get<1>(info.param)) +
             "_onto_" + view_name(std::get<2>(info.param)) + "_" +
             std::to_string(std::get<3>(info.param));
    });

TEST(HostImagingPaint, ThirtyTwoBitCanvasGetsAZeroUnusedByte) {
  OwnedBitmap source, canvas;
  make(source, 2, 1, 32, kRgb);
  set_pixel(source.b, 0, 0, 0xAA112233u);
  set_pixel(source.b, 1, 0, 0xBB445566u);
  make(canvas, 2, 1, 32, kRgb);
  scramble(canvas.b, 3);
  Context context(canvas.get());
  const Rect into{0, 0, 2, 1};
  OwnedBitmap grey;
  make(grey, 2, 1, 8, kGrey);
  set_pixel(grey.b, 0, 0, 9);
  set_pixel(grey.b, 1, 0, 200);
  ASSERT_EQ(display::paint(context.dc, grey.get(), nullptr, &into, display::kSourceCopy),
            RET_SUCCESS);
  EXPECT_EQ(get_pixel(canvas.b, 0, 0), 0x00090909u);
  EXPECT_EQ(get_pixel(canvas.b, 1, 0), 0x00C8C8C8u);
  // The same layout is copied whole.
  ASSERT_EQ(display::paint(context.dc, source.get(), nullptr, &into, display::kSourceCopy),
            RET_SUCCESS);
  EXPECT_EQ(get_pixel(canvas.b, 0, 0), 0xAA112233u);
  EXPECT_EQ(get_pixel(canvas.b, 1, 0), 0xBB445566u);
}

TEST(HostImagingPaint, IndicesPastTheSourcePaletteAreBlack) {
  OwnedBitmap source, canvas;
  make(source, 2, 1, 8, kIndex);
  source->palette_count = 4;
  source->palette[3] = kernel::palette_entry(1, 2, 3);
  set_pixel(source.b, 0, 0, 3);
  set_pixel(source.b, 1, 0, 9);
  make_canvas(canvas, 2, 1);
  Context context(canvas.get());
  const Rect into{0, 0, 2, 1};
  ASSERT_EQ(display::paint(context.dc, source.get(), nullptr, &into, display::kSourceCopy),
            RET_SUCCESS);
  EXPECT_EQ(colour_at(canvas.b, 0, 0), rgb(1, 2, 3));
  EXPECT_EQ(colour_at(canvas.b, 1, 0), 0u);
}

TEST(HostImagingPaint, EightBitCanvases) {
  OwnedBitmap colours;  // red, blue, mid grey, white
  make(colours, 4, 1, 24, kRgb, kernel::kViewBottomUp);
  const std::uint32_t painted[] = {rgb(255, 0, 0), rgb(0, 0, 255), rgb(128, 128, 128),
                                   rgb(255, 255, 255)};
  for (std::int32_t x = 0; x < 4; ++x) set_pixel(colours.b, x, 0, bytes_of(painted[x]));
  const Rect into{0, 0, 8, 2};

  OwnedBitmap grey;  // luminance, BT.601
  make(grey, 8, 2, 8, kGrey);
  Context on_grey(grey.get());
  ASSERT_EQ(display::paint(on_grey.dc, colours.get(), nullptr, &into, display::kSourceCopy),
            RET_SUCCESS);
  const std::uint32_t levels[] = {76, 29, 128, 255};
  for (std::int32_t x = 0; x < 8; ++x) EXPECT_EQ(get_pixel(grey.b, x, 1), levels[x / 2]) << x;

  OwnedBitmap indexed;  // a palette holding the colours at known places, greys elsewhere
  make(indexed, 8, 2, 8, kIndex, kernel::kViewBottomUp);
  const std::uint32_t places[] = {200, 17, 90, 255};
  for (int i = 0; i < 4; ++i) indexed->palette[places[i]] = kernel::entry_of_colour(painted[i]);
  indexed->palette[128] = kernel::palette_entry(127, 128, 128);  // near, not equal
  indexed->palette[91] = indexed->palette[90];                   // equal, but later
  Context on_index(indexed.get());
  ASSERT_EQ(display::paint(on_index.dc, colours.get(), nullptr, &into, display::kSourceCopy),
            RET_SUCCESS);
  for (std::int32_t x = 0; x < 8; ++x) EXPECT_EQ(get_pixel(indexed.b, x, 0), places[x / 2]) << x;

  // A palette source maps through colours, not indices, unless the palettes agree.
  OwnedBitmap source;
  make(source, 2, 1, 8, kIndex);
  source->palette[1] = kernel::entry_of_colour(painted[1]);
  set_pixel(source.b, 0, 0, 1);
  set_pixel(source.b, 1, 0, 255);
  const Rect two{0, 0, 2, 1};
  ASSERT_EQ(display::paint(on_index.dc, source.get(), nullptr, &two, display::kSourceCopy),
            RET_SUCCESS);
  EXPECT_EQ(get_pixel(indexed.b, 0, 0), 17u);
  EXPECT_EQ(get_pixel(indexed.b, 1, 0), 255u);
  std::memcpy(source->palette, indexed->palette, 256 * sizeof(std::uint32_t));
  set_pixel(source.b, 0, 0, 91);  // the second of two equal entries: kept, not re-matched
  ASSERT_EQ(display::paint(on_index.dc, source.get(), nullptr, &two, display::kSourceCopy),
            RET_SUCCESS);
  EXPECT_EQ(get_pixel(indexed.b, 0, 0), 91u);
}

TEST(HostImagingPaint, PaletteFollowsTheBitmapAndIsTracked) {
  OwnedBitmap palette_image, colour_image, canvas;
  make(palette_image, 2, 2, 8, kIndex);
  palette_image->palette[5] = kernel::palette_entry(9, 8, 7);
  make(colour_image, 2, 2, 24, kRgb);
  make_canvas(canvas, 4, 4);
  const std::size_t live = kernel::live_objects();
  const std::size_t palettes = kernel::live_objects(kernel::ObjectKind::kPalette);
  {
    Context context(canvas.get());
    EXPECT_EQ(display::palette_for_bitmap(context.dc, colour_image.get()), nullptr);
    EXPECT_EQ(display::palette_for_bitmap(nullptr, palette_image.get()), nullptr);
    EXPECT_EQ(display::palette_for_bitmap(context.dc, nullptr), nullptr);
    // The image drawing's sequence: make, select, realise, paint, put back, free.
    kernel::Palette* palette = display::palette_for_bitmap(context.dc, palette_image.get());
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(kernel::live_objects(kernel::ObjectKind::kPalette), palettes + 1);
    EXPECT_EQ(palette->count, 256u);
    EXPECT_EQ(palette->entries[5], kernel::palette_entry(9, 8, 7));
    kernel::Palette* previous = kernel::select_palette(context.dc, palette);
    EXPECT_EQ(kernel::realize_palette(context.dc), 256u);
    const Rect into{0, 0, 4, 4};
    EXPECT_EQ(display::paint(context.dc, palette_image.get(), nullptr, &into, display::kSourceCopy),
              RET_SUCCESS);
    kernel::select_palette(context.dc, previous);
    kernel::free_palette(palette);
  }
  EXPECT_EQ(kernel::live_objects(), live);
}

TEST(HostImagingPaint, RefusalsLeaveTheCanvasAlone) {
  OwnedBitmap source, canvas, deep_canvas, empty;
  make_marked(source, 4, 4);
  make_canvas(canvas, 6, 6);
  make(deep_canvas, 6, 6, 16, kGrey);
  Context context(canvas.get()), deep(deep_canvas.get());
  const Bytes before = data_of(canvas.b);
  const Rect into{0, 0, 4, 4};
  const auto op = display::kSourceCopy;
  auto run = [&](const Bitmap* from, const Rect* part, const Rect* to, std::uint32_t raster) {
    return display::paint(context.dc, from, part, to, raster);
  };
  EXPECT_EQ(display::paint(nullptr, source.get(), nullptr, &into, op), RET_INVALID_PARAMETER);
  EXPECT_EQ(run(source.get(), nullptr, nullptr, op), RET_INVALID_PARAMETER);
  EXPECT_EQ(run(nullptr, nullptr, &into, op), RET_INVALID_BITMAP);
  EXPECT_EQ(run(empty.get(), nullptr, &into, op), RET_INVALID_BITMAP);
  EXPECT_EQ(run(source.get(), nullptr, &into, 0x00EE0086), RET_NOT_SUPPORTED);
  EXPECT_EQ(display::paint(deep.dc, source.get(), nullptr, &into, op), RET_NOT_SUPPORTED);
  for (const Rect& bad : {Rect{4, 0, 0, 4}, Rect{0, 4, 4, 0}})
    EXPECT_EQ(run(source.get(), nullptr, &bad, op), RET_INVALID_PARAMETER);
  for (const Rect& part : {Rect{0, 0, 5, 4}, Rect{-1, 0, 2, 2}, Rect{0, 3, 4, 5}, Rect{2, 2, 2, 3}})
    EXPECT_EQ(run(source.get(), &part, &into, op), RET_INVALID_PARAMETER);
  source->height = 1 << 20;  // more rows than the data hold
  EXPECT_EQ(run(source.get(), nullptr, &into, op), RET_INVALID_BITMAP);
  source->height = 4;
  source->bytes_per_line = 8;  // shorter than a row of 4 pixels
  EXPECT_EQ(run(source.get(), nullptr, &into, op), RET_INVALID_BITMAP);
  source->bytes_per_line = 12;
  canvas->data_size -= 1;
  EXPECT_EQ(run(source.get(), nullptr, &into, op), RET_INVALID_BITMAP);
  canvas->data_size += 1;
  context.dc->bitmap = nullptr;
  EXPECT_EQ(run(source.get(), nullptr, &into, op), RET_INVALID_BITMAP);
  context.dc->bitmap = canvas.get();
  EXPECT_EQ(data_of(canvas.b), before);
}

// ---------------------------------------------------------------------------------
// Transparent paint

TEST(HostImagingTransparent, SkipsExactlyTheTransparentColour) {
  constexpr std::uint32_t kKey = rgb(1, 2, 3);
  OwnedBitmap palette_source, colour_source, x_source;
  make(palette_source, 6, 1, 8, kIndex);
  palette_source->palette[0] = kernel::entry_of_colour(kKey);
  palette_source->palette[5] =
      kernel::entry_of_colour(kKey) | 0xFF000000u;  // same colour, flag byte set
  palette_source->palette[1] = kernel::entry_of_colour(rgb(1, 2, 4));
  palette_source->palette[2] = kernel::entry_of_colour(rgb(0, 2, 3));
  palette_source->palette[3] = kernel::entry_of_colour(rgb(1, 3, 3));
  const std::uint32_t indices[] = {0, 1, 5, 2, 3, 0};
  for (std::int32_t x = 0; x < 6; ++x) set_pixel(palette_source.b, x, 0, indices[x]);
  make(colour_source, 6, 1, 24, kRgb, kernel::kViewBottomUp);
  make(x_source, 6, 1, 32, kRgb);
  const std::uint32_t colours[] = {kKey, rgb(1, 2, 4), kKey, rgb(0, 2, 3), rgb(1, 3, 3), kKey};
  for (std::int32_t x = 0; x < 6; ++x) {
    set_pixel(colour_source.b, x, 0, bytes_of(colours[x]));
    set_pixel(x_source.b, x, 0, bytes_of(colours[x]) | 0x7F000000u);  // unused byte not compared
  }
  for (Bitmap* source : {palette_source.get(), colour_source.get(), x_source.get()}) {
    SCOPED_TRACE(source->bits_per_pixel);
    OwnedBitmap canvas;
    make_canvas(canvas, 12, 3, 24, kernel::kViewBottomUp);
    Context context(canvas.get());
    const Rect into{0, 1, 12, 3};  // each source pixel covers 2 x 2
    ASSERT_EQ(effects::transparent_paint(context.dc, source, &into, kKey, display::kSourceCopy),
              RET_SUCCESS);
    expect_canvas(canvas.b, [&](std::int32_t x, std::int32_t y) -> std::int64_t {
      return y == 0 || colours[x / 2] == kKey ? kNone : colours[x / 2];
    });
  }
}

TEST(HostImagingTransparent, GreySourcesCompareTheGreyShown) {
  OwnedBitmap source, canvas;
  make(source, 3, 1, 12, kGrey);
  set_pixel(source.b, 0, 0, 0x40F);  // shows grey 0x40: transparent
  set_pixel(source.b, 1, 0, 0x410);
  set_pixel(source.b, 2, 0, 0x3FF);
  make_canvas(canvas, 3, 1, 8);
  const std::uint32_t backdrop = get_pixel(canvas.b, 0, 0);
  ASSERT_NE(backdrop, 0x40u);
  Context context(canvas.get());
  const Rect into{0, 0, 3, 1};
  ASSERT_EQ(effects::transparent_paint(context.dc, source.get(), &into, rgb(0x40, 0x40, 0x40),
                                       display::kSourceCopy),
            RET_SUCCESS);
  EXPECT_EQ(get_pixel(canvas.b, 0, 0), backdrop);
  EXPECT_EQ(get_pixel(canvas.b, 1, 0), 0x41u);
  EXPECT_EQ(get_pixel(canvas.b, 2, 0), 0x3Fu);
}

TEST(HostImagingTransparent, RefusesWhatPaintRefuses) {
  OwnedBitmap source, canvas;
  make_marked(source, 2, 2);
  make_canvas(canvas, 4, 4);
  Context context(canvas.get());
  const Bytes before = data_of(canvas.b);
  const Rect into{0, 0, 4, 4}, inverted{4, 0, 0, 4};
  EXPECT_EQ(effects::transparent_paint(context.dc, source.get(), &into, 0, 0x00660046),
            RET_NOT_SUPPORTED);
  EXPECT_EQ(effects::transparent_paint(context.dc, nullptr, &into, 0, display::kSourceCopy),
            RET_INVALID_BITMAP);
  EXPECT_EQ(effects::transparent_paint(context.dc, source.get(), nullptr, 0, display::kSourceCopy),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(
      effects::transparent_paint(context.dc, source.get(), &inverted, 0, display::kSourceCopy),
      RET_INVALID_PARAMETER);
  EXPECT_EQ(effects::transparent_paint(nullptr, source.get(), &into, 0, display::kSourceCopy),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(data_of(canvas.b), before);
}

// The image drawing's brightening path end to end: a dark palette image is found dark,
// brightened, and then shows its brightest pixel white.
TEST(HostImagingColour, BrightenedDarkImagePaintsVisibly) {
  OwnedBitmap image, canvas;
  make(image, 2, 1, 8, kIndex);  // grey ramp palette, as a MONO image gets
  set_pixel(image.b, 0, 0, 19);
  set_pixel(image.b, 1, 0, 4);
  ASSERT_TRUE(looks_dark(image.get()));
  ASSERT_EQ(colour::intensity(image.get(), colour::kFullStretch, 0), RET_SUCCESS);
  make_canvas(canvas, 2, 1);
  Context context(canvas.get());
  const Rect into{0, 0, 2, 1};
  ASSERT_EQ(display::paint(context.dc, image.get(), nullptr, &into, display::kSourceCopy),
            RET_SUCCESS);
  EXPECT_EQ(colour_at(canvas.b, 0, 0), rgb(255, 255, 255));
  EXPECT_EQ(colour_at(canvas.b, 1, 0), rgb(54, 54, 54));
}

}  // namespace
