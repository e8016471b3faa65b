// The CGM reader and writer. Metafiles built element by element here (header forms,
// partitions, padding, precisions, defaults, the y direction) must read as the drawings
// they describe; every real CGM segment of the samples must read inside its extent and
// come back object for object once written, in elements the reader knows; hostile data
// (cut short, overwritten, lying lengths, absurd numbers, too many objects) must give a
// code and leave an empty drawing and nothing allocated behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "fileformat/cgm_read.h"
#include "fileformat/save.h"
#include "kernel/memory.h"
#include "nitfgen_cgm.h"
#include "testing.h"
#include "vector/drawing.h"

namespace {

using namespace nitfgen::cgm;
using vector::ObjectKind;
using HostCgm = testing_support::LeakChecked;

struct Drawing : vector::Drawing {
  Drawing() = default;
  Drawing(const Drawing&) = delete;
  ~Drawing() { vector::release(this); }
  int load(const Bytes& b, std::size_t size = ~std::size_t{0}) {
    return fileformat::load_vector_from_memory(b.data(), this,
                                               std::uint32_t(std::min(size, b.size())), nullptr);
  }
  void add(ObjectKind kind, std::vector<vector::Vertex> v, vector::ObjectDescription d = {}) {
    d.points = v.data();
    d.point_count = std::uint32_t(v.size());
    ASSERT_EQ(vector::add_object(this, 0, kind, &d, 0), 1);
  }
};

template <class T>
std::string show(T v) {
  std::ostringstream s;
  s.precision(17);
  if constexpr (std::is_enum_v<T>) {
    s << int(v);
  } else if constexpr (std::is_integral_v<T>) {
    s << std::hex << v;
  } else {
    s << (v == 0 ? 0.0 : v);  // -0 (a flipped 0) is 0
  }
  return s.str();
}

std::string show(vector::Point2 p) {
  return show(p.x) + "," + show(p.y);
}

// Attributes as name=value words, integers in hex.
std::vector<std::string> fields(const vector::Attributes& a) {
  std::istringstream words(
      "lt=" + show(a.line_type) + " lwm=" + show(a.line_width_mode) + " lw=" + show(a.line_width) +
      " lc=" + show(a.line_colour) + " et=" + show(a.edge_type) +
      " ewm=" + show(a.edge_width_mode) + " ew=" + show(a.edge_width) +
      " ec=" + show(a.edge_colour) + " ev=" + show(a.edge_visible) + " fc=" + show(a.fill_colour) +
      " is=" + show(a.interior_style) + " hi=" + show(a.hatch_index) +
      " tc=" + show(a.text_colour) + " font=" + show(a.font) + " ch=" + show(a.character_height) +
      " up=" + show(a.up) + " base=" + show(a.base));
  return {std::istream_iterator<std::string>(words), {}};
}

// The whole drawing as text: layers (* active), extent, fonts, the box round the objects,
// then each object: kind, layer, positions (with edge flags), radius, arc ends and
// closure, text, and the attributes that differ from the defaults.
std::string dump(const vector::Drawing& d, bool extent = true) {
  static const char* const kKinds[] = {"?",   "?",   "line",   "rect", "?",    "?",   "gon",
                                       "ell", "set", "circle", "arc",  "earc", "text"};
  std::ostringstream s;
  s << '[';
  for (std::uint32_t i = 0; i < d.layers.count; ++i) {
    for (const char16_t* c = d.layers.begin()[i].name; *c; ++c) s << char(*c);
    s << (d.layers.begin()[i].active ? "*" : "") << (i + 1 < d.layers.count ? " " : "");
  }
  s << ']';
  if (d.has_extent && extent) s << " ext " << show(d.extent_lower) << ':' << show(d.extent_upper);
  for (std::uint32_t i = 0; i < d.fonts.count; ++i) s << " font " << d.fonts.begin()[i].name;
  vector::Point3 lo, hi;
  if (vector::bounds(&d, &lo, &hi) == 1)
    s << " box " << show(vector::Point2{lo.x, lo.y}) << ':' << show(vector::Point2{hi.x, hi.y});
  const auto plain = fields({});
  for (std::uint32_t i = 0; i < d.objects.count; ++i) {
    const vector::Object& o = d.objects.begin()[i];
    s << "; " << kKinds[int(o.kind)];
    if (o.layer) s << " L" << o.layer;
    for (std::uint32_t k = 0; k < o.point_count; ++k) {
      const vector::Vertex& v = d.points.begin()[o.first_point + k];
      s << ' ' << show(vector::Point2{v.x, v.y}) << (v.edge ? "e" + show(v.edge) : "");
    }
    if (o.kind == ObjectKind::kCircle || o.kind == ObjectKind::kCircularArc)
      s << " r" << show(o.radius);
    if (o.kind == ObjectKind::kCircularArc || o.kind == ObjectKind::kEllipticalArc)
      s << ' ' << show(o.start) << '>' << show(o.end) << " c" << show(o.closure);
    if (o.text_length)
      s << " '" << std::string(d.text.begin() + o.text_offset, o.text_length) << "'";
    const auto mine = fields(o.attributes);
    for (std::size_t f = 0; f < mine.size(); ++f)
      if (mine[f] != plain[f]) s << ' ' << mine[f];
  }
  return s.str();
}

struct Decoding {
  const char* name;
  Bytes bytes;
  const char* expected;  // the dump, when read
  int code = 1;
};

std::vector<Decoding> decodings() {
  Bytes partitioned_points, precisions, vdc32, wide_points, width, floats;
  for (int i = 0; i < 20; ++i) put16(partitioned_points, i * 10 - 50);
  // INTEGER PRECISION 32 (given at 16), so VDC INTEGER PRECISION comes as 32 bits;
  // COLOUR PRECISION and COLOUR INDEX PRECISION 16 and a COLOUR TABLE of 16-bit
  // components over the extent 0..1000; fixed-point 32/32 reals for a line width.
  put32(vdc32, 32);
  precisions =
      cat({element(1, 4, i16s({32})), element(1, 8, Bytes{0, 0, 0, 16}),
           element(1, 7, Bytes{0, 0, 0, 16}), element(1, 10, i16s({0, 0, 0, 1000, 1000, 1000})),
           element(1, 5, cat({i16s({1}), vdc32, vdc32}))});
  for (std::int64_t v : {100000, -2000000000, 7, 8}) put32(wide_points, v);
  put32(width, 2);            // whole
  put32(width, 0x80000000u);  // one half
  auto as_bits = [](float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
  };
  for (float f : {1.5f, -2.25f, 1e30f, 0.f}) put32(floats, as_bits(f));
  const Bytes real_vdc = element(1, 3, i16s({1})),
              float_precision = element(3, 2, i16s({0, 9, 23}));
  const Bytes arcs = cat({element(4, 1, i16s({10, 20, 30, 40})), element(5, 16, i16s({0, 1, 1, 0})),
                          element(4, 15, i16s({50, 60, 1, 0, 0, 1, 5}))});
  Bytes extremes;
  for (std::int64_t v : {-2147483648LL, 2147483647LL, 2147483647LL, -2147483648LL})
    put32(extremes, v);
  Bytes empty_pieces = cat({begin_metafile(), begin_picture(), picture_body()}), nan, many;
  Bytes huge = empty_pieces;
  put16(empty_pieces, 4 << 12 | 7 << 5 | 31);
  for (int i = 0; i < 50000; ++i) put16(empty_pieces, 0x8000);  // a header each, nothing more
  put16(empty_pieces, 0);
  put16(huge, 4 << 12 | 7 << 5 | 31);  // a million vertices claimed in full pieces
  for (int i = 0; i < 50; ++i) put16(huge, 0x8000 | 0x7FFE);
  for (float f : {1.f, std::numeric_limits<float>::quiet_NaN(), 0.f, 0.f}) put32(nan, as_bits(f));
  const Bytes circle = element(4, 12, i16s({1, 2, 3}));
  for (std::uint32_t i = 0; i <= vector::kMaxObjects; ++i)
    many.insert(many.end(), circle.begin(), circle.end());
  return {
      {"long form", metafile(element(4, 1, i16s({1, 2, 300, -400, 5, 6}), true)),
       "[p*] box 1,-400:300,6; line 1,2 300,-400 5,6"},
      // Pieces of 5, 3 and the rest split numbers in the middle and carry pad bytes.
      {"partitions", metafile(partitioned(4, 7, partitioned_points, {5, 3})),
       "[p*] box -50,-40:130,140; gon -50,-40 -30,-20 -10,0 10,20 30,40 50,60 70,80 90,100 110,120 "
       "130,140"},
      // BEGIN PICTURE "abcd" and a text of odd length, each followed by a pad.
      {"odd lengths",
       cat({begin_metafile(), begin_picture("abcd"), picture_body(),
            element(4, 4, cat({i16s({7, 8, 1}), str("odd")})), element(4, 12, i16s({10, 20, 5})),
            end_picture(), end_metafile()}),
       "[abcd*] box 5,8:15,25; text 7,8 'odd'; circle 10,20 r5"},
      // Indexed colour with 8-bit indexes (0 white, 1 black), 16-bit signed integers.
      {"index defaults",
       metafile(cat({element(5, 4, Bytes{0}), element(5, 2, i16s({3})),
                     element(4, 1, i16s({-32768, 32767, 0, 0})), element(5, 4, Bytes{1}),
                     element(4, 1, i16s({0, 0, 1, 1}))})),
       "[p*] box -32768,0:1,32767; line -32768,32767 0,0 lt=3 lc=ffffff; line 0,0 1,1 lt=3"},
      {"direct colour",
       metafile(cat({element(5, 23, Bytes{0x11, 0x22, 0x33}), element(5, 22, i16s({1})),
                     element(4, 11, i16s({0, 0, 4, 4}))}),
                element(2, 2, i16s({1}))),
       "[p*] box 0,0:4,4; rect 0,0 4,4 fc=332211 is=1"},
      {"precisions",
       metafile(cat({element(5, 34, i16s({5, 1000, 0, 500})), element(5, 4, i16s({5})),
                     element(5, 3, width), element(4, 1, wide_points)}),
                element(3, 1, vdc32), precisions),
       "[p*] box 7,-2000000000:100000,8; line 100000,-2000000000 7,8 lw=2.5 lc=8000ff"},
      {"float VDC", metafile(element(4, 1, floats), float_precision, real_vdc),
       "[p*] box 1.5,-2.25:1.0000000150474662e+30,0; line 1.5,-2.25 1.0000000150474662e+30,0"},
      {"downward", metafile(arcs, element(2, 6, i16s({0, 1000, 1000, 0}))),
       "[p*] ext 0,-1000:1000,0 box 10,-65:55,-20; line 10,-20 30,-40; arc 50,-60 r5 0,-1>1,0 c-1 "
       "up=0,-1"},
      {"upward", metafile(arcs, element(2, 6, i16s({0, 0, 1000, 1000}))),
       "[p*] ext 0,0:1000,1000 box 10,20:55,65; line 10,20 30,40; arc 50,60 r5 1,0>0,1 c-1"},
      // The direction is per picture: a second picture without an extent is upward.
      {"two pictures",
       cat({begin_metafile(), begin_picture("a"), element(2, 6, i16s({0, 100, 100, 0})),
            picture_body(), element(4, 12, i16s({1, 2, 3})), end_picture(), begin_picture("b"),
            picture_body(), element(4, 12, i16s({1, 2, 3})), end_picture(), end_metafile()}),
       "[a b*] ext 0,-100:100,0 box -2,-5:4,5; circle 1,-2 r3; circle L1 1,2 r3"},
      // A replacement holding a downward extent and direct colour sets every picture's start.
      {"defaults replacement",
       cat({begin_metafile(),
            element(1, 12,
                    cat({element(2, 6, i16s({0, 500, 500, 0})), element(2, 2, i16s({1})),
                         element(5, 4, Bytes{0, 0xFF, 0})})),
            begin_picture(), picture_body(), element(4, 1, i16s({1, 2, 3, 4})), end_picture(),
            end_metafile()}),
       "[p*] box 1,-4:3,-2; line 1,-2 3,-4 lc=ff00"},
      // Elements outside the drawings are skipped; the profile's arcs and ellipse read.
      {"skips and arcs",
       metafile(cat({element(4, 3, i16s({1, 1})), element(7, 2, Bytes(40, 0x55)),
                     element(9, 1, Bytes{1, 2, 3}),
                     element(4, 18, i16s({0, 0, 10, 0, 0, 5, 1, 0, 0, 1})),
                     element(4, 19, i16s({0, 0, 10, 0, 0, 5, 1, 0, 0, 1, 1})),
                     element(4, 16, i16s({0, 0, 1, 0, -1, 0, 7, 0})),
                     element(4, 17, i16s({100, 100, 110, 100, 100, 120}))})),
       "[p*] box -10,-7:110,120; earc 0,0 10,0 0,5 1,0>0,1 c-1; earc 0,0 10,0 0,5 1,0>0,1 c1; arc "
       "0,0 r7 1,0>-1,0 c0; ell 100,100 110,100 100,120"},
      {"extreme VDC",
       metafile(element(4, 11, extremes), element(3, 1, vdc32), element(1, 4, i16s({32}))),
       "[p*] box -2147483648,-2147483648:2147483647,2147483647; rect -2147483648,2147483647 "
       "2147483647,-2147483648"},
      {"empty pieces", cat({empty_pieces, end_picture(), end_metafile()}), "[p*]"},
      // Lengths past the data, numbers the reader cannot take, more objects than a drawing
      // holds: a code and an empty drawing.
      {"string past its element",
       metafile(element(4, 4, cat({i16s({1, 2, 1}), Bytes{200, 'a', 'b'}}))), "", RET_FILE_FORMAT},
      {"12-bit integers", metafile({}, {}, element(1, 4, i16s({12}))), "", RET_FILE_FORMAT},
      {"NaN", metafile(element(4, 1, nan), float_precision, real_vdc), "", RET_FILE_FORMAT},
      {"million vertices claimed", huge, "", RET_FILE_FORMAT},
      {"too many objects", metafile(many), "", RET_NO_MEMORY},
  };
}

TEST_F(HostCgm, Elements) {
  const auto start = std::chrono::steady_clock::now();
  for (const Decoding& c : decodings()) {
    Drawing d;
    ASSERT_EQ(d.load(c.bytes), c.code) << c.name;
    EXPECT_EQ(c.code == 1 ? dump(d) : "", c.expected) << c.name;
    EXPECT_TRUE(c.code == 1 || vector::is_empty(&d)) << c.name;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  // The longest string.
  const std::string text(1024, 'x');
  Drawing d;
  ASSERT_EQ(d.load(metafile(element(4, 4, cat({i16s({1, 2, 1}), str(text)})))), 1);
  EXPECT_EQ(std::string(d.text.begin(), d.text.count), text);
  Drawing fresh;
  EXPECT_EQ(fileformat::load_vector_from_memory(nullptr, &fresh, 0, nullptr), RET_FILE_FORMAT);
  EXPECT_EQ(fileformat::load_vector_from_memory("\0\x20", nullptr, 2, nullptr), RET_MISSING_DATA);
}

// --- writing ----------------------------------------------------------------------------

struct Element {
  int cls, id;
  Bytes params;
};

// An element walk of our own: header forms, partitions and pad bytes (which must be 0)
// are checked here, independently of the reader.
std::vector<Element> walk(const Bytes& b) {
  std::vector<Element> out;
  std::size_t at = 0;
  auto word = [&](int* w) {
    if (at + 2 > b.size()) return false;
    *w = b[at] << 8 | b[at + 1];
    at += 2;
    return true;
  };
  for (int head = 0; word(&head);) {
    Element e{head >> 12, head >> 5 & 0x7F, {}};
    const bool long_form = (head & 31) == 31;
    std::size_t n = head & 31;
    for (bool more = true; more;) {
      int w = 0;
      more = false;
      if (long_form && !word(&w)) return ADD_FAILURE() << "cut in a length word", out;
      if (long_form) more = w & 0x8000, n = w & 0x7FFF;
      if (at + n + (n & 1) > b.size()) return ADD_FAILURE() << "element past the end", out;
      e.params.insert(e.params.end(), b.begin() + long(at), b.begin() + long(at + n));
      EXPECT_TRUE(!(n & 1) || b[at + n] == 0) << "pad of " << e.cls << "," << e.id;
      at += n + (n & 1);
    }
    out.push_back(std::move(e));
  }
  EXPECT_EQ(at, b.size()) << "a header cut short";
  return out;
}

// What the reader understands of a profile metafile; anything else would be skipped.
bool known(const Element& e) {
  static const std::set<std::pair<int, int>> kKnown = {
      {0, 1},  {0, 2},  {0, 3},  {0, 4},  {0, 5},  {1, 1},  {1, 2},  {1, 11}, {1, 13}, {2, 2},
      {2, 3},  {2, 5},  {2, 6},  {4, 1},  {4, 4},  {4, 7},  {4, 8},  {4, 11}, {4, 12}, {4, 15},
      {4, 16}, {4, 17}, {4, 18}, {4, 19}, {5, 2},  {5, 3},  {5, 4},  {5, 10}, {5, 14}, {5, 15},
      {5, 16}, {5, 22}, {5, 23}, {5, 24}, {5, 27}, {5, 28}, {5, 29}, {5, 30}};
  return kKnown.count({e.cls, e.id}) != 0;
}

// Saves `d`; the bytes are empty on failure.
int save(const vector::Drawing& d, Bytes* bytes) {
  kernel::GlobalMemory* handle = nullptr;
  std::uint32_t size = 0;
  const int r =
      fileformat::save_vector_to_memory(&handle, &d, fileformat::kSaveCgm, &size, nullptr);
  bytes->clear();
  EXPECT_EQ(handle != nullptr, r == 1);
  if (r == 1) {
    const auto* p = static_cast<const std::uint8_t*>(kernel::global_lock(handle));
    bytes->assign(p, p + size);
    kernel::global_unlock(handle);
  }
  kernel::global_free(handle);
  return r;
}

// Saves, walks the elements and reads the bytes back into `back`: the same drawing (with
// the extent the writer gives a drawing without one).
void round_trip(const vector::Drawing& d, Drawing* back, Bytes* bytes) {
  ASSERT_EQ(save(d, bytes), 1);
  for (const Element& e : walk(*bytes)) EXPECT_TRUE(known(e)) << e.cls << "," << e.id;
  ASSERT_EQ(back->load(*bytes), 1);
  EXPECT_EQ(dump(*back, d.has_extent), dump(d));
}

// Every CGM graphic of the samples: it reads inside its declared extent, comes
// back the same once written, and written again gives the same bytes. Cut anywhere
// before END METAFILE, or with any byte overwritten, it gives a code and nothing else.
TEST_F(HostCgm, RealSegments) {
  REQUIRE_SAMPLES();
  const auto segments = testing_support::sample_cgm_segments();
  ASSERT_GE(segments.size(), 6u);
  for (const testing_support::SampleCgm& s : segments) {
    SCOPED_TRACE(s.file + " graphic " + std::to_string(s.index));
    Drawing first, second, third;
    ASSERT_EQ(first.load(s.data), 1);
    ASSERT_TRUE(first.objects.count > 0 && first.has_extent);
    for (std::uint32_t i = 0; i < first.points.count; ++i) {
      const vector::Vertex& v = first.points.begin()[i];
      EXPECT_TRUE(v.x >= first.extent_lower.x && v.x <= first.extent_upper.x);
      EXPECT_TRUE(v.y >= first.extent_lower.y && v.y <= first.extent_upper.y);
    }
    Bytes bytes, again;
    round_trip(first, &second, &bytes);
    round_trip(second, &third, &again);
    EXPECT_EQ(bytes, again);
    ASSERT_EQ(s.data.end()[-2] << 8 | s.data.end()[-1], 0x0040) << "END METAFILE last";
    for (std::size_t cut = 0; cut < s.data.size(); ++cut) {
      Drawing d;
      EXPECT_NE(d.load(s.data, cut), 1) << "cut at " << cut;
      EXPECT_TRUE(vector::is_empty(&d));
    }
    // 0x1F makes a header a long form.
    for (std::size_t at = 0; at < s.data.size(); ++at)
      for (std::uint8_t value : {0x00, 0xFF, 0x1F}) {
        Bytes b = s.data;
        b[at] = value;
        Drawing d;
        const int r = d.load(b);
        EXPECT_TRUE(r == 1 || r == RET_FILE_FORMAT || r == RET_NO_MEMORY) << r;
        EXPECT_TRUE(r == 1 || vector::is_empty(&d));
      }
  }
}

vector::ObjectDescription with(void (*change)(vector::Attributes&), double radius = 0) {
  vector::ObjectDescription d;
  change(d.attributes);
  d.radius = radius;
  return d;
}

vector::ObjectDescription arc(double sx, double sy, double ex, double ey, vector::ArcClosure c) {
  vector::ObjectDescription o;
  o.start = {sx, sy}, o.end = {ex, ey}, o.closure = c, o.radius = 40;
  return o;
}

TEST_F(HostCgm, EveryKindAndAttributeComesBack) {
  Drawing d;
  ASSERT_EQ(vector::add_font(&d, "TIMES_ROMAN", 11, nullptr), 1);
  ASSERT_EQ(vector::add_font(&d, "HELVETICA_BOLD", 14, nullptr), 1);
  using vector::ArcClosure;
  d.add(ObjectKind::kPolyline, {{-32767, 32767}, {32767, -32767}},
        with([](auto& a) { a.line_type = 4, a.line_width = 3.25, a.line_colour = 0x123456; }));
  d.add(ObjectKind::kPolygon, {{0, 0}, {10, 0}, {5, 9}}, with([](auto& a) {
          a.interior_style = vector::InteriorStyle::kHatch, a.hatch_index = 3;
          a.fill_colour = 0xFF00FF, a.edge_visible = 1, a.edge_type = 2;
          a.edge_width = 0.5, a.edge_colour = 0x00FF00;
        }));
  d.add(ObjectKind::kPolygonSet, {{0, 0, 1}, {10, 0, 0}, {5, 9, 3}, {1, 1, 2}});
  d.add(ObjectKind::kRectangle, {{-5, -6}, {70, 80}},
        with([](auto& a) { a.interior_style = vector::InteriorStyle::kSolid; }));
  d.add(ObjectKind::kCircle, {{100, -200}}, with([](auto&) {}, 25));
  d.add(ObjectKind::kCircularArc, {{1, 2}}, arc(1, 0, 0, 1, ArcClosure::kOpen));
  d.add(ObjectKind::kCircularArc, {{1, 2}}, arc(-3, 4, 5, -12, ArcClosure::kPie));
  d.add(ObjectKind::kCircularArc, {{1, 2}}, arc(0, -1, -1, 0, ArcClosure::kChord));
  d.add(ObjectKind::kEllipse, {{0, 0}, {30, 5}, {-4, 20}});
  for (auto c : {ArcClosure::kOpen, ArcClosure::kPie, ArcClosure::kChord})
    d.add(ObjectKind::kEllipticalArc, {{0, 0}, {30, 0}, {0, 20}}, arc(1, 1, -1, 2, c));
  vector::ObjectDescription t = with([](auto& a) {
    a.font = 1, a.text_colour = 0x0000FF, a.character_height = 12, a.up = {-1, 1}, a.base = {1, 1};
  });
  const std::string words(1024, 'w');
  t.text = words.data();
  t.text_length = std::uint32_t(words.size());
  d.add(ObjectKind::kText, {{7, -9}}, t);
  t.text = "back to no font";
  t.text_length = 15;
  t.attributes = {};
  d.add(ObjectKind::kText, {{7, -30}}, t);
  // 20,000 points are 80,000 bytes: a polyline in three pieces.
  std::vector<vector::Vertex> v(20000);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = {double(i % 30000), -double(i % 7), 0};
  d.add(ObjectKind::kPolyline, v);
  Drawing back;
  Bytes bytes;
  round_trip(d, &back, &bytes);
}

// Coordinates round to the nearest VDC integer within 16 bits, and what does not fit
// (coordinates, radius, 250,000 points, text beyond the profile's 1,024 characters) is
// refused.
TEST_F(HostCgm, WriterLimits) {
  struct Case {
    double x, y, radius;
    int result;
    const char* back;
  } cases[] = {
      {10.5, -10.5, 2.4, 1, "[Layer 1*] ext 8,-13:13,-8 box 9,-13:13,-9; circle 11,-11 r2"},
      {32767.49, -32767.49, 32767, 1,
       "[Layer 1*] ext 0,-32767:32767,0 box 0,-65534:65534,0; circle 32767,-32767 r32767"},
      {32767.5, 0, 1, RET_INVALID_PARAMETER, nullptr},
      {0, 32768, 1, RET_INVALID_PARAMETER, nullptr},
      {0, 0, 40000, RET_INVALID_PARAMETER, nullptr}};
  for (const Case& c : cases) {
    Drawing d, back;
    d.add(ObjectKind::kCircle, {{c.x, c.y}}, with([](auto&) {}, c.radius));
    Bytes bytes;
    ASSERT_EQ(save(d, &bytes), c.result) << c.x << "," << c.y;
    if (!c.back) continue;
    ASSERT_EQ(back.load(bytes), 1);
    EXPECT_EQ(dump(back), c.back);
  }
  Drawing points, text;
  points.add(ObjectKind::kPolygon, std::vector<vector::Vertex>(250000));
  const std::string long_text(1025, 'x');
  vector::ObjectDescription t;
  t.text = long_text.data();
  t.text_length = 1025;
  text.add(ObjectKind::kText, {{0, 0}}, t);
  Bytes bytes;
  EXPECT_EQ(save(points, &bytes), RET_INVALID_PARAMETER);
  EXPECT_EQ(save(text, &bytes), RET_INVALID_PARAMETER);
}

}  // namespace
