// The composition: draw order, attachment chains, the canvas size, what the drawing puts
// on the canvas and where graphics land, and the filter entry points. Generated files hold
// uniform grey images whose values tell which segment shows at a canvas pixel; placements
// are worked out by hand from ILOC, IALVL and the block grids. fltLoad's short ways (an
// image read straight into its canvas, a background of zeros left unwritten, rows handed
// over in place) must give the rows of the plain way (every image read into a bitmap of
// its own and painted onto a filled canvas) byte for byte, on generated files of every
// layout and on every sample.
#include <gtest/gtest.h>

#include <kvntfu.h>

#include <sstream>

#include "core/utility_canvas.h"
#include "fileformat/fileformat.h"
#include "graphics_text/handlgfx.h"
#include "image/handlimg.h"
#include "nitfgen_cgm.h"
#include "nitfgen_image.h"
#include "nitfgen_jpeg.h"
#include "nitfgen_segments.h"
#include "testing.h"
#include "vector/drawing.h"

namespace {

using namespace testing_support;
using nitfgen::BandSpec;
using nitfgen::ImageShape;
using nitfgen::MaskSpec;
namespace cgm = nitfgen::cgm;

constexpr std::uint32_t kBackground = 0x332211;  // every generated file's FBKGC, as 0xBBGGRR

using Composition = LeakChecked;

// A square 8-bit grey image of one block.
ImageShape grey_image(int size, int level, int attached_to = 0, int row = 0, int column = 0) {
  ImageShape s;
  s.nrows = s.ncols = s.nppbh = s.nppbv = size;
  s.idlvl = level, s.ialvl = attached_to, s.iloc_row = row, s.iloc_column = column;
  return s;
}

std::string uniform(int size, int value) {
  return std::string(std::size_t(size) * size, char(value));
}

constexpr std::uint32_t grey(std::uint32_t v) {
  return v | v << 8 | v << 16;
}

using Images = std::vector<std::pair<ImageShape, std::string>>;

nitfgen::Segment graphic(int level, int attached = 0, int row = 0, int column = 0,
                         const std::string& data = "", const char* format = "C") {
  nitfgen::GraphicSpec g;
  g.fields = {{"SDLVL", std::to_string(level)},
              {"SALVL", std::to_string(attached)},
              {"SLOC", nitfgen::placement(row, column)},
              {"SFMT", format}};
  return {nitfgen::graphic_subheader(g), data};
}

nitfgen::FileSpec with_text() {
  nitfgen::FileSpec f;
  f.texts.push_back({nitfgen::text_subheader(), "text"});
  return f;
}

fs::path file_of(const TempDir& dir, const Images& images, nitfgen::FileSpec file = {},
                 const std::string& background = "\x11\x22\x33") {
  for (const auto& [layout, pixels] : images)
    file.images.push_back(nitfgen::image_segment(layout, pixels));
  file.fields["FBKGC"] = background;
  return dir.write("composed.ntf", nitfgen::build(file));
}

Parsed parsed(const TempDir& dir, const Images& images, const nitfgen::FileSpec& file = {}) {
  Parsed p = parse(file_of(dir, images, file));
  EXPECT_EQ(p.result, RET_SUCCESS);
  return p;
}

// The draw list as "kind:index" entries.
std::string drawn(const NitfDocument& d) {
  nitf::DrawList list;
  EXPECT_EQ(nitf::build_draw_list(d, &list), RET_SUCCESS);
  std::string out;
  for (std::size_t i = 0; i < list.entries.size(); ++i)
    out += std::to_string(list.entries[i].kind) + ":" + std::to_string(list.entries[i].index) + " ";
  return out;
}

// The attachment offset of an image as "row,column".
std::string offset_of(const NitfDocument& d, std::uint32_t image) {
  std::int64_t row = 0, column = 0;
  nitf::attachment_offset(d, {0, d.images[image]->display_level, image}, &row, &column);
  return std::to_string(row) + "," + std::to_string(column);
}

// "width x height" of the canvas, or the code.
std::string canvas_of(NitfDocument* d) {
  std::uint32_t width = 0, height = 0;
  const int r = nitf::canvas_size(d, &width, &height);
  return r != RET_SUCCESS ? "code " + std::to_string(r)
                          : std::to_string(width) + "x" + std::to_string(height);
}

// ----- Order, attachment, canvas -------------------------------------------------------

// Display levels sort with an exchange sort that fixes the order among equal levels: 2, 2,
// 1 in A, B, C gives C, B, A, so A is drawn last (a stable sort would give C, A, B).
// Images come before graphics of the same level; texts are not drawn.
TEST_F(Composition, DrawOrder) {
  TempDir dir;
  const std::pair<std::vector<int>, std::string> cases[] = {
      {{5, 1, 3}, "0:1 0:2 0:0 "}, {{2, 2, 1}, "0:2 0:1 0:0 "}, {{3, 1, 2, 1}, "0:1 0:3 0:2 0:0 "}};
  for (const auto& [levels, order] : cases) {
    Images images;
    for (int level : levels) images.push_back({grey_image(8, level), ""});
    EXPECT_EQ(drawn(*parsed(dir, images).document), order);
  }
  nitfgen::FileSpec file = with_text();
  file.graphics.push_back(graphic(1));
  EXPECT_EQ(drawn(*parsed(dir, {{grey_image(8, 1), ""}}, file).document), "0:0 2:0 ");
  EXPECT_EQ(drawn(*parsed(dir, {}, with_text()).document), "");
}

// Offsets add up along a chain (C on B on A) and through a graphic, and stop where a
// chain comes back to itself (A on itself; B and C on each other; D, E, F in a ring) or
// names a level nobody shows.
TEST_F(Composition, Attachment) {
  TempDir dir;
  Parsed p = parsed(dir, {{grey_image(8, 1, 0, 10, 20), uniform(8, 40)},
                          {grey_image(8, 2, 1, 100, 200), uniform(8, 80)},
                          {grey_image(8, 3, 2, 5, 7), uniform(8, 120)}});
  EXPECT_EQ(offset_of(*p.document, 2), "110,220");
  EXPECT_EQ(canvas_of(p.document.get()), "235x123") << "C's block grid ends there";
  Rendered r;
  r.result = Kv_NtfRenderBitmap(&r.bitmap, p.document.get());
  ASSERT_EQ(r.result, RET_SUCCESS);
  EXPECT_EQ(r.at(227, 115), grey(120));
  EXPECT_EQ(r.at(234, 122), grey(120));
  EXPECT_EQ(r.at(226, 119), kBackground) << "beside C, below B";
  EXPECT_EQ(r.at(220, 110), grey(80)) << "B at its own ILOC plus A's";
  EXPECT_EQ(r.at(20, 10), grey(40));

  Images ring;
  const int links[][4] = {{1, 1, 3, 4}, {2, 3, 10, 20}, {3, 2, 30, 40},
                          {4, 5, 1, 1}, {5, 6, 2, 2},   {6, 4, 4, 4}};  // IDLVL, IALVL, ILOC
  for (const auto& l : links) ring.push_back({grey_image(8, l[0], l[1], l[2], l[3]), ""});
  Parsed cycles = parsed(dir, ring);
  const std::string offsets[] = {"0,0", "30,40", "10,20", "6,6"};  // D: E then F
  for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(offset_of(*cycles.document, i), offsets[i]);
  EXPECT_EQ(canvas_of(cycles.document.get()), "68x48");

  nitfgen::FileSpec file;
  file.graphics.push_back(graphic(4, 1, 3, 9));
  Parsed through = parsed(dir,
                          {{grey_image(8, 1, 0, 50, 60), ""},
                           {grey_image(8, 2, 4, 1, 1), ""},
                           {grey_image(8, 3, 77, 1, 1), ""}},
                          file);
  EXPECT_EQ(offset_of(*through.document, 1), "53,69");
  EXPECT_EQ(offset_of(*through.document, 2), "0,0");
}

// The canvas is the largest right and bottom extent of the block grids (padding included;
// the widest and the tallest need not be one image) and of the graphics' ink; 2048 x 2048
// when fixed or when nothing has extent, 2 x 2 for texts alone; geometry no canvas can
// have is refused, and then no half-drawn picture is handed out.
TEST_F(Composition, CanvasSize) {
  TempDir dir;
  ImageShape padded = grey_image(512, 1);
  padded.ncols = 1000, padded.nrows = 500, padded.nbpr = 2;
  nitfgen::FileSpec line, symbol;
  line.graphics.push_back(
      graphic(2, 0, 0, 0, cgm::nitf_graphic(cgm::polyline({10, 150, 130, 150}), 200, 200)));
  symbol.graphics.push_back(graphic(2, 0, 0, 0, "", "B"));  // SFMT B: no size in NITF 2.1
  const std::string format = "code " + std::to_string(RET_FILE_FORMAT);
  const struct {
    Images images;
    nitfgen::FileSpec file;
    std::string canvas;
  } cases[] = {
      {{{padded, ""}}, {}, "1024x512"},
      {{{grey_image(8, 1, 0, 0, 300), ""}, {grey_image(8, 2, 0, 400, 0), ""}}, {}, "308x408"},
      {{}, with_text(), "2x2"},
      {{{grey_image(8, 1, 0, -8, -8), ""}}, {}, "2048x2048"},
      {{{grey_image(100, 1), uniform(100, 100)}}, line, "131x151"},
      {{{grey_image(8, 1, 0, 0, -100), ""}}, {}, format},  // wholly left of the origin
      {{{grey_image(8, 1, 0, 0, -8), ""}}, {}, format},    // no width but a height
      {{{grey_image(8, 1), ""}}, symbol, "code " + std::to_string(RET_NOT_SUPPORTED)},
  };
  for (const auto& c : cases) {
    Parsed p = parsed(dir, c.images, c.file);
    EXPECT_EQ(canvas_of(p.document.get()), c.canvas);
    if (c.canvas[0] != 'c') continue;
    Rendered r;
    r.result = Kv_NtfRenderBitmap(&r.bitmap, p.document.get());
    EXPECT_NE(r.result, RET_SUCCESS);
    EXPECT_EQ(r.bitmap.data, nullptr);
  }
  EXPECT_EQ(canvas_of(kernel::make_tracked<NitfDocument>().get()), "2048x2048");
  Parsed p = parsed(dir, {{grey_image(64, 1, 0, 3000, 3000), ""}});
  p.document->fixed_canvas = 1;
  EXPECT_EQ(canvas_of(p.document.get()), "2048x2048");
  p.document->fixed_canvas = 0;
  {
    AllocationCap cap(std::size_t{3064} * 3064 * 3 - 1);
    EXPECT_EQ(canvas_of(p.document.get()), "code " + std::to_string(RET_NO_MEMORY));
  }
  nitf::NitfImageSubheader& s = *p.document->images[0];
  s.block_width = 0x7FFFFFFF, s.blocks_per_row = 2;  // a side that 32 bits would wrap
  EXPECT_EQ(canvas_of(p.document.get()), "code " + std::to_string(RET_NO_MEMORY));
  s.block_width = -4;
  EXPECT_EQ(canvas_of(p.document.get()), format);
}

// ----- Drawing -------------------------------------------------------------------------

// A pad pixel leaves the image below showing; an image that fails stops the drawing;
// Kv_NitfDrawObjects on a caller's 32-bit top-down context paints only the image's place
// and refuses a place past the canvas coordinates' range instead of wrapping it.
TEST_F(Composition, Drawing) {
  TempDir dir;
  ImageShape padded = grey_image(4, 2, 0, 1, 2), jpeg = grey_image(8, 2);
  padded.ic = "NM", padded.mask = MaskSpec{-1, {}, {}, 8, "\x07"};
  std::string pixels = uniform(4, 90);
  pixels[0] = pixels[5] = 7;  // pad pixels at (2, 1) and (3, 2)
  Parsed p = parsed(dir, {{grey_image(4, 1, 0, 1, 2), uniform(4, 230)}, {padded, pixels}});
  Rendered r;
  r.result = Kv_NtfRenderBitmap(&r.bitmap, p.document.get());
  ASSERT_EQ(r.result, RET_SUCCESS);
  EXPECT_EQ(r.at(2, 1), grey(230));
  EXPECT_EQ(r.at(3, 2), grey(230));
  EXPECT_EQ(r.at(3, 1), grey(90));
  EXPECT_EQ(r.at(1, 1), kBackground);
  EXPECT_EQ(Kv_NtfRenderBitmap(&r.bitmap, p.document.get()), RET_SUCCESS) << "a second time";

  Canvas canvas(7, 5, 32, kernel::kViewTopDown, 0);
  ASSERT_EQ(canvas.result, RET_SUCCESS);
  auto* context = reinterpret_cast<KvDrawingContext*>(canvas.dc);
  EXPECT_EQ(Kv_NitfDrawObjects(nullptr, context, nullptr, p.document.get()), RET_SUCCESS);
  p.document->images[0]->location_column = 0x7FFFFFFF;
  EXPECT_EQ(Kv_NitfDrawObjects(nullptr, context, nullptr, p.document.get()), RET_FILE_FORMAT);
  EXPECT_EQ(kernel::storage_row(canvas.bitmap, 1)[4 * 1], 0) << "left of the images";
  EXPECT_EQ(kernel::storage_row(canvas.bitmap, 1)[4 * 3 + 2], 90);
  EXPECT_EQ(kernel::storage_row(canvas.bitmap, 0)[4 * 2], 0) << "above the images";

  jpeg.ic = "C3", jpeg.comrat = "00.0";
  Rendered failed;
  failed.result = Kv_NtfRenderBitmap(
      &failed.bitmap,
      parsed(dir, {{grey_image(8, 1), uniform(8, 1)}, {jpeg, "junk"}}).document.get());
  EXPECT_LT(failed.result, RET_SUCCESS);
  EXPECT_EQ(failed.bitmap.data, nullptr);
  auto empty = kernel::make_tracked<NitfDocument>();
  std::uint32_t width = 0, height = 0;
  EXPECT_EQ(GetActual_Width_Height(nullptr, &width, &height), RET_INVALID_DOCUMENT);
  EXPECT_EQ(GetActual_Width_Height(empty.get(), nullptr, &height), RET_BAD_ARGUMENT);
  EXPECT_EQ(Kv_NtfRenderBitmap(nullptr, empty.get()), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NtfRenderBitmap(&failed.bitmap, nullptr), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NitfDrawObjects(nullptr, nullptr, nullptr, empty.get()), RET_INVALID_PARAMETER);
}

// The bands shown as red, green and blue for IREPBANDn codes ("-" for none).
TEST_F(Composition, BandSelection) {
  const char* const cases[][2] = {
      {"B G R", "2,1,0"}, {"R G", "0,1,0"},  {"M R G B", "1,2,3"}, {"Y Cb Cr", "0,1,2"},
      {"Y Cb", "0,1,1"},  {"M Cr", "1,1,1"}, {"M M M", "0,0,0"},   {"M LU LU", "1,1,1"},
      {"- - -", "0,1,2"}, {"- -", "0,1,1"},  {"R", "0,0,0"},       {"- - - -", "3,0,2"},
      {"- - -", "0,1,2"}};  // the last two: a remembered selection, whole or in part
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::vector<std::string> codes;
    std::istringstream in(cases[i][0]);
    for (std::string code; in >> code;) codes.push_back(code);
    auto record = nitf::create_imsubhdr(nullptr, 0);
    ASSERT_EQ(nitf::set_band_count(record.get(), std::int32_t(codes.size())), RET_SUCCESS);
    for (std::uint32_t b = 0; b < codes.size(); ++b)
      if (codes[b] != "-") nitf::set_band_representation(record.get(), b, codes[b].c_str());
    if (i == std::size(cases) - 2) record->selection = {3, 0, 2};
    if (i == std::size(cases) - 1) record->selection = {1, nitf::BandSelection::kNone, 2};
    nitf::BandSelection out{9, 9, 9};
    EXPECT_EQ(nitf::select_bands(*record, &out), RET_SUCCESS);
    EXPECT_EQ(
        std::to_string(out.red) + "," + std::to_string(out.green) + "," + std::to_string(out.blue),
        cases[i][1])
        << cases[i][0];
  }
}

