// The compressed image readers on generated files: blocked and masked JPEG (block streams
// made with libjpeg), what the decoder is told about T.4 and MULTI data, vector
// quantisation decoded pixel-exact, and hostile offsets, headers and cut streams, which
// must give a code. Every real compressed sample is held against djpeg, opj_decompress
// or GDAL in image_data_test, the 12-bit and lossless JPEG ones in the codec tests and in
// region_test's windows.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

#include "fileformat/fileformat.h"
#include "image/data/imgmodes.h"
#include "image/data/imgmodes_jpeg_scan.h"
#include "kernel/sinks.h"
#include "nitfgen_image.h"
#include "nitfgen_jpeg.h"
#include "nitfgen_vq.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitfgen::BandSpec;
using nitfgen::ImageShape;
using nitfgen::MaskSpec;
using nitfgen::VqPicture;

constexpr std::uint32_t kNone = 0xFFFFFFFF;

using ImageCompressed = LeakChecked;

// ----- What the decoder is handed ------------------------------------------------------

struct Seen {
  int loads = 0, prefixed = 0, raw_format = -1;  // prefixed: streams led by APP6 "NITF"
  FltRawDataCallback callback = nullptr;
  void* user = nullptr;
};
thread_local Seen seen;

FltRawDataCallback KV_CALL spy_set_raw(FltRawDataCallback callback, void* user) {
  if (callback) seen.callback = callback, seen.user = user;
  return fileformat::set_raw_data_callback(callback, user);
}

