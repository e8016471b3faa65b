// Graphic, text and data extension subheaders: the readers over the real samples and
// generated files, the text segment export, the public records' getters and frees,
// and what corrupt or truncated subheaders give.
//
// Subheaders are read directly (file header, record lists, then one kind's reader), so
// that these tests do not depend on the image subheader reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "graphics_text/dexsbhdr.h"
#include "graphics_text/grsubhdr.h"
#include "graphics_text/txsubhdr.h"
#include "nitfgen_segments.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitf::ReadMode;
using nitf::SegmentKind;
using nitfgen::FileSpec;

// ---------------------------------------------------------------------------------
// Helpers

// The file header read and the record lists made; subheaders still unread.
Parsed open_segments(const fs::path& path) {
  Parsed out = read_header_only(path);
  if (out.result == RET_SUCCESS) out.result = nitf::allocate_segment_objects(out.document.get());
  return out;
}

int read_graphic(NitfDocument* d, std::uint32_t i) {
  nitf::position_at_segment(d, SegmentKind::kGraphic, i);
  return nitf::read_grsubhdr(d->graphics[i].get(), d, nullptr, ReadMode::kNormal);
}

int read_text(NitfDocument* d, std::uint32_t i) {
  nitf::position_at_segment(d, SegmentKind::kText, i);
  return nitf::read_txsubhdr(d->texts[i].get(), d, nullptr, ReadMode::kNormal);
}

int read_des(NitfDocument* d, std::uint32_t i) {
  nitf::position_at_segment(d, SegmentKind::kDataExtension, i);
  return nitf::read_dexsbhdr(d->des[i].get(), d, nullptr, ReadMode::kNormal);
}

// Every graphic, text and data extension subheader in file order, as the parse driver
// reads them: the first result below 1, or 1.
int read_all(NitfDocument* d) {
  for (std::uint32_t i = 0; i < d->graphic_count; ++i)
    if (int r = read_graphic(d, i); r < 1) return r;
  for (std::uint32_t i = 0; i < d->text_count; ++i)
    if (int r = read_text(d, i); r < 1) return r;
  for (std::uint32_t i = 0; i < d->des_count; ++i)
    if (int r = read_des(d, i); r < 1) return r;
  return RET_SUCCESS;
}

// A sample (or generated file) with every one of these subheaders read.
Parsed open_and_read(const fs::path& path) {
  Parsed p = open_segments(path);
  if (p.result == RET_SUCCESS) p.result = read_all(p.document.get());
  return p;
}

// A file of one graphic, one text or one DES segment.
fs::path one_graphic(const TempDir& dir, const std::string& subheader, std::string data = "CGM") {
  FileSpec layout;
  layout.graphics.push_back({subheader, std::move(data)});
  return dir.write("graphic.ntf", nitfgen::build(layout));
}

fs::path one_text(const TempDir& dir, const std::string& subheader, std::string text = "hello") {
  FileSpec layout;
  layout.texts.push_back({subheader, std::move(text)});
  return dir.write("text.ntf", nitfgen::build(layout));
}

fs::path one_des(const TempDir& dir, const std::string& subheader, std::string data = "") {
  FileSpec layout;
  layout.des.push_back({subheader, std::move(data)});
  return dir.write("des.ntf", nitfgen::build(layout));
}

// The subheader with `bytes` written over it at `at`.
std::string patched(std::string subheader, std::size_t at, const std::string& bytes) {
  return subheader.replace(at, bytes.size(), bytes);
}

std::string field(const char* text) {
  return std::string(text);
}

// Offsets of fields in a generated subheader, counted from the standard's tables.
constexpr std::size_t kSxshdlAt = 253;  // after SY .. SRES2
constexpr std::size_t kTxshdlAt = 277;  // after TE .. TXTFMT
constexpr std::size_t kDesverAt = 27;   // after DE, DESID
constexpr std::size_t kDesclasAt = 29;
constexpr std::size_t kDesshlAt = 196;  // after the security group, no overflow fields

// ---------------------------------------------------------------------------------
// Graphic subheader

struct GraphicCase {
  const char* file;
  std::uint32_t index;
  const char* sid;
  const char* sname;
  std::int32_t sdlvl, salvl, sloc_row, sloc_column, sbnd1_row, sbnd1_column, sbnd2_row,
      sbnd2_column;
  const char* scolor;
};

// SDLVL, SALVL and SLOC as `gdalinfo -mdd CGM` (GDAL 3.6.2) reports them; SID, SNAME,
// SBND1, SBND2 and SCOLOR read by hand from a dump of each subheader.
const char kMulti[] = "multi.cgm  SYMBOL.  ";
const GraphicCase kGraphicCases[] = {
    {"jitc/i_3051e.ntf", 0, "0000000001", kMulti, 1, 0, 0, 0, 25, 25, 79, 430, "C"},
    {"jitc/i_3052a.ntf", 0, "0000000001", kMulti, 1, 0, 0, 0, 2, 25, 752, 752, "C"},
    {"jitc/i_3060a.ntf", 0, "0000000001", kMulti, 1, 0, 0, 0, 2, 25, 902, 702, "C"},
    {"jitc/i_3113g.ntf", 0, "ID        ", "NAME                ", 3, 0, 593, 183, 593, 183, 675,
     344, "C"},
    {"jitc/i_3113g.ntf", 1, "ID        ", "NAME                ", 4, 0, 512, 512, 512, 512, 530,
     758, "C"},
    {"misc/WithBE.ntf", 0, "          ", "                    ", 2, 0, 12, 620, 0, 0, 0, 0, " "},
};

class GraphicSample : public LeakCheckedBase<::testing::TestWithParam<GraphicCase>> {};

