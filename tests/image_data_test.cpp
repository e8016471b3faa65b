// The image data reader: every uncompressed real sample against GDAL's reading of it and
// against the module's deep-sample scaling; generated files for each layout family (IMODE
// B, P, R, S, blocked, masked, bi-level, deep samples, two bands); and hostile input,
// which must give a code, never a crash.
//
// Generated files lay their pixels out with this file's own writer of MIL-STD-2500C's
// layouts, and where GDAL is installed it reads the same files as a second opinion.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <set>

#include "image/data/imgmodes.h"
#include "nitfgen_image.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitfgen::BandSpec;
using nitfgen::ImageSpec;
using nitfgen::MaskSpec;

constexpr std::uint32_t kNone = 0xFFFFFFFF;

// ----- Reading and looking at pixels ---------------------------------------------------

bool empty_output(const kernel::Bitmap& b) {
  return b.data == nullptr && b.palette == nullptr && b.width == 0;
}

// GDAL's reading of one image: every band of the NCOLS x NROWS picture.
struct GdalImage {
  int width = 0, height = 0, bands = 0, bytes = 0;
  std::string data;

  std::uint32_t at(int band, int x, int y) const {
    const std::size_t i =
        ((std::size_t(band) * std::size_t(height) + std::size_t(y)) * std::size_t(width) +
         std::size_t(x)) *
        std::size_t(bytes);
    std::uint32_t v = static_cast<std::uint8_t>(data[i]);
    if (bytes == 2) v |= std::uint32_t{static_cast<std::uint8_t>(data[i + 1])} << 8;
    return v;
  }
};

constexpr const char* kGdalPython = "/usr/bin/python3";

// Runs tests/gdal/dump_pixels.py; nothing when GDAL's bindings are missing or GDAL cannot
// read the file.
std::optional<GdalImage> gdal_read(const fs::path& file, std::uint32_t index = 0) {
  if (!fs::exists(kGdalPython)) return std::nullopt;
  TempDir dir;
  const fs::path out = dir.file("pixels.raw");
  const std::string command = std::string(kGdalPython) + " '" + KVNTF_SOURCE_DIR +
                              "/tests/gdal/dump_pixels.py' '" + file.string() + "' " +
                              std::to_string(index) + " '" + out.string() + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  GdalImage g;
  std::string bytes = nitfgen::read_file(out.string());
  const std::size_t eol = bytes.find('\n');
  if (eol == std::string::npos ||
      std::sscanf(bytes.c_str(), "%d %d %d %d", &g.width, &g.height, &g.bands, &g.bytes) != 4)
    return std::nullopt;
  g.data = bytes.substr(eol + 1);
  if (g.data.size() != std::size_t(g.width) * g.height * g.bands * g.bytes) return std::nullopt;
  return g;
}

#define REQUIRE_GDAL(image)                                                         \
  do {                                                                              \
    if (!(image))                                                                   \
      GTEST_SKIP() << "GDAL's Python bindings (" << kGdalPython << ", osgeo.gdal) " \
                   << "are not available, or GDAL does not read this file";         \
  } while (0)

// What our pixel must be for GDAL's sample of the band it shows. GDAL takes the nibbles
// of 12-bit samples in another order than MIL-STD-2500C's big-endian packing (its
// i_3430a differs from the .ref.png and from the ABPP 11 twin i_3405a), so 12-bit data
// are compared with the stored samples unpacked here instead.
enum class Scale { kSame, kAbpp11To16, kStored12 };

std::uint32_t scaled(std::uint32_t v, Scale s) {
  return s == Scale::kAbpp11To16 ? v * 65535 / 2047 : v;
}

// Pixels of GDAL's picture where the bitmap disagrees. `bands` are the GDAL bands shown:
// one, or red, green and blue.
int mismatches(const kernel::Bitmap& b, const GdalImage& g, const std::vector<int>& bands,
               Scale scale, std::string* first) {
  int count = 0;
  for (int y = 0; y < g.height; ++y) {
    for (int x = 0; x < g.width; ++x) {
      for (std::size_t c = 0; c < bands.size(); ++c) {
        const int channel = bands.size() == 3 ? 2 - int(c) : 0;
        const std::uint32_t want = scaled(g.at(bands[c], x, y), scale);
        const std::uint32_t got = pixel_value(b, x, y, channel);
        if (got == want) continue;
        if (count++ == 0)
          *first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") band " +
                   std::to_string(bands[c]) + ": ours " + std::to_string(got) + ", GDAL " +
                   std::to_string(want);
      }
    }
  }
  return count;
}

// ----- Real samples --------------------------------------------------------------------

struct RealImage {
  const char* file;
  int bits;                // of the decoded bitmap
  std::vector<int> bands;  // GDAL bands we show: one, or red, green, blue
  Scale scale;
};

const RealImage kRealImages[] = {
    {"jitc/i_3001a.ntf", 8, {0}, Scale::kSame},
    {"jitc/i_3004g.ntf", 8, {0}, Scale::kSame},
    {"jitc/i_3034c.ntf", 1, {0}, Scale::kSame},
    {"jitc/i_3034f.ntf", 1, {0}, Scale::kSame},
    {"jitc/i_3201c.ntf", 24, {0, 1, 2}, Scale::kSame},
    {"jitc/i_3301a.ntf", 24, {0, 1, 2}, Scale::kSame},
    {"jitc/i_3301k.ntf", 24, {0, 1, 2}, Scale::kSame},
    {"jitc/i_3405a.ntf", 16, {0}, Scale::kAbpp11To16},
    {"jitc/i_3430a.ntf", 12, {0}, Scale::kStored12},
    {"misc/LUinBand2.ntf", 1, {1}, Scale::kSame},  // the LU band, through its table
    {"misc/merlionRGB.ntf", 24, {0, 1, 2}, Scale::kSame},
    {"misc/two_images_jpeg.ntf", 8, {0}, Scale::kSame},
    {"misc/two_images_jp2.ntf", 8, {0}, Scale::kSame},
};

