// The CGM writer against the CGM reader: every real CGM segment of the samples and
// drawings covering every object kind and attribute must come back object for object,
// in bytes that walk as well-formed elements the reader knows (none skipped); then the
// choices the bytes show (y direction, width modes, rounding, element forms) and the
// refusals at the limits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fileformat/cgm_read.h"
#include "fileformat/save.h"
#include "kernel/memory.h"
#include "nitfgen_cgm.h"
#include "testing.h"
#include "vector/drawing.h"

namespace {

using nitfgen::cgm::Bytes;
using vector::ObjectKind;

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
  int head = 0;
  while (word(&head)) {
    Element e{head >> 12, head >> 5 & 0x7F, {}};
    const bool long_form = (head & 31) == 31;
    std::size_t n = head & 31;
    bool more = false;
    do {
      int w = 0;
      if (long_form && !word(&w)) return ADD_FAILURE() << "cut in a length word", out;
      if (long_form) {
        more = w & 0x8000;
        n = w & 0x7FFF;
      }
      if (at + n + (n & 1) > b.size()) return ADD_FAILURE() << "element past the end", out;
      e.params.insert(e.params.end(), b.begin() + long(at), b.begin() + long(at + n));
      if (n & 1) {
        EXPECT_EQ(b[at + n], 0) << "pad of " << e.cls << "," << e.id;
      }
      at += n + (n & 1);
    } while (more);
    out.push_back(std::move(e));
  }
  EXPECT_EQ(at, b.size()) << "a header cut short";
  return out;
}

// What the reader understands of a profile metafile; anything else would be skipped.
bool known(int cls, int id) {
  static const std::set<std::pair<int, int>> kKnown = {
      {0, 1},  {0, 2},  {0, 3},  {0, 4},  {0, 5},  {1, 1},  {1, 2},  {1, 11}, {1, 13}, {2, 2},
      {2, 3},  {2, 5},  {2, 6},  {4, 1},  {4, 4},  {4, 7},  {4, 8},  {4, 11}, {4, 12}, {4, 15},
      {4, 16}, {4, 17}, {4, 18}, {4, 19}, {5, 2},  {5, 3},  {5, 4},  {5, 10}, {5, 14}, {5, 15},
      {5, 16}, {5, 22}, {5, 23}, {5, 24}, {5, 27}, {5, 28}, {5, 29}, {5, 30}};
  return kKnown.count({cls, id}) != 0;
}

struct Drawing : vector::Drawing {
  Drawing() = default;
  Drawing(const Drawing&) = delete;
  ~Drawing() { vector::release(this); }
  const vector::Object& object(std::uint32_t i) const { return objects.begin()[i]; }
  const vector::Vertex* at(const vector::Object& o) const { return points.begin() + o.first_point; }
  void add(ObjectKind kind, std::initializer_list<vector::Vertex> v, vector::ObjectDescription d) {
    std::vector<vector::Vertex> copy(v);
    d.points = copy.data();
    d.point_count = std::uint32_t(copy.size());
    ASSERT_EQ(vector::add_object(this, 0, kind, &d, 0), 1);
  }
};

// Saves `d`; the bytes are empty on failure.
int save(const vector::Drawing& d, Bytes* bytes) {
  kernel::GlobalMemory* handle = nullptr;
  std::uint32_t size = 0;
  const int r =
      fileformat::save_vector_to_memory(&handle, &d, fileformat::kSaveCgm, &size, nullptr);
  bytes->clear();
  if (r == 1) {
    EXPECT_EQ(kernel::global_size(handle), size);
    const auto* p = static_cast<const std::uint8_t*>(kernel::global_lock(handle));
    bytes->assign(p, p + size);
    kernel::global_unlock(handle);
  } else {
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(size, 0u);
  }
  kernel::global_free(handle);
  return r;
}

