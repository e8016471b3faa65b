// Raw samples of windows against GDAL's ReadAsArray (tests/gdal/window.py): every image
// of both sample folders that GDAL reads (the generated layouts are held against GDAL in
// image_data_test); DCT reductions against djpeg's; the nearest rule; refused requests.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "nitfgen_image.h"
#include "nitfgen_jpeg.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitfgen::ImageShape;

struct Request {
  std::uint32_t image, row, col, rows, cols, step;
  std::vector<std::uint32_t> bands;
  bool by_band;
};

std::string text(const Request& q) {
  std::string bands;
  for (std::uint32_t b : q.bands) bands += (bands.empty() ? "" : "+") + std::to_string(b);
  return std::to_string(q.image) + "," + std::to_string(q.row) + "," + std::to_string(q.col) + "," +
         std::to_string(q.rows) + "," + std::to_string(q.cols) + "," + std::to_string(q.step) +
         "," + bands;
}

// Our samples of a request, every band of a pixel together (as GDAL's array is laid out).
std::string ours(NitfDocument* doc, const Request& q, const KvImageInfo& info, int* code) {
  const std::size_t rows = (q.rows - 1) / q.step + 1, cols = (q.cols - 1) / q.step + 1;
  const std::size_t n = q.bands.size(), bytes = info.sample_bytes;
  const std::size_t stride = cols * bytes * (q.by_band ? 1 : n) + 3;  // a padded stride
  std::string buffer(stride * rows * n, '\x55'), out(rows * cols * n * bytes, '\0');
  const KvSampleRequest r{q.row,  q.col,          q.rows,           q.cols,
                          q.step, q.bands.data(), std::uint32_t(n), q.by_band};
  *code = Kv_NITFReadSamples(doc, q.image, &r, buffer.data(), buffer.size(), stride);
  for (std::size_t y = 0; y < rows; ++y)
    for (std::size_t x = 0; x < cols; ++x)
      for (std::size_t b = 0; b < n; ++b)
        out.replace(
            ((y * cols + x) * n + b) * bytes, bytes, buffer,
            q.by_band ? (b * rows + y) * stride + x * bytes : y * stride + (x * n + b) * bytes,
            bytes);
  return out;
}

// Every request of one file read by us and by GDAL; returns how many were compared.
int compare(const fs::path& path, std::vector<Request> (*plan)(std::uint32_t, const KvImageInfo&)) {
  PublicDoc doc(path, KV_NITF_EXTENDED);
  if (doc.result != RET_SUCCESS) return 0;
  std::vector<Request> requests;
  std::vector<KvImageInfo> infos;
  for (std::uint32_t i = 0; i < std::uint32_t(Kv_NITFGetImageHeaderCount(doc.d)); ++i) {
    KvImageInfo info;
    NitfImageHeader h{};
    if (Kv_NITFGetImageInfo(doc.d, i, &info) != RET_SUCCESS || !info.rows || !info.columns)
      continue;
    Kv_NITFGetImageHeader(doc.d, i, &h);
    // GDAL takes the nibbles of uncompressed 12-bit samples in another order than their
    // big-endian packing: NearestRule reads them against the generator instead.
    const bool twelve = info.bits_per_sample == 12 && h.IC && h.IC[0] == 'N';
    Kv_NITFFreeImageHeader(&h);
    if (twelve) continue;
    for (Request& q : plan(i, info)) requests.push_back(q), infos.push_back(info);
  }
  TempDir dir;
  std::string command = "/usr/bin/python3 " KVNTF_SOURCE_DIR "/tests/gdal/window.py '" +
                        path.string() + "' " + dir.file("").string();
  for (const Request& q : requests) command += " " + text(q);
  EXPECT_TRUE(requests.empty() || std::system(command.c_str()) == 0) << command;
  int compared = 0;
  for (std::size_t n = 0; n < requests.size(); ++n) {
    std::ifstream kind(dir.file(std::to_string(n) + ".txt")),
        data(dir.file(std::to_string(n) + ".bin"));
    std::string dtype((std::istreambuf_iterator<char>(kind)), {});
    if (dtype.empty() || dtype[0] == '-') continue;  // GDAL does not read it (and says why)
    int code = 0;
    const std::string want((std::istreambuf_iterator<char>(data)), {});
    const std::string got = ours(doc.d, requests[n], infos[n], &code);
    EXPECT_EQ(code, RET_SUCCESS) << path << " " << text(requests[n]);
    EXPECT_TRUE(got == want) << path << " " << text(requests[n]) << " " << dtype;
    ++compared;
  }
  return compared;
}