TEST_P(GraphicSample, FieldsAsTheFileHoldsThem) {
  REQUIRE_SAMPLES();
  const GraphicCase& c = GetParam();
  Parsed p = open_segments(sample(c.file));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  std::int64_t at = nitf::position_at_segment(d, SegmentKind::kGraphic, c.index);
  ASSERT_EQ(nitf::read_grsubhdr(d->graphics[c.index].get(), d, nullptr, ReadMode::kNormal),
            RET_SUCCESS);
  EXPECT_EQ(kernel::seek_file(d->file, 0, kernel::kSeekCurrent), at) << "position restored";

  const nitf::NitfGraphicSubheader& g = *d->graphics[c.index];
  EXPECT_EQ(g.read, 1);
  EXPECT_STREQ(g.sy, "SY");
  EXPECT_STREQ(g.sid, c.sid);
  EXPECT_STREQ(g.sname, c.sname);
  EXPECT_STREQ(g.ssclas, "U");
  EXPECT_EQ(field(g.sscode), std::string(11, ' ')) << "the file width, not the room";
  EXPECT_STREQ(g.encryp, "0");
  EXPECT_STREQ(g.sfmt, "C");
  EXPECT_STREQ(g.sstruct, "0000000000000");
  EXPECT_EQ(g.sdlvl, c.sdlvl);
  EXPECT_EQ(g.salvl, c.salvl);
  EXPECT_EQ(g.sloc_row, c.sloc_row);
  EXPECT_EQ(g.sloc_column, c.sloc_column);
  EXPECT_EQ(g.sbnd1_first, c.sbnd1_row);
  EXPECT_EQ(g.sbnd1_second, c.sbnd1_column);
  EXPECT_EQ(g.sbnd2_first, c.sbnd2_row);
  EXPECT_EQ(g.sbnd2_second, c.sbnd2_column);
  EXPECT_STREQ(g.scolor, c.scolor);
  EXPECT_STREQ(g.sres2, "00");
  EXPECT_STREQ(g.sxshdl, "00000");
  EXPECT_STREQ(g.sxsofl, "") << "no SXSOFL without an extension area";
  EXPECT_FALSE(g.sxshd.present());

  // The public record holds copies of the same values.
  NitfGraphicHeader r{};
  ASSERT_EQ(Kv_NITFGetGraphicHeader(d, std::int32_t(c.index), &r), RET_SUCCESS);
  EXPECT_STREQ(value(r.SY), "SY");
  EXPECT_STREQ(value(r.SID), c.sid);
  EXPECT_STREQ(value(r.SNAME), c.sname);
  EXPECT_EQ(std::string(value(r.SSCODE)), std::string(11, ' '));
  EXPECT_EQ(std::string(value(r.SSCLTX)), g.sscltx);
  EXPECT_EQ(std::string(r.SSDCDT, 8), g.ssdcdt);
  EXPECT_STREQ(value(r.SCOLOR), c.scolor);
  EXPECT_STREQ(value(r.SFMT), "C");
  EXPECT_EQ((std::vector<std::int32_t>{
                value(r.ENCRYP), value(r.SSTRUCT), value(r.SXSHDL), value(r.SDLVL), value(r.SALVL),
                value(r.SLOC_ROW), value(r.SLOC_COLUMN), value(r.SBND1_ROW), value(r.SBND1_COLUMN),
                value(r.SBND2_ROW), value(r.SBND2_COLUMN)}),
            (std::vector<std::int32_t>{0, 0, 0, c.sdlvl, c.salvl, c.sloc_row, c.sloc_column,
                                       c.sbnd1_row, c.sbnd1_column, c.sbnd2_row, c.sbnd2_column}));
  EXPECT_EQ(value(r.SXSHD), nullptr) << "no extension area: left as it was";
  EXPECT_EQ(Kv_NITFFreeGraphicHeader(&r), RET_SUCCESS);
  EXPECT_EQ(value(r.SY), nullptr);
  EXPECT_EQ(value(r.SCOLOR), nullptr);
  EXPECT_EQ(value(r.SDLVL), c.sdlvl) << "numbers untouched by the free";
}

INSTANTIATE_TEST_SUITE_P(GraphicRealFiles, GraphicSample, ::testing::ValuesIn(kGraphicCases));

TEST(GraphicSubheader, PlacementGroupsKeepTheirSigns) {
  TempDir dir;
  struct Case {
    std::string sloc;
    std::int32_t row, column;
  } cases[] = {
      {"-0010-0020", -10, -20}, {"00010-0020", 10, -20}, {"0001000020", 10, 20},
      {"-0000-9999", 0, -9999}, {"  12 abcde", 12, 0},
  };
  for (const Case& c : cases) {
    nitfgen::GraphicSpec layout;
    layout.fields["SLOC"] = c.sloc;
    layout.fields["SBND1"] = nitfgen::placement(-5, 7);
    layout.fields["SBND2"] = nitfgen::placement(99999, -1);
    Parsed p = open_and_read(one_graphic(dir, nitfgen::graphic_subheader(layout)));
    ASSERT_EQ(p.result, RET_SUCCESS) << c.sloc;
    const auto& g = *p.document->graphics[0];
    EXPECT_EQ(g.sloc_row, c.row) << c.sloc;
    EXPECT_EQ(g.sloc_column, c.column) << c.sloc;
    EXPECT_EQ(field(g.sloc), c.sloc) << "text kept as read";
    EXPECT_EQ(g.sbnd1_first, -5);
    EXPECT_EQ(g.sbnd1_second, 7);
    EXPECT_EQ(g.sbnd2_first, 99999);
    EXPECT_EQ(g.sbnd2_second, -1);
  }
}

