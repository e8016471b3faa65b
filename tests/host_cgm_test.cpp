// The CGM reader and the drawing model it fills. Element decoding is checked on byte
// strings built here (short and long headers, partitions, padding, defaults and
// precision elements, the y direction); the real CGM segments of the samples must load
// with bounds that fit their subheaders; hostile data (cut short, lying lengths, absurd
// numbers, too many objects) must give a code and leave nothing allocated behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fileformat/cgm_read.h"
#include "kernel/memory.h"
#include "nitfgen_cgm.h"
#include "testing.h"
#include "vector/drawing.h"

namespace {

using fileformat::load_vector_from_memory;

using namespace nitfgen::cgm;

// --- looking at the result ------------------------------------------------------------

class Loaded {
 public:
  Loaded() = default;
  Loaded(const Loaded&) = delete;
  ~Loaded() { vector::release(&drawing); }
  int load(const Bytes& b) {
    return load_vector_from_memory(b.data(), &drawing, std::uint32_t(b.size()), nullptr);
  }
  std::uint32_t objects() const { return drawing.objects.count; }
  const vector::Object& object(std::uint32_t i) const { return drawing.objects.begin()[i]; }
  const vector::Vertex& point(std::uint32_t object_index, std::uint32_t i) const {
    return drawing.points.begin()[object(object_index).first_point + i];
  }
  std::string text(std::uint32_t i) const {
    const vector::Object& o = object(i);
    return std::string(drawing.text.begin() + o.text_offset, o.text_length);
  }
  vector::Drawing drawing;
};

using HostCgm = testing_support::LeakChecked;

// --- element decoding -------------------------------------------------------------------

TEST_F(HostCgm, ShortAndLongFormsGiveTheSamePolyline) {
  const Bytes params = i16s({1, 2, 300, -400, 5, 6});
  for (bool force_long : {false, true}) {
    Loaded l;
    ASSERT_EQ(l.load(metafile(element(4, 1, params, force_long))), 1) << force_long;
    ASSERT_EQ(l.objects(), 1u);
    EXPECT_EQ(l.object(0).kind, vector::ObjectKind::kPolyline);
    ASSERT_EQ(l.object(0).point_count, 3u);
    EXPECT_EQ(l.point(0, 1).x, 300);
    EXPECT_EQ(l.point(0, 1).y, -400);
    EXPECT_EQ(l.point(0, 2).y, 6);
  }
}

TEST_F(HostCgm, PartitionedLongFormIsJoinedAcrossOddPieces) {
  // Pieces of 5, 3 and the rest split numbers in the middle and carry pad bytes.
  Bytes params;
  for (int i = 0; i < 20; ++i) put16(params, i * 10 - 50);
  Loaded l;
  ASSERT_EQ(l.load(metafile(partitioned(4, 7, params, {5, 3}))), 1);
  ASSERT_EQ(l.objects(), 1u);
  EXPECT_EQ(l.object(0).kind, vector::ObjectKind::kPolygon);
  ASSERT_EQ(l.object(0).point_count, 10u);
  for (std::uint32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(l.point(0, i).x, double(int(2 * i) * 10 - 50)) << i;
    EXPECT_EQ(l.point(0, i).y, double(int(2 * i + 1) * 10 - 50)) << i;
  }
}

TEST_F(HostCgm, OddLengthsArePaddedToEven) {
  // BEGIN PICTURE "abcd" (5 bytes) and a text of odd length, each followed by a pad.
  const Bytes body =
      cat({element(4, 4, cat({i16s({7, 8, 1}), str("odd")})), element(4, 12, i16s({10, 20, 5}))});
  const Bytes b = cat({begin_metafile(), begin_picture("abcd"), picture_body(), body, end_picture(),
                       end_metafile()});
  Loaded l;
  ASSERT_EQ(l.load(b), 1);
  ASSERT_EQ(l.objects(), 2u);
  EXPECT_EQ(l.text(0), "odd");
  EXPECT_EQ(l.point(0, 0).x, 7);
  EXPECT_EQ(l.object(1).kind, vector::ObjectKind::kCircle);
  EXPECT_EQ(l.object(1).radius, 5);
  ASSERT_EQ(l.drawing.layers.count, 1u);
  EXPECT_EQ(std::u16string(l.drawing.layers.begin()[0].name), u"abcd");
  EXPECT_EQ(l.drawing.layers.begin()[0].active, 1);
}

TEST_F(HostCgm, DefaultsAreTheIsoOnes) {
  // Indexed colour with 8-bit indexes (0 white, 1 black), 16-bit signed integers and
  // indexes, then direct colour of 8 bits a component in red, green, blue order.
  const Bytes b = metafile(cat({element(5, 4, Bytes{0}), element(5, 2, i16s({3})),
                                element(4, 1, i16s({-32768, 32767, 0, 0})), element(5, 4, Bytes{1}),
                                element(4, 1, i16s({0, 0, 1, 1}))}));
  Loaded l;
  ASSERT_EQ(l.load(b), 1);
  ASSERT_EQ(l.objects(), 2u);
  EXPECT_EQ(l.object(0).attributes.line_colour, 0xFFFFFFu);
  EXPECT_EQ(l.object(0).attributes.line_type, 3);
  EXPECT_EQ(l.point(0, 0).x, -32768);
  EXPECT_EQ(l.point(0, 0).y, 32767);
  EXPECT_EQ(l.object(1).attributes.line_colour, 0u);

  const Bytes direct =
      metafile(cat({element(5, 23, Bytes{0x11, 0x22, 0x33}), element(5, 22, i16s({1})),
                    element(4, 11, i16s({0, 0, 4, 4}))}),
               element(2, 2, i16s({1})));
  Loaded d;
  ASSERT_EQ(d.load(direct), 1);
  ASSERT_EQ(d.objects(), 1u);
  EXPECT_EQ(d.object(0).attributes.fill_colour, 0x332211u);
  EXPECT_EQ(d.object(0).attributes.interior_style, vector::InteriorStyle::kSolid);
  EXPECT_EQ(d.object(0).kind, vector::ObjectKind::kRectangle);
}

TEST_F(HostCgm, PrecisionElementsAreHonoured) {
  // INTEGER PRECISION 32 (given at 16), so VDC INTEGER PRECISION comes as 32 bits;
  // 32-bit VDC; COLOUR INDEX PRECISION 16 and a COLOUR TABLE of 16-bit components over
  // the extent 0..1000; fixed-point 32/32 reals for a scaled line width.
  Bytes header = cat({element(1, 4, i16s({32})), element(1, 8, cat({Bytes{0, 0, 0, 16}})),
                      element(1, 7, cat({Bytes{0, 0, 0, 16}}))});
  Bytes extent;
  for (int v : {0, 0, 0, 1000, 1000, 1000}) put16(extent, v);
  header = cat({header, element(1, 10, extent)});
  Bytes real_prec = i16s({1});
  put32(real_prec, 32);
  put32(real_prec, 32);
  header = cat({header, element(1, 5, real_prec)});
  Bytes vdcp;
  put32(vdcp, 32);
  Bytes table = i16s({5, 1000, 0, 500});
  Bytes points;
  for (std::int64_t v :
       {std::int64_t(100000), std::int64_t(-2000000000), std::int64_t(7), std::int64_t(8)})
    put32(points, v);
  Bytes width;
  put32(width, 2);            // whole
  put32(width, 0x80000000u);  // one half
  const Bytes b = metafile(cat({element(5, 34, table), element(5, 4, i16s({5})),
                                element(5, 3, width), element(4, 1, points)}),
                           element(3, 1, vdcp), header);
  Loaded l;
  ASSERT_EQ(l.load(b), 1);
  ASSERT_EQ(l.objects(), 1u);
  ASSERT_EQ(l.object(0).point_count, 2u);
  EXPECT_EQ(l.point(0, 0).x, 100000);
  EXPECT_EQ(l.point(0, 0).y, -2000000000.0);
  EXPECT_EQ(l.point(0, 1).y, 8);
  EXPECT_EQ(l.object(0).attributes.line_colour, 0x008000FFu);  // red 255, green 0, blue 128
  EXPECT_DOUBLE_EQ(l.object(0).attributes.line_width, 2.5);

  // A precision this reader cannot decode is a format error, not a guess.
  Loaded bad;
  EXPECT_EQ(bad.load(metafile({}, {}, element(1, 4, i16s({12})))), RET_FILE_FORMAT);
}

TEST_F(HostCgm, FloatingVdcAndItsNonFiniteValues) {
  auto as_bits = [](float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
  };
  const Bytes header = cat({element(1, 3, i16s({1}))});
  Bytes prec = i16s({0, 9, 23});
  Bytes pts;
  for (float f : {1.5f, -2.25f, 1e30f, 0.f}) put32(pts, as_bits(f));
  const Bytes descriptors = element(3, 2, prec);
  Loaded l;
  ASSERT_EQ(l.load(metafile(element(4, 1, pts), descriptors, header)), 1);
  ASSERT_EQ(l.objects(), 1u);
  EXPECT_EQ(l.point(0, 0).x, 1.5);
  EXPECT_EQ(l.point(0, 0).y, -2.25);
  EXPECT_FLOAT_EQ(float(l.point(0, 1).x), 1e30f);

  Bytes nan_pts;
  for (float f : {1.f, std::numeric_limits<float>::quiet_NaN(), 0.f, 0.f})
    put32(nan_pts, as_bits(f));
  Loaded n;
  EXPECT_EQ(n.load(metafile(element(4, 1, nan_pts), descriptors, header)), RET_FILE_FORMAT);
  EXPECT_TRUE(vector::is_empty(&n.drawing));
}

TEST_F(HostCgm, DownwardExtentNegatesYAndUpwardKeepsIt) {
  const Bytes body = cat({element(4, 1, i16s({10, 20, 30, 40})), element(5, 16, i16s({0, 1, 1, 0})),
                          element(4, 15, i16s({50, 60, 1, 0, 0, 1, 5}))});
  {
    Loaded down;
    ASSERT_EQ(down.load(metafile(body, element(2, 6, i16s({0, 1000, 1000, 0})))), 1);
    ASSERT_EQ(down.objects(), 2u);
    EXPECT_EQ(down.point(0, 0).x, 10);
    EXPECT_EQ(down.point(0, 0).y, -20);
    EXPECT_EQ(down.point(0, 1).y, -40);
    EXPECT_EQ(down.point(1, 0).y, -60);
    EXPECT_EQ(down.object(1).attributes.up.y, -1);
    // Mirrored, the quarter from +x to +y becomes the one from -y to +x.
    EXPECT_EQ(down.object(1).start.x, 0);
    EXPECT_EQ(down.object(1).start.y, -1);
    EXPECT_EQ(down.object(1).end.x, 1);
    EXPECT_EQ(down.object(1).end.y, 0);
    EXPECT_EQ(down.drawing.has_extent, 1);
    EXPECT_EQ(down.drawing.extent_lower.y, -1000);
    EXPECT_EQ(down.drawing.extent_upper.y, 0);
  }
  {
    Loaded up;
    ASSERT_EQ(up.load(metafile(body, element(2, 6, i16s({0, 0, 1000, 1000})))), 1);
    EXPECT_EQ(up.point(0, 0).y, 20);
    EXPECT_EQ(up.point(1, 0).y, 60);
    EXPECT_EQ(up.object(1).start.x, 1);
    EXPECT_EQ(up.object(1).end.y, 1);
    EXPECT_EQ(up.drawing.extent_upper.y, 1000);
  }
  {
    // The rule is per picture: a second picture without an extent is upward again.
    const Bytes two =
        cat({begin_metafile(), begin_picture("a"), element(2, 6, i16s({0, 100, 100, 0})),
             picture_body(), element(4, 12, i16s({1, 2, 3})), end_picture(), begin_picture("b"),
             picture_body(), element(4, 12, i16s({1, 2, 3})), end_picture(), end_metafile()});
    Loaded l;
    ASSERT_EQ(l.load(two), 1);
    ASSERT_EQ(l.objects(), 2u);
    EXPECT_EQ(l.point(0, 0).y, -2);
    EXPECT_EQ(l.point(1, 0).y, 2);
    EXPECT_EQ(l.object(0).layer, 0);
    EXPECT_EQ(l.object(1).layer, 1);
  }
}

TEST_F(HostCgm, UnknownElementsAreSkippedAndProfileArcsRead) {
  const Bytes body = cat({
      element(4, 3, i16s({1, 1})),                            // POLYMARKER: not kept
      element(7, 2, Bytes(40, 0x55)),                         // APPLICATION DATA, long form
      element(9, 1, Bytes{1, 2, 3}),                          // a class this reader does not know
      element(4, 18, i16s({0, 0, 10, 0, 0, 5, 1, 0, 0, 1})),  // ELLIPTICAL ARC
      element(4, 19, i16s({0, 0, 10, 0, 0, 5, 1, 0, 0, 1, 1})),  // ... CLOSE, chord
      element(4, 16, i16s({0, 0, 1, 0, -1, 0, 7, 0})),           // CIRC ARC CENTRE CLOSE
      element(4, 17, i16s({100, 100, 110, 100, 100, 120})),      // ELLIPSE
  });
  Loaded l;
  ASSERT_EQ(l.load(metafile(body)), 1);
  ASSERT_EQ(l.objects(), 4u);
  EXPECT_EQ(l.object(0).kind, vector::ObjectKind::kEllipticalArc);
  EXPECT_EQ(l.object(0).closure, vector::ArcClosure::kOpen);
  EXPECT_EQ(l.object(1).closure, vector::ArcClosure::kChord);
  EXPECT_EQ(l.object(2).kind, vector::ObjectKind::kCircularArc);
  EXPECT_EQ(l.object(2).closure, vector::ArcClosure::kPie);
  EXPECT_EQ(l.object(2).radius, 7);
  vector::Point3 lo, hi;
  ASSERT_EQ(vector::bounds(&l.drawing, &lo, &hi), 1);
  EXPECT_EQ(lo.x, -10);
  EXPECT_EQ(lo.y, -7);
  EXPECT_EQ(hi.x, 110);
  EXPECT_EQ(hi.y, 120);
}

TEST_F(HostCgm, LongPolylinesAndLongStrings) {
  Bytes pts;
  for (int i = 0; i < 5000; ++i) {
    put16(pts, i);
    put16(pts, -i);
  }
  const std::string long_text(1024, 'x');
  const Bytes body =
      cat({partitioned(4, 1, pts, {16000}), element(4, 4, cat({i16s({1, 2, 1}), str(long_text)}))});
  Loaded l;
  ASSERT_EQ(l.load(metafile(body)), 1);
  ASSERT_EQ(l.objects(), 2u);
  ASSERT_EQ(l.object(0).point_count, 5000u);
  EXPECT_EQ(l.point(0, 4999).y, -4999);
  EXPECT_EQ(l.text(1), long_text);
}

// --- the real samples -------------------------------------------------------------------

using testing_support::graphic_data;
using RealSegment = testing_support::SampleCgm;

std::vector<RealSegment> real_segments() {
  return testing_support::sample_cgm_segments();
}

TEST_F(HostCgm, EveryRealSegmentLoadsInsideItsExtent) {
  REQUIRE_SAMPLES();
  const auto segments = real_segments();
  ASSERT_GE(segments.size(), 6u);
  for (const RealSegment& s : segments) {
    SCOPED_TRACE(s.file + " graphic " + std::to_string(s.index));
    Loaded l;
    ASSERT_EQ(l.load(s.data), 1);
    EXPECT_FALSE(vector::is_empty(&l.drawing));
    EXPECT_GT(l.objects(), 0u);
    vector::Point3 lo, hi;
    ASSERT_EQ(vector::bounds(&l.drawing, &lo, &hi), 1);
    EXPECT_LE(lo.x, hi.x);
    EXPECT_LE(lo.y, hi.y);
    // Every position lies inside the picture's declared extent.
    ASSERT_EQ(l.drawing.has_extent, 1);
    for (std::uint32_t i = 0; i < l.drawing.points.count; ++i) {
      const vector::Vertex& v = l.drawing.points.begin()[i];
      EXPECT_GE(v.x, l.drawing.extent_lower.x);
      EXPECT_LE(v.x, l.drawing.extent_upper.x);
      EXPECT_GE(v.y, l.drawing.extent_lower.y);
      EXPECT_LE(v.y, l.drawing.extent_upper.y);
    }
  }
}

TEST_F(HostCgm, I3113gGraphicZeroFitsItsSubheaderBounds) {
  REQUIRE_SAMPLES();
  const auto path = testing_support::sample("jitc/i_3113g.ntf");
  auto parsed = testing_support::parse(path);
  ASSERT_EQ(parsed.result, 1);
  const auto& g = *parsed.document->graphics.at(0);
  ASSERT_EQ(g.sloc_row, 593);
  ASSERT_EQ(g.sloc_column, 183);
  const Bytes data = graphic_data(*parsed.document, path, 0);
  Loaded l;
  ASSERT_EQ(l.load(data), 1);
  vector::Point3 lo, hi;
  ASSERT_EQ(vector::bounds(&l.drawing, &lo, &hi), 1);
  // SBND1 and SBND2 are (row, column): columns span x, rows span y.
  const double columns = g.sbnd2_second - g.sbnd1_second;
  const double rows = g.sbnd2_first - g.sbnd1_first;
  EXPECT_GT(hi.x - lo.x, 0.5 * columns);
  EXPECT_LE(hi.x - lo.x, columns);
  EXPECT_GT(hi.y - lo.y, 0.5 * rows);
  EXPECT_LE(hi.y - lo.y, rows);
  // Its VDC EXTENT runs downward, from (0, 32767) to (32767, 0): world y is -VDC y.
  ASSERT_EQ(l.drawing.has_extent, 1);
  EXPECT_EQ(l.drawing.extent_lower.y, -32767);
  EXPECT_EQ(l.drawing.extent_upper.y, 0);
  EXPECT_GE(lo.x, 0);
  EXPECT_LE(hi.y, 0);
}

TEST_F(HostCgm, I3113gGraphicOneIsUprightBoldHelveticaText) {
  REQUIRE_SAMPLES();
  const auto path = testing_support::sample("jitc/i_3113g.ntf");
  auto parsed = testing_support::read_header_only(path);
  ASSERT_EQ(parsed.result, 1);
  Loaded l;
  ASSERT_EQ(l.load(graphic_data(*parsed.document, path, 1)), 1);
  ASSERT_EQ(l.objects(), 1u);
  const vector::Object& o = l.object(0);
  ASSERT_EQ(o.kind, vector::ObjectKind::kText);
  EXPECT_EQ(l.text(0), "This is a test of Low Bit Rate Compression.");
  // Font 7 of its twelve-name FONT LIST, red, 12 high.
  EXPECT_STREQ(vector::font_name(l.drawing, o.attributes), "HELVETICA_BOLD");
  EXPECT_EQ(o.attributes.text_colour, 0x0000FFu);
  EXPECT_EQ(o.attributes.character_height, 12);
  // The up vector (0, -1) of a downward VDC is upright in world coordinates.
  EXPECT_EQ(o.attributes.up.x, 0);
  EXPECT_EQ(o.attributes.up.y, 1);
  EXPECT_EQ(l.point(0, 0).y, -12);
}

TEST_F(HostCgm, MetafileDefaultsReplacementSetsEveryPicturesStart) {
  // The replacement holds a downward VDC EXTENT and direct colour with a line colour.
  const Bytes replacement = cat({element(2, 6, i16s({0, 500, 500, 0})), element(2, 2, i16s({1})),
                                 element(5, 4, Bytes{0, 0xFF, 0})});
  const Bytes b =
      cat({begin_metafile(), element(1, 12, replacement), begin_picture(), picture_body(),
           element(4, 1, i16s({1, 2, 3, 4})), end_picture(), end_metafile()});
  Loaded l;
  ASSERT_EQ(l.load(b), 1);
  ASSERT_EQ(l.objects(), 1u);
  EXPECT_EQ(l.point(0, 0).y, -2);
  EXPECT_EQ(l.object(0).attributes.line_colour, 0x00FF00u);
}

// --- hostile input ----------------------------------------------------------------------

TEST_F(HostCgm, EveryTruncationOfARealSegmentGivesACode) {
  REQUIRE_SAMPLES();
  const auto start = std::chrono::steady_clock::now();
  for (const RealSegment& s : real_segments()) {
    ASSERT_GE(s.data.size(), 2u);
    // Only END METAFILE (0x0040) may close a segment; any cut before it is an error.
    ASSERT_EQ(s.data[s.data.size() - 2], 0x00);
    ASSERT_EQ(s.data[s.data.size() - 1], 0x40);
    for (std::size_t cut = 0; cut < s.data.size(); ++cut) {
      Loaded l;
      const int r = load_vector_from_memory(s.data.data(), &l.drawing, std::uint32_t(cut), nullptr);
      EXPECT_NE(r, 1) << s.file << " cut at " << cut;
      EXPECT_TRUE(vector::is_empty(&l.drawing));
    }
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(HostCgm, OverwrittenBytesOfRealSegmentsNeverCrash) {
  REQUIRE_SAMPLES();
  // Each byte in turn set to 0x00, 0xFF and 0x1F (a long-form length): whatever the
  // result, a failed load leaves the drawing empty and nothing is left allocated.
  for (const RealSegment& s : real_segments()) {
    for (std::size_t at = 0; at < s.data.size(); ++at) {
      for (std::uint8_t value : {std::uint8_t(0x00), std::uint8_t(0xFF), std::uint8_t(0x1F)}) {
        Bytes b = s.data;
        b[at] = value;
        Loaded l;
        const int r = l.load(b);
        EXPECT_TRUE(r == 1 || r == RET_FILE_FORMAT || r == RET_NO_MEMORY) << r;
        if (r != 1) {
          EXPECT_TRUE(vector::is_empty(&l.drawing));
        }
      }
    }
  }
}

TEST_F(HostCgm, LengthsBeyondTheDataAreFormatErrors) {
  // A long form claiming 32,000 bytes with 20 present.
  Bytes lying = cat({begin_metafile(), begin_picture(), picture_body()});
  put16(lying, 4 << 12 | 7 << 5 | 31);
  put16(lying, 32000);
  lying.insert(lying.end(), 20, 0);
  Loaded a;
  EXPECT_EQ(a.load(lying), RET_FILE_FORMAT);

  // A partition chain whose second piece claims more than is left.
  Bytes chain = cat({begin_metafile(), begin_picture(), picture_body()});
  put16(chain, 4 << 12 | 7 << 5 | 31);
  put16(chain, 0x8000 | 8);
  chain.insert(chain.end(), 8, 0);
  put16(chain, 30000);
  chain.insert(chain.end(), 10, 0);
  Loaded b;
  EXPECT_EQ(b.load(chain), RET_FILE_FORMAT);

  // A short form claiming more than the data, a circle too short for its radius, a
  // text whose string claims more than its element, and no END METAFILE.
  Loaded c, d, e, f, g;
  Bytes cut_short = cat({begin_metafile(), begin_picture()});
  put16(cut_short, 4 << 12 | 12 << 5 | 6);
  put16(cut_short, 1);
  EXPECT_EQ(c.load(cut_short), RET_FILE_FORMAT);
  EXPECT_EQ(d.load(metafile(element(4, 12, i16s({1, 2})))), RET_FILE_FORMAT);
  EXPECT_EQ(e.load(metafile(element(4, 4, cat({i16s({1, 2, 1}), Bytes{200, 'a', 'b'}})))),
            RET_FILE_FORMAT);
  EXPECT_EQ(f.load(cat({begin_metafile(), begin_picture(), picture_body()})), RET_FILE_FORMAT);
  // Not a metafile at all, and no data.
  EXPECT_EQ(g.load(element(4, 12, i16s({1, 2, 3}))), RET_FILE_FORMAT);
  EXPECT_EQ(load_vector_from_memory(nullptr, &g.drawing, 0, nullptr), RET_FILE_FORMAT);
  EXPECT_EQ(load_vector_from_memory("\0\x20", nullptr, 2, nullptr), RET_MISSING_DATA);
}

TEST_F(HostCgm, HugePolygonClaimsInShortSegmentsEndQuickly) {
  const auto start = std::chrono::steady_clock::now();
  // A polygon claiming a million vertices (as a chain of full partitions) in 200 bytes.
  Bytes huge = cat({begin_metafile(), begin_picture(), picture_body()});
  put16(huge, 4 << 12 | 7 << 5 | 31);
  for (int i = 0; i < 50; ++i) put16(huge, 0x8000 | 0x7FFE);
  Loaded a;
  EXPECT_EQ(a.load(huge), RET_FILE_FORMAT);

  // 50,000 empty pieces cost a header each and nothing more.
  Bytes empty_pieces = cat({begin_metafile(), begin_picture(), picture_body()});
  put16(empty_pieces, 4 << 12 | 7 << 5 | 31);
  for (int i = 0; i < 50000; ++i) put16(empty_pieces, 0x8000);
  put16(empty_pieces, 0);
  empty_pieces = cat({empty_pieces, end_picture(), end_metafile()});
  Loaded b;
  EXPECT_EQ(b.load(empty_pieces), 1);
  EXPECT_EQ(b.objects(), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(HostCgm, AbsurdCoordinatesLoadAsNumbers) {
  Bytes vdcp;
  put32(vdcp, 32);
  Bytes pts;
  for (std::int64_t v : {std::int64_t(-2147483647 - 1), std::int64_t(2147483647),
                         std::int64_t(2147483647), std::int64_t(-2147483647 - 1)})
    put32(pts, v);
  Bytes header = element(1, 4, i16s({32}));
  Bytes p32;
  put32(p32, 32);
  Loaded l;
  ASSERT_EQ(l.load(metafile(element(4, 11, pts), element(3, 1, p32), header)), 1);
  vector::Point3 lo, hi;
  ASSERT_EQ(vector::bounds(&l.drawing, &lo, &hi), 1);
  EXPECT_EQ(lo.x, -2147483648.0);
  EXPECT_EQ(hi.x, 2147483647.0);
  EXPECT_EQ(lo.y, -2147483648.0);
}

TEST_F(HostCgm, ObjectCapGivesNoMemoryAndAnEmptyDrawing) {
  Bytes body;
  const Bytes circle = element(4, 12, i16s({1, 2, 3}));
  body.reserve((vector::kMaxObjects + 1) * circle.size());
  for (std::uint32_t i = 0; i <= vector::kMaxObjects; ++i)
    body.insert(body.end(), circle.begin(), circle.end());
  Loaded l;
  EXPECT_EQ(l.load(metafile(body)), RET_NO_MEMORY);
  EXPECT_TRUE(vector::is_empty(&l.drawing));
}

// --- the drawing model ------------------------------------------------------------------

TEST_F(HostCgm, DrawingOperations) {
  vector::Drawing d;
  ASSERT_EQ(vector::init(&d), 1);
  EXPECT_TRUE(vector::is_empty(&d));
  vector::Point3 lo, hi;
  EXPECT_EQ(vector::bounds(&d, &lo, &hi), RET_FAILURE);

  vector::LayerDescription layer;
  std::u16string name = u"Object Layer";
  std::copy(name.begin(), name.end(), layer.name);
  layer.settings[0] = 0;
  std::int32_t first = -1, second = -1;
  ASSERT_EQ(vector::add_layer(&d, &layer, &first, 4), 1);
  ASSERT_EQ(vector::add_layer(&d, &layer, &second, 4), 1);
  EXPECT_EQ(d.active_layer, -1);
  EXPECT_FALSE(vector::is_empty(&d));
  ASSERT_EQ(vector::set_active_layer(&d, second), 1);
  EXPECT_EQ(d.layers.begin()[1].active, 1);
  EXPECT_EQ(d.layers.begin()[0].active, 0);
  EXPECT_EQ(vector::set_active_layer(&d, 2), RET_INVALID_PARAMETER);
  vector::LayerDescription wrong;
  wrong.size = 100;
  EXPECT_EQ(vector::add_layer(&d, &wrong, nullptr, 4), RET_INVALID_PARAMETER);

  vector::ObjectDescription o;
  vector::init_object_description(&o);
  vector::Vertex v[2] = {{1, 2, 0}, {5, -3, 0}};
  o.points = v;
  o.point_count = 1;
  EXPECT_EQ(vector::add_object(&d, 0, vector::ObjectKind::kRectangle, &o, 0),
            RET_INVALID_PARAMETER);
  o.point_count = 2;
  ASSERT_EQ(vector::add_object(&d, 0, vector::ObjectKind::kRectangle, &o, 0), 1);
  EXPECT_EQ(d.objects.begin()[0].layer, 1);
  v[1].x = std::numeric_limits<double>::infinity();
  EXPECT_EQ(vector::add_object(&d, 0, vector::ObjectKind::kPolyline, &o, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(vector::add_object(&d, 0, vector::ObjectKind(99), &o, 0), RET_INVALID_PARAMETER);
  EXPECT_EQ(d.objects.count, 1u);

  ASSERT_EQ(vector::bounds(&d, &lo, &hi), 1);
  EXPECT_EQ(lo.x, 1);
  EXPECT_EQ(lo.y, -3);
  EXPECT_EQ(hi.x, 5);
  EXPECT_EQ(hi.y, 2);

  vector::Drawing c;
  ASSERT_EQ(vector::copy(&c, &d, 0), 1);
  const vector::Point3 by{10, 100, 7};
  ASSERT_EQ(vector::translate(&d, &by), 1);
  ASSERT_EQ(vector::bounds(&d, &lo, &hi), 1);
  EXPECT_EQ(lo.x, 11);
  EXPECT_EQ(hi.y, 102);
  EXPECT_EQ(lo.z, 0);
  // The copy is deep: it kept the old positions and its own layers.
  ASSERT_EQ(vector::bounds(&c, &lo, &hi), 1);
  EXPECT_EQ(lo.x, 1);
  EXPECT_EQ(c.layers.count, 2u);
  EXPECT_EQ(std::u16string(c.layers.begin()[0].name), u"Object Layer");

  ASSERT_EQ(vector::release(&d), 1);
  EXPECT_TRUE(vector::is_empty(&d));
  ASSERT_EQ(vector::release(&c), 1);
}

}  // namespace