// Sample i of a block of big-endian 12-bit samples.
std::uint32_t stored12(const std::string& block, std::size_t i) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(block.data()) + i * 3 / 2;
  return i % 2 ? (p[0] & 0x0Fu) << 8 | p[1] : std::uint32_t{p[0]} << 4 | p[1] >> 4;
}

// Pixels that differ from image 0's stored 12-bit samples (unmasked, blocks in sequence).
int stored12_mismatches(const kernel::Bitmap& b, const NitfDocument& d, const fs::path& file) {
  const nitf::NitfImageSubheader& s = *d.images[0];
  const std::string bytes = nitfgen::read_file(file.string());
  const auto data =
      static_cast<std::size_t>(nitf::segment_data_offset(d, nitf::SegmentKind::kImage, 0));
  const std::size_t block = std::size_t(s.block_width) * s.block_height * 3 / 2;
  int count = 0;
  for (int k = 0; k < s.blocks_per_row * s.blocks_per_column; ++k) {
    const std::string stored = bytes.substr(data + std::size_t(k) * block, block);
    const int bx = k % s.blocks_per_row * s.block_width, by = k / s.blocks_per_row * s.block_height;
    for (int y = 0; y < s.block_height; ++y)
      for (int x = 0; x < s.block_width; ++x)
        count +=
            pixel_value(b, bx + x, by + y) != stored12(stored, std::size_t(y) * s.block_width + x);
  }
  return count;
}

void PrintTo(const RealImage& c, std::ostream* os) {
  *os << c.file;
}

class ImageDataReal : public LeakCheckedBase<::testing::TestWithParam<RealImage>> {};

TEST_P(ImageDataReal, MatchesGdalSampleForSample) {
  REQUIRE_SAMPLES();
  const RealImage& c = GetParam();
  auto d = decode_image(sample(c.file));
  ASSERT_EQ(d->result, RET_SUCCESS);
  const nitf::NitfImageSubheader& s = d->image();
  EXPECT_EQ(d->bitmap.bits_per_pixel, c.bits);
  EXPECT_EQ(d->bitmap.width, s.blocks_per_row * s.block_width) << "pad pixels are kept";
  EXPECT_EQ(d->bitmap.height, s.blocks_per_column * s.block_height);
  if (c.scale == Scale::kStored12) {
    EXPECT_EQ(stored12_mismatches(d->bitmap, *d->parsed.document, sample(c.file)), 0);
    return;
  }
  auto g = gdal_read(sample(c.file));
  REQUIRE_GDAL(g);
  ASSERT_EQ(g->width, static_cast<int>(s.columns));
  ASSERT_EQ(g->height, static_cast<int>(s.rows));
  std::string first;
  EXPECT_EQ(mismatches(d->bitmap, *g, c.bands, c.scale, &first), 0) << "first: " << first;
}

