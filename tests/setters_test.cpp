// The setters of the four public records. The natural use is get, change one member,
// set: on every real sample a get and set of each record must leave every field and
// length of the document as it was, and a changed member must change its field alone
// plus the lengths it implies. Coded fields, location groups, extension areas and
// records with null members are checked on the samples that carry them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/records.h"
#include "graphics_text/grsubhdr.h"
#include "graphics_text/txsubhdr.h"
#include "image/imsubhdr.h"
#include "kernel/memory.h"
#include "nitfgen.h"
#include "testing.h"

namespace {

using namespace testing_support;

using Setters = LeakChecked;

std::string area_text(const nitf::TreArea& a) {
  return std::to_string(a.tre_count) + ":" +
         std::string(reinterpret_cast<const char*>(a.data()), a.size());
}

std::string lengths_text(const nitf::LengthTables& t) {
  std::string out;
  for (std::size_t i = 0; i < t.subheader_current.size(); ++i)
    out += std::to_string(t.subheader_current[i]) + "/" +
           std::to_string(t.data_current.at_or(i, 0)) + " ";
  return out;
}

// Every field and current length the writer works from, as one text.
std::string snapshot(NitfDocument& d) {
  nitf::NitfFileHeaderData& h = d.header;
  std::string out;
  for (const nitf::HeaderField& f : nitf::header_fields())
    if (f.text) out += std::string(f.name) + "=" + f.text(h) + "|";
  out += area_text(h.udhd) + area_text(h.xhd) + std::to_string(h.hl_current) + " " +
         std::to_string(h.fl_current) + "\n";
  for (const nitf::LengthTables* t : {&h.images, &h.graphics, &h.texts, &h.des, &h.res})
    out += lengths_text(*t) + "\n";
  for (std::uint32_t i = 0; i < d.images.size(); ++i) {
    nitf::NitfImageSubheader& s = *d.images[i];
    for (const nitf::ImageField& f : nitf::image_fields())
      if (f.text) out += std::string(f.name) + "=" + f.text(s) + "|";
    for (std::int32_t c = 0; c < s.comment_count; ++c) out += s.comments[c].text;
    for (std::size_t b = 0; b < s.bands.size(); ++b)
      out += std::string(s.bands[b].irepband) + s.bands[b].isubcat + s.bands[b].ifc +
             s.bands[b].imflt + std::to_string(int(s.bands[b].representation)) +
             std::to_string(s.bands[b].lut_count);
    out += area_text(s.udid) + area_text(s.ixshd) + std::to_string(s.colours.entries.size()) + "\n";
  }
  for (std::uint32_t i = 0; i < d.graphics.size(); ++i) {
    nitf::NitfGraphicSubheader& g = *d.graphics[i];
    for (const nitf::GraphicField& f : nitf::graphic_fields())
      if (f.text) out += std::string(f.text(g)) + "|";
    out += area_text(g.sxshd) + "\n";
  }
  for (std::uint32_t i = 0; i < d.texts.size(); ++i) {
    nitf::NitfTextSubheader& t = *d.texts[i];
    for (const nitf::TextField& f : nitf::text_fields())
      if (f.text) out += std::string(f.text(t)) + "|";
    out += area_text(t.txshd) + "\n";
  }
  return out;
}

// Get and set every record of the document, unchanged.
void get_and_set_everything(NitfDocument* d) {
  NitfHeader h{};
  ASSERT_EQ(Kv_NITFGetNITFHeader(d, &h), RET_SUCCESS);
  EXPECT_EQ(Kv_NITFSetNITFHeader(d, &h), RET_SUCCESS);
  Kv_NITFFreeNITFHeader(&h);
  for (std::int32_t i = 0; i < Kv_NITFGetImageHeaderCount(d); ++i) {
    NitfImageHeader r{};
    ASSERT_EQ(Kv_NITFGetImageHeader(d, std::uint32_t(i), &r), RET_SUCCESS);
    EXPECT_EQ(Kv_NITFSetImageHeader(d, std::uint32_t(i), &r), RET_SUCCESS) << "image " << i;
    Kv_NITFFreeImageHeader(&r);
  }
  for (std::int32_t i = 0; i < Kv_NITFGetGraphicHeaderCount(d); ++i) {
    NitfGraphicHeader r{};
    ASSERT_EQ(Kv_NITFGetGraphicHeader(d, i, &r), RET_SUCCESS);
    EXPECT_EQ(Kv_NITFSetGraphicHeader(d, i, &r), RET_SUCCESS) << "graphic " << i;
    Kv_NITFFreeGraphicHeader(&r);
  }
  for (std::int32_t i = 0; i < Kv_NITFGetTextHeaderCount(d); ++i) {
    NitfTextHeader r{};
    ASSERT_EQ(Kv_NITFGetTextHeader(d, i, &r), RET_SUCCESS);
    EXPECT_EQ(Kv_NITFSetTextHeader(d, i, &r), RET_SUCCESS) << "text " << i;
    Kv_NITFFreeTextHeader(&r);
  }
}

TEST_F(Setters, GetAndSetChangeNothingOnAnySample) {
  REQUIRE_SAMPLES();
  int checked = 0;
  for (const fs::path& path : all_samples()) {
    Parsed p = parse(path);
    if (p.result != RET_SUCCESS) continue;
    const std::string before = snapshot(*p.document);
    get_and_set_everything(p.document.get());
    EXPECT_EQ(snapshot(*p.document), before) << path;
    ++checked;
  }
  EXPECT_GE(checked, 25);
}

struct Opened {
  Parsed p;
  NitfDocument* d() { return p.document.get(); }
};

Opened open_sample(const char* name) {
  Opened o{parse(sample(name))};
  EXPECT_EQ(o.p.result, RET_SUCCESS) << name;
  return o;
}

// ----- File header -------------------------------------------------------------------

TEST_F(Setters, FileHeaderRulesForTextsCodesAndVersion) {
  REQUIRE_SAMPLES();
  Opened o = open_sample("jitc/i_3001a.ntf");
  NitfHeader h{};
  ASSERT_EQ(Kv_NITFGetNITFHeader(o.d(), &h), RET_SUCCESS);
  const std::string title = o.d()->header.ftitle;
  char* old_title = h.FTITLE;
  std::string too_long(81, 'T');
  h.FTITLE = too_long.data();
  h.CLEVEL = 9;
  h.FVER = 2.1f;
  h.FBKGC[0] = 0x10;
  EXPECT_EQ(Kv_NITFSetNITFHeader(o.d(), &h), RET_SUCCESS);
  EXPECT_EQ(o.d()->header.ftitle, title) << "an 81-character title is not taken";
  EXPECT_STREQ(o.d()->header.clevel_text, "03") << "CLEVEL 9 is ignored";
  EXPECT_STREQ(o.d()->header.fver, "02.10");
  EXPECT_EQ(o.d()->header.background & 0xFF, 0x10u);
  h.CLEVEL = 5;
  std::string oname = "KVNTFU TEST";
  char* old_oname = h.ONAME;
  h.ONAME = oname.data();
  EXPECT_EQ(Kv_NITFSetNITFHeader(o.d(), &h), RET_SUCCESS);
  EXPECT_STREQ(o.d()->header.clevel_text, "05");
  EXPECT_EQ(std::string(o.d()->header.oname), "KVNTFU TEST             ") << "24 wide";

  // HL, FL, counts and tables belong to the document.
  const std::int64_t fl = o.d()->header.fl_current;
  h.FL = 1234;
  h.NUMI = 7;
  EXPECT_EQ(Kv_NITFSetNITFHeader(o.d(), &h), RET_SUCCESS);
  EXPECT_EQ(o.d()->header.fl_current, fl);
  EXPECT_STREQ(o.d()->header.numi, "001");

  // Refused before anything changes: a null string, a number wider than its field.
  h.FTITLE = nullptr;
  h.CLEVEL = 6;
  EXPECT_EQ(Kv_NITFSetNITFHeader(o.d(), &h), RET_INVALID_PARAMETER);
  h.FTITLE = too_long.data();
  h.FSCOP = 123456;
  EXPECT_EQ(Kv_NITFSetNITFHeader(o.d(), &h), RET_INVALID_PARAMETER);
  EXPECT_STREQ(o.d()->header.clevel_text, "05");
  h.FTITLE = old_title;
  h.ONAME = old_oname;
  Kv_NITFFreeNITFHeader(&h);
  EXPECT_EQ(Kv_NITFSetNITFHeader(nullptr, &h), RET_FAILURE);
  EXPECT_EQ(Kv_NITFSetNITFHeader(o.d(), nullptr), RET_BAD_ARGUMENT);
}

TEST_F(Setters, FileHeaderExtensionAreaMovesHlAndFl) {
  nitfgen::FileSpec file;
  TempDir dir;
  Parsed p = parse(dir.write("plain.ntf", nitfgen::build(file)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  NitfHeader h{};
  ASSERT_EQ(Kv_NITFGetNITFHeader(d, &h), RET_SUCCESS);
  const std::int64_t hl = d->header.hl_current, fl = d->header.fl_current;
  std::string tres = nitfgen::tre("ONE", "abc") + nitfgen::tre("TWO", "de");
  h.UDHDL = std::int32_t(tres.size() + 3);
  h.UDHD = reinterpret_cast<std::uint8_t*>(tres.data());
  ASSERT_EQ(Kv_NITFSetNITFHeader(d, &h), RET_SUCCESS);
  EXPECT_EQ(d->header.udhd.tre_count, 2u);
  EXPECT_EQ(d->header.hl_current, hl + std::int64_t(tres.size()) + 3);
  EXPECT_EQ(d->header.fl_current, fl + std::int64_t(tres.size()) + 3);
  EXPECT_EQ(nitf::parse_decimal(d->header.hl), d->header.hl_current) << "HL text follows";
  NitfHeader again{};
  ASSERT_EQ(Kv_NITFGetNITFHeader(d, &again), RET_SUCCESS);
  EXPECT_EQ(value(again.HL), d->header.hl_current);
  EXPECT_EQ(std::memcmp(again.UDHD, tres.data(), tres.size()), 0);
  Kv_NITFFreeNITFHeader(&again);

  // A length without room for the overflow field, or one the area does not have.
  h.UDHDL = 2;
  EXPECT_EQ(Kv_NITFSetNITFHeader(d, &h), RET_INVALID_PARAMETER);
  h.UDHD = nullptr;
  h.UDHDL = 50;
  EXPECT_EQ(Kv_NITFSetNITFHeader(d, &h), RET_INVALID_PARAMETER);
  h.UDHDL = 0;
  ASSERT_EQ(Kv_NITFSetNITFHeader(d, &h), RET_SUCCESS);
  EXPECT_FALSE(d->header.udhd.present());
  EXPECT_EQ(d->header.hl_current, hl);
  h.UDHD = nullptr;
  Kv_NITFFreeNITFHeader(&h);
}

// ----- Image -------------------------------------------------------------------------

struct ImageRecord {
  NitfImageHeader r{};
  ~ImageRecord() { Kv_NITFFreeImageHeader(&r); }
};

// Replaces a text member with a copy the free operation can release.
void put_text(void* slot, const char* text) {
  nitf::release_member(slot);
  nitf::store_member(slot, nitf::copy_out_string(text));
}

TEST_F(Setters, ImageCodedFieldsAndTheLengthsTheyImply) {
  REQUIRE_SAMPLES();
  Opened o = open_sample("jitc/i_3001a.ntf");
  NitfDocument* d = o.d();
  nitf::NitfImageSubheader& s = *d->images[0];
  ImageRecord rec;
  ASSERT_EQ(Kv_NITFGetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  const std::uint64_t lish = d->header.images.subheader_current[0];
  const std::int64_t fl = d->header.fl_current;
  auto lengths_moved = [&](std::int64_t by) {
    EXPECT_EQ(std::int64_t(d->header.images.subheader_current[0]), std::int64_t(lish) + by);
    EXPECT_EQ(d->header.fl_current, fl + by);
    EXPECT_EQ(nitf::parse_decimal64(d->header.fl), d->header.fl_current);
  };

  const bool geolocated = s.icords[0] != ' ';
  put_text(&rec.r.ICORDS, geolocated ? " " : "G");
  ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  lengths_moved(geolocated ? -60 : 60);
  ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  lengths_moved(geolocated ? -60 : 60);
  put_text(&rec.r.ICORDS, geolocated ? "G" : " ");
  ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  lengths_moved(0);

  for (auto [ic, by] : {std::pair{"C3", 4}, std::pair{"C4", 4}, std::pair{"NM", 0}}) {
    put_text(&rec.r.IC, ic);
    ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS) << ic;
    lengths_moved(by);
  }
  put_text(&rec.r.IC, "NC");
  put_text(&rec.r.IREP, "RGB/LUT");
  put_text(&rec.r.IMAG, "/4");
  rec.r.ILOC_ROW = 0;
  rec.r.ILOC_COLUMN = -5;
  ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  EXPECT_EQ(s.representation, nitf::RepresentationCode::kRgbLut);
  EXPECT_DOUBLE_EQ(s.magnification, 0.25);
  EXPECT_STREQ(s.iloc, "00000-0005");
  EXPECT_EQ(s.location_column, -5);

  // Refusals: codes outside their tables, a location half the field cannot hold, more
  // comments than the image has; each stops the set with -13.
  const struct {
    void* slot;
    const char* bad;
    const char* good;
  } codes[] = {{&rec.r.PVTYPE, "X", "INT"}, {&rec.r.IREP, "COLOUR", "MONO"},
               {&rec.r.IC, "C9", "NC"},     {&rec.r.IMODE, "Q", "B"},
               {&rec.r.PJUST, "C", "R"},    {&rec.r.COMRAT, "12345", "    "}};
  for (const auto& c : codes) {
    put_text(c.slot, c.bad);
    EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_INVALID_PARAMETER) << c.bad;
    put_text(c.slot, c.good);
  }
  rec.r.ILOC_ROW = 100000;
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_INVALID_PARAMETER);
  EXPECT_STREQ(s.iloc, "00000-0005") << "nothing written outside the field";
  rec.r.ILOC_ROW = 0;
  rec.r.NICOM = 1;
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_INVALID_PARAMETER);
  rec.r.NICOM = 0;
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  lengths_moved(0);
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 1, &rec.r), RET_INVALID_PARAMETER) << "index = count";
  EXPECT_EQ(Kv_NITFSetImageHeader(nullptr, 0, &rec.r), RET_FAILURE);
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, nullptr), RET_BAD_ARGUMENT);
}

