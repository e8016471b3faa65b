// The file-format library's decoders against independent oracles: JPEG pixels against
// djpeg, JPEG 2000 pixels against opj_decompress, T.4 pixels against GDAL's NITF reader
// and pictures encoded here with libtiff. Streams come from the real samples (cut out
// at each image's data offset) and from libjpeg-turbo's encoder with the variants a NITF
// producer writes. Hostile streams (cut short, scrambled, with absurd sizes) must give a
// code, leave the caller's record as it was and leave nothing allocated behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

#include "fileformat/fileformat.h"
#include "image/data/imgmodes.h"
#include "kernel/bitmap.h"
#include "kernel/memory.h"
#include "nitfgen_image.h"
#include "testing.h"

namespace {

namespace ff = fileformat;
using Bytes = std::vector<std::uint8_t>;
using testing_support::TempDir;

constexpr std::uint32_t kRecord = kernel::kBitmapRecordSize;
constexpr std::int32_t kAccepted[] = {5, 10, 11, 21, 22, 23, 24, 26, 165};

bool accepted(std::uint32_t id) {
  for (std::int32_t a : kAccepted)
    if (std::uint32_t(a) == id) return true;
  return false;
}

// ---------------------------------------------------------------------------------------
// Support: owned records, leak checks, files, the oracles.

using testing_support::AllocationCap;
using testing_support::OwnedBitmap;
using HostCodec = testing_support::LeakChecked;

Bytes read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::filesystem::path& p, const Bytes& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Image segment `index`'s data, found as the module finds it: HL and the length tables.
Bytes image_data(const std::string& sample, std::uint32_t index) {
  const auto path = testing_support::sample(sample);
  auto parsed = testing_support::read_header_only(path);
  EXPECT_EQ(parsed.result, RET_SUCCESS) << sample;
  const std::int64_t offset =
      nitf::segment_data_offset(*parsed.document, nitf::SegmentKind::kImage, index);
  const std::uint64_t length = parsed.document->header.images.data(index);
  Bytes file = read_file(path);
  if (offset < 0 || std::uint64_t(offset) + length > file.size()) {
    ADD_FAILURE() << sample << ": image " << index << " outside the file";
    return {};
  }
  return Bytes(file.begin() + offset, file.begin() + offset + std::int64_t(length));
}

// A binary PNM (P5 or P6, 8 or 16 bits per sample).
struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::uint32_t maxval = 0;
  std::vector<std::uint32_t> samples;
  std::uint32_t at(int x, int y, int c) const {
    return samples[(std::size_t(y) * width + x) * channels + c];
  }
};

std::optional<Pnm> parse_pnm(const Bytes& d) {
  Pnm p;
  std::size_t pos = 2;
  auto number = [&]() {
    while (pos < d.size() && (std::isspace(d[pos]) || d[pos] == '#'))
      if (d[pos++] == '#')
        while (pos < d.size() && d[pos] != '\n') ++pos;
    std::uint32_t v = 0;
    while (pos < d.size() && std::isdigit(d[pos])) v = v * 10 + (d[pos++] - '0');
    return v;
  };
  if (d.size() < 2 || d[0] != 'P' || (d[1] != '5' && d[1] != '6')) return std::nullopt;
  p.channels = d[1] == '5' ? 1 : 3;
  p.width = int(number());
  p.height = int(number());
  p.maxval = number();
  ++pos;  // the single whitespace before the samples
  const std::size_t count = std::size_t(p.width) * p.height * p.channels;
  const std::size_t bytes = p.maxval > 255 ? 2 : 1;
  if (p.maxval == 0 || d.size() < pos + count * bytes) return std::nullopt;
  for (std::size_t i = 0; i < count; ++i, pos += bytes)
    p.samples.push_back(bytes == 1 ? d[pos] : std::uint32_t(d[pos]) << 8 | d[pos + 1]);
  return p;
}

// djpeg's picture of a stream (from its start-of-image marker).
std::optional<Pnm> djpeg(const Bytes& jpeg) {
  TempDir dir;
  write_file(dir.file("in.jpg"), jpeg);
  const std::string out =
      testing_support::command_output("djpeg -pnm " + dir.file("in.jpg").string() + " 2>/dev/null");
  return parse_pnm(Bytes(out.begin(), out.end()));
}

// opj_decompress's picture of a codestream or JP2 file with one or three components.
std::optional<Pnm> opj_decompress(const Bytes& stream, bool jp2, bool colour) {
  TempDir dir;
  const auto in = dir.file(jp2 ? "in.jp2" : "in.j2k");
  const auto out = dir.file(colour ? "out.ppm" : "out.pgm");
  write_file(in, stream);
  const std::string command =
      "opj_decompress -quiet -i " + in.string() + " -o " + out.string() + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  return parse_pnm(read_file(out));
}

// An oracle sample of `maxval` scaled to `bits`, rounding to nearest; 8-bit grey keeps
// its value (palette indices and grey levels of at most 8 bits are not rescaled).
std::uint32_t expected_sample(std::uint32_t s, std::uint32_t maxval, int bits) {
  const std::uint64_t top = (std::uint64_t{1} << bits) - 1;
  if (maxval == top || (bits == 8 && maxval < 255)) return s;
  return std::uint32_t((std::uint64_t{s} * top + maxval / 2) / maxval);
}

// The largest difference between the bitmap and the oracle. A 24-bit bitmap's red,
// green and blue are compared with the oracle channels channel[0], [1] and [2].
int max_difference(const kernel::Bitmap& b, const Pnm& p, std::array<int, 3> channel = {0, 1, 2},
                   int bits_per_channel = 8) {
  int worst = 0;
  for (int y = 0; y < b.height; ++y) {
    const std::uint8_t* row = kernel::storage_row(b, kernel::top_down_row(b, y));
    for (int x = 0; x < b.width; ++x) {
      for (int c = 0; c < (b.bits_per_pixel == 24 ? 3 : 1); ++c) {
        int got = 0;
        if (b.bits_per_pixel == 24) got = row[3 * x + 2 - c];  // stored B, G, R
        if (b.bits_per_pixel == 8) got = row[x];
        if (b.bits_per_pixel == 16) got = row[2 * x] | row[2 * x + 1] << 8;
        const int want = int(expected_sample(p.at(x, y, channel[c]), p.maxval,
                                             b.bits_per_pixel == 16 ? 16 : bits_per_channel));
        worst = std::max(worst, std::abs(got - want));
      }
    }
  }
  return worst;
}

// ---------------------------------------------------------------------------------------
// A JPEG encoder (libjpeg-turbo) for the variants producers write.

struct Encoding {
  int width = 45, height = 37;  // not multiples of the MCU: partial blocks at both edges
  int components = 3;
  J_COLOR_SPACE input = JCS_RGB;
  J_COLOR_SPACE stored = JCS_YCbCr;
  bool progressive = false;
  unsigned restart_interval = 0;  // in MCUs
  std::optional<bool> jfif, adobe;
  std::optional<std::array<int, 3>> ids;
  int quality = 85;
};

