// The drawing model and its painting onto kernel canvases: where each kind of object
// puts its ink and in what colour (fills, lines, circles, arcs), the world-to-canvas row
// rule, both row orders, refused depths, and that absurd coordinates (text, hatches and
// dashes among them) finish quickly and leak nothing. Text, hatches and dashes on real
// CGM graphics are held against their SBND in the composition tests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "kernel/bitmap.h"
#include "kernel/dc.h"
#include "kernel/memory.h"
#include "testing.h"
#include "vector/drawing.h"
#include "vector/paint.h"

namespace {

using vector::ObjectKind;
constexpr std::uint32_t kWhite = 0xFFFFFF, kRed = 0x0000FF;  // 0x00BBGGRR

// A white canvas and its context, released whatever the test does.
struct Canvas {
  kernel::Bitmap bitmap;
  kernel::DrawingContext* dc = nullptr;
  Canvas(std::int32_t width, std::int32_t height, int view = kernel::kViewTopDown, int bpp = 24) {
    EXPECT_EQ(kernel::create_bitmap(&bitmap, kernel::kBitmapRecordSize, 1, width, height, bpp,
                                    kernel::kColourRgb, nullptr, view, nullptr, 0),
              RET_SUCCESS);
    kernel::fill_bitmap(&bitmap, kWhite);
    dc = kernel::device_context_for_bitmap(&bitmap);
  }
  ~Canvas() {
    kernel::delete_device_context(dc);
    kernel::free_bitmap(&bitmap);
  }
  // The colour at display column x, row y (0 at the top), 0x00BBGGRR.
  std::uint32_t at(std::int32_t x, std::int32_t y) const {
    const std::uint8_t* p = kernel::storage_row(bitmap, kernel::top_down_row(bitmap, y)) +
                            std::size_t(x) * (bitmap.bits_per_pixel / 8);
    return p[2] | p[1] << 8 | std::uint32_t(p[0]) << 16;
  }
  bool ink(std::int32_t x, std::int32_t y) const {
    const std::uint32_t c = at(x, y);
    return (c & 0xFF) + (c >> 8 & 0xFF) + (c >> 16) < 3 * 128;
  }
};

struct Drawing : vector::Drawing {
  Drawing() { vector::init(this); }
  Drawing(const Drawing&) = delete;
  ~Drawing() { vector::release(this); }
  void add(ObjectKind kind, vector::ObjectDescription d, std::vector<vector::Vertex> points) {
    d.points = points.data();
    d.point_count = std::uint32_t(points.size());
    ASSERT_EQ(vector::add_object(this, 0, kind, &d, 0), RET_SUCCESS);
  }
  void line(double x0, double y0, double x1, double y1, std::int32_t type = 1, double width = 1) {
    vector::ObjectDescription d;
    d.attributes.line_type = type;
    d.attributes.line_width = width;
    add(ObjectKind::kPolyline, d, {{x0, y0}, {x1, y1}});
  }
};

vector::ObjectDescription filled(std::uint32_t colour,
                                 vector::InteriorStyle style = vector::InteriorStyle::kSolid,
                                 double radius = 0) {
  vector::ObjectDescription d;
  d.attributes.interior_style = style;
  d.attributes.fill_colour = colour;
  d.radius = radius;
  return d;
}

using HostVector = testing_support::LeakChecked;

// One object on a white 64 x 64 canvas of either row order and 24 or 32 bits: where ink
// (of the given colour, or dark) must be and where the canvas stays white. World y runs
// up from the canvas row `top`; world x 0 is canvas column `origin`.
TEST_F(HostVector, InkWhereEachObjectLies) {
  using Points = std::vector<std::pair<int, int>>;
  const struct {
    const char* name;
    void (*draw)(Drawing&);
    double top, origin;
    Points ink, white;
    std::uint32_t colour = 0;  // of the ink, when it is a fill
    bool left_half_clip = false;
  } cases[] = {
      {"a filled rectangle: world y 10..30 is rows 40..20",
       [](Drawing& d) {
         d.add(ObjectKind::kRectangle, filled(kRed), {{10, 10}, {30, 30}});
       },
       50, 0, Points{{12, 22}, {28, 38}}, Points{{5, 30}, {35, 30}, {20, 45}, {20, 15}}, kRed},
      {"origin column 20: world x 0..10 lands on columns 20..30",
       [](Drawing& d) { d.line(0, 10, 10, 10); }, 50, 20, Points{{25, 40}},
       Points{{25, 39}, {25, 41}, {10, 40}, {35, 40}}},
      {"a quarter pie from world +x to +y is the upper right quadrant",
       [](Drawing& d) {
         auto c = filled(kRed, vector::InteriorStyle::kSolid, 20);
         c.start = {1, 0}, c.end = {0, 1}, c.closure = vector::ArcClosure::kPie;
         d.add(ObjectKind::kCircularArc, c, {{32, 32}});
       },
       64, 0, Points{{40, 24}}, Points{{24, 24}, {40, 40}, {24, 40}}, kRed},
      {"a long diagonal still inks the canvas: world (10, 10) is (10, 40)",
       [](Drawing& d) { d.line(-32767, -32767, 32767, 32767); }, 50, 0, Points{{25, 25}, {10, 40}},
       Points{{25, 40}}},
      {"the clip rectangle limits the painting", [](Drawing& d) { d.line(0, 20, 64, 20); }, 50, 0,
       Points{{20, 30}}, Points{{40, 30}}, 0, true},
  };
  for (const auto& c : cases)
    for (auto [view, bpp] : {std::pair{kernel::kViewTopDown, 24},
                             {kernel::kViewBottomUp, 24},
                             {kernel::kViewBottomUp, 32}}) {
      SCOPED_TRACE(::testing::Message() << c.name << ", view " << view << ", " << bpp << " bits");
      Drawing drawing;
      c.draw(drawing);
      Canvas canvas(64, 64, view, bpp);
      if (c.left_half_clip) kernel::set_rect(&canvas.dc->clip, 0, 0, 32, 64);
      ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing, c.top, c.origin, kWhite), RET_SUCCESS);
      for (const auto& [x, y] : c.ink)
        EXPECT_TRUE(c.colour ? canvas.at(x, y) == c.colour : canvas.ink(x, y)) << x << "," << y;
      for (const auto& [x, y] : c.white) EXPECT_EQ(canvas.at(x, y), kWhite) << x << "," << y;
    }
}

