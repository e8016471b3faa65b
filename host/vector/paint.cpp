// Vector painting through Cairo. The visible part of the canvas is painted in tiles of
// at most kTile x kTile pixels: each tile is copied into an opaque ARGB32 scratch
// surface (so antialiased edges blend with what the canvas shows), every object is
// drawn on it, and the tile is copied back in the canvas's own layout and row order.
// Tiles keep the scratch memory bounded and stay inside Cairo's surface size limit
// whatever the canvas's size.
#include "paint.h"

#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/memory.h"

namespace vector {
namespace {

constexpr std::int32_t kTile = 4096;
// Cairo keeps coordinates in 24.8 fixed point: anything beyond about 8 million pixels
// would wrap, so positions are held well inside that, far past any tile's edge.
constexpr double kFar = 1.0e6;
constexpr double kMaxWidth = 1.0e5;
// Dashes along a curve cannot be cut to the tile as segments are; a curve longer
// than this is stroked solid rather than walking millions of dashes.
constexpr double kMaxDashedCurve = 1.0e6;
constexpr double kFontSize = 256;
constexpr double kPi = 3.14159265358979323846;

double clamp_far(double v) {
  if (!std::isfinite(v)) return 0;
  return std::clamp(v, -kFar, kFar);
}

struct P {
  double x = 0, y = 0;
};

// World to tile coordinates (the +0.5 puts integral positions on pixel centres).
struct Mapper {
  double origin_row, origin_column;
  double tile_left, tile_top;
  P map(double x, double y) const {
    return {clamp_far(origin_column + x + 0.5 - tile_left),
            clamp_far(origin_row - y + 0.5 - tile_top)};
  }
  P map(const Vertex& v) const { return map(v.x, v.y); }
  // A direction: only y turns round.
  static P direction(double x, double y) { return {x, -y}; }
};

void set_colour(cairo_t* cr, std::uint32_t colour) {
  cairo_set_source_rgb(cr, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                       ((colour >> 16) & 0xFF) / 255.0);
}

double width_of(double width) {
  if (!std::isfinite(width) || width <= 0) return 1;
  return std::clamp(width, 0.0, kMaxWidth);
}

// The dash pattern of a line type in multiples of the width (at least one pixel);
// 0 entries mean solid.
int dashes_for(std::int32_t line_type, double width, double* out) {
  const double u = std::max(1.0, width);
  switch (line_type) {
    case 2:
      out[0] = 6 * u;
      out[1] = 3 * u;
      return 2;
    case 3:
      out[0] = 1.5 * u;
      out[1] = 3 * u;
      return 2;
    case 4:
      out[0] = 6 * u;
      out[1] = 3 * u;
      out[2] = 1.5 * u;
      out[3] = 3 * u;
      return 4;
    case 5:
      out[0] = 6 * u;
      out[1] = 3 * u;
      out[2] = 1.5 * u;
      out[3] = 3 * u;
      out[4] = 1.5 * u;
      out[5] = 3 * u;
      return 6;
    default:
      return 0;
  }
}

struct Pen {
  std::uint32_t colour;
  double width;
  std::int32_t type;
};

// Cuts segment a-b to the box (Liang-Barsky); false when nothing of it is inside.
bool clip_segment(P a, P b, double lo_x, double lo_y, double hi_x, double hi_y, double* t0,
                  double* t1) {
  double u0 = 0, u1 = 1;
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - lo_x, hi_x - a.x, a.y - lo_y, hi_y - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0)
      u0 = std::max(u0, r);
    else
      u1 = std::min(u1, r);
    if (u0 > u1) return false;
  }
  *t0 = u0;
  *t1 = u1;
  return true;
}

// A solid chain goes to Cairo whole, so that its joins are drawn.
void stroke_solid(cairo_t* cr, const std::vector<P>& pts, bool closed) {
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_new_path(cr);
  cairo_move_to(cr, pts[0].x, pts[0].y);
  for (std::size_t i = 1; i < pts.size(); ++i) cairo_line_to(cr, pts[i].x, pts[i].y);
  if (closed) cairo_close_path(cr);
  if (pts.size() == 1) cairo_line_to(cr, pts[0].x, pts[0].y);
  cairo_stroke(cr);
}