INSTANTIATE_TEST_SUITE_P(ImageData, ImageDataReal, ::testing::ValuesIn(kRealImages),
                         [](const ::testing::TestParamInfo<RealImage>& info) {
                           std::string name = fs::path(info.param.file).stem().string();
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

using ImageData = LeakChecked;

TEST_F(ImageData, PalettesOfRealImagesComeFromTheirTables) {
  REQUIRE_SAMPLES();
  // LUinBand2's LU band maps 0 to red and 1 to green (gdalinfo's colour table).
  auto lu = decode_image(sample("misc/LUinBand2.ntf"));
  ASSERT_EQ(lu->result, RET_SUCCESS);
  ASSERT_GE(lu->bitmap.palette_count, 2);
  EXPECT_EQ(kernel::colour_of_entry(lu->bitmap.palette[0]), 0x0000FFu);
  EXPECT_EQ(kernel::colour_of_entry(lu->bitmap.palette[1]), 0x00FF00u);
  // A mono image without a table is a 256-level grey palette image.
  auto mono = decode_image(sample("jitc/i_3004g.ntf"));
  ASSERT_EQ(mono->result, RET_SUCCESS);
  EXPECT_EQ(mono->bitmap.colour_order, kernel::kColourPalette);
  ASSERT_EQ(mono->bitmap.palette_count, 256);
  EXPECT_EQ(kernel::colour_of_entry(mono->bitmap.palette[200]), 0xC8C8C8u);
  // Deep grey images are grey, not palette images.
  auto deep = decode_image(sample("jitc/i_3405a.ntf"));
  ASSERT_EQ(deep->result, RET_SUCCESS);
  EXPECT_EQ(deep->bitmap.colour_order, kernel::kColourGrey);
}

// i_3430a (12 bits) and i_3405a (ABPP 11 in 16 bits) are the same airstrip: halving the
// 12-bit picture gives the 11-bit one within rounding, which only holds when both the
// repacking and the stored values of each file are read right.
TEST_F(ImageData, TwelveBitSampleAgreesWithItsElevenBitTwin) {
  REQUIRE_SAMPLES();
  auto twelve = decode_image(sample("jitc/i_3430a.ntf"));
  auto eleven = decode_image(sample("jitc/i_3405a.ntf"));
  ASSERT_EQ(twelve->result, RET_SUCCESS);
  ASSERT_EQ(eleven->result, RET_SUCCESS);
  int far = 0;
  for (int y = 0; y < 1024; ++y)
    for (int x = 0; x < 1024; ++x) {
      // The stored value back from its widening: v = ceil(p * 2047 / 65535).
      const int stored11 =
          static_cast<int>((pixel_value(eleven->bitmap, x, y) * 2047 + 65534) / 65535);
      const int halved = static_cast<int>(pixel_value(twelve->bitmap, x, y) >> 1);
      far += std::abs(halved - stored11) > 1;
    }
  EXPECT_EQ(far, 0);
}

// ----- Generated layouts ---------------------------------------------------------------

// A test image's block grid. Band b's sample at picture pixel (x, y) is band_sample(b, x, y).
struct Grid {
  int nbpr = 3, nbpc = 2, width = 5, height = 3, bands = 3;
  std::string imode = "B";

  int columns() const { return nbpr * width; }
  int rows() const { return nbpc * height; }
  int blocks() const { return nbpr * nbpc; }
  // Units one mask record describes: a block, or in IMODE S one band of a block.
  int units() const { return imode == "S" ? blocks() * bands : blocks(); }
};

std::uint8_t band_sample(int band, int x, int y) {
  return static_cast<std::uint8_t>(band * 85 + x * 11 + y * 29 + 1);
}

// The bytes of one unit as MIL-STD-2500C orders them.
std::string unit_bytes(const Grid& g, int unit) {
  const int k = unit % g.blocks(), only = unit / g.blocks();
  const int bx = k % g.nbpr * g.width, by = k / g.nbpr * g.height;
  auto s = [&](int b, int x, int y) { return static_cast<char>(band_sample(b, bx + x, by + y)); };
  std::string out;
  for (int outer = 0; outer < (g.imode == "B" ? g.bands : 1); ++outer)
    for (int y = 0; y < g.height; ++y) {
      if (g.imode == "S") {
        for (int x = 0; x < g.width; ++x) out += s(only, x, y);
      } else if (g.imode == "B") {
        for (int x = 0; x < g.width; ++x) out += s(outer, x, y);
      } else if (g.imode == "P") {
        for (int x = 0; x < g.width; ++x)
          for (int b = 0; b < g.bands; ++b) out += s(b, x, y);
      } else {
        for (int b = 0; b < g.bands; ++b)
          for (int x = 0; x < g.width; ++x) out += s(b, x, y);
      }
    }
  return out;
}

// The stored units, `missing` ones left out, in reverse order when asked (so that mask
// offsets are not the sequential ones); offsets[u] is kNone for a missing unit.
struct Stored {
  std::string pixels;
  std::vector<std::uint32_t> offsets;
};

Stored store(const Grid& g, const std::set<int>& missing = {}, bool reversed = false) {
  Stored out;
  out.offsets.assign(std::size_t(g.units()), kNone);
  for (int i = 0; i < g.units(); ++i) {
    const int u = reversed ? g.units() - 1 - i : i;
    if (missing.count(u)) continue;
    out.offsets[std::size_t(u)] = static_cast<std::uint32_t>(out.pixels.size());
    out.pixels += unit_bytes(g, u);
  }
  return out;
}

// Mask records: one per unit, and in IMODE B and R one per band of each block as well,
// each pointing at its band's first sample (the records GDAL and the subheader reader
// expect: NBPR x NBPC x NBANDS). Band-major: every block of band 0 first.
std::vector<std::uint32_t> mask_records(const Grid& g, const Stored& stored) {
  if (g.imode != "B" && g.imode != "R") return stored.offsets;
  const std::uint32_t shift = g.imode == "B" ? std::uint32_t(g.width * g.height) : g.width;
  std::vector<std::uint32_t> out;
  for (int b = 0; b < g.bands; ++b)
    for (std::uint32_t offset : stored.offsets)
      out.push_back(offset == kNone ? kNone : offset + b * shift);
  return out;
}

ImageSpec image_for(const Grid& g) {
  ImageSpec s;
  s.nrows = g.rows() - 1;  // the last row and column are pad pixels
  s.ncols = g.columns() - 1;
  s.irep = g.bands >= 3 ? "RGB" : "MONO";
  s.bands.clear();
  const char* codes[] = {"R", "G", "B"};
  for (int b = 0; b < g.bands; ++b) s.bands.emplace_back(g.bands >= 3 && b < 3 ? codes[b] : "M");
  s.imode = g.imode;
  s.nbpr = g.nbpr;
  s.nbpc = g.nbpc;
  s.nppbh = g.width;
  s.nppbv = g.height;
  return s;
}

fs::path write_image(const TempDir& dir, const ImageSpec& image, const std::string& pixels,
                     const std::string& name = "image.ntf") {
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(image, pixels));
  return dir.write(name, nitfgen::build(file));
}

// Pixels of the block grid that differ from band_sample(); blocks in `blank` must be 0.
int colour_mismatches(const kernel::Bitmap& b, const Grid& g, const std::set<int>& blank,
                      const int (&rgb)[3], std::string* first) {
  int count = 0;
  for (int y = 0; y < g.rows(); ++y)
    for (int x = 0; x < g.columns(); ++x) {
      const bool zero = blank.count(y / g.height * g.nbpr + x / g.width) > 0;
      for (int c = 0; c < 3; ++c) {
        const std::uint32_t want = zero ? 0 : band_sample(rgb[c], x, y);
        const std::uint32_t got = pixel_value(b, x, y, 2 - c);
        if (got != want && count++ == 0)
          *first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") colour " +
                   std::to_string(c) + ": " + std::to_string(got) + " not " + std::to_string(want);
      }
    }
  return count;
}

enum class Mask { kNone, kBlocks, kPadOnly };

struct LayoutCase {
  std::string imode;
  Mask mask;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << "IMODE " << c.imode << ", mask kind " << static_cast<int>(c.mask);
}

class ImageDataLayouts : public LeakCheckedBase<::testing::TestWithParam<LayoutCase>> {};

// Three bands in each IMODE, with no mask, with a block mask that leaves block 4 out and
// stores the others in reverse order, and with a pad pixel mask alone (some records
// 0xFFFFFFFF, the blocks all in sequence).
TEST_P(ImageDataLayouts, ThreeBandsLandInBlueGreenRed) {
  const LayoutCase& c = GetParam();
  Grid g;
  g.imode = c.imode;
  std::set<int> missing, blank;
  if (c.mask == Mask::kBlocks) {
    blank = {4};
    for (int b = 0; b < (g.imode == "S" ? g.bands : 1); ++b) missing.insert(b * g.blocks() + 4);
  }
  Stored stored = store(g, missing, c.mask == Mask::kBlocks);
  ImageSpec image = image_for(g);
  if (c.mask != Mask::kNone) {
    image.ic = "NM";
    MaskSpec m;
    if (c.mask == Mask::kBlocks) m.block_records = mask_records(g, stored);
    if (c.mask == Mask::kPadOnly) {
      m.pad_records = stored.offsets;
      for (int u = 0; u < g.units(); u += 2) m.pad_records[std::size_t(u)] = kNone;
      m.tpxcdlnth = 8;
      m.tpxcd = std::string(1, '\0');
    }
    image.mask = m;
  }
  TempDir dir;
  const fs::path file = write_image(dir, image, stored.pixels);
  auto d = decode_image(file);
  ASSERT_EQ(d->result, RET_SUCCESS);
  ASSERT_EQ(d->bitmap.bits_per_pixel, 24);
  ASSERT_EQ(d->bitmap.width, g.columns());
  ASSERT_EQ(d->bitmap.height, g.rows());
  std::string first;
  const int rgb[3] = {0, 1, 2};
  EXPECT_EQ(colour_mismatches(d->bitmap, g, blank, rgb, &first), 0) << first;

  auto gdal = gdal_read(file);
  REQUIRE_GDAL(gdal);
  int disagree = 0;
  for (int y = 0; y < gdal->height; ++y)
    for (int x = 0; x < gdal->width; ++x)
      for (int b = 0; b < 3 && !blank.count(y / g.height * g.nbpr + x / g.width); ++b)
        disagree += gdal->at(b, x, y) != pixel_value(d->bitmap, x, y, 2 - b);
  EXPECT_EQ(disagree, 0) << "GDAL reads the generated file otherwise";
}

std::string layout_name(const ::testing::TestParamInfo<LayoutCase>& info) {
  static const char* const kMasks[] = {"Plain", "BlockMask", "PadMask"};
  return "Imode" + info.param.imode + kMasks[static_cast<int>(info.param.mask)];
}

INSTANTIATE_TEST_SUITE_P(
    ImageData, ImageDataLayouts,
    ::testing::Values(LayoutCase{"B", Mask::kNone}, LayoutCase{"P", Mask::kNone},
                      LayoutCase{"R", Mask::kNone}, LayoutCase{"S", Mask::kNone},
                      LayoutCase{"B", Mask::kBlocks}, LayoutCase{"P", Mask::kBlocks},
                      LayoutCase{"R", Mask::kBlocks}, LayoutCase{"S", Mask::kBlocks},
                      LayoutCase{"B", Mask::kPadOnly}, LayoutCase{"R", Mask::kPadOnly},
                      LayoutCase{"S", Mask::kPadOnly}),
    layout_name);

TEST_F(ImageData, BandCodesChooseRedGreenBlue) {
  // Bands stored as B, G, R: red comes from band 2, blue from band 0.
  Grid g;
  g.imode = "P";
  ImageSpec image = image_for(g);
  image.bands = {BandSpec{"B"}, BandSpec{"G"}, BandSpec{"R"}};
  TempDir dir;
  auto d = decode_image(write_image(dir, image, store(g).pixels));
  ASSERT_EQ(d->result, RET_SUCCESS);
  std::string first;
  const int rgb[3] = {2, 1, 0};
  EXPECT_EQ(colour_mismatches(d->bitmap, g, {}, rgb, &first), 0) << first;

  // Four bands without codes: 0, 1, 2 are shown, the fourth is passed over.
  g.bands = 4;
  g.imode = "S";
  image = image_for(g);
  image.irep = "MULTI";
  for (BandSpec& b : image.bands) b.irepband = "";
  auto multi = decode_image(write_image(dir, image, store(g).pixels, "multi.ntf"));
  ASSERT_EQ(multi->result, RET_SUCCESS);
  const int first_three[3] = {0, 1, 2};
  EXPECT_EQ(colour_mismatches(multi->bitmap, g, {}, first_three, &first), 0) << first;
}

// Every row of an IMODE P block comes from the file, the last one too, and so does the
// single row of blocks one row high.
TEST_F(ImageData, PixelInterleavedBlocksReadEveryRow) {
  for (int rows : {1, 4}) {
    SCOPED_TRACE("NPPBV " + std::to_string(rows));
    Grid g{2, 2, 3, rows, 3, "P"};
    TempDir dir;
    auto d = decode_image(write_image(dir, image_for(g), store(g).pixels));
    ASSERT_EQ(d->result, RET_SUCCESS);
    std::string first;
    const int rgb[3] = {0, 1, 2};
    EXPECT_EQ(colour_mismatches(d->bitmap, g, {}, rgb, &first), 0) << first;
  }
}

// ----- Bi-level, one band, deep samples ------------------------------------------------

bool bit_at(int x, int y) {
  return (x * 3 + y * 5) % 7 < 3;
}

// Each block's bits as one stream, most significant bit first, the block padded to a byte.
std::string bilevel_block(const Grid& g, int k) {
  std::string out;
  const int bx = k % g.nbpr * g.width, by = k / g.nbpr * g.height;
  int used = 0;
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x, ++used) {
      if (used % 8 == 0) out += '\0';
      if (bit_at(bx + x, by + y)) out.back() = static_cast<char>(out.back() | 0x80 >> used % 8);
    }
  return out;
}