TEST(GraphicSubheader, ChecksOfSyClassAndFormat) {
  TempDir dir;
  struct Case {
    const char* name;
    const char* value;
    int code;
    int read_flag;
  } cases[] = {
      {"SSCLAS", "R", RET_SUCCESS, 1},     {"SSCLAS", "C", RET_SUCCESS, 1},
      {"SFMT", "B", RET_SUCCESS, 1},       {"SFMT", "O", RET_SUCCESS, 1},
      {"SY", "SX", RET_FILE_FORMAT, 0},    {"SY", "sy", RET_FILE_FORMAT, 0},
      {"SSCLAS", "X", RET_FILE_FORMAT, 1}, {"SSCLAS", "u", RET_FILE_FORMAT, 1},
      {"SFMT", "D", RET_FILE_FORMAT, 1},   {"SFMT", "c", RET_FILE_FORMAT, 1},
  };
  for (const Case& c : cases) {
    nitfgen::GraphicSpec layout;
    layout.fields[c.name] = c.value;
    Parsed p = open_and_read(one_graphic(dir, nitfgen::graphic_subheader(layout)));
    EXPECT_EQ(p.result, c.code) << c.name << "=" << c.value;
    EXPECT_EQ(p.document->graphics[0]->read, c.read_flag) << c.name << "=" << c.value;
  }
  // A NUL byte is not a classification, though C's strchr finds one in any set.
  std::string nul = patched(nitfgen::graphic_subheader(), 32, std::string(1, '\0'));
  EXPECT_EQ(open_and_read(one_graphic(dir, nul)).result, RET_FILE_FORMAT);
}