// A dashed chain goes segment by segment, each cut to the tile (with a margin of the
// pen's width) and its dash phase carried along from the segments before.
void stroke_dashed(cairo_t* cr, const std::vector<P>& pts, bool closed, const Pen& pen,
                   const double* dashes, int n, double tw, double th) {
  double period = 0;
  for (int i = 0; i < n; ++i) period += dashes[i];
  const double m = pen.width + 2;
  const std::size_t count = closed ? pts.size() : pts.size() - 1;
  double along = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const P a = pts[i], b = pts[(i + 1) % pts.size()];
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    double t0 = 0, t1 = 1;
    if (length > 0 && clip_segment(a, b, -m, -m, tw + m, th + m, &t0, &t1)) {
      cairo_set_dash(cr, dashes, n, std::fmod(along + t0 * length, period));
      cairo_new_path(cr);
      cairo_move_to(cr, a.x + (b.x - a.x) * t0, a.y + (b.y - a.y) * t0);
      cairo_line_to(cr, a.x + (b.x - a.x) * t1, a.y + (b.y - a.y) * t1);
      cairo_stroke(cr);
    }
    along = std::fmod(along + length, period);
  }
  cairo_set_dash(cr, nullptr, 0, 0);
}

// Strokes a chain of points with the pen. Dashed chains are cut to the tile, so a
// dashed line thousands of tiles long costs only what is visible.
void stroke_chain(cairo_t* cr, const std::vector<P>& pts, bool closed, const Pen& pen, double tw,
                  double th) {
  if (pts.empty()) return;
  set_colour(cr, pen.colour);
  cairo_set_line_width(cr, pen.width);
  double dashes[6];
  const int n = dashes_for(pen.type, pen.width, dashes);
  if (n == 0)
    stroke_solid(cr, pts, closed);
  else
    stroke_dashed(cr, pts, closed, pen, dashes, n, tw, th);
}

