// Extended reading of the pixel types and band layouts the strict reader refuses: real
// files and generated variants opened with KV_NITF_EXTENDED and rendered, against what
// GDAL's samples give by the display rules (tests/gdal/levels.py); and the strict
// reader's refusals of the same files, codes and messages, unchanged.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>

#include "nitfgen_image.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitfgen::BandSpec;
using nitfgen::ImageSpec;

struct Case {
  std::string name;
  std::string sample;         // below ../shared, or empty for a generated file
  ImageSpec spec = {};        // the generated file's image
  nitfgen::SampleAt at = {};  // and its samples over the whole block grid
  std::string bands = "1";    // GDAL's numbers of the bands shown
  int strict = RET_SUCCESS;   // what the strict reader answers
  bool ycc = false;           // shown as Y, Cb, Cr turned into R, G, B
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

std::uint64_t bits_of(float v) {
  return std::bit_cast<std::uint32_t>(v);
}

// A wave over the grid with negative values, for signed, float and complex samples.
double wave(int b, int x, int y) {
  return std::sin(0.7 * x + 0.3 * y + b) * (40 + 5 * x) - 3 * y;
}

ImageSpec deep(const std::string& pvtype, int nbpp, std::vector<std::string> codes,
               const std::string& imode = "B") {
  ImageSpec s;
  s.pvtype = pvtype, s.nbpp = s.abpp = nbpp, s.imode = imode;
  s.irep = codes.size() >= 3 ? "MULTI" : "MONO";
  s.nbpr = 2, s.nppbh = 4, s.ncols = 8;  // two blocks a row
  s.bands.clear();
  for (const std::string& c : codes) s.bands.emplace_back(c);
  return s;
}

std::vector<Case> cases() {
  constexpr int kPvtype = RET_UNSUPPORTED_PVTYPE, kBpp = RET_UNSUPPORTED_BPP;
  std::vector<Case> out = {
      {"i_3450c", "more-samples/depth/i_3450c.ntf", {}, {}, "1", kPvtype},
      {"ns3450e", "more-samples/depth/ns3450e.nsf", {}, {}, "1", kPvtype},
      {"test", "more-samples/depth/test.ntf", {}, {}, "1", kPvtype},
      {"iq", "more-samples/depth/iq.nitf", {}, {}, "1", kPvtype},
      {"cropped_sicd_050", "more-samples/depth/cropped_sicd_050.nitf", {}, {}, "1", kPvtype},
      {"cropped_sicd_110", "more-samples/depth/cropped_sicd_110.nitf", {}, {}, "1", kPvtype},
      {"sar_sicd", "more-samples/tre/sar_sicd.ntf", {}, {}, "1", kPvtype},
      {"use00a", "more-samples/tre/test_use00a.ntf", {}, {}, "1", kPvtype},
      {"ns5600a", "more-samples/clevel/ns5600a.nsf", {}, {}, "1", RET_UNSUPPORTED_CLEVEL},
      {"rgb16", "samples/misc/rgb16.ntf", {}, {}, "1,2,3", kBpp},
      {"rgb16_11", "samples/misc/rgb16_11ABPP.ntf", {}, {}, "1,2,3", kBpp},
      {"rgb16_11left", "samples/misc/rgb16_11ABPPLeft.ntf", {}, {}, "1,2,3", kBpp},
      {"j2k_rgb11", "samples/j2k/066_389x298_s_11_3_rgb_jp2.ntf", {}, {}, "1,2,3", kBpp},
      {"j2k_ycbcr",
       "samples/j2k/053_512x512_s_8_3_ycbcr_j2c.ntf",
       {},
       {},
       "1,2,3",
       RET_SUCCESS,
       true},
  };
  auto integer = [](int b, int x, int y) { return std::uint64_t(900 * b + 331 * x + 97 * y); };
  // Five bands of 16 bits (ABPP 12), R, G, B on bands 4, 3, 2, interleaved by pixel.
  ImageSpec multi = deep("INT", 16, {"", "B", "G", "R", ""}, "P");
  multi.abpp = 12;
  out.push_back({"multi16", "", multi, [=](int b, int x, int y) { return integer(b, x, y) % 4096; },
                 "4,3,2", kBpp});
  out.push_back({"signed16", "", deep("SI", 16, {"M"}),
                 [](int b, int x, int y) { return std::uint64_t(std::int16_t(wave(b, x, y))); },
                 "1", kPvtype});
  // NaN and an infinity take no part in the range and show as 0.
  out.push_back({"float32", "", deep("R", 32, {"M"}),
                 [](int b, int x, int y) {
                   if (x == 1 && y < 2)
                     return bits_of(y ? std::numeric_limits<float>::infinity() : NAN);
                   return bits_of(float(wave(b, x, y)));
                 },
                 "1", kPvtype});
  out.push_back({"float64", "", deep("R", 64, {"", "", ""}, "S"),
                 [](int b, int x, int y) { return std::bit_cast<std::uint64_t>(wave(b, x, y)); },
                 "1", kPvtype});
  out.push_back({"complex", "", deep("C", 64, {"M"}),
                 [](int b, int x, int y) {
                   return bits_of(float(wave(b, x, y))) << 32 | bits_of(float(wave(b + 1, y, x)));
                 },
                 "1", kPvtype});
  ImageSpec ycc = deep("INT", 8, {"Y", "Cb", "Cr"});
  ycc.irep = "YCbCr601";
  out.push_back({"ycbcr", "", ycc,
                 [](int b, int x, int y) { return (40 * b + 23 * x + 9 * y) % 256; }, "1,2,3",
                 RET_SUCCESS, true});
  // A 7 x 5 picture in two by two blocks of 4 x 3: the pad pixels are not drawn.
  ImageSpec pad = deep("INT", 8, {"M"});
  pad.ncols = 7, pad.nrows = 5, pad.nbpc = 2, pad.nppbv = 3;
  out.push_back({"pad", "", pad, [](int, int x, int y) { return std::uint64_t(30 * x + y); }});
  return out;
}

fs::path file_of(const Case& c, const TempDir& dir) {
  if (!c.sample.empty()) return samples_dir().parent_path() / c.sample;
  const std::string pixels = nitfgen::image_pixels(c.spec, c.at).bytes;
  return dir.write(c.name + ".ntf", nitfgen::image_file(c.spec, pixels));
}

struct Picture {
  int width = 0, height = 0, channels = 0;
  std::string levels;
  // Colour channel k (0 red) of pixel (x, y).
  int at(int x, int y, int k) const {
    const std::size_t i = std::size_t(y * width + x) * channels + (channels == 3 ? k : 0);
    return std::uint8_t(levels[i]);
  }
};

// The picture levels.py works out from GDAL's reading.
std::optional<Picture> expected(const Case& c, const fs::path& file, const TempDir& dir) {
  const fs::path out = dir.file(c.name + ".pnm");
  const std::string command = "/usr/bin/python3 '" KVNTF_SOURCE_DIR "/tests/gdal/levels.py' '" +
                              file.string() + "' '" + out.string() + "' " + c.bands +
                              (c.ycc ? " ycc" : "");
  if (std::system(command.c_str()) != 0) return std::nullopt;
  std::ifstream in(out, std::ios::binary);
  std::string kind;
  int maxval = 0;
  Picture p;
  in >> kind >> p.width >> p.height >> maxval;
  in.get();
  p.channels = kind == "P6" ? 3 : 1;
  p.levels.assign(std::istreambuf_iterator<char>(in), {});
  return p;
}

class ExtendedFiles : public LeakCheckedBase<::testing::TestWithParam<Case>> {};

// Extended reading renders the picture, NROWS x NCOLS, each pixel within 1 of the rule
// applied to GDAL's samples.
TEST_P(ExtendedFiles, Shown) {
  REQUIRE_SAMPLES();
  const Case& c = GetParam();
  TempDir dir;
  const fs::path file = file_of(c, dir);
  const auto want = expected(c, file, dir);
  ASSERT_TRUE(want) << "no reading by GDAL";
  const int w = want->width, h = want->height;
  NitfDocument* doc = nullptr;
  ASSERT_EQ(Kv_NITFCreateExA(&doc, file.string().c_str(), KV_NITF_EXTENDED), RET_SUCCESS);
  Rendered r;
  r.result = Kv_NtfRenderBitmap(&r.bitmap, doc);
  Kv_NITFDestroy(&doc);
  ASSERT_EQ(r.result, RET_SUCCESS);
  ASSERT_EQ(r.bitmap.width, w);
  ASSERT_EQ(r.bitmap.height, h);
  int far = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < 3; ++k)
        far += std::abs(int(r.at(x, y) >> (8 * k) & 0xFF) - want->at(x, y, k)) > 1;
  EXPECT_EQ(far, 0);
}

