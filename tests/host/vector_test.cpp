// The drawing model and its painting onto kernel canvases: refused objects and depths, deep
// copies, and that absurd coordinates (text, hatches and dashes among them) finish quickly
// and leak nothing. Where the ink of each kind lands is held against the graphics' SBND
// (real CGM graphics, appended drawings) and 2.0 symbols' bounds in the composition,
// writing and NITF 2.0 tests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
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
constexpr std::uint32_t kWhite = 0xFFFFFF;  // 0x00BBGGRR

using testing_support::Canvas;

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
  Canvas canvas(64, 64, 24, kernel::kViewBottomUp);
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
  Canvas grey(16, 16, 8);
  EXPECT_EQ(vector::paint_drawing(grey.dc, d, 10, 0, kWhite), RET_NOT_SUPPORTED);
  EXPECT_EQ(vector::paint_drawing(nullptr, d, 10, 0, kWhite), RET_INVALID_PARAMETER);
}

}  // namespace