std::int32_t KV_CALL spy_load(const void* buffer, KvBitmap* bitmap, std::uint32_t size,
                              std::int32_t bits, std::int32_t order, std::uint32_t count,
                              FltLoadOptions* options) {
  ++seen.loads;
  const std::uint8_t app6[] = {0xFF, 0xD8, 0xFF, 0xE6, 0x00, 0x19, 'N', 'I', 'T', 'F', 0};
  seen.prefixed += count > sizeof app6 && std::memcmp(buffer, app6, sizeof app6) == 0;
  if (seen.callback) {
    FltRawFormat f{};
    seen.callback(seen.user, &f);
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

// T.4 data: one-dimensional coding for COMRAT 1D, two-dimensional for 2DS and 2DH (the
// stream need not decode for that).
TEST_F(ImageCompressed, BilevelCoding) {
  for (auto [comrat, code] :
       {std::pair{"1D  ", 66}, std::pair{"2DS ", 67}, std::pair{"2DH ", 67}}) {
    ImageShape s;
    s.pvtype = "B", s.abpp = s.nbpp = 1, s.ic = "C1", s.comrat = comrat;
    TempDir dir;
    auto request = spy_request();
    decode_image(dir.write("t4.ntf", nitfgen::image_file(s, std::string(16, '\0'))), 0,
                 request.get());
    EXPECT_EQ(seen.loads, 1) << comrat;
    EXPECT_EQ(seen.raw_format, code) << comrat;
  }
}

// ----- Blocked JPEG --------------------------------------------------------------------

constexpr int kBlock = 16;
const int kLevel[4] = {40, 100, 170, 230};

// Block k: a flat picture of kLevel[k], `side` pixels square, made exactly `length` bytes
// long by a comment segment when asked.
std::string block_stream(int k, std::size_t length = 0, int side = kBlock) {
  std::string s = nitfgen::jpeg_stream(side, side, 1, 95, [k](int, int) { return kLevel[k]; });
  if (length == 0) return s;
  const std::size_t n = length - s.size() - 4;
  return s.insert(2, std::string("\xFF\xFE", 2) + char((n + 2) >> 8) + char((n + 2) & 0xFF) +
                         std::string(n, 'c'));
}

std::string four_blocks(int side = kBlock) {
  std::string out;
  for (int k = 0; k < 4; ++k) out += block_stream(k, 0, side);
  return out;
}

ImageShape blocked(const std::string& ic) {
  ImageShape s;
  s.ic = ic, s.comrat = "00.0";
  s.nrows = s.ncols = 2 * kBlock;
  s.nbpr = s.nbpc = 2, s.nppbh = s.nppbv = kBlock;
  return s;
}

// Every pixel of block k is its level, or 0 for the blocks in `blank`.
void expect_blocks(const kernel::Bitmap& b, const std::set<int>& blank = {}) {
  ASSERT_EQ(b.width, 2 * kBlock);
  ASSERT_EQ(b.height, 2 * kBlock);
  ASSERT_EQ(b.bits_per_pixel, 8);
  for (int k = 0; k < 4; ++k) {
    int bad = 0;
    for (int y = 0; y < kBlock; ++y)
      for (int x = 0; x < kBlock; ++x) {
        const int v = int(pixel_value(b, k % 2 * kBlock + x, k / 2 * kBlock + y));
        bad += blank.count(k) ? v != 0 : std::abs(v - kLevel[k]) > 1;
      }
    EXPECT_EQ(bad, 0) << "block " << k;
  }
}

// C3 data are cut into streams at their markers, scanned in windows of kWindow bytes that
// advance by kWindowStep: a marker at a window's edge, or straddling it, is still seen. A
// picture larger than its block is cut to the block; M3 streams are found through the
// mask, in any order, an unrecorded block left 0. Offsets beyond LI, cut streams and
// streams of 16-bit DCT samples are refused (code 0: whatever the decoder says); a block
// of a kind the reader does not accept is skipped.
TEST_F(ImageCompressed, JpegBlocks) {
  constexpr std::size_t step = nitf::jpegscan::kWindowStep, window = nitf::jpegscan::kWindow;
  struct Case {
    std::string what;
    ImageShape shape;
    std::string data;
    int code = RET_SUCCESS;
    std::set<int> blank = {};
  };
  const std::string all = four_blocks(), s0 = block_stream(0), s1 = block_stream(1),
                    s2 = block_stream(2), s3 = block_stream(3);
  std::string sixteen = s0;
  sixteen[sixteen.find("\xFF\xC0") + 4] = 16;  // the frame's sample precision
  std::string hierarchical = s1;
  hierarchical[hierarchical.find("\xFF\xC0") + 1] = '\xC5';  // refused by the reader
  ImageShape m3 = blocked("M3"), one = blocked("C3"), beyond = m3, table = m3;
  m3.mask = nitfgen::block_mask(
      {std::uint32_t(s3.size()), kNone, std::uint32_t(s3.size() + s0.size()), 0});
  one.nbpr = one.nbpc = 1, one.nrows = one.ncols = kBlock;
  beyond.mask = nitfgen::block_mask({0, 0x7FFFFFF0, kNone, kNone});
  table.mask = nitfgen::block_mask({0, kNone, kNone, kNone}, 0x7FFFFFF0);
  std::vector<Case> cases = {
      {"C3", blocked("C3"), all},
      {"larger pictures", blocked("C3"), four_blocks(kBlock + 8)},
      {"M3", m3, s3 + s0 + s2, RET_SUCCESS, {1}},
      {"mask offset beyond LI", beyond, s0, RET_FILE_FORMAT},
      {"mask table longer than LI", table, s0, RET_FILE_FORMAT},
      {"3 bytes of a stream", one, s0.substr(0, 3), RET_FILE_FORMAT},
      {"half a stream", one, s0.substr(0, s0.size() / 2), RET_FILE_FORMAT},
      {"a stream without its last 2 bytes", one, s0.substr(0, s0.size() - 2), RET_FILE_FORMAT},
      {"the third stream cut", blocked("C3"), s0 + s1 + s2.substr(0, 40) + s3, 0},
      {"no marker at all", blocked("C3"), std::string(5000, 'x'), 0},
      {"16-bit samples", one, sixteen, RET_NOT_SUPPORTED},
      {"a hierarchical block, skipped",
       blocked("C3"),
       s0 + hierarchical + s2 + s3,
       RET_BAD_BLOCK_STREAM,
       {1}}};
  for (std::size_t first : {step, step + 1, step + 2, window, 2 * step, 2 * step + 3})
    cases.push_back({"first stream of " + std::to_string(first), blocked("C3"),
                     block_stream(0, first) + all.substr(s0.size())});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string bytes = nitfgen::image_file(c.shape, c.data);
    auto d = decode_image(dir.write("jpeg.ntf", bytes));
    EXPECT_TRUE(c.code ? d->result == c.code : d->result < 0) << d->result;
    if (c.code == RET_BAD_BLOCK_STREAM) {  // read_image empties the output; the reader
      kernel::Bitmap out;                  // itself placed the other blocks
      kernel::init_bitmap(&out, kernel::kBitmapRecordSize);
      auto& doc = *d->parsed.document;
      EXPECT_EQ(nitf::read_jpeg_family(
                    {&doc, 0, doc.images[0].get(), doc.header.images.data(0), &out, nullptr}),
                RET_BAD_BLOCK_STREAM);
      expect_blocks(out, c.blank);
      kernel::free_bitmap(&out);
    }
    if (d->result != RET_SUCCESS) {
      EXPECT_EQ(d->bitmap.data, nullptr);
      continue;
    }
    expect_blocks(d->bitmap, c.blank);
    if (c.data.size() < window) expect_damage_refused(bytes, 0, 60, c.data.size() + 26);
  }
}

// IMODE S: band b of block k is stream b x blocks + k, with 2 blocks (not band count + 1)
// too, and with a block mask, whose records follow the same numbering. MULTI blocks go to
// the request's decoder with the chosen bands (B, G, R here); every block after the first
// gets the NITF application prefix, masked or not.
TEST_F(ImageCompressed, JpegBands) {
  for (int rows : {1, 2, 0})
    for (bool masked : {false, true}) {
      ImageShape s = blocked(masked ? "M3" : "C3");
      s.nbpc = rows ? rows : 2, s.nrows = kBlock * s.nbpc, s.imode = rows ? "S" : "B";
      s.irep = rows ? "RGB" : "MULTI";
      s.bands = {BandSpec{"R"}, BandSpec{"G"}, BandSpec{"B"}};
      if (!rows) std::swap(s.bands[0], s.bands[2]);
      const int blocks = 2 * s.nbpc;
      std::string data;
      MaskSpec mask;
      auto level = [](int b, int k) { return 10 + 60 * b + 10 * k; };
      for (int i = 0; i < (rows ? 3 * blocks : blocks); ++i) {
        mask.block_records.push_back(std::uint32_t(data.size()));
        const int k = i % blocks, b = i / blocks;
        data += nitfgen::jpeg_stream(
            kBlock, kBlock, rows ? 1 : 3, 95,
            [&](int, int) {
              return rows ? level(b, k) : level(0, k) << 16 | level(1, k) << 8 | level(2, k);
            },
            rows == 0);
      }
      if (masked) s.mask = mask;
      TempDir dir;
      auto request = spy_request();
      auto d = decode_image(dir.write("bands.ntf", nitfgen::image_file(s, data)), 0, request.get());
      ASSERT_EQ(d->result, RET_SUCCESS) << rows << masked;
      EXPECT_TRUE(rows || (seen.loads == 4 && seen.prefixed == 3));
      for (int k = 0; k < blocks; ++k)
        for (int b = 0; b < 3; ++b)
          EXPECT_NEAR(int(pixel_value(d->bitmap, k % 2 * kBlock + 3, k / 2 * kBlock + 5, 2 - b)),
                      level(rows ? b : 2 - b, k), 2)
              << "rows " << rows << " masked " << masked << " block " << k << " band " << b;
    }
}

// ----- Vector quantisation (C4, M4) ----------------------------------------------------

// A picture of values below `levels`, made of a few distinct kernels (so that 8-bit codes
// hold the codebook) unless `noisy`.
VqPicture picture(int width, int height, int block, int levels, bool noisy, unsigned seed) {
  VqPicture p;
  p.width = width, p.height = height, p.block_width = p.block_height = block;
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      p.pixels.push_back(std::uint16_t(
          noisy ? random() % levels : (x / 4 * 3 + y / 4 * 5 + x % 4 + 2 * (y % 4)) % levels));
  return p;
}

// C4 data, or M4 data behind a mask whose records point at each block's codes.
ImageShape vq_image(const VqPicture& p, const nitfgen::VqData& data, bool masked, int nbpp = 8) {
  ImageShape s;
  s.nrows = p.height, s.ncols = p.width, s.ic = masked ? "M4" : "C4";
  s.nbpr = p.width / p.block_width, s.nbpc = p.height / p.block_height;
  s.nppbh = p.block_width, s.nppbv = p.block_height, s.nbpp = s.abpp = nbpp;
  if (!masked) return s;
  s.mask = MaskSpec{};
  for (std::uint32_t o : data.block_offsets)
    s.mask->block_records.push_back(o == kNone ? o : o + std::uint32_t(data.tables_bytes));
  return s;
}

// The picture as the reader must give it: unrecorded blocks 0 (a last block row left out
// shortens the output), and 0 where the block's last kernel would not fit.
std::uint32_t vq_expected(const VqPicture& p, int x, int y) {
  const int k = y / p.block_height * (p.width / p.block_width) + x / p.block_width;
  if (!p.unrecorded.empty() && p.unrecorded[k]) return 0;
  if (x % p.block_width >= p.block_width / p.kernel_width * p.kernel_width ||
      y % p.block_height >= p.block_height / p.kernel_height * p.kernel_height)
    return 0;
  return p.pixels[std::size_t(y) * p.width + x];
}

// Codes are packed without realignment: unrecorded blocks take none, 7-bit codes straddle
// bytes and blocks, a 256 x 256 block of 12-bit codes is 6144 bytes, and codes ending
// inside a byte need that byte (data one byte short are refused).
TEST_F(ImageCompressed, VqPixelExact) {
  struct Case {
    const char* what;
    VqPicture p;
    bool masked;
    int height;  // of the output
  };
  std::vector<Case> cases = {{"C4", picture(16, 16, 8, 16, false, 1), false, 16},
                             {"M4", picture(24, 16, 8, 200, false, 2), true, 16},
                             {"M4 last row unrecorded", picture(16, 24, 8, 16, false, 3), true, 16},
                             {"12-bit values", picture(16, 8, 8, 4096, false, 6), false, 8},
                             {"7-bit codes, gaps", picture(16, 16, 8, 256, true, 4), true, 16},
                             {"12-bit codes", picture(256, 256, 256, 256, true, 5), false, 256},
                             {"kernels beside a strip", picture(9, 9, 9, 50, false, 7), false, 9},
                             {"28 bits of codes", picture(8, 4, 4, 256, true, 13), false, 4}};
  cases[2].p.unrecorded = {false, false, false, false, true, true};
  cases[3].p.value_bits = 12;
  for (auto& v : cases[3].p.pixels) v = std::uint16_t((v * 331 + 3000) % 4096);  // high bits too
  cases[4].p.unrecorded = {false, true, true, false};
  cases[5].p.code_bits = 12;
  for (Case* c : {&cases[4], &cases[7]}) {
    c->p.kernel_width = c->p.kernel_height = 2;
    c->p.code_bits = 7;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const nitfgen::VqData data = nitfgen::vq_image_data(c.p);
    ASSERT_TRUE(c.p.code_bits != 12 || data.code_bytes == 6144u);
    const ImageShape s = vq_image(c.p, data, c.masked, c.p.value_bits);
    TempDir dir;
    const std::string bytes = nitfgen::image_file(s, data.bytes);
    auto d = decode_image(dir.write("vq.ntf", bytes));
    ASSERT_EQ(d->result, RET_SUCCESS);
    EXPECT_EQ(d->bitmap.bits_per_pixel, c.p.value_bits);
    ASSERT_EQ(d->bitmap.width, c.p.width);
    ASSERT_EQ(d->bitmap.height, c.height);
    int wrong = 0;
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.p.width; ++x)
        wrong += pixel_value(d->bitmap, x, y) != vq_expected(c.p, x, y);
    // A window from a third of the way in (its codes mid-stream, across blocks) read on
    // its own: raw samples, and a picture at half size (or whole where it cannot be cut).
    NitfDocument* doc = d->parsed.document.get();
    const std::uint32_t x0 = c.p.width / 3, y0 = c.p.height / 3, band = 0, w = c.p.width - x0,
                        h = c.p.height - y0, n = c.p.value_bits > 8 ? 2 : 1;
    std::vector<std::uint8_t> raw(std::size_t(w) * h * n);
    const KvSampleRequest q{y0, x0, h, w, 1, &band, 1, KV_SAMPLES_BY_PIXEL};
    ASSERT_EQ(Kv_NITFReadSamples(doc, 0, &q, raw.data(), raw.size(), w * n), RET_SUCCESS);
    for (std::uint32_t i = 0; i < w * h; ++i)
      wrong += std::uint32_t(n == 1 ? raw[i] : raw[2 * i] | raw[2 * i + 1] << 8) !=
               vq_expected(c.p, int(x0 + i % w), int(y0 + i / w));
    bool cut = false;
    const nitf::ImageWindow window{y0, x0, h, w, 2, 1, &cut};
    kernel::Bitmap part{};
    ASSERT_EQ(nitf::read_image(doc, 0, &part, nullptr, nullptr, &window), RET_SUCCESS);
    EXPECT_EQ(cut, c.p.value_bits != 12 && c.height == c.p.height);
    for (int y = 0; y < part.height; ++y)
      for (int x = 0; x < part.width; ++x)
        wrong += pixel_value(part, x, y) !=
                 vq_expected(c.p, cut ? int(x0) + 1 + 2 * x : x, cut ? int(y0) + 1 + 2 * y : y);
    kernel::free_bitmap(&part);
    EXPECT_EQ(wrong, 0);
    auto short_data = decode_image(dir.write(
        "short.ntf", nitfgen::image_file(s, data.bytes.substr(0, data.bytes.size() - 1))));
    EXPECT_EQ(short_data->result, RET_FILE_FORMAT) << "one byte short";
    if (bytes.size() < 10000) expect_damage_refused(bytes, 0, 60, data.tables_bytes + 30);
  }
}

