// The compressed image readers: T.4 bi-level and the JPEG family. Real samples are
// compared with independent decoders of the very same stream (djpeg, opj_decompress)
// or with GDAL; generated blocked and masked JPEG files, whose block streams are made
// here with libjpeg's compressor, check how streams are found, skipped and placed; and
// hostile lengths, offsets and cut streams must give a code, never a crash.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>

#include <jpeglib.h>

#include "fileformat/fileformat.h"
#include "image/data/imgmodes.h"
#include "image/data/imgmodes_jpeg_scan.h"
#include "nitfgen_image.h"
#include "nitfgen_jpeg.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitfgen::ImageSpec;
using nitfgen::MaskSpec;

constexpr std::uint32_t kNone = 0xFFFFFFFF;

class ImageCompressed : public ::testing::Test {
 protected:
  void SetUp() override { before_ = kernel::live_objects(); }
  void TearDown() override { EXPECT_EQ(kernel::live_objects(), before_) << "objects left alive"; }

 private:
  std::size_t before_ = 0;
};

struct Decoded {
  Parsed parsed;
  kernel::Bitmap bitmap;
  int result = 0;
  ~Decoded() { kernel::free_bitmap(&bitmap); }
};

std::unique_ptr<Decoded> decode(const fs::path& p, std::uint32_t index = 0,
                                const FltLoadRequest* load = nullptr) {
  auto d = std::make_unique<Decoded>();
  d->parsed = parse(p);
  d->result = d->parsed.result;
  if (d->result == RET_SUCCESS)
    d->result = nitf::read_image(d->parsed.document.get(), index, &d->bitmap, load);
  return d;
}

// Pixel (x, y) in display order; for 24 bits channel 0 is blue, 2 red.
std::uint32_t pixel(const kernel::Bitmap& b, int x, int y, int channel = 0) {
  const std::uint8_t* row = kernel::storage_row(b, kernel::top_down_row(b, y));
  if (b.bits_per_pixel == 1) return row[x / 8] >> (7 - x % 8) & 1;
  if (b.bits_per_pixel == 24) return row[3 * x + channel];
  return row[x];
}

// The image data of one segment exactly as the file holds them.
std::string segment_data(const Decoded& d, std::uint32_t index, const fs::path& file) {
  const NitfDocument& doc = *d.parsed.document;
  const std::int64_t start = nitf::segment_data_offset(doc, nitf::SegmentKind::kImage, index);
  const std::string bytes = nitfgen::read_file(file.string());
  return bytes.substr(static_cast<std::size_t>(start),
                      static_cast<std::size_t>(doc.header.images.data(index)));
}

struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::string data;
  int at(int x, int y, int c) const {
    return static_cast<std::uint8_t>(data[(std::size_t(y) * width + x) * channels + c]);
  }
};

// A binary PGM or PPM of 8-bit samples; header comments are skipped.
std::optional<Pnm> read_pnm(const fs::path& p) {
  const std::string s = nitfgen::read_file(p.string());
  if (s.size() < 2 || s[0] != 'P' || (s[1] != '5' && s[1] != '6')) return std::nullopt;
  std::size_t at = 2;
  long fields[3] = {};
  for (long& field : fields) {
    while (at < s.size() && (std::isspace(static_cast<unsigned char>(s[at])) || s[at] == '#')) {
      if (s[at] == '#') at = s.find('\n', at);
      if (at == std::string::npos) return std::nullopt;
      ++at;
    }
    field = std::strtol(s.c_str() + at, nullptr, 10);
    while (at < s.size() && std::isdigit(static_cast<unsigned char>(s[at]))) ++at;
  }
  if (fields[2] != 255) return std::nullopt;
  Pnm out;
  out.width = static_cast<int>(fields[0]);
  out.height = static_cast<int>(fields[1]);
  out.channels = s[1] == '6' ? 3 : 1;
  out.data = s.substr(at + 1);
  if (out.data.size() != std::size_t(out.width) * out.height * out.channels) return std::nullopt;
  return out;
}