// Strokes the current path (a curve) with the pen.
void stroke_path(cairo_t* cr, const Pen& pen, double length) {
  set_colour(cr, pen.colour);
  cairo_set_line_width(cr, pen.width);
  double dashes[6];
  const int n = length > kMaxDashedCurve ? 0 : dashes_for(pen.type, pen.width, dashes);
  cairo_set_dash(cr, n ? dashes : nullptr, n, 0);
  cairo_stroke_preserve(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
}

constexpr double kHatchGap = 8;

// Horizontal and vertical hatch lines over the box, on a fixed grid of the tile so
// that neighbouring hatches line up.
void add_straight_hatch(cairo_t* cr, bool horizontal, bool vertical, double x0, double y0,
                        double x1, double y1, P anchor) {
  if (horizontal)
    for (double y = std::floor((y0 + anchor.y) / kHatchGap) * kHatchGap + 0.5 - anchor.y; y <= y1;
         y += kHatchGap) {
      cairo_move_to(cr, x0, y);
      cairo_line_to(cr, x1, y);
    }
  if (vertical)
    for (double x = std::floor((x0 + anchor.x) / kHatchGap) * kHatchGap + 0.5 - anchor.x; x <= x1;
         x += kHatchGap) {
      cairo_move_to(cr, x, y0);
      cairo_line_to(cr, x, y1);
    }
}

// Diagonal hatch lines over the box, on the same grid. Positive slope in the world
// rises to the right: on the canvas x + y is constant along such a line.
void add_diagonal_hatch(cairo_t* cr, bool positive, bool negative, double x0, double y0, double x1,
                        double y1, P anchor) {
  const double span = (x1 - x0) + (y1 - y0);
  const double sum = anchor.x + anchor.y, difference = anchor.x - anchor.y;
  if (positive)
    for (double s = std::floor((x0 + y0 + sum) / kHatchGap) * kHatchGap - sum; s <= x1 + y1;
         s += kHatchGap) {
      cairo_move_to(cr, s - y0, y0);
      cairo_line_to(cr, s - y0 - span, y0 + span);
    }
  if (negative)
    for (double s = std::floor((x0 - y1 + difference) / kHatchGap) * kHatchGap - difference;
         s <= x1 - y0; s += kHatchGap) {
      cairo_move_to(cr, s + y0, y0);
      cairo_line_to(cr, s + y0 + span, y0 + span);
    }
}

// Hatches the inside of the current path in the fill colour; the path is kept.
// Where the tile's user space (0, 0) lies in the whole picture, so that hatch lines keep
// one grid over every tile and every region of the picture (set by paint_tile).
const cairo_user_data_key_t kAnchorKey{};

P hatch_anchor(cairo_t* cr) {
  const auto* anchor = static_cast<const P*>(cairo_get_user_data(cr, &kAnchorKey));
  return anchor ? *anchor : P{};
}

void hatch_path(cairo_t* cr, const Attributes& a) {
  cairo_save(cr);
  cairo_clip_preserve(cr);
  double x0, y0, x1, y1;
  cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
  cairo_path_t* path = cairo_copy_path(cr);
  cairo_new_path(cr);
  const int h = a.hatch_index;
  const P anchor = hatch_anchor(cr);
  add_straight_hatch(cr, h == 1 || h == 5, h == 2 || h == 5, x0, y0, x1, y1, anchor);
  add_diagonal_hatch(cr, h == 3 || h == 6, h == 4 || h == 6, x0, y0, x1, y1, anchor);
  set_colour(cr, a.fill_colour);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_restore(cr);
  cairo_new_path(cr);
  cairo_append_path(cr, path);
  cairo_path_destroy(path);
}

// Fills the current path by the interior style; the path is kept for the edges.
// Hollow draws the boundary in the fill colour as CGM has it, empty draws nothing.
void fill_path(cairo_t* cr, const Attributes& a) {
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  switch (a.interior_style) {
    case InteriorStyle::kSolid:
    case InteriorStyle::kPattern:
      set_colour(cr, a.fill_colour);
      cairo_fill_preserve(cr);
      return;
    case InteriorStyle::kHollow:
      if (a.edge_visible) return;  // the edge covers the boundary
      set_colour(cr, a.fill_colour);
      cairo_set_line_width(cr, 1);
      cairo_stroke_preserve(cr);
      return;
    case InteriorStyle::kHatch:
      hatch_path(cr, a);
      return;
    case InteriorStyle::kEmpty:
    default:
      return;
  }
}

Pen line_pen(const Attributes& a) {
  return {a.line_colour, width_of(a.line_width), a.line_type};
}
Pen edge_pen(const Attributes& a) {
  return {a.edge_colour, width_of(a.edge_width), a.edge_type};
}

// A closed polygon: filled, then its edges when they are visible.
void paint_polygon(cairo_t* cr, const std::vector<P>& pts, const Attributes& a, double tw,
                   double th) {
  if (pts.size() < 2) return;
  cairo_new_path(cr);
  cairo_move_to(cr, pts[0].x, pts[0].y);
  for (std::size_t i = 1; i < pts.size(); ++i) cairo_line_to(cr, pts[i].x, pts[i].y);
  cairo_close_path(cr);
  fill_path(cr, a);
  cairo_new_path(cr);
  if (a.edge_visible) stroke_chain(cr, pts, true, edge_pen(a), tw, th);
}

// The path of a polygon set's contours: every close flag (2, 3) ends a contour; the
// last one ends anyway.
void polygon_set_path(cairo_t* cr, const Vertex* v, std::uint32_t count, const Mapper& m) {
  cairo_new_path(cr);
  bool open = false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const P p = m.map(v[i]);
    if (!open)
      cairo_move_to(cr, p.x, p.y);
    else
      cairo_line_to(cr, p.x, p.y);
    open = true;
    if (v[i].edge == 2 || v[i].edge == 3) {
      cairo_close_path(cr);
      open = false;
    }
  }
  if (open) cairo_close_path(cr);
}

// The edge out of a vertex is drawn when its flag is 1 or 3; out of a close vertex it
// leads back to the contour's first vertex.
void stroke_polygon_set_edges(cairo_t* cr, const Vertex* v, std::uint32_t count, const Mapper& m,
                              const Pen& pen, double tw, double th) {
  std::uint32_t first = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const bool closes = v[i].edge == 2 || v[i].edge == 3 || i + 1 == count;
    const std::uint32_t next = closes ? first : i + 1;
    if (v[i].edge == 1 || v[i].edge == 3)
      stroke_chain(cr, {m.map(v[i]), m.map(v[next])}, false, pen, tw, th);
    if (closes) first = i + 1;
  }
}

