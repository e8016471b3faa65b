// NITF 2.0 in extended reading (the real 2.0 files are in the round trips of
// writing_test and the codes of corpus_test): generated 2.0 files with symbols of the three
// kinds and labels compose within their bounds; the CADRG map frame and variants of it
// render as GDAL shows them; strict reading still refuses them.
#include <gtest/gtest.h>

#include <kvntfu.h>

#include <random>
#include <tuple>

#include "nitfgen20.h"
#include "nitfgen_cgm.h"
#include "testing.h"

namespace {

using namespace testing_support;
namespace cgm = nitfgen::cgm;
namespace v20 = nitfgen::v20;

using Nitf20 = LeakChecked;

fs::path nitf20(const char* name) {
  return more_samples_dir() / "nitf20" / name;
}

// Three bytes, red first.
std::string rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return std::string{char(r), char(g), char(b)};
}

// A CGM rectangle, a 4 x 3 bitmap through its LUT, a line, an arrow, a circle, a
// rectangle and an ellipse (each in a colour of its own), and a two-line label, on a black canvas
// (2.0 has no FBKGC).
struct Bound {
  int left, top, right, bottom;  // the rows and columns the ink may touch, inclusive
};

std::string symbols_file(std::vector<Bound>* bounds) {
  v20::FileSpec f;
  auto symbol = [&](nitfgen::FieldValues v, const std::string& data, const std::string& lut,
                    Bound b) {
    f.symbols.push_back({v20::symbol_subheader(v, lut), data});
    bounds->push_back(b);
  };
  const cgm::Bytes body = cgm::cat({cgm::edge_colour(255, 255, 255), cgm::interior_style(1),
                                    cgm::fill_colour(255, 255, 255), cgm::rectangle(0, 0, 20, 10)});
  const std::string picture = cgm::nitf_graphic(body, 20, 10);
  symbol({{"STYPE", "C"}, {"SDLVL", "1"}, {"SLOC", "0001000010"}}, picture, "", {9, 9, 31, 21});
  // Rows of 4 pixels at 8 bits: 0 0 1 1 / 1 1 0 0 / 2 2 2 2; LUT 0 black, 1 red, 2 green.
  const std::string bitmap = std::string("\0\0\1\1\1\1\0\0\2\2\2\2", 12);
  symbol({{"STYPE", "B"},
          {"SDLVL", "2"},
          {"NLIPS", "3"},
          {"NPIXPL", "4"},
          {"NBPP", "8"},
          {"SLOC", "0005000060"}},
         bitmap, rgb(0, 0, 0) + rgb(255, 0, 0) + rgb(0, 255, 0), {60, 50, 63, 52});
  const char* objects[][3] = {{"1", "0003000030", "0004000070"},   // line
                              {"2", "0006000030", "0007000070"},   // arrow
                              {"3", "0010000100", "0010000110"},   // circle of radius 10
                              {"4", "0009000030", "0011000050"},   // rectangle
                              {"5", "0009000060", "0011000080"}};  // ellipse
  const Bound object_bounds[] = {
      {29, 29, 71, 41}, {29, 52, 71, 75}, {89, 89, 111, 111}, {29, 89, 51, 111}, {59, 89, 81, 111}};
  for (int k = 0; k < 5; ++k)
    symbol({{"STYPE", "O"},
            {"SDLVL", std::to_string(3 + k)},
            {"SNUM", objects[k][0]},
            {"NWDTH", "2"},
            {"SCOLOR", std::string(1, "ROYGB"[k])},
            {"SLOC", objects[k][1]},
            {"SLOC2", objects[k][2]}},
           "", "", object_bounds[k]);
  // The label carries a TRE in its extension area (LXSHDL, LXSOFL, the TRE).
  std::string label =
      v20::label_subheader({{"LCW", "10"}, {"LCH", "16"}, {"LDLVL", "9"}, {"LLOC", "0013000010"}},
                           rgb(255, 255, 0), rgb(0, 0, 255));
  label.replace(label.size() - 5, 5, "00030000OFFSET000160000001200000034");
  f.labels.push_back({label, "AB\r\nCDE"});
  bounds->push_back({10, 130, 39, 161});
  f.texts.push_back({v20::text_subheader(), "a 2.0 text"});
  return v20::build(f);
}