bool run(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// An independent decoding of a stream: djpeg for JPEG, opj_decompress for JPEG 2000.
std::optional<Pnm> oracle(std::string stream, bool colour) {
  TempDir dir;
  // djpeg does not take the fill bytes some producers put before the SOI marker.
  std::size_t fill = 0;
  while (fill + 1 < stream.size() && static_cast<std::uint8_t>(stream[fill + 1]) == 0xFF) ++fill;
  const bool jpeg = fill + 1 < stream.size() && static_cast<std::uint8_t>(stream[0]) == 0xFF &&
                    static_cast<std::uint8_t>(stream[fill + 1]) == 0xD8;
  if (jpeg) stream = stream.substr(fill);
  const bool jp2 = !jpeg && stream.size() > 4 && stream[3] == 0x0C;
  const fs::path in = dir.write(jpeg ? "s.jpg" : jp2 ? "s.jp2" : "s.j2k", stream);
  const fs::path out = dir.file(colour ? "o.ppm" : "o.pgm");
  const std::string command =
      jpeg ? "djpeg -pnm -outfile '" + out.string() + "' '" + in.string() + "'"
           : "opj_decompress -i '" + in.string() + "' -o '" + out.string() + "'";
  if (!run(command)) {
    ADD_FAILURE() << command;
    return std::nullopt;
  }
  return read_pnm(out);
}

// Pixels further than 1 from the oracle's.
int differences(const kernel::Bitmap& b, const Pnm& o) {
  int bad = 0;
  for (int y = 0; y < o.height; ++y)
    for (int x = 0; x < o.width; ++x)
      for (int c = 0; c < o.channels; ++c) {
        const int ours = static_cast<int>(pixel(b, x, y, o.channels == 3 ? 2 - c : 0));
        bad += std::abs(ours - o.at(x, y, c)) > 1;
      }
  return bad;
}

void expect_like_oracle(const fs::path& file, std::uint32_t index) {
  auto d = decode(file, index);
  ASSERT_EQ(d->result, RET_SUCCESS) << file;
  const bool colour = d->bitmap.bits_per_pixel == 24;
  auto o = oracle(segment_data(*d, index, file), colour);
  ASSERT_TRUE(o) << "no independent decoding of " << file;
  ASSERT_EQ(d->bitmap.width, o->width) << file;
  ASSERT_EQ(d->bitmap.height, o->height) << file;
  EXPECT_EQ(differences(d->bitmap, *o), 0) << file;
}

TEST_F(ImageCompressed, JpegSamplesMatchDjpeg) {
  REQUIRE_SAMPLES();
  expect_like_oracle(sample("jitc/i_3025b.ntf"), 0);
  expect_like_oracle(sample("misc/WithBE.ntf"), 0);
  expect_like_oracle(sample("misc/two_images_jpeg.ntf"), 1);
  expect_like_oracle(sample("jitc/i_3113g.ntf"), 0);
}

TEST_F(ImageCompressed, Jpeg2000SamplesMatchOpenJpeg) {
  REQUIRE_SAMPLES();
  expect_like_oracle(sample("misc/two_images_jp2.ntf"), 1);
  for (const char* name : {"001_006_64x64_s_8_1_mono_j2c.ntf", "046_512x512_s_8_3_rgb_j2c.ntf",
                           "053_512x512_s_8_3_ycbcr_j2c.ntf", "file9_j2c.ntf", "p0_10b.ntf",
                           "p0_12a.ntf", "p1_06b.ntf"})
    expect_like_oracle(sample(std::string("j2k/") + name), 0);
}

// A colour-table image decoded as one stream shows its table.
TEST_F(ImageCompressed, Jpeg2000LutImageGetsItsColourTable) {
  REQUIRE_SAMPLES();
  auto d = decode(sample("j2k/file9_j2c.ntf"));
  ASSERT_EQ(d->result, RET_SUCCESS);
  ASSERT_EQ(d->bitmap.bits_per_pixel, 8);
  const auto& table = d->parsed.document->images[0]->colours.entries;
  ASSERT_GE(table.size(), 2u);
  EXPECT_EQ(d->bitmap.colour_order, kernel::kColourPalette);
  std::uint32_t entry = 0;
  kernel::get_palette(&d->bitmap, 1, 1, &entry);
  EXPECT_EQ(entry, kernel::palette_entry(table[1].red, table[1].green, table[1].blue));
}

// ----- Decoder routines of a load request ---------------------------------------------

struct Seen {
  int loads = 0;
  int prefixed = 0;  // loads whose stream begins with SOI, APP6 "NITF"
  int raw_format = -1;
  FltRawDataCallback callback = nullptr;
  void* user_data = nullptr;
};
thread_local Seen seen;

FltRawDataCallback KV_CALL spy_set_raw(FltRawDataCallback callback, void* user_data) {
  if (callback) {
    seen.callback = callback;
    seen.user_data = user_data;
  }
  return fileformat::set_raw_data_callback(callback, user_data);
}

std::int32_t KV_CALL spy_load(const void* buffer, KvBitmap* bitmap, std::uint32_t size,
                              std::int32_t bits, std::int32_t order, std::uint32_t count,
                              FltLoadOptions* options) {
  ++seen.loads;
  const auto* b = static_cast<const std::uint8_t*>(buffer);
  const std::uint8_t app6[] = {0xFF, 0xD8, 0xFF, 0xE6, 0x00, 0x19, 'N', 'I', 'T', 'F', 0};
  if (count > sizeof app6 && std::memcmp(b, app6, sizeof app6) == 0) ++seen.prefixed;
  if (seen.callback) {
    FltRawFormat f{};
    seen.callback(seen.user_data, &f);
    seen.raw_format = f.format;
  }
  return fileformat::load_from_memory(buffer, reinterpret_cast<kernel::Bitmap*>(bitmap), size, bits,
                                      order, count, options);
}

std::unique_ptr<FltLoadRequest> spy_request() {
  auto r = std::make_unique<FltLoadRequest>();
  std::memset(r.get(), 0, sizeof *r);
  r->load_from_memory = spy_load;
  r->set_raw_callback = spy_set_raw;
  seen = Seen{};
  return r;
}

TEST_F(ImageCompressed, BilevelSampleAgreesWithGdalAndUsesTwoDimensionalCode) {
  REQUIRE_SAMPLES();
  const fs::path file = sample("jitc/i_3041a.ntf");
  auto request = spy_request();
  auto d = decode(file, 0, request.get());
  ASSERT_EQ(d->result, RET_SUCCESS);
  EXPECT_EQ(seen.loads, 1);
  EXPECT_EQ(seen.raw_format, 67);
  ASSERT_EQ(d->bitmap.bits_per_pixel, 1);
  ASSERT_EQ(d->bitmap.width, 512);
  // GDAL's reading, as a PGM of NITF values (0 white); a decoded set bit is white.
  TempDir dir;
  const fs::path out = dir.file("g.pgm");
  if (!run("gdal_translate -q -of PNM 'NITF_IM:0:" + file.string() + "' '" + out.string() + "'"))
    GTEST_SKIP() << "gdal_translate cannot read the sample";
  auto g = read_pnm(out);
  ASSERT_TRUE(g);
  int bad = 0;
  int white = 0;
  for (int y = 0; y < g->height; ++y)
    for (int x = 0; x < g->width; ++x) {
      white += pixel(d->bitmap, x, y) == 1;
      bad += pixel(d->bitmap, x, y) != (g->at(x, y, 0) == 0 ? 1u : 0u);
    }
  EXPECT_EQ(bad, 0);
  EXPECT_GT(white, 0);
}

TEST_F(ImageCompressed, BilevelCodingFollowsComrat) {
  TempDir dir;
  for (auto [comrat, code] :
       {std::pair{"1D  ", 66}, std::pair{"2DS ", 67}, std::pair{"2DH ", 67}}) {
    ImageSpec image;
    image.pvtype = "B";
    image.abpp = 1;
    image.nbpp = 1;
    image.ic = "C1";
    image.comrat = comrat;
    // The stream need not decode: what the decoder is told about it is checked.
    nitfgen::FileSpec file;
    file.images.push_back(nitfgen::image_segment(image, std::string(16, '\0')));
    const fs::path p = dir.write("b.ntf", nitfgen::build(file));
    auto request = spy_request();
    auto d = decode(p, 0, request.get());
    EXPECT_EQ(seen.loads, 1) << comrat;
    EXPECT_EQ(seen.raw_format, code) << comrat;
    if (d->result != RET_SUCCESS) {
      EXPECT_EQ(d->bitmap.data, nullptr);
    }
  }
}

// ----- Generated blocked JPEG files ----------------------------------------------------

// A grey JPEG of a w x h picture whose value at (x, y) is value(x, y); `comment` bytes
// of COM segment make the stream exactly as long as a test needs.
template <class F>
std::string encode_grey(int w, int h, F value, std::size_t comment = 0) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  cinfo.write_JFIF_header = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  if (comment) {
    std::string text(comment, 'c');
    jpeg_write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(text.data()),
                      static_cast<unsigned>(text.size()));
  }
  std::string row(static_cast<std::size_t>(w), '\0');
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) row[x] = static_cast<char>(value(x, y));
    JSAMPROW p = reinterpret_cast<JSAMPROW>(row.data());
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string s(reinterpret_cast<char*>(out), size);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return s;
}