TEST_F(ImageCompressed, VqRefusals) {
  const VqPicture p = picture(16, 16, 8, 16, false, 9);
  TempDir dir;
  auto code = [&](std::function<void(VqPicture&)> change, std::size_t keep = 0) {
    VqPicture v = p;
    change(v);
    const nitfgen::VqData data = nitfgen::vq_image_data(v);
    const std::string bytes = keep ? data.bytes.substr(0, keep) : data.bytes;
    return decode_image(dir.write("vq.ntf", nitfgen::image_file(vq_image(v, data, false), bytes)))
        ->result;
  };
  const std::function<void(VqPicture&)> broken[] = {
      [](VqPicture& v) { v.code_rows = 0; },
      [](VqPicture& v) { v.codes_per_row = 0; },
      [](VqPicture& v) { v.code_bit_length = 0; },
      [](VqPicture& v) { v.code_bit_length = 40; },
      [](VqPicture& v) { v.code_rows = 9; },  // nine code rows in a block of eight
      [](VqPicture& v) { v.table_count = 0; },
      [](VqPicture& v) { v.table_count = 3; },
      [](VqPicture& v) { v.table_entries = 0x40000000; },  // beyond LI: refused before allocating
      [](VqPicture& v) { v.first_table_entries = 0; },
      [](VqPicture& v) { v.first_table_entries = 1; },  // tables of different lengths
      [](VqPicture& v) { v.table_entries = 1; },        // codes past the tables
      [](VqPicture& v) { v.table_entries = 0xFFFFFFFF; },
  };
  for (std::size_t i = 0; i < std::size(broken); ++i)
    EXPECT_EQ(code(broken[i]), RET_FILE_FORMAT) << "header change " << i;
  EXPECT_EQ(code([](VqPicture&) {}, 10), RET_FILE_READ) << "a header cut short";
  // Three bands, and LI beyond the end of the file.
  const nitfgen::VqData data = nitfgen::vq_image_data(p);
  ImageShape rgb = vq_image(p, data, false);
  rgb.irep = "RGB", rgb.bands = {BandSpec{"R"}, BandSpec{"G"}, BandSpec{"B"}};
  EXPECT_EQ(decode_image(dir.write("rgb.ntf", nitfgen::image_file(rgb, data.bytes)))->result,
            RET_NOT_SUPPORTED);
  std::string cut = nitfgen::image_file(vq_image(p, data, false), data.bytes);
  cut.resize(cut.size() - 5);
  auto d = decode_image(dir.write("cut.ntf", cut));
  ASSERT_EQ(d->parsed.result, RET_SUCCESS);
  EXPECT_EQ(d->result, RET_FILE_READ);
  EXPECT_EQ(d->bitmap.data, nullptr);
}

