// The field tables and what every kind shares: fixed-field formatting, location groups,
// TRE counting, every field of every sample against GDAL, and the code each checked
// field or claimed length gives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

#include "core/ntfhdr.h"
#include "core/trearea.h"
#include "fields/utility.h"
#include "graphics_text/dexsbhdr.h"
#include "graphics_text/grsubhdr.h"
#include "graphics_text/txsubhdr.h"
#include "image/imsubhdr.h"
#include "nitfgen_image.h"
#include "nitfgen_segments.h"
#include "testing.h"
#include "writing/utility_setters.h"

namespace {

using namespace testing_support;

// SLOC, SBND1, SBND2 and ILOC: a minus sign leads its group; what is no number reads 0.
// A TRE area is walked by its CEL fields alone, never backwards and never past its end.
TEST(FixedFields, GroupsAndTres) {
  const std::tuple<const char*, std::int32_t, std::int32_t> groups[] = {
      {"-0010-0020", -10, -20}, {"00100-0005", 100, -5}, {"9999999999", 99999, 99999},
      {"  12  -3  ", 12, -3},   {"  12 abcde", 12, 0},   {"-0000-9999", 0, -9999},
      {"0012", 12, 0}};
  for (const auto& [text, row, column] : groups) {
    EXPECT_EQ(nitf::coordinate_group(text, 0), row) << text;
    EXPECT_EQ(nitf::coordinate_group(text, 1), column) << text;
  }
  char text[15];
  EXPECT_EQ(nitf::FormatLocationField(text, -3, 0), RET_SUCCESS);
  EXPECT_STREQ(text, "-000300000");
  EXPECT_EQ(nitf::find_field(nitf::image_fields(), "NOSUCH"), nullptr);
  auto count = [](const std::string& s, std::size_t n) {
    return nitf::CountTres(reinterpret_cast<const std::uint8_t*>(s.data()), n);
  };
  const std::string overrun = nitfgen::tre("A", "0123456789") + "B     00003abc";
  EXPECT_EQ(count(overrun, 35), 2u);
  EXPECT_EQ(count(overrun, 0), 0u);
  EXPECT_EQ(count("TAG   xxxxxTAG   00000", 22), 2u);  // a CEL without digits advances 11
  EXPECT_EQ(count("TAG   -0005", 11), 1u);
}

// The IMAG text a changed magnification is written as: the stored text while it still
// says the value, else the shortest that reads back the same.
TEST(FixedFields, MagnificationText) {
  const std::tuple<const char*, double, const char*> cases[] = {
      {"/2  ", 0.5, "/2  "}, {"1.0 ", 0.25, "0.25"},  {"1.0 ", 0.125, "/8"},
      {"1.0 ", 2.0, "2"},    {"1.0 ", 1.0 / 3, "/3"}, {"", 1.0, "1"}};
  for (const auto& [stored, value, text] : cases) {
    char out[5] = {};
    ASSERT_TRUE(nitf::magnification_text(stored, value, out)) << value;
    EXPECT_STREQ(out, text) << value;
  }
  char out[5];
  EXPECT_FALSE(nitf::magnification_text("1.0 ", 10000, out));
}

// ----- Against GDAL ---------------------------------------------------------------------

// GDAL trims blanks on both sides and prints counts and levels as numbers.
bool same_field(std::string ours, std::string gdal) {
  for (std::string* s : {&ours, &gdal}) {
    s->erase(s->find_last_not_of(' ') + 1);
    s->erase(0, s->find_first_not_of(' '));
  }
  char *end_ours = nullptr, *end_gdal = nullptr;
  const long long a = std::strtoll(ours.c_str(), &end_ours, 10),
                  b = std::strtoll(gdal.c_str(), &end_gdal, 10);
  return ours == gdal || (!ours.empty() && !gdal.empty() && !*end_ours && !*end_gdal && a == b);
}

// Every field of the table that GDAL lists (as `before` NAME `after` value `end`, between
// `from` and `until`) against the record's text; how many were compared.
template <class R>
int compare_fields(std::span<const nitf::Field<R>> table, R& record, const std::string& out,
                   const std::string& before, const std::string& after, char end,
                   std::size_t from = 0, std::size_t until = std::string::npos) {
  int compared = 0;
  for (const auto& f : table) {
    const std::size_t at = out.find(before + f.name + after, from);
    if (!f.text || !f.in_file(record) || f.form == KV_FORM_COLOUR || f.id == 0 || at >= until)
      continue;
    const std::size_t value = at + before.size() + std::strlen(f.name) + after.size();
    const std::string gdal = out.substr(value, out.find(end, value) - value);
    EXPECT_TRUE(same_field(f.text(record), gdal))
        << f.name << ": " << f.text(record) << " / " << gdal;
    ++compared;
  }
  return compared;
}

// Every field of every data extension and CGM of every sample as GDAL reads it (the
// file header's and images' are compared through nitf info, tests/gdal/info_fields.py);
// each image's size, bands and (uncompressed) blocks, each text's identifier and bytes.
TEST(FieldTables, AgreeWithGdal) {
  REQUIRE_SAMPLES();
  REQUIRE_TOOL("gdalinfo");
  int fields = 0;
  auto pair = [](auto a, auto b) { return std::to_string(a) + "," + std::to_string(b); };
  for (const fs::path& path : all_samples()) {
    MessageCapture quiet;
    Parsed p = parse(path);
    if (p.result != RET_SUCCESS) continue;
    NitfDocument& d = *p.document;
    SCOPED_TRACE(path.filename().string());
    for (std::uint32_t i = 0; i < d.image_count; ++i) {
      const std::string name = "'NITF_IM:" + std::to_string(i) + ":" + path.string() + "'";
      const std::string json = command_output("gdalinfo -json -mdd all " + name + " 2>/dev/null");
      nitf::NitfImageSubheader& im = *d.images[i];
      std::string flat = json;
      std::erase_if(flat, [](char c) { return c == ' ' || c == '\n'; });
      if (flat.empty()) continue;  // a codec GDAL lacks
      EXPECT_NE(flat.find("\"size\":[" + pair(im.columns, im.rows) + "]"), std::string::npos);
      std::size_t bands = 0;
      for (std::size_t at = 0; (at = flat.find("\"band\":", at + 1)) != std::string::npos;) ++bands;
      EXPECT_EQ(bands, std::size_t(im.band_count)) << i;
      const std::string ic = nitf::find_field(nitf::image_fields(), "IC")->text(im);
      const std::string block = "\"block\":[" + pair(im.block_width, im.block_height) + "]";
      EXPECT_TRUE(!(ic == "NC" || ic == "NM") || im.blocks_per_row * im.blocks_per_column == 1 ||
                  flat.find(block) != std::string::npos)
          << i;
    }
    const std::string out = command_output("gdalinfo -mdd xml:DES -mdd CGM -mdd TEXT '" +
                                           path.string() + "' 2>/dev/null");
    std::size_t from = 0;
    for (std::uint32_t i = 0; i < d.des_count; ++i) {
      from = out.find("<des name=", from + 1);
      ASSERT_NE(from, std::string::npos);
      fields += compare_fields(nitf::des_fields(), *d.des[i], out, "<field name=\"", "\" value=\"",
                               '"', from, out.find("<des name=", from + 1));
      if (!d.des[i]->desshf.empty()) {
        EXPECT_NE(
            out.find("\"DESSHF\" value=\"" + std::string(d.des[i]->desshf.data()) + "\"", from),
            std::string::npos);
      }
    }
    for (std::uint32_t i = 0; i < d.graphic_count; ++i) {
      const std::string at = "  SEGMENT_" + std::to_string(i) + "_";
      if (out.find(at + "SDLVL=") == std::string::npos) continue;  // not a CGM
      fields += compare_fields(nitf::graphic_fields(), *d.graphics[i], out, at, "=", '\n');
      const nitf::NitfGraphicSubheader& g = *d.graphics[i];
      EXPECT_NE(out.find(at + "SLOC_COL=" + std::to_string(g.sloc_column) + "\n" + at +
                         "SLOC_ROW=" + std::to_string(g.sloc_row) + "\n"),
                std::string::npos)
          << i;
    }
    for (std::uint32_t i = 0; i < d.text_count; ++i) {
      std::uint32_t n = 0;
      ASSERT_EQ(Kv_NITFGetTextSegment(&d, int(i), nullptr, &n), RET_SUCCESS);
      std::string text(n + 1, '\0');
      ASSERT_EQ(Kv_NITFGetTextSegment(&d, int(i), text.data(), &n), RET_SUCCESS);
      text.resize(n);
      EXPECT_NE(out.find("  DATA_" + std::to_string(i) + "=" + text), std::string::npos) << i;
      EXPECT_NE(out.find("  HEADER_" + std::to_string(i) + "=TE" + d.texts[i]->textid),
                std::string::npos)
          << i;
    }
  }
  EXPECT_GT(fields, 40);
}

// ----- Checked fields and claimed lengths -------------------------------------------------

// Where a field of a default record of the kind starts in its subheader.
template <class R>
std::size_t offset_in(std::span<const nitf::Field<R>> table, const std::string& name) {
  const R record(nullptr, 0);
  std::size_t at = 0;
  for (const auto& f : table) {
    if (name == f.name) return at;
    if (f.text && f.in_file(record)) at += f.width;
  }
  ADD_FAILURE() << name;
  return 0;
}

// Where fields of the file header start in a file of one segment of each kind.
const std::map<std::string, std::size_t> kHeaderAt = {
    {"FHDR", 0},   {"FVER", 4},   {"CLEVEL", 9}, {"FSCLAS", 119}, {"HL", 354},     {"NUMI", 360},
    {"LISH", 363}, {"LSSH", 382}, {"NUMX", 392}, {"LT", 402},     {"NUMRES", 423}, {"UDHDL", 426}};

enum Kind { kFile, kImage, kGraphic, kText, kDes };

struct Checked {
  Kind kind;
  const char* name;
  std::string value;
};

// An image of three bands with two comments, a graphic and a text with extension areas,
// and a data extension with user fields; `c` changes one field of it.
std::string damaged_file(const Checked& c) {
  nitfgen::ImageShape image;
  image.irep = "RGB";
  image.bands = {nitfgen::BandSpec{"R"}, nitfgen::BandSpec{"G"}, nitfgen::BandSpec{"B"}};
  image.comments = {"one", "two"};
  if (c.kind == kImage) image.fields[c.name] = c.value;
  if (c.kind == kImage && std::string(c.name) == "XBANDS") image.fields["NBANDS"] = "0";
  nitfgen::DesSpec des;
  des.desshf = "0123456789";
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(image, std::string(2000, 'p')));
  file.graphics.push_back(
      {nitfgen::graphic_subheader({{}, true, nitfgen::tre("ABCDEF", "0123456789")}), "CGM"});
  file.texts.push_back({nitfgen::text_subheader({{}, true, nitfgen::tre("TXTTRE", "abc")}),
                        std::string(50000, 't')});
  file.des.push_back({nitfgen::des_subheader_full(des), std::string(20000, 'd')});
  std::string bytes = nitfgen::build(file);
  if (c.kind == kFile) return bytes.replace(kHeaderAt.at(c.name), c.value.size(), c.value);
  if (c.kind == kImage) return bytes;
  const std::size_t hl = std::stoul(bytes.substr(354, 6));
  std::size_t at = hl + file.images[0].subheader.size() + file.images[0].data.size();
  if (c.kind == kGraphic) at += offset_in(nitf::graphic_fields(), c.name);
  if (c.kind >= kText) at += file.graphics[0].subheader.size() + 3;
  if (c.kind == kText) at += offset_in(nitf::text_fields(), c.name);
  if (c.kind == kDes)
    at += file.texts[0].subheader.size() + 50000 + offset_in(nitf::des_fields(), c.name);
  return bytes.replace(at, c.value.size(), c.value);
}

