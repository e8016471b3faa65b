// Vector painting onto kernel canvases: where each kind of object puts its ink (fills,
// lines, circles, text, hatches, dashes), the world-to-canvas row rule, both row
// orders, refused depths, and that absurd coordinates finish quickly and leak nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define KVNTF_PAINT_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVNTF_PAINT_TEST_LSAN 1
#endif
#endif
#if defined(KVNTF_PAINT_TEST_LSAN)
#include <sanitizer/lsan_interface.h>
#endif

#include "kernel/bitmap.h"
#include "kernel/dc.h"
#include "kernel/memory.h"
#include "testing.h"
#include "vector/drawing.h"
#include "vector/paint.h"

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kRed = 0x0000FF;  // 0x00BBGGRR

struct Rgb {
  int r, g, b;
};

// A white canvas, its context and a drawing, all released whatever the test does.
struct Canvas {
  kernel::Bitmap bitmap;
  kernel::DrawingContext* dc = nullptr;
  Canvas(std::int32_t width, std::int32_t height, int view = kernel::kViewTopDown, int bpp = 24) {
    EXPECT_EQ(kernel::create_bitmap(&bitmap, kernel::kBitmapRecordSize, 1, width, height, bpp,
                                    kernel::kColourRgb, nullptr, view, nullptr, 0),
              RET_SUCCESS);
    kernel::fill_bitmap(&bitmap, kWhite);
    dc = kernel::device_context_for_bitmap(&bitmap);
    EXPECT_NE(dc, nullptr);
  }
  ~Canvas() {
    kernel::delete_device_context(dc);
    kernel::free_bitmap(&bitmap);
  }
  // The pixel at display column x, row y (0 at the top).
  Rgb at(std::int32_t x, std::int32_t y) const {
    const std::uint8_t* row = kernel::storage_row(bitmap, kernel::top_down_row(bitmap, y));
    const std::uint8_t* p = row + static_cast<std::size_t>(x) * (bitmap.bits_per_pixel / 8);
    return {p[2], p[1], p[0]};
  }
  bool ink(std::int32_t x, std::int32_t y) const {
    const Rgb c = at(x, y);
    return c.r + c.g + c.b < 3 * 128;
  }
  bool white(std::int32_t x, std::int32_t y) const {
    const Rgb c = at(x, y);
    return c.r == 255 && c.g == 255 && c.b == 255;
  }
};

struct OwnedDrawing {
  vector::Drawing d;
  OwnedDrawing() { vector::init(&d); }
  ~OwnedDrawing() { vector::release(&d); }
};

vector::ObjectDescription description() {
  vector::ObjectDescription desc;
  vector::init_object_description(&desc);
  return desc;
}

void add(vector::Drawing* d, vector::ObjectKind kind, vector::ObjectDescription desc,
         std::vector<vector::Vertex> points) {
  desc.points = points.data();
  desc.point_count = static_cast<std::uint32_t>(points.size());
  ASSERT_EQ(vector::add_object(d, 0, kind, &desc, 0), RET_SUCCESS);
}

void add_line(vector::Drawing* d, double x0, double y0, double x1, double y1, std::int32_t type = 1,
              double width = 1) {
  auto desc = description();
  desc.attributes.line_colour = 0;
  desc.attributes.line_type = type;
  desc.attributes.line_width = width;
  add(d, vector::ObjectKind::kPolyline, desc, {{x0, y0, 0}, {x1, y1, 0}});
}

// Cairo 1.16 and fontconfig lose a few hundred bytes of font lookup state the first
// time a face is used (a bare select-font and text-path program shows it too). One text
// painting made before the tests, with the leak checker looking away, takes that
// once-per-process cost, so every leak reported afterwards is the painter's own.
void warm_font_caches() {
  static const bool warmed = [] {
#if defined(KVNTF_PAINT_TEST_LSAN)
    __lsan_disable();
#endif
    {
      OwnedDrawing drawing;
      auto desc = description();
      desc.text = "Ab";
      desc.text_length = 2;
      desc.attributes.character_height = 12;
      vector::Vertex at{2, 2, 0};
      desc.points = &at;
      desc.point_count = 1;
      vector::add_object(&drawing.d, 0, vector::ObjectKind::kText, &desc, 0);
      Canvas canvas(16, 16);
      vector::paint_drawing(canvas.dc, drawing.d, 14, 0, kWhite);
    }
#if defined(KVNTF_PAINT_TEST_LSAN)
    __lsan_enable();
#endif
    return true;
  }();
  (void)warmed;
}