// Without extended reading the same files give today's codes, and the messages callers
// wait for; a picture the strict reader takes keeps its whole block grid.
TEST_P(ExtendedFiles, StrictUnchanged) {
  REQUIRE_SAMPLES();
  const Case& c = GetParam();
  TempDir dir;
  const fs::path file = file_of(c, dir);
  MessageCapture messages;
  NitfDocument* doc = nullptr;
  ASSERT_EQ(Kv_NITFCreateA(&doc, file.string().c_str()), c.strict);
  const char* message = c.strict == RET_UNSUPPORTED_PVTYPE ? "Error: Unsupported PVTYPE"
                        : c.strict == RET_UNSUPPORTED_BPP  ? "Error: Unsupported BPP"
                                                           : nullptr;
  if (message) {
    EXPECT_EQ(messages.messages(), std::vector<std::string>{message});
  }
  if (c.strict != RET_SUCCESS) return;
  std::uint32_t w = 0, h = 0;
  EXPECT_EQ(GetActual_Width_Height(doc, &w, &h), RET_SUCCESS);
  if (c.sample.empty()) {
    EXPECT_EQ(h, std::uint32_t(c.spec.nbpc * c.spec.nppbv)) << "the grid";
  }
  Kv_NITFDestroy(&doc);
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ExtendedFiles);
INSTANTIATE_TEST_SUITE_P(Files, ExtendedFiles, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

using Extended = LeakChecked;

// A file claiming a huge signed, float or complex image backed by a few bytes is refused
// before the canvas or any sample buffer is made.
TEST_F(Extended, HugeClaimsFailFast) {
  TempDir dir;
  for (const char* pvtype : {"SI", "R", "C"}) {
    ImageSpec huge = deep(pvtype, 64, {"M"});  // a canvas of 2.7 GB, under the cap
    huge.nbpr = huge.nbpc = 3, huge.nppbh = huge.nppbv = 9998;
    huge.ncols = huge.nrows = 3 * 9998;
    const fs::path file = dir.write("huge.ntf", nitfgen::image_file(huge, std::string(64, 'x')));
    NitfDocument* doc = nullptr;
    ASSERT_EQ(Kv_NITFCreateExA(&doc, file.string().c_str(), KV_NITF_EXTENDED), RET_SUCCESS);
    const auto start = std::chrono::steady_clock::now();
    Rendered r;
    EXPECT_EQ(Kv_NtfRenderBitmap(&r.bitmap, doc), RET_FILE_FORMAT) << pvtype;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    Kv_NITFDestroy(&doc);
  }
}

}  // namespace