TEST_F(Setters, BandsAreResetOnlyWhenTheirNumberChanges) {
  REQUIRE_SAMPLES();
  Opened o = open_sample("jitc/i_3034c.ntf");  // RGB/LUT: one band with three LUTs
  NitfDocument* d = o.d();
  nitf::NitfImageSubheader& s = *d->images[0];
  ASSERT_GT(s.bands[0].lut_count, 0);
  const std::uint64_t lish = d->header.images.subheader_current[0];
  const std::int64_t lut_bytes = 5 + std::int64_t{s.bands[0].lut_count} * s.bands[0].lut_entries;
  ImageRecord rec;
  ASSERT_EQ(Kv_NITFGetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  put_text(&rec.r.IID1, "RENAMED");
  ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  EXPECT_GT(s.bands[0].lut_count, 0) << "the LUTs survive a set that keeps one band";
  EXPECT_TRUE(s.colours.present());

  rec.r.NBANDS = 3;
  ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  ASSERT_EQ(s.band_count, 3);
  EXPECT_EQ(s.bands[0].lut_count, 0);
  EXPECT_EQ(std::int64_t(d->header.images.subheader_current[0]),
            std::int64_t(lish) - lut_bytes + 2 * 13);

  rec.r.NBANDS = 0;
  rec.r.XBANDS = 12;
  ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  EXPECT_EQ(s.band_count, 12);
  EXPECT_STREQ(s.xbands, "00012");
  EXPECT_EQ(std::int64_t(d->header.images.subheader_current[0]),
            std::int64_t(lish) - lut_bytes + 11 * 13 + 5);
  rec.r.XBANDS = 0;
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_INVALID_PARAMETER) << "no bands at all";
}