constexpr int kBlock = 16;
const int kLevel[4] = {40, 100, 170, 230};

std::string block_stream(int k, std::size_t comment = 0) {
  return encode_grey(
      kBlock, kBlock, [k](int, int) { return kLevel[k]; }, comment);
}

// The same block with a stream exactly `length` bytes long.
std::string block_stream_of(int k, std::size_t length) {
  const std::size_t base = block_stream(k, 1).size() - 1;
  return block_stream(k, length - base);
}

ImageSpec blocked(const std::string& ic) {
  ImageSpec image;
  image.ic = ic;
  image.comrat = "00.0";
  image.nrows = image.ncols = 2 * kBlock;
  image.nbpr = image.nbpc = 2;
  image.nppbh = image.nppbv = kBlock;
  return image;
}

fs::path write_image(const TempDir& dir, const ImageSpec& image, const std::string& data) {
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(image, data));
  return dir.write("image.ntf", nitfgen::build(file));
}

// Every pixel of block k is its level, or 0 for the blocks in `blank`.
void expect_blocks(const kernel::Bitmap& b, std::initializer_list<int> blank = {}) {
  ASSERT_EQ(b.width, 2 * kBlock);
  ASSERT_EQ(b.height, 2 * kBlock);
  ASSERT_EQ(b.bits_per_pixel, 8);
  for (int k = 0; k < 4; ++k) {
    const bool empty = std::find(blank.begin(), blank.end(), k) != blank.end();
    int bad = 0;
    for (int y = 0; y < kBlock; ++y)
      for (int x = 0; x < kBlock; ++x) {
        const int v = static_cast<int>(pixel(b, k % 2 * kBlock + x, k / 2 * kBlock + y));
        bad += empty ? v != 0 : std::abs(v - kLevel[k]) > 1;
      }
    EXPECT_EQ(bad, 0) << "block " << k;
  }
}