// Bi-level decoders give the inverse of the NITF values: with a colour table, palette
// entries 0 and 1 take table entries 1 and 0, and the pad pixel code of C1 and M1 is
// inverted (the record keeping its own).
TEST_F(Composition, BilevelColours) {
  auto record = nitf::create_imsubhdr(nullptr, 0);
  ASSERT_TRUE(record->colours.entries.allocate(2));
  record->colours.entries[0] = {0, 0, 255, 0};  // NITF 0: red
  record->colours.entries[1] = {255, 0, 0, 0};  // NITF 1: blue
  OwnedBitmap decoded;
  kernel::create_bitmap(decoded.get(), kernel::kBitmapRecordSize, 1, 2, 1, 1,
                        kernel::kColourPalette, nullptr, kernel::kViewTopDown, nullptr, 0);
  nitf::apply_bilevel_colours(*record, decoded.get());
  EXPECT_EQ(kernel::colour_of_entry(decoded->palette[0]), 0xFF0000u);
  EXPECT_EQ(kernel::colour_of_entry(decoded->palette[1]), 0x0000FFu);
  std::uint8_t index = 9;
  EXPECT_FALSE(nitf::pad_pixel_index(*record, &index)) << "no pad pixel code";
  record->mask.tpxcdlnth = 1;
  ASSERT_TRUE(record->mask.pad_code.allocate(2));
  using nitf::CompressionCode;
  for (auto [compression, code, expected] :
       {std::tuple{CompressionCode::kC1, 0, 1}, std::tuple{CompressionCode::kM1, 1, 0},
        std::tuple{CompressionCode::kM1, 5, 0}, std::tuple{CompressionCode::kNM, 5, 5}}) {
    record->compression = compression;
    record->mask.pad_code[0] = std::uint8_t(code);
    EXPECT_TRUE(nitf::pad_pixel_index(*record, &index) && index == expected) << code;
  }
  EXPECT_EQ(record->mask.pad_code[0], 5);
}