TEST_F(Setters, ImageRecordWithNullMembersGivesACode) {
  REQUIRE_SAMPLES();
  Opened o = open_sample("jitc/i_3025b.ntf");  // nine comments
  NitfDocument* d = o.d();
  ImageRecord rec;
  ASSERT_EQ(Kv_NITFGetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  NitfImageHeader bare{};
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, &bare), RET_INVALID_PARAMETER);
  char** comments = nitf::load_member<char*>(&rec.r.ICOM);
  char* third = comments[2];
  comments[2] = nullptr;
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_INVALID_PARAMETER);
  comments[2] = third;
  std::string replaced = "A NEW THIRD COMMENT";
  comments[2] = replaced.data();
  ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  EXPECT_EQ(std::string(d->images[0]->comments[2].text, 19), replaced);
  comments[2] = third;
  // Fewer comments: the subheader shrinks by 80 each.
  const std::uint64_t lish = d->header.images.subheader_current[0];
  rec.r.NICOM = 7;
  ASSERT_EQ(Kv_NITFSetImageHeader(d, 0, &rec.r), RET_SUCCESS);
  EXPECT_EQ(d->header.images.subheader_current[0], lish - 160);
  rec.r.NICOM = 9;
}

// ----- Graphic and text ----------------------------------------------------------------