// The whole image (or its first 1024 x 1024), a middle window at half size with the bands
// reversed in band-sequential layout, the whole image at a quarter and a few pixels.
std::vector<Request> windows(std::uint32_t i, const KvImageInfo& f) {
  std::vector<std::uint32_t> all, reversed;
  for (std::uint32_t b = 0; b < f.bands; ++b)
    all.push_back(b), reversed.insert(reversed.begin(), b);
  const std::uint32_t r0 = f.rows / 3 & ~3u, c0 = f.columns / 4 & ~3u;
  std::vector<Request> out = {
      {i, 0, 0, std::min(f.rows, 1024u), std::min(f.columns, 1024u), 1, all, false},
      {i, r0, c0, std::max(1u, f.rows / 2), std::max(1u, f.columns / 2),
       std::max(f.rows, f.columns) >= 2 ? 2u : 1u, reversed, true}};
  if (f.rows >= 4 && f.columns >= 4) out.push_back({i, 0, 0, f.rows, f.columns, 4, all, false});
  // A few pixels about the middle, across block edges when they meet there.
  const std::uint32_t r1 = f.rows / 2 - std::min(f.rows / 2, 2u),
                      c1 = f.columns / 2 - std::min(f.columns / 2, 3u);
  out.push_back(
      {i, r1, c1, std::min(5u, f.rows - r1), std::min(7u, f.columns - c1), 1, all, false});
  return out;
}

TEST(Samples, EqualGdal) {
  REQUIRE_SAMPLES();
  int compared = 0;
  for (const fs::path& folder : {samples_dir(), more_samples_dir()})
    for (const fs::path& p : all_samples(folder)) compared += compare(p, windows);
  EXPECT_GT(compared, 150);
}

// 3 x 2 blocks of 5 x 3 with pad pixels (14 x 5 shown), in every IMODE and depth.
ImageShape made(const std::string& imode, int bands, int nbpp, const std::string& pvtype) {
  ImageShape s;
  s.nbpr = 3, s.nbpc = 2, s.nppbh = 5, s.nppbv = 3, s.ncols = 14, s.nrows = 5, s.imode = imode;
  s.nbpp = s.abpp = nbpp, s.pvtype = pvtype, s.irep = bands == 3 ? "RGB" : "MONO";
  s.bands.clear();
  for (int b = 0; b < bands; ++b) s.bands.emplace_back(bands == 3 ? std::string(1, "RGB"[b]) : "M");
  return s;
}

// Nearest rule: output (r, c) is the sample at (row + r x step, column + c x step), of
// 12-bit samples packed big-endian.
TEST(Samples, NearestRule) {
  ImageShape s = made("B", 1, 12, "INT");
  TempDir dir;
  auto at = [](int, int x, int y) { return std::uint64_t(y * 100 + x); };
  const fs::path f = dir.write("n.ntf", nitfgen::image_file(s, nitfgen::image_pixels(s, at).bytes));
  PublicDoc doc(f, KV_NITF_EXTENDED);
  ASSERT_EQ(doc.result, RET_SUCCESS);
  const std::uint32_t band = 0;
  std::uint16_t out[2][4] = {};
  const KvSampleRequest q{0, 2, 5, 12, 4, &band, 1, KV_SAMPLES_BY_PIXEL};
  EXPECT_EQ(Kv_NITFReadSamples(doc.d, 0, &q, out, sizeof out, 8), RET_SUCCESS);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(out[r][c], 4 * r * 100 + 2 + 4 * c);
}