// ----- Where graphics land -------------------------------------------------------------

// Every CGM graphic of the conformant samples, painted alone, keeps its ink inside the
// SBND rectangle its producer wrote (within antialiasing; producers estimate a text's
// width for a font of their own, so text may reach further right), and inside the canvas.
TEST_F(Composition, SampleInkInsideSbnd) {
  REQUIRE_SAMPLES();
  int checked = 0;
  for (const char* name : {"i_3051e.ntf", "i_3052a.ntf", "i_3060a.ntf", "i_3113g.ntf"}) {
    Parsed p = parse(sample(std::string("jitc/") + name));
    std::uint32_t width = 0, height = 0;
    ASSERT_EQ(nitf::canvas_size(p.document.get(), &width, &height), RET_SUCCESS) << name;
    for (std::uint32_t i = 0; i < p.document->graphics.size(); ++i) {
      const nitf::NitfGraphicSubheader& g = *p.document->graphics[i];
      if (g.salvl != 0) continue;  // attached graphics move with their parent
      Canvas canvas(std::int32_t(width), std::int32_t(height), 24, kernel::kViewTopDown,
                    0x123456);  // a colour no sample uses
      EXPECT_EQ(nitf::draw_graphic_segment(canvas.dc, p.document.get(), i, 0, 0), RET_SUCCESS);
      int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
      for (int y = 0; y < canvas.bitmap.height; ++y)
        for (int x = 0; x < canvas.bitmap.width; ++x)
          if (pixel_value(canvas.bitmap, x, y, 0) != 0x12 ||
              pixel_value(canvas.bitmap, x, y, 2) != 0x56)
            left = std::min(left, x), top = std::min(top, y), right = std::max(right, x),
            bottom = std::max(bottom, y);
      bool text = false;
      for (std::uint32_t o = 0; o < g.vector.objects.count; ++o)
        text |= g.vector.objects.begin()[o].kind == vector::ObjectKind::kText;
      SCOPED_TRACE(std::string(name) + " graphic " + std::to_string(i));
      constexpr int kSlack = 3;
      EXPECT_GE(right, 0) << "no ink";
      EXPECT_GE(top, g.sbnd1_first - kSlack);
      EXPECT_GE(left, g.sbnd1_second - kSlack);
      EXPECT_LE(bottom, g.sbnd2_first + kSlack);
      EXPECT_TRUE(text || right <= g.sbnd2_second + kSlack) << right;
      EXPECT_TRUE(bottom < int(height) && right < int(width));
      ++checked;
    }
  }
  EXPECT_GE(checked, 5);
}