void paint_polygon_set(cairo_t* cr, const Vertex* v, std::uint32_t count, const Mapper& m,
                       const Attributes& a, double tw, double th) {
  if (count < 2) return;
  polygon_set_path(cr, v, count, m);
  fill_path(cr, a);
  cairo_new_path(cr);
  if (a.edge_visible) stroke_polygon_set_edges(cr, v, count, m, edge_pen(a), tw, th);
}

// The path of the unit circle's arc from t0 to t1, or the whole circle, in the
// conic's own coordinates.
void conic_path(cairo_t* cr, bool whole, double t0, double t1, ArcClosure closure) {
  if (whole) {
    cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
    cairo_close_path(cr);
    return;
  }
  if (closure == ArcClosure::kPie) cairo_move_to(cr, 0, 0);
  cairo_arc(cr, 0, 0, 1, t0, t1);
  if (closure != ArcClosure::kOpen) cairo_close_path(cr);
}

// An ellipse given by its centre and the ends of two conjugate diameters (tile
// coordinates), whole (t0 == t1 == 0, closed) or the arc from parameter t0 to t1.
void paint_conic(cairo_t* cr, P c, P e1, P e2, bool whole, double t0, double t1, ArcClosure closure,
                 const Attributes& a, double tw, double th) {
  const double ax = e1.x - c.x, ay = e1.y - c.y, bx = e2.x - c.x, by = e2.y - c.y;
  const double det = ax * by - ay * bx;
  const double length = 2 * kPi * std::max(std::hypot(ax, ay), std::hypot(bx, by));
  const bool open = !whole && closure == ArcClosure::kOpen;
  if (!std::isfinite(det) || std::fabs(det) < 1e-9) {
    // Flat: the conic is the segment its first diameter spans.
    stroke_chain(cr, {{c.x - ax, c.y - ay}, {c.x + ax, c.y + ay}}, false,
                 open ? line_pen(a) : edge_pen(a), tw, th);
    return;
  }
  cairo_new_path(cr);
  cairo_save(cr);
  cairo_matrix_t mx;
  cairo_matrix_init(&mx, ax, ay, bx, by, c.x, c.y);
  cairo_transform(cr, &mx);
  conic_path(cr, whole, t0, t1, closure);
  cairo_restore(cr);  // back to pixels, so widths are not stretched with the conic
  if (open) {
    stroke_path(cr, line_pen(a), length);
  } else {
    fill_path(cr, a);
    if (a.edge_visible) stroke_path(cr, edge_pen(a), length);
  }
  cairo_new_path(cr);
}

// The conic parameter of a direction d (tile coordinates): d = s (cos t a + sin t b).
double parameter_of(P a, P b, P d) {
  const double det = a.x * b.y - a.y * b.x;
  const double u = (d.x * b.y - d.y * b.x) / det, w = (a.x * d.y - a.y * d.x) / det;
  if (!std::isfinite(u) || !std::isfinite(w) || (u == 0 && w == 0)) return 0;
  return std::atan2(w, u);
}

std::string upper_case(const char* name) {
  std::string upper(name ? name : "");
  for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return upper;
}