// ----- JPEG 2000 -----------------------------------------------------------------------

// opj_compress's stream of a w x h grey ramp ("-F": the YCC JP2 of a colour one, its colour
// box made sYCC) and opj_decompress's 24-bit reading of it, 0xBBGGRR by pixel.
struct J2k {
  std::string stream;
  std::vector<std::uint32_t> pixels;
};

J2k j2k(int w, int h, bool ycc) {
  TempDir dir;
  std::string pnm =
      std::string(ycc ? "P6\n" : "P5\n") + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int i = 0; i < w * h * (ycc ? 3 : 1); ++i) pnm += char((i * 7 + i / w * 3) % 256);
  const std::string in = dir.write(ycc ? "in.ppm" : "in.pgm", pnm).string();
  const std::string out = dir.file(ycc ? "s.jp2" : "s.j2k").string();
  J2k r;
  if (std::system(("opj_compress -n 1 -i " + in + " -o " + out + " >/dev/null 2>&1").c_str()))
    return r;
  r.stream = nitfgen::read_file(out);
  if (ycc) r.stream[r.stream.find("colr") + 10] = 18;
  const auto p = codec_picture(r.stream);  // P6, or P5 for grey
  for (std::size_t i = 0; p && i < p->samples.size(); i += std::size_t(p->channels)) {
    const auto c = [&](int k) { return p->samples[i + std::size_t(k % p->channels)]; };
    r.pixels.push_back(c(0) | c(1) << 8 | c(2) << 16);
  }
  return r;
}