TEST(Samples, BadRequests) {
  ImageShape s = made("B", 3, 8, "INT");
  TempDir dir;
  const fs::path f = dir.write("b.ntf", nitfgen::image_file(s, std::string(270, '\1')));
  PublicDoc doc(f, KV_NITF_EXTENDED);
  ASSERT_EQ(doc.result, RET_SUCCESS);
  const std::uint32_t ok[] = {0, 2}, bad[] = {3};
  struct Case {
    KvSampleRequest q;
    std::size_t size, stride;
  };
  const Case cases[] = {{{5, 0, 1, 1, 1, ok, 2, 0}, 64, 32},  {{0, 14, 1, 1, 1, ok, 2, 0}, 64, 32},
                        {{0, 0, 6, 1, 1, ok, 2, 0}, 64, 32},  {{0, 0, 0, 1, 1, ok, 2, 0}, 64, 32},
                        {{0, 0, 1, 14, 3, ok, 2, 0}, 64, 32}, {{0, 0, 1, 1, 0, ok, 2, 0}, 64, 32},
                        {{0, 0, 1, 1, 32, ok, 2, 0}, 64, 32}, {{0, 0, 1, 1, 1, bad, 1, 0}, 64, 32},
                        {{0, 0, 1, 1, 1, ok, 0, 0}, 64, 32},  {{0, 0, 1, 1, 1, ok, 2, 2}, 64, 32},
                        {{0, 0, 2, 14, 1, ok, 2, 0}, 64, 27}, {{0, 0, 2, 14, 1, ok, 2, 0}, 55, 28},
                        {{0, 0, 2, 14, 1, ok, 2, 1}, 27, 14}};
  for (const Case& c : cases) {
    std::string buffer(c.size, '\x7F');
    EXPECT_EQ(Kv_NITFReadSamples(doc.d, 0, &c.q, buffer.data(), c.size, c.stride),
              RET_INVALID_PARAMETER);
    EXPECT_EQ(buffer, std::string(c.size, '\x7F'));
  }
}

struct Canvas {
  KvBitmap b{};
  ~Canvas() { kernel::free_bitmap(reinterpret_cast<kernel::Bitmap*>(&b)); }
  const std::uint8_t* row(int y) const {  // from the top
    return b.data + std::size_t(b.view_code == 4 ? b.height - 1 - y : y) * b.bytes_per_line;
  }
};

// The pixels of one image alone on the canvas, not JPEG 2000 or DCT JPEG (whose
// reductions are the codecs'): those a region at half size takes by the nearest rule, the middle
// pixel of each cell.
bool nearest_applies(NitfDocument* doc) {
  if (Kv_NITFGetImageHeaderCount(doc) != 1 || Kv_NITFGetGraphicHeaderCount(doc) != 0 ||
      Kv_NITFGetSegmentCount(doc, KV_FIELDS_LABEL) != 0)
    return false;
  NitfImageHeader h{};
  if (Kv_NITFGetImageHeader(doc, 0, &h) != RET_SUCCESS) return false;
  // JPEG 2000 and blocked DCT JPEG are reduced by their codecs (DctScaled).
  const bool codec = h.IC && (h.IC[1] == '8' || h.IC[1] == '3' || h.IC[0] == 'I');
  Kv_NITFFreeImageHeader(&h);
  return !codec;
}

