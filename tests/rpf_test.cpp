// RPF map frames in extended reading: the CADRG frame and variants of it, each with a
// colour table of its own, render as GDAL shows them; cut files and damaged RPF sections
// give a code or a picture.
#include <gtest/gtest.h>

#include <kvntfu.h>

#include <functional>
#include <random>

#include "testing.h"

namespace {

using namespace testing_support;
using Rpf = LeakChecked;

fs::path nitf20(const char* name) {
  return more_samples_dir() / "nitf20" / name;
}

std::uint32_t be(const std::string& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | std::uint8_t(b[at + i]);
  return v;
}

// Where section `id` starts, by the location table at the start of RPFIMG's data.
std::size_t section(const std::string& b, std::uint32_t id) {
  const std::size_t loc = b.find("RPFIMG") + 11, table = loc + be(b, loc + 2, 4);
  for (std::uint32_t k = 0; k < be(b, loc + 6, 2); ++k)
    if (be(b, table + 10 * k, 2) == id) return be(b, table + 10 * k + 6, 4);
  return 0;
}

int render(const fs::path& file, Rendered* r) {
  NitfDocument* doc = nullptr;
  int code = Kv_NITFCreateExA(&doc, file.string().c_str(), KV_NITF_EXTENDED);
  if (code == RET_SUCCESS) code = Kv_NtfRenderBitmap(&r->bitmap, doc);
  Kv_NITFDestroy(&doc);
  return code;
}

// The stored frame, a table entry of distinct values in each row of kernel 0, and a
// subframe mask that swaps subframes 0 and 5 and leaves out 2 and 11 under the
// transparent code 100; each with colours of its own in the frame's colour table.
TEST_F(Rpf, FrameAsGdal) {
  REQUIRE_SAMPLES();
  REQUIRE_TOOL("gdal_translate");
  const std::string frame = nitfgen::read_file(nitf20("00027010.ON9").string());
  const std::function<void(std::string&)> variants[] = {
      [](std::string&) {},
      [](std::string& b) {
        for (int t = 0; t < 4; ++t)
          for (int x = 0; x < 4; ++x) b[section(b, 132) + 62 + t * 16384 + x] = char(40 * t + x);
      },
      [](std::string& b) {
        const std::size_t mask = section(b, 138), description = section(b, 136);
        b.replace(description + 20, 8, std::string("\0\0\0\7\xFF\xFF\xFF\xFF", 8));
        b[mask + 1] = 4, b[mask + 6] = 100;
        for (std::uint32_t k = 0; k < 36; ++k) {
          const std::uint32_t at = k == 2 || k == 11 ? 0xFFFFFFFF
                                                     : (k == 0   ? 5
                                                        : k == 5 ? 0
                                                                 : k) *
                                                           6144;
          for (int i = 0; i < 4; ++i) b[mask + 7 + 4 * k + i] = char(at >> (24 - 8 * i));
        }
      }};
  TempDir dir;
  for (const auto& change : variants) {
    std::string b = frame;
    change(b);
    for (int i = 0; i < 216 * 4; ++i) b[section(b, 135) + 57 + i] = char(i * 37 % 251);
    const fs::path file = dir.write("frame.on9", b), ppm = dir.file("gdal.ppm");
    ASSERT_EQ(std::system(("GDAL_PAM_ENABLED=NO gdal_translate -q -expand rgb -of PNM '" +
                           file.string() + "' '" + ppm.string() + "'")
                              .c_str()),
              0);
    const std::string gdal = nitfgen::read_file(ppm.string());
    Rendered r;
    ASSERT_EQ(render(file, &r), RET_SUCCESS);
    ASSERT_EQ(r.bitmap.width, 1536);
    const std::size_t pixels = gdal.size() - 1536 * 1536 * 3;  // after GDAL's header
    int wrong = 0;
    for (int y = 0; y < 1536; ++y)
      for (int x = 0; x < 1536; ++x) {
        const std::uint32_t rgb = be(gdal, pixels + 3 * (y * 1536 + x), 3);
        wrong += r.at(x, y) != (rgb >> 16 | (rgb & 0xFF00) | (rgb & 0xFF) << 16);
      }
    EXPECT_EQ(wrong, 0);
  }
}

// RPFTOC01.ON2 is cut short in its image data, testtest.on9 in its DES. The frame cut in
// each section the reader uses or in its location table, or with bytes of their headers
// and records replaced: a code or a picture.
TEST_F(Rpf, DamageGivesCodes) {
  REQUIRE_SAMPLES();
  for (const char* cut : {"RPFTOC01.ON2", "testtest.on9"}) {
    Rendered r;
    EXPECT_EQ(render(nitf20(cut), &r), RET_FILE_READ) << cut;
  }
  const std::string frame = nitfgen::read_file(nitf20("00027010.ON9").string());
  std::mt19937 random(11);
  TempDir dir;
  for (std::uint32_t id : {129u, 131u, 132u, 134u, 135u, 136u, 137u, 138u, 140u}) {
    const std::size_t at = id == 129 ? frame.find("RPFIMG") + 11 : section(frame, id);
    for (int v = 0; v < 8; ++v) {
      std::string b = v == 0 ? frame.substr(0, at + 5) : frame;
      for (int n = 0; v > 0 && n < 3; ++n) b[at + random() % 64] = char(v % 2 ? random() : 0xFF);
      Rendered r;
      const int code = render(dir.write("damaged.on9", b), &r);
      EXPECT_TRUE(code == RET_SUCCESS || code < 0) << id << " " << v;
      EXPECT_TRUE(v > 0 || code != RET_SUCCESS) << "cut in " << id;
    }
  }
}

}  // namespace
