// The image subheader: LUTs, the streaming re-read, and claims no segment can hold. (Mask
// tables are read through by image_data_test's layouts against GDAL; every field of every
// image of every sample is held against GDAL by fields_test.)
#include <gtest/gtest.h>


#include "image/imsubhdr.h"
#include "nitfgen_image.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitf::NitfImageSubheader;
using nitfgen::BandSpec;
using nitfgen::ImageShape;

// A document of one generated image, its subheader read by the parse driver.
struct OneImage {
  TempDir dir;
  Parsed p;
  explicit OneImage(const ImageShape& layout, const std::string& pixels = "") {
    nitfgen::FileSpec file;
    file.images.push_back(nitfgen::image_segment(layout, pixels));
    p = parse(dir.write("image.ntf", nitfgen::build(file)));
  }
  const NitfImageSubheader& image() const { return *p.document->images[0]; }
};

// ----- LUTs and masks ---------------------------------------------------------------------

std::vector<int> rgb(const nitf::ColourEntry& e) {
  return {e.red, e.green, e.blue};
}

// One table is grey, three are red, green and blue; with two blue stays 0; a fourth is
// read past. The last band with tables makes the colour table.
TEST(ImageLuts, TablesPerBand) {
  ImageShape layout;
  layout.irep = "MULTI";
  layout.bands = {BandSpec("LU"), BandSpec("M"), BandSpec("LU"), BandSpec("LU")};
  layout.bands[0].luts = {std::string(4, '\x01'), std::string(4, '\x02'), std::string(4, '\x03')};
  layout.bands[2].luts = {"\xA0\xA1", "\xB0\xB1"};
  layout.bands[3].luts = {"\x01", "\x02", "\x03", "\x04"};
  layout.idlvl = 7;
  OneImage four(layout);
  ASSERT_EQ(four.p.result, RET_SUCCESS);
  ASSERT_EQ(four.image().colours.entries.size(), 1u);
  EXPECT_EQ(rgb(four.image().colours.entries[0]), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(four.image().display_level, 7) << "every table was read past";
  layout.bands.pop_back();
  OneImage two(layout);
  ASSERT_EQ(two.p.result, RET_SUCCESS);
  EXPECT_EQ(rgb(two.image().colours.entries[1]), (std::vector<int>{0xA1, 0xB1, 0}));
  layout.bands = {BandSpec("LU")};
  layout.bands[0].luts = {std::string("\x00\x10\xC8", 3)};
  OneImage grey(layout);
  ASSERT_EQ(grey.p.result, RET_SUCCESS);
  EXPECT_EQ(rgb(grey.image().colours.entries[2]), (std::vector<int>{200, 200, 200}));
}

// Nine tables of 65536 entries claimed in a subheader that cannot hold them are refused
// before anything is allocated for them (negative counts and mask tables the segment
// cannot hold: tests/corpus/claim-*.ntf).
TEST(ImageMask, Claims) {
  ImageShape lut;
  lut.bands[0].nluts_text = "9";
  lut.bands[0].nelut_text = "65536";
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(lut, std::string(40, 'x')));
  file.texts.push_back({std::string(285, ' '), std::string(50000, 't')});  // bytes after LI
  TempDir dir;
  const fs::path path = dir.write("claims.ntf", nitfgen::build(file));
  const std::size_t before = kernel::live_objects();
  AllocationCap cap(64 * 1024);
  EXPECT_EQ(parse(path).result, RET_FILE_READ);
  EXPECT_EQ(kernel::live_objects(), before);
}

// ----- The streaming re-read ----------------------------------------------------------------

// A streaming file whose image subheader is `marked`, the replacement data holding `tail`
// after the real file header.
Parsed streamed(const TempDir& dir, const ImageShape& marked, const std::string& tail) {
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(marked, std::string(64, 'p')));
  file.streaming = true;
  return parse(dir.write("stream.ntf", nitfgen::build_streaming(file, tail)));
}

TEST(ImageStreaming, ReadAgain) {
  TempDir dir;
  ImageShape real;
  real.nrows = 512;
  real.nbpr = 3;
  real.fields["IID1"] = "REAL";
  ImageShape marked = real;
  marked.fields["NROWS"] = "99999999";
  marked.fields["IID1"] = "MARKED";
  const std::string tail = nitfgen::image_subheader(real);
  Parsed p = streamed(dir, marked, tail);
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_EQ(p.document->images[0]->rows, 512u);
  EXPECT_EQ(std::string(p.document->images[0]->iid1), nitfgen::text("REAL", 10));
  EXPECT_EQ(p.document->streaming.bytes_to_end, 4 + 7) << "only the closing frame is left";

  // NROWS and NCOLS end 349 bytes in: a shorter replacement leaves NBPR as marked.
  marked = real;
  marked.fields["NBPR"] = "9999";
  marked.fields["NCOLS"] = "00000001";
  p = streamed(dir, marked, tail.substr(0, 349));
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_EQ(p.document->images[0]->columns, 8u);
  EXPECT_STREQ(p.document->images[0]->nbpr, "9999");

  // Markers in the replacement are taken as they are; without a streaming header, refused.
  p = streamed(dir, marked, nitfgen::image_subheader(marked));
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_STREQ(p.document->images[0]->nbpr, "9999");
  nitfgen::FileSpec plain;
  plain.images.push_back(nitfgen::image_segment(marked, std::string(64, 'p')));
  EXPECT_EQ(parse(dir.write("plain.ntf", nitfgen::build(plain))).result, RET_INVALID_PARAMETER);
}

}  // namespace