// Field by field: the struct has padding.
void expect_same(const vector::Attributes& a, const vector::Attributes& b) {
  EXPECT_TRUE(a.line_type == b.line_type && a.line_width_mode == b.line_width_mode &&
              a.line_width == b.line_width && a.line_colour == b.line_colour);
  EXPECT_TRUE(a.edge_type == b.edge_type && a.edge_width_mode == b.edge_width_mode &&
              a.edge_width == b.edge_width && a.edge_colour == b.edge_colour &&
              a.edge_visible == b.edge_visible);
  EXPECT_TRUE(a.fill_colour == b.fill_colour && a.interior_style == b.interior_style &&
              a.hatch_index == b.hatch_index);
  EXPECT_TRUE(a.text_colour == b.text_colour && a.font == b.font &&
              a.character_height == b.character_height && a.up.x == b.up.x && a.up.y == b.up.y &&
              a.base.x == b.base.x && a.base.y == b.base.y);
}

void expect_same(const vector::Drawing& a, const vector::Drawing& b) {
  ASSERT_EQ(a.objects.count, b.objects.count);
  ASSERT_EQ(a.fonts.count, b.fonts.count);
  for (std::uint32_t i = 0; i < a.fonts.count; ++i)
    EXPECT_STREQ(a.fonts.begin()[i].name, b.fonts.begin()[i].name);
  for (std::uint32_t i = 0; i < a.objects.count; ++i) {
    SCOPED_TRACE("object " + std::to_string(i));
    const vector::Object &x = a.objects.begin()[i], &y = b.objects.begin()[i];
    ASSERT_EQ(x.kind, y.kind);
    ASSERT_EQ(x.point_count, y.point_count);
    expect_same(x.attributes, y.attributes);
    // Radius, ends and closure belong to the kinds that have them.
    const bool circular = x.kind == ObjectKind::kCircle || x.kind == ObjectKind::kCircularArc;
    const bool arc = x.kind == ObjectKind::kCircularArc || x.kind == ObjectKind::kEllipticalArc;
    if (circular) {
      EXPECT_EQ(x.radius, y.radius);
    }
    if (arc) {
      EXPECT_EQ(x.closure, y.closure);
      EXPECT_TRUE(x.start.x == y.start.x && x.start.y == y.start.y);
      EXPECT_TRUE(x.end.x == y.end.x && x.end.y == y.end.y);
    }
    EXPECT_EQ(std::string(a.text.begin() + x.text_offset, x.text_length),
              std::string(b.text.begin() + y.text_offset, y.text_length));
    for (std::uint32_t k = 0; k < x.point_count; ++k) {
      const vector::Vertex &p = a.points.begin()[x.first_point + k],
                           &q = b.points.begin()[y.first_point + k];
      EXPECT_TRUE(p.x == q.x && p.y == q.y && p.edge == q.edge) << "point " << k;
    }
  }
}

// Saves, checks the element walk and loads the bytes back into `back`.
void round_trip(const vector::Drawing& d, Drawing* back, Bytes* bytes) {
  ASSERT_EQ(save(d, bytes), 1);
  for (const Element& e : walk(*bytes)) EXPECT_TRUE(known(e.cls, e.id)) << e.cls << "," << e.id;
  ASSERT_EQ(fileformat::load_vector_from_memory(bytes->data(), back, std::uint32_t(bytes->size()),
                                                nullptr),
            1);
  expect_same(d, *back);
}

using HostCgmWrite = testing_support::LeakChecked;

// Every CGM graphic of every sample (SFMT, byte 200 of the subheader, is "C").
TEST_F(HostCgmWrite, EveryRealSegmentComesBackObjectForObject) {
  REQUIRE_SAMPLES();
  int count = 0;
  for (const testing_support::SampleCgm& s : testing_support::sample_cgm_segments()) {
    SCOPED_TRACE(s.file + " graphic " + std::to_string(s.index));
    const Bytes& data = s.data;
    Drawing first, second, third;
    ASSERT_EQ(fileformat::load_vector_from_memory(data.data(), &first, std::uint32_t(data.size()),
                                                  nullptr),
              1);
    Bytes bytes, again;
    round_trip(first, &second, &bytes);
    EXPECT_TRUE(second.extent_lower.x == first.extent_lower.x &&
                second.extent_lower.y == first.extent_lower.y &&
                second.extent_upper.x == first.extent_upper.x &&
                second.extent_upper.y == first.extent_upper.y);
    EXPECT_EQ(std::u16string(second.layers.begin()[0].name),
              std::u16string(first.layers.begin()[0].name));
    // Writing what was read back gives the same bytes: nothing drifts.
    round_trip(second, &third, &again);
    EXPECT_EQ(bytes, again);
    ++count;
  }
  EXPECT_GE(count, 6);
}