TEST(GraphicSubheader, ExtensionAreaKeptRawAndCounted) {
  TempDir dir;
  nitfgen::GraphicSpec layout;
  layout.has_extension = true;
  layout.extension = nitfgen::tre("ABCDEF", "0123456789") + nitfgen::tre("XYZ", "");
  Parsed p = open_and_read(one_graphic(dir, nitfgen::graphic_subheader(layout)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto& g = *p.document->graphics[0];
  EXPECT_STREQ(g.sxshdl, "00035");
  EXPECT_STREQ(g.sxsofl, "000");
  ASSERT_EQ(g.sxshd.size(), 32u);
  EXPECT_EQ(std::memcmp(g.sxshd.data(), layout.extension.data(), 32), 0);
  EXPECT_EQ(g.sxshd.data()[32], 0);
  EXPECT_EQ(g.sxshd.tre_count, 2u);

  layout.extension.clear();  // SXSHDL 00003: an empty area holding its NUL
  p = open_and_read(one_graphic(dir, nitfgen::graphic_subheader(layout)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_TRUE(p.document->graphics[0]->sxshd.present());
  EXPECT_EQ(p.document->graphics[0]->sxshd.size(), 0u);
}

// SXSHDL, and the subheader length of the file header, are checked against what the
// segment holds before the area is allocated: with a tiny allocation cap a check
// made after allocating would give RET_NO_MEMORY instead.
TEST(GraphicSubheader, LengthsBeyondTheSegmentAreRefusedBeforeAllocating) {
  TempDir dir;
  nitfgen::GraphicSpec layout;
  layout.has_extension = true;
  layout.extension = nitfgen::tre("ABCDEF", "0123456789");
  std::string sub = nitfgen::graphic_subheader(layout);
  std::string data(120000, 'x');  // the file could hold any claimed area
  struct Case {
    const char* sxshdl;
    int code;
  } cases[] = {
      {"00024", RET_SUCCESS},     {"00025", RET_FILE_READ},   {"99999", RET_FILE_READ},
      {"00001", RET_FILE_FORMAT}, {"00002", RET_FILE_FORMAT}, {"-0005", RET_FILE_FORMAT},
  };
  for (const Case& c : cases) {
    Parsed p = open_segments(one_graphic(dir, patched(sub, kSxshdlAt, c.sxshdl), data));
    ASSERT_EQ(p.result, RET_SUCCESS);
    std::size_t before = kernel::live_objects();
    {
      AllocationCap cap(64);
      EXPECT_EQ(read_graphic(p.document.get(), 0), c.code) << c.sxshdl;
    }
    if (c.code != RET_SUCCESS) {
      EXPECT_EQ(kernel::live_objects(), before) << c.sxshdl;
    }
  }
  // A subheader length in the file header shorter than the fixed fields.
  FileSpec file;
  file.graphics.push_back({nitfgen::graphic_subheader(), "CGM"});
  std::string bytes = nitfgen::build(file);
  std::size_t lssh = 342 + 12 + 6 + 3 + 3;  // NUMS, then LSSH (4) and LS (6)
  ASSERT_EQ(bytes.substr(lssh, 4), "0258");
  Parsed p = open_and_read(dir.write("short.ntf", bytes.replace(lssh, 4, "0257")));
  EXPECT_EQ(p.result, RET_FILE_READ);
}

// ---------------------------------------------------------------------------------
// Text subheader

// TEXTID is seven characters, then TXTALVL; of the coded fields only TE is checked
// (producers write TSCLAS and TXTFMT values outside their lists).
TEST(TextSubheader, TextidIsSevenCharactersThenTxtalvl) {
  TempDir dir;
  nitfgen::TextSpec layout;
  layout.fields["TEXTID"] = "ABCDEFG";
  layout.fields["TXTALVL"] = "123";
  layout.fields["TXTDT"] = "19991231235959";
  layout.fields["TSCLAS"] = "X";
  layout.fields["TXTFMT"] = "XYZ";
  std::string sub = nitfgen::text_subheader(layout);
  ASSERT_EQ(sub.substr(2, 10), "ABCDEFG123");
  Parsed p = open_and_read(one_text(dir, sub));
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto& t = *p.document->texts[0];
  EXPECT_STREQ(t.textid, "ABCDEFG");
  EXPECT_STREQ(t.txtalvl_text, "123");
  EXPECT_EQ(t.txtalvl, 123);
  EXPECT_STREQ(t.txtdt, "19991231235959");
  layout.fields["TE"] = "TX";
  Parsed bad = open_and_read(one_text(dir, nitfgen::text_subheader(layout)));
  EXPECT_EQ(bad.result, RET_FILE_FORMAT);
  EXPECT_EQ(bad.document->texts[0]->read, 0);
}

TEST(TextSubheader, ExtensionAreaAndLengthsBeyondTheSegment) {
  TempDir dir;
  nitfgen::TextSpec layout;
  layout.has_extension = true;
  layout.extension = nitfgen::tre("TXTTRE", "abc");
  std::string sub = nitfgen::text_subheader(layout);
  Parsed p = open_and_read(one_text(dir, sub));
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto& t = *p.document->texts[0];
  EXPECT_STREQ(t.txshdl, "00017");
  EXPECT_EQ(t.txshd.size(), 14u);
  EXPECT_EQ(t.txshd.tre_count, 1u);

  std::string text(50000, 't');
  for (const char* txshdl : {"00018", "50000", "00002"}) {
    Parsed bad = open_segments(one_text(dir, patched(sub, kTxshdlAt, txshdl), text));
    ASSERT_EQ(bad.result, RET_SUCCESS);
    AllocationCap cap(64);
    int expected = std::string(txshdl) == "00002" ? RET_FILE_FORMAT : RET_FILE_READ;
    EXPECT_EQ(read_text(bad.document.get(), 0), expected) << txshdl;
  }
}

// ---------------------------------------------------------------------------------
// Text segments through Kv_NITFGetTextSegment

TEST(TextSegment, RealTextComesBackByteForByte) {
  REQUIRE_SAMPLES();
  fs::path path = sample("misc/WithBE.ntf");
  Parsed p = open_and_read(path);
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();

  uint32_t length = 0;
  ASSERT_EQ(Kv_NITFGetTextSegment(d, 0, nullptr, &length), RET_SUCCESS);
  EXPECT_EQ(length, 982u);  // LT of the file header
  std::string file = nitfgen::read_file(path.string());
  std::int64_t at = nitf::segment_data_offset(*d, SegmentKind::kText, 0);
  ASSERT_LE(static_cast<std::size_t>(at) + length, file.size());

  std::vector<char> buffer(length + 8, '\x55');
  uint32_t again = 0;
  ASSERT_EQ(Kv_NITFGetTextSegment(d, 0, buffer.data(), &again), RET_SUCCESS);
  EXPECT_EQ(again, length);
  EXPECT_EQ(std::string(buffer.data(), length), file.substr(static_cast<std::size_t>(at), length));
  EXPECT_EQ(buffer[length], '\0');
  EXPECT_EQ(buffer[length + 1], '\x55') << "nothing written past the NUL";
  EXPECT_EQ(std::string(buffer.data(), 16), "****************");
  EXPECT_NE(std::string(buffer.data(), length).find("\r\n"), std::string::npos)
      << "line ends as stored";
}

TEST(TextSegment, ArgumentsAndIndex) {
  TempDir dir;
  Parsed p = open_and_read(one_text(dir, nitfgen::text_subheader(), "hello"));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, nullptr, nullptr), RET_SUCCESS);
  uint32_t length = 77;
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 1, nullptr, &length), RET_BAD_ARGUMENT);
  EXPECT_EQ(Kv_NITFGetTextSegment(d, -1, nullptr, &length), RET_BAD_ARGUMENT);
  EXPECT_EQ(length, 77u) << "an index out of range changes nothing";
  EXPECT_EQ(Kv_NITFGetTextSegment(nullptr, 0, nullptr, &length), RET_INVALID_DOCUMENT);

  char buffer[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, buffer, nullptr), RET_SUCCESS);
  EXPECT_STREQ(buffer, "hello");

  d->texts[0].reset();  // a list node without a record
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, nullptr, &length), RET_SUCCESS);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, buffer, nullptr), RET_FAILURE);
}

TEST(TextSegment, LengthBeyondTheFileIsRefusedBeforeReading) {
  TempDir dir;
  FileSpec layout;
  layout.texts.push_back({nitfgen::text_subheader(), "hello"});
  std::string bytes = nitfgen::build(layout);
  std::size_t lt = 342 + 12 + 6 + 3 + 3 + 3 + 3 + 4;  // NUMT, LTSH (4), then LT (5)
  ASSERT_EQ(bytes.substr(lt, 5), "00005");
  Parsed p = open_and_read(dir.write("long.ntf", bytes.replace(lt, 5, "00006")));
  ASSERT_EQ(p.result, RET_SUCCESS);
  uint32_t length = 0;
  std::vector<char> buffer(16, '\x55');
  EXPECT_EQ(Kv_NITFGetTextSegment(p.document.get(), 0, buffer.data(), &length), RET_FILE_READ);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(buffer[0], '\x55') << "nothing read";
}

// Text appended in memory comes from the record, not the file; the header's table has
// no entry for it until the document is saved.
TEST(TextSegment, TextHeldInMemory) {
  NitfDocument d;
  d.text_count = 1;
  ASSERT_EQ(nitf::allocate_segment_objects(&d), RET_SUCCESS);
  nitf::NitfTextSubheader& t = *d.texts[0];
  const char text[] = "appended\r\ntext";
  ASSERT_TRUE(t.memory_text.allocate(sizeof text));
  std::memcpy(t.memory_text.data(), text, sizeof text);
  t.has_memory_text = 1;
  uint32_t length = 9;
  char buffer[sizeof text + 4];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(Kv_NITFGetTextSegment(&d, 0, buffer, &length), RET_SUCCESS);
  EXPECT_EQ(length, 0u);
  EXPECT_STREQ(buffer, text);
  EXPECT_EQ(buffer[sizeof text], 'x');
}