// ----- The filter entry points ---------------------------------------------------------

// fltInfo's record, and the options it marks as read, as text.
std::string info_of(const fs::path& path, std::uint32_t flags = 0, std::uint32_t* width = nullptr) {
  const std::wstring name = wide(path);
  FltFileInfo record{};
  FltLoadOptions options{};
  options.flags = flags;
  FltInfoRequest request{};
  request.file_name = name.c_str();
  request.file_handle = -1;
  request.file_info = &record;
  request.load_options = &options;
  const int result = fltInfo(&request);
  if (width) *width = record.width;
  char out[160];
  std::snprintf(out, sizeof out, "%s: format %u, %u x %u x %u, %llu bytes, %u %u, flags %x",
                result == RET_SUCCESS ? "ok" : std::to_string(result).c_str(), record.format,
                record.width, record.height, record.bits_per_pixel,
                (unsigned long long)record.image_size_high << 32 | record.image_size_low,
                record.word_1100, record.word_1104, options.flags);
  return out;
}

// The canvas at 24 bits, rows rounded up to 4 bytes, a size beyond 4 GB in two words; the
// record is written only on success.
TEST_F(Composition, FilterInfo) {
  TempDir dir;
  ImageShape odd = grey_image(8, 1), huge = grey_image(5000, 1);
  odd.ncols = odd.nppbh = 1001;
  huge.nbpr = huge.nbpc = 8;  // 40000 x 40000 x 3 bytes: beyond the default allocation cap
  EXPECT_EQ(info_of(file_of(dir, {{odd, ""}})),
            "ok: format 248, 1001 x 8 x 24, 24032 bytes, 1 1, flags 80000001");
  const fs::path big = file_of(dir, {{huge, ""}});
  {
    AllocationCap cap(std::size_t{1} << 40);
    EXPECT_EQ(info_of(big),
              "ok: format 248, 40000 x 40000 x 24, 4800000000 bytes, 1 1, flags 80000001");
  }
  EXPECT_EQ(info_of(big),
            std::to_string(RET_NO_MEMORY) + ": format 0, 0 x 0 x 0, 0 bytes, 0 0, flags 80000001");
  EXPECT_EQ(info_of(big, KV_LOAD_FIXED_CANVAS),
            "ok: format 248, 2048 x 2048 x 24, 12582912 bytes, 1 1, flags 80040001");
  EXPECT_TRUE(
      info_of(dir.file("absent.ntf")).starts_with(std::to_string(RET_FILE_NOT_FOUND) + ":"));
  nitfgen::FileSpec old;
  old.fields["FVER"] = "02.00";
  EXPECT_TRUE(info_of(dir.write("old.ntf", nitfgen::build(old)))
                  .starts_with(std::to_string(RET_UNSUPPORTED_VERSION) + ":"));
  EXPECT_EQ(fltInfo(nullptr), RET_INVALID_PARAMETER);
  EXPECT_EQ(fltSave(nullptr), RET_NOT_SUPPORTED);
}

