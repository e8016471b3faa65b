// The vector-quantised reader (C4, M4): generated images decoded pixel-exact against the
// picture they encode, the code stream's length and alignment (unrecorded blocks take no
// codes, a 256 x 256 block of 12-bit codes is exactly 6144 bytes), the output cut to the
// recorded blocks, and hostile headers, which must give a code and leave nothing alive.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "image/data/imgmodes.h"
#include "nitfgen_image.h"
#include "nitfgen_vq.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitfgen::BandSpec;
using nitfgen::ImageSpec;
using nitfgen::MaskSpec;
using nitfgen::VqData;
using nitfgen::VqPicture;

class ImageVq : public LeakChecked {
 protected:
  TempDir dir_;
};

// A picture of `width` x `height` whose values are below `levels`, made of a few
// distinct kernels (so that 8-bit codes hold the codebook) unless `noisy`.
VqPicture picture(int width, int height, int block, int levels, bool noisy, unsigned seed) {
  VqPicture p;
  p.width = width;
  p.height = height;
  p.block_width = p.block_height = block;
  p.pixels.resize(static_cast<std::size_t>(width) * height);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.pixels[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint16_t>(
          noisy ? random() % levels : ((x / 4 * 3 + y / 4 * 5 + x % 4 + 2 * (y % 4)) % levels));
  return p;
}

// The image segment: C4 data, or M4 data behind a mask table whose block records are
// the offsets of each block's codes (0xFFFFFFFF for blocks left out).
ImageSpec vq_image(const VqPicture& p, const VqData& data, bool masked, int nbpp = 8) {
  ImageSpec s;
  s.nrows = p.height;
  s.ncols = p.width;
  s.ic = masked ? "M4" : "C4";
  s.nbpr = p.width / p.block_width;
  s.nbpc = p.height / p.block_height;
  s.nppbh = p.block_width;
  s.nppbv = p.block_height;
  s.nbpp = s.abpp = nbpp;
  if (masked) {
    MaskSpec m;
    for (std::uint32_t o : data.block_offsets)
      m.block_records.push_back(
          o == 0xFFFFFFFFu ? o : o + static_cast<std::uint32_t>(data.tables_bytes));
    s.mask = m;
  }
  return s;
}

// A colour table of 16 entries as the image's palette: red 16 i, green 255 - 16 i, blue i.
void give_palette(ImageSpec* s) {
  std::string r, g, b;
  for (int i = 0; i < 16; ++i) {
    r += static_cast<char>(16 * i);
    g += static_cast<char>(255 - 16 * i);
    b += static_cast<char>(i);
  }
  s->irep = "RGB/LUT";
  s->bands = {BandSpec{"LU"}};
  s->bands[0].luts = {r, g, b};
}

fs::path write_image(const TempDir& dir, const std::string& name, const ImageSpec& s,
                     const std::string& data) {
  nitfgen::FileSpec f;
  f.images.push_back(nitfgen::image_segment(s, data));
  return dir.write(name, nitfgen::build(f));
}

void expect_pixels(const kernel::Bitmap& b, const VqPicture& p, int height) {
  ASSERT_EQ(b.width, p.width);
  ASSERT_EQ(b.height, height);
  int wrong = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < p.width; ++x)
      if (pixel_value(b, x, y) != p.pixels[static_cast<std::size_t>(y) * p.width + x] &&
          wrong++ < 5)
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << pixel_value(b, x, y) << " expected "
                      << p.pixels[static_cast<std::size_t>(y) * p.width + x];
  EXPECT_EQ(wrong, 0);
}

// C4 and M4 with a colour table, an M4 whose last block row is unrecorded (the output is
// one block row shorter than NBPC x NPPBV), and 12-bit values packed two in three bytes.
TEST_F(ImageVq, DecodesPixelExact) {
  struct Case {
    const char* name;
    VqPicture picture;
    bool masked, palette;
    int nbpp, bits, height;
  };
  Case cases[] = {{"C4", picture(16, 16, 8, 16, false, 1), false, true, 8, 8, 16},
                  {"M4", picture(24, 16, 8, 200, false, 2), true, true, 8, 8, 16},
                  {"M4 short", picture(16, 24, 8, 16, false, 3), true, true, 8, 8, 16},
                  {"C4 12-bit", picture(16, 8, 8, 4096, false, 6), false, false, 12, 12, 8}};
  cases[2].picture.unrecorded = {false, false, false, false, true, true};
  cases[3].picture.value_bits = 12;
  for (auto& v : cases[3].picture.pixels)
    v = static_cast<std::uint16_t>((v * 331 + 3000) % 4096);  // high bits too
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const VqData data = nitfgen::vq_image_data(c.picture);
    ImageSpec s = vq_image(c.picture, data, c.masked, c.nbpp);
    if (c.palette) give_palette(&s);
    auto d = decode_image(write_image(dir_, "vq.ntf", s, data.bytes));
    ASSERT_EQ(d->result, RET_SUCCESS);
    EXPECT_EQ(d->bitmap.bits_per_pixel, c.bits);
    expect_pixels(d->bitmap, c.picture, c.height);
    if (!c.palette) continue;
    ASSERT_NE(d->bitmap.palette, nullptr);
    for (std::uint32_t i = 0; i < 16; ++i)
      EXPECT_EQ(d->bitmap.palette[i], kernel::palette_entry(static_cast<std::uint8_t>(16 * i),
                                                            static_cast<std::uint8_t>(255 - 16 * i),
                                                            static_cast<std::uint8_t>(i)))
          << "entry " << i;
  }
}