// The DejaVu face standing in for a font name, bold when the name says so.
void select_face(cairo_t* cr, const char* font) {
  const std::string upper = upper_case(font);
  const char* face = "DejaVu Sans";  // Helvetica, Arial and everything unknown
  if (upper.find("TIMES") != std::string::npos)
    face = "DejaVu Serif";
  else if (upper.find("COURIER") != std::string::npos)
    face = "DejaVu Sans Mono";
  const bool bold = upper.find("BOLD") != std::string::npos;
  cairo_select_font_face(cr, face, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
}

// Text bytes are single-byte characters (ISO 8859-1): Cairo wants UTF-8, and refuses
// a context for good on invalid UTF-8, so every byte is converted.
std::string utf8_of(const char* text, std::uint32_t length) {
  std::string out;
  out.reserve(length);
  for (std::uint32_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0) break;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// Where outlines taken at `size` pixels go: scaled to the height, turned so that the
// glyphs' x axis follows the base vector and their up (Cairo's -y) the up vector (both
// as canvas directions), moved to the anchor.
cairo_matrix_t text_placement(const Attributes& a, double height, double size, P at) {
  const P base = Mapper::direction(a.base.x, a.base.y), up = Mapper::direction(a.up.x, a.up.y);
  const double bl = std::hypot(base.x, base.y), ul = std::hypot(up.x, up.y);
  cairo_matrix_t place;
  cairo_matrix_init_scale(&place, height / size, height / size);
  if (std::isfinite(bl) && std::isfinite(ul) && bl > 0 && ul > 0 &&
      std::fabs(base.x * up.y - base.y * up.x) > 1e-9 * bl * ul) {
    cairo_matrix_t turn;
    cairo_matrix_init(&turn, base.x / bl, base.y / bl, -up.x / ul, -up.y / ul, 0, 0);
    cairo_matrix_multiply(&place, &place, &turn);
  }
  place.x0 = at.x - 0.5;
  place.y0 = at.y - 0.5;
  return place;
}

// The text's outline as the current path, placed by `place`. A path rather than glyph
// images: a huge character height is then clipped to the tile instead of rasterised
// whole.
void text_outline(cairo_t* cr, const std::string& text, const cairo_matrix_t& place) {
  // The outline is appended in device space: placed, then taken through the context's
  // own scale (identity on an ordinary canvas), which is put back for the stroke.
  cairo_matrix_t user;
  cairo_get_matrix(cr, &user);
  cairo_identity_matrix(cr);
  cairo_new_path(cr);
  cairo_move_to(cr, 0, 0);
  cairo_text_path(cr, text.c_str());
  cairo_path_t* path = cairo_copy_path(cr);
  cairo_new_path(cr);
  if (path->status == CAIRO_STATUS_SUCCESS) {
    for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
      for (int j = 1; j < path->data[i].header.length; ++j) {
        double x = path->data[i + j].point.x, y = path->data[i + j].point.y;
        cairo_matrix_transform_point(&place, &x, &y);
        cairo_matrix_transform_point(&user, &x, &y);
        path->data[i + j].point.x = clamp_far(x);
        path->data[i + j].point.y = clamp_far(y);
      }
    }
    cairo_append_path(cr, path);
  }
  cairo_path_destroy(path);
  cairo_set_matrix(cr, &user);
}

void paint_text(cairo_t* cr, const Drawing& drawing, const Object& o, const Mapper& m) {
  const Attributes& a = o.attributes;
  if (o.point_count < 1 || o.text_length == 0 ||
      std::uint64_t(o.text_offset) + o.text_length > drawing.text.count)
    return;
  const std::string text = utf8_of(drawing.text.begin() + o.text_offset, o.text_length);
  double height = a.character_height;
  if (!std::isfinite(height) || height <= 0) return;
  height = std::min(height, kMaxWidth);
  select_face(cr, font_name(drawing, a));
  // Outlines are taken at no more than kFontSize pixels and without any transformation:
  // Cairo builds its FreeType size from the font matrix and the transformation
  // together, and far larger sizes fail inside FreeType (losing memory in Cairo on the
  // way). The outline is then placed by hand.
  const double size = std::min(height, kFontSize);
  cairo_set_font_size(cr, size);
  const P at = m.map(drawing.points.begin()[o.first_point]);
  text_outline(cr, text, text_placement(a, height, size, at));
  set_colour(cr, a.text_colour);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  cairo_fill(cr);
}

std::vector<P> mapped(const Vertex* v, std::uint32_t count, const Mapper& m) {
  std::vector<P> pts;
  for (std::uint32_t i = 0; i < count; ++i) pts.push_back(m.map(v[i]));
  return pts;
}

// A circle, or the arc of it from the start to the end direction.
void paint_circle(cairo_t* cr, const Object& o, const Vertex* v, const Mapper& m, double tw,
                  double th) {
  const double r = std::min(std::fabs(o.radius), kFar);
  if (!std::isfinite(r) || r <= 0) return;
  const P c = m.map(v[0]);
  // A circle is the ellipse of two perpendicular radii; the second points along
  // world +y, so the conic's sense is counter-clockwise in the world.
  const P e1{c.x + r, c.y}, e2{c.x, c.y - r};
  if (o.kind == ObjectKind::kCircle) {
    paint_conic(cr, c, e1, e2, true, 0, 0, ArcClosure::kOpen, o.attributes, tw, th);
    return;
  }
  const P ax{r, 0}, bx{0, -r};
  const double t0 = parameter_of(ax, bx, Mapper::direction(o.start.x, o.start.y));
  const double t1 = parameter_of(ax, bx, Mapper::direction(o.end.x, o.end.y));
  paint_conic(cr, c, e1, e2, false, t0, t1, o.closure, o.attributes, tw, th);
}

// An ellipse, or the arc of it from the start to the end direction.
void paint_ellipse(cairo_t* cr, const Object& o, const Vertex* v, const Mapper& m, double tw,
                   double th) {
  const P c = m.map(v[0]), e1 = m.map(v[1]), e2 = m.map(v[2]);
  if (o.kind == ObjectKind::kEllipse) {
    paint_conic(cr, c, e1, e2, true, 0, 0, ArcClosure::kOpen, o.attributes, tw, th);
    return;
  }
  const P ax{e1.x - c.x, e1.y - c.y}, bx{e2.x - c.x, e2.y - c.y};
  const double t0 = parameter_of(ax, bx, Mapper::direction(o.start.x, o.start.y));
  const double t1 = parameter_of(ax, bx, Mapper::direction(o.end.x, o.end.y));
  paint_conic(cr, c, e1, e2, false, t0, t1, o.closure, o.attributes, tw, th);
}

void paint_rectangle(cairo_t* cr, const Vertex* v, const Mapper& m, const Attributes& a, double tw,
                     double th) {
  const std::vector<P> pts = {m.map(v[0].x, v[0].y), m.map(v[1].x, v[0].y), m.map(v[1].x, v[1].y),
                              m.map(v[0].x, v[1].y)};
  paint_polygon(cr, pts, a, tw, th);
}

void paint_object(cairo_t* cr, const Drawing& drawing, const Object& o, const Mapper& m, double tw,
                  double th) {
  if (std::uint64_t(o.first_point) + o.point_count > drawing.points.count) return;
  const Vertex* v = drawing.points.begin() + o.first_point;
  const Attributes& a = o.attributes;
  switch (o.kind) {
    case ObjectKind::kPolyline:
      stroke_chain(cr, mapped(v, o.point_count, m), false, line_pen(a), tw, th);
      return;
    case ObjectKind::kPolygon:
      paint_polygon(cr, mapped(v, o.point_count, m), a, tw, th);
      return;
    case ObjectKind::kPolygonSet:
      paint_polygon_set(cr, v, o.point_count, m, a, tw, th);
      return;
    case ObjectKind::kRectangle:
      if (o.point_count >= 2) paint_rectangle(cr, v, m, a, tw, th);
      return;
    case ObjectKind::kCircle:
    case ObjectKind::kCircularArc:
      if (o.point_count >= 1) paint_circle(cr, o, v, m, tw, th);
      return;
    case ObjectKind::kEllipse:
    case ObjectKind::kEllipticalArc:
      if (o.point_count >= 3) paint_ellipse(cr, o, v, m, tw, th);
      return;
    case ObjectKind::kText:
      paint_text(cr, drawing, o, m);
      return;
  }
}

// The bitmap of a drawing context that painting can write: 24 or 32 bits a pixel, its
// rows inside its data.
int check_canvas(const kernel::Bitmap* bitmap) {
  if (!bitmap || !bitmap->data || bitmap->width < 0 || bitmap->height < 0)
    return RET_INVALID_BITMAP;
  const int bpp = bitmap->bits_per_pixel;
  if (bpp != 24 && bpp != 32) return RET_NOT_SUPPORTED;
  const std::uint64_t bytes = static_cast<std::uint64_t>(bpp / 8);
  if (bitmap->bytes_per_line < 0 ||
      std::uint64_t(bitmap->width) * bytes > std::uint64_t(bitmap->bytes_per_line) ||
      std::uint64_t(bitmap->bytes_per_line) * std::uint64_t(bitmap->height) > bitmap->data_size)
    return RET_INVALID_BITMAP;
  return RET_SUCCESS;
}

// One tile of the canvas: its place, its size and the scratch rows it is painted in. The
// scratch may reach `pad_*` pixels past the tile where the picture goes on beyond the
// canvas (a region of a larger composition): Cairo then cuts the geometry where the whole
// picture's canvas would, and the pixels at the region's edges come out as there.
struct Tile {
  std::int32_t left, top, width, height;
  std::uint8_t* scratch;
  int stride;
  std::int32_t pad_left = 0, pad_top = 0, pad_right = 0, pad_bottom = 0;
  std::uint32_t* scratch_row(std::int32_t y) const {
    return reinterpret_cast<std::uint32_t*>(scratch + std::size_t(y + pad_top) * stride) + pad_left;
  }
};

// In: the canvas pixels, opaque, as native 0xAARRGGBB words.
void copy_to_scratch(const kernel::Bitmap& bitmap, const Tile& t) {
  const std::size_t bytes = std::size_t(bitmap.bits_per_pixel / 8);
  for (std::int32_t y = 0; y < t.height; ++y) {
    const std::uint8_t* row = kernel::storage_row(bitmap, kernel::top_down_row(bitmap, t.top + y));
    std::uint32_t* out = t.scratch_row(y);
    for (std::int32_t x = 0; x < t.width; ++x) {
      const std::uint8_t* p = row + std::size_t(t.left + x) * bytes;
      out[x] = 0xFF000000u | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
    }
  }
}

// Out: every pixel stays opaque, so the premultiplied words are the colours.
void copy_from_scratch(kernel::Bitmap& bitmap, const Tile& t) {
  const std::size_t bytes = std::size_t(bitmap.bits_per_pixel / 8);
  for (std::int32_t y = 0; y < t.height; ++y) {
    std::uint8_t* row = kernel::storage_row(bitmap, kernel::top_down_row(bitmap, t.top + y));
    const std::uint32_t* in = t.scratch_row(y);
    for (std::int32_t x = 0; x < t.width; ++x) {
      std::uint8_t* p = row + std::size_t(t.left + x) * bytes;
      p[0] = static_cast<std::uint8_t>(in[x]);
      p[1] = static_cast<std::uint8_t>(in[x] >> 8);
      p[2] = static_cast<std::uint8_t>(in[x] >> 16);
      if (bytes == 4) p[3] = 0;
    }
  }
}

// Every object drawn on the tile's scratch rows.
int paint_tile(const Drawing& drawing, const Tile& t, double origin_row, double origin_column,
               double sx, double sy, P corner) {
  const std::int32_t width = t.width + t.pad_left + t.pad_right;
  const std::int32_t height = t.height + t.pad_top + t.pad_bottom;
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(t.scratch, CAIRO_FORMAT_ARGB32, width, height, t.stride);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return RET_NO_MEMORY;
  }
  // At another scale, geometry stays in picture pixels (the tile and its size divided by
  // the scale) and Cairo's matrix scales it, pens and outlines included.
  const bool scaled = sx != 1 || sy != 1;
  const Mapper m{origin_row, origin_column, (t.left - t.pad_left) / sx, (t.top - t.pad_top) / sy};
  for (std::uint32_t i = 0; i < drawing.objects.count; ++i) {
    // A context per object: a Cairo error (a singular matrix, say) stops only the
    // object that caused it.
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    if (scaled) cairo_scale(cr, sx, sy);
    P anchor{(corner.x + t.left - t.pad_left) / sx, (corner.y + t.top - t.pad_top) / sy};
    cairo_set_user_data(cr, &kAnchorKey, &anchor, nullptr);
    paint_object(cr, drawing, drawing.objects.begin()[i], m, width / sx, height / sy);
    cairo_destroy(cr);
  }
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  return RET_SUCCESS;
}