TEST_F(ImageCompressed, BlockedC3IsCutAtEveryMarker) {
  TempDir dir;
  std::string data;
  for (int k = 0; k < 4; ++k) data += block_stream(k);
  auto d = decode(write_image(dir, blocked("C3"), data));
  ASSERT_EQ(d->result, RET_SUCCESS);
  expect_blocks(d->bitmap);
}

// Windows of kWindow bytes advance by kWindowStep (3 less): a marker at the window edge,
// or straddling it, is still seen.
TEST_F(ImageCompressed, BlockedC3MarkerAtWindowEdge) {
  constexpr std::size_t step = nitf::jpegscan::kWindowStep, window = nitf::jpegscan::kWindow;
  for (std::size_t second : {step, step + 1, step + 2, window, 2 * step, 2 * step + 3}) {
    TempDir dir;
    std::string data = block_stream_of(0, second);
    ASSERT_EQ(data.size(), second);
    for (int k = 1; k < 4; ++k) data += block_stream(k);
    auto d = decode(write_image(dir, blocked("C3"), data));
    ASSERT_EQ(d->result, RET_SUCCESS) << second;
    expect_blocks(d->bitmap);
  }
}

// A decoded picture larger than its block is cut to the block.
TEST_F(ImageCompressed, LargerBlockPictureIsCut) {
  TempDir dir;
  std::string data;
  for (int k = 0; k < 4; ++k)
    data += encode_grey(kBlock + 8, kBlock + 8, [k](int, int) { return kLevel[k]; });
  auto d = decode(write_image(dir, blocked("C3"), data));
  ASSERT_EQ(d->result, RET_SUCCESS);
  expect_blocks(d->bitmap);
}