class HostVectorPaint : public testing_support::LeakChecked {
 protected:
  void SetUp() override {
    warm_font_caches();
    testing_support::LeakChecked::SetUp();
  }
};

TEST_F(HostVectorPaint, FilledRectangleInsideFillOutsideCanvas) {
  OwnedDrawing drawing;
  auto desc = description();
  desc.attributes.interior_style = vector::InteriorStyle::kSolid;
  desc.attributes.fill_colour = kRed;
  add(&drawing.d, vector::ObjectKind::kRectangle, desc, {{10, 10, 0}, {30, 30, 0}});
  Canvas canvas(64, 64);
  ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing.d, 50, 0, kWhite), RET_SUCCESS);
  // World y 10..30 is canvas rows 40..20; columns 10..30.
  for (int y = 22; y <= 38; ++y)
    for (int x = 12; x <= 28; ++x) {
      const Rgb c = canvas.at(x, y);
      ASSERT_TRUE(c.r == 255 && c.g == 0 && c.b == 0) << x << "," << y;
    }
  EXPECT_TRUE(canvas.white(5, 5));
  EXPECT_TRUE(canvas.white(35, 30));
  EXPECT_TRUE(canvas.white(20, 45));
  EXPECT_TRUE(canvas.white(20, 15));
  EXPECT_TRUE(canvas.white(5, 30));
}

// One object on a white 64 x 64 canvas: where ink must be and where the canvas stays
// white. World y runs up from the canvas row `top`; world x 0 is canvas column `origin`.
TEST_F(HostVectorPaint, InkWhereEachObjectLies) {
  using Points = std::vector<std::pair<int, int>>;
  struct Case {
    const char* name;
    void (*draw)(vector::Drawing*);
    double top, origin;
    Points ink, white;
    bool left_half_clip = false;
  };
  const Case cases[] = {
      {"a horizontal line is one row of ink: world y 20 is row 30",
       [](vector::Drawing* d) { add_line(d, 5, 20, 60, 20); }, 50, 0,
       Points{{10, 30}, {30, 30}, {50, 30}}, Points{{10, 27}, {30, 27}, {30, 33}, {50, 33}}},
      {"origin column 20: world x 0..10 lands on columns 20..30",
       [](vector::Drawing* d) { add_line(d, 0, 10, 10, 10); }, 50, 20, Points{{25, 40}},
       Points{{25, 39}, {25, 41}, {10, 40}, {35, 40}}},
      {"an unfilled circle inks its edge, not its centre",
       [](vector::Drawing* d) {
         auto desc = description();
         desc.attributes.interior_style = vector::InteriorStyle::kEmpty;
         desc.attributes.edge_visible = 1;
         desc.attributes.edge_width = 2;
         desc.radius = 20;
         add(d, vector::ObjectKind::kCircle, desc, {{32, 32, 0}});
       },
       64, 0, Points{{52, 32}, {12, 32}, {32, 12}, {32, 52}}, Points{{32, 32}, {40, 32}, {58, 32}}},
      {"a quarter pie from world +x to +y is the upper right quadrant",
       [](vector::Drawing* d) {
         auto desc = description();
         desc.attributes.interior_style = vector::InteriorStyle::kSolid;
         desc.attributes.fill_colour = 0;
         desc.radius = 20;
         desc.start = {1, 0};
         desc.end = {0, 1};
         desc.closure = vector::ArcClosure::kPie;
         add(d, vector::ObjectKind::kCircularArc, desc, {{32, 32, 0}});
       },
       64, 0, Points{{40, 24}}, Points{{24, 24}, {40, 40}, {24, 40}}},
      {"a long diagonal still inks the canvas: world (10, 10) is (10, 40)",
       [](vector::Drawing* d) { add_line(d, -32767, -32767, 32767, 32767); }, 50, 0,
       Points{{25, 25}, {10, 40}}, Points{{25, 40}}},
      {"the clip rectangle limits the painting",
       [](vector::Drawing* d) { add_line(d, 0, 20, 64, 20); }, 50, 0, Points{{20, 30}},
       Points{{40, 30}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedDrawing drawing;
    c.draw(&drawing.d);
    Canvas canvas(64, 64);
    if (c.left_half_clip) kernel::set_rect(&canvas.dc->clip, 0, 0, 32, 64);
    ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing.d, c.top, c.origin, kWhite), RET_SUCCESS);
    for (const auto& [x, y] : c.ink) EXPECT_TRUE(canvas.ink(x, y)) << x << "," << y;
    for (const auto& [x, y] : c.white) EXPECT_TRUE(canvas.white(x, y)) << x << "," << y;
  }
}

