// Where graphics land on the composed canvas. An annotation file built here (an image
// with graphics at display levels above it, one at a negative SLOC) is rendered through
// the public export and looked at pixel by pixel; every CGM graphic of the conformant
// samples, painted alone, must keep its ink inside the SBND rectangle its producer
// wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/utility_canvas.h"
#include "graphics_text/grsubhdr.h"
#include "graphics_text/handlgfx.h"
#include "kernel/bitmap.h"
#include "kernel/dc.h"
#include "kernel/memory.h"
#include "nitfgen.h"
#include "nitfgen_cgm.h"
#include "nitfgen_image.h"
#include "nitfgen_segments.h"
#include "testing.h"
#include "vector/drawing.h"

namespace {

using namespace testing_support;
namespace cgm = nitfgen::cgm;

using GraphicsPlacement = LeakChecked;

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

Rgb pixel(const kernel::Bitmap& b, int x, int y) {
  const std::uint8_t* p = kernel::storage_row(b, kernel::top_down_row(b, y)) + 3 * x;
  return {p[2], p[1], p[0]};
}

// A colour "is" red, green... when its channel dominates; antialiased edges are neither.
bool is(Rgb c, Rgb want) {
  return std::abs(c.r - want.r) < 40 && std::abs(c.g - want.g) < 40 && std::abs(c.b - want.b) < 40;
}

constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};
constexpr Rgb kGrey{100, 100, 100};

std::string graphic(int level, int row, int column) {
  nitfgen::GraphicSpec g;
  g.fields["SDLVL"] = std::to_string(level);
  g.fields["SLOC"] = nitfgen::number(row, 5) + nitfgen::number(column, 5);
  return nitfgen::graphic_subheader(g);
}

// A 120 x 120 grey image at level 1 and, above it:
//   level 2, SLOC (10, 20): a solid red rectangle over VDC x 10..40, y 10..30;
//   level 3, SLOC (-5, -8): a green line from VDC (20, 50) to (100, 50), width 3;
//   level 4, SLOC (0, 0): a solid blue rectangle over x 50..70, y 25..35, half on the red;
//   level 5, SLOC (0, 0): a hollow white circle of radius 10 about (90, 80).
std::string annotation_file() {
  nitfgen::ImageSpec image;
  image.nrows = image.ncols = image.nppbh = image.nppbv = 120;
  image.idlvl = 1;
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(image, std::string(120 * 120, char(100))));
  auto add = [&](int level, int row, int column, const cgm::Bytes& body) {
    file.graphics.push_back({graphic(level, row, column), cgm::nitf_graphic(body, 120, 120)});
  };
  add(2, 10, 20,
      cgm::cat(
          {cgm::interior_style(1), cgm::fill_colour(255, 0, 0), cgm::rectangle(10, 10, 40, 30)}));
  add(3, -5, -8,
      cgm::cat(
          {cgm::line_colour(0, 255, 0), cgm::line_width(3), cgm::polyline({20, 50, 100, 50})}));
  add(4, 0, 0,
      cgm::cat(
          {cgm::interior_style(1), cgm::fill_colour(0, 0, 255), cgm::rectangle(50, 25, 70, 35)}));
  add(5, 0, 0,
      cgm::cat({cgm::interior_style(0), cgm::fill_colour(255, 255, 255), cgm::circle(90, 80, 10)}));
  return nitfgen::build(file);
}

Rgb at(Rendered& r, int x, int y) {
  return pixel(*r.canvas(), x, y);
}

TEST_F(GraphicsPlacement, AnnotationFilePrimitivesLandWhereTheirSlocPutsThem) {
  TempDir dir;
  Parsed p = parse(dir.write("annotated.ntf", annotation_file()));
  ASSERT_EQ(p.result, RET_SUCCESS);
  Rendered r;
  r.result = Kv_NtfRenderBitmap(&r.bitmap, p.document.get());
  ASSERT_EQ(r.result, RET_SUCCESS);
  ASSERT_EQ(r.bitmap.width, 120);
  ASSERT_EQ(r.bitmap.height, 120);

  // The red rectangle spans columns 30..60 and rows 20..40; the blue one covers its
  // lower right corner because it lies at a higher level.
  EXPECT_TRUE(is(at(r, 35, 25), kRed));
  EXPECT_TRUE(is(at(r, 45, 38), kRed));
  EXPECT_TRUE(is(at(r, 55, 30), kBlue)) << "level 4 is painted over level 2";
  EXPECT_TRUE(is(at(r, 65, 30), kBlue));
  EXPECT_TRUE(is(at(r, 35, 42), kGrey)) << "below the red rectangle the image shows";
  EXPECT_TRUE(is(at(r, 25, 25), kGrey));

  // The line at VDC y 50 with SLOC row -5 is canvas row 45; x 20..100 from column -8.
  for (int x : {14, 40, 90})
    for (int y : {44, 45, 46}) EXPECT_TRUE(is(at(r, x, y), kGreen)) << x << "," << y;
  EXPECT_TRUE(is(at(r, 40, 48), kGrey));
  EXPECT_TRUE(is(at(r, 10, 45), kGrey)) << "the line starts at column 12";

  // The circle's edge in white, its centre and the space outside it the image's grey.
  for (auto [x, y] : std::vector<std::pair<int, int>>{{100, 80}, {80, 80}, {90, 70}, {90, 90}})
    EXPECT_GT(at(r, x, y).r, 160) << x << "," << y;
  EXPECT_TRUE(is(at(r, 90, 80), kGrey));
  EXPECT_TRUE(is(at(r, 110, 80), kGrey));
}