TEST_F(ImageCompressed, MaskedM3SkipsUnrecordedBlock) {
  TempDir dir;
  const std::string s0 = block_stream(0), s2 = block_stream(2), s3 = block_stream(3);
  ImageSpec image = blocked("M3");
  MaskSpec mask;
  // Stored out of block order: block 3 first, then 0, then 2.
  const auto at0 = static_cast<std::uint32_t>(s3.size());
  const auto at2 = static_cast<std::uint32_t>(s3.size() + s0.size());
  mask.block_records = {at0, kNone, at2, 0};
  image.mask = mask;
  auto d = decode(write_image(dir, image, s3 + s0 + s2));
  ASSERT_EQ(d->result, RET_SUCCESS);
  expect_blocks(d->bitmap, {1});
}

TEST_F(ImageCompressed, UnacceptedBlockStreamIsSkipped) {
  TempDir dir;
  std::string data;
  for (int k = 0; k < 4; ++k) {
    std::string s = block_stream(k);
    if (k == 1) {
      // Its frame marker made hierarchical: a JPEG the reader does not accept.
      const std::size_t sof = s.find("\xFF\xC0");
      ASSERT_NE(sof, std::string::npos);
      s[sof + 1] = static_cast<char>(0xC5);
    }
    data += s;
  }
  auto d = decode(write_image(dir, blocked("C3"), data));
  EXPECT_EQ(d->result, RET_BAD_BLOCK_STREAM);
  // read_image empties the output on any failure; the reader itself placed the others.
  kernel::Bitmap out;
  kernel::init_bitmap(&out, kernel::kBitmapRecordSize);
  auto& doc = *d->parsed.document;
  const nitf::ImageReadContext c{&doc, 0,      doc.images[0].get(), doc.header.images.data(0),
                                 &out, nullptr};
  EXPECT_EQ(nitf::read_jpeg_family(c), RET_BAD_BLOCK_STREAM);
  expect_blocks(out, {1});
  kernel::free_bitmap(&out);
}

