// Appending image, graphic and text segments. Appended segments must be seen at once
// (composition, text, vector handle) and again, the same, after a save and reopen; the
// lengths they add must be the ones the saved file has; a refused append must leave the
// document exactly as it was and nothing of the kernel's alive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "fileformat/cgm_read.h"
#include "kernel/bitmap.h"
#include "kernel/memory.h"
#include "nitfgen.h"
#include "nitfgen_cgm.h"
#include "testing.h"
#include "vector/drawing.h"

namespace {

using namespace testing_support;

using Append = LeakChecked;

// A document made without a file, destroyed at the end.
struct Doc {
  NitfDocument* d = nullptr;
  explicit Doc(const char* path = nullptr) { EXPECT_EQ(Kv_NITFCreateA(&d, path), RET_SUCCESS); }
  ~Doc() { Kv_NITFDestroy(&d); }
};

// A picture with smooth colours, so that JPEG keeps it closely.
struct Picture {
  kernel::Bitmap b;
  Picture(int width, int height, int bits) {
    EXPECT_EQ(kernel::create_bitmap(&b, kernel::kBitmapRecordSize, 1, width, height, bits,
                                    bits == 8 ? kernel::kColourGrey : kernel::kColourRgb, nullptr,
                                    kernel::kViewTopDown, nullptr, 0),
              RET_SUCCESS);
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = kernel::storage_row(b, y);
      for (int x = 0; x < width; ++x) {
        if (bits == 8) {
          row[x] = static_cast<std::uint8_t>((x + y) * 255 / (width + height));
        } else {
          row[3 * x] = static_cast<std::uint8_t>(y * 255 / height);     // blue
          row[3 * x + 1] = static_cast<std::uint8_t>(128);              // green
          row[3 * x + 2] = static_cast<std::uint8_t>(x * 255 / width);  // red
        }
      }
    }
  }
  ~Picture() { kernel::free_bitmap(&b); }
  KvBitmap* kv() { return reinterpret_cast<KvBitmap*>(&b); }
};

// Peak signal to noise ratio of a canvas against the picture, over the picture's area.
double psnr(const kernel::Bitmap& canvas, const kernel::Bitmap& picture) {
  double error = 0;
  long n = 0;
  const int cb = canvas.bits_per_pixel / 8, pb = picture.bits_per_pixel / 8;
  for (int y = 0; y < picture.height; ++y) {
    const std::uint8_t* c = kernel::storage_row(canvas, kernel::top_down_row(canvas, y));
    const std::uint8_t* p = kernel::storage_row(picture, kernel::top_down_row(picture, y));
    for (int x = 0; x < picture.width; ++x)
      for (int k = 0; k < 3; ++k) {
        const int cv = c[x * cb + (cb == 1 ? 0 : k)], pv = p[x * pb + (pb == 1 ? 0 : k)];
        error += double(cv - pv) * (cv - pv);
        ++n;
      }
  }
  return error == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (error / n));
}

std::string lengths(NitfDocument* d) {
  const auto& h = d->header;
  return std::to_string(h.hl_current) + "/" + std::to_string(h.fl_current) + "/" + h.numi + h.nums +
         h.numt + "/" + std::to_string(d->image_count) + std::to_string(d->graphic_count) +
         std::to_string(d->text_count);
}

// ----- Images ------------------------------------------------------------------------