// The visible part of the canvas tile by tile, through one scratch buffer of the
// largest tile's size.
int paint_tiles(kernel::Bitmap& bitmap, const kernel::Rect& visible, const Drawing& drawing,
                double origin_row, double origin_column, const kernel::DrawingContext& dc) {
  // The tiles lie on the whole picture's grid (from the visible part's corner on an
  // ordinary canvas), and each paints as much of its grid square as the picture has
  // there: a region then cuts geometry exactly where the whole canvas's tiles would.
  const kernel::Rect& beyond = dc.beyond;
  const std::int64_t extent_left = visible.left - (visible.left == 0 ? beyond.left : 0);
  const std::int64_t extent_top = visible.top - (visible.top == 0 ? beyond.top : 0);
  const std::int64_t extent_right =
      visible.right + (visible.right == bitmap.width ? beyond.right : 0);
  const std::int64_t extent_bottom =
      visible.bottom + (visible.bottom == bitmap.height ? beyond.bottom : 0);
  const std::int64_t grid_x = visible.left - dc.corner_x, grid_y = visible.top - dc.corner_y;
  auto first = [](std::int64_t from, std::int64_t grid) {
    const std::int64_t k =
        (from - grid) >= 0 ? (from - grid) / kTile : -((grid - from + kTile - 1) / kTile);
    return grid + k * kTile;
  };
  const std::int64_t scratch_w = std::min<std::int64_t>(kTile, extent_right - extent_left);
  const std::int64_t scratch_h = std::min<std::int64_t>(kTile, extent_bottom - extent_top);
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, std::int32_t(scratch_w));
  if (stride <= 0) return RET_NO_MEMORY;
  auto* scratch =
      static_cast<std::uint8_t*>(kernel::allocate(std::size_t(stride), std::size_t(scratch_h)));
  if (!scratch) return RET_NO_MEMORY;
  int result = RET_SUCCESS;
  const P corner{double(dc.corner_x), double(dc.corner_y)};
  for (std::int64_t gy = first(visible.top, grid_y); gy < visible.bottom && result == RET_SUCCESS;
       gy += kTile) {
    for (std::int64_t gx = first(visible.left, grid_x); gx < visible.right; gx += kTile) {
      const std::int64_t left = std::max<std::int64_t>(gx, visible.left);
      const std::int64_t top = std::max<std::int64_t>(gy, visible.top);
      const std::int64_t right = std::min<std::int64_t>(gx + kTile, visible.right);
      const std::int64_t bottom = std::min<std::int64_t>(gy + kTile, visible.bottom);
      Tile t{std::int32_t(left),         std::int32_t(top), std::int32_t(right - left),
             std::int32_t(bottom - top), scratch,           stride};
      t.pad_left = std::int32_t(left - std::max(gx, extent_left));
      t.pad_top = std::int32_t(top - std::max(gy, extent_top));
      t.pad_right = std::int32_t(std::min(gx + kTile, extent_right) - right);
      t.pad_bottom = std::int32_t(std::min(gy + kTile, extent_bottom) - bottom);
      copy_to_scratch(bitmap, t);
      result = paint_tile(drawing, t, origin_row, origin_column, dc.scale_x, dc.scale_y, corner);
      if (result != RET_SUCCESS) break;
      copy_from_scratch(bitmap, t);
    }
  }
  kernel::free(scratch);
  return result;
}

}  // namespace