TEST_F(ImageVq, UnrecordedBlocksConsumeNoCodes) {
  // Blocks 1 and 2 left out in a 2 x 2 grid: blocks 0 and 3 are adjacent in the stream.
  VqPicture p = picture(16, 16, 8, 256, true, 4);
  p.kernel_width = p.kernel_height = 2;  // 16 codes a block, random kernels
  p.code_bits = 7;                       // odd length: codes straddle bytes and blocks
  p.unrecorded = {false, true, true, false};
  const VqData data = nitfgen::vq_image_data(p);
  ASSERT_LE(data.entries, 128u);
  ImageSpec s = vq_image(p, data, true);
  auto d = decode_image(write_image(dir_, "gaps.ntf", s, data.bytes));
  ASSERT_EQ(d->result, RET_SUCCESS);
  ASSERT_EQ(d->bitmap.width, 16);
  ASSERT_EQ(d->bitmap.height, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool shown = (x < 8) == (y < 8);
      const std::uint32_t expected = shown ? p.pixels[static_cast<std::size_t>(y) * 16 + x] : 0;
      ASSERT_EQ(pixel_value(d->bitmap, x, y), expected) << x << "," << y;
    }
}

TEST_F(ImageVq, TwelveBitCodesOfA256BlockAre6144BytesAndReadToTheLastOne) {
  VqPicture p = picture(256, 256, 256, 256, true, 5);
  p.code_bits = 12;
  const VqData data = nitfgen::vq_image_data(p);
  ASSERT_EQ(data.code_bytes, 6144u);
  ASSERT_GT(data.entries, 256u) << "the codebook needs more than 8 bits";
  ImageSpec s = vq_image(p, data, false);
  {
    auto d = decode_image(write_image(dir_, "c4-12.ntf", s, data.bytes));
    ASSERT_EQ(d->result, RET_SUCCESS);
    expect_pixels(d->bitmap, p, 256);
  }
  // LI one byte short of the last code: the data cannot hold the codes.
  auto d = decode_image(
      write_image(dir_, "c4-12-short.ntf", s, data.bytes.substr(0, data.bytes.size() - 1)));
  EXPECT_EQ(d->result, RET_FILE_FORMAT);
}

TEST_F(ImageVq, KernelThatDoesNotDivideTheBlockLeavesTheStripZero) {
  VqPicture p = picture(9, 9, 9, 50, false, 7);  // 2 x 2 kernels of 4 x 4 per 9 x 9 block
  const VqData data = nitfgen::vq_image_data(p);
  ImageSpec s = vq_image(p, data, false);
  auto d = decode_image(write_image(dir_, "odd.ntf", s, data.bytes));
  ASSERT_EQ(d->result, RET_SUCCESS);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(pixel_value(d->bitmap, x, y), x < 8 && y < 8 ? p.pixels[y * 9u + x] : 0u)
          << x << "," << y;
}

TEST_F(ImageVq, ThreeBandsAreNotSupported) {
  VqPicture p = picture(8, 8, 8, 16, false, 8);
  const VqData data = nitfgen::vq_image_data(p);
  ImageSpec s = vq_image(p, data, false);
  s.irep = "RGB";
  s.bands = {BandSpec{"R"}, BandSpec{"G"}, BandSpec{"B"}};
  EXPECT_EQ(decode_image(write_image(dir_, "rgb.ntf", s, data.bytes))->result, RET_NOT_SUPPORTED);
}

