// The file header reader: checks, conversions, extension areas and bad lengths.
#include <gtest/gtest.h>

#include <cstring>

#include "ntfhdr.h"
#include "testing.h"
#include "trearea.h"

namespace {

using namespace testing_support;
using nitfgen::FileSpec;

Parsed read_spec(const TempDir& dir, const FileSpec& layout, const char* name = "h.ntf") {
  return read_header_only(dir.write(name, nitfgen::build(layout)));
}

// The header as generated, with one field's bytes replaced at its offset.
std::string with_bytes(std::string file, std::size_t at, const std::string& bytes) {
  return file.replace(at, bytes.size(), bytes);
}

TEST(FileHeader, HeaderOnlyFileParsesCompletely) {
  TempDir dir;
  FileSpec layout;
  layout.fields["FTITLE"] = "A title";
  std::string bytes = nitfgen::build(layout);
  ASSERT_EQ(bytes.size(), 388u);
  Parsed p = parse(dir.write("blank.ntf", bytes));
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto& h = p.document->header;
  EXPECT_EQ(h.valid, 1);
  EXPECT_EQ(h.fl_source, 388);
  EXPECT_EQ(h.hl_source, 388);
  EXPECT_STREQ(h.fver, "02.10");
  EXPECT_EQ(std::string(h.ftitle), nitfgen::text("A title", 80));
  EXPECT_EQ(p.document->header_present, 1);
  EXPECT_EQ(p.document->image_count + p.document->graphic_count + p.document->text_count, 0u);
  EXPECT_FALSE(h.udhd.present());
  EXPECT_EQ(h.udhd.tre_count, 0u);
}

TEST(FileHeader, RealHeaderOnlySample) {
  REQUIRE_SAMPLES();
  Parsed p = parse(sample("misc/test_blank.ntf"));
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_EQ(p.document->header.fl_source, 388);
}

TEST(FileHeader, NsifIsReadLikeNitf) {
  TempDir dir;
  FileSpec layout;
  layout.fields["FHDR"] = "NSIF";
  Parsed p = parse(dir.write("nsif.nsf", nitfgen::build(layout)));
  EXPECT_EQ(p.result, RET_SUCCESS);
  EXPECT_STREQ(p.document->header.fhdr, "NSIF");
}

TEST(FileHeader, OtherMagicOrVersionIsRefused) {
  TempDir dir;
  for (const char* version : {"02.00", "01.00", "02.1 ", "03.00"}) {
    FileSpec layout;
    layout.fields["FVER"] = version;
    EXPECT_EQ(read_spec(dir, layout).result, RET_UNSUPPORTED_VERSION) << version;
  }
  FileSpec layout;
  layout.fields["FHDR"] = "NITX";
  EXPECT_EQ(read_spec(dir, layout).result, RET_FILE_FORMAT);
}

TEST(FileHeader, RealFilesOfOtherVersionsAreRefused) {
  REQUIRE_SAMPLES();
  EXPECT_EQ(parse(sample("misc/U_0006A.NTF")).result, RET_UNSUPPORTED_VERSION);
  EXPECT_EQ(parse(sample("misc/ns3034d.nsf")).result, RET_UNSUPPORTED_VERSION);
}

TEST(FileHeader, OtherComplexityLevelShowsMessage) {
  TempDir dir;
  FileSpec layout;
  layout.fields["CLEVEL"] = "05";
  MessageCapture messages;
  EXPECT_EQ(read_spec(dir, layout).result, RET_UNSUPPORTED_CLEVEL);
  ASSERT_EQ(messages.messages().size(), 1u);
  EXPECT_EQ(messages.messages()[0], "Error: Unsupported CLEVEL");
}

TEST(FileHeader, SecurityClassification) {
  TempDir dir;
  for (const char* c : {"C", "R", "S", "T", "U"}) {
    FileSpec layout;
    layout.fields["FSCLAS"] = c;
    EXPECT_EQ(read_spec(dir, layout).result, RET_SUCCESS) << c;
  }
  for (const char* c : {"X", " ", "u"}) {
    FileSpec layout;
    layout.fields["FSCLAS"] = c;
    EXPECT_EQ(read_spec(dir, layout).result, RET_FILE_FORMAT) << c;
  }
}

TEST(FileHeader, NumxMustBeZero) {
  TempDir dir;
  std::string bytes = nitfgen::build(FileSpec{});
  // NUMX follows FL (12), HL (6), NUMI (3) and NUMS (3) after the 342-byte leading run.
  std::size_t numx = 342 + 12 + 6 + 3 + 3;
  ASSERT_EQ(bytes.substr(numx, 3), "000");
  for (const char* bad : {"001", "  0", "00 "}) {
    auto p = read_header_only(dir.write("x.ntf", with_bytes(bytes, numx, bad)));
    EXPECT_EQ(p.result, RET_FILE_FORMAT) << bad;
  }
}

TEST(FileHeader, BackgroundColourFromFbkgc) {
  TempDir dir;
  FileSpec layout;
  layout.fields["FBKGC"] = std::string("\x10\x20\x30", 3);
  Parsed p = read_spec(dir, layout);
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_EQ(p.document->header.background, 0x302010u);
}

TEST(FileHeader, ExtensionAreas) {
  TempDir dir;
  FileSpec layout;
  layout.has_udhd = true;  // UDHDL 00003: an empty area
  layout.has_xhd = true;
  layout.xhd = nitfgen::tre("ABCDEF", "0123456789") + nitfgen::tre("XYZ", "");
  Parsed p = read_spec(dir, layout);
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto& h = p.document->header;
  EXPECT_STREQ(h.udhdl, "00003");
  EXPECT_TRUE(h.udhd.present());
  EXPECT_EQ(h.udhd.size(), 0u);
  EXPECT_EQ(h.udhd.data()[0], 0);
  EXPECT_EQ(h.udhd.tre_count, 0u);
  EXPECT_EQ(h.xhd.size(), 32u);
  EXPECT_EQ(h.xhd.tre_count, 2u);
  EXPECT_EQ(std::memcmp(h.xhd.data(), layout.xhd.data(), 32), 0);
}

TEST(FileHeader, TreCountTrustsEachLength) {
  auto count = [](const std::string& s, std::size_t n) {
    return nitf::CountTres(reinterpret_cast<const std::uint8_t*>(s.data()), n);
  };
  std::string two = nitfgen::tre("A", "0123456789") + nitfgen::tre("B", "");
  EXPECT_EQ(count(two, 32), 2u);
  std::string overrun = nitfgen::tre("A", "0123456789") + "B     00003abc";
  EXPECT_EQ(count(overrun, 35), 2u);
  EXPECT_EQ(count(overrun, 0), 0u);
  EXPECT_EQ(count("TAG   xxxxxTAG   00000", 22), 2u);  // a CEL without digits advances 11
  EXPECT_EQ(count("TAG   -0005", 11), 1u);             // a negative CEL never walks back
}

TEST(FileHeader, BadLengthsEndTheReadBeforeAllocating) {
  TempDir dir;
  FileSpec layout;
  layout.has_udhd = true;
  layout.udhd = nitfgen::tre("ABCDEF", "xyz");
  std::string bytes = nitfgen::build(layout);
  std::size_t udhdl = 342 + 12 + 6 + 3 + 3 + 3 + 3 + 3 + 3;
  ASSERT_EQ(bytes.substr(udhdl, 5), "00017");

  struct Case {
    std::size_t at;
    const char* bytes;
    int code;
  } cases[] = {
      {udhdl, "00001", RET_FILE_FORMAT},  // no room for the overflow field
      {udhdl, "00002", RET_FILE_FORMAT},    {udhdl, "-0005", RET_FILE_FORMAT},
      {udhdl, "99999", RET_FILE_READ},     // more than the file holds
      {udhdl - 18, "999", RET_FILE_READ},  // NUMI: 999 pairs of lengths the file lacks
      {udhdl - 18, "-01", RET_FILE_FORMAT}, {udhdl - 3, "-01", RET_FILE_FORMAT},  // NUMRES
  };
  for (const Case& c : cases) {
    std::size_t before = kernel::live_objects();
    auto p = read_header_only(dir.write("bad.ntf", with_bytes(bytes, c.at, c.bytes)));
    EXPECT_EQ(p.result, c.code) << c.bytes << " at " << c.at;
    p.document.reset();
    EXPECT_EQ(kernel::live_objects(), before) << "nothing outlives the document";
  }
}

TEST(FileHeader, NegativeSegmentLengthIsRefused) {
  TempDir dir;
  FileSpec layout;
  layout.texts.push_back({std::string(285, ' '), "hello"});
  std::string bytes = nitfgen::build(layout);
  std::size_t lt = 342 + 12 + 6 + 3 + 3 + 3 + 3 + 4;  // NUMT then LTSH (4) then LT (5)
  ASSERT_EQ(bytes.substr(lt, 5), "00005");
  auto p = read_header_only(dir.write("neg.ntf", with_bytes(bytes, lt, "-0005")));
  EXPECT_EQ(p.result, RET_FILE_FORMAT);
}

TEST(FileHeader, FieldTableCoversTheLeadingRun) {
  std::size_t n = 0;
  const nitf::HeaderField* fields = nitf::header_fields(&n);
  std::size_t width = 0;
  for (std::size_t i = 0; i < n; ++i) width += fields[i].width;
  EXPECT_EQ(width, 342u + 12 + 6);  // FHDR to OPHONE, FL, HL
  ASSERT_NE(nitf::find_header_field("FSCODE"), nullptr);
  EXPECT_EQ(nitf::find_header_field("FSCODE")->width, 11);
  EXPECT_EQ(nitf::find_header_field("FSCODE")->room, 40);
  EXPECT_EQ(nitf::find_header_field("ONAME")->room, 27);
  EXPECT_EQ(nitf::find_header_field("NOPE"), nullptr);
}

TEST(FileHeader, DefaultsOfANewRecord) {
  nitf::NitfFileHeaderData h;
  EXPECT_EQ(h.valid, 0);
  EXPECT_EQ(h.clevel, 3);
  EXPECT_STREQ(h.fhdr, "NITF");
  EXPECT_STREQ(h.stype, "BF01");
  EXPECT_STREQ(h.fdt, "20050101010101");
  EXPECT_EQ(std::string(h.fscode), std::string(40, ' '));
  EXPECT_EQ(std::string(h.fsctln), std::string(20, ' '));
  EXPECT_EQ(std::string(h.oname), std::string(27, ' '));
  EXPECT_STREQ(h.fl, "");
  EXPECT_EQ(h.images.count, 0);
}

}  // namespace