// Smooth ramps with a sharp diagonal edge and fine texture, so that colour mix-ups,
// wrong component order and misplaced blocks all show.
Bytes pattern(int width, int height, int components) {
  Bytes px;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) {
        int v = c == 0   ? x * 255 / std::max(1, width - 1)
                : c == 1 ? y * 255 / std::max(1, height - 1)
                         : (x + 2 * y) % 64 * 4;
        if (c == 3) v = 255 - v / 2;
        if (x > y) v = (v + 96 * (c + 1)) & 0xFF;
        px.push_back(std::uint8_t(v));
      }
  return px;
}

Bytes encode(const Encoding& e, const Bytes& pixels) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(e.width);
  c.image_height = JDIMENSION(e.height);
  c.input_components = e.components;
  c.in_color_space = e.input;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, e.stored);
  jpeg_set_quality(&c, e.quality, TRUE);
  if (e.jfif) c.write_JFIF_header = *e.jfif;
  if (e.adobe) c.write_Adobe_marker = *e.adobe;
  if (e.ids)
    for (int i = 0; i < 3; ++i) c.comp_info[i].component_id = (*e.ids)[i];
  if (e.progressive) jpeg_simple_progression(&c);
  c.restart_interval = e.restart_interval;
  jpeg_start_compress(&c, TRUE);
  for (int y = 0; y < e.height; ++y) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + std::size_t(y) * e.width * e.components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes stream(out, out + size);
  std::free(out);
  return stream;
}

Bytes encode(const Encoding& e) {
  return encode(e, pattern(e.width, e.height, e.components));
}

Encoding grey() {
  Encoding e;
  e.components = 1;
  e.input = e.stored = JCS_GRAYSCALE;
  return e;
}

// R, G, B stored as they are, with the Adobe marker (transform 0) and identifiers
// 'R', 'G', 'B' that libjpeg's encoder writes for them.
Encoding rgb_marked() {
  Encoding e;
  e.stored = JCS_RGB;
  return e;
}

// The same components with nothing that tells libjpeg they are RGB, as NITF producers
// write them: identifiers 1, 2, 3, no JFIF, no Adobe marker.
Encoding rgb_unmarked() {
  Encoding e = rgb_marked();
  e.adobe = false;
  e.ids = std::array<int, 3>{1, 2, 3};
  return e;
}

std::int32_t load(const Bytes& s, kernel::Bitmap* b, const FltLoadOptions* o = nullptr,
                  std::int32_t bits = 0, std::int32_t order = ff::kColourAsDecoded) {
  return ff::load_from_memory(s.data(), b, kRecord, bits, order, std::uint32_t(s.size()), o);
}

FltLoadOptions options_with(std::uint32_t flags, std::uint32_t r = 0, std::uint32_t g = 1,
                            std::uint32_t b = 2) {
  FltLoadOptions o;
  EXPECT_EQ(ff::default_load_options(&o, ff::kLoadOptionsSize), RET_SUCCESS);
  o.flags |= flags;
  o.red_band = r;
  o.green_band = g;
  o.blue_band = b;
  return o;
}

FltFileInfo info_of(const Bytes& s, std::int32_t* result = nullptr) {
  FltFileInfo info;
  std::memset(&info, 0xAB, sizeof info);  // what the call does not write shows
  const std::int32_t r =
      ff::file_info_from_memory(s.data(), &info, ff::kFileInfoSize, std::uint32_t(s.size()));
  if (result) *result = r;
  return info;
}

// A 2 x 2 8-bit bitmap that a failed load must leave exactly as it was.
void make_sentinel(OwnedBitmap& b) {
  ASSERT_EQ(kernel::create_bitmap(b.get(), kRecord, 1, 2, 2, 8, kernel::kColourGrey, nullptr,
                                  kernel::kViewTopDown, nullptr, 0),
            RET_SUCCESS);
  std::memset(b->data, 0x5A, b->data_size);
}

void expect_sentinel(kernel::Bitmap& b, const std::string& where) {
  ASSERT_EQ(b.width, 2) << where;
  ASSERT_EQ(b.bits_per_pixel, 8) << where;
  ASSERT_NE(b.data, nullptr) << where;
  EXPECT_EQ(b.data[0], 0x5A) << where;
}

// ---------------------------------------------------------------------------------------
// Generated JPEG streams against djpeg.

struct JpegCase {
  const char* name;
  Encoding encoding;
  std::uint32_t format;  // the file-information identifier
};

Encoding with(Encoding e, bool progressive, unsigned restart) {
  e.progressive = progressive;
  e.restart_interval = restart;
  return e;
}

Encoding sized(Encoding e, int width, int height) {
  e.width = width;
  e.height = height;
  return e;
}

Encoding without_jfif() {
  Encoding e;
  e.jfif = false;
  return e;
}

const JpegCase kJpegCases[] = {
    {"GreyBaseline", grey(), 5},
    {"ColourJfif420", Encoding{}, 10},
    {"ColourNoMarkers", without_jfif(), 10},
    {"RgbAdobe", rgb_marked(), 24},
    {"GreyProgressive", with(grey(), true, 0), 11},
    {"ColourProgressive", with(Encoding{}, true, 0), 11},
    {"GreyRestartEveryMcu", with(grey(), false, 1), 26},
    {"ColourRestartEvery3", with(Encoding{}, false, 3), 26},
    {"ProgressiveWithRestarts", with(Encoding{}, true, 2), 11},
    {"OnePixel", sized(Encoding{}, 1, 1), 10},
    {"OneRowWide", sized(grey(), 300, 1), 5},
    {"OneColumnTall", sized(Encoding{}, 1, 70), 10},
};

class HostCodecJpeg : public HostCodec, public ::testing::WithParamInterface<JpegCase> {};

TEST_P(HostCodecJpeg, DecodesAsDjpegDoesAndIsDescribed) {
  REQUIRE_TOOL("djpeg");
  const JpegCase& c = GetParam();
  const Bytes stream = encode(c.encoding);
  OwnedBitmap b;
  ASSERT_EQ(load(stream, b.get()), RET_SUCCESS);
  const auto oracle = djpeg(stream);
  ASSERT_TRUE(oracle);
  ASSERT_EQ(b->width, oracle->width);
  ASSERT_EQ(b->height, oracle->height);
  const bool colour = c.encoding.components == 3;
  EXPECT_EQ(b->bits_per_pixel, colour ? 24 : 8);
  EXPECT_EQ(b->colour_order, colour ? kernel::kColourRgb : kernel::kColourGrey);
  EXPECT_EQ(b->view_code, kernel::kViewTopDown);
  EXPECT_LE(max_difference(*b.get(), *oracle), 1);

  std::int32_t result = 0;
  const FltFileInfo info = info_of(stream, &result);
  ASSERT_EQ(result, RET_SUCCESS);
  EXPECT_EQ(info.format, c.format);
  EXPECT_TRUE(accepted(info.format));
  EXPECT_EQ(info.width, std::uint32_t(c.encoding.width));
  EXPECT_EQ(info.height, std::uint32_t(c.encoding.height));
  EXPECT_EQ(info.bits_per_pixel, colour ? 24u : 8u);
  EXPECT_EQ(info.image_size_low, std::uint32_t(b->data_size));
  EXPECT_EQ(info.image_size_high, 0u);
}