TEST_F(Nitf20, SymbolsAndLabels) {
  std::vector<Bound> bounds;
  TempDir dir;
  const fs::path file = dir.write("symbols.ntf", symbols_file(&bounds));
  EXPECT_EQ(PublicDoc(file, 0).result, RET_UNSUPPORTED_VERSION);
  PublicDoc doc(file, KV_NITF_EXTENDED);
  ASSERT_EQ(doc.result, RET_SUCCESS);
  EXPECT_EQ(Kv_NITFGetGraphicHeaderCount(doc.d), 7);
  EXPECT_EQ(Kv_NITFGetTextHeaderCount(doc.d), 1);
  uint32_t width = 0, height = 0;
  ASSERT_EQ(GetActual_Width_Height(doc.d, &width, &height), RET_SUCCESS);
  EXPECT_EQ(width, 112u) << "the circle reaches furthest right";
  EXPECT_EQ(height, 162u) << "the label's second line lowest";
  const std::tuple<int, int, const char*, int, const char*> fields[] = {
      {KV_FIELDS_LABEL, 0, "LLOC", RET_SUCCESS, "0013000010"},
      {KV_FIELDS_LABEL, 0, "LXSHDL", RET_SUCCESS, "00030"},
      {KV_FIELDS_SYMBOL, 3, "SNUM", RET_SUCCESS, "000002"},
      {KV_FIELDS_FILE, 0, "FVER", RET_SUCCESS, "02.00"},
      {KV_FIELDS_TEXT, 0, "TE", RET_SUCCESS, "TE"},
      {KV_FIELDS_IMAGE, 0, "IID", RET_INVALID_PARAMETER, ""},
      {KV_FIELDS_DES, 0, "DESID", RET_INVALID_PARAMETER, ""},
      {KV_FIELDS_SYMBOL, 0, "NOSUCH", RET_INVALID_PARAMETER, ""},
      {9, 0, "FVER", RET_BAD_ARGUMENT, ""}};
  for (const auto& [kind, index, name, code, value] : fields) {
    char text[64] = "";
    EXPECT_EQ(Kv_NITFGetFieldText(doc.d, kind, index, name, text, sizeof text), code) << name;
    EXPECT_STREQ(text, value) << name;
  }
  EXPECT_EQ(Kv_NITFGetSegmentCount(doc.d, KV_FIELDS_LABEL), 1);
  char* tre = nullptr;
  ASSERT_EQ(Kv_NITFGetTreJson(doc.d, KV_FIELDS_LABEL, 0, 0, &tre), RET_SUCCESS);
  EXPECT_NE(std::string(tre).find("\"SAMPLE\":\"00000034\""), std::string::npos) << tre;
  Kv_NITFFreeTreJson(&tre);
  EXPECT_EQ(Kv_NITFGetSegmentCount(doc.d, 9), 0);
  NitfGraphicHeader g{};
  ASSERT_EQ(Kv_NITFGetGraphicHeader(doc.d, 1, &g), RET_SUCCESS);
  EXPECT_EQ(Kv_NITFSetGraphicHeader(doc.d, 1, &g), RET_SUCCESS);
  Kv_NITFFreeGraphicHeader(&g);
  Rendered r;
  ASSERT_EQ(r.result = Kv_NtfRenderBitmap(&r.bitmap, doc.d), RET_SUCCESS);
  std::vector<int> ink(bounds.size());
  for (int y = 0; y < int(height); ++y) {
    for (int x = 0; x < int(width); ++x) {
      if (r.at(x, y) == 0) continue;
      bool inside = false;
      for (std::size_t k = 0; k < bounds.size(); ++k) {
        const Bound& b = bounds[k];
        if (x < b.left || x > b.right || y < b.top || y > b.bottom) continue;
        inside = true;
        ++ink[k];
      }
      EXPECT_TRUE(inside) << "ink at " << x << "," << y;
    }
  }
  for (std::size_t k = 0; k < ink.size(); ++k) EXPECT_GT(ink[k], 0) << "segment " << k;
  EXPECT_EQ(r.at(62, 50), 0x0000FFu) << "bitmap: red through the LUT";
  EXPECT_EQ(r.at(61, 52), 0x00FF00u) << "bitmap: green";
  EXPECT_EQ(r.at(60, 50), 0u) << "bitmap: black";
  EXPECT_EQ(r.at(11, 131), 0xFF0000u) << "label background: blue";
  EXPECT_EQ(r.at(15, 15), 0xFFFFFFu) << "CGM rectangle";

  const fs::path copy = dir.file("copy.ntf");
  ASSERT_EQ(Kv_NITFSaveFileA(doc.d, copy.string().c_str()), RET_SUCCESS);
  EXPECT_EQ(nitfgen::read_file(copy.string()), nitfgen::read_file(file.string()));
  MessageCapture boxes;
  EXPECT_EQ(Kv_NITFAppendTextSegmentA(doc.d, file.string().c_str()), RET_NOT_SUPPORTED);
  EXPECT_EQ(Kv_NITFGetTextHeaderCount(doc.d), 1);
}

// Every cut inside the subheaders and data gives a code; damaged bytes give a code or a
// picture, never a crash, under the sanitizers.
TEST_F(Nitf20, Damage) {
  std::vector<Bound> bounds;
  const std::string bytes = symbols_file(&bounds);
  TempDir dir;
  MessageCapture boxes;
  const std::size_t header = 388 - 3 + 15 + 7 * 10 + 10 + 10;  // through the length tables
  for (std::size_t cut = 40; cut < bytes.size(); cut += 37) {
    PublicDoc doc(dir.write("cut.ntf", bytes.substr(0, cut)), KV_NITF_EXTENDED);
    Rendered r;
    if (doc.result == RET_SUCCESS) r.result = Kv_NtfRenderBitmap(&r.bitmap, doc.d);
    EXPECT_TRUE(doc.result != RET_SUCCESS || r.result != RET_SUCCESS) << "cut at " << cut;
  }
  std::mt19937 random(20);
  for (int v = 0; v < 200; ++v) {
    std::string changed = bytes;
    for (int n = 0; n < 3; ++n)
      changed[header + random() % (bytes.size() - header)] = static_cast<char>(random());
    PublicDoc doc(dir.write("damaged.ntf", changed), KV_NITF_EXTENDED);
    Rendered r;
    if (doc.result == RET_SUCCESS) r.result = Kv_NtfRenderBitmap(&r.bitmap, doc.d);
    if (r.result != RET_SUCCESS) {
      EXPECT_EQ(r.bitmap.data, nullptr);
    }
  }
}