TEST_F(Setters, GraphicLocationsExtensionsAndRefusals) {
  REQUIRE_SAMPLES();
  Opened o = open_sample("jitc/i_3113g.ntf");
  NitfDocument* d = o.d();
  nitf::NitfGraphicSubheader& g = *d->graphics[0];
  NitfGraphicHeader r{};
  ASSERT_EQ(Kv_NITFGetGraphicHeader(d, 0, &r), RET_SUCCESS);
  r.SLOC_ROW = -5;
  r.SLOC_COLUMN = 12;
  r.SBND1_ROW = -3;
  r.SBND1_COLUMN = 0;
  ASSERT_EQ(Kv_NITFSetGraphicHeader(d, 0, &r), RET_SUCCESS);
  EXPECT_STREQ(g.sloc, "-000500012");
  EXPECT_STREQ(g.sbnd1, "-000300000") << "the minus sign leads its group, as in SLOC";
  EXPECT_EQ(g.sloc_row, -5);
  EXPECT_EQ(g.sbnd1_first, -3);

  const std::uint64_t lssh = d->header.graphics.subheader_current[0];
  std::string tres = nitfgen::tre("GRTRE", "0123456789");
  r.SXSHDL = std::int32_t(tres.size() + 3);
  r.SXSHD = reinterpret_cast<std::uint8_t*>(tres.data());
  ASSERT_EQ(Kv_NITFSetGraphicHeader(d, 0, &r), RET_SUCCESS);
  EXPECT_EQ(g.sxshd.tre_count, 1u);
  EXPECT_EQ(d->header.graphics.subheader_current[0], lssh + tres.size() + 3);
  r.SXSHD = nullptr;

  // SID of 11 characters: refused after SY was taken.
  std::string sy = "SY", sid(11, 'S');
  char* old_sy = r.SY;
  char* old_sid = r.SID;
  r.SY = sy.data();
  r.SID = sid.data();
  EXPECT_EQ(Kv_NITFSetGraphicHeader(d, 0, &r), RET_INVALID_PARAMETER);
  r.SY = old_sy;
  r.SID = old_sid;
  r.SLOC_COLUMN = -10000;
  EXPECT_EQ(Kv_NITFSetGraphicHeader(d, 0, &r), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NITFSetGraphicHeader(d, 2, &r), RET_BAD_ARGUMENT) << "index = count";
  EXPECT_EQ(Kv_NITFSetGraphicHeader(nullptr, 0, &r), RET_FAILURE);
  NitfGraphicHeader bare{};
  EXPECT_EQ(Kv_NITFSetGraphicHeader(d, 0, &bare), RET_INVALID_PARAMETER);
  Kv_NITFFreeGraphicHeader(&r);
}