// "HELLO", 16 high. Upright from world (10, 20) under top 50, in HELVETICA: the
// baseline on row 30, capitals at most one character height above it. Turned by the up
// vector (-1, 0) from world (30, 0) under top 120: the base runs up the canvas from row
// 120, the glyphs rise leftwards of column 30.
TEST_F(HostVectorPaint, TextInkLiesInItsBox) {
  struct Case {
    bool turned;
    int width, height;
    double top;
    vector::Vertex at;
    int left, right, highest, lowest;
  } cases[] = {{false, 160, 64, 50, {10, 20, 0}, 10, 10 + 5 * 16, 30 - 16, 31},
               {true, 64, 128, 120, {30, 0, 0}, 30 - 16, 31, 120 - 5 * 16, 121}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.turned ? "turned" : "upright");
    OwnedDrawing drawing;
    auto desc = description();
    if (c.turned) {
      desc.attributes.up = {-1, 0};
      desc.attributes.base = {0, 1};
    } else {
      ASSERT_EQ(vector::add_font(&drawing.d, "HELVETICA", 9, &desc.attributes.font), RET_SUCCESS);
      desc.attributes.text_colour = 0;
    }
    desc.attributes.character_height = 16;
    desc.text = "HELLO";
    desc.text_length = 5;
    add(&drawing.d, vector::ObjectKind::kText, desc, {c.at});
    Canvas canvas(c.width, c.height);
    ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing.d, c.top, 0, kWhite), RET_SUCCESS);
    int inked = 0;
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        if (!canvas.ink(x, y)) continue;
        ++inked;
        EXPECT_GE(x, c.left);
        EXPECT_LE(x, c.right);
        EXPECT_GE(y, c.highest);
        EXPECT_LE(y, c.lowest);
      }
    EXPECT_GT(inked, 40);
  }
}

TEST_F(HostVectorPaint, HorizontalHatchLeavesGaps) {
  OwnedDrawing drawing;
  auto desc = description();
  desc.attributes.interior_style = vector::InteriorStyle::kHatch;
  desc.attributes.hatch_index = 1;
  add(&drawing.d, vector::ObjectKind::kPolygon, desc,
      {{4, 4, 0}, {60, 4, 0}, {60, 60, 0}, {4, 60, 0}});
  Canvas canvas(64, 64);
  ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing.d, 64, 0, kWhite), RET_SUCCESS);
  int ink_rows = 0, white_rows = 0;
  for (int y = 10; y < 54; ++y) {
    bool all_ink = true, all_white = true;
    for (int x = 10; x < 54; ++x) {
      all_ink = all_ink && canvas.ink(x, y);
      all_white = all_white && canvas.white(x, y);
    }
    ink_rows += all_ink;
    white_rows += all_white;
  }
  EXPECT_GE(ink_rows, 4);
  EXPECT_GE(white_rows, 20);
  EXPECT_TRUE(canvas.white(2, 30));  // outside the polygon
}

TEST_F(HostVectorPaint, DashedLineHasGaps) {
  OwnedDrawing drawing;
  add_line(&drawing.d, 0, 20, 64, 20, 2);
  Canvas canvas(64, 64);
  ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing.d, 50, 0, kWhite), RET_SUCCESS);
  int ink = 0, gaps = 0;
  for (int x = 2; x < 62; ++x) {
    ink += canvas.ink(x, 30);
    gaps += canvas.white(x, 30);
  }
  EXPECT_GT(ink, 20);
  EXPECT_GT(gaps, 10);
}