INSTANTIATE_TEST_SUITE_P(HostCodecGenerated, HostCodecJpeg, ::testing::ValuesIn(kJpegCases),
                         [](const auto& info) { return std::string(info.param.name); });

using HostCodecJpegColour = HostCodec;

// The RGB flag is for NITF streams whose components are R, G, B with no marker saying
// so: libjpeg alone would take them for YCbCr.
TEST_F(HostCodecJpegColour, RgbFlagReadsUnmarkedComponentsAsRgb) {
  REQUIRE_TOOL("djpeg");
  const Bytes marked = encode(rgb_marked());  // the same coded data, marked as RGB
  const Bytes unmarked = encode(rgb_unmarked());
  const auto truth = djpeg(marked);
  const auto guessed = djpeg(unmarked);
  ASSERT_TRUE(truth && guessed);
  const FltLoadOptions rgb = options_with(KV_LOAD_RGB);
  OwnedBitmap with_flag, without;
  ASSERT_EQ(load(unmarked, with_flag.get(), &rgb), RET_SUCCESS);
  ASSERT_EQ(load(unmarked, without.get()), RET_SUCCESS);
  EXPECT_LE(max_difference(*with_flag.get(), *truth), 1);
  EXPECT_LE(max_difference(*without.get(), *guessed), 1) << "no flag: libjpeg's own reading";
  EXPECT_GT(max_difference(*without.get(), *truth), 40) << "the test must tell the two apart";
  EXPECT_EQ(info_of(unmarked).format, std::uint32_t(ff::kFormatJpegYcc));
}

// A JFIF stream is YCbCr by definition, an Adobe marker states its transform and a grey
// stream stays grey: the RGB flag changes none of them.
TEST_F(HostCodecJpegColour, RgbFlagKeepsWhatTheStreamStates) {
  REQUIRE_TOOL("djpeg");
  Encoding adobe_ycc;
  adobe_ycc.jfif = false;
  adobe_ycc.adobe = true;  // Adobe marker with transform 1
  const FltLoadOptions rgb = options_with(KV_LOAD_RGB);
  for (const Bytes& s : {encode(Encoding{}), encode(adobe_ycc), encode(grey())}) {
    const auto oracle = djpeg(s);
    ASSERT_TRUE(oracle);
    OwnedBitmap b;
    ASSERT_EQ(load(s, b.get(), &rgb), RET_SUCCESS);
    EXPECT_EQ(b->bits_per_pixel, oracle->channels == 3 ? 24 : 8);
    EXPECT_LE(max_difference(*b.get(), *oracle), 1);
  }
}

// Band selection takes components as stored, in any order, without colour transform; a
// grey stream's one component can be repeated.
TEST_F(HostCodecJpegColour, BandSelectionPicksStoredComponents) {
  REQUIRE_TOOL("djpeg");
  const Bytes rgb = encode(rgb_marked()), grey_stream = encode(grey());
  struct Case {
    const Bytes* stream;
    std::array<std::uint32_t, 3> bands;
    std::uint32_t flags;
  } cases[] = {{&rgb, {2, 0, 1}, KV_LOAD_BANDS | KV_LOAD_RGB},  // stored = djpeg's R, G, B
               {&rgb, {1, 1, 1}, KV_LOAD_BANDS | KV_LOAD_RGB},
               {&rgb, {0, 1, 2}, KV_LOAD_BANDS | KV_LOAD_RGB},
               {&grey_stream, {0, 0, 0}, KV_LOAD_BANDS}};
  for (const Case& c : cases) {
    const auto oracle = djpeg(*c.stream);
    ASSERT_TRUE(oracle);
    const auto& s = c.bands;
    const FltLoadOptions o = options_with(c.flags, s[0], s[1], s[2]);
    OwnedBitmap b;
    ASSERT_EQ(load(*c.stream, b.get(), &o), RET_SUCCESS);
    EXPECT_EQ(b->bits_per_pixel, 24);
    EXPECT_LE(max_difference(*b.get(), *oracle, {int(s[0]), int(s[1]), int(s[2])}), 1)
        << s[0] << s[1] << s[2];
  }
}

TEST_F(HostCodecJpegColour, BandBeyondTheComponentsIsRefused) {
  OwnedBitmap b;
  make_sentinel(b);
  const Bytes stream = encode(rgb_marked());
  for (std::uint32_t bad : {3u, 0xFFFFFFFFu}) {
    const FltLoadOptions o = options_with(KV_LOAD_BANDS, 0, bad, 1);
    EXPECT_EQ(load(stream, b.get(), &o), RET_INVALID_PARAMETER);
    expect_sentinel(*b.get(), "band " + std::to_string(bad));
  }
}

// Four components (CMYK as Adobe writes it): the first three, as stored. Coded with the
// tables of a three-component RGB stream of the same values, so djpeg of that one is
// the oracle.
TEST_F(HostCodecJpegColour, FourComponentsGiveTheFirstThree) {
  REQUIRE_TOOL("djpeg");
  Encoding four;
  four.components = 4;
  four.input = four.stored = JCS_CMYK;
  const Bytes px4 = pattern(four.width, four.height, 4);
  Bytes px3;
  for (std::size_t i = 0; i < px4.size(); i += 4) px3.insert(px3.end(), &px4[i], &px4[i] + 3);
  const auto oracle = djpeg(encode(rgb_marked(), px3));
  ASSERT_TRUE(oracle);
  const Bytes stream = encode(four, px4);
  OwnedBitmap b;
  ASSERT_EQ(load(stream, b.get()), RET_SUCCESS);
  EXPECT_LE(max_difference(*b.get(), *oracle), 1);
  EXPECT_EQ(info_of(stream).format, std::uint32_t(ff::kFormatJpegMulti));
}

// What comes before the start-of-image marker: fill bytes (i_3025b has six), and the
// 27-byte NITF APP6 prefix that the blocked MULTI reader puts before a re-read block.
TEST_F(HostCodecJpegColour, FillBytesAndTheNitfPrefixChangeNothing) {
  const Bytes stream = encode(Encoding{});
  const Bytes prefix = {0xFF, 0xD8, 0xFF, 0xE6, 0x00, 0x19, 0x4E, 0x49, 0x54,
                        0x46, 0x00, 0x02, 0x00, 0x42, 0x00, 0x02, 0x00, 0x02,
                        0x03, 0x08, 0x00, 0x01, 0x00, 0x03, 0x08, 0x01, 0x01};
  Bytes filled(5, 0xFF), prefixed = prefix;
  filled.insert(filled.end(), stream.begin(), stream.end());
  prefixed.insert(prefixed.end(), stream.begin(), stream.end());
  OwnedBitmap plain;
  ASSERT_EQ(load(stream, plain.get()), RET_SUCCESS);
  for (const Bytes* s : {&filled, &prefixed}) {
    OwnedBitmap b;
    ASSERT_EQ(load(*s, b.get()), RET_SUCCESS);
    ASSERT_EQ(b->data_size, plain->data_size);
    EXPECT_EQ(std::memcmp(b->data, plain->data, b->data_size), 0);
    EXPECT_EQ(info_of(*s).format, std::uint32_t(ff::kFormatJpegYcc));
  }
}

