// The binary CGM encoder behind save_vector_to_memory: a vector::Drawing written as the
// one-picture metafile of the NITF profile (MIL-STD-2301A) that cgm_read loads back.
//
// The drawing is written twice by the same code: once into a counting sink, which finds
// every value the profile cannot carry and the exact size before anything is allocated,
// then into the global memory block of that size. Attribute elements are written only
// where the reader's state would differ from the object's, so the reader gives every
// object back with its own attributes.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <kvntfu.h>

#include "fileformat/save.h"
#include "vector/drawing.h"

namespace fileformat {
namespace {

using vector::Attributes;
using vector::Drawing;
using vector::Object;
using vector::ObjectKind;

// An LS field has six digits.
constexpr std::size_t kMaxMetafileBytes = 999999;
// The profile's limit for every string parameter (names, description, text).
constexpr std::size_t kMaxStringBytes = 1024;
// A partition of a long element; even, so no piece but the last needs a pad byte.
constexpr std::size_t kPieceBytes = 32766;
// 16-bit VDC, kept symmetric so that negating y never leaves the range.
constexpr std::int32_t kMaxVdc = 32767;
constexpr char kProducer[] = "Kvntfu 0.1";

// Counts bytes, and stores them too once it has somewhere to put them.
class Sink {
 public:
  explicit Sink(std::uint8_t* out = nullptr) : out_(out) {}
  void put(std::uint8_t b) {
    if (out_) out_[size_] = b;
    ++size_;
  }
  void put16(std::int32_t v) {
    put(std::uint8_t(v >> 8 & 0xFF));
    put(std::uint8_t(v & 0xFF));
  }
  std::size_t size() const { return size_; }

 private:
  std::uint8_t* out_;
  std::size_t size_ = 0;
};

// A string parameter's bytes: a length byte, or 255 and one 15-bit length word.
std::size_t string_bytes(std::size_t n) {
  return n < 255 ? 1 + n : 3 + n;
}

// One element whose parameter length is known in advance: the header in the short form
// below 31 bytes, the long form up to 32767 and partitions beyond, each piece with its
// own length word and the last one's pad byte.
class Element {
 public:
  Element(Sink* sink, int cls, int id, std::size_t length)
      : sink_(sink), left_(length), length_(length) {
    const std::int32_t head = cls << 12 | id << 5;
    if (length < 31) {
      sink_->put16(head | std::int32_t(length));
      piece_left_ = length;
    } else {
      sink_->put16(head | 31);
      start_piece();
    }
  }
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;
  ~Element() {
    assert(left_ == 0 && "an element's declared length must match what it wrote");
    if (length_ & 1) sink_->put(0);
  }

  void u8(std::uint8_t v) {
    if (piece_left_ == 0) start_piece();
    sink_->put(v);
    --piece_left_;
    --left_;
  }
  void i16(std::int32_t v) {
    u8(std::uint8_t(v >> 8 & 0xFF));
    u8(std::uint8_t(v & 0xFF));
  }
  void bytes(const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) u8(std::uint8_t(s[i]));
  }
  void string(const char* s, std::size_t n) {
    assert(n <= kMaxStringBytes);
    if (n < 255) {
      u8(std::uint8_t(n));
    } else {
      u8(255);
      i16(std::int32_t(n));
    }
    bytes(s, n);
  }
  // 0x00BBGGRR as three 8-bit components, red first.
  void colour(std::uint32_t c) {
    u8(std::uint8_t(c & 0xFF));
    u8(std::uint8_t(c >> 8 & 0xFF));
    u8(std::uint8_t(c >> 16 & 0xFF));
  }
  // A real in the default 16.16 fixed-point precision, given in units of 2^-16.
  void fixed(std::int32_t v) {
    const std::int32_t whole = v >> 16;  // floor, as the fraction is unsigned
    i16(whole);
    i16(v & 0xFFFF);
  }

 private:
  void start_piece() {
    const std::size_t n = left_ <= 32767 ? left_ : kPieceBytes;
    sink_->put16(std::int32_t((n < left_ ? 0x8000 : 0) | n));
    piece_left_ = n;
  }