// ----- RPF map frames ------------------------------------------------------------------

std::uint32_t be(const std::string& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | std::uint8_t(b[at + i]);
  return v;
}
void put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (24 - 8 * i));
}

// Where RPF section `id` starts, by the location table opening RPFIMG's data.
std::size_t section(const std::string& b, std::uint32_t id) {
  const std::size_t loc = b.find("RPFIMG") + 11, table = loc + be(b, loc + 2, 4);
  for (std::uint32_t k = 0; k < be(b, loc + 6, 2); ++k)
    if (be(b, table + 10 * k, 2) == id) return be(b, table + 10 * k + 6, 4);
  return 0;
}

int render(const fs::path& file, Rendered* r) {
  PublicDoc doc(file, KV_NITF_EXTENDED);
  return doc.result == RET_SUCCESS ? Kv_NtfRenderBitmap(&r->bitmap, doc.d) : doc.result;
}

// The CADRG frame as stored, with distinct values in each row of kernel 0, and with a
// subframe mask that swaps subframes 0 and 5 and leaves out 2 and 11 under the
// transparent code 100; each with colours in the frame's table (the stored ones are
// black): the canvas is GDAL's RGB reading.
TEST_F(Nitf20, RpfFrameAsGdal) {
  REQUIRE_SAMPLES();
  REQUIRE_TOOL("gdal_translate");
  TempDir dir;
  for (int v = 0; v < 3; ++v) {
    std::string b = nitfgen::read_file(nitf20("00027010.ON9").string());
    for (int i = 0; v == 1 && i < 16; ++i)
      b[section(b, 132) + 62 + i / 4 * 16384 + i % 4] = char(9 * i);
    if (v == 2) {
      const std::size_t mask = section(b, 138);
      put32(b, section(b, 136) + 20, 7), put32(b, section(b, 136) + 24, 0xFFFFFFFF);
      b[mask + 1] = 4, b[mask + 6] = 100;
      for (std::uint32_t k = 0; k < 36; ++k)
        put32(b, mask + 7 + 4 * k, k == 2 || k == 11 ? ~0u : (k % 5 || k > 5 ? k : 5 - k) * 6144);
    }
    for (int i = 0; i < 216 * 4; ++i) b[section(b, 135) + 57 + i] = char(i * 37 % 251);
    const fs::path file = dir.write("frame.on9", b), ppm = dir.file("gdal.ppm");
    const std::string gdal = "GDAL_PAM_ENABLED=NO gdal_translate -q -expand rgb -of PNM ";
    ASSERT_EQ(std::system((gdal + file.string() + " " + ppm.string()).c_str()), 0);
    const std::string rgb = nitfgen::read_file(ppm.string());
    const std::size_t pixels = rgb.size() - 1536 * 1536 * 3;  // after GDAL's header
    auto gdal_at = [&](int x, int y) {
      const std::uint32_t c = be(rgb, pixels + 3 * (std::size_t(y) * 1536 + x), 3);
      return c >> 16 | (c & 0xFF00) | (c & 0xFF) << 16;
    };
    Rendered r, part;
    ASSERT_EQ(render(file, &r), RET_SUCCESS);
    ASSERT_EQ(r.bitmap.width, 1536);
    int wrong = 0;
    for (int p = 0; p < 1536 * 1536; ++p)
      wrong += r.at(p % 1536, p / 1536) != gdal_at(p % 1536, p / 1536);
    // A region across subframes (0, 2 and 5 among them) reads only those it meets.
    PublicDoc doc(file, KV_NITF_EXTENDED);
    const std::int32_t window[4] = {200, 100, 700, 600};
    ASSERT_EQ(Kv_NtfRenderRegion(&part.bitmap, doc.d, window, 700, 600), RET_SUCCESS);
    for (int p = 0; p < 700 * 600; ++p)
      wrong += part.at(p % 700, p / 700) != gdal_at(200 + p % 700, 100 + p / 700);
    EXPECT_EQ(wrong, 0) << "variant " << v;
  }
}

// RPFTOC01.ON2 is cut short in its image data, testtest.on9 in its DES. The frame cut in
// its location table or a section the reader uses, or with bytes of their headers and
// records replaced: a code or a picture.
TEST_F(Nitf20, RpfDamage) {
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
      EXPECT_TRUE(v > 0 ? code == RET_SUCCESS || code < 0 : code < 0) << id << " " << v;
    }
  }
}

}  // namespace