// ---------------------------------------------------------------------------------------
// JPEG 2000 streams of the real samples against opj_decompress. The samples the image
// reader takes are compared through it (ImageCompressed.*SamplesMatch*); the 11-bit JP2
// colour image it refuses is decoded here alone.

using HostCodecJ2k = HostCodec;

TEST_F(HostCodecJ2k, ElevenBitColourJp2DecodesAsTheOracleDoes) {
  REQUIRE_SAMPLES();
  REQUIRE_TOOL("opj_decompress");
  const Bytes stream = image_data("j2k/066_389x298_s_11_3_rgb_jp2.ntf", 0);
  OwnedBitmap b;
  ASSERT_EQ(load(stream, b.get()), RET_SUCCESS);
  const auto oracle = opj_decompress(stream, true, true);
  ASSERT_TRUE(oracle);
  ASSERT_EQ(b->width, oracle->width);
  ASSERT_EQ(b->height, oracle->height);
  EXPECT_EQ(b->bits_per_pixel, 24);
  EXPECT_LE(max_difference(*b.get(), *oracle), 1);
}

// The file information of every sample stream: a kind a block reader accepts, and for
// JPEG 2000 the picture the decoder makes. (The pixels are compared with djpeg and
// opj_decompress through the image reader, ImageCompressed.*SamplesMatch*.)
TEST_F(HostCodecJ2k, InfoOfEverySampleStreamDescribesItsPicture) {
  REQUIRE_SAMPLES();
  const std::pair<const char*, std::uint32_t> streams[] = {
      {"jitc/i_3025b.ntf", 0},
      {"misc/WithBE.ntf", 0},
      {"misc/two_images_jpeg.ntf", 1},
      {"jitc/i_3113g.ntf", 0},
      {"j2k/001_006_64x64_s_8_1_mono_j2c.ntf", 0},
      {"j2k/046_512x512_s_8_3_rgb_j2c.ntf", 0},
      {"j2k/053_512x512_s_8_3_ycbcr_j2c.ntf", 0},
      {"j2k/066_389x298_s_11_3_rgb_jp2.ntf", 0},
      {"j2k/file9_j2c.ntf", 0},
      {"j2k/p0_10b.ntf", 0},
      {"j2k/p0_12a.ntf", 0},
      {"j2k/p1_06b.ntf", 0},
      {"misc/two_images_jp2.ntf", 1}};
  for (const auto& [file, index] : streams) {
    SCOPED_TRACE(file);
    const Bytes stream = image_data(file, index);
    OwnedBitmap b;
    ASSERT_EQ(load(stream, b.get()), RET_SUCCESS);
    std::int32_t result = 0;
    const FltFileInfo info = info_of(stream, &result);
    ASSERT_EQ(result, RET_SUCCESS);
    EXPECT_TRUE(accepted(info.format));
    // A JP2 file begins with its signature box, a codestream with SOC.
    if (stream[0] == 0x00 || (stream[0] == 0xFF && stream[1] == 0x4F)) {
      EXPECT_EQ(info.format, std::uint32_t(ff::kFormatJpeg2000));
      EXPECT_EQ(info.width, std::uint32_t(b->width));
      EXPECT_EQ(info.height, std::uint32_t(b->height));
      EXPECT_EQ(info.bits_per_pixel, std::uint32_t(b->bits_per_pixel));
    }
  }
}

TEST_F(HostCodecJ2k, BandSelectionReordersComponents) {
  REQUIRE_SAMPLES();
  REQUIRE_TOOL("opj_decompress");
  const Bytes stream = image_data("j2k/046_512x512_s_8_3_rgb_j2c.ntf", 0);
  const auto oracle = opj_decompress(stream, false, true);
  ASSERT_TRUE(oracle);
  const FltLoadOptions o = options_with(KV_LOAD_BANDS, 2, 0, 0);
  OwnedBitmap b;
  ASSERT_EQ(load(stream, b.get(), &o), RET_SUCCESS);
  EXPECT_LE(max_difference(*b.get(), *oracle, {2, 0, 0}), 1);
  const FltLoadOptions bad = options_with(KV_LOAD_BANDS, 0, 1, 3);
  EXPECT_EQ(load(stream, b.get(), &bad), RET_INVALID_PARAMETER);
}

// One component deeper than 8 bits becomes 16-bit grey over the full range; the stream
// is made by opj_compress from a 12-bit PGM.
TEST_F(HostCodecJ2k, TwelveBitGreyBecomesSixteenBitGrey) {
  REQUIRE_TOOL("opj_compress");
  TempDir dir;
  const int w = 33, h = 21;
  std::string pgm = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n4095\n";
  Bytes file(pgm.begin(), pgm.end());
  Pnm truth{w, h, 1, 4095, {}};
  for (int i = 0; i < w * h; ++i) {
    const std::uint32_t v = std::uint32_t(i * 97 % 4096);
    truth.samples.push_back(v);
    file.push_back(std::uint8_t(v >> 8));
    file.push_back(std::uint8_t(v));
  }
  write_file(dir.file("in.pgm"), file);
  const std::string command = "opj_compress -n 3 -i " + dir.file("in.pgm").string() + " -o " +
                              dir.file("out.j2k").string() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const Bytes stream = read_file(dir.file("out.j2k"));
  OwnedBitmap b;
  ASSERT_EQ(load(stream, b.get()), RET_SUCCESS);
  EXPECT_EQ(b->bits_per_pixel, 16);
  EXPECT_EQ(b->colour_order, kernel::kColourGrey);
  EXPECT_LE(max_difference(*b.get(), truth), 1) << "lossless: the values, scaled";
  EXPECT_EQ(info_of(stream).bits_per_pixel, 16u);
  OwnedBitmap as_stored;
  EXPECT_EQ(load(stream, as_stored.get(), nullptr, 16), RET_SUCCESS);
  EXPECT_EQ(load(stream, as_stored.get(), nullptr, 8), RET_NOT_SUPPORTED);
}

