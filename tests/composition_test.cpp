// The composition: draw order, attachment chains, the canvas size, and what the drawing
// of image segments puts on the canvas (band selection, bi-level colours, pad pixels,
// brightening). Files are built by nitfgen with uniform grey images whose values tell
// which segment shows at a canvas pixel; the expected placements are worked out by hand
// from ILOC, IALVL and the block grids, never taken from the code under test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/utility_canvas.h"
#include "image/data/imgmodes.h"
#include "image/handlimg.h"
#include "nitfgen_image.h"
#include "nitfgen_segments.h"
#include "testing.h"
#include "vector/drawing.h"

namespace {

using namespace testing_support;
using nitf::BandSelection;
using nitf::DrawList;
using nitfgen::BandSpec;
using nitfgen::ImageSpec;

using CompositionOrder = LeakChecked;
using CompositionAttachment = LeakChecked;
using CompositionCanvas = LeakChecked;
using CompositionDrawing = LeakChecked;
using CompositionBands = LeakChecked;
using CompositionPixels = LeakChecked;

// A square 8-bit grey image of one block.
ImageSpec grey_image(int size, int level, int attached_to, int row, int column) {
  ImageSpec s;
  s.nrows = s.ncols = size;
  s.nppbh = s.nppbv = size;
  s.idlvl = level;
  s.ialvl = attached_to;
  s.iloc_row = row;
  s.iloc_column = column;
  return s;
}

std::string uniform(int size, std::uint8_t value) {
  return std::string(static_cast<std::size_t>(size) * size, static_cast<char>(value));
}

struct Image {
  ImageSpec layout;
  std::string pixels;
};

fs::path file_of(const TempDir& dir, const std::vector<Image>& images,
                 nitfgen::FileSpec file = {}) {
  for (const Image& i : images) file.images.push_back(nitfgen::image_segment(i.layout, i.pixels));
  file.fields["FBKGC"] = std::string("\x11\x22\x33", 3);
  return dir.write("composed.ntf", nitfgen::build(file));
}

Parsed parsed(const fs::path& path) {
  Parsed p = parse(path);
  EXPECT_EQ(p.result, RET_SUCCESS);
  return p;
}

std::vector<std::uint32_t> drawn_indices(const NitfDocument& d) {
  DrawList list;
  EXPECT_EQ(nitf::build_draw_list(d, &list), RET_SUCCESS);
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < list.entries.size(); ++i) out.push_back(list.entries[i].index);
  return out;
}

std::pair<std::int64_t, std::int64_t> offset_of(const NitfDocument& d, std::uint32_t image) {
  nitf::DrawEntry entry{0, d.images[image]->display_level, image};
  std::int64_t row = 0, column = 0;
  nitf::attachment_offset(d, entry, &row, &column);
  return {row, column};
}

std::pair<std::uint32_t, std::uint32_t> size_of(NitfDocument* d, int* result) {
  std::uint32_t width = 0, height = 0;
  *result = nitf::canvas_size(d, &width, &height);
  return {width, height};
}