int paint_drawing(kernel::DrawingContext* dc, const vector::Drawing& drawing, double origin_row,
                  double origin_column, std::uint32_t background) {
  (void)background;  // the canvas already shows it; painting blends over the canvas
  if (!dc) return RET_INVALID_PARAMETER;
  if (int r = check_canvas(dc->bitmap); r != RET_SUCCESS) return r;
  kernel::Bitmap* bitmap = dc->bitmap;
  if (!std::isfinite(origin_row) || !std::isfinite(origin_column)) return RET_INVALID_PARAMETER;
  kernel::Rect visible;
  if (!kernel::intersect_rect(dc->clip, kernel::Rect{0, 0, bitmap->width, bitmap->height},
                              &visible))
    return RET_SUCCESS;
  if (drawing.objects.count == 0) return RET_SUCCESS;
  const double sx = dc->scale_x, sy = dc->scale_y;
  if (!(std::isfinite(sx) && std::isfinite(sy) && sx > 0 && sy > 0)) return RET_INVALID_PARAMETER;
  const kernel::Rect& pad = dc->beyond;
  if (pad.left < 0 || pad.top < 0 || pad.right < 0 || pad.bottom < 0 || pad.left > kTile ||
      pad.top > kTile || pad.right > kTile || pad.bottom > kTile)
    return RET_INVALID_PARAMETER;
  return paint_tiles(*bitmap, visible, drawing, origin_row, origin_column, *dc);
}

}  // namespace vector