TEST_F(GraphicsPlacement, GraphicsBeyondTheImageWidenTheCanvas) {
  // A drawing that reaches past the image grows the canvas to its last inked pixel:
  // a line at VDC y 150 (width 1) needs row 150 on the canvas.
  nitfgen::ImageSpec image;
  image.nrows = image.ncols = image.nppbh = image.nppbv = 100;
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(image, std::string(100 * 100, char(100))));
  const cgm::Bytes body = cgm::polyline({10, 150, 130, 150});
  file.graphics.push_back({graphic(2, 0, 0), cgm::nitf_graphic(body, 200, 200)});
  TempDir dir;
  Parsed p = parse(dir.write("wide.ntf", nitfgen::build(file)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  std::uint32_t width = 0, height = 0;
  ASSERT_EQ(nitf::canvas_size(p.document.get(), &width, &height), RET_SUCCESS);
  EXPECT_EQ(width, 131u);
  EXPECT_EQ(height, 151u);
}

// The ink of one graphic painted alone on a canvas of a colour no sample uses, as a box
// of canvas pixels.
struct InkBox {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  bool any() const { return right >= 0; }
};

InkBox ink_of(NitfDocument* d, std::uint32_t index, std::uint32_t width, std::uint32_t height) {
  kernel::Bitmap canvas;
  InkBox box;
  if (kernel::create_bitmap(&canvas, kernel::kBitmapRecordSize, 1, std::int32_t(width),
                            std::int32_t(height), 24, kernel::kColourRgb, nullptr,
                            kernel::kViewTopDown, nullptr, 0) != RET_SUCCESS)
    return box;
  constexpr Rgb kUnused{0x56, 0x34, 0x12};
  kernel::fill_bitmap(&canvas, 0x123456);
  kernel::DrawingContext* dc = kernel::device_context_for_bitmap(&canvas);
  EXPECT_EQ(nitf::draw_graphic_segment(dc, d, index, 0, 0), RET_SUCCESS);
  for (int y = 0; y < canvas.height; ++y)
    for (int x = 0; x < canvas.width; ++x) {
      if (pixel(canvas, x, y) == kUnused) continue;
      box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
             std::max(box.bottom, y)};
    }
  kernel::delete_device_context(dc);
  kernel::free_bitmap(&canvas);
  return box;
}

bool has_text(const vector::Drawing& d) {
  for (std::uint32_t i = 0; i < d.objects.count; ++i)
    if (d.objects.begin()[i].kind == vector::ObjectKind::kText) return true;
  return false;
}

TEST_F(GraphicsPlacement, ConformantSamplesKeepTheirInkInsideSbnd) {
  REQUIRE_SAMPLES();
  int checked = 0;
  for (const char* name :
       {"jitc/i_3051e.ntf", "jitc/i_3052a.ntf", "jitc/i_3060a.ntf", "jitc/i_3113g.ntf"}) {
    Parsed p = parse(sample(name));
    ASSERT_EQ(p.result, RET_SUCCESS) << name;
    std::uint32_t width = 0, height = 0;
    ASSERT_EQ(nitf::canvas_size(p.document.get(), &width, &height), RET_SUCCESS) << name;
    for (std::uint32_t i = 0; i < p.document->graphics.size(); ++i) {
      const nitf::NitfGraphicSubheader& g = *p.document->graphics[i];
      if (g.salvl != 0) continue;  // attached graphics move with their parent
      const InkBox ink = ink_of(p.document.get(), i, width, height);
      ASSERT_TRUE(ink.any()) << name << " graphic " << i;
      // Antialiasing and strokes reach a few pixels past the producer's bounds.
      constexpr int kSlack = 3;
      EXPECT_GE(ink.top, g.sbnd1_first - kSlack) << name << " graphic " << i;
      EXPECT_GE(ink.left, g.sbnd1_second - kSlack) << name << " graphic " << i;
      EXPECT_LE(ink.bottom, g.sbnd2_first + kSlack) << name << " graphic " << i;
      // Producers estimate a text's width for a font of their own; ours may be wider.
      if (!has_text(g.vector)) {
        EXPECT_LE(ink.right, g.sbnd2_second + kSlack) << name << " graphic " << i;
      }
      // And the canvas holds every inked pixel.
      EXPECT_LT(ink.bottom, int(height)) << name;
      EXPECT_LT(ink.right, int(width)) << name;
      ++checked;
    }
  }
  EXPECT_GE(checked, 5);
}

}  // namespace