int32_t KV_CALL host_loader(const void* buffer, KvBitmap* bitmap, uint32_t size, int32_t bits,
                            int32_t order, uint32_t count, FltLoadOptions* options) {
  return fileformat::load_from_memory(buffer, reinterpret_cast<kernel::Bitmap*>(bitmap), size, bits,
                                      order, count, options);
}
FltRawDataCallback KV_CALL host_raw(FltRawDataCallback callback, void* user) {
  return fileformat::set_raw_data_callback(callback, user);
}

// What fltLoad hands the row callback (flags, number and count, and the row's bytes),
// which answers `answer` at row `stop_at`.
struct Loader {
  static constexpr int kContext = 0;
  std::vector<std::string> rows, calls;
  std::size_t row_bytes = 0;
  std::int32_t stop_at = -1, answer = 0;
  std::wstring name;
  FltTargetDescription target{};
  FltLoadOptions options{};
  FltLoadRequest request{};

  static int32_t KV_CALL on_row(void* context, FltTargetDescription* target, uint8_t* row,
                                int32_t flags, int32_t number, int32_t count, void* user) {
    auto* self = static_cast<Loader*>(user);
    self->rows.emplace_back(reinterpret_cast<const char*>(row), self->row_bytes);
    self->calls.push_back(std::to_string(flags) + " " + std::to_string(number) + " " +
                          std::to_string(count) +
                          (context == &kContext && target == &self->target ? "" : " elsewhere"));
    return number == self->stop_at ? self->answer : 1;
  }
  Loader(const fs::path& path, int bits, std::uint32_t flags = 0) : name(wide(path)) {
    std::uint32_t width = 0;
    info_of(path, flags, &width);
    row_bytes = (std::size_t{width} * bits + 31) / 32 * 4;
    target.bits_per_pixel = bits;
    options.flags = flags;
    request.file_name = name.c_str();
    request.target = &target;
    request.row_callback = on_row;
    request.user_data = this;
    request.callback_context = const_cast<int*>(&kContext);
    request.load_options = &options;
    request.load_from_memory = host_loader;
    request.set_raw_callback = host_raw;
    request.required = 1;
  }
  int load() { return fltLoad(&request); }
};