// JPEG 2000 data coded at NCOLS x NROWS, smaller than the block grid, are drawn at their
// own size at the grid's top left, the pad pixels 0, as strict reading shows the grid and
// extended reading the picture; a YCbCr601 image whose JP2 says sYCC is converted once.
// Pixels as opj_decompress's.
TEST_F(ImageCompressed, Jpeg2000Placed) {
  REQUIRE_TOOL("opj_compress");
  REQUIRE_TOOL("opj_decompress");
  const struct {
    int w, h, block_w, block_h, per_row, per_column;
    bool ycc;
  } cases[] = {{128, 1, 128, 128, 1, 1, false},
               {61, 99, 64, 128, 1, 1, false},
               {100, 70, 64, 64, 2, 2, false},
               {40, 24, 40, 24, 1, 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    const J2k coded = j2k(c.w, c.h, c.ycc);
    ASSERT_EQ(coded.pixels.size(), std::size_t(c.w) * c.h);
    ImageShape s;
    s.ic = "C8", s.comrat = "N045", s.irep = c.ycc ? "YCbCr601" : "MONO";
    if (c.ycc) s.bands = {BandSpec{"Y"}, BandSpec{"Cb"}, BandSpec{"Cr"}};
    s.ncols = c.w, s.nrows = c.h, s.nppbh = c.block_w, s.nppbv = c.block_h;
    s.nbpr = c.per_row, s.nbpc = c.per_column;
    TempDir dir;
    const fs::path file = dir.write("j2k.ntf", nitfgen::image_file(s, coded.stream));
    for (std::uint32_t mode : {0u, std::uint32_t(KV_NITF_EXTENDED)}) {
      PublicDoc doc(file, mode);
      ASSERT_EQ(doc.result, RET_SUCCESS);
      Rendered r;
      ASSERT_EQ(r.result = Kv_NtfRenderBitmap(&r.bitmap, doc.d), RET_SUCCESS);
      const int w = mode ? c.w : c.block_w * c.per_row, h = mode ? c.h : c.block_h * c.per_column;
      ASSERT_TRUE(r.bitmap.width == w && r.bitmap.height == h)
          << r.bitmap.width << " x " << r.bitmap.height;
      int wrong = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          wrong += r.at(x, y) != (x < c.w && y < c.h ? coded.pixels[std::size_t(y) * c.w + x] : 0);
      EXPECT_EQ(wrong, 0) << (mode ? "extended" : "strict");
    }
  }
}

// An image without data (LI 0) and a JPEG 2000 stream that cannot be decoded give a
// code and say why on the debug sink.
TEST_F(ImageCompressed, FailuresSaid) {
  struct Lines {
    std::string all;
    static void sink(void* self, const char* text) { static_cast<Lines*>(self)->all += text; }
  };
  ImageShape c8;
  c8.ic = "C8", c8.comrat = "N045";
  const std::string cut = std::string("\xFF\x4F\xFF\x51", 4) + std::string(60, '\0');
  ImageShape plain;
  const struct {
    const ImageShape& shape;
    std::string data;
    const char* said;
  } cases[] = {
      {plain, "", "no data (LI 0)"}, {c8, "", "no data (LI 0)"}, {c8, cut, "cannot be decoded"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    TempDir dir;
    Lines lines;
    kernel::set_debug_sink(&Lines::sink, &lines);
    auto d = decode_image(dir.write("failed.ntf", nitfgen::image_file(c.shape, c.data)));
    kernel::set_debug_sink(nullptr, nullptr);
    EXPECT_NE(d->result, RET_SUCCESS);
    EXPECT_NE(lines.all.find(c.said), std::string::npos) << lines.all;
  }
}

}  // namespace