// Band b of block k is stream b x blocks + k: with 2 blocks (not band count + 1) too,
// and with a block mask, whose records follow the same numbering.
TEST_F(ImageCompressed, BandSequentialStreamsInFileOrder) {
  for (int columns : {1, 2}) {
    for (bool masked : {false, true}) {
      TempDir dir;
      ImageSpec image = blocked(masked ? "M3" : "C3");
      image.nbpc = columns;
      image.nrows = kBlock * columns;
      image.irep = "RGB";
      image.imode = "S";
      image.bands = {nitfgen::BandSpec{"R"}, nitfgen::BandSpec{"G"}, nitfgen::BandSpec{"B"}};
      const int blocks = 2 * columns;
      // Band b of block k has the value 10 + 60 b + 10 k; streams in file order.
      std::string data;
      MaskSpec mask;
      for (int b = 0; b < 3; ++b)
        for (int k = 0; k < blocks; ++k) {
          mask.block_records.push_back(static_cast<std::uint32_t>(data.size()));
          data += encode_grey(kBlock, kBlock, [=](int, int) { return 10 + 60 * b + 10 * k; });
        }
      if (masked) image.mask = mask;
      auto d = decode(write_image(dir, image, data));
      ASSERT_EQ(d->result, RET_SUCCESS) << columns << masked;
      ASSERT_EQ(d->bitmap.bits_per_pixel, 24);
      for (int k = 0; k < blocks; ++k)
        for (int b = 0; b < 3; ++b) {
          const int v =
              static_cast<int>(pixel(d->bitmap, k % 2 * kBlock + 3, k / 2 * kBlock + 5, 2 - b));
          EXPECT_NEAR(v, 10 + 60 * b + 10 * k, 1)
              << "blocks " << blocks << " masked " << masked << " block " << k << " band " << b;
        }
    }
  }
}

// Three stored components, as the file-format library takes them for MULTI.
std::string encode_components(int w, int h, const int (&c)[3]) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, JCS_RGB);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::string row(static_cast<std::size_t>(3 * w), '\0');
  for (int x = 0; x < w; ++x)
    for (int i = 0; i < 3; ++i) row[3 * x + i] = static_cast<char>(c[i]);
  for (int y = 0; y < h; ++y) {
    JSAMPROW p = reinterpret_cast<JSAMPROW>(row.data());
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string s(reinterpret_cast<char*>(out), size);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return s;
}

// MULTI blocks go to the request's decoder with the chosen bands; every block after the
// first decoded one gets the NITF application prefix, masked or not.
TEST_F(ImageCompressed, MultiBlocksUseChosenBandsAndPrefix) {
  for (bool masked : {false, true}) {
    TempDir dir;
    ImageSpec image = blocked(masked ? "M3" : "C3");
    image.irep = "MULTI";
    image.bands = {nitfgen::BandSpec{"B"}, nitfgen::BandSpec{"G"}, nitfgen::BandSpec{"R"}};
    std::string data;
    MaskSpec mask;
    for (int k = 0; k < 4; ++k) {
      mask.block_records.push_back(static_cast<std::uint32_t>(data.size()));
      const int c[3] = {kLevel[k], 255 - kLevel[k], 20 * k};
      data += encode_components(kBlock, kBlock, c);
    }
    if (masked) image.mask = mask;
    auto request = spy_request();
    auto d = decode(write_image(dir, image, data), 0, request.get());
    ASSERT_EQ(d->result, RET_SUCCESS) << masked;
    EXPECT_EQ(seen.loads, 4);
    EXPECT_EQ(seen.prefixed, 3);
    ASSERT_EQ(d->bitmap.bits_per_pixel, 24);
    for (int k = 0; k < 4; ++k) {
      const int x = k % 2 * kBlock + 7, y = k / 2 * kBlock + 9;
      // Band 0 is blue, band 2 red: channel 0 of the pixel is component 0.
      EXPECT_NEAR(static_cast<int>(pixel(d->bitmap, x, y, 0)), kLevel[k], 2) << k;
      EXPECT_NEAR(static_cast<int>(pixel(d->bitmap, x, y, 1)), 255 - kLevel[k], 2) << k;
      EXPECT_NEAR(static_cast<int>(pixel(d->bitmap, x, y, 2)), 20 * k, 2) << k;
    }
  }
}

// ----- Hostile input -------------------------------------------------------------------