// Pictures of more than 16 MiB of OpenJPEG samples are decoded in pieces: a codestream of
// one tile in strips of rows (their edges inside code blocks at every level), one of
// several tiles tile by tile. The pixels must be opj_decompress's exactly, a cut stream
// is refused, and decoding into a view of a larger picture (KV_LOAD_INTO) writes the same
// pixels there and nothing around them; a view of another size is refused untouched.
TEST_F(HostCodecJ2k, LargePicturesDecodedInPiecesAreTheWholePicture) {
  REQUIRE_TOOL("opj_compress");
  REQUIRE_TOOL("opj_decompress");
  TempDir dir;
  auto picture = [&](const char* name, int w, int h, int channels, int maxval) {
    const std::string head = std::string(channels == 3 ? "P6\n" : "P5\n") + std::to_string(w) +
                             " " + std::to_string(h) + "\n" + std::to_string(maxval) + "\n";
    Bytes file(head.begin(), head.end());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < channels; ++c) {
          const int v = (x * (3 + c) + y * 5 + (x * y + c * 7) % 29 * 9) % (maxval + 1);
          if (maxval > 255) file.push_back(std::uint8_t(v >> 8));
          file.push_back(std::uint8_t(v));
        }
    write_file(dir.file(name), file);
  };
  picture("rgb.ppm", 1200, 1208, 3, 255);
  picture("grey.pgm", 2100, 2048, 1, 4095);
  struct Kind {
    const char* what;
    const char* input;
    const char* options;
  };
  for (const Kind& k : {Kind{"one tile, 9/7 wavelet", "rgb.ppm", "-I -r 8"},
                        Kind{"one tile, code blocks 32 x 128", "rgb.ppm", "-b 32,128 -r 4"},
                        Kind{"tiles of 512 x 384", "rgb.ppm", "-t 512,384 -r 6"},
                        Kind{"one tile, 12-bit grey", "grey.pgm", "-r 5"}}) {
    const std::string command = std::string("opj_compress ") + k.options + " -i " +
                                dir.file(k.input).string() + " -o " + dir.file("out.j2k").string() +
                                " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << k.what;
    const Bytes stream = read_file(dir.file("out.j2k"));
    const bool colour = std::string(k.input) == "rgb.ppm";
    const auto oracle = opj_decompress(stream, false, colour);
    ASSERT_TRUE(oracle) << k.what;
    OwnedBitmap b;
    ASSERT_EQ(load(stream, b.get()), RET_SUCCESS) << k.what;
    EXPECT_EQ(max_difference(*b.get(), *oracle), 0) << k.what;
    const Bytes cut(stream.begin(), stream.begin() + std::ptrdiff_t(stream.size() * 3 / 5));
    OwnedBitmap refused;
    EXPECT_EQ(load(cut, refused.get()), RET_FILE_FORMAT) << k.what;
    EXPECT_EQ(refused->data, nullptr) << k.what;
    if (!colour) continue;
    OwnedBitmap big, before;
    ASSERT_EQ(kernel::create_bitmap(big.get(), kRecord, 1, b->width + 7, b->height + 3, 24,
                                    kernel::kColourRgb, nullptr, kernel::kViewBottomUp, nullptr, 0),
              RET_SUCCESS);
    kernel::fill_bitmap(big.get(), 0x123456);
    kernel::create_bitmap(before.get(), kRecord, 1, big->width, big->height, 24, kernel::kColourRgb,
                          nullptr, kernel::kViewBottomUp, big->data, big->data_size);
    const FltLoadOptions into = options_with(KV_LOAD_INTO);
    kernel::Bitmap place, narrow;
    ASSERT_EQ(kernel::make_view(*big.get(), 4, 2, b->width, b->height, &place), RET_SUCCESS);
    ASSERT_EQ(kernel::make_view(*big.get(), 4, 2, b->width, b->height - 1, &narrow), RET_SUCCESS);
    EXPECT_EQ(load(stream, &narrow, &into), RET_NOT_SUPPORTED) << k.what;
    EXPECT_EQ(std::memcmp(big->data, before->data, big->data_size), 0) << k.what;
    ASSERT_EQ(load(stream, &place, &into), RET_SUCCESS) << k.what;
    int wrong = 0;
    for (int y = 0; y < big->height; ++y) {
      const std::uint8_t* got =
          kernel::storage_row(*big.get(), kernel::top_down_row(*big.get(), y));
      const std::uint8_t* old =
          kernel::storage_row(*before.get(), kernel::top_down_row(*before.get(), y));
      const bool rows = y >= 2 && y < 2 + b->height;
      const std::uint8_t* alone = rows ? kernel::storage_row(*b.get(), y - 2) : nullptr;
      for (int x = 0; x < 3 * big->width; ++x) {
        const bool inside = rows && x >= 12 && x < 12 + 3 * b->width;
        wrong += got[x] != (inside ? alone[x - 12] : old[x]);
      }
    }
    EXPECT_EQ(wrong, 0) << k.what;
  }
}

// ---------------------------------------------------------------------------------------
// T.4 through the raw-data callback.

struct RawDescription {
  FltRawFormat format{};
  std::int32_t result = RET_SUCCESS;
  int calls = 0;
};

std::int32_t KV_CALL describe(void* user, FltRawFormat* format) {
  auto* d = static_cast<RawDescription*>(user);
  ++d->calls;
  *format = d->format;
  return d->result;
}

// Installs the description for the lifetime of the object, then puts back what was there.
class RawCallbackScope {
 public:
  explicit RawCallbackScope(RawDescription* d)
      : previous_(ff::set_raw_data_callback(describe, d)) {}
  ~RawCallbackScope() { ff::set_raw_data_callback(previous_, nullptr); }

 private:
  FltRawDataCallback previous_;
};

RawDescription t4(std::int32_t format, std::int32_t width, std::int32_t height) {
  RawDescription d;
  d.format = FltRawFormat{format, width, height, 1, 0, 0, 1};
  return d;
}

int bit(const kernel::Bitmap& b, int x, int y) {
  return (kernel::storage_row(b, y)[x / 8] >> (7 - x % 8)) & 1;
}

// A raw T.4 stream of `picture` (1 = black) written by libtiff's Group 3 encoder.
Bytes encode_t4(const std::vector<std::uint8_t>& picture, int w, int h, bool two_d) {
  TempDir dir;
  const std::string path = dir.file("fax.tif").string();
  TIFF* out = TIFFOpen(path.c_str(), "w");
  if (!out) return {};
  TIFFSetField(out, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(out, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, h);
  TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, two_d ? GROUP3OPT_2DENCODING : 0);
  std::vector<std::uint8_t> row(std::size_t(w + 7) / 8);
  for (int y = 0; y < h; ++y) {
    std::fill(row.begin(), row.end(), 0);
    for (int x = 0; x < w; ++x)
      if (picture[std::size_t(y) * w + x]) row[x / 8] |= std::uint8_t(0x80 >> x % 8);
    TIFFWriteScanline(out, row.data(), std::uint32_t(y), 0);
  }
  TIFFClose(out);
  TIFF* in = TIFFOpen(path.c_str(), "r");
  if (!in) return {};
  Bytes raw(std::size_t(TIFFRawStripSize(in, 0)));
  raw.resize(std::size_t(
      std::max<tmsize_t>(0, TIFFReadRawStrip(in, 0, raw.data(), tmsize_t(raw.size())))));
  TIFFClose(in);
  return raw;
}

