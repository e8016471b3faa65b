// Kernel bitmaps, palette objects and drawing contexts: the byte layout of every pixel
// format as the readers and painters rely on it, both row orders, and the refusals
// that keep hostile sizes and stray indices from turning into crashes or leaks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "kernel/bitmap.h"
#include "kernel/dc.h"
#include "kernel/memory.h"
#include "kernel/palette.h"
#include "testing.h"

namespace {

using kernel::Bitmap;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSize = kernel::kBitmapRecordSize;

using testing_support::AllocationCap;
using testing_support::OwnedBitmap;

std::int32_t create(Bitmap* b, std::int32_t width, std::int32_t height, int bpp, int order,
                    int view = kernel::kViewTopDown, const std::uint32_t* palette = nullptr,
                    const void* data = nullptr, std::uint64_t data_size = 0) {
  return kernel::create_bitmap(b, kSize, 1, width, height, bpp, order, palette, view, data,
                               data_size);
}

Bytes row_of(const Bitmap& b, std::int32_t row) {
  Bytes out(static_cast<std::size_t>(b.bytes_per_line), 0xEE);
  EXPECT_EQ(kernel::get_row(&b, out.data(), row, static_cast<std::uint32_t>(out.size())),
            RET_SUCCESS);
  return out;
}

Bytes repeat(const Bytes& unit, int times, const Bytes& tail) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

// The fill colour of the layout table: red A0, green E0, blue C0. Its luminance is 0xC9;
// the nearest grey of a ramp is 0xC0; of black and white, white.
constexpr std::uint32_t kFill = 0x00C0E0A0;

struct Layout {
  std::string name;
  int bpp;
  int order;
  std::int32_t bytes_per_line_at_7;  // a width of 7 pads every layout but 32 bits
  Bytes filled_row_at_7;             // storage bytes of one row filled with kFill
};

std::vector<Layout> layouts() {
  return {
      {"Bit1", 1, kernel::kColourPalette, 4, {0xFE, 0, 0, 0}},
      {"Palette8", 8, kernel::kColourPalette, 8, repeat({0xC0}, 7, {0})},
      {"Grey8", 8, kernel::kColourGrey, 8, repeat({0xC9}, 7, {0})},
      {"Grey12", 12, kernel::kColourGrey, 12, repeat({0x9C, 0xCC, 0xC9}, 3, {0x9C, 0x0C, 0})},
      {"Grey16", 16, kernel::kColourGrey, 16, repeat({0xC9, 0xC9}, 7, {0, 0})},
      {"Bgr24", 24, kernel::kColourRgb, 24, repeat({0xC0, 0xE0, 0xA0}, 7, {0, 0, 0})},
      {"Bgrx32", 32, kernel::kColourRgb, 28, repeat({0xC0, 0xE0, 0xA0, 0}, 7, {})},
  };
}

class KernelBitmapLayout : public testing::TestWithParam<std::tuple<Layout, int>> {
 protected:
  const Layout& layout() const { return std::get<0>(GetParam()); }
  int view() const { return std::get<1>(GetParam()); }
};

// Geometry, the display-to-storage row map, and row transfers that address storage rows.
TEST_P(KernelBitmapLayout, GeometryRowOrderAndRowTransfers) {
  OwnedBitmap b;
  ASSERT_EQ(create(&b.b, 7, 5, layout().bpp, layout().order, view()), RET_SUCCESS);
  EXPECT_EQ(b->bytes_per_line, layout().bytes_per_line_at_7);
  EXPECT_EQ(b->data_size, std::uint64_t(layout().bytes_per_line_at_7) * 5);
  EXPECT_TRUE(b->flags & kernel::kBitmapDataAllocated);
  // Display row 0 is storage row 0 top-down and the last storage row bottom-up.
  std::int32_t top = view() == kernel::kViewBottomUp ? 4 : 0;
  EXPECT_EQ(kernel::top_down_row(b.b, 0), top);
  EXPECT_EQ(kernel::top_down_row(b.b, 4), 4 - top);
  EXPECT_EQ(kernel::storage_row(b.b, 0), b->data);
  EXPECT_EQ(kernel::storage_row(b.b, 4), b->data + 4 * b->bytes_per_line);
  EXPECT_EQ(kernel::storage_row(b.b, 5), nullptr);
  EXPECT_EQ(kernel::storage_row(b.b, -1), nullptr);

  const auto line = static_cast<std::size_t>(b->bytes_per_line);
  std::vector<Bytes> written;
  for (std::int32_t r = 0; r < 5; ++r) {
    Bytes row(line);
    for (std::size_t i = 0; i < line; ++i) row[i] = static_cast<std::uint8_t>(r * 50 + i + 1);
    ASSERT_EQ(kernel::put_row(&b.b, row.data(), r, std::uint32_t(line)), RET_SUCCESS);
    written.push_back(row);
  }
  for (std::int32_t r = 0; r < 5; ++r) {
    EXPECT_EQ(row_of(b.b, r), written[std::size_t(r)]) << "storage row " << r;
    EXPECT_EQ(std::memcmp(b->data + std::size_t(r) * line, written[std::size_t(r)].data(), line),
              0);
  }
}

// Given data are copied in storage order; fills write every row and leave padding zero.
TEST_P(KernelBitmapLayout, CreateCopiesGivenDataAndFillWritesEveryRow) {
  const std::size_t image = std::size_t(layout().bytes_per_line_at_7) * 3;
  Bytes data(image);
  for (std::size_t i = 0; i < image; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  OwnedBitmap b;
  ASSERT_EQ(
      create(&b.b, 7, 3, layout().bpp, layout().order, view(), nullptr, data.data(), data.size()),
      RET_SUCCESS);
  Bytes first(data.begin(), data.begin() + layout().bytes_per_line_at_7);
  EXPECT_EQ(row_of(b.b, 0), first);
  EXPECT_EQ(std::memcmp(b->data, data.data(), image), 0);

  ASSERT_EQ(kernel::fill_bitmap(&b.b, 0x00FFFFFF), RET_SUCCESS);  // must not show through
  ASSERT_EQ(kernel::fill_bitmap(&b.b, kFill), RET_SUCCESS);
  for (std::int32_t r = 0; r < 3; ++r) EXPECT_EQ(row_of(b.b, r), layout().filled_row_at_7);
  // Black is index 0 of the grey ramp and 0 at every depth: no earlier bit survives.
  ASSERT_EQ(kernel::fill_bitmap(&b.b, 0), RET_SUCCESS);
  for (std::int32_t r = 0; r < 3; ++r) EXPECT_EQ(row_of(b.b, r), Bytes(b->bytes_per_line, 0));
}

INSTANTIATE_TEST_SUITE_P(KernelBitmapLayouts, KernelBitmapLayout,
                         testing::Combine(testing::ValuesIn(layouts()),
                                          testing::Values(kernel::kViewTopDown,
                                                          kernel::kViewBottomUp)),
                         [](const auto& info) {
                           return std::get<0>(info.param).name +
                                  (std::get<1>(info.param) == 1 ? "TopDown" : "BottomUp");
                         });

TEST(KernelBitmap, RecordSizeIsCheckedByEveryCallTakingIt) {
  static_assert(sizeof(Bitmap) == 216);
  Bitmap b;
  EXPECT_EQ(kernel::init_bitmap(&b, 215), RET_INVALID_PARAMETER);
  EXPECT_EQ(kernel::init_bitmap(&b, 217), RET_INVALID_PARAMETER);
  EXPECT_EQ(kernel::init_bitmap(nullptr, kSize), RET_INVALID_PARAMETER);
  EXPECT_EQ(kernel::init_bitmap(&b, kSize), RET_SUCCESS);
  EXPECT_EQ(kernel::create_bitmap(&b, 212, 1, 4, 4, 8, 0, nullptr, 1, nullptr, 0),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(b.data, nullptr);
}

TEST(KernelBitmap, RowsRoundUpToFourBytes) {
  struct Case {
    std::int32_t width;
    int bpp;
    std::int32_t bytes;
  } cases[] = {{1001, 24, 3004}, {1000, 24, 3000}, {33, 1, 8}, {32, 1, 4}, {3, 12, 8},
               {2, 12, 4},       {5, 8, 8},        {3, 16, 8}, {1, 32, 4}, {0, 24, 0}};
  for (const Case& c : cases) {
    OwnedBitmap b;
    int order = c.bpp >= 24  ? kernel::kColourRgb
                : c.bpp == 1 ? kernel::kColourPalette
                             : kernel::kColourGrey;
    ASSERT_EQ(create(&b.b, c.width, 3, c.bpp, order), RET_SUCCESS);
    EXPECT_EQ(b->bytes_per_line, c.bytes) << c.width << " pixels at " << c.bpp;
    EXPECT_EQ(b->data_size, std::uint64_t(c.bytes) * 3);
  }
}

TEST(KernelBitmap, TwelveBitSamplesShareThreeBytes) {
  std::uint8_t row[6] = {0, 0, 0, 0, 0, 0xEE};
  kernel::put_sample12(row, 0, 0xABC);
  kernel::put_sample12(row, 1, 0x123);
  kernel::put_sample12(row, 2, 0xFFF);
  EXPECT_EQ(Bytes(row, row + 6), (Bytes{0xBC, 0x3A, 0x12, 0xFF, 0x0F, 0xEE}));
  EXPECT_EQ(kernel::sample12(row, 0), 0xABC);
  EXPECT_EQ(kernel::sample12(row, 1), 0x123);
  EXPECT_EQ(kernel::sample12(row, 2), 0xFFF);
  kernel::put_sample12(row, 0, 0x000);  // a neighbour's nibble survives
  EXPECT_EQ(kernel::sample12(row, 1), 0x123);

  // A fill takes the luminance to 12 bits by repeating its top bits: 0x5A -> 0x5A5.
  OwnedBitmap b;
  ASSERT_EQ(create(&b.b, 3, 2, 12, kernel::kColourGrey, kernel::kViewBottomUp), RET_SUCCESS);
  ASSERT_EQ(kernel::fill_bitmap(&b.b, 0x005A5A5A), RET_SUCCESS);
  EXPECT_EQ(row_of(b.b, 1), (Bytes{0xA5, 0x55, 0x5A, 0xA5, 0x05, 0, 0, 0}));
}

TEST(KernelBitmap, FillConvertsColourForEachKindOfPixel) {
  // Pure red lies in the lowest byte of a colour and last in a 24-bit pixel.
  OwnedBitmap rgb;
  ASSERT_EQ(create(&rgb.b, 1, 1, 24, kernel::kColourRgb), RET_SUCCESS);
  ASSERT_EQ(kernel::fill_bitmap(&rgb.b, 0x000000FF), RET_SUCCESS);
  EXPECT_EQ(row_of(rgb.b, 0), (Bytes{0, 0, 0xFF, 0}));

  // Grey depths: luminance of pure red is 76 (0x4C).
  OwnedBitmap grey16;
  ASSERT_EQ(create(&grey16.b, 1, 1, 16, kernel::kColourGrey), RET_SUCCESS);
  ASSERT_EQ(kernel::fill_bitmap(&grey16.b, 0x000000FF), RET_SUCCESS);
  std::uint16_t sample = 0;
  std::memcpy(&sample, grey16->data, 2);
  EXPECT_EQ(sample, 0x4C4C);

  // A palette bitmap takes the index of the matching entry, with its bytes blue, green,
  // red: the entry with red and blue swapped must not win.
  std::vector<std::uint32_t> palette(256, kernel::palette_entry(0xFF, 0xFF, 0xFF));
  palette[57] = kernel::palette_entry(0x33, 0x22, 0x11);
  palette[200] = kernel::palette_entry(0x11, 0x22, 0x33);
  OwnedBitmap indexed;
  ASSERT_EQ(create(&indexed.b, 2, 2, 8, kernel::kColourPalette, 1, palette.data()), RET_SUCCESS);
  ASSERT_EQ(kernel::fill_bitmap(&indexed.b, 0x00332211), RET_SUCCESS);
  EXPECT_EQ(row_of(indexed.b, 1), (Bytes{200, 200, 0, 0}));
  ASSERT_EQ(kernel::fill_bitmap(&indexed.b, 0x00FFFFFF), RET_SUCCESS);
  EXPECT_EQ(row_of(indexed.b, 0), (Bytes{0, 0, 0, 0}));  // the first of equal entries
}

TEST(KernelBitmap, FillRefusesGeometryLargerThanTheData) {
  OwnedBitmap b;
  ASSERT_EQ(create(&b.b, 4, 4, 24, kernel::kColourRgb), RET_SUCCESS);
  b->width = 4000;  // a caller editing the public fields must not make the fill overrun
  EXPECT_EQ(kernel::fill_bitmap(&b.b, kFill), RET_INVALID_PARAMETER);
  b->width = 4;
  b->height = 400;
  EXPECT_EQ(kernel::fill_bitmap(&b.b, kFill), RET_INVALID_PARAMETER);
  b->height = 4;

  OwnedBitmap empty;
  EXPECT_EQ(kernel::fill_bitmap(&empty.b, kFill), RET_SUCCESS);  // nothing to paint
  EXPECT_EQ(kernel::fill_bitmap(nullptr, kFill), RET_INVALID_PARAMETER);
}

TEST(KernelBitmap, RefusesBadArgumentsAndKeepsTheRecord) {
  struct Case {
    const char* what;
    int memory_kind;
    std::int32_t width, height;
    int bpp, order, view;
  } cases[] = {
      {"negative width", 1, -1, 4, 8, 2, 1},   {"negative height", 1, 4, -5, 8, 2, 1},
      {"zero bits", 1, 4, 4, 0, 2, 1},         {"4 bits", 1, 4, 4, 4, 0, 1},
      {"48 bits", 1, 4, 4, 48, 1, 1},          {"colour order 3", 1, 4, 4, 8, 3, 1},
      {"view code 2", 1, 4, 4, 8, 2, 2},       {"memory kind 0", 0, 4, 4, 8, 2, 1},
      {"colour order -1", 1, 4, 4, 24, -1, 4},
  };
  OwnedBitmap b;
  ASSERT_EQ(create(&b.b, 2, 2, 8, kernel::kColourGrey), RET_SUCCESS);
  const std::uint8_t* data = b->data;
  for (const Case& c : cases) {
    EXPECT_EQ(kernel::create_bitmap(&b.b, kSize, c.memory_kind, c.width, c.height, c.bpp, c.order,
                                    nullptr, c.view, nullptr, 0),
              RET_INVALID_PARAMETER)
        << c.what;
    EXPECT_EQ(b->data, data) << c.what;
    EXPECT_EQ(b->width, 2) << c.what;
  }
}

TEST(KernelBitmap, HostileSizesBecomeNoMemory) {
  const std::int32_t huge = std::numeric_limits<std::int32_t>::max();
  OwnedBitmap b;
  EXPECT_EQ(create(&b.b, huge, huge, 32, kernel::kColourRgb), RET_NO_MEMORY);
  EXPECT_EQ(create(&b.b, huge, 1, 32, kernel::kColourRgb), RET_NO_MEMORY);       // row > 2 GiB
  EXPECT_EQ(create(&b.b, 65536, 65536, 32, kernel::kColourRgb), RET_NO_MEMORY);  // 16 GiB
  {
    AllocationCap cap(1 << 16);
    EXPECT_EQ(create(&b.b, 1000, 1000, 24, kernel::kColourRgb), RET_NO_MEMORY);
    EXPECT_EQ(b->data, nullptr);
    EXPECT_EQ(b->flags & kernel::kBitmapDataAllocated, 0u);
    EXPECT_EQ(b->palette, nullptr);
    // Within the cap, and then the same geometry re-allocated above it.
    ASSERT_EQ(create(&b.b, 100, 100, 8, kernel::kColourPalette), RET_SUCCESS);
    b->width = 1000;
    b->height = 1000;
    EXPECT_EQ(kernel::allocate_pixel_data(&b.b), RET_NO_MEMORY);
    EXPECT_EQ(b->data, nullptr);
  }
  EXPECT_EQ(create(&b.b, 1000, 1000, 24, kernel::kColourRgb), RET_SUCCESS);
}

TEST(KernelBitmap, GivenDataIsCutToTheImage) {
  OwnedBitmap b;
  Bytes shorter(10, 0x77);
  ASSERT_EQ(create(&b.b, 4, 4, 8, kernel::kColourGrey, 1, nullptr, shorter.data(), 10),
            RET_SUCCESS);
  EXPECT_EQ(row_of(b.b, 2), (Bytes{0x77, 0x77, 0, 0}));
  Bytes longer(1000, 0x55);
  ASSERT_EQ(create(&b.b, 4, 4, 8, kernel::kColourGrey, 1, nullptr, longer.data(), 1000),
            RET_SUCCESS);
  EXPECT_EQ(b->data_size, 16u);
  EXPECT_EQ(row_of(b.b, 3), (Bytes{0x55, 0x55, 0x55, 0x55}));
}

TEST(KernelBitmap, RowTransfersStayInsideRowAndBitmap) {
  OwnedBitmap b;
  ASSERT_EQ(create(&b.b, 5, 3, 8, kernel::kColourGrey), RET_SUCCESS);
  ASSERT_EQ(kernel::fill_bitmap(&b.b, 0x00101010), RET_SUCCESS);
  Bytes buffer(20, 0xEE);
  EXPECT_EQ(kernel::get_row(&b.b, buffer.data(), 1, 20), RET_SUCCESS);
  EXPECT_EQ(buffer, (Bytes{0x10, 0x10, 0x10, 0x10, 0x10, 0,    0,    0,    0xEE, 0xEE,
                           0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  Bytes wide(20, 0x99);
  EXPECT_EQ(kernel::put_row(&b.b, wide.data(), 0, 20), RET_SUCCESS);  // only 8 bytes land
  EXPECT_EQ(row_of(b.b, 1)[0], 0x10);
  EXPECT_EQ(kernel::put_row(&b.b, wide.data(), 2, 3), RET_SUCCESS);
  EXPECT_EQ(row_of(b.b, 2), (Bytes{0x99, 0x99, 0x99, 0x10, 0x10, 0, 0, 0}));

  Bytes untouched(8, 0xEE);
  for (std::int32_t row : {-1, 3, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(kernel::get_row(&b.b, untouched.data(), row, 8), RET_INVALID_PARAMETER) << row;
    EXPECT_EQ(kernel::put_row(&b.b, wide.data(), row, 8), RET_INVALID_PARAMETER) << row;
  }
  EXPECT_EQ(untouched, Bytes(8, 0xEE));
  EXPECT_EQ(kernel::get_row(&b.b, nullptr, 0, 8), RET_INVALID_PARAMETER);
  // Row access nests; an unbalanced end is refused.
  EXPECT_EQ(kernel::begin_row_access(&b.b), RET_SUCCESS);
  EXPECT_EQ(kernel::begin_row_access(&b.b), RET_SUCCESS);
  EXPECT_EQ(kernel::end_row_access(&b.b), RET_SUCCESS);
  EXPECT_EQ(kernel::end_row_access(&b.b), RET_SUCCESS);
  EXPECT_EQ(kernel::end_row_access(&b.b), RET_INVALID_PARAMETER);
  kernel::free_pixel_data(&b.b);
  EXPECT_EQ(kernel::get_row(&b.b, untouched.data(), 0, 8), RET_INVALID_PARAMETER);
}

TEST(KernelBitmap, PalettesComeFromTheCallerOrAGreyRamp) {
  OwnedBitmap bilevel;
  ASSERT_EQ(create(&bilevel.b, 8, 1, 1, kernel::kColourPalette), RET_SUCCESS);
  ASSERT_EQ(bilevel->palette_count, 2);
  EXPECT_EQ(bilevel->palette[0], kernel::palette_entry(0, 0, 0));
  EXPECT_EQ(bilevel->palette[1], kernel::palette_entry(255, 255, 255));

  std::vector<std::uint32_t> given(256);
  for (std::uint32_t i = 0; i < 256; ++i) given[i] = kernel::palette_entry(i, 255 - i, i / 2);
  OwnedBitmap indexed;
  ASSERT_EQ(create(&indexed.b, 2, 2, 8, kernel::kColourRgb, 1, given.data()), RET_SUCCESS);
  std::vector<std::uint32_t> read(256);
  ASSERT_EQ(kernel::get_palette(&indexed.b, 0, 256, read.data()), RET_SUCCESS);
  EXPECT_EQ(read, given);

  OwnedBitmap colour;
  ASSERT_EQ(create(&colour.b, 2, 2, 24, kernel::kColourRgb, 1, given.data()), RET_SUCCESS);
  EXPECT_EQ(colour->palette_count, 0);
  EXPECT_EQ(colour->palette, nullptr);

  // The grey ramps, from black to white, with room for a caller copying a full 8-bit
  // palette: entries past the ramp are 0 (black).
  const struct {
    int bits;
    std::uint32_t index, level;
  } ramps[] = {{1, 0, 0},    {1, 1, 255}, {1, 255, 0},     {4, 1, 17},
               {4, 15, 255}, {4, 16, 0},  {8, 0x40, 0x40}, {8, 0x80, 0x80}};
  for (const auto& r : ramps) {
    std::uint32_t* ramp = kernel::grey_palette(r.bits);
    ASSERT_NE(ramp, nullptr) << r.bits;
    const std::uint8_t v = std::uint8_t(r.level);
    EXPECT_EQ(ramp[r.index], kernel::palette_entry(v, v, v))
        << r.bits << " bits, entry " << r.index;
    kernel::free(ramp);
  }
  EXPECT_EQ(kernel::grey_palette(0), nullptr);
  EXPECT_EQ(kernel::grey_palette(9), nullptr);
}

TEST(KernelBitmap, PaletteTransfersAreCutToThePalette) {
  OwnedBitmap b;
  ASSERT_EQ(create(&b.b, 8, 1, 1, kernel::kColourPalette), RET_SUCCESS);
  // A heap array of exactly two entries: asking for 255 must read only two.
  std::vector<std::uint32_t> two = {kernel::palette_entry(1, 2, 3), kernel::palette_entry(4, 5, 6)};
  EXPECT_EQ(kernel::put_palette(&b.b, 0, 255, two.data()), RET_SUCCESS);
  std::vector<std::uint32_t> back(2);
  EXPECT_EQ(kernel::get_palette(&b.b, 0, 255, back.data()), RET_SUCCESS);
  EXPECT_EQ(back, two);
  std::vector<std::uint32_t> one = {kernel::palette_entry(9, 9, 9)};
  // A palette wider than the depth (a lookup table set into a 1-bit image): only indices
  // 0 and 1 can be drawn, however close a later entry is.
  std::vector<std::uint32_t> wide(16, kernel::palette_entry(0, 0, 0));
  wide[1] = kernel::palette_entry(0, 0, 200);
  wide[8] = kernel::palette_entry(255, 255, 255);
  OwnedBitmap lut;
  ASSERT_EQ(create(&lut.b, 8, 1, 1, kernel::kColourPalette), RET_SUCCESS);
  kernel::Palette* object = kernel::create_palette(wide.data(), 16);
  ASSERT_EQ(kernel::set_palette(&lut.b, object), RET_SUCCESS);
  kernel::free_palette(object);
  ASSERT_EQ(kernel::fill_bitmap(&lut.b, 0x00FFFFFF), RET_SUCCESS);
  EXPECT_EQ(row_of(lut.b, 0), (Bytes{0xFF, 0, 0, 0}));

  EXPECT_EQ(kernel::put_palette(&b.b, 1, 100, one.data()), RET_SUCCESS);
  EXPECT_EQ(b->palette[1], one[0]);
  EXPECT_EQ(b->palette[0], two[0]);
  EXPECT_EQ(kernel::put_palette(&b.b, 2, 1, one.data()), RET_INVALID_PARAMETER);
  EXPECT_EQ(kernel::get_palette(&b.b, 0xFFFFFFFF, 2, back.data()), RET_INVALID_PARAMETER);
  EXPECT_EQ(kernel::get_palette(&b.b, 0, 2, nullptr), RET_INVALID_PARAMETER);
}

TEST(KernelBitmap, PixelDataComeAndGoWithoutThePalette) {
  OwnedBitmap b;
  ASSERT_EQ(create(&b.b, 4, 2, 8, kernel::kColourPalette), RET_SUCCESS);
  ASSERT_EQ(kernel::fill_bitmap(&b.b, 0x00FFFFFF), RET_SUCCESS);
  kernel::free_pixel_data(&b.b);
  EXPECT_EQ(b->data, nullptr);
  EXPECT_EQ(b->flags & kernel::kBitmapDataAllocated, 0u);
  EXPECT_EQ(b->palette_count, 256);
  ASSERT_EQ(kernel::allocate_pixel_data(&b.b), RET_SUCCESS);
  EXPECT_EQ(row_of(b.b, 1), Bytes(4, 0));  // afresh: zeroed

  // Filling from a buffer allocates when needed and copies at most the image.
  kernel::free_pixel_data(&b.b);
  Bytes pixels(100, 0x42);
  ASSERT_EQ(kernel::fill_pixel_data(&b.b, pixels.data(), pixels.size()), RET_SUCCESS);
  EXPECT_EQ(row_of(b.b, 1), Bytes(4, 0x42));
  Bytes few = {1, 2, 3};
  ASSERT_EQ(kernel::fill_pixel_data(&b.b, few.data(), few.size()), RET_SUCCESS);
  EXPECT_EQ(row_of(b.b, 0), (Bytes{1, 2, 3, 0x42}));
  EXPECT_EQ(kernel::fill_pixel_data(&b.b, nullptr, 4), RET_INVALID_PARAMETER);

  kernel::free_bitmap(&b.b);
  EXPECT_EQ(b->palette, nullptr);
  EXPECT_EQ(b->width, 0);
  kernel::free_bitmap(&b.b);  // twice is harmless
}

TEST(KernelBitmap, PaletteObjectsAreTrackedAndCopiedIntoBitmaps) {
  const std::size_t start = kernel::live_objects();
  const std::size_t palettes = kernel::live_objects(kernel::ObjectKind::kPalette);
  std::vector<std::uint32_t> colours(300);
  for (std::uint32_t i = 0; i < 300; ++i) colours[i] = kernel::palette_entry(i % 256, 0, 1);

  kernel::Palette* full = kernel::create_palette(colours.data(), 300);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->count, 256u);
  EXPECT_EQ(kernel::live_objects(kernel::ObjectKind::kPalette), palettes + 1);

  // A 16-bit image with a lookup table keeps its colours.
  OwnedBitmap deep;
  ASSERT_EQ(create(&deep.b, 2, 2, 16, kernel::kColourGrey), RET_SUCCESS);
  ASSERT_EQ(kernel::set_palette(&deep.b, full), RET_SUCCESS);
  kernel::free_palette(full);
  ASSERT_EQ(deep->palette_count, 256);
  EXPECT_EQ(deep->palette[255], colours[255]);

  kernel::Palette* small = kernel::create_palette(colours.data() + 10, 3);
  ASSERT_NE(small, nullptr);
  ASSERT_EQ(kernel::set_palette(&deep.b, small), RET_SUCCESS);
  EXPECT_EQ(deep->palette_count, 3);
  EXPECT_EQ(deep->palette[2], colours[12]);
  kernel::free_palette(small);

  kernel::Palette* empty = kernel::create_palette(nullptr, 0);
  ASSERT_NE(empty, nullptr);
  ASSERT_EQ(kernel::set_palette(&deep.b, empty), RET_SUCCESS);
  EXPECT_EQ(deep->palette_count, 0);
  kernel::free_palette(empty);

  EXPECT_EQ(kernel::create_palette(nullptr, 4), nullptr);
  EXPECT_EQ(kernel::set_palette(&deep.b, nullptr), RET_INVALID_PARAMETER);
  kernel::free_palette(nullptr);
  EXPECT_EQ(kernel::live_objects(), start);
}

TEST(KernelBitmap, DrawingContextsClipToTheirBitmapAndHoldAPalette) {
  const std::size_t start = kernel::live_objects();
  const std::size_t records = kernel::live_objects(kernel::ObjectKind::kRecord);
  OwnedBitmap canvas;
  ASSERT_EQ(create(&canvas.b, 640, 480, 24, kernel::kColourRgb, kernel::kViewBottomUp),
            RET_SUCCESS);
  kernel::DrawingContext* dc = kernel::device_context_for_bitmap(&canvas.b);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(kernel::live_objects(kernel::ObjectKind::kRecord), records + 1);
  EXPECT_EQ(dc->bitmap, &canvas.b);
  EXPECT_EQ(dc->clip.left, 0);
  EXPECT_EQ(dc->clip.top, 0);
  EXPECT_EQ(dc->clip.right, 640);
  EXPECT_EQ(dc->clip.bottom, 480);

  kernel::Rect target, visible;
  kernel::set_rect(&target, -10, 470, 20, 500);
  ASSERT_TRUE(kernel::intersect_rect(target, dc->clip, &visible));
  EXPECT_EQ(visible.left, 0);
  EXPECT_EQ(visible.top, 470);
  EXPECT_EQ(visible.right, 20);
  EXPECT_EQ(visible.bottom, 480);
  kernel::set_rect(&target, 640, 0, 700, 10);
  EXPECT_FALSE(kernel::intersect_rect(target, dc->clip, &visible));

  std::uint32_t colours[4] = {};
  kernel::Palette* palette = kernel::create_palette(colours, 4);
  ASSERT_NE(palette, nullptr);
  EXPECT_EQ(kernel::realize_palette(dc), 0u);
  EXPECT_EQ(kernel::select_palette(dc, palette), nullptr);
  EXPECT_EQ(kernel::realize_palette(dc), 4u);
  EXPECT_EQ(kernel::select_palette(dc, nullptr), palette);  // a painter puts back the old one
  kernel::free_palette(palette);
  kernel::delete_device_context(dc);
  kernel::delete_device_context(nullptr);
  EXPECT_EQ(kernel::live_objects(), start);

  OwnedBitmap without_data;
  EXPECT_EQ(kernel::device_context_for_bitmap(&without_data.b), nullptr);
  EXPECT_EQ(kernel::device_context_for_bitmap(nullptr), nullptr);
  EXPECT_EQ(kernel::live_objects(), start);
}

}  // namespace