ImageSpec bilevel_image(const Grid& g) {
  ImageSpec s = image_for(g);
  s.pvtype = "B";
  s.irep = "MONO";
  s.abpp = 1;
  s.nbpp = 1;
  return s;
}

int bilevel_mismatches(const kernel::Bitmap& b, const Grid& g, const std::set<int>& blank) {
  int count = 0;
  for (int y = 0; y < g.rows(); ++y)
    for (int x = 0; x < g.columns(); ++x) {
      const bool zero = blank.count(y / g.height * g.nbpr + x / g.width) > 0;
      count += pixel_value(b, x, y) != (!zero && bit_at(x, y));
    }
  return count;
}

// Blocks of 5 x 3 bits: neither rows nor blocks end on a byte inside the stream. (GDAL
// reads 1-bit data of a single block only: LUinBand2 and i_3034c are its checks.)
TEST_F(ImageData, BilevelBlocksAreOneBitStreamEach) {
  Grid g{2, 2, 5, 3, 1, "B"};
  std::string pixels;
  for (int k = 0; k < g.blocks(); ++k) pixels += bilevel_block(g, k);
  TempDir dir;
  auto d = decode_image(write_image(dir, bilevel_image(g), pixels));
  ASSERT_EQ(d->result, RET_SUCCESS);
  ASSERT_EQ(d->bitmap.bits_per_pixel, 1);
  EXPECT_EQ(d->bitmap.colour_order, kernel::kColourPalette);
  EXPECT_EQ(bilevel_mismatches(d->bitmap, g, {}), 0);
}