TEST_F(Append, ColourPictureBecomesOneYccBlock) {
  Doc doc;
  Picture picture(640, 480, 24);
  const std::int64_t fl = doc.d->header.fl_current, hl = doc.d->header.hl_current;
  ASSERT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 10, 24, 200), RET_SUCCESS);
  ASSERT_EQ(Kv_NITFGetImageHeaderCount(doc.d), 1);
  const nitf::NitfImageSubheader& s = *doc.d->images[0];
  EXPECT_STREQ(s.ic, "C3");
  EXPECT_EQ(std::string(s.irep), "YCbCr601");
  EXPECT_STREQ(s.nppbh, "0640");
  EXPECT_STREQ(s.nppbv, "0480");
  EXPECT_STREQ(s.nbpr, "0001");
  EXPECT_EQ(s.band_count, 3);
  EXPECT_EQ(s.bands[1].representation, nitf::BandRepresentationCode::kChromaBlue);
  EXPECT_EQ(doc.d->header.images.subheader_current[0], 469u);
  const std::uint64_t data = doc.d->header.images.data_current[0];
  EXPECT_EQ(data, s.appended_data.size());
  EXPECT_EQ(doc.d->header.fl_current, fl + 469 + std::int64_t(data) + 16);
  EXPECT_EQ(doc.d->header.hl_current, hl + 16);
  EXPECT_STREQ(doc.d->header.numi, "001");

  // Seen at once, and the same after a save and reopen.
  Rendered now;
  ASSERT_EQ(Kv_NtfRenderBitmap(&now.bitmap, doc.d), RET_SUCCESS);
  ASSERT_EQ(now.bitmap.width, 640);
  EXPECT_GT(psnr(*now.canvas(), picture.b), 40);
  TempDir dir;
  ASSERT_EQ(Kv_NITFSaveFileA(doc.d, dir.file("made.ntf").c_str()), RET_SUCCESS);
  EXPECT_EQ(std::int64_t(fs::file_size(dir.file("made.ntf"))), doc.d->header.fl_current);
  Doc again(dir.file("made.ntf").c_str());
  Rendered later;
  ASSERT_EQ(Kv_NtfRenderBitmap(&later.bitmap, again.d), RET_SUCCESS);
  EXPECT_EQ(std::memcmp(later.bitmap.data, now.bitmap.data, now.canvas()->data_size), 0);
}

TEST_F(Append, GreyRgbAndTheDateOfTheImage) {
  Doc doc;
  std::memcpy(doc.d->header.fdt, "20261206103045", 14);
  Picture grey(40, 30, 8), colour(20, 10, 24);
  ASSERT_EQ(Kv_NITFAppendImageSegment(doc.d, grey.kv(), 10, 8, 255), RET_SUCCESS);
  const nitf::NitfImageSubheader& g = *doc.d->images[0];
  EXPECT_EQ(std::string(g.irep), "MONO    ");
  EXPECT_STREQ(g.imode, "B");
  EXPECT_EQ(g.bands[0].representation, nitf::BandRepresentationCode::kMono);
  EXPECT_EQ(doc.d->header.images.subheader_current[0], 443u);
  EXPECT_STREQ(g.idatim, "20261206103044") << "the seconds lose one";
  EXPECT_EQ(g.display_level, 1);

  std::memcpy(doc.d->header.fdt, "20261206103001", 14);
  ASSERT_EQ(Kv_NITFAppendImageSegment(doc.d, colour.kv(), 182, 24, 2), RET_SUCCESS);
  const nitf::NitfImageSubheader& c = *doc.d->images[1];
  EXPECT_STREQ(c.idatim, "20261206102901") << "seconds of 01 are passed over";
  EXPECT_EQ(std::string(c.irep), "RGB     ");
  EXPECT_EQ(c.bands[0].representation, nitf::BandRepresentationCode::kRed);
  EXPECT_STREQ(c.imode, "P");
  EXPECT_EQ(c.display_level, 2) << "one above every segment";
  Rendered r;
  ASSERT_EQ(Kv_NtfRenderBitmap(&r.bitmap, doc.d), RET_SUCCESS);
  EXPECT_EQ(r.bitmap.width, 40);
}

TEST_F(Append, RefusedImagesLeaveTheDocumentAsItWas) {
  Doc doc;
  Picture picture(8, 8, 24);
  const std::string before = lengths(doc.d);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, nullptr, 10, 24, 50), RET_INVALID_BITMAP);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 10, 16, 50), RET_INVALID_BITS_PER_PIXEL);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 10, 24, 1), RET_INVALID_QUALITY);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 10, 24, 256), RET_INVALID_QUALITY);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 11, 24, 50), RET_FILE_FORMAT);
  EXPECT_EQ(Kv_NITFAppendImageSegment(nullptr, picture.kv(), 10, 24, 50), RET_INVALID_DOCUMENT);
  Picture wide(70000, 1, 8);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, wide.kv(), 10, 8, 50), RET_INVALID_PARAMETER)
      << "wider than a JPEG frame";
  EXPECT_EQ(lengths(doc.d), before);

  // The thousandth image is refused and changes nothing.
  Picture tiny(1, 1, 8);
  for (int i = 0; i < 999; ++i)
    ASSERT_EQ(Kv_NITFAppendImageSegment(doc.d, tiny.kv(), 10, 8, 50), RET_SUCCESS) << i;
  const std::string full = lengths(doc.d);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, tiny.kv(), 10, 8, 50), RET_FAILURE);
  EXPECT_EQ(lengths(doc.d), full);
  EXPECT_STREQ(doc.d->header.numi, "999");
}