TEST_F(ImageCompressed, DataBeyondTheFileIsAReadFailure) {
  TempDir dir;
  std::string data;
  for (int k = 0; k < 4; ++k) data += block_stream(k);
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(blocked("C3"), data));
  std::string bytes = nitfgen::build(file);
  bytes.resize(bytes.size() - 100);
  auto d = decode(dir.write("cut.ntf", bytes));
  EXPECT_NE(d->result, RET_SUCCESS);
  EXPECT_EQ(d->bitmap.data, nullptr);
}

TEST_F(ImageCompressed, MaskOffsetBeyondLiIsRefused) {
  TempDir dir;
  const std::string s0 = block_stream(0);
  ImageSpec image = blocked("M3");
  MaskSpec mask;
  mask.block_records = {0, 0x7FFFFFF0u, kNone, kNone};
  image.mask = mask;
  auto d = decode(write_image(dir, image, s0));
  EXPECT_EQ(d->result, RET_FILE_FORMAT);
  EXPECT_EQ(d->bitmap.data, nullptr);
}

TEST_F(ImageCompressed, MaskTableLongerThanLiIsRefused) {
  TempDir dir;
  ImageSpec image = blocked("M3");
  MaskSpec mask;
  mask.imdatoff = 0x7FFFFFF0;
  mask.block_records = {0, kNone, kNone, kNone};
  image.mask = mask;
  auto d = decode(write_image(dir, image, block_stream(0)));
  EXPECT_NE(d->result, RET_SUCCESS);
}

TEST_F(ImageCompressed, TruncatedStreamsGiveACode) {
  TempDir dir;
  ImageSpec single;
  single.ic = "C3";
  single.comrat = "00.0";
  single.nrows = single.ncols = single.nppbh = single.nppbv = kBlock;
  const std::string s = block_stream(2);
  for (std::size_t cut : {s.size() / 2, std::size_t{3}, s.size() - 2}) {
    auto d = decode(write_image(dir, single, s.substr(0, cut)));
    EXPECT_NE(d->result, RET_SUCCESS) << cut;
    EXPECT_EQ(d->bitmap.data, nullptr);
  }
  // A blocked image whose third stream is cut: the decoder's failure ends the read.
  std::string data =
      block_stream(0) + block_stream(1) + block_stream(2).substr(0, 40) + block_stream(3);
  auto d = decode(write_image(dir, blocked("C3"), data));
  EXPECT_NE(d->result, RET_SUCCESS);
  // Garbage with no marker at all.
  auto g = decode(write_image(dir, blocked("C3"), std::string(5000, 'x')));
  EXPECT_NE(g->result, RET_SUCCESS);
}

// Damaged bytes anywhere in the mask table or the streams: a code or a picture, never a
// crash (the sanitizers watch every read).
TEST_F(ImageCompressed, DamagedBlockedDataNeverCrash) {
  TempDir dir;
  std::string data;
  MaskSpec mask;
  for (int k = 0; k < 4; ++k) {
    mask.block_records.push_back(static_cast<std::uint32_t>(data.size()));
    data += block_stream(k);
  }
  for (bool masked : {false, true}) {
    ImageSpec image = blocked(masked ? "M3" : "C3");
    if (masked) image.mask = mask;
    nitfgen::FileSpec file;
    file.images.push_back(nitfgen::image_segment(image, data));
    const std::string clean = nitfgen::build(file);
    const std::size_t data_start = clean.size() - data.size() - (masked ? 10 + 16 : 0);
    std::mt19937 random(masked ? 7 : 3);
    for (int round = 0; round < 150; ++round) {
      std::string bytes = clean;
      const int flips = 1 + round % 6;
      for (int i = 0; i < flips; ++i) {
        std::uniform_int_distribution<std::size_t> at(data_start, bytes.size() - 1);
        bytes[at(random)] = static_cast<char>(random());
      }
      auto d = decode(dir.write("damaged.ntf", bytes));
      if (d->result != RET_SUCCESS) {
        EXPECT_EQ(d->bitmap.data, nullptr);
      }
    }
  }
}