TEST_F(ImageData, MaskedBilevelSkipsUnrecordedBlock) {
  Grid g{2, 2, 5, 3, 1, "B"};
  // Blocks 3, 2, 0 stored in that order; block 1 not recorded.
  std::vector<std::uint32_t> offsets(4, kNone);
  std::string pixels;
  for (int k : {3, 2, 0}) {
    offsets[std::size_t(k)] = static_cast<std::uint32_t>(pixels.size());
    pixels += bilevel_block(g, k);
  }
  ImageSpec image = bilevel_image(g);
  image.ic = "NM";
  MaskSpec m;
  m.block_records = offsets;
  image.mask = m;
  TempDir dir;
  auto d = decode_image(write_image(dir, image, pixels));
  ASSERT_EQ(d->result, RET_SUCCESS);
  EXPECT_EQ(bilevel_mismatches(d->bitmap, g, {1}), 0);
}

// One block of one band is read straight into the output, rows one after the other;
// NPPBH and NPPBV of 0 with one block per row and column stand for NCOLS and NROWS.
TEST_F(ImageData, SingleBlockMonoIsReadRowByRow) {
  for (bool zero_block_size : {false, true}) {
    SCOPED_TRACE(zero_block_size ? "NPPBH/NPPBV 0000" : "NPPBH 7, NPPBV 5");
    Grid g{1, 1, 7, 5, 1, "B"};
    ImageSpec image = image_for(g);
    image.nrows = 5;
    image.ncols = 7;
    if (zero_block_size) image.nppbh = image.nppbv = 0;
    TempDir dir;
    auto d = decode_image(write_image(dir, image, store(g).pixels));
    ASSERT_EQ(d->result, RET_SUCCESS);
    ASSERT_EQ(d->bitmap.width, 7);
    ASSERT_EQ(d->bitmap.height, 5);
    int wrong = 0;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) wrong += pixel_value(d->bitmap, x, y) != band_sample(0, x, y);
    EXPECT_EQ(wrong, 0);
  }
}

std::string big_endian(std::uint64_t v, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i));
  return out;
}