std::vector<std::uint8_t> fax_picture(int w, int h) {
  std::vector<std::uint8_t> p;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p.push_back(std::uint8_t(((x / 7 + y / 5) % 3 == 0) || (x == y) || (x * x + y * y) % 31 < 4));
  return p;
}

using HostCodecT4 = HostCodec;

// Pixels whose bit is not the inverse of the picture's: a set bit is white.
int wrong_bits(kernel::Bitmap& b, const std::vector<std::uint8_t>& picture) {
  int wrong = 0;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      wrong += bit(b, x, y) != !picture[std::size_t(y) * b.width + x];
  return wrong;
}

// Streams libtiff's encoder wrote, one- and two-dimensional, come back bit for bit both
// through the raw-data callback and as a C1 image segment read through the image reader,
// where COMRAT picks the decoder.
TEST_F(HostCodecT4, EncodedPicturesComeBackBitForBit) {
  const int w = 203, h = 61;  // a width that is not a multiple of 8
  const auto picture = fax_picture(w, h);
  TempDir dir;
  for (bool two_d : {false, true}) {
    SCOPED_TRACE(two_d ? "2D" : "1D");
    const Bytes stream = encode_t4(picture, w, h, two_d);
    ASSERT_FALSE(stream.empty());
    {
      RawDescription d = t4(two_d ? 67 : 66, w, h);
      RawCallbackScope scope(&d);
      OwnedBitmap b;
      ASSERT_EQ(load(stream, b.get(), nullptr, 1, kernel::kColourRgb), RET_SUCCESS);
      EXPECT_GE(d.calls, 1);
      ASSERT_EQ(b->width, w);
      ASSERT_EQ(b->height, h);
      ASSERT_EQ(b->bits_per_pixel, 1);
      ASSERT_EQ(b->palette_count, 2);
      EXPECT_EQ(b->palette[0], kernel::palette_entry(0, 0, 0));
      EXPECT_EQ(b->palette[1], kernel::palette_entry(255, 255, 255));
      EXPECT_EQ(wrong_bits(*b.get(), picture), 0);
      for (int y = 0; y < h; ++y)  // padding past the width stays clear
        for (int x = w; x < b->bytes_per_line * 8; ++x) ASSERT_EQ(bit(*b.get(), x, y), 0);
    }
    nitfgen::ImageSpec image;
    image.nrows = image.nppbv = h;
    image.ncols = image.nppbh = w;
    image.pvtype = "B";
    image.abpp = image.nbpp = 1;
    image.ic = "C1";
    image.comrat = two_d ? "2DS " : "1D  ";
    nitfgen::FileSpec file;
    file.images.push_back(nitfgen::image_segment(image, std::string(stream.begin(), stream.end())));
    testing_support::Parsed p = testing_support::parse(dir.write("c1.ntf", nitfgen::build(file)));
    ASSERT_EQ(p.result, RET_SUCCESS);
    OwnedBitmap b;
    ASSERT_EQ(nitf::read_image(p.document.get(), 0, b.get(), nullptr), RET_SUCCESS);
    ASSERT_EQ(b->width, w);
    ASSERT_EQ(b->height, h);
    EXPECT_EQ(wrong_bits(*b.get(), picture), 0);
  }
}

TEST_F(HostCodecT4, WrongDimensionalityOrShortDataIsAnError) {
  REQUIRE_SAMPLES();
  const Bytes stream = image_data("jitc/i_3041a.ntf", 0);
  OwnedBitmap b;
  make_sentinel(b);
  {
    RawDescription d = t4(66, 512, 512);  // a 2D stream described as 1D
    RawCallbackScope scope(&d);
    EXPECT_EQ(load(stream, b.get()), RET_FILE_FORMAT);
  }
  {
    RawDescription d = t4(67, 512, 513);  // one row more than the data hold
    RawCallbackScope scope(&d);
    EXPECT_EQ(load(stream, b.get()), RET_FILE_FORMAT);
  }
  RawDescription d = t4(67, 512, 512);
  RawCallbackScope scope(&d);
  for (std::size_t cut = 1; cut < stream.size(); cut += stream.size() / 97 + 1) {
    const Bytes part(stream.begin(), stream.begin() + std::int64_t(cut));
    ASSERT_EQ(load(part, b.get()), RET_FILE_FORMAT) << "cut at " << cut;
  }
  expect_sentinel(*b.get(), "after the T.4 failures");
}

TEST_F(HostCodecT4, DescriptionsThatCannotBeDecoded) {
  const Bytes stream(64, 0x00);
  OwnedBitmap b;
  make_sentinel(b);
  EXPECT_EQ(load(stream, b.get()), RET_FILE_FORMAT) << "no callback installed";
  struct Case {
    RawDescription d;
    std::int32_t expected;
  };
  RawDescription refused = t4(67, 8, 8);
  refused.result = RET_INVALID_PARAMETER - 100;  // any code of the caller's, passed on
  std::vector<Case> cases = {
      {refused, RET_INVALID_PARAMETER - 100},          {t4(70, 8, 8), RET_NOT_SUPPORTED},
      {t4(67, 0, 8), RET_INVALID_PARAMETER},           {t4(67, 8, -1), RET_INVALID_PARAMETER},
      {t4(66, 0x7FFFFFFF, 0x7FFFFFFF), RET_NO_MEMORY},
  };
  cases.push_back({t4(67, 8, 8), RET_INVALID_PARAMETER});
  cases.back().d.format.bits_per_pixel = 8;
  for (Case& c : cases) {
    RawCallbackScope scope(&c.d);
    EXPECT_EQ(load(stream, b.get()), c.expected) << c.d.format.format << " " << c.d.format.width;
  }
  expect_sentinel(*b.get(), "after the refused descriptions");
}

// ---------------------------------------------------------------------------------------
// File information: identifiers of every kind.

using HostCodecInfo = HostCodec;

// A generated stream with its frame marker or precision rewritten: the decoder must
// refuse what libjpeg-turbo's 8-bit build cannot decode, by name.
Bytes with_frame(std::uint8_t marker, std::uint8_t precision) {
  Bytes s = encode(grey());
  for (std::size_t i = 2; i + 4 < s.size(); ++i)
    if (s[i] == 0xFF && s[i + 1] == 0xC0) {
      s[i + 1] = marker;
      s[i + 4] = precision;
      break;
    }
  return s;
}

TEST_F(HostCodecInfo, JpegKindsTheDecoderRefuses) {
  struct Case {
    Bytes stream;
    std::uint32_t format;
  } cases[] = {{with_frame(0xC1, 12), 21}, {with_frame(0xC3, 8), 22}, {with_frame(0xC5, 8), 28}};
  for (const Case& c : cases) {
    std::int32_t result = 0;
    const FltFileInfo info = info_of(c.stream, &result);
    EXPECT_EQ(result, RET_SUCCESS);
    EXPECT_EQ(info.format, c.format);
    EXPECT_EQ(accepted(info.format), c.format != 28);
    OwnedBitmap b;
    make_sentinel(b);
    EXPECT_EQ(load(c.stream, b.get()), RET_NOT_SUPPORTED) << c.format;
    expect_sentinel(*b.get(), "refused kind");
  }
  OwnedBitmap b;
  EXPECT_EQ(load(with_frame(0xC1, 8), b.get()), RET_SUCCESS) << "extended 8-bit is decoded";
}