TEST_F(Setters, TextFieldsAndExtensionArea) {
  REQUIRE_SAMPLES();
  Opened o = open_sample("misc/WithBE.ntf");
  NitfDocument* d = o.d();
  ASSERT_GE(Kv_NITFGetTextHeaderCount(d), 1);
  nitf::NitfTextSubheader& t = *d->texts[0];
  NitfTextHeader r{};
  ASSERT_EQ(Kv_NITFGetTextHeader(d, 0, &r), RET_SUCCESS);
  std::string title = "A NEW TITLE";
  char* old_title = r.TXTITL;
  r.TXTITL = title.data();
  r.TXTALVL = 7;
  std::memcpy(r.TXTDT, "20261206120000", 14);
  const std::uint64_t ltsh = d->header.texts.subheader_current[0];
  const std::uint64_t old_area = std::uint64_t(nitf::parse_decimal(t.txshdl));
  std::string tres = nitfgen::tre("TXTRE", "xy");
  r.TXSHDL = std::int32_t(tres.size() + 3);
  r.TXSHD = reinterpret_cast<std::uint8_t*>(tres.data());
  ASSERT_EQ(Kv_NITFSetTextHeader(d, 0, &r), RET_SUCCESS);
  EXPECT_EQ(std::string(t.txtitl).substr(0, 11), title);
  EXPECT_EQ(std::string(t.txtitl).size(), 80u);
  EXPECT_STREQ(t.txtalvl_text, "007");
  EXPECT_STREQ(t.txtdt, "20261206120000");
  EXPECT_EQ(t.txshd.tre_count, 1u);
  EXPECT_EQ(d->header.texts.subheader_current[0], ltsh + tres.size() + 3 - old_area);
  r.TXSHD = nullptr;
  r.TXTITL = old_title;
  std::string id(8, 'I');  // TEXTID is 7 wide
  char* old_id = r.TEXTID;
  r.TEXTID = id.data();
  EXPECT_EQ(Kv_NITFSetTextHeader(d, 0, &r), RET_INVALID_PARAMETER);
  r.TEXTID = old_id;
  EXPECT_EQ(Kv_NITFSetTextHeader(d, Kv_NITFGetTextHeaderCount(d), &r), RET_BAD_ARGUMENT);
  Kv_NITFFreeTextHeader(&r);
}

}  // namespace