  Sink* sink_;
  std::size_t left_, piece_left_ = 0;
  const std::size_t length_;
};

// --- values the profile can carry ---------------------------------------------------

// VDC are integers: a coordinate is rounded to the nearest (halves away from zero) and
// refused beyond +-32767; NaN and infinities fail the comparison too.
bool to_vdc(double v, std::int32_t* out) {
  if (!(v > -kMaxVdc - 0.5 && v < kMaxVdc + 0.5)) return false;
  *out = std::int32_t(std::lround(v));
  return true;
}

bool fits16(std::int64_t v) {
  return v >= -32768 && v <= 32767;
}

// A real in units of 2^-16, rounded; false outside what 16.16 holds.
bool to_fixed(double v, std::int32_t* out) {
  const double scaled = std::round(v * 65536.0);
  if (!(scaled >= -2147483648.0 && scaled <= 2147483647.0)) return false;
  *out = std::int32_t(scaled);
  return true;
}

// Direction vectors only say which way: integral ones within range are written as they
// are; others are scaled together (keeping their ratio) until the largest component is
// 32767, then rounded. Mirrored (y negated) for the downward extent, as points are.
bool to_directions(const vector::Point2* in, std::size_t count, std::int32_t* out) {
  double largest = 0;
  bool integral = true;
  for (std::size_t i = 0; i < count; ++i)
    for (double v : {in[i].x, in[i].y}) {
      if (!std::isfinite(v)) return false;
      largest = std::max(largest, std::fabs(v));
      integral = integral && v == std::floor(v);
    }
  const double scale = integral && largest <= kMaxVdc ? 1.0 : largest > 0 ? kMaxVdc / largest : 1;
  for (std::size_t i = 0; i < count; ++i) {
    out[2 * i] = std::int32_t(std::lround(in[i].x * scale));
    out[2 * i + 1] = std::int32_t(std::lround(-in[i].y * scale));
  }
  return true;
}

// What the picture fixes for all objects.
struct Layout {
  std::int32_t line_mode = 1, edge_mode = 1;  // width modes: 0 absolute, 1 scaled
  std::int32_t extent[4] = {};                // VDC: (left, top), (right, bottom)
  char name[vector::kLayerNameRoom] = {};     // picture (and metafile) name
  char description[96] = {};                  // METAFILE DESCRIPTION
  bool default_font = false;                  // HELVETICA for text without fonts
};

// Absolute widths are VDC integers (the reader takes their magnitude): the mode stays
// absolute only when every object asks for it with widths it holds exactly; otherwise
// widths go as 16.16 reals in the scaled mode, which the painter reads the same way.
bool absolute_widths(const Drawing& d, bool edge) {
  for (std::uint32_t i = 0; i < d.objects.count; ++i) {
    const Attributes& a = d.objects.begin()[i].attributes;
    const std::int32_t mode = edge ? a.edge_width_mode : a.line_width_mode;
    const double w = edge ? a.edge_width : a.line_width;
    if (mode != 0 || !(w >= 0 && w <= kMaxVdc) || w != std::floor(w)) return false;
  }
  return true;
}

double clamp_vdc(double v) {
  return std::isnan(v) ? 0 : std::clamp(v, double(-kMaxVdc), double(kMaxVdc));
}

// The declared extent when the drawing has one, else the box around its objects, rounded
// outward; VDC y runs downward, and both sides are kept at least one unit long so the
// reader sees the direction.
void choose_extent(const Drawing& d, Layout* layout) {
  vector::Point3 lo{d.extent_lower.x, d.extent_lower.y, 0};
  vector::Point3 hi{d.extent_upper.x, d.extent_upper.y, 0};
  if (!d.has_extent) vector::bounds(&d, &lo, &hi);
  std::int32_t* e = layout->extent;
  e[0] = std::int32_t(clamp_vdc(std::floor(lo.x)));
  e[1] = std::int32_t(clamp_vdc(std::ceil(-lo.y)));
  e[2] = std::int32_t(clamp_vdc(std::ceil(hi.x)));
  e[3] = std::int32_t(clamp_vdc(std::floor(-hi.y)));
  if (e[2] <= e[0]) {
    if (e[0] < kMaxVdc)
      e[2] = e[0] + 1;
    else
      e[0] = e[2] - 1;
  }
  if (e[1] <= e[3]) {
    if (e[3] > -kMaxVdc)
      e[3] = e[1] - 1;
    else
      e[1] = e[3] + 1;
  }
}

// The picture takes the name of the first object's layer (one byte a unit; units above
// 0xFF become '?').
void choose_name(const Drawing& d, Layout* layout) {
  const std::int32_t layer = d.objects.begin()[0].layer;
  if (layer < 0 || std::uint32_t(layer) >= d.layers.count) return;
  const char16_t* name = d.layers.begin()[layer].name;
  for (std::size_t i = 0; i + 1 < vector::kLayerNameRoom && name[i]; ++i)
    layout->name[i] = name[i] <= 0xFF ? char(name[i]) : '?';
}

// The profile's identification, with the producer and the date of writing (from
// SOURCE_DATE_EPOCH when set, so that builds can make identical files).
void describe(Layout* layout) {
  std::time_t now = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch)
    now = std::time_t(std::strtoll(epoch, nullptr, 10));
  std::tm utc{};
  if (!gmtime_r(&now, &utc)) utc = std::tm{};
  char date[16] = {};
  std::strftime(date, sizeof date, "%Y%m%d", &utc);
  std::snprintf(layout->description, sizeof layout->description,
                "NITF/CGM;ProfileEd:2301-2/Source:%s;Date:%s", kProducer, date);
}