TEST_F(HostCodecInfo, JpegTwoThousandAndRawStreams) {
  REQUIRE_SAMPLES();
  const Bytes codestream = image_data("j2k/046_512x512_s_8_3_rgb_j2c.ntf", 0);
  const Bytes jp2 = image_data("j2k/066_389x298_s_11_3_rgb_jp2.ntf", 0);
  const Bytes fax = image_data("jitc/i_3041a.ntf", 0);
  FltFileInfo info = info_of(codestream);
  EXPECT_EQ(info.format, 165u);
  EXPECT_EQ(info.width, 512u);
  EXPECT_EQ(info.bits_per_pixel, 24u);
  EXPECT_EQ(info.image_size_low, 512u * 512u * 3u);
  info = info_of(jp2);
  EXPECT_EQ(info.format, 165u);
  EXPECT_EQ(info.width, 389u);
  EXPECT_EQ(info.height, 298u);

  std::int32_t result = 0;
  info = info_of(fax, &result);
  EXPECT_EQ(result, RET_FILE_FORMAT) << "no callback: not recognised";
  EXPECT_EQ(info.format, 0u);
  RawDescription d = t4(67, 512, 512);
  RawCallbackScope scope(&d);
  info = info_of(fax, &result);
  EXPECT_EQ(result, RET_SUCCESS);
  EXPECT_EQ(info.format, 67u);
  EXPECT_FALSE(accepted(info.format)) << "a block reader must not take T.4 for JPEG";
  EXPECT_EQ(info.bits_per_pixel, 1u);
  EXPECT_EQ(info.image_size_low, 64u * 512u);
}

TEST_F(HostCodecInfo, StreamsThatAreNotRecognised) {
  const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
  const Bytes soi_only = {0xFF, 0xD8, 0xFF, 0xD9};
  const Bytes tables_only = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};  // cut in the table
  const Bytes j2k_soc_only = {0xFF, 0x4F, 0xFF, 0x51, 0x00};
  for (const Bytes* s : {&png, &soi_only, &tables_only, &j2k_soc_only}) {
    std::int32_t result = 0;
    const FltFileInfo info = info_of(*s, &result);
    EXPECT_EQ(result, RET_FILE_FORMAT);
    EXPECT_FALSE(accepted(info.format));
    EXPECT_EQ(info.width, 0u) << "the record is cleared";
  }
}

// ---------------------------------------------------------------------------------------
// Load options and the arguments of load from memory.

using HostCodecOptions = HostCodec;

TEST_F(HostCodecOptions, DefaultsAreZeroWithTheNaturalBands) {
  FltLoadOptions o;
  std::memset(&o, 0xEE, sizeof o);
  ASSERT_EQ(ff::default_load_options(&o, 72), RET_SUCCESS);
  EXPECT_EQ(o.flags, 0u);
  EXPECT_EQ(o.red_band, 0u);
  EXPECT_EQ(o.green_band, 1u);
  EXPECT_EQ(o.blue_band, 2u);
  EXPECT_EQ(o.reserved0[0], 0u);
  EXPECT_EQ(o.reserved2[6], 0u);
  EXPECT_EQ(ff::default_load_options(&o, 71), RET_INVALID_PARAMETER);
  EXPECT_EQ(ff::default_load_options(nullptr, 72), RET_INVALID_PARAMETER);
}