// Mono blocks of deep samples: stored[k][i] is sample i (row by row) of block k.
fs::path deep_image(const TempDir& dir, const Grid& g, int nbpp, int abpp,
                    const std::vector<std::vector<std::uint64_t>>& stored,
                    const std::string& pjust = "R", const std::string& name = "deep.ntf") {
  ImageSpec image = image_for(g);
  image.nbpp = nbpp;
  image.abpp = abpp;
  image.pjust = pjust;
  std::string pixels;
  for (const auto& block : stored)
    for (std::uint64_t v : block) pixels += big_endian(v, nbpp / 8);
  return write_image(dir, image, pixels, name);
}

// The smallest word lies in one block and the largest in another: both blocks are
// stretched between the same two values.
TEST_F(ImageData, ThirtyTwoBitMonoIsStretchedOverTheWholeImage) {
  Grid g{2, 1, 3, 2, 1, "B"};
  const std::vector<std::vector<std::uint64_t>> v = {{1000, 2000, 3000, 4000, 5000, 6000},
                                                     {7000, 8000, 9000, 10000, 11000, 4000001000}};
  TempDir dir;
  auto d = decode_image(deep_image(dir, g, 32, 32, v));
  ASSERT_EQ(d->result, RET_SUCCESS);
  ASSERT_EQ(d->bitmap.bits_per_pixel, 8);
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < 6; ++i) {
      const auto want = static_cast<std::uint32_t>(
          double(v[std::size_t(k)][std::size_t(i)] - 1000) * 255.0 / double(4000001000u - 1000u));
      EXPECT_EQ(pixel_value(d->bitmap, k * 3 + i % 3, i / 3), want)
          << "block " << k << " sample " << i;
    }
  EXPECT_EQ(pixel_value(d->bitmap, 0, 0), 0u);
  EXPECT_EQ(pixel_value(d->bitmap, 5, 1), 255u);
}

TEST_F(ImageData, SixteenBitSamplesAreScaledToTheirStoredWidth) {
  Grid g{2, 2, 2, 2, 1, "B"};
  std::vector<std::vector<std::uint64_t>> eleven, full, left;
  for (int k = 0; k < 4; ++k) {
    eleven.push_back({0, 1, 1024, std::uint64_t(2047 - k)});
    full.push_back({0, 0x1234, 0xFF00, std::uint64_t(0xFFFF - k)});
    left.push_back({0, 1 << 5, 1024 << 5, std::uint64_t(2047 - k) << 5});
  }
  TempDir dir;
  struct {
    const char* what;
    fs::path file;
    bool scaled;
  } cases[] = {{"ABPP 11", deep_image(dir, g, 16, 11, eleven, "R", "11.ntf"), true},
               {"ABPP 16", deep_image(dir, g, 16, 16, full, "R", "16.ntf"), false},
               {"ABPP 11 left-justified", deep_image(dir, g, 16, 11, left, "L", "left.ntf"), true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto d = decode_image(c.file);
    ASSERT_EQ(d->result, RET_SUCCESS);
    ASSERT_EQ(d->bitmap.bits_per_pixel, 16);
    const auto& source = c.scaled ? eleven : full;
    for (int k = 0; k < 4; ++k)
      for (int i = 0; i < 4; ++i) {
        const std::uint64_t v = source[std::size_t(k)][std::size_t(i)];
        const int x = k % 2 * 2 + i % 2, y = k / 2 * 2 + i / 2;
        EXPECT_EQ(pixel_value(d->bitmap, x, y), c.scaled ? v * 65535 / 2047 : v);
      }
  }
}

// 12-bit samples packed big-endian, two in three bytes, and continuing across rows when
// a row holds an odd number of them.
TEST_F(ImageData, TwelveBitSamplesAreRepacked) {
  for (int width : {4, 3}) {
    SCOPED_TRACE("block width " + std::to_string(width));
    Grid g{2, 1, width, 3, 1, "B"};
    ImageSpec image = image_for(g);
    image.nrows = g.rows();
    image.ncols = g.columns();
    image.nbpp = image.abpp = 12;
    auto value = [](int x, int y) { return std::uint32_t(x * 397 + y * 1201 + 5) & 0xFFF; };
    std::string pixels;
    for (int k = 0; k < 2; ++k) {
      std::vector<std::uint32_t> samples;
      for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < width; ++x) samples.push_back(value(k * width + x, y));
      std::string bits;
      for (std::size_t i = 0; i < samples.size(); i += 2) {
        const std::uint32_t a = samples[i], b = i + 1 < samples.size() ? samples[i + 1] : 0;
        bits += big_endian(a << 12 | b, 3).substr(0, i + 1 < samples.size() ? 3 : 2);
      }
      pixels += bits;
    }
    TempDir dir;
    auto d = decode_image(write_image(dir, image, pixels));
    ASSERT_EQ(d->result, RET_SUCCESS);
    ASSERT_EQ(d->bitmap.bits_per_pixel, 12);
    int wrong = 0;
    for (int y = 0; y < g.rows(); ++y)
      for (int x = 0; x < g.columns(); ++x) wrong += pixel_value(d->bitmap, x, y) != value(x, y);
    EXPECT_EQ(wrong, 0);
  }
}