// Rows come top first, each once, flagged first and last; an answer other than 1 ends the
// load and is its result; the enhancement option brightens an image whose values all lie
// below 20; the request words the toolkit must give, a depth no canvas has and a segment
// that fails give a code and no row.
TEST_F(Composition, FilterLoad) {
  TempDir dir;
  ImageShape three = grey_image(4, 1);
  three.nrows = three.nppbv = 3;
  std::string pixels = std::string(4, 10) + std::string(4, 20) + std::string(4, 30);
  Loader l(file_of(dir, {{three, pixels}}), 24);
  ASSERT_EQ(l.load(), RET_SUCCESS);
  EXPECT_EQ(l.calls, (std::vector<std::string>{"7 0 1", "3 1 1", "11 2 1"}));
  for (int y = 0; y < 3; ++y) EXPECT_EQ(l.rows[y].substr(0, 12), std::string(12, 10 * (y + 1)));
  three.nrows = three.nppbv = 1;
  Loader one(file_of(dir, {{three, pixels.substr(0, 4)}}), 24);
  EXPECT_EQ(one.load(), RET_SUCCESS);
  EXPECT_EQ(one.calls, std::vector<std::string>{"15 0 1"});
  const fs::path text = file_of(dir, {}, with_text());
  Loader background(text, 24), stop(text, 24, KV_LOAD_FIXED_CANVAS),
      other(text, 24, KV_LOAD_FIXED_CANVAS), all(text, 8, KV_LOAD_FIXED_CANVAS);
  ASSERT_EQ(background.load(), RET_SUCCESS);
  EXPECT_EQ(background.rows.at(1).substr(0, 6), "\x33\x22\x11\x33\x22\x11");
  stop.stop_at = 4, other.answer = 7, other.stop_at = 0;
  EXPECT_EQ(stop.load(), 0);
  EXPECT_EQ(stop.rows.size(), 5u);
  EXPECT_EQ(other.load(), 7);
  EXPECT_EQ(other.rows.size(), 1u);
  EXPECT_EQ(all.load(), RET_SUCCESS);
  EXPECT_EQ(all.rows.size(), 2048u);
  for (int top : {19, 20}) {
    std::string dark(16, 4);
    dark[15] = char(top);
    const fs::path file = file_of(dir, {{grey_image(4, 1), dark}});
    for (bool enhance : {false, true}) {
      Loader l(file, 24, enhance ? KV_LOAD_ENHANCE : 0);
      ASSERT_EQ(l.load(), RET_SUCCESS);
      EXPECT_EQ(std::uint8_t(l.rows.at(3)[9]), enhance && top < 20 ? 255 : top);
    }
  }
  for (int missing = 0; missing < 3; ++missing) {
    Loader l(text, 24);
    if (missing == 0) l.request.load_from_memory = nullptr;
    if (missing == 1) l.request.set_raw_callback = nullptr;
    if (missing == 2) l.request.required = 0;
    EXPECT_EQ(l.load(), RET_FILE_FORMAT) << "word " << missing;
    EXPECT_EQ(l.options.flags, 0u) << "refused before the options are read";
  }
  ImageShape jpeg = grey_image(8, 1);
  jpeg.ic = "C3", jpeg.comrat = "00.0";
  Loader absent(dir.file("absent.ntf"), 24), odd(text, 7);
  Loader failing(file_of(dir, {{jpeg, "not a JPEG stream"}}), 24);
  EXPECT_EQ(absent.load(), RET_FILE_NOT_FOUND);
  EXPECT_EQ(odd.load(), RET_INVALID_PARAMETER);
  EXPECT_LT(failing.load(), RET_SUCCESS);
  EXPECT_TRUE(odd.rows.empty() && failing.rows.empty());
  EXPECT_EQ(fltLoad(nullptr), RET_INVALID_PARAMETER);
}