TEST_F(HostCodecOptions, LoadAndInfoArgumentsAreChecked) {
  const Bytes s = encode(grey());
  OwnedBitmap b;
  make_sentinel(b);
  const auto n = std::uint32_t(s.size());
  EXPECT_EQ(ff::load_from_memory(s.data(), b.get(), 215, 0, 4, n, nullptr), RET_INVALID_PARAMETER);
  EXPECT_EQ(ff::load_from_memory(s.data(), nullptr, kRecord, 0, 4, n, nullptr),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(ff::load_from_memory(s.data(), b.get(), kRecord, 0, 3, n, nullptr),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(ff::load_from_memory(s.data(), b.get(), kRecord, -8, 4, n, nullptr),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(ff::load_from_memory(nullptr, b.get(), kRecord, 0, 4, n, nullptr), RET_MISSING_DATA);
  EXPECT_EQ(ff::load_from_memory(s.data(), b.get(), kRecord, 0, 4, 0, nullptr), RET_MISSING_DATA);
  EXPECT_EQ(load(s, b.get(), nullptr, 24), RET_NOT_SUPPORTED) << "no depth conversion";
  expect_sentinel(*b.get(), "after refused arguments");
  EXPECT_EQ(load(s, b.get(), nullptr, 8, kernel::kColourPalette), RET_SUCCESS);
  EXPECT_EQ(b->width, 45) << "the record was replaced";

  // And those of file information from memory.
  FltFileInfo info;
  EXPECT_EQ(ff::file_info_from_memory(s.data(), &info, 2307, std::uint32_t(s.size())),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(ff::file_info_from_memory(s.data(), nullptr, ff::kFileInfoSize, 10),
            RET_INVALID_PARAMETER);
  EXPECT_EQ(ff::file_info_from_memory(nullptr, &info, ff::kFileInfoSize, 10), RET_MISSING_DATA);
  EXPECT_EQ(ff::file_info_from_memory(s.data(), &info, ff::kFileInfoSize, 0), RET_MISSING_DATA);
}

// ---------------------------------------------------------------------------------------
// Hostile streams: every cut, scrambled data, absurd sizes.

using HostCodecHostile = HostCodec;

void expect_every_cut_fails(const Bytes& stream, const std::string& what, std::size_t step = 1) {
  OwnedBitmap b;
  make_sentinel(b);
  for (std::size_t cut = 1; cut < stream.size(); cut += step) {
    const std::int32_t r =
        ff::load_from_memory(stream.data(), b.get(), kRecord, 0, 4, std::uint32_t(cut), nullptr);
    ASSERT_NE(r, RET_SUCCESS) << what << " cut at " << cut << " of " << stream.size();
    ASSERT_NO_FATAL_FAILURE(expect_sentinel(*b.get(), what));
  }
}

TEST_F(HostCodecHostile, JpegCutAnywhereIsRefused) {
  expect_every_cut_fails(encode(grey()), "grey");
  expect_every_cut_fails(encode(with(Encoding{}, true, 0)), "progressive");
  expect_every_cut_fails(encode(with(Encoding{}, false, 2)), "restarts");
}

TEST_F(HostCodecHostile, JpegWithScrambledBytesGivesACodeOrAPicture) {
  const Bytes good = encode(with(Encoding{}, false, 4));
  std::uint32_t seed = 12345;
  for (int round = 0; round < 300; ++round) {
    Bytes s = good;
    for (int k = 0; k < 1 + round % 8; ++k) {
      seed = seed * 1664525u + 1013904223u;
      s[2 + seed % (s.size() - 2)] = std::uint8_t(seed >> 24);
    }
    OwnedBitmap b;
    const std::int32_t r = load(s, b.get());
    if (r == RET_SUCCESS) {
      EXPECT_NE(b->data, nullptr);
      EXPECT_GT(b->width, 0);
    }
    (void)info_of(s);
  }
}

TEST_F(HostCodecHostile, GarbageIsNotTakenForAPicture) {
  std::uint32_t seed = 99;
  for (int round = 0; round < 50; ++round) {
    Bytes s(200 + round * 37);
    for (auto& byte : s) {
      seed = seed * 1664525u + 1013904223u;
      byte = std::uint8_t(seed >> 24);
    }
    if (round % 2) s[0] = 0xFF, s[1] = 0xD8, s[2] = 0xFF;  // behind a JPEG signature
    OwnedBitmap b;
    EXPECT_NE(load(s, b.get()), RET_SUCCESS) << round;
    RawDescription d = t4(round % 3 ? 67 : 66, 64, 64);
    RawCallbackScope scope(&d);
    if (round % 2 == 0) {
      EXPECT_NE(load(s, b.get()), RET_SUCCESS) << "as T.4, round " << round;
    }
  }
}

// The frame header's size is checked against the allocation cap before libjpeg
// allocates for it.
Bytes with_size(Bytes s, std::uint16_t width, std::uint16_t height) {
  for (std::size_t i = 2; i + 8 < s.size(); ++i)
    if (s[i] == 0xFF && (s[i + 1] == 0xC0 || s[i + 1] == 0xC2)) {
      s[i + 5] = std::uint8_t(height >> 8), s[i + 6] = std::uint8_t(height);
      s[i + 7] = std::uint8_t(width >> 8), s[i + 8] = std::uint8_t(width);
      break;
    }
  return s;
}

TEST_F(HostCodecHostile, AbsurdJpegSizesAreRefused) {
  OwnedBitmap b;
  make_sentinel(b);
  EXPECT_EQ(load(with_size(encode(Encoding{}), 65500, 65500), b.get()), RET_NO_MEMORY);
  EXPECT_EQ(load(with_size(encode(grey()), 0, 10), b.get()), RET_FILE_FORMAT);
  {
    AllocationCap cap(1u << 20);
    EXPECT_EQ(load(with_size(encode(with(grey(), true, 0)), 2000, 2000), b.get()), RET_NO_MEMORY);
  }
  // Within the cap, a frame far larger than its data is cut short, and refused.
  EXPECT_EQ(load(with_size(encode(with(grey(), true, 0)), 3000, 3000), b.get()), RET_FILE_FORMAT);
  EXPECT_EQ(load(with_size(encode(grey()), 3000, 3000), b.get()), RET_FILE_FORMAT);
  expect_sentinel(*b.get(), "after absurd sizes");
}

// SIZ fields: Xsiz 8, Ysiz 12, XOsiz 16, YOsiz 20, XTsiz 24, YTsiz 28, XTOsiz 32,
// YTOsiz 36 (4 bytes); Csiz 40 (2); then Ssiz, XRsiz, YRsiz of each component.
struct SizPatch {
  const char* what;
  std::vector<std::pair<std::size_t, std::uint32_t>> words;  // 4-byte fields
  std::vector<std::pair<std::size_t, std::uint8_t>> bytes;
  std::int32_t expected;
};

void put_be32(Bytes& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = std::uint8_t(v >> (24 - 8 * i));
}

TEST_F(HostCodecHostile, AbsurdJpeg2000SizesAreRefusedBeforeDecoding) {
  REQUIRE_SAMPLES();
  const Bytes tiny = image_data("j2k/p0_12a.ntf", 0);  // 3 x 5, one tile
  const Bytes jp2 = image_data("j2k/066_389x298_s_11_3_rgb_jp2.ntf", 0);
  std::size_t jp2_siz = 0;
  while (jp2_siz + 4 < jp2.size() && !(jp2[jp2_siz] == 0xFF && jp2[jp2_siz + 1] == 0x4F &&
                                       jp2[jp2_siz + 2] == 0xFF && jp2[jp2_siz + 3] == 0x51))
    ++jp2_siz;
  AllocationCap cap(64u << 20);
  const std::uint32_t huge = 0x7FFFFFFF;
  const std::vector<SizPatch> patches = {
      {"huge image in one huge tile",
       {{8, huge}, {12, huge}, {24, huge}, {28, huge}},
       {},
       RET_NO_MEMORY},
      {"over the cap", {{8, 20000}, {12, 20000}, {24, 20000}, {28, 20000}}, {}, RET_NO_MEMORY},
      {"a tile per pixel", {{8, 1000}, {12, 1000}, {24, 1}, {28, 1}}, {}, RET_FILE_FORMAT},
      {"zero tile width", {{24, 0}}, {}, RET_FILE_FORMAT},
      {"origin past the end", {{16, 3}}, {}, RET_FILE_FORMAT},
      {"tile origin past the image origin", {{16, 1}, {32, 2}}, {}, RET_FILE_FORMAT},
      {"no components", {}, {{40, 0}, {41, 0}}, RET_FILE_FORMAT},
      {"more components than listed", {}, {{41, 9}}, RET_FILE_FORMAT},
      {"zero subsampling", {}, {{43, 0}}, RET_FILE_FORMAT},
      {"38-bit samples", {}, {{42, 37}}, RET_NOT_SUPPORTED},

  };
  for (const SizPatch& p : patches) {
    for (bool in_jp2 : {false, true}) {
      Bytes s = in_jp2 ? jp2 : tiny;
      const std::size_t base = in_jp2 ? jp2_siz : 0;
      for (const auto& [at, v] : p.words) put_be32(s, base + at, v);
      for (const auto& [at, v] : p.bytes) s[base + at] = v;
      OwnedBitmap b;
      make_sentinel(b);
      EXPECT_EQ(load(s, b.get()), p.expected) << p.what << (in_jp2 ? " (JP2)" : "");
      expect_sentinel(*b.get(), p.what);
      (void)info_of(s);
    }
  }
}

TEST_F(HostCodecHostile, Jpeg2000CutAnywhereIsRefused) {
  REQUIRE_SAMPLES();
  const Bytes mono = image_data("j2k/001_006_64x64_s_8_1_mono_j2c.ntf", 0);
  const Bytes tiled = image_data("j2k/p1_06b.ntf", 0);
  const Bytes jp2 = image_data("j2k/066_389x298_s_11_3_rgb_jp2.ntf", 0);
  // The last two bytes are the end-of-codestream marker, which OpenJPEG may do without.
  expect_every_cut_fails(Bytes(mono.begin(), mono.end() - 2), "mono");
  expect_every_cut_fails(Bytes(tiled.begin(), tiled.end() - 2), "tiled", 7);
  expect_every_cut_fails(Bytes(jp2.begin(), jp2.end() - 2), "jp2", 4001);
}

}  // namespace