Layout choose_layout(const Drawing& d) {
  Layout layout;
  describe(&layout);
  layout.line_mode = absolute_widths(d, false) ? 0 : 1;
  layout.edge_mode = absolute_widths(d, true) ? 0 : 1;
  choose_extent(d, &layout);
  choose_name(d, &layout);
  if (d.fonts.count == 0)
    for (std::uint32_t i = 0; i < d.objects.count && !layout.default_font; ++i)
      layout.default_font = d.objects.begin()[i].kind == ObjectKind::kText;
  return layout;
}

// --- attributes -------------------------------------------------------------------------

// An object's attributes as the elements carry them; the reader's state is kept in the
// same form, so comparing the two says which elements an object needs.
struct Encoded {
  std::int32_t line_type = 1, line_width = 0;
  std::uint32_t line_colour = 0;
  std::int32_t edge_type = 1, edge_width = 0, edge_visible = 0;
  std::uint32_t edge_colour = 0, fill_colour = 0;
  std::int32_t interior = 0, hatch = 1;
  std::uint32_t text_colour = 0;
  std::int32_t font = 0;  // the FONT LIST's index from 1; 0 for none
  std::int32_t height = 1;
  std::int32_t orientation[4] = {0, 1, 1, 0};
};

// The reader's state at BEGIN PICTURE BODY: the default attributes (a width of 1 in
// either mode, the up vector (0, 1) in world coordinates) in this picture's encoding.
Encoded initial_state(const Layout& layout) {
  Encoded s;
  s.line_width = layout.line_mode == 0 ? 1 : 65536;
  s.edge_width = layout.edge_mode == 0 ? 1 : 65536;
  s.orientation[1] = -1;
  return s;
}

bool encode_width(double w, std::int32_t mode, std::int32_t* out) {
  if (mode != 0) return to_fixed(w, out);
  return to_vdc(w, out);
}

// RET_INVALID_PARAMETER for a value the profile cannot carry. A colour keeps its low
// three bytes; an edge visibility other than 0 is on; a font past the drawing's table is
// written as none, which is what the reader makes of it.
std::int32_t encode(const Drawing& d, const Attributes& a, const Layout& layout, Encoded* e) {
  if (!fits16(a.line_type) || !fits16(a.edge_type) || !fits16(a.hatch_index))
    return RET_INVALID_PARAMETER;
  const std::int32_t interior = std::int32_t(a.interior_style);
  if (interior < 0 || interior > 4) return RET_INVALID_PARAMETER;
  if (!encode_width(a.line_width, layout.line_mode, &e->line_width) ||
      !encode_width(a.edge_width, layout.edge_mode, &e->edge_width) ||
      !to_vdc(std::fabs(a.character_height), &e->height))
    return RET_INVALID_PARAMETER;
  const vector::Point2 orientation[2] = {a.up, a.base};
  if (!to_directions(orientation, 2, e->orientation)) return RET_INVALID_PARAMETER;
  e->line_type = a.line_type;
  e->edge_type = a.edge_type;
  e->hatch = a.hatch_index;
  e->interior = interior;
  e->line_colour = a.line_colour & 0xFFFFFF;
  e->edge_colour = a.edge_colour & 0xFFFFFF;
  e->fill_colour = a.fill_colour & 0xFFFFFF;
  e->text_colour = a.text_colour & 0xFFFFFF;
  e->edge_visible = a.edge_visible != 0;
  e->font = a.font >= 0 && std::uint32_t(a.font) < d.fonts.count ? a.font + 1 : 0;
  return RET_SUCCESS;
}