TEST_F(Append, BlocksWiderThan8192AreWrittenAsSizeZero) {
  Doc doc;
  Picture picture(8200, 2, 8);
  ASSERT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 10, 8, 50), RET_SUCCESS);
  EXPECT_STREQ(doc.d->images[0]->nppbh, "0000");
  EXPECT_STREQ(doc.d->images[0]->nppbv, "0002");
  Rendered r;
  ASSERT_EQ(Kv_NtfRenderBitmap(&r.bitmap, doc.d), RET_SUCCESS);
  EXPECT_EQ(r.bitmap.width, 8200) << "0000 stands for NCOLS";
}

// ----- Texts -------------------------------------------------------------------------

TEST_F(Append, TextSegmentsFromFiles) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::string bytes(1000, 'x');
  const fs::path text = dir.write("t.txt", bytes);
  Doc doc(sample("jitc/i_3001a.ntf").c_str());
  std::memcpy(doc.d->header.fdt, "20261206103001", 14);
  const std::int64_t fl = doc.d->header.fl_current, hl = doc.d->header.hl_current;
  ASSERT_EQ(Kv_NITFAppendTextSegmentA(doc.d, text.c_str()), RET_SUCCESS);
  EXPECT_EQ(doc.d->header.fl_current, fl + 1291);
  EXPECT_EQ(doc.d->header.hl_current, hl + 9);
  EXPECT_EQ(doc.d->header.texts.subheader_current[0], 282u);
  EXPECT_EQ(doc.d->header.texts.data_current[0], 1000u);
  const nitf::NitfTextSubheader& t = *doc.d->texts[0];
  EXPECT_STREQ(t.txtdt, "20261206102901") << "the minutes lose one, the seconds stay";
  EXPECT_STREQ(t.txtalvl_text, "001") << "attached to the lowest display level";
  std::uint32_t length = 0;
  ASSERT_EQ(Kv_NITFGetTextSegment(doc.d, 0, nullptr, &length), RET_SUCCESS);
  EXPECT_EQ(length, 1000u);

  // Saved and reopened: the same bytes, and lengths as the document said.
  ASSERT_EQ(Kv_NITFSaveFileA(doc.d, dir.file("with_text.ntf").c_str()), RET_SUCCESS);
  EXPECT_EQ(std::int64_t(fs::file_size(dir.file("with_text.ntf"))), doc.d->header.fl_current);
  Doc again(dir.file("with_text.ntf").c_str());
  std::string back(1001, '\0');
  ASSERT_EQ(Kv_NITFGetTextSegment(again.d, 0, back.data(), &length), RET_SUCCESS);
  EXPECT_EQ(back.substr(0, length), bytes);

  // An empty file, a missing one, one larger than LT holds.
  const fs::path empty = dir.write("empty.txt", "");
  ASSERT_EQ(Kv_NITFAppendTextSegmentA(doc.d, empty.c_str()), RET_SUCCESS);
  EXPECT_EQ(doc.d->header.texts.data_current[1], 0u);
  const std::string before = lengths(doc.d);
  EXPECT_EQ(Kv_NITFAppendTextSegmentA(doc.d, dir.file("missing.txt").c_str()), RET_FILE_OPEN);
  const fs::path big = dir.write("big.txt", std::string(100000, 'y'));
  EXPECT_EQ(Kv_NITFAppendTextSegmentA(doc.d, big.c_str()), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NITFAppendTextSegmentA(nullptr, big.c_str()), RET_INVALID_DOCUMENT);
  EXPECT_EQ(lengths(doc.d), before);
}

TEST_F(Append, TextWithoutImagesKeepsItsAttachmentLevel) {
  TempDir dir;
  Doc doc;
  ASSERT_EQ(Kv_NITFAppendTextSegmentA(doc.d, dir.write("a.txt", "abc").c_str()), RET_SUCCESS);
  EXPECT_EQ(doc.d->texts[0]->txtalvl, 0);
  EXPECT_STREQ(doc.d->texts[0]->txtdt, "20040101010101") << "parts of 01 are passed over";
}