// A window at scale 1 is the same window of the whole canvas, byte for byte; at half size
// it is composed too, and for a lone image (not JPEG 2000) it is the whole canvas's pixel
// in the middle of each 2 x 2 cell. Windows outside the canvas and empty sizes are refused.
TEST(Region, CutOfCanvas) {
  REQUIRE_SAMPLES();
  int compared = 0, halves = 0;
  for (const fs::path& folder : {samples_dir(), more_samples_dir()}) {
    for (const fs::path& p : all_samples(folder)) {
      PublicDoc doc(p, KV_NITF_EXTENDED);
      if (doc.result != RET_SUCCESS) continue;
      Canvas whole, part, half;
      if (Kv_NtfRenderBitmap(&whole.b, doc.d) == RET_SUCCESS && whole.b.width >= 2) {
        const int w = whole.b.width, h = whole.b.height;
        const std::int32_t window[4] = {w / 4, h / 3, std::max(1, w / 2), std::max(1, h / 2)};
        ASSERT_EQ(Kv_NtfRenderRegion(&part.b, doc.d, window, window[2], window[3]), RET_SUCCESS)
            << p;
        int most = 0, differ = 0;
        for (int y = 0; y < window[3]; ++y)
          for (int x = 0; x < window[2] * 3; ++x) {
            const int d = std::abs(part.row(y)[x] - whole.row(window[1] + y)[window[0] * 3 + x]);
            most = std::max(most, d), differ += d != 0;
          }
        EXPECT_EQ(differ, 0) << p << " differ " << differ << " most " << most;
        const std::int32_t even[4] = {0, 0, w & ~1, std::max(2, h & ~1)};
        EXPECT_EQ(Kv_NtfRenderRegion(&half.b, doc.d, even, w / 2, even[3] / 2), RET_SUCCESS);
        if (nearest_applies(doc.d) && h >= 2) {
          differ = 0;
          for (int y = 0; y < h / 2; ++y)
            for (int x = 0; x < w / 2 * 3; ++x)
              differ += half.row(y)[x] != whole.row(2 * y + 1)[x / 3 * 6 + 3 + x % 3];
          EXPECT_EQ(differ, 0) << p << " at half size";
          ++halves;
        }
        const std::int32_t outside[4] = {w - 1, 0, 2, 1}, empty[4] = {0, 0, 0, 1};
        EXPECT_EQ(Kv_NtfRenderRegion(&half.b, doc.d, outside, 2, 1), RET_INVALID_PARAMETER);
        EXPECT_EQ(Kv_NtfRenderRegion(&half.b, doc.d, empty, 2, 1), RET_INVALID_PARAMETER);
        EXPECT_EQ(Kv_NtfRenderRegion(&half.b, doc.d, window, 0, 1), RET_INVALID_PARAMETER);
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 60);
  EXPECT_GT(halves, 25);
}

// JPEG blocks of a region at 1/2, 1/4 and 1/8 are libjpeg's scaled decoding: the
// region is djpeg -scale 1/N of each block, placed side by side.
TEST(Region, DctScaled) {
  ImageShape s = made("P", 3, 8, "INT");
  s.ic = "C3", s.comrat = "00.0", s.nbpr = s.nbpc = 2, s.nppbh = s.nppbv = 64;
  s.ncols = s.nrows = 128;
  TempDir dir;
  std::string data;
  for (int k = 0; k < 4; ++k) {
    const std::string block = nitfgen::jpeg_stream(64, 64, 3, 80, [k](int x, int y) {
      return std::uint32_t((x * 4 + k * 50) & 0xFF) << 16 | std::uint32_t(y * 3 & 0xFF) << 8 |
             std::uint32_t((x ^ y) * 5 & 0xFF);
    });
    dir.write(std::to_string(k) + ".jpg", block);
    data += block;
  }
  const fs::path f = dir.write("c3.ntf", nitfgen::image_file(s, data));
  PublicDoc doc(f, KV_NITF_EXTENDED);
  ASSERT_EQ(doc.result, RET_SUCCESS);
  const std::int32_t whole[4] = {0, 0, 128, 128};
  for (int n : {2, 4, 8}) {
    Canvas c;
    const int side = 128 / n, b = side / 2;
    ASSERT_EQ(Kv_NtfRenderRegion(&c.b, doc.d, whole, side, side), RET_SUCCESS);
    int differ = 0;
    for (int k = 0; k < 4; ++k) {
      const std::string ppm = dir.file("s.ppm").string(),
                        jpg = dir.file(std::to_string(k) + ".jpg");
      ASSERT_EQ(
          std::system(("djpeg -scale 1/" + std::to_string(n) + " -ppm -outfile " + ppm + " " + jpg)
                          .c_str()),
          0);
      const std::string p = nitfgen::read_file(ppm), pixels = p.substr(p.size() - b * b * 3);
      for (int y = 0; y < b; ++y)
        for (int x = 0; x < b * 3; ++x)
          differ += c.row(k / 2 * b + y)[(k % 2 * b + x / 3) * 3 + 2 - x % 3] !=
                    std::uint8_t(pixels[y * b * 3 + x]);
    }
    EXPECT_EQ(differ, 0) << "1/" << n;
  }
}

// Segments hidden with Kv_NtfShowSegment: with every image, graphic and label hidden the
// picture is the background alone, on a canvas of the same size; shown again, it is as
// before. Kinds that are not drawn and indices past the count are refused.
TEST(Region, HiddenSegments) {
  REQUIRE_SAMPLES();
  int files = 0;
  for (const fs::path& folder : {samples_dir(), more_samples_dir()}) {
    for (const fs::path& p : all_samples(folder)) {
      PublicDoc doc(p, KV_NITF_EXTENDED);
      uint32_t w = 0, h = 0, w2 = 0, h2 = 0;
      if (doc.result != RET_SUCCESS) continue;
      const int kinds[] = {KV_FIELDS_IMAGE, KV_FIELDS_GRAPHIC, KV_FIELDS_LABEL};
      int drawn = 0;
      for (int kind : kinds) drawn += Kv_NITFGetSegmentCount(doc.d, kind);
      Canvas before, hidden, again;
      const bool small =
          GetActual_Width_Height(doc.d, &w, &h) == RET_SUCCESS && w <= 2048 && h <= 2048;
      const std::int32_t window[4] = {0, 0, std::int32_t(w), std::int32_t(h)};
      if (drawn < 2 || !small ||
          Kv_NtfRenderRegion(&before.b, doc.d, window, 48, 40) != RET_SUCCESS)
        continue;
      for (int kind : kinds)  // twice: hiding a hidden segment changes nothing
        for (int i = 0; i < 2 * Kv_NITFGetSegmentCount(doc.d, kind); ++i)
          ASSERT_EQ(Kv_NtfShowSegment(doc.d, kind, i / 2, 0), RET_SUCCESS) << p;
      ASSERT_EQ(Kv_NtfRenderRegion(&hidden.b, doc.d, window, 48, 40), RET_SUCCESS) << p;
      EXPECT_TRUE(GetActual_Width_Height(doc.d, &w2, &h2) == RET_SUCCESS && w2 == w && h2 == h)
          << p;
      int other = 0;
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 48 * 3; ++x) other += hidden.row(y)[x] != hidden.row(0)[x % 3];
      EXPECT_EQ(other, 0) << p << ": ink with every segment hidden";
      for (int kind : kinds)
        for (int i = 0; i < Kv_NITFGetSegmentCount(doc.d, kind); ++i)
          Kv_NtfShowSegment(doc.d, kind, i, 1);
      ASSERT_EQ(Kv_NtfRenderRegion(&again.b, doc.d, window, 48, 40), RET_SUCCESS) << p;
      for (int y = 0; y < 40; ++y)
        EXPECT_EQ(std::memcmp(before.row(y), again.row(y), 48 * 3), 0) << p << " row " << y;
      const int refused[][2] = {
          {KV_FIELDS_TEXT, 0},
          {KV_FIELDS_FILE, 0},
          {KV_FIELDS_DES, 0},
          {KV_FIELDS_IMAGE, -1},
          {KV_FIELDS_IMAGE, 1000},
          {KV_FIELDS_GRAPHIC, Kv_NITFGetSegmentCount(doc.d, KV_FIELDS_GRAPHIC)}};
      for (const auto& [kind, index] : refused)
        EXPECT_EQ(Kv_NtfShowSegment(doc.d, kind, index, 0), RET_INVALID_PARAMETER) << kind << index;
      EXPECT_EQ(Kv_NtfShowSegment(nullptr, KV_FIELDS_IMAGE, 0, 0), RET_INVALID_DOCUMENT);
      ++files;
    }
  }
  EXPECT_GT(files, 8) << files;
}

}  // namespace