TEST_F(HostVector, AbsurdCoordinatesFinishQuickly) {
  Drawing drawing;
  drawing.line(-32767, -32767, 32767, 32767);
  drawing.line(-32767, 5, 32767, 5, 5);
  drawing.line(-1e12, 7, 1e12, 7, 3);
  drawing.line(0, -1e9, 0, 1e9, 1, 1e9);
  auto hatch = filled(0, vector::InteriorStyle::kHatch);
  hatch.attributes.hatch_index = 6;
  hatch.attributes.edge_visible = 1, hatch.attributes.edge_type = 2;
  drawing.add(ObjectKind::kRectangle, hatch, {{-32767, -32767}, {32767, 32767}});
  auto huge = filled(0, vector::InteriorStyle::kHollow, 1e12);
  huge.attributes.edge_visible = 1, huge.attributes.edge_type = 3;
  drawing.add(ObjectKind::kCircle, huge, {{32767, -32767}});
  drawing.add(ObjectKind::kEllipse, huge, {{0, 0}, {1e9, 0}, {0, -1e9}});
  huge.text = "W";
  huge.text_length = 1;
  huge.attributes.character_height = 1e9;
  drawing.add(ObjectKind::kText, huge, {{-32767, 32767}});
  huge.attributes.character_height = 10, huge.attributes.up = huge.attributes.base = {0, 0};
  drawing.add(ObjectKind::kText, huge, {{1e15, -1e15}});
  Canvas canvas(64, 64, kernel::kViewBottomUp);
  const auto start = std::chrono::steady_clock::now();
  for (auto [top, origin] : {std::pair{50.0, 0.0}, {32767.0, -32767.0}, {-1e300, 1e300}})
    ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing, top, origin, kWhite), RET_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Objects of an unknown kind, with too few points or positions that are not finite are
// refused; a copy is deep; canvases other than 24 and 32 bits are refused.
TEST_F(HostVector, DrawingOperations) {
  Drawing d, copy;
  vector::ObjectDescription o;
  vector::Vertex v[2] = {{1, 2}, {5, -3}};
  o.points = v;
  o.point_count = 1;
  EXPECT_EQ(vector::add_object(&d, 0, ObjectKind::kRectangle, &o, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(vector::add_object(&d, 0, ObjectKind(99), &o, 0), RET_INVALID_PARAMETER);
  o.point_count = 2;
  ASSERT_EQ(vector::add_object(&d, 0, ObjectKind::kRectangle, &o, 0), 1);
  v[1].x = std::numeric_limits<double>::infinity();
  EXPECT_EQ(vector::add_object(&d, 0, ObjectKind::kPolyline, &o, 0), RET_INVALID_PARAMETER);
  ASSERT_EQ(vector::copy(&copy, &d, 0), 1);
  const vector::Point3 by{10, 100, 7};
  ASSERT_EQ(vector::translate(&d, &by), 1);
  vector::Point3 lo, hi;
  ASSERT_EQ(vector::bounds(&copy, &lo, &hi), 1);
  EXPECT_TRUE(copy.objects.count == 1 && lo.x == 1 && lo.y == -3 && hi.x == 5 && hi.y == 2);
  Canvas grey(16, 16, kernel::kViewTopDown, 8);
  EXPECT_EQ(vector::paint_drawing(grey.dc, d, 10, 0, kWhite), RET_NOT_SUPPORTED);
  EXPECT_EQ(vector::paint_drawing(nullptr, d, 10, 0, kWhite), RET_INVALID_PARAMETER);
}

}  // namespace