// Two bands: the LU band is shown through the colour table; without one, band 0 as grey.
TEST_F(ImageData, TwoBandsShowOneBand) {
  Grid g{2, 1, 4, 2, 2, "B"};
  ImageSpec image = image_for(g);
  std::string lut0(4, '\0'), lut1(4, '\0'), lut2(4, '\0');
  for (int i = 0; i < 4; ++i) lut0[std::size_t(i)] = static_cast<char>(i * 60);
  image.irep = "MULTI";
  image.bands = {BandSpec{"M"}, BandSpec{"LU"}};
  image.bands[1].luts = {lut0, lut1, lut2};
  auto value = [](int b, int x, int y) { return std::uint8_t(b == 1 ? (x + y) % 4 : 200 + x); };
  std::string pixels;
  for (int k = 0; k < 2; ++k)
    for (int b = 0; b < 2; ++b)
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) pixels += static_cast<char>(value(b, k * 4 + x, y));
  TempDir dir;
  auto lu = decode_image(write_image(dir, image, pixels, "lu.ntf"));
  ASSERT_EQ(lu->result, RET_SUCCESS);
  ASSERT_EQ(lu->bitmap.bits_per_pixel, 8);
  ASSERT_GE(lu->bitmap.palette_count, 4);
  EXPECT_EQ(kernel::colour_of_entry(lu->bitmap.palette[3]), 180u) << "red from the table";
  image.bands = {BandSpec{"M"}, BandSpec{"M"}};
  auto grey = decode_image(write_image(dir, image, pixels, "grey.ntf"));
  ASSERT_EQ(grey->result, RET_SUCCESS);
  int wrong = 0;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8; ++x) {
      wrong += pixel_value(lu->bitmap, x, y) != value(1, x, y);
      wrong += pixel_value(grey->bitmap, x, y) != value(0, x, y);
    }
  EXPECT_EQ(wrong, 0);
}

// ----- Codes without a reader, and hostile input ---------------------------------------

TEST_F(ImageData, CompressionsWithoutReaderGiveNotSupported) {
  Grid g{1, 1, 8, 8, 1, "B"};
  TempDir dir;
  for (const char* ic : {"C0", "C2", "M0", "M2", "ZZ"}) {
    SCOPED_TRACE(ic);
    ImageSpec image = image_for(g);
    image.ic = ic;
    if (image.ic == "M0") image.mask = MaskSpec{};  // the one masked code of the four
    auto d = decode_image(write_image(dir, image, std::string(64, '\x10')));
    ASSERT_EQ(d->parsed.result, RET_SUCCESS);
    EXPECT_EQ(d->result, RET_NOT_SUPPORTED);
    EXPECT_TRUE(empty_output(d->bitmap));
  }
}

// The code of parsing the file and reading its first image, and whether the output was
// left empty on failure.
int outcome(const fs::path& file, bool* empty_on_failure = nullptr) {
  auto d = decode_image(file);
  if (empty_on_failure) *empty_on_failure = d->result == RET_SUCCESS || empty_output(d->bitmap);
  return d->result;
}

TEST_F(ImageData, BlockGridsTheDataCannotHoldAreRefusedBeforeAllocating) {
  TempDir dir;
  Grid g{1, 1, 8, 8, 1, "B"};
  ImageSpec image = image_for(g);
  image.nbpr = image.nbpc = 4;  // sixteen blocks declared, one stored
  bool empty = false;
  EXPECT_EQ(outcome(write_image(dir, image, store(g).pixels, "grid.ntf"), &empty), RET_FILE_FORMAT);
  EXPECT_TRUE(empty);

  // 9998 x 9998 blocks of 9998 x 9998 64-bit samples: the products stay exact and the
  // data are found short long before any bitmap is made.
  image = image_for(g);
  image.nbpr = image.nbpc = image.nppbh = image.nppbv = 9998;
  image.nbpp = image.abpp = 64;
  EXPECT_EQ(outcome(write_image(dir, image, std::string(64, 'x'), "huge.ntf")), RET_FILE_FORMAT);

  // NPPBH 0 takes the width from an absurd NCOLS.
  image = image_for(g);
  image.nppbh = 0;
  image.fields["NCOLS"] = "99999998";
  EXPECT_EQ(outcome(write_image(dir, image, store(g).pixels, "ncols.ntf")), RET_FILE_FORMAT);

  // Absurd NROWS and NCOLS beside a sound block grid change nothing: the grid is read.
  image = image_for(g);
  image.fields["NROWS"] = "99999998";
  image.fields["NCOLS"] = "99999998";
  EXPECT_EQ(outcome(write_image(dir, image, store(g).pixels, "rows.ntf")), RET_SUCCESS);

  // No blocks per row: an empty picture, and no error.
  image = image_for(g);
  image.nbpr = 0;
  auto none = decode_image(write_image(dir, image, "", "empty.ntf"));
  EXPECT_EQ(none->result, RET_SUCCESS);
  EXPECT_EQ(none->bitmap.width, 0);
  EXPECT_EQ(none->bitmap.data, nullptr);

  image = image_for(g);
  image.fields["NBPR"] = "-001";
  EXPECT_LT(outcome(write_image(dir, image, store(g).pixels, "negative.ntf")), RET_SUCCESS);
}