// ----- Graphics ----------------------------------------------------------------------

// A drawing of one filled red rectangle between two corners, world y upward.
struct Drawing {
  vector::Drawing d;
  Drawing(double x0, double y0, double x1, double y1) {
    vector::init(&d);
    vector::ObjectDescription desc;
    vector::init_object_description(&desc);
    desc.attributes.interior_style = vector::InteriorStyle::kSolid;
    desc.attributes.fill_colour = 0x0000FF;
    const vector::Vertex corners[2] = {{x0, y0, 0}, {x1, y1, 0}};
    desc.points = corners;
    desc.point_count = 2;
    EXPECT_EQ(vector::add_object(&d, 0, vector::ObjectKind::kRectangle, &desc, 0), RET_SUCCESS);
  }
  ~Drawing() { vector::release(&d); }
};

constexpr std::int32_t kRectangle[4] = {0, 0, 10, 10};

// The box of red pixels on a canvas.
struct InkBox {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};

InkBox red_ink(const kernel::Bitmap& canvas) {
  InkBox box;
  for (int y = 0; y < canvas.height; ++y) {
    const std::uint8_t* row = kernel::storage_row(canvas, kernel::top_down_row(canvas, y));
    for (int x = 0; x < canvas.width; ++x) {
      const std::uint8_t* p = row + 3 * x;
      if (p[2] > 128 && p[1] < 100 && p[0] < 100)
        box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
               std::max(box.bottom, y)};
    }
  }
  return box;
}

void expect_inside_sbnd(NitfDocument* d, const char* when) {
  Rendered r;
  ASSERT_EQ(Kv_NtfRenderBitmap(&r.bitmap, d), RET_SUCCESS) << when;
  const nitf::NitfGraphicSubheader& g = *d->graphics[0];
  const InkBox ink = red_ink(*r.canvas());
  ASSERT_GE(ink.right, 0) << when << ": the drawing is painted";
  EXPECT_GE(ink.top, g.sloc_row + g.sbnd1_first) << when;
  EXPECT_GE(ink.left, g.sloc_column + g.sbnd1_second) << when;
  EXPECT_LE(ink.bottom, g.sloc_row + g.sbnd2_first) << when;
  EXPECT_LE(ink.right, g.sloc_column + g.sbnd2_second) << when;
}

TEST_F(Append, DrawingsBecomeGraphicsPaintedInsideTheirBounds) {
  Doc doc;
  Drawing below(20, -60, 200, -10);  // already below y = 0: not moved
  ASSERT_EQ(Kv_NITFAppendGraphicSegment(doc.d, &below.d, kRectangle), RET_SUCCESS);
  vector::Point3 lower, upper;
  vector::bounds(&below.d, &lower, &upper);
  EXPECT_EQ(upper.y, -10);
  const nitf::NitfGraphicSubheader& g = *doc.d->graphics[0];
  EXPECT_EQ(g.sdlvl, 1);
  EXPECT_EQ(g.salvl, 0);
  EXPECT_EQ(g.sbnd1_first, 9) << "SBND1 is (top, left), the stroke included";
  EXPECT_EQ(g.sbnd1_second, 19);
  EXPECT_EQ(g.sbnd2_first, 61);
  EXPECT_EQ(g.sbnd2_second, 201);
  EXPECT_EQ(below.d.viewport[2], 10) << "the rectangle is the viewport";
  EXPECT_EQ(doc.d->header.graphics.subheader_current[0], 258u);
  EXPECT_EQ(doc.d->header.graphics.data_current[0], g.cgm.size());
  expect_inside_sbnd(doc.d, "before saving");

  auto* handle = static_cast<const vector::Drawing*>(Kv_NITFGetVectorHandle(doc.d, 0));
  ASSERT_NE(handle, nullptr) << "the appended drawing is loaded from memory";
  EXPECT_EQ(handle->objects.count, 1u);

  TempDir dir;
  ASSERT_EQ(Kv_NITFSaveFileA(doc.d, dir.file("drawn.ntf").c_str()), RET_SUCCESS);
  EXPECT_EQ(std::int64_t(fs::file_size(dir.file("drawn.ntf"))), doc.d->header.fl_current);
  Doc again(dir.file("drawn.ntf").c_str());
  expect_inside_sbnd(again.d, "after reopening");
}

