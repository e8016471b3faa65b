// The file header reader: checks, conversions, extension areas and bad lengths.
#include <gtest/gtest.h>

#include <cstring>

#include "core/ntfhdr.h"
#include "core/trearea.h"
#include "testing.h"

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
  layout.fields["FBKGC"] = std::string("\x10\x20\x30", 3);
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
  EXPECT_EQ(h.background, 0x302010u);
  EXPECT_EQ(p.document->header_present, 1);
  EXPECT_EQ(p.document->image_count + p.document->graphic_count + p.document->text_count, 0u);
  EXPECT_FALSE(h.udhd.present());
  EXPECT_EQ(h.udhd.tre_count, 0u);
}

TEST(FileHeader, RealSamplesOfThisAndOtherVersions) {
  REQUIRE_SAMPLES();
  Parsed p = parse(sample("misc/test_blank.ntf"));
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_EQ(p.document->header.fl_source, 388);
  EXPECT_EQ(parse(sample("misc/U_0006A.NTF")).result, RET_UNSUPPORTED_VERSION);
  Parsed nsif = parse(sample("misc/ns3034d.nsf"));  // NSIF 1.0: the NITF 2.1 layout
  ASSERT_EQ(nsif.result, RET_SUCCESS);
  EXPECT_STREQ(nsif.document->header.fver, "01.00");
}

// NSIF is read like NITF; the version, the magic, CLEVEL and FSCLAS are checked.
TEST(FileHeader, CheckedFields) {
  TempDir dir;
  const struct {
    const char* field;
    std::vector<const char*> values;
    int code;
  } cases[] = {{"FHDR", {"NSIF"}, RET_SUCCESS},
               {"FHDR", {"NITX"}, RET_FILE_FORMAT},
               {"FVER", {"02.00", "01.00", "02.1 ", "03.00"}, RET_UNSUPPORTED_VERSION},
               {"CLEVEL", {"05"}, RET_UNSUPPORTED_CLEVEL},
               {"FSCLAS", {"C", "R", "S", "T", "U"}, RET_SUCCESS},
               {"FSCLAS", {"X", " ", "u"}, RET_FILE_FORMAT}};
  for (const auto& c : cases) {
    for (const char* value : c.values) {
      FileSpec layout;
      layout.fields[c.field] = value;
      MessageCapture messages;
      Parsed p = read_spec(dir, layout);
      EXPECT_EQ(p.result, c.code) << c.field << " " << value;
      if (c.code == RET_SUCCESS && std::string(c.field) == "FHDR") {
        EXPECT_STREQ(p.document->header.fhdr, "NSIF");
      }
      if (c.code == RET_UNSUPPORTED_CLEVEL) {
        EXPECT_EQ(messages.messages(), std::vector<std::string>{"Error: Unsupported CLEVEL"});
      }
    }
  }
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
  // After the 342-byte leading run: FL (12), HL (6), NUMI, NUMS, NUMX, NUMT, NUMDES,
  // NUMRES (3 each), then UDHDL.
  std::size_t udhdl = 342 + 12 + 6 + 3 + 3 + 3 + 3 + 3 + 3, numx = udhdl - 12;
  ASSERT_EQ(bytes.substr(udhdl, 5), "00017");
  ASSERT_EQ(bytes.substr(numx, 3), "000");

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
      {numx, "001", RET_FILE_FORMAT},       {numx, "  0", RET_FILE_FORMAT},  // NUMX must be 000
      {numx, "00 ", RET_FILE_FORMAT},
  };
  for (const Case& c : cases) {
    std::size_t before = kernel::live_objects();
    auto p = read_header_only(dir.write("bad.ntf", with_bytes(bytes, c.at, c.bytes)));
    EXPECT_EQ(p.result, c.code) << c.bytes << " at " << c.at;
    p.document.reset();
    EXPECT_EQ(kernel::live_objects(), before) << "nothing outlives the document";
  }
  // A negative segment length: LT of a text segment, after NUMT and LTSH (4).
  FileSpec text;
  text.texts.push_back({std::string(285, ' '), "hello"});
  std::string t = nitfgen::build(text);
  std::size_t lt = 342 + 12 + 6 + 3 + 3 + 3 + 3 + 4;
  ASSERT_EQ(t.substr(lt, 5), "00005");
  EXPECT_EQ(read_header_only(dir.write("neg.ntf", with_bytes(t, lt, "-0005"))).result,
            RET_FILE_FORMAT);
}

}  // namespace