// ----- Saved files ---------------------------------------------------------------------

namespace saved {

std::string save(NitfDocument* d, const TempDir& dir, const std::string& name) {
  const fs::path out = dir.file(name);
  EXPECT_EQ(Kv_NITFSaveFileA(d, out.string().c_str()), RET_SUCCESS) << name;
  return nitfgen::read_file(out.string());
}

// The first and last byte where two files of one length differ; {-1, -1} when equal.
std::pair<long, long> differing_span(const std::string& a, const std::string& b) {
  long first = -1, last = -1;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i]) {
      if (first < 0) first = long(i);
      last = long(i);
    }
  return {first, last};
}

// One member change: what it does to a fresh record, the field's width, and what the
// reopened file's record must then hold.
struct Change {
  const char* what;
  int width;
  void (*apply)(NitfDocument*);
  bool (*check)(NitfDocument*);
};

void header_title(NitfDocument* d) {
  NitfHeader h{};
  Kv_NITFGetNITFHeader(d, &h);
  char* old = h.FTITLE;
  std::string title = "A CHANGED TITLE";
  h.FTITLE = title.data();
  EXPECT_EQ(Kv_NITFSetNITFHeader(d, &h), RET_SUCCESS);
  h.FTITLE = old;
  Kv_NITFFreeNITFHeader(&h);
}

void image_name(NitfDocument* d) {
  NitfImageHeader r{};
  Kv_NITFGetImageHeader(d, 0, &r);
  put_text(&r.IID1, "CHANGED");
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, &r), RET_SUCCESS);
  Kv_NITFFreeImageHeader(&r);
}

void image_place(NitfDocument* d) {
  NitfImageHeader r{};
  Kv_NITFGetImageHeader(d, 0, &r);
  r.ILOC_ROW = 3;
  r.ILOC_COLUMN = -4;
  EXPECT_EQ(Kv_NITFSetImageHeader(d, 0, &r), RET_SUCCESS);
  Kv_NITFFreeImageHeader(&r);
}

void graphic_place(NitfDocument* d) {
  NitfGraphicHeader r{};
  Kv_NITFGetGraphicHeader(d, 0, &r);
  r.SLOC_ROW = -5;
  r.SLOC_COLUMN = 12;
  EXPECT_EQ(Kv_NITFSetGraphicHeader(d, 0, &r), RET_SUCCESS);
  Kv_NITFFreeGraphicHeader(&r);
}

void text_title(NitfDocument* d) {
  NitfTextHeader r{};
  Kv_NITFGetTextHeader(d, 0, &r);
  put_text(&r.TXTITL, "A CHANGED TEXT TITLE");
  EXPECT_EQ(Kv_NITFSetTextHeader(d, 0, &r), RET_SUCCESS);
  Kv_NITFFreeTextHeader(&r);
}