// KV_LOAD_INTO: a stream decoded into a place of a larger picture (either row order) gives
// the pixels of its ordinary decoding and leaves everything around that place alone; a
// place of another size is refused before anything is written, and a failed decode
// releases none of the caller's pixels.
TEST_F(ImageCompressed, JpegDecodesIntoAPlaceOfALargerPicture) {
  const std::string jpeg = nitfgen::jpeg_stream(24, 16, 3, 90, [](int x, int y) {
    return std::uint32_t(x * 10) << 16 | std::uint32_t(y * 15) << 8 | 0x40;
  });
  const auto size = static_cast<std::uint32_t>(jpeg.size());
  FltLoadOptions options;
  ASSERT_EQ(fileformat::default_load_options(&options, sizeof options), RET_SUCCESS);
  kernel::Bitmap alone;
  ASSERT_EQ(fileformat::load_from_memory(jpeg.data(), &alone, kernel::kBitmapRecordSize, 0,
                                         fileformat::kColourAsDecoded, size, &options),
            RET_SUCCESS);
  options.flags = KV_LOAD_INTO;
  auto into = [&](kernel::Bitmap& place, std::size_t length) {
    return fileformat::load_from_memory(jpeg.data(), &place, kernel::kBitmapRecordSize, 0,
                                        fileformat::kColourAsDecoded,
                                        static_cast<std::uint32_t>(length), &options);
  };
  for (int view : {kernel::kViewTopDown, kernel::kViewBottomUp}) {
    kernel::Bitmap big, before;
    ASSERT_EQ(kernel::create_bitmap(&big, kernel::kBitmapRecordSize, 1, 40, 30, 24,
                                    kernel::kColourRgb, nullptr, view, nullptr, 0),
              RET_SUCCESS);
    kernel::fill_bitmap(&big, 0x123456);
    kernel::create_bitmap(&before, kernel::kBitmapRecordSize, 1, 40, 30, 24, kernel::kColourRgb,
                          nullptr, view, big.data, big.data_size);
    kernel::Bitmap place, narrow;
    ASSERT_EQ(kernel::make_view(big, 8, 5, 24, 16, &place), RET_SUCCESS);
    ASSERT_EQ(kernel::make_view(big, 8, 5, 23, 16, &narrow), RET_SUCCESS);
    EXPECT_EQ(into(narrow, jpeg.size()), RET_NOT_SUPPORTED);
    EXPECT_EQ(std::memcmp(big.data, before.data, big.data_size), 0);
    EXPECT_NE(into(place, jpeg.size() / 2), RET_SUCCESS);
    ASSERT_EQ(into(place, jpeg.size()), RET_SUCCESS);
    int wrong = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x)
        for (int c = 0; c < 3; ++c) {
          const bool inside = x >= 8 && x < 32 && y >= 5 && y < 21;
          const auto want = inside ? pixel(alone, x - 8, y - 5, c) : pixel(before, x, y, c);
          wrong += pixel(big, x, y, c) != want;
        }
    EXPECT_EQ(wrong, 0) << "view code " << view;
    kernel::free_bitmap(&place);  // owns nothing
    kernel::free_bitmap(&big);
    kernel::free_bitmap(&before);
  }
  kernel::Bitmap one_bit, view;
  kernel::create_bitmap(&one_bit, kernel::kBitmapRecordSize, 1, 64, 8, 1, kernel::kColourPalette,
                        nullptr, kernel::kViewTopDown, nullptr, 0);
  EXPECT_EQ(kernel::make_view(one_bit, 3, 0, 8, 8, &view), RET_INVALID_PARAMETER);
  EXPECT_EQ(kernel::make_view(one_bit, 8, 0, 57, 8, &view), RET_INVALID_PARAMETER);
  EXPECT_EQ(kernel::make_view(one_bit, 8, 1, 56, 7, &view), RET_SUCCESS);
  kernel::free_bitmap(&one_bit);
  kernel::free_bitmap(&alone);
}

}  // namespace