// Collects debug lines while alive.
class DebugCapture {
 public:
  DebugCapture() {
    kernel::set_debug_sink(
        [](void* self, const char* text) { static_cast<DebugCapture*>(self)->text_ += text; },
        this);
  }
  ~DebugCapture() { kernel::set_debug_sink(nullptr, nullptr); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

constexpr std::uint32_t grey(std::uint32_t v) {
  return v | v << 8 | v << 16;
}
constexpr std::uint32_t kBackground = 0x332211;

void render(NitfDocument* d, Rendered* out) {
  out->result = Kv_NtfRenderBitmap(&out->bitmap, d);
}

// ----- Draw order -------------------------------------------------------------------

TEST_F(CompositionOrder, LowestDisplayLevelIsDrawnFirst) {
  TempDir dir;
  // Levels 5, 1, 3 in file order; the smaller images lie on the larger ones' corners.
  Parsed p = parsed(file_of(dir, {{grey_image(8, 5, 0, 0, 0), uniform(8, 50)},
                                  {grey_image(16, 1, 0, 0, 0), uniform(16, 100)},
                                  {grey_image(12, 3, 0, 0, 0), uniform(12, 150)}}));
  EXPECT_EQ(drawn_indices(*p.document), (std::vector<std::uint32_t>{1, 2, 0}));
  Rendered r;
  render(p.document.get(), &r);
  ASSERT_EQ(r.result, RET_SUCCESS);
  EXPECT_EQ(r.at(2, 2), grey(50)) << "level 5 on top of everything";
  EXPECT_EQ(r.at(10, 10), grey(150)) << "level 3 over level 1";
  EXPECT_EQ(r.at(14, 14), grey(100));
}

TEST_F(CompositionOrder, EqualLevelsFollowTheExchangeSort) {
  TempDir dir;
  // Levels 2, 2, 1 in A, B, C: the exchange sort gives C, B, A, so A ends on top (a
  // stable sort would give C, A, B and show B).
  Parsed p = parsed(file_of(dir, {{grey_image(8, 2, 0, 0, 0), uniform(8, 10)},
                                  {grey_image(8, 2, 0, 0, 0), uniform(8, 20)},
                                  {grey_image(8, 1, 0, 0, 0), uniform(8, 30)}}));
  EXPECT_EQ(drawn_indices(*p.document), (std::vector<std::uint32_t>{2, 1, 0}));
  Rendered r;
  render(p.document.get(), &r);
  ASSERT_EQ(r.result, RET_SUCCESS);
  EXPECT_EQ(r.at(4, 4), grey(10));

  // Levels 3, 1, 2, 1 in A, B, C, D end as B, D, C, A.
  Parsed q = parsed(file_of(dir, {{grey_image(8, 3, 0, 0, 0), ""},
                                  {grey_image(8, 1, 0, 0, 0), ""},
                                  {grey_image(8, 2, 0, 0, 0), ""},
                                  {grey_image(8, 1, 0, 0, 0), ""}}));
  EXPECT_EQ(drawn_indices(*q.document), (std::vector<std::uint32_t>{1, 3, 2, 0}));
}

TEST_F(CompositionOrder, ImagesThenGraphicsAndNothingForText) {
  TempDir dir;
  nitfgen::FileSpec file;
  nitfgen::GraphicSpec g;
  g.fields["SDLVL"] = "1";
  file.graphics.push_back({nitfgen::graphic_subheader(g), ""});
  file.texts.push_back({nitfgen::text_subheader(), "text"});
  Parsed p = parsed(file_of(dir, {{grey_image(8, 1, 0, 0, 0), ""}}, file));
  DrawList list;
  ASSERT_EQ(nitf::build_draw_list(*p.document, &list), RET_SUCCESS);
  ASSERT_EQ(list.entries.size(), 2u) << "one image, one graphic; the text is not drawn";
  EXPECT_EQ(list.entries[0].kind, 0);
  EXPECT_EQ(list.entries[1].kind, 2) << "the image comes first among equal levels";
  EXPECT_EQ(list.entries[1].index, 0u);

  Parsed texts = parsed(dir.write("t.ntf", nitfgen::build([] {
                                    nitfgen::FileSpec f;
                                    f.texts.push_back({nitfgen::text_subheader(), "only text"});
                                    return f;
                                  }())));
  ASSERT_EQ(nitf::build_draw_list(*texts.document, &list), RET_SUCCESS);
  EXPECT_TRUE(list.entries.empty());
}

// ----- Attachment ------------------------------------------------------------------

TEST_F(CompositionAttachment, ChainsAddUp) {
  TempDir dir;
  // C (level 3) is attached to B (level 2), which is attached to A (level 1).
  Parsed p = parsed(file_of(dir, {{grey_image(8, 1, 0, 10, 20), uniform(8, 40)},
                                  {grey_image(8, 2, 1, 100, 200), uniform(8, 80)},
                                  {grey_image(8, 3, 2, 5, 7), uniform(8, 120)}}));
  const NitfDocument& d = *p.document;
  EXPECT_EQ(offset_of(d, 0), std::make_pair(std::int64_t{0}, std::int64_t{0}));
  EXPECT_EQ(offset_of(d, 1), std::make_pair(std::int64_t{10}, std::int64_t{20}));
  EXPECT_EQ(offset_of(d, 2), std::make_pair(std::int64_t{110}, std::int64_t{220}));

  int result = 0;
  // C lands at row 115, column 227: its block grid ends at 123 x 235.
  EXPECT_EQ(size_of(p.document.get(), &result), std::make_pair(235u, 123u));
  EXPECT_EQ(result, RET_SUCCESS);
  Rendered r;
  render(p.document.get(), &r);
  ASSERT_EQ(r.result, RET_SUCCESS);
  EXPECT_EQ(r.at(227, 115), grey(120));
  EXPECT_EQ(r.at(234, 122), grey(120));
  EXPECT_EQ(r.at(226, 119), kBackground) << "beside C, below B";
  EXPECT_EQ(r.at(220, 110), grey(80)) << "B at its own ILOC plus A's";
  EXPECT_EQ(r.at(20, 10), grey(40));
}

TEST_F(CompositionAttachment, CyclesEnd) {
  TempDir dir;
  // A attached to itself; B and C attached to each other; D, E, F in a ring of three.
  Parsed p = parsed(file_of(dir, {{grey_image(8, 1, 1, 3, 4), ""},
                                  {grey_image(8, 2, 3, 10, 20), ""},
                                  {grey_image(8, 3, 2, 30, 40), ""},
                                  {grey_image(8, 4, 5, 1, 1), ""},
                                  {grey_image(8, 5, 6, 2, 2), ""},
                                  {grey_image(8, 6, 4, 4, 4), ""}}));
  const NitfDocument& d = *p.document;
  EXPECT_EQ(offset_of(d, 0), std::make_pair(std::int64_t{0}, std::int64_t{0}))
      << "a segment attached to itself is not moved by itself";
  EXPECT_EQ(offset_of(d, 1), std::make_pair(std::int64_t{30}, std::int64_t{40}));
  EXPECT_EQ(offset_of(d, 2), std::make_pair(std::int64_t{10}, std::int64_t{20}));
  EXPECT_EQ(offset_of(d, 3), std::make_pair(std::int64_t{6}, std::int64_t{6})) << "E then F";
  int result = 0;
  EXPECT_EQ(size_of(p.document.get(), &result), std::make_pair(68u, 48u));
  EXPECT_EQ(result, RET_SUCCESS);
}

TEST_F(CompositionAttachment, ThroughGraphicsAndToMissingLevels) {
  TempDir dir;
  nitfgen::FileSpec file;
  nitfgen::GraphicSpec g;
  g.fields["SDLVL"] = "4";
  g.fields["SALVL"] = "1";
  g.fields["SLOC"] = nitfgen::placement(3, 9);
  file.graphics.push_back({nitfgen::graphic_subheader(g), ""});
  // Image 1 is attached to the graphic, which is attached to image 0; image 2 names a
  // level nobody shows.
  Parsed p = parsed(file_of(dir,
                            {{grey_image(8, 1, 0, 50, 60), ""},
                             {grey_image(8, 2, 4, 1, 1), ""},
                             {grey_image(8, 3, 77, 1, 1), ""}},
                            file));
  EXPECT_EQ(offset_of(*p.document, 1), std::make_pair(std::int64_t{53}, std::int64_t{69}));
  EXPECT_EQ(offset_of(*p.document, 2), std::make_pair(std::int64_t{0}, std::int64_t{0}));
}

// ----- Canvas size ------------------------------------------------------------------

TEST_F(CompositionCanvas, BlockGridWithPaddingAndTheLargestExtent) {
  TempDir dir;
  ImageSpec padded = grey_image(512, 1, 0, 0, 0);
  padded.ncols = 1000;
  padded.nrows = 500;
  padded.nbpr = 2;  // 2 x 512 columns
  Parsed p = parsed(file_of(dir, {{padded, ""}}));
  int result = 0;
  EXPECT_EQ(size_of(p.document.get(), &result), std::make_pair(1024u, 512u));
  EXPECT_EQ(result, RET_SUCCESS);

  // The widest and the tallest extent need not come from one image.
  Parsed two =
      parsed(file_of(dir, {{grey_image(8, 1, 0, 0, 300), ""}, {grey_image(8, 2, 0, 400, 0), ""}}));
  EXPECT_EQ(size_of(two.document.get(), &result), std::make_pair(308u, 408u));
}

TEST_F(CompositionCanvas, DefaultsFixedCanvasAndTextOnly) {
  int result = 0;
  auto empty = kernel::make_tracked<NitfDocument>();
  EXPECT_EQ(size_of(empty.get(), &result), std::make_pair(2048u, 2048u)) << "nothing at all";
  EXPECT_EQ(result, RET_SUCCESS);

  TempDir dir;
  nitfgen::FileSpec texts;
  texts.texts.push_back({nitfgen::text_subheader(), "a text"});
  Parsed t = parsed(file_of(dir, {}, texts));
  EXPECT_EQ(size_of(t.document.get(), &result), std::make_pair(2u, 2u));

  Parsed fixed = parsed(file_of(dir, {{grey_image(8, 1, 0, 3000, 3000), ""}}));
  fixed.document->fixed_canvas = 1;
  EXPECT_EQ(size_of(fixed.document.get(), &result), std::make_pair(2048u, 2048u));

  // An image whose extent is 0 in both directions counts as no extent.
  Parsed none = parsed(file_of(dir, {{grey_image(8, 1, 0, -8, -8), ""}}));
  EXPECT_EQ(size_of(none.document.get(), &result), std::make_pair(2048u, 2048u));
  EXPECT_EQ(result, RET_SUCCESS);

  REQUIRE_SAMPLES();
  Parsed blank = parsed(sample("misc/test_blank.ntf"));
  EXPECT_EQ(size_of(blank.document.get(), &result), std::make_pair(2048u, 2048u));
}

TEST_F(CompositionCanvas, GeometryNoCanvasCanHaveIsRefused) {
  TempDir dir;
  int result = 0;
  Parsed left = parsed(file_of(dir, {{grey_image(8, 1, 0, 0, -100), ""}}));
  size_of(left.document.get(), &result);
  EXPECT_EQ(result, RET_FILE_FORMAT) << "wholly left of the origin";

  Parsed flat = parsed(file_of(dir, {{grey_image(8, 1, 0, 0, -8), ""}}));
  size_of(flat.document.get(), &result);
  EXPECT_EQ(result, RET_FILE_FORMAT) << "no width but a height";

  // Sides computed in 32 bits would wrap to a small canvas here.
  Parsed wide = parsed(file_of(dir, {{grey_image(8, 1, 0, 0, 0), ""}}));
  wide.document->images[0]->block_width = 0x7FFFFFFF;
  wide.document->images[0]->blocks_per_row = 2;
  size_of(wide.document.get(), &result);
  EXPECT_EQ(result, RET_NO_MEMORY);
  wide.document->images[0]->block_width = -4;
  size_of(wide.document.get(), &result);
  EXPECT_EQ(result, RET_FILE_FORMAT);

  Parsed big = parsed(file_of(dir, {{grey_image(64, 1, 0, 0, 0), ""}}));
  kernel::set_allocation_cap(64 * 64 * 3 - 1);
  std::uint32_t width = 7, height = 7;
  result = nitf::canvas_size(big.document.get(), &width, &height);
  kernel::set_allocation_cap(0);
  EXPECT_EQ(result, RET_NO_MEMORY) << "a canvas beyond the allocation cap";
  EXPECT_EQ(width, 7u) << "sizes are written only on success";
}

// A bitmap symbol (SFMT B) has no size in a NITF 2.1 subheader: it cannot be drawn.
TEST_F(CompositionCanvas, BitmapSymbolGraphicsAreRefused) {
  TempDir dir;
  nitfgen::FileSpec file;
  nitfgen::GraphicSpec g;
  g.fields["SDLVL"] = "2";
  g.fields["SFMT"] = "B";
  file.graphics.push_back({nitfgen::graphic_subheader(g), ""});
  Parsed p = parsed(file_of(dir, {{grey_image(8, 1, 0, 0, 0), uniform(8, 9)}}, file));
  DebugCapture debug;
  int result = 0;
  size_of(p.document.get(), &result);
  EXPECT_EQ(result, RET_NOT_SUPPORTED);
  EXPECT_NE(debug.text().find("graphic segment 0"), std::string::npos) << debug.text();

  Rendered r;
  render(p.document.get(), &r);
  EXPECT_EQ(r.result, RET_NOT_SUPPORTED);
  EXPECT_EQ(r.bitmap.data, nullptr) << "no half-drawn picture is handed out";
}

// Real graphics are painted over the images, in display-level order, where SLOC puts
// them: i_3113g's red text and arrow lie inside their bounds.
TEST_F(CompositionCanvas, RealGraphicsArePaintedAtTheirPlace) {
  REQUIRE_SAMPLES();
  Parsed p = parse(sample("jitc/i_3113g.ntf"));
  ASSERT_EQ(p.result, RET_SUCCESS);
  Rendered r;
  render(p.document.get(), &r);
  ASSERT_EQ(r.result, RET_SUCCESS);
  ASSERT_EQ(r.bitmap.width, 1023);
  const auto& canvas = reinterpret_cast<const kernel::Bitmap&>(r.bitmap);
  int red = 0;
  for (int y = 0; y < canvas.height; ++y) {
    const std::uint8_t* row = kernel::storage_row(canvas, kernel::top_down_row(canvas, y));
    for (int x = 0; x < canvas.width; ++x) {
      const std::uint8_t* px = row + 3 * x;
      if (px[2] > 180 && px[1] < 80 && px[0] < 80) {
        ++red;
        EXPECT_GE(y, 500) << "red ink only below row 500, where both graphics lie";
        EXPECT_LE(y, 700);
      }
    }
  }
  EXPECT_GT(red, 200) << "the text and the arrow are drawn";
}

TEST_F(CompositionCanvas, VectorHandleOfAGraphic) {
  REQUIRE_SAMPLES();
  NitfDocument* doc = nullptr;
  ASSERT_EQ(Kv_NITFCreateA(&doc, sample("jitc/i_3113g.ntf").c_str()), RET_SUCCESS);
  ASSERT_EQ(Kv_NITFGetGraphicHeaderCount(doc), 2);
  void* first = Kv_NITFGetVectorHandle(doc, 0);
  ASSERT_NE(first, nullptr);
  auto* drawing = static_cast<const vector::Drawing*>(first);
  EXPECT_FALSE(vector::is_empty(drawing));
  std::uint32_t objects = drawing->objects.count;
  EXPECT_EQ(Kv_NITFGetVectorHandle(doc, 0), first) << "the handle heads the record";
  EXPECT_EQ(drawing->objects.count, objects) << "drawing twice gives the same content";
  EXPECT_EQ(Kv_NITFGetVectorHandle(doc, 2), nullptr) << "index equal to the count";
  EXPECT_EQ(Kv_NITFGetVectorHandle(doc, -1), nullptr);
  EXPECT_EQ(Kv_NITFGetVectorHandle(nullptr, 0), nullptr);
  Kv_NITFDestroy(&doc);
}

TEST_F(CompositionCanvas, ExportChecksItsArguments) {
  std::uint32_t width = 0, height = 0;
  EXPECT_EQ(GetActual_Width_Height(nullptr, &width, &height), RET_INVALID_DOCUMENT);
  auto empty = kernel::make_tracked<NitfDocument>();
  EXPECT_EQ(GetActual_Width_Height(empty.get(), nullptr, &height), RET_BAD_ARGUMENT);
  EXPECT_EQ(GetActual_Width_Height(empty.get(), &width, &height), RET_SUCCESS);
  EXPECT_EQ(width, 2048u);
  EXPECT_EQ(Kv_NtfRenderBitmap(nullptr, empty.get()), RET_INVALID_PARAMETER);
  KvBitmap bitmap{};
  EXPECT_EQ(Kv_NtfRenderBitmap(&bitmap, nullptr), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NitfDrawObjects(nullptr, nullptr, nullptr, empty.get()), RET_INVALID_PARAMETER);
}

// ----- Drawing ----------------------------------------------------------------------

TEST_F(CompositionDrawing, RenderedCanvasOfARealImageIsTheImage) {
  REQUIRE_SAMPLES();
  Parsed p = parsed(sample("jitc/i_3004g.ntf"));
  Rendered r;
  render(p.document.get(), &r);
  ASSERT_EQ(r.result, RET_SUCCESS);
  kernel::Bitmap& canvas = *r.canvas();
  EXPECT_EQ(canvas.bits_per_pixel, 24);
  EXPECT_EQ(canvas.view_code, kernel::kViewBottomUp);
  ASSERT_EQ(canvas.width, 512);
  ASSERT_EQ(canvas.height, 512);

  kernel::Bitmap image;
  ASSERT_EQ(nitf::read_image(p.document.get(), 0, &image, nullptr), RET_SUCCESS);
  ASSERT_EQ(image.bits_per_pixel, 8);
  int differing = 0;
  for (int y = 0; y < 512; ++y) {
    const std::uint8_t* row = kernel::storage_row(image, kernel::top_down_row(image, y));
    for (int x = 0; x < 512; ++x) differing += r.at(x, y) != grey(row[x]);
  }
  kernel::free_bitmap(&image);
  EXPECT_EQ(differing, 0);
}

TEST_F(CompositionDrawing, BackgroundWhereNoSegmentLies) {
  TempDir dir;
  Parsed p = parsed(file_of(dir, {{grey_image(4, 1, 0, 4, 4), uniform(4, 200)}}));
  Rendered r;
  render(p.document.get(), &r);
  ASSERT_EQ(r.result, RET_SUCCESS);
  EXPECT_EQ(r.at(0, 0), kBackground);
  EXPECT_EQ(r.at(3, 7), kBackground);
  EXPECT_EQ(r.at(4, 4), grey(200));
  EXPECT_EQ(r.at(7, 7), grey(200));

  // Rendering again into the same record replaces the canvas.
  render(p.document.get(), &r);
  EXPECT_EQ(r.result, RET_SUCCESS);
}

TEST_F(CompositionDrawing, PadPixelsShowWhatLiesBelow) {
  TempDir dir;
  ImageSpec padded = grey_image(4, 2, 0, 0, 0);
  padded.ic = "NM";
  padded.mask = nitfgen::MaskSpec{};
  padded.mask->tpxcdlnth = 8;
  padded.mask->tpxcd = std::string(1, '\x07');
  std::string pixels = uniform(4, 90);
  pixels[0] = pixels[5] = 7;  // pad pixels at (0, 0) and (1, 1)
  Parsed p = parsed(file_of(dir, {{grey_image(4, 1, 0, 0, 0), uniform(4, 230)}, {padded, pixels}}));
  Rendered r;
  render(p.document.get(), &r);
  ASSERT_EQ(r.result, RET_SUCCESS);
  EXPECT_EQ(r.at(0, 0), grey(230)) << "the pad pixel leaves the image below showing";
  EXPECT_EQ(r.at(1, 1), grey(230));
  EXPECT_EQ(r.at(1, 0), grey(90));
}

TEST_F(CompositionDrawing, EnhancementBrightensOnlyPicturesBelowTwenty) {
  TempDir dir;
  std::string dark = uniform(4, 5);
  dark[3] = 19;
  std::string almost = dark;
  almost[7] = 20;
  for (const auto& [pixels, brightened] :
       {std::make_pair(dark, true), std::make_pair(almost, false)}) {
    Parsed p = parsed(file_of(dir, {{grey_image(4, 1, 0, 0, 0), pixels}}));
    for (int option : {0, 1}) {
      p.document->enhancement = option;
      Rendered r;
      render(p.document.get(), &r);
      ASSERT_EQ(r.result, RET_SUCCESS);
      bool changed = r.at(3, 0) != grey(19);
      EXPECT_EQ(changed, option && brightened) << "option " << option;
      if (changed) {
        EXPECT_EQ(r.at(3, 0), grey(255)) << "the brightest value takes full scale";
      }
    }
  }
}

TEST_F(CompositionDrawing, FailingImageStopsTheDrawing) {
  TempDir dir;
  ImageSpec jpeg = grey_image(8, 2, 0, 0, 0);
  jpeg.ic = "C3";
  jpeg.comrat = "00.0";
  Parsed p = parsed(file_of(dir, {{grey_image(8, 1, 0, 0, 0), uniform(8, 1)}, {jpeg, "junk"}}));
  Rendered r;
  render(p.document.get(), &r);
  EXPECT_LT(r.result, RET_SUCCESS);
  EXPECT_EQ(r.bitmap.data, nullptr);
}

// ----- Band selection ---------------------------------------------------------------

// The selection for bands with these IREPBANDn codes ("" for none), as "red,green,blue".
std::string selected(const std::vector<const char*>& codes, BandSelection kept = {}) {
  auto record = nitf::create_imsubhdr(nullptr, 0);
  EXPECT_EQ(nitf::set_band_count(record.get(), static_cast<std::int32_t>(codes.size())),
            RET_SUCCESS);
  for (std::uint32_t b = 0; b < codes.size(); ++b)
    if (*codes[b]) {
      EXPECT_EQ(nitf::set_band_representation(record.get(), b, codes[b]), RET_SUCCESS);
    }
  record->selection = kept;
  BandSelection out{9, 9, 9};
  EXPECT_EQ(nitf::select_bands(*record, &out), RET_SUCCESS);
  nitf::release_imsubhdr(record.get());
  return std::to_string(out.red) + "," + std::to_string(out.green) + "," + std::to_string(out.blue);
}

TEST_F(CompositionBands, ColoursLuminanceLutsAndDefaults) {
  EXPECT_EQ(selected({"B", "G", "R"}), "2,1,0");
  EXPECT_EQ(selected({"R", "G"}), "0,1,0");
  EXPECT_EQ(selected({"M", "R", "G", "B"}), "1,2,3");
  EXPECT_EQ(selected({"Y", "Cb", "Cr"}), "0,1,2");
  EXPECT_EQ(selected({"Y", "Cb"}), "0,1,1") << "blue is the last band";
  EXPECT_EQ(selected({"M", "Cr"}), "1,1,1") << "red and green missing: the last band";
  EXPECT_EQ(selected({"M", "M", "M"}), "0,0,0");
  EXPECT_EQ(selected({"M", "LU", "LU"}), "1,1,1") << "LU before M";
  EXPECT_EQ(selected({"", "", ""}), "0,1,2");
  EXPECT_EQ(selected({"", "", "", ""}, BandSelection{3, 0, 2}), "3,0,2") << "remembered";
  EXPECT_EQ(selected({"", "", ""}, BandSelection{1, BandSelection::kNone, 2}), "0,1,2")
      << "a partly remembered selection is none";
  EXPECT_EQ(selected({"", ""}), "0,1,1") << "never an index past the bands";
  EXPECT_EQ(selected({"R"}), "0,0,0");
}

// ----- Bi-level colours, pad codes, brightening -------------------------------------

TEST_F(CompositionPixels, BilevelColourTableIsSwappedAndThePadCodeInverted) {
  auto record = nitf::create_imsubhdr(nullptr, 0);
  ASSERT_TRUE(record->colours.entries.allocate(2));
  record->colours.entries[0] = {0, 0, 255, 0};  // NITF 0: red
  record->colours.entries[1] = {255, 0, 0, 0};  // NITF 1: blue
  kernel::Bitmap decoded;
  ASSERT_EQ(
      kernel::create_bitmap(&decoded, kernel::kBitmapRecordSize, 1, 2, 1, 1, kernel::kColourPalette,
                            nullptr, kernel::kViewTopDown, nullptr, 0),
      RET_SUCCESS);
  nitf::apply_bilevel_colours(*record, &decoded);
  EXPECT_EQ(kernel::colour_of_entry(decoded.palette[0]), 0xFF0000u)
      << "the decoder's 0 is the NITF 1";
  EXPECT_EQ(kernel::colour_of_entry(decoded.palette[1]), 0x0000FFu);
  kernel::free_bitmap(&decoded);

  std::uint8_t index = 9;
  EXPECT_FALSE(nitf::pad_pixel_index(*record, &index)) << "no pad pixel code";
  record->mask.tpxcdlnth = 1;
  ASSERT_TRUE(record->mask.pad_code.allocate(2));
  for (auto [compression, code, expected] :
       {std::tuple{nitf::CompressionCode::kC1, 0, 1}, std::tuple{nitf::CompressionCode::kM1, 1, 0},
        std::tuple{nitf::CompressionCode::kM1, 5, 0},
        std::tuple{nitf::CompressionCode::kNM, 5, 5}}) {
    record->compression = compression;
    record->mask.pad_code[0] = static_cast<std::uint8_t>(code);
    ASSERT_TRUE(nitf::pad_pixel_index(*record, &index));
    EXPECT_EQ(index, expected) << "code " << code;
  }
  EXPECT_EQ(record->mask.pad_code[0], 5) << "the record keeps its code";
  nitf::release_imsubhdr(record.get());
}

TEST_F(CompositionPixels, BrighteningNeedsEveryValueBelowTwenty) {
  for (auto [top, expected] : {std::pair{19, 255}, std::pair{20, 20}, std::pair{0, 0}}) {
    kernel::Bitmap b;
    ASSERT_EQ(kernel::create_bitmap(&b, kernel::kBitmapRecordSize, 1, 2, 1, 8, kernel::kColourGrey,
                                    nullptr, kernel::kViewTopDown, nullptr, 0),
              RET_SUCCESS);
    b.data[1] = static_cast<std::uint8_t>(top);
    nitf::brighten_if_dark(&b);
    EXPECT_EQ(b.data[1], expected) << "largest value " << top;
    EXPECT_EQ(b.data[0], 0);
    kernel::free_bitmap(&b);
  }
}

}  // namespace