// ----- The short ways give the plain way's rows ----------------------------------------

// Kv_NitfDrawObjects on a canvas made as the composition makes its own: the result and
// the rows, top first.
std::pair<int, std::vector<std::string>> plain(const fs::path& path, int bits) {
  Parsed p = parse(path);
  std::uint32_t width = 0, height = 0;
  const int r =
      p.result < RET_SUCCESS ? p.result : GetActual_Width_Height(p.document.get(), &width, &height);
  if (r != RET_SUCCESS) return {r, {}};
  Canvas canvas(std::int32_t(width), std::int32_t(height), bits, kernel::kViewBottomUp,
                p.document->background);
  std::pair<int, std::vector<std::string>> out;
  out.first = Kv_NitfDrawObjects(nullptr, reinterpret_cast<KvDrawingContext*>(canvas.dc), nullptr,
                                 p.document.get());
  const kernel::Bitmap& b = canvas.bitmap;
  for (std::int32_t y = 0; out.first == RET_SUCCESS && y < b.height; ++y)
    out.second.emplace_back(reinterpret_cast<const char*>(kernel::storage_row(b, b.height - 1 - y)),
                            std::size_t(b.bytes_per_line));
  return out;
}

void expect_same_rows(const fs::path& path, const std::string& what,
                      std::initializer_list<int> depths = {8, 24, 32}) {
  for (int bits : depths) {
    Loader l(path, bits);
    const int result = l.load();
    const auto [plain_result, rows] = plain(path, bits);
    EXPECT_EQ(result, plain_result) << what << ", " << bits << " bits";
    if (result != RET_SUCCESS || plain_result != RET_SUCCESS) continue;
    ASSERT_EQ(l.rows.size(), rows.size()) << what;
    std::size_t differing = 0;
    for (std::size_t y = 0; y < rows.size(); ++y) differing += l.rows[y] != rows[y];
    EXPECT_EQ(differing, 0u) << what << ", " << bits << " bits: rows that differ";
  }
}