TEST_F(Append, DrawingsAboveTheOriginMoveDownAndLevelsFollowTheImages) {
  Doc doc;
  Picture picture(50, 50, 8);
  ASSERT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 10, 8, 100), RET_SUCCESS);
  Drawing above(0, 0, 100, 40);
  ASSERT_EQ(Kv_NITFAppendGraphicSegment(doc.d, &above.d, kRectangle), RET_SUCCESS);
  vector::Point3 lower, upper;
  vector::bounds(&above.d, &lower, &upper);
  EXPECT_EQ(lower.y, -41) << "moved down by 41";
  EXPECT_EQ(upper.y, -1);
  const nitf::NitfGraphicSubheader& g = *doc.d->graphics[0];
  EXPECT_EQ(g.sdlvl, 2);
  EXPECT_EQ(g.salvl, 1);
  expect_inside_sbnd(doc.d, "over an image");
}

TEST_F(Append, ReplacedDrawingsKeepPlacementAndSubheader) {
  REQUIRE_SAMPLES();
  Doc doc(sample("jitc/i_3113g.ntf").c_str());
  const nitf::NitfGraphicSubheader& g = *doc.d->graphics[1];
  const std::string sloc = g.sloc, sbnd2 = g.sbnd2;
  const std::uint64_t lssh = doc.d->header.graphics.subheader_current[1];
  Drawing replacement(5, -30, 60, -5);
  ASSERT_EQ(Kv_NITFSetVectorHandle(doc.d, 1, &replacement.d), RET_SUCCESS);
  EXPECT_EQ(std::string(g.sloc), sloc);
  EXPECT_EQ(std::string(g.sbnd2), sbnd2);
  EXPECT_EQ(doc.d->header.graphics.subheader_current[1], lssh);
  EXPECT_EQ(doc.d->header.graphics.data_current[1], g.cgm.size());
  auto* handle = static_cast<const vector::Drawing*>(Kv_NITFGetVectorHandle(doc.d, 1));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->objects.count, 1u) << "the new drawing is what the graphic holds";

  TempDir dir;
  ASSERT_EQ(Kv_NITFSaveFileA(doc.d, dir.file("replaced.ntf").c_str()), RET_SUCCESS);
  Doc again(dir.file("replaced.ntf").c_str());
  auto* reread = static_cast<const vector::Drawing*>(Kv_NITFGetVectorHandle(again.d, 1));
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(reread->objects.count, 1u);
  EXPECT_EQ(std::string(again.d->graphics[1]->sloc), sloc);

  vector::Drawing empty;
  vector::init(&empty);
  EXPECT_EQ(Kv_NITFSetVectorHandle(doc.d, 2, &replacement.d), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NITFSetVectorHandle(doc.d, 0, nullptr), RET_MISSING_DATA);
  EXPECT_EQ(Kv_NITFSetVectorHandle(doc.d, 0, &empty), RET_EMPTY_VECTOR);
  EXPECT_EQ(Kv_NITFSetVectorHandle(nullptr, 0, &replacement.d), RET_INVALID_DOCUMENT);
}

TEST_F(Append, RefusedGraphicsLeaveTheDocumentAsItWas) {
  Doc doc;
  const std::string before = lengths(doc.d);
  vector::Drawing empty;
  vector::init(&empty);
  Drawing far(0, -200000, 10, -199990);
  EXPECT_EQ(Kv_NITFAppendGraphicSegment(doc.d, nullptr, kRectangle), RET_MISSING_DATA);
  EXPECT_EQ(Kv_NITFAppendGraphicSegment(doc.d, &empty, kRectangle), RET_EMPTY_VECTOR);
  EXPECT_EQ(Kv_NITFAppendGraphicSegment(doc.d, &far.d, kRectangle), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NITFAppendGraphicSegment(doc.d, &far.d, nullptr), RET_INVALID_DOCUMENT);
  EXPECT_EQ(lengths(doc.d), before);
  EXPECT_EQ(Kv_NITFGetGraphicHeaderCount(doc.d), 0);
}

}  // namespace