// --- the metafile -------------------------------------------------------------------------

class Writer {
 public:
  Writer(const Drawing& d, const Layout& layout, Sink* sink)
      : d_(d), layout_(layout), sink_(sink), state_(initial_state(layout)) {}

  std::int32_t run() {
    metafile_header();
    picture_header();
    empty(0, 4);  // BEGIN PICTURE BODY
    for (std::uint32_t i = 0; i < d_.objects.count; ++i)
      if (std::int32_t r = object(d_.objects.begin()[i]); r != RET_SUCCESS) return r;
    empty(0, 5);  // END PICTURE
    empty(0, 2);  // END METAFILE
    return RET_SUCCESS;
  }

 private:
  void empty(int cls, int id) { Element e(sink_, cls, id, 0); }
  void name(int cls, int id, const char* s) {
    const std::size_t n = std::strlen(s);
    Element e(sink_, cls, id, string_bytes(n));
    e.string(s, n);
  }
  void index(int cls, int id, std::int32_t v) {
    Element e(sink_, cls, id, 2);
    e.i16(v);
  }
  void colour(int id, std::uint32_t c) {
    Element e(sink_, 5, id, 3);
    e.colour(c);
  }

  void metafile_header() {
    name(0, 1, layout_.name);  // BEGIN METAFILE
    index(1, 1, 1);            // METAFILE VERSION
    {
      // METAFILE ELEMENT LIST: the drawing-plus-control set, as NITF producers write.
      Element e(sink_, 1, 11, 6);
      e.i16(1);
      e.i16(-1);
      e.i16(1);
    }
    name(1, 2, layout_.description);  // METAFILE DESCRIPTION
    font_list();
  }

  void font_list() {
    if (layout_.default_font) return name(1, 13, "HELVETICA");
    if (d_.fonts.count == 0) return;
    std::size_t length = 0;
    for (std::uint32_t i = 0; i < d_.fonts.count; ++i)
      length += string_bytes(::strnlen(d_.fonts.begin()[i].name, vector::kFontNameRoom));
    Element e(sink_, 1, 13, length);
    for (std::uint32_t i = 0; i < d_.fonts.count; ++i) {
      const char* f = d_.fonts.begin()[i].name;
      e.string(f, ::strnlen(f, vector::kFontNameRoom));
    }
  }

  void picture_header() {
    name(0, 3, layout_.name);        // BEGIN PICTURE
    index(2, 2, 1);                  // COLOUR SELECTION MODE: direct
    index(2, 5, layout_.edge_mode);  // how edge widths are given
    index(2, 3, layout_.line_mode);  // how line widths are given
    Element e(sink_, 2, 6, 8);       // VDC EXTENT
    for (std::int32_t v : layout_.extent) e.i16(v);
  }

  std::int32_t object(const Object& o) {
    Encoded target;
    if (std::int32_t r = encode(d_, o.attributes, layout_, &target); r != RET_SUCCESS) return r;
    line_attributes(target);
    edge_attributes(target);
    fill_attributes(target);
    text_attributes(target);
    state_ = target;
    return primitive(o);
  }

  void width(int id, std::int32_t mode, std::int32_t v) {
    Element e(sink_, 5, id, mode == 0 ? 2 : 4);
    if (mode == 0)
      e.i16(v);
    else
      e.fixed(v);
  }

  void line_attributes(const Encoded& t) {
    if (t.line_type != state_.line_type) index(5, 2, t.line_type);
    if (t.line_width != state_.line_width) width(3, layout_.line_mode, t.line_width);
    if (t.line_colour != state_.line_colour) colour(4, t.line_colour);
  }
  void edge_attributes(const Encoded& t) {
    if (t.edge_type != state_.edge_type) index(5, 27, t.edge_type);
    if (t.edge_width != state_.edge_width) width(28, layout_.edge_mode, t.edge_width);
    if (t.edge_colour != state_.edge_colour) colour(29, t.edge_colour);
    if (t.edge_visible != state_.edge_visible) index(5, 30, t.edge_visible);
  }
  void fill_attributes(const Encoded& t) {
    if (t.interior != state_.interior) index(5, 22, t.interior);
    if (t.fill_colour != state_.fill_colour) colour(23, t.fill_colour);
    if (t.hatch != state_.hatch) index(5, 24, t.hatch);
  }
  void text_attributes(const Encoded& t) {
    if (t.font != state_.font) index(5, 10, t.font);
    if (t.text_colour != state_.text_colour) colour(14, t.text_colour);
    if (t.height != state_.height) index(5, 15, t.height);
    if (!std::equal(t.orientation, t.orientation + 4, state_.orientation)) {
      Element e(sink_, 5, 16, 8);
      for (std::int32_t v : t.orientation) e.i16(v);
    }
  }