TEST_F(HostVectorPaint, BothViewCodesGiveTheSamePicture) {
  OwnedDrawing drawing;
  auto desc = description();
  desc.attributes.interior_style = vector::InteriorStyle::kSolid;
  desc.attributes.fill_colour = kRed;
  desc.attributes.edge_visible = 1;
  add(&drawing.d, vector::ObjectKind::kRectangle, desc, {{5, 5, 0}, {25, 15, 0}});
  add_line(&drawing.d, 0, 40, 50, 30, 4, 3);
  desc = description();
  desc.radius = 10;
  desc.attributes.edge_visible = 1;
  add(&drawing.d, vector::ObjectKind::kCircle, desc, {{40, 15, 0}});
  desc = description();
  desc.text = "Ab";
  desc.text_length = 2;
  desc.attributes.character_height = 12;
  add(&drawing.d, vector::ObjectKind::kText, desc, {{5, 45, 0}});
  Canvas top(64, 64, kernel::kViewTopDown), bottom(64, 64, kernel::kViewBottomUp),
      deep(64, 64, kernel::kViewBottomUp, 32);
  ASSERT_EQ(vector::paint_drawing(top.dc, drawing.d, 60, 0, kWhite), RET_SUCCESS);
  ASSERT_EQ(vector::paint_drawing(bottom.dc, drawing.d, 60, 0, kWhite), RET_SUCCESS);
  ASSERT_EQ(vector::paint_drawing(deep.dc, drawing.d, 60, 0, kWhite), RET_SUCCESS);
  int inked = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const Rgb a = top.at(x, y), b = bottom.at(x, y), c = deep.at(x, y);
      ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b) << x << "," << y;
      ASSERT_TRUE(a.r == c.r && a.g == c.g && a.b == c.b) << x << "," << y;
      inked += !top.white(x, y);
    }
  EXPECT_GT(inked, 200);
  // The rectangle is red near the top of world y, i.e. low on the canvas.
  const Rgb fill = bottom.at(15, 50);
  EXPECT_TRUE(fill.r == 255 && fill.g == 0 && fill.b == 0);
}

TEST_F(HostVectorPaint, AbsurdCoordinatesFinishQuicklyAndClip) {
  OwnedDrawing drawing;
  add_line(&drawing.d, -32767, -32767, 32767, 32767);  // passes through world (25, 25)
  add_line(&drawing.d, -32767, 5, 32767, 5, 5);
  add_line(&drawing.d, -1e12, 7, 1e12, 7, 3);
  add_line(&drawing.d, 0, -1e9, 0, 1e9, 1, 1e9);
  auto desc = description();
  desc.attributes.interior_style = vector::InteriorStyle::kHatch;
  desc.attributes.hatch_index = 6;
  desc.attributes.edge_visible = 1;
  desc.attributes.edge_type = 2;
  add(&drawing.d, vector::ObjectKind::kRectangle, desc, {{-32767, -32767, 0}, {32767, 32767, 0}});
  desc = description();
  desc.radius = 1e12;
  desc.attributes.edge_visible = 1;
  desc.attributes.edge_type = 3;
  add(&drawing.d, vector::ObjectKind::kCircle, desc, {{32767, -32767, 0}});
  add(&drawing.d, vector::ObjectKind::kEllipse, desc, {{0, 0, 0}, {1e9, 0, 0}, {0, -1e9, 0}});
  desc.text = "W";
  desc.text_length = 1;
  desc.attributes.character_height = 1e9;
  add(&drawing.d, vector::ObjectKind::kText, desc, {{-32767, 32767, 0}});
  desc.attributes.character_height = 10;
  desc.attributes.up = {0, 0};
  desc.attributes.base = {0, 0};
  add(&drawing.d, vector::ObjectKind::kText, desc, {{1e15, -1e15, 0}});
  Canvas canvas(64, 64, kernel::kViewBottomUp);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing.d, 50, 0, kWhite), RET_SUCCESS);
  ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing.d, 32767, -32767, kWhite), RET_SUCCESS);
  ASSERT_EQ(vector::paint_drawing(canvas.dc, drawing.d, -1e300, 1e300, kWhite), RET_SUCCESS);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 10.0);
}

TEST_F(HostVectorPaint, OtherDepthsAndMissingContextAreRefused) {
  OwnedDrawing drawing;
  add_line(&drawing.d, 0, 0, 10, 10);
  Canvas grey(16, 16, kernel::kViewTopDown, 8);
  EXPECT_EQ(vector::paint_drawing(grey.dc, drawing.d, 10, 0, kWhite), RET_NOT_SUPPORTED);
  EXPECT_EQ(vector::paint_drawing(nullptr, drawing.d, 10, 0, kWhite), RET_INVALID_PARAMETER);
}

}  // namespace