// A picture that is neither flat nor noise.
std::uint32_t value_at(int x, int y, int band) {
  return std::uint32_t((x * 7 + y * 13) ^ (band * 85) ^ (x * y)) & 0xFF;
}

// An uncompressed image of per_row x per_column blocks (R, G, B for three bands), only the
// blocks in `order` stored behind a mask (empty: all, no mask), samples of value_at
// widened to NBPP.
std::pair<ImageShape, std::string> layout(int per_row, int per_column, int width, int height,
                                          int bands, const std::string& imode = "B", int nbpp = 8,
                                          std::vector<int> order = {}) {
  ImageShape s;
  s.nbpr = per_row, s.nbpc = per_column, s.nppbh = width, s.nppbv = height, s.imode = imode;
  s.ncols = per_row * width, s.nrows = per_column * height;
  s.nbpp = nbpp, s.abpp = nbpp == 16 ? 11 : nbpp;
  if (bands == 3) s.irep = "RGB", s.bands = {BandSpec{"R"}, BandSpec{"G"}, BandSpec{"B"}};
  const nitfgen::Pixels p = nitfgen::image_pixels(
      s, [](int b, int x, int y) { return value_at(x, y, b) * 0x0101u; }, order);
  if (!order.empty()) s.ic = "NM", s.mask = nitfgen::block_mask(p.offsets);
  return {s, p.bytes};
}

// The same as C3, one JPEG stream a block.
std::pair<ImageShape, std::string> jpeg(int blocks, int bands) {
  auto s = layout(blocks, blocks, 24, 16, bands, bands == 3 ? "P" : "B");
  s.first.ic = "C3", s.first.comrat = "00.0", s.second.clear();
  for (int k = 0; k < blocks * blocks; ++k)
    s.second += nitfgen::jpeg_stream(24, 16, bands, 90, [=](int x, int y) {
      x += k % blocks * 24, y += k / blocks * 16;
      return bands == 1 ? value_at(x, y, 0)
                        : value_at(x, y, 0) << 16 | value_at(x, y, 1) << 8 | value_at(x, y, 2);
    });
  return s;
}

TEST(RenderPaths, Generated) {
  std::vector<std::pair<std::string, Images>> files = {
      {"mono one block", {layout(1, 1, 37, 21, 1)}},
      {"16-bit blocks", {layout(2, 3, 9, 5, 1, "B", 16)}},
      {"16-bit one block", {layout(1, 1, 23, 9, 1, "B", 16)}},
      {"16-bit masked", {layout(3, 2, 8, 6, 1, "B", 16, {0, 1, 3, 5})}},
      {"12-bit blocks", {layout(3, 2, 5, 4, 1, "B", 12)}},  // odd width: blocks start mid-byte
      {"masked", {layout(3, 2, 8, 6, 1, "B", 8, {0, 1, 3, 5})}},
      {"C3 blocks", {jpeg(2, 3)}},  // each decoded into a bitmap of its own
      {"C3 mono", {jpeg(1, 1)}},    // one stream: straight into the canvas
      {"C3 RGB", {jpeg(1, 3)}}};
  for (const char* imode : {"B", "P", "R", "S"})
    files.push_back({std::string("RGB IMODE ") + imode, {layout(3, 2, 12, 7, 3, imode)}});
  auto lut = layout(1, 1, 10, 10, 1);  // a colour table: not the canvas's palette
  lut.first.irep = "RGB/LUT", lut.first.bands = {BandSpec{"LU"}};
  lut.first.bands[0].luts.assign(3, std::string(256, 0));
  for (auto& table : lut.first.bands[0].luts)
    for (int i = 0; i < 256; ++i) table[i] = char(255 - i);
  auto under = layout(2, 2, 10, 10, 1), over = layout(1, 1, 6, 6, 1), small = over;
  auto big = layout(1, 1, 12, 9, 3);
  over.first.idlvl = big.first.idlvl = 2, over.first.iloc_row = 3, over.first.iloc_column = 4;
  files.push_back({"colour table", {lut}});
  files.push_back({"image over image", {under, over}});
  files.push_back({"first image does not cover", {small, big}});
  TempDir dir;
  for (const std::string& background : {std::string(3, 0), std::string("\x11\x22\x33")})
    for (const auto& [what, images] : files)
      expect_same_rows(file_of(dir, images, {}, background),
                       what + ", background " + std::to_string(background[0]));
}

TEST(RenderPaths, Samples) {
  REQUIRE_SAMPLES();
  // One depth: the samples are many, and the depths are covered above.
  for (const fs::path& path : all_samples()) expect_same_rows(path, path.filename().string(), {24});
}

}  // namespace