  // --- primitives

  // Positions as VDC: world y is negated for the downward extent.
  bool points(const Object& o, std::uint32_t count, std::int32_t* out) const {
    const vector::Vertex* p = d_.points.begin() + o.first_point;
    for (std::uint32_t i = 0; i < count; ++i)
      if (!to_vdc(p[i].x, &out[2 * i]) || !to_vdc(-p[i].y, &out[2 * i + 1])) return false;
    return true;
  }

  std::int32_t primitive(const Object& o) {
    switch (o.kind) {
      case ObjectKind::kPolyline:
        return vertex_list(o, 1, false);
      case ObjectKind::kPolygon:
        return vertex_list(o, 7, false);
      case ObjectKind::kPolygonSet:
        return vertex_list(o, 8, true);
      case ObjectKind::kRectangle:
        return fixed_points(o, 11, 2);
      case ObjectKind::kEllipse:
        return fixed_points(o, 17, 3);
      case ObjectKind::kCircle:
        return circle(o);
      case ObjectKind::kCircularArc:
        return circular_arc(o);
      case ObjectKind::kEllipticalArc:
        return elliptical_arc(o);
      case ObjectKind::kText:
        return text(o);
    }
    return RET_INVALID_PARAMETER;
  }

  // POLYLINE, POLYGON, POLYGON SET (each vertex with its edge-out flag). Checked in one
  // pass before the element starts, so a refusal leaves no half-written element.
  std::int32_t vertex_list(const Object& o, int id, bool flags) {
    const vector::Vertex* p = d_.points.begin() + o.first_point;
    std::int32_t xy[2] = {0, 0};
    for (std::uint32_t i = 0; i < o.point_count; ++i)
      if (!to_vdc(p[i].x, &xy[0]) || !to_vdc(-p[i].y, &xy[1]) || (flags && !fits16(p[i].edge)))
        return RET_INVALID_PARAMETER;
    Element e(sink_, 4, id, std::size_t(o.point_count) * (flags ? 6 : 4));
    for (std::uint32_t i = 0; i < o.point_count; ++i) {
      to_vdc(p[i].x, &xy[0]);
      to_vdc(-p[i].y, &xy[1]);
      e.i16(xy[0]);
      e.i16(xy[1]);
      if (flags) e.i16(p[i].edge);
    }
    return RET_SUCCESS;
  }

  // RECTANGLE (two corners) and ELLIPSE (centre and two conjugate diameter ends).
  std::int32_t fixed_points(const Object& o, int id, std::uint32_t count) {
    std::int32_t v[6];
    if (!points(o, count, v)) return RET_INVALID_PARAMETER;
    Element e(sink_, 4, id, count * 4);
    for (std::uint32_t i = 0; i < 2 * count; ++i) e.i16(v[i]);
    return RET_SUCCESS;
  }

  std::int32_t circle(const Object& o) {
    std::int32_t v[3];
    if (!points(o, 1, v) || !to_vdc(std::fabs(o.radius), &v[2])) return RET_INVALID_PARAMETER;
    Element e(sink_, 4, 12, 6);
    for (std::int32_t x : v) e.i16(x);
    return RET_SUCCESS;
  }

  static bool closed(const Object& o) {
    return o.closure == vector::ArcClosure::kPie || o.closure == vector::ArcClosure::kChord;
  }

  // CIRCULAR ARC CENTRE (CLOSE). Mirrored, the counter-clockwise sweep from start to end
  // runs clockwise, so the ends are exchanged (the reader exchanges them back).
  std::int32_t circular_arc(const Object& o) {
    std::int32_t v[9];
    const vector::Point2 ends[2] = {o.end, o.start};
    if (!points(o, 1, v) || !to_directions(ends, 2, &v[2]) || !to_vdc(std::fabs(o.radius), &v[6]))
      return RET_INVALID_PARAMETER;
    return arc(o, 16, v, 7);
  }