vector::ObjectDescription with(void (*change)(vector::Attributes&)) {
  vector::ObjectDescription d;
  change(d.attributes);
  return d;
}

TEST_F(HostCgmWrite, EveryKindAndAttributeComesBack) {
  Drawing d;
  ASSERT_EQ(vector::add_font(&d, "TIMES_ROMAN", 11, nullptr), 1);
  ASSERT_EQ(vector::add_font(&d, "HELVETICA_BOLD", 14, nullptr), 1);
  auto arc = [](double sx, double sy, double ex, double ey, vector::ArcClosure c) {
    vector::ObjectDescription o;
    o.start = {sx, sy};
    o.end = {ex, ey};
    o.closure = c;
    o.radius = 40;
    return o;
  };
  d.add(ObjectKind::kPolyline, {{-32767, 32767, 0}, {32767, -32767, 0}}, with([](auto& a) {
          a.line_type = 4;
          a.line_width = 3.25;
          a.line_colour = 0x123456;
        }));
  d.add(ObjectKind::kPolygon, {{0, 0, 0}, {10, 0, 0}, {5, 9, 0}}, with([](auto& a) {
          a.interior_style = vector::InteriorStyle::kHatch;
          a.hatch_index = 3;
          a.fill_colour = 0xFF00FF;
          a.edge_visible = 1;
          a.edge_type = 2;
          a.edge_width = 0.5;
          a.edge_colour = 0x00FF00;
        }));
  d.add(ObjectKind::kPolygonSet, {{0, 0, 1}, {10, 0, 0}, {5, 9, 3}, {1, 1, 2}}, {});
  d.add(ObjectKind::kRectangle, {{-5, -6, 0}, {70, 80, 0}},
        with([](auto& a) { a.interior_style = vector::InteriorStyle::kSolid; }));
  d.add(ObjectKind::kCircle, {{100, -200, 0}}, [] {
    vector::ObjectDescription o;
    o.radius = 25;
    return o;
  }());
  d.add(ObjectKind::kCircularArc, {{1, 2, 0}}, arc(1, 0, 0, 1, vector::ArcClosure::kOpen));
  d.add(ObjectKind::kCircularArc, {{1, 2, 0}}, arc(-3, 4, 5, -12, vector::ArcClosure::kPie));
  d.add(ObjectKind::kCircularArc, {{1, 2, 0}}, arc(0, -1, -1, 0, vector::ArcClosure::kChord));
  d.add(ObjectKind::kEllipse, {{0, 0, 0}, {30, 5, 0}, {-4, 20, 0}}, {});
  for (auto c : {vector::ArcClosure::kOpen, vector::ArcClosure::kPie, vector::ArcClosure::kChord})
    d.add(ObjectKind::kEllipticalArc, {{0, 0, 0}, {30, 0, 0}, {0, 20, 0}}, arc(1, 1, -1, 2, c));
  vector::ObjectDescription t = with([](auto& a) {
    a.font = 1;
    a.text_colour = 0x0000FF;
    a.character_height = 12;
    a.up = {-1, 1};
    a.base = {1, 1};
  });
  const std::string words(1024, 'w');
  t.text = words.data();
  t.text_length = std::uint32_t(words.size());
  d.add(ObjectKind::kText, {{7, -9, 0}}, t);
  t.text = "back to no font";
  t.text_length = 15;
  t.attributes = {};
  d.add(ObjectKind::kText, {{7, -30, 0}}, t);

  Drawing back;
  Bytes bytes;
  round_trip(d, &back, &bytes);
}

// Identical neighbours share their attribute elements: the second polyline follows the
// first with no attribute between them.
TEST_F(HostCgmWrite, AttributesAreWrittenWhereTheyChange) {
  Drawing d;
  const auto red = with([](auto& a) { a.line_colour = 0xFF; });
  d.add(ObjectKind::kPolyline, {{0, 0, 0}, {1, 1, 0}}, red);
  d.add(ObjectKind::kPolyline, {{2, 0, 0}, {3, 1, 0}}, red);
  Bytes bytes;
  ASSERT_EQ(save(d, &bytes), 1);
  std::vector<std::pair<int, int>> body;
  for (const Element& e : walk(bytes))
    if (e.cls >= 4) body.push_back({e.cls, e.id});
  EXPECT_EQ(body, (std::vector<std::pair<int, int>>{{5, 4}, {4, 1}, {4, 1}}));
}