int decode_broken(const TempDir& dir, VqPicture p, void (*change)(VqPicture&),
                  std::size_t cut = 0) {
  change(p);
  const VqData data = nitfgen::vq_image_data(p);
  const ImageSpec s = vq_image(p, data, false);
  return decode_image(write_image(dir, "bad.ntf", s, data.bytes.substr(0, data.bytes.size() - cut)))
      ->result;
}

TEST_F(ImageVq, BadHeadersGiveCodes) {
  const VqPicture p = picture(16, 16, 8, 16, false, 9);
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.code_rows = 0; }), RET_FILE_FORMAT);
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.codes_per_row = 0; }), RET_FILE_FORMAT);
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.code_bit_length = 0; }), RET_FILE_FORMAT);
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.code_bit_length = 40; }), RET_FILE_FORMAT);
  // Nine code rows in a block of eight: a kernel height of 0.
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.code_rows = 9; }), RET_FILE_FORMAT);
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.table_count = 0; }), RET_FILE_FORMAT);
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.table_count = 3; }), RET_FILE_FORMAT);
  // Tables far larger than the data: beyond LI, refused before allocating.
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.table_entries = 0x40000000; }),
            RET_FILE_FORMAT);
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.first_table_entries = 0; }),
            RET_FILE_FORMAT);
  // Tables of different lengths.
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.first_table_entries = 1; }),
            RET_FILE_FORMAT);
  // Codes that point past tables that say they hold one entry each.
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.table_entries = 1; }), RET_FILE_FORMAT);
  // The largest entry count a record can give.
  EXPECT_EQ(decode_broken(dir_, p, [](VqPicture& v) { v.table_entries = 0xFFFFFFFF; }),
            RET_FILE_FORMAT);
  // Truncated codes.
  EXPECT_EQ(decode_broken(
                dir_, p, [](VqPicture&) {}, 3),
            RET_FILE_FORMAT);
  // A header cut short.
  VqPicture tiny = p;
  const VqData data = nitfgen::vq_image_data(tiny);
  EXPECT_EQ(
      decode_image(write_image(dir_, "hdr.ntf", vq_image(p, data, false), data.bytes.substr(0, 10)))
          ->result,
      RET_FILE_READ);
}

TEST_F(ImageVq, CodesEndingInsideAByteNeedThatByte) {
  // Four 7-bit codes: 28 bits, so the last byte holds four bits of code and four of pad.
  VqPicture p = picture(4, 4, 4, 256, true, 13);
  p.kernel_width = p.kernel_height = 2;
  p.code_bits = 7;
  const VqData data = nitfgen::vq_image_data(p);
  ASSERT_EQ(data.code_bytes, 4u);
  const ImageSpec s = vq_image(p, data, false);
  {
    auto d = decode_image(write_image(dir_, "whole.ntf", s, data.bytes));
    ASSERT_EQ(d->result, RET_SUCCESS);
    expect_pixels(d->bitmap, p, 4);
  }
  auto d =
      decode_image(write_image(dir_, "half.ntf", s, data.bytes.substr(0, data.bytes.size() - 1)));
  EXPECT_EQ(d->result, RET_FILE_FORMAT) << "three bytes cannot hold 28 bits of codes";
}

TEST_F(ImageVq, LiBeyondTheFileIsAShortRead) {
  VqPicture p = picture(16, 16, 8, 16, false, 10);
  const VqData data = nitfgen::vq_image_data(p);
  nitfgen::FileSpec f;
  f.images.push_back(nitfgen::image_segment(vq_image(p, data, false), data.bytes));
  std::string file = nitfgen::build(f);
  file.resize(file.size() - 5);
  Parsed parsed = parse(dir_.write("cut.ntf", file));
  if (parsed.result != RET_SUCCESS) GTEST_SKIP() << "the parse refuses the cut file";
  kernel::Bitmap b;
  EXPECT_EQ(nitf::read_image(parsed.document.get(), 0, &b, nullptr), RET_FILE_READ);
  EXPECT_EQ(b.data, nullptr);
}

TEST_F(ImageVq, MutatedHeadersNeverCrash) {
  VqPicture p = picture(16, 16, 8, 16, false, 11);
  const VqData data = nitfgen::vq_image_data(p);
  std::mt19937 random(12);
  for (int i = 0; i < 300; ++i) {
    std::string bytes = data.bytes;
    const std::size_t header = 21 + 14 * 4;
    for (int n = 0; n < 3; ++n) bytes[random() % header] = static_cast<char>(random());
    auto d = decode_image(write_image(dir_, "fuzz.ntf", vq_image(p, data, i % 2 == 1), bytes));
    if (d->result != RET_SUCCESS) {
      EXPECT_EQ(d->bitmap.data, nullptr);
    }
  }
}

}  // namespace