const Change kChanges[] = {
    {"FTITLE", 80, header_title,
     [](NitfDocument* d) {
       return std::string(d->header.ftitle).rfind("A CHANGED TITLE ", 0) == 0;
     }},
    {"IID1", 10, image_name,
     [](NitfDocument* d) {
       return d->images.size() > 0 && std::string(d->images[0]->iid1) == "CHANGED   ";
     }},
    {"ILOC", 10, image_place,
     [](NitfDocument* d) {
       return d->images.size() > 0 && std::string(d->images[0]->iloc) == "00003-0004";
     }},
    {"SLOC", 10, graphic_place,
     [](NitfDocument* d) {
       return d->graphics.size() > 0 && d->graphics[0]->sloc_row == -5 &&
              d->graphics[0]->sloc_column == 12;
     }},
    {"TXTITL", 80, text_title,
     [](NitfDocument* d) {
       return d->texts.size() > 0 &&
              std::string(d->texts[0]->txtitl).rfind("A CHANGED TEXT TITLE ", 0) == 0;
     }},
};

bool applies(const Change& c, NitfDocument* d) {
  const std::string what = c.what;
  if (what == "IID1" || what == "ILOC") return Kv_NITFGetImageHeaderCount(d) > 0;
  if (what == "SLOC") return Kv_NITFGetGraphicHeaderCount(d) > 0;
  if (what == "TXTITL") return Kv_NITFGetTextHeaderCount(d) > 0;
  return true;
}

std::string gdal_metadata(const fs::path& path) {
  if (!fs::exists("/usr/bin/gdalinfo")) return "";
  return command_output("/usr/bin/gdalinfo " + path.string() + " 2>/dev/null");
}

}  // namespace saved

TEST_F(Setters, SavedFilesDifferInTheChangedFieldAlone) {
  REQUIRE_SAMPLES();
  int changed = 0;
  for (const char* name : {"jitc/i_3001a.ntf", "jitc/i_3034c.ntf", "jitc/i_3051e.ntf",
                           "jitc/i_3201c.ntf", "jitc/i_3113g.ntf", "misc/WithBE.ntf"}) {
    TempDir dir;
    Opened plain = open_sample(name);
    const std::string original = saved::save(plain.d(), dir, "plain.ntf");
    Opened unchanged = open_sample(name);
    get_and_set_everything(unchanged.d());
    EXPECT_EQ(saved::save(unchanged.d(), dir, "unchanged.ntf"), original)
        << name << ": an unchanged get and set saves the same bytes";
    for (const saved::Change& c : saved::kChanges) {
      Opened o = open_sample(name);
      if (!saved::applies(c, o.d())) continue;
      c.apply(o.d());
      const std::string bytes = saved::save(o.d(), dir, "changed.ntf");
      ASSERT_EQ(bytes.size(), original.size()) << name << " " << c.what;
      auto [first, last] = saved::differing_span(original, bytes);
      EXPECT_GE(first, 0) << name << " " << c.what << " changed nothing";
      EXPECT_LT(last - first, c.width) << name << " " << c.what << ": bytes beyond the field";
      Parsed back = parse(dir.file("changed.ntf"));
      ASSERT_EQ(back.result, RET_SUCCESS) << name << " " << c.what;
      EXPECT_TRUE(c.check(back.document.get())) << name << " " << c.what;
      ++changed;
    }
  }
  EXPECT_GE(changed, 20);
}

TEST_F(Setters, GdalReadsTheChangedFields) {
  REQUIRE_SAMPLES();
  TempDir dir;
  Opened o = open_sample("jitc/i_3113g.ntf");
  saved::header_title(o.d());
  saved::image_name(o.d());
  saved::image_place(o.d());
  saved::save(o.d(), dir, "changed.ntf");
  const std::string info = saved::gdal_metadata(dir.file("changed.ntf"));
  if (info.empty()) GTEST_SKIP() << "gdalinfo is not installed";
  EXPECT_NE(info.find("NITF_FTITLE=A CHANGED TITLE"), std::string::npos) << info;
  EXPECT_NE(info.find("NITF_IID1=CHANGED"), std::string::npos);
  EXPECT_NE(info.find("NITF_ILOC_ROW=3"), std::string::npos);
  EXPECT_NE(info.find("NITF_ILOC_COLUMN=-4"), std::string::npos);
}