  // ELLIPTICAL ARC (CLOSE): its sense follows the conjugate diameters, which mirror with
  // the points, so the ends keep their order.
  std::int32_t elliptical_arc(const Object& o) {
    std::int32_t v[11];
    const vector::Point2 ends[2] = {o.start, o.end};
    if (!points(o, 3, v) || !to_directions(ends, 2, &v[6])) return RET_INVALID_PARAMETER;
    return arc(o, 19, v, 10);
  }

  // The open form's id is one below the closed form's, which adds the close type
  // (0 pie, 1 chord).
  std::int32_t arc(const Object& o, int closed_id, const std::int32_t* v, std::size_t count) {
    const bool close = closed(o);
    Element e(sink_, 4, close ? closed_id : closed_id - 1, 2 * (count + close));
    for (std::size_t i = 0; i < count; ++i) e.i16(v[i]);
    if (close) e.i16(o.closure == vector::ArcClosure::kChord ? 1 : 0);
    return RET_SUCCESS;
  }

  // TEXT, final, at its anchor.
  std::int32_t text(const Object& o) {
    std::int32_t v[2];
    if (!points(o, 1, v) || o.text_length > kMaxStringBytes) return RET_INVALID_PARAMETER;
    Element e(sink_, 4, 4, 6 + string_bytes(o.text_length));
    e.i16(v[0]);
    e.i16(v[1]);
    e.i16(1);
    e.string(d_.text.begin() + o.text_offset, o.text_length);
    return RET_SUCCESS;
  }

  const Drawing& d_;
  const Layout& layout_;
  Sink* sink_;
  Encoded state_;
};

std::uint32_t minimum_points(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::kRectangle:
      return 2;
    case ObjectKind::kEllipse:
    case ObjectKind::kEllipticalArc:
      return 3;
    default:
      return 1;
  }
}

// Objects whose ranges leave the drawing's pools cannot come from add_object; they are
// refused rather than read past.
std::int32_t check_pools(const Drawing& d) {
  if (d.objects.count == 0) return RET_EMPTY_VECTOR;
  for (std::uint32_t i = 0; i < d.objects.count; ++i) {
    const Object& o = d.objects.begin()[i];
    if (o.point_count < minimum_points(o.kind) || o.first_point > d.points.count ||
        o.point_count > d.points.count - o.first_point || o.text_offset > d.text.count ||
        o.text_length > d.text.count - o.text_offset)
      return RET_INVALID_PARAMETER;
  }
  return RET_SUCCESS;
}

}  // namespace

int default_save_options(void* options, std::uint32_t size) {
  if (!options || size != kSaveOptionsSize) return RET_INVALID_PARAMETER;
  std::memset(options, 0, size);
  std::memcpy(options, &size, sizeof size);
  return RET_SUCCESS;
}

int save_vector_to_memory(kernel::GlobalMemory** handle, const vector::Drawing* drawing,
                          std::int32_t format, std::uint32_t* size, const void* /*options*/) {
  if (!handle || !size) return RET_INVALID_PARAMETER;
  *handle = nullptr;
  *size = 0;
  if (format != kSaveCgm) return RET_FILE_FORMAT;
  if (!drawing) return RET_MISSING_DATA;
  if (std::int32_t r = check_pools(*drawing); r != RET_SUCCESS) return r;

  const Layout layout = choose_layout(*drawing);
  Sink counter;
  if (std::int32_t r = Writer(*drawing, layout, &counter).run(); r != RET_SUCCESS) return r;
  if (counter.size() > kMaxMetafileBytes) return RET_INVALID_PARAMETER;

  kernel::GlobalMemory* block = kernel::global_alloc(counter.size());
  if (!block) return RET_NO_MEMORY;
  Sink out(static_cast<std::uint8_t*>(kernel::global_lock(block)));
  [[maybe_unused]] const std::int32_t r = Writer(*drawing, layout, &out).run();
  kernel::global_unlock(block);
  assert(r == RET_SUCCESS && out.size() == counter.size());
  *handle = block;
  *size = std::uint32_t(counter.size());
  return RET_SUCCESS;
}

}  // namespace fileformat