// ---------------------------------------------------------------------------------
// Data extension subheader

// The values gdalinfo -mdd xml:DES shows for test_des_read.ntf's only DES.
TEST(DesSubheader, RealSampleWithUserFields) {
  REQUIRE_SAMPLES();
  Parsed p = open_segments(sample("misc/test_des_read.ntf"));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  std::int64_t at = nitf::position_at_segment(d, SegmentKind::kDataExtension, 0);
  ASSERT_EQ(nitf::read_dexsbhdr(d->des[0].get(), d, nullptr, ReadMode::kNormal), RET_SUCCESS);
  EXPECT_EQ(kernel::seek_file(d->file, 0, kernel::kSeekCurrent), at) << "position restored";
  const auto& r = *d->des[0];
  EXPECT_EQ(r.read, 1);
  EXPECT_EQ(field(r.desid), nitfgen::text("TEST_DES", 25)) << "blanks kept";
  EXPECT_STREQ(r.desver, "01");
  EXPECT_STREQ(r.desclas, "U");
  EXPECT_STREQ(r.desclsy, "12");
  EXPECT_STREQ(r.descode, "12345678901");
  EXPECT_STREQ(r.desrel, "12345678901234567890");
  EXPECT_STREQ(r.desdcdt, "12345678");
  EXPECT_STREQ(r.descltx, "1234567890123456789012345678901234567890123");
  EXPECT_STREQ(r.descaut, "1234567890123456789012345678901234567890");
  EXPECT_STREQ(r.desctln, "123456789012345");
  EXPECT_STREQ(r.desoflw, "") << "not an overflow DES";
  EXPECT_STREQ(r.desshl, "0007");
  ASSERT_EQ(r.desshf.size(), 8u);
  EXPECT_STREQ(r.desshf.data(), "1606501");
}

// autzen-utm10.ntf: gdalinfo shows DES "LIDARA DES" with DESSHL 0003 and DESSHF "  0".
// A reader that took DESOFLW and DESITEM from every DES would misread both.
TEST(DesSubheader, RealSampleAfterAnImage) {
  REQUIRE_SAMPLES();
  Parsed p = open_and_read(sample("misc/autzen-utm10.ntf"));
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto& r = *p.document->des[0];
  EXPECT_EQ(field(r.desid), nitfgen::text("LIDARA DES", 25));
  EXPECT_STREQ(r.desshl, "0003");
  ASSERT_FALSE(r.desshf.empty());
  EXPECT_STREQ(r.desshf.data(), "  0");
}