TEST_F(HostCgmWrite, YIsWrittenDownwardAndWidthsPickTheirMode) {
  Drawing d;
  d.add(ObjectKind::kPolyline, {{10, 20, 0}, {30, 20, 0}}, with([](auto& a) {
          a.line_width_mode = a.edge_width_mode = 0;
          a.line_width = 3;
          a.edge_width = 2.5;  // not a VDC integer: the edge widths go scaled
        }));
  Drawing back;
  Bytes bytes;
  ASSERT_EQ(save(d, &bytes), 1);
  ASSERT_EQ(fileformat::load_vector_from_memory(bytes.data(), &back, std::uint32_t(bytes.size()),
                                                nullptr),
            1);
  std::vector<Element> all = walk(bytes);
  auto find = [&](int cls, int id) {
    for (const Element& e : all)
      if (e.cls == cls && e.id == id) return e.params;
    return Bytes{};
  };
  using nitfgen::cgm::i16s;
  EXPECT_EQ(find(2, 3), i16s({0}));                 // line widths absolute...
  EXPECT_EQ(find(5, 3), i16s({3}));                 // ... as VDC
  EXPECT_EQ(find(2, 5), i16s({1}));                 // edge widths scaled...
  EXPECT_EQ(find(5, 28), i16s({2, 0x8000}));        // ... as 16.16
  EXPECT_EQ(find(4, 1), i16s({10, -20, 30, -20}));  // VDC y = -world y
  EXPECT_EQ(find(2, 6), i16s({10, -20, 30, -21}));  // downward, never flat
  const vector::Attributes& a = back.object(0).attributes;
  EXPECT_EQ(a.line_width_mode, 0);
  EXPECT_EQ(a.line_width, 3);
  EXPECT_EQ(a.edge_width_mode, 1);
  EXPECT_EQ(a.edge_width, 2.5);
}

TEST_F(HostCgmWrite, CoordinatesRoundToNearestWithinSixteenBits) {
  auto saved = [](double x, double y, double radius, Drawing* back) {
    Drawing d;
    vector::ObjectDescription o;
    o.radius = radius;
    d.add(ObjectKind::kCircle, {{x, y, 0}}, o);
    Bytes bytes;
    const int r = save(d, &bytes);
    if (r == 1)
      fileformat::load_vector_from_memory(bytes.data(), back, std::uint32_t(bytes.size()), nullptr);
    return r;
  };
  Drawing a, b, c;
  ASSERT_EQ(saved(10.5, -10.5, 2.4, &a), 1);
  EXPECT_EQ(a.at(a.object(0))->x, 11);
  EXPECT_EQ(a.at(a.object(0))->y, -11);
  EXPECT_EQ(a.object(0).radius, 2);
  ASSERT_EQ(saved(32767.49, -32767.49, 32767, &b), 1);
  EXPECT_EQ(b.at(b.object(0))->x, 32767);
  EXPECT_EQ(saved(32767.5, 0, 1, &c), RET_INVALID_PARAMETER);
  EXPECT_EQ(saved(0, 32768, 1, &c), RET_INVALID_PARAMETER);
  EXPECT_EQ(saved(0, 0, 40000, &c), RET_INVALID_PARAMETER);
}

TEST_F(HostCgmWrite, LongElementsArePartitionedAndLimitsRefused) {
  Drawing d;
  std::vector<vector::Vertex> v(20000);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = {double(i % 30000), -double(i % 7), 0};
  vector::ObjectDescription o;
  o.points = v.data();
  o.point_count = std::uint32_t(v.size());
  ASSERT_EQ(vector::add_object(&d, 0, ObjectKind::kPolyline, &o, 0), 1);
  Drawing back;
  Bytes bytes;
  round_trip(d, &back, &bytes);  // 80,000 bytes: three pieces

  // 250,000 points are a million bytes, more than an LS field can count; text beyond
  // the profile's 1,024 characters is refused too.
  v.resize(250000);
  o.points = v.data();
  o.point_count = std::uint32_t(v.size());
  ASSERT_EQ(vector::add_object(&d, 0, ObjectKind::kPolygon, &o, 0), 1);
  EXPECT_EQ(save(d, &bytes), RET_INVALID_PARAMETER);
  Drawing text;
  const std::string long_text(1025, 'x');
  vector::ObjectDescription t;
  t.text = long_text.data();
  t.text_length = 1025;
  text.add(ObjectKind::kText, {{0, 0, 0}}, t);
  EXPECT_EQ(save(text, &bytes), RET_INVALID_PARAMETER);
}