// What each checked field gives for a value it refuses, and each count or length for a
// claim beyond what the segment holds: found before anything is allocated for it (with
// allocations capped, allocating first would give RET_NO_MEMORY instead).
TEST(FieldTables, CheckedAndClaimed) {
  const std::string nul(1, '\0');
  const struct {
    Kind kind;
    int code;
    std::vector<std::pair<const char*, std::string>> values;
  } cases[] = {{kFile, RET_SUCCESS, {{"FHDR", "NSIF"}, {"FSCLAS", "T"}}},
               {kFile,
                RET_FILE_FORMAT,
                {{"FHDR", "NITX"},
                 {"FSCLAS", "u"},
                 {"HL", "-00001"},
                 {"NUMI", "-01"},
                 {"NUMX", "  0"},
                 {"LT", "-0005"},
                 {"NUMRES", "-01"},
                 {"UDHDL", "00002"},
                 {"UDHDL", "-0005"}}},
               {kFile, RET_FILE_READ, {{"LISH", "000300"}, {"LSSH", "0257"}, {"UDHDL", "99999"}}},
               {kFile, RET_UNSUPPORTED_VERSION, {{"FVER", "02.00"}, {"FVER", "02.1 "}}},
               {kFile, RET_UNSUPPORTED_CLEVEL, {{"CLEVEL", "05"}}},
               {kImage, RET_SUCCESS, {{"PVTYPE", "B"}}},
               {kImage,
                RET_FILE_FORMAT,
                {{"IM", "XX"},
                 {"ISCLAS", " "},
                 {"IMODE", "b"},
                 {"XBANDS", "-0001"},
                 {"UDIDL", "00002"},
                 {"IXSHDL", "00001"}}},
               {kImage,
                RET_FILE_READ,
                {{"NICOM", "9"}, {"XBANDS", "99999"}, {"UDIDL", "99999"}, {"IXSHDL", "99998"}}},
               {kImage, RET_UNSUPPORTED_PVTYPE, {{"PVTYPE", "SI"}}},
               {kImage, RET_UNSUPPORTED_BPP, {{"NBPP", "16"}}},
               {kGraphic, RET_SUCCESS, {{"SFMT", "B"}, {"SXSHDL", "00024"}}},
               {kGraphic,
                RET_FILE_FORMAT,
                {{"SY", "sy"}, {"SSCLAS", nul}, {"SFMT", "c"}, {"SXSHDL", "-0005"}}},
               {kGraphic, RET_FILE_READ, {{"SXSHDL", "00025"}, {"SXSHDL", "99999"}}},
               {kText, RET_SUCCESS, {{"TSCLAS", "X"}}},
               {kText, RET_FILE_FORMAT, {{"TE", "TX"}, {"TXSHDL", "00002"}}},
               {kText, RET_FILE_READ, {{"TXSHDL", "50000"}}},
               {kDes,
                RET_FILE_FORMAT,
                {{"DE", "SY"}, {"DESVER", "-9"}, {"DESCLAS", "X"}, {"DESSHL", "-001"}}},
               {kDes, RET_FILE_READ, {{"DESSHL", "9999"}}}};
  TempDir dir;
  for (const auto& group : cases) {
    for (const auto& [name, value] : group.values) {
      const fs::path path = dir.write("checked.ntf", damaged_file({group.kind, name, value}));
      std::size_t before = kernel::live_objects();
      MessageCapture messages;
      {
        AllocationCap cap(4096);
        EXPECT_EQ(parse(path).result, group.code) << name << "=" << value;
      }
      EXPECT_EQ(kernel::live_objects(), before) << name;
      EXPECT_EQ(messages.messages().size(), group.code <= RET_UNSUPPORTED_PVTYPE ? 1u : 0u) << name;
    }
  }
}

}  // namespace