TEST_F(ImageData, MaskEntriesAreCheckedAgainstLi) {
  TempDir dir;
  Grid g{2, 1, 4, 4, 1, "B"};
  Stored stored = store(g);
  ImageSpec image = image_for(g);
  image.ic = "NM";
  MaskSpec m;

  // An entry at or beyond LI leaves its block out, as 0xFFFFFFFF does.
  m.block_records = {stored.offsets[0], 0x7FFFFFF0};
  image.mask = m;
  auto skipped = decode_image(write_image(dir, image, stored.pixels, "beyond.ntf"));
  ASSERT_EQ(skipped->result, RET_SUCCESS);
  EXPECT_EQ(pixel_value(skipped->bitmap, 5, 1), 0u);
  EXPECT_EQ(pixel_value(skipped->bitmap, 1, 1), band_sample(0, 1, 1));

  // A block that starts inside the data but runs past their end is a format error.
  m.block_records = {0, static_cast<std::uint32_t>(stored.pixels.size() - 3)};
  image.mask = m;
  bool empty = false;
  EXPECT_EQ(outcome(write_image(dir, image, stored.pixels, "past.ntf"), &empty), RET_FILE_FORMAT);
  EXPECT_TRUE(empty);

  // IMDATOFF beyond the data.
  m.block_records = stored.offsets;
  m.imdatoff = 1 << 20;
  image.mask = m;
  EXPECT_LT(outcome(write_image(dir, image, stored.pixels, "imdatoff.ntf")), RET_SUCCESS);
}

// Images the reader refuses whole, leaving the output empty: data cut short, a sparse
// image whose bitmap alone passes the allocation cap, and layouts with no bitmap form
// (4-bit samples, three bands of 12 bits).
TEST_F(ImageData, RefusedImagesLeaveTheOutputEmpty) {
  TempDir dir;
  Grid g{2, 2, 8, 8, 1, "B"};
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(image_for(g), store(g).pixels));
  std::string cut = nitfgen::build(file);
  cut.resize(cut.size() - 10);
  Grid sparse{1, 1, 9998, 9998, 1, "B"}, one{1, 1, 8, 8, 1, "B"}, rgb{1, 1, 8, 8, 3, "B"};
  ImageSpec huge = image_for(sparse), four = image_for(one), rgb12 = image_for(rgb);
  huge.ic = "NM";
  huge.mask = MaskSpec{};
  huge.mask->block_records = {kNone};
  four.nbpp = four.abpp = 4;
  rgb12.nbpp = rgb12.abpp = 12;
  const struct {
    fs::path file;
    int code;
    std::size_t cap;
  } cases[] = {{dir.write("short.ntf", cut), RET_FILE_READ, 0},
               {write_image(dir, huge, "", "huge.ntf"), RET_NO_MEMORY, std::size_t{16} << 20},
               {write_image(dir, four, std::string(32, 'x'), "four.ntf"), RET_NOT_SUPPORTED, 0},
               {write_image(dir, rgb12, std::string(288, 'x'), "rgb12.ntf"), RET_NOT_SUPPORTED, 0}};
  for (const auto& c : cases) {
    bool empty = false;
    kernel::set_allocation_cap(c.cap);
    const int result = outcome(c.file, &empty);
    kernel::set_allocation_cap(0);
    EXPECT_EQ(result, c.code) << c.file;
    EXPECT_TRUE(empty) << c.file;
  }
}

TEST_F(ImageData, ArgumentsAreChecked) {
  TempDir dir;
  Grid g{1, 1, 4, 4, 1, "B"};
  Parsed p = parse(write_image(dir, image_for(g), store(g).pixels));
  ASSERT_EQ(p.result, RET_SUCCESS);
  kernel::Bitmap b;
  EXPECT_EQ(nitf::read_image(p.document.get(), 1, &b, nullptr), RET_BAD_ARGUMENT);
  EXPECT_EQ(nitf::read_image(p.document.get(), 0, nullptr, nullptr), RET_INVALID_PARAMETER);
  EXPECT_EQ(nitf::read_image(nullptr, 0, &b, nullptr), RET_INVALID_PARAMETER);
  EXPECT_TRUE(empty_output(b));
}

// Bytes of each uncompressed sample's subheader and first image data replaced at random:
// every variant parses to a code, or reads to a code or a picture.
TEST_F(ImageData, CorruptedSamplesGiveACodeOrAPicture) {
  REQUIRE_SAMPLES();
  std::mt19937 random(20261206);
  const char junk[] = "0123456789 -9\xFF";
  TempDir dir;
  int pictures = 0, codes = 0;
  for (const RealImage& c : kRealImages) {
    SCOPED_TRACE(c.file);
    const std::string original = nitfgen::read_file(sample(c.file).string());
    Parsed p = parse(sample(c.file));
    ASSERT_EQ(p.result, RET_SUCCESS);
    const auto start =
        static_cast<std::size_t>(nitf::segment_offset(*p.document, nitf::SegmentKind::kImage, 0));
    const auto data = static_cast<std::size_t>(
        nitf::segment_data_offset(*p.document, nitf::SegmentKind::kImage, 0));
    const std::size_t end = std::min(original.size(), data + 64);
    for (int variant = 0; variant < 12; ++variant) {
      std::string bytes = original;
      for (int n = 0; n < 3; ++n) {
        const std::size_t at = start + random() % (end - start);
        bytes[at] = random() % 2 ? junk[random() % (sizeof junk - 1)] : static_cast<char>(random());
      }
      auto d = decode_image(dir.write("corrupt.ntf", bytes));
      if (d->result == RET_SUCCESS) {
        ++pictures;
        if (d->bitmap.width > 0 && d->bitmap.height > 0) {
          EXPECT_NE(d->bitmap.data, nullptr);
        }
      } else {
        ++codes;
        EXPECT_TRUE(empty_output(d->bitmap)) << "code " << d->result;
      }
    }
  }
  EXPECT_GT(pictures, 0);
  EXPECT_GT(codes, 0);
}

}  // namespace