TEST_F(HostCgmWrite, RefusalsAndOptions) {
  Drawing d;
  kernel::GlobalMemory* handle = nullptr;
  std::uint32_t size = 7;
  using fileformat::save_vector_to_memory;
  EXPECT_EQ(save_vector_to_memory(&handle, &d, fileformat::kSaveCgm, &size, nullptr),
            RET_EMPTY_VECTOR);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(save_vector_to_memory(&handle, nullptr, fileformat::kSaveCgm, &size, nullptr),
            RET_MISSING_DATA);
  d.add(ObjectKind::kCircle, {{0, 0, 0}}, {});
  EXPECT_EQ(save_vector_to_memory(&handle, &d, fileformat::kSaveJpegYcc, &size, nullptr),
            RET_FILE_FORMAT);
  EXPECT_EQ(save_vector_to_memory(nullptr, &d, fileformat::kSaveCgm, &size, nullptr),
            RET_INVALID_PARAMETER);
  kernel::set_allocation_cap(16);
  EXPECT_EQ(save_vector_to_memory(&handle, &d, fileformat::kSaveCgm, &size, nullptr),
            RET_NO_MEMORY);
  kernel::set_allocation_cap(0);
  EXPECT_EQ(handle, nullptr);

  std::vector<std::uint8_t> options(fileformat::kSaveOptionsSize, 0xEE);
  ASSERT_EQ(fileformat::default_save_options(options.data(), fileformat::kSaveOptionsSize), 1);
  std::uint32_t first;
  std::memcpy(&first, options.data(), 4);
  EXPECT_EQ(first, fileformat::kSaveOptionsSize);
  EXPECT_EQ(options[fileformat::kSaveOptionsProfileWord], 0);
  EXPECT_EQ(fileformat::default_save_options(options.data(), 72), RET_INVALID_PARAMETER);
  EXPECT_EQ(fileformat::default_save_options(nullptr, fileformat::kSaveOptionsSize),
            RET_INVALID_PARAMETER);
}

// The whole metafile of one text without fonts, byte for byte: the description in the
// long form, odd lengths padded with 0.
TEST_F(HostCgmWrite, TinyMetafileBytes) {
  Drawing d;
  vector::ObjectDescription t;
  t.text = "Hi";
  t.text_length = 2;
  d.add(ObjectKind::kText, {{1, 2, 0}}, t);
  ::setenv("SOURCE_DATE_EPOCH", "86400", 1);
  Bytes bytes;
  ASSERT_EQ(save(d, &bytes), 1);
  ::unsetenv("SOURCE_DATE_EPOCH");
  using namespace nitfgen::cgm;
  const std::string description = "NITF/CGM;ProfileEd:2301-2/Source:Kvntfu 0.1;Date:19700102";
  const Bytes expected = cat({{0x00, 0x28},
                              str("Layer 1"),
                              {0x10, 0x22, 0, 1, 0x11, 0x66, 0, 1, 0xFF, 0xFF, 0, 1},
                              {0x10, 0x5F, 0, 58},
                              str(description),
                              {0x11, 0xAA},
                              str("HELVETICA"),
                              {0x00, 0x68},
                              str("Layer 1"),
                              {0x20, 0x42, 0, 1, 0x20, 0xA2, 0, 1, 0x20, 0x62, 0, 1},
                              {0x20, 0xC8},
                              i16s({1, -2, 2, -3}),  // the text's box, downward
                              {0x00, 0x80},
                              {0x40, 0x89},
                              i16s({1, -2, 1}),
                              str("Hi"),
                              {0},
                              {0x00, 0xA0},
                              {0x00, 0x40}});
  EXPECT_EQ(bytes, expected);
}

}  // namespace