TEST(DesSubheader, OverflowFieldsOnlyInTreOverflow) {
  TempDir dir;
  nitfgen::DesSpec overflow;
  overflow.desid = "TRE_OVERFLOW";
  overflow.desoflw = "IXSHD";
  overflow.desitem = "1";
  overflow.desshf = "abc";
  nitfgen::DesSpec other;
  other.desid = "TRE_OVERFLOWS";
  other.desshf = "xyz12";
  FileSpec layout;
  layout.des.push_back({nitfgen::des_subheader_full(overflow), "TREDATA"});
  layout.des.push_back({nitfgen::des_subheader_full(other), ""});
  layout.des.push_back({nitfgen::des_subheader_full(), ""});  // no user fields
  ASSERT_EQ(layout.des.back().subheader.size(), 200u);  // DE to DESCTLN, DESSHL
  Parsed p = open_and_read(dir.write("overflow.ntf", nitfgen::build(layout)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto& o = *p.document->des[0];
  EXPECT_TRUE(nitf::des_has_overflow_fields(o));
  EXPECT_STREQ(o.desoflw, "IXSHD ");
  EXPECT_STREQ(o.desitem, "001");
  EXPECT_STREQ(o.desshl, "0003");
  EXPECT_STREQ(o.desshf.data(), "abc");
  const auto& n = *p.document->des[1];
  EXPECT_FALSE(nitf::des_has_overflow_fields(n));
  EXPECT_STREQ(n.desoflw, "");
  EXPECT_STREQ(n.desitem, "");
  EXPECT_STREQ(n.desshl, "0005");
  EXPECT_STREQ(n.desshf.data(), "xyz12");
  EXPECT_STREQ(p.document->des[2]->desshl, "0000");
  EXPECT_TRUE(p.document->des[2]->desshf.empty()) << "no user fields, no buffer";
}

TEST(DesSubheader, OverflowTestIgnoresOnlyTrailingBlanks) {
  struct Case {
    const char* desid;
    bool overflow;
  } cases[] = {
      {"TRE_OVERFLOW             ", true},  {"TRE_OVERFLOW", true},
      {" TRE_OVERFLOW            ", false}, {"TRE_OVERFLOWX            ", false},
      {"tre_overflow             ", false}, {"TRE_OVERFLO              ", false},
      {"                         ", false}, {"", false},
  };
  for (const Case& c : cases) {
    nitf::NitfDesSubheader r(nullptr, 0);
    std::strcpy(r.desid, c.desid);
    EXPECT_EQ(nitf::des_has_overflow_fields(r), c.overflow) << "'" << c.desid << "'";
  }
}

TEST(DesSubheader, ChecksOfMagicVersionAndClass) {
  TempDir dir;
  std::string sub = nitfgen::des_subheader_full();
  struct Case {
    std::size_t at;
    std::string bytes;
    int code;
  } cases[] = {
      {kDesverAt, "00", RET_SUCCESS},       {kDesverAt, "99", RET_SUCCESS},
      {kDesverAt, "-1", RET_FILE_FORMAT},   {kDesverAt, "-9", RET_FILE_FORMAT},
      {kDesclasAt, "R", RET_SUCCESS},       {kDesclasAt, "X", RET_FILE_FORMAT},
      {kDesclasAt, "u", RET_FILE_FORMAT},   {kDesclasAt, std::string(1, '\0'), RET_FILE_FORMAT},
      {0, "DX", RET_FILE_FORMAT},           {0, "SY", RET_FILE_FORMAT},
      {kDesshlAt, "-001", RET_FILE_FORMAT},
  };
  for (const Case& c : cases) {
    Parsed p = open_and_read(one_des(dir, patched(sub, c.at, c.bytes)));
    EXPECT_EQ(p.result, c.code) << "'" << c.bytes << "' at " << c.at;
  }
}

TEST(DesSubheader, UserFieldLengthBeyondTheSegmentIsRefusedBeforeAllocating) {
  TempDir dir;
  nitfgen::DesSpec layout;
  layout.desshf = "0123456789";
  std::string sub = nitfgen::des_subheader_full(layout);
  std::string data(20000, 'd');  // the file holds any DESSHL, the segment does not
  for (const char* desshl : {"0011", "9999"}) {
    Parsed p = open_segments(one_des(dir, patched(sub, kDesshlAt, desshl), data));
    ASSERT_EQ(p.result, RET_SUCCESS);
    std::size_t before = kernel::live_objects();
    {
      AllocationCap cap(64);
      EXPECT_EQ(read_des(p.document.get(), 0), RET_FILE_READ) << desshl;
    }
    EXPECT_EQ(kernel::live_objects(), before);
  }
  // Overflow fields that the segment lacks.
  nitfgen::DesSpec overflow;
  overflow.desid = "TRE_OVERFLOW";
  std::string short_sub = nitfgen::des_subheader_full(overflow).substr(0, kDesshlAt + 5);
  EXPECT_EQ(open_and_read(one_des(dir, short_sub)).result, RET_FILE_READ);
}

// ---------------------------------------------------------------------------------
// Public records

using GraphicHeaderRecord = LeakChecked;

TEST_F(GraphicHeaderRecord, ExtensionAndNegativeGroups) {
  TempDir dir;
  nitfgen::GraphicSpec layout;
  layout.fields["SLOC"] = "-0010-0020";
  layout.fields["ENCRYP"] = " ";
  layout.has_extension = true;
  layout.extension = nitfgen::tre("ABCDEF", "0123456789");
  Parsed p = open_and_read(one_graphic(dir, nitfgen::graphic_subheader(layout)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfGraphicHeader r{};
  ASSERT_EQ(Kv_NITFGetGraphicHeader(p.document.get(), 0, &r), RET_SUCCESS);
  EXPECT_EQ(value(r.SLOC_ROW), -10);
  EXPECT_EQ(value(r.SLOC_COLUMN), -20);
  EXPECT_EQ(value(r.ENCRYP), 0);
  EXPECT_EQ(value(r.SXSHDL), 24);
  EXPECT_EQ(value(r.SXSOFL), 0);
  const uint8_t* area = value(r.SXSHD);
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(area)), layout.extension);
  Kv_NITFFreeGraphicHeader(&r);
  EXPECT_EQ(value(r.SXSHD), nullptr);
}

// A getter's refusals, and a get that runs out of memory after `cap` bytes: each leaves
// every member of the record null.
template <class Record, class Get, class Free>
void expect_refusals(NitfDocument* d, Get get, Free release, std::size_t cap) {
  Record r{}, zero{};
  EXPECT_EQ(get(nullptr, 0, &r), RET_FAILURE);
  EXPECT_EQ(get(d, 0, nullptr), RET_BAD_ARGUMENT);
  EXPECT_EQ(get(d, 1, &r), RET_BAD_ARGUMENT);
  EXPECT_EQ(get(d, -1, &r), RET_BAD_ARGUMENT);
  EXPECT_EQ(std::memcmp(&r, &zero, sizeof r), 0);
  {
    AllocationCap limit(cap);
    EXPECT_EQ(get(d, 0, &r), RET_NO_MEMORY);
  }
  EXPECT_EQ(std::memcmp(&r, &zero, sizeof r), 0) << "every member null";
  EXPECT_EQ(release(&r), RET_SUCCESS) << "all members none";
  EXPECT_EQ(release(nullptr), RET_BAD_ARGUMENT);
}

TEST_F(GraphicHeaderRecord, RefusalsAndNoMemory) {
  TempDir dir;
  FileSpec layout;
  layout.graphics.push_back({nitfgen::graphic_subheader(), "CGM"});
  layout.texts.push_back({nitfgen::text_subheader(), "hello"});
  Parsed p = open_and_read(dir.write("both.ntf", nitfgen::build(layout)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  // SY and SID fit in 11 bytes, SNAME (20 + NUL) does not; TE and TEXTID in 8, TXTITL not.
  expect_refusals<NitfGraphicHeader>(p.document.get(), Kv_NITFGetGraphicHeader,
                                     Kv_NITFFreeGraphicHeader, 11);
  expect_refusals<NitfTextHeader>(p.document.get(), Kv_NITFGetTextHeader, Kv_NITFFreeTextHeader, 8);
}

using TextHeaderRecord = LeakChecked;

// WithBE.ntf's text subheader, read and then copied out; gdalinfo -mdd TEXT shows it as
// HEADER_0.
TEST_F(TextHeaderRecord, RealSampleReadAndCopied) {
  REQUIRE_SAMPLES();
  Parsed p = open_segments(sample("misc/WithBE.ntf"));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  ASSERT_EQ(d->text_count, 1u);
  std::int64_t at = nitf::position_at_segment(d, SegmentKind::kText, 0);
  ASSERT_EQ(nitf::read_txsubhdr(d->texts[0].get(), d, nullptr, ReadMode::kNormal), RET_SUCCESS);
  EXPECT_EQ(kernel::seek_file(d->file, 0, kernel::kSeekCurrent), at) << "position restored";
  const auto& t = *d->texts[0];
  EXPECT_EQ(t.read, 1);
  EXPECT_STREQ(t.te, "TE");
  EXPECT_STREQ(t.textid, "       ");
  EXPECT_STREQ(t.txtalvl_text, "000");
  EXPECT_EQ(t.txtalvl, 0);
  EXPECT_STREQ(t.txtdt, "20021006220320");
  EXPECT_EQ(field(t.txtitl), std::string(80, ' '));
  EXPECT_STREQ(t.tsclas, "U");
  EXPECT_EQ(field(t.tsctln), std::string(15, ' '));
  EXPECT_STREQ(t.encryp, "0");
  EXPECT_STREQ(t.txtfmt, "STA");
  EXPECT_STREQ(t.txshdl, "00000");
  EXPECT_FALSE(t.txshd.present());

  NitfTextHeader r{};
  ASSERT_EQ(Kv_NITFGetTextHeader(p.document.get(), 0, &r), RET_SUCCESS);
  EXPECT_STREQ(value(r.TE), "TE");
  EXPECT_STREQ(value(r.TEXTID), "       ");
  EXPECT_EQ(value(r.TXTALVL), 0);
  EXPECT_EQ(std::string(r.TXTDT, 14), "20021006220320");
  EXPECT_EQ(std::string(value(r.TXTITL)), std::string(80, ' '));
  EXPECT_STREQ(value(r.TSCLAS), "U");
  EXPECT_EQ(std::string(r.TSSRDT, 8), std::string(8, ' '));
  EXPECT_EQ(std::string(value(r.TSCTLN)), std::string(15, ' '));
  EXPECT_EQ(value(r.ENCRYP), 0);
  EXPECT_STREQ(value(r.TXTFMT), "STA");
  EXPECT_EQ(value(r.TXSHDL), 0);
  EXPECT_EQ(value(r.TXSHD), nullptr);
  EXPECT_EQ(Kv_NITFFreeTextHeader(&r), RET_SUCCESS);
  EXPECT_EQ(value(r.TE), nullptr);
  EXPECT_EQ(value(r.TXTFMT), nullptr);
}

TEST_F(TextHeaderRecord, ExtensionCopiedAndReleasedBeforeTheNextGet) {
  TempDir dir;
  nitfgen::TextSpec layout;
  layout.fields["TXTALVL"] = "7";
  layout.has_extension = true;
  layout.extension = nitfgen::tre("TXTTRE", "abc") + nitfgen::tre("SECOND", "");
  Parsed p = open_and_read(one_text(dir, nitfgen::text_subheader(layout)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfTextHeader r{};
  ASSERT_EQ(Kv_NITFGetTextHeader(p.document.get(), 0, &r), RET_SUCCESS);
  EXPECT_EQ(value(r.TXTALVL), 7);
  EXPECT_EQ(value(r.TXSHDL), 28);
  ASSERT_NE(value(r.TXSHD), nullptr);
  EXPECT_EQ(std::memcmp(value(r.TXSHD), layout.extension.data(), 25), 0);
  Kv_NITFFreeTextHeader(&r);
  ASSERT_EQ(Kv_NITFGetTextHeader(p.document.get(), 0, &r), RET_SUCCESS) << "fresh copies";
  EXPECT_STREQ(value(r.TE), "TE");
  Kv_NITFFreeTextHeader(&r);
}

// The members follow one another without padding.
TEST(GraphicTextRecords, PackedLayout) {
  EXPECT_EQ(sizeof(NitfGraphicHeader), 19 * sizeof(char*) + 24 + 13 * 4);
  EXPECT_EQ(sizeof(NitfTextHeader), 18 * sizeof(char*) + 14 + 24 + 4 * 4);
}

// ---------------------------------------------------------------------------------
// Differential check against GDAL, and hostile bytes

// `gdalinfo -mdd CGM -mdd xml:DES` output, or empty when gdalinfo cannot be run.
std::string gdalinfo(const fs::path& path) {
  return command_output("gdalinfo -mdd CGM -mdd xml:DES '" + path.string() + "' 2>/dev/null");
}

// The value after "KEY=" on its own line, or after KEY" value=" in the DES list.
std::string gdal_value(const std::string& out, const std::string& key) {
  std::size_t at = out.find("  " + key + "=");
  if (at == std::string::npos) return "?";
  at += key.size() + 3;
  return out.substr(at, out.find('\n', at) - at);
}

std::string gdal_des_field(const std::string& out, std::size_t from, const std::string& name) {
  std::string tag = "<field name=\"" + name + "\" value=\"";
  std::size_t at = out.find(tag, from);
  if (at == std::string::npos) return "?";
  at += tag.size();
  return out.substr(at, out.find('"', at) - at);
}

std::string trimmed(const char* text) {
  std::string s(text);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

TEST(GraphicTextDesGdal, EverySampleAgreesWithGdal) {
  REQUIRE_SAMPLES();
  if (gdalinfo(sample("misc/test_blank.ntf")).find("Driver: NITF") == std::string::npos)
    GTEST_SKIP() << "gdalinfo with the NITF driver is not available";
  int compared = 0;
  for (const fs::path& path : all_samples()) {
    Parsed p = open_and_read(path);
    if (p.result != RET_SUCCESS && p.result != RET_UNSUPPORTED_VERSION) ADD_FAILURE() << path;
    if (p.result != RET_SUCCESS) continue;
    const NitfDocument& d = *p.document;
    if (d.graphic_count == 0 && d.des_count == 0) continue;
    SCOPED_TRACE(path.string());
    std::string out = gdalinfo(path);
    for (std::uint32_t i = 0; i < d.graphic_count; ++i) {
      const auto& g = *d.graphics[i];
      std::string s = "SEGMENT_" + std::to_string(i) + "_";
      EXPECT_EQ(gdal_value(out, s + "SDLVL"), std::to_string(g.sdlvl));
      EXPECT_EQ(gdal_value(out, s + "SALVL"), std::to_string(g.salvl));
      EXPECT_EQ(gdal_value(out, s + "SLOC_ROW"), std::to_string(g.sloc_row));
      EXPECT_EQ(gdal_value(out, s + "SLOC_COL"), std::to_string(g.sloc_column));
      ++compared;
    }
    std::size_t from = 0;
    for (std::uint32_t i = 0; i < d.des_count; ++i) {
      const auto& r = *d.des[i];
      from = out.find("<des name=\"", from);
      ASSERT_NE(from, std::string::npos);
      EXPECT_EQ(out.substr(from + 11, out.find('"', from + 11) - from - 11), trimmed(r.desid));
      EXPECT_EQ(gdal_des_field(out, from, "DESVER"), r.desver);
      EXPECT_EQ(gdal_des_field(out, from, "DECLAS"), r.desclas);
      EXPECT_EQ(gdal_des_field(out, from, "DESCTLN"), trimmed(r.desctln));
      EXPECT_EQ(gdal_des_field(out, from, "DESSHL"), r.desshl);
      if (!r.desshf.empty()) {
        EXPECT_EQ(gdal_des_field(out, from, "DESSHF"), r.desshf.data());
      }
      ++from;
      ++compared;
    }
  }
  EXPECT_GE(compared, 8) << "six graphics and two DES in the samples";
}

// Where the graphic, text and DES subheaders of a file lie.
struct Region {
  std::int64_t start, end;
};

std::vector<Region> subheader_regions(const NitfDocument& d) {
  std::vector<Region> out;
  auto add = [&](SegmentKind kind, std::uint32_t count, const nitf::LengthTables& t) {
    for (std::uint32_t i = 0; i < count; ++i) {
      std::int64_t at = nitf::segment_offset(d, kind, i);
      out.push_back({at, at + static_cast<std::int64_t>(t.subheader(i))});
    }
  };
  add(SegmentKind::kGraphic, d.graphic_count, d.header.graphics);
  add(SegmentKind::kText, d.text_count, d.header.texts);
  add(SegmentKind::kDataExtension, d.des_count, d.header.des);
  return out;
}

std::vector<fs::path> samples_with_subheaders() {
  std::vector<fs::path> out;
  for (const fs::path& path : all_samples()) {
    Parsed p = read_header_only(path);
    if (p.result != RET_SUCCESS) continue;
    const NitfDocument& d = *p.document;
    if (d.graphic_count + d.text_count + d.des_count) out.push_back(path);
  }
  return out;
}

// One read of a damaged file: the code it gives, with every object released after.
int read_damaged(const fs::path& path) {
  std::size_t before = kernel::live_objects();
  int result;
  {
    Parsed p = open_and_read(path);
    result = p.result;
  }
  EXPECT_EQ(kernel::live_objects(), before);
  return result;
}

void overwrite(const fs::path& path, std::int64_t at, char byte) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(at);
  f.put(byte);
}

TEST(GraphicTextDesDamage, EveryByteOfTheRealSubheadersCorrupted) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::set<int> allowed = {RET_SUCCESS, RET_FILE_READ, RET_FILE_FORMAT};
  std::size_t runs = 0;
  for (const fs::path& source : samples_with_subheaders()) {
    SCOPED_TRACE(source.string());
    std::string original = nitfgen::read_file(source.string());
    fs::path copy = dir.write("damaged.ntf", original);
    std::vector<Region> regions = subheader_regions(*read_header_only(copy).document);
    for (const Region& r : regions) {
      for (std::int64_t at = r.start; at < r.end; ++at) {
        for (char byte : {'-', '9', 'X', '\0', ' ', '0'}) {
          overwrite(copy, at, byte);
          int code = read_damaged(copy);
          EXPECT_TRUE(allowed.count(code)) << "byte " << at << " = " << int(byte) << ": " << code;
          ++runs;
        }
        overwrite(copy, at, original[static_cast<std::size_t>(at)]);
      }
    }
  }
  EXPECT_GT(runs, 10000u);
}

// A file cut anywhere in a subheader: the segments before it read, the cut one gives
// RET_FILE_READ.
TEST(GraphicTextDesDamage, EveryTruncationOfTheRealSubheaders) {
  REQUIRE_SAMPLES();
  TempDir dir;
  for (const fs::path& source : samples_with_subheaders()) {
    SCOPED_TRACE(source.string());
    fs::path copy = dir.write("cut.ntf", nitfgen::read_file(source.string()));
    std::vector<std::int64_t> cuts;
    for (const Region& r : subheader_regions(*read_header_only(copy).document))
      for (std::int64_t at = r.start; at < r.end; ++at) cuts.push_back(at);
    std::sort(cuts.rbegin(), cuts.rend());
    for (std::int64_t cut : cuts) {
      fs::resize_file(copy, static_cast<std::uintmax_t>(cut));
      EXPECT_EQ(read_damaged(copy), RET_FILE_READ) << "cut at " << cut;
    }
  }
}

}  // namespace
