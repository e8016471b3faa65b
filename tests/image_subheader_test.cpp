// The image subheader reader, its codes, the mask table, the streaming re-read, hostile
// input, and the image header's public record.
//
// Real files come from the shared samples; the rest are built by nitfgen's image side,
// which lays out the fields on its own. GDAL serves as an independent reader of the
// samples: run live when gdalinfo is installed, and through values read with it once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "core/records.h"
#include "image/imsubhdr.h"
#include "nitfgen_image.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitf::BandRepresentationCode;
using nitf::CompressionCode;
using nitf::NitfImageSubheader;
using nitfgen::BandSpec;
using nitfgen::ImageSpec;
using nitfgen::MaskSpec;

// A document whose file header was read and whose records were made, images unread.
// The streaming record lives as long as the document, as it does in a parse.
struct Opened {
  kernel::Tracked<NitfDocument> document = kernel::make_tracked<NitfDocument>();
  nitf::StreamingFileHeader sfh;
  int result = 0;

  NitfImageSubheader& image(std::uint32_t i) { return *document->images[i]; }
  std::int64_t offset(std::uint32_t i) const {
    return nitf::segment_offset(*document, nitf::SegmentKind::kImage, i);
  }
  int read(std::uint32_t i) {
    if (nitf::position_at_segment(document.get(), nitf::SegmentKind::kImage, i) < 0)
      return RET_FILE_READ;
    return nitf::read_imsubhdr(&image(i), document.get(), &sfh, nitf::ReadMode::kNormal);
  }
  std::int64_t position() const {
    return kernel::seek_file(document->file, 0, kernel::kSeekCurrent);
  }
};

Opened open_document(const fs::path& p) {
  Opened o;
  NitfDocument* d = o.document.get();
  d->file = kernel::open_file(wide(p).c_str(), kernel::kModeRead, kernel::kPermRead);
  d->file_size = kernel::file_size(d->file);
  nitf::HeaderSource source{d->file, d->file_size, &d->streaming, &o.sfh};
  o.result = nitf::read_file_header(&d->header, source, nitf::ReadMode::kNormal);
  if (o.result != RET_SUCCESS) return o;
  d->image_count = d->source_image_count = static_cast<std::uint32_t>(d->header.images.count);
  d->graphic_count = d->source_graphic_count = static_cast<std::uint32_t>(d->header.graphics.count);
  d->text_count = d->source_text_count = static_cast<std::uint32_t>(d->header.texts.count);
  d->des_count = static_cast<std::uint32_t>(d->header.des.count);
  o.result = nitf::allocate_segment_objects(d);
  return o;
}

fs::path one_image(const TempDir& dir, const ImageSpec& layout, const std::string& pixels = "") {
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(layout, pixels));
  return dir.write("image.ntf", nitfgen::build(file));
}

// Image 0 of a file holding that one image.
Opened read_one(const TempDir& dir, const ImageSpec& layout, const std::string& pixels = "") {
  Opened o = open_document(one_image(dir, layout, pixels));
  if (o.result == RET_SUCCESS) o.result = o.read(0);
  return o;
}

// Image 0 of a file of the default layout changed by `edit`.
template <class Edit>
Opened read_edited(const TempDir& dir, Edit edit) {
  ImageSpec layout;
  edit(layout);
  return read_one(dir, layout);
}

std::string trimmed(const std::string& s) {
  std::size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// The samples every reader must take, and the 16-bit three-band ones refused by design.
bool refused_by_version(const fs::path& p) {
  return p.filename() == "U_0006A.NTF" || p.filename() == "ns3034d.nsf";
}
bool sixteen_bit_colour(const fs::path& p) {
  std::string name = p.filename().string();
  return name.rfind("rgb16", 0) == 0 || name.rfind("066_389x298", 0) == 0;
}

// Invariants every record keeps, whatever the read returned.
void expect_consistent(const NitfImageSubheader& s) {
  EXPECT_EQ(s.bands.size(), static_cast<std::size_t>(s.band_count));
  EXPECT_EQ(s.comments.size(), static_cast<std::size_t>(s.comment_count));
  EXPECT_TRUE(s.mask.bmrlnth != 0 || s.mask.block_records.empty());
  EXPECT_TRUE(s.mask.tmrlnth != 0 || s.mask.pad_records.empty());
}

TEST(ImageSubheaderSamples, EveryImageOfEverySampleReads) {
  REQUIRE_SAMPLES();
  MessageCapture messages;
  std::size_t images = 0;
  for (const fs::path& p : all_samples()) {
    if (refused_by_version(p)) continue;
    SCOPED_TRACE(p.filename().string());
    std::size_t before = kernel::live_objects();
    Opened o = open_document(p);
    ASSERT_EQ(o.result, RET_SUCCESS);
    for (std::uint32_t i = 0; i < o.document->image_count; ++i, ++images) {
      int r = o.read(i);
      const NitfImageSubheader& s = o.image(i);
      if (sixteen_bit_colour(p)) {
        EXPECT_EQ(r, RET_UNSUPPORTED_BPP);
        continue;
      }
      ASSERT_EQ(r, RET_SUCCESS) << "image " << i;
      EXPECT_EQ(o.position(), o.offset(i)) << "the position is restored";
      EXPECT_EQ(s.segment_read, 1);
      EXPECT_NE(s.compression, CompressionCode::kUnknown);
      EXPECT_GE(s.band_count, 1);
      expect_consistent(s);
    }
    o.document.reset();
    EXPECT_EQ(kernel::live_objects(), before) << "nothing outlives the document";
  }
  EXPECT_GE(images, 30u);
}

// Block grids as GDAL lists them under NITF_METADATA (NBPR, NBPC, NPPBH, NPPBV): the
// live comparison below sees them only for uncompressed multi-block images.
TEST(ImageSubheaderSamples, BlockGridsFromGdal) {
  REQUIRE_SAMPLES();
  const struct {
    const char* file;
    std::uint32_t image;
    std::int32_t nbpr, nbpc, nppbh, nppbv;
  } known[] = {{"jitc/i_3301a.ntf", 0, 4, 4, 256, 256}, {"jitc/i_3301k.ntf", 0, 3, 3, 256, 256},
               {"jitc/i_3113g.ntf", 1, 1, 1, 204, 138}, {"jitc/i_3405a.ntf", 0, 2, 2, 512, 512},
               {"jitc/i_3034c.ntf", 0, 1, 1, 35, 18},   {"misc/LUinBand2.ntf", 0, 1, 1, 35, 18},
               {"j2k/p0_12a.ntf", 0, 1, 1, 3, 5}};
  for (const auto& k : known) {
    SCOPED_TRACE(k.file);
    Opened o = open_document(sample(k.file));
    ASSERT_EQ(o.result, RET_SUCCESS);
    ASSERT_EQ(o.read(k.image), RET_SUCCESS);
    const NitfImageSubheader& s = o.image(k.image);
    EXPECT_EQ((std::vector<std::int32_t>{s.blocks_per_row, s.blocks_per_column, s.block_width,
                                         s.block_height}),
              (std::vector<std::int32_t>{k.nbpr, k.nbpc, k.nppbh, k.nppbv}));
  }
}

// The string value of the first "key":"value" in GDAL's JSON, or "?" when absent.
std::string json_text(const std::string& json, const std::string& key) {
  std::string probe = "\"" + key + "\":\"";
  std::size_t at = json.find(probe);
  if (at == std::string::npos) return "?";
  at += probe.size();
  return json.substr(at, json.find('"', at) - at);
}

// The numbers of the first "key":[a, b] array.
std::vector<long> json_pair(const std::string& json, const std::string& key) {
  std::size_t at = json.find("\"" + key + "\":[");
  if (at == std::string::npos) return {};
  const char* p = json.c_str() + at + key.size() + 4;
  char* end = nullptr;
  long a = std::strtol(p, &end, 10);
  long b = std::strtol(end + 1, nullptr, 10);
  return {a, b};
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ImageSubheaderSamples, AgreesWithGdalOnEveryImageItOpens) {
  REQUIRE_SAMPLES();
  REQUIRE_TOOL("gdalinfo");
  std::size_t compared = 0;
  for (const fs::path& p : all_samples()) {
    if (refused_by_version(p) || sixteen_bit_colour(p)) continue;
    Opened o = open_document(p);
    ASSERT_EQ(o.result, RET_SUCCESS);
    for (std::uint32_t i = 0; i < o.document->image_count; ++i) {
      SCOPED_TRACE(p.filename().string() + " image " + std::to_string(i));
      ASSERT_EQ(o.read(i), RET_SUCCESS);
      std::string name = "NITF_IM:" + std::to_string(i) + ":" + p.string();
      std::string json = command_output("gdalinfo -json -mdd all '" + name + "' 2>/dev/null");
      if (json.find("\"size\"") == std::string::npos) continue;  // GDAL cannot open it
      const NitfImageSubheader& s = o.image(i);
      EXPECT_EQ(json_pair(json, "size"), (std::vector<long>{s.columns, s.rows}));
      EXPECT_EQ(json_text(json, "NITF_IC"), s.ic);
      EXPECT_EQ(json_text(json, "NITF_IREP"), trimmed(s.irep));
      EXPECT_EQ(json_text(json, "NITF_IMODE"), s.imode);
      EXPECT_EQ(json_text(json, "NITF_PVTYPE"), trimmed(s.pvtype));
      EXPECT_EQ(json_text(json, "NITF_ICORDS"), trimmed(s.icords));
      EXPECT_EQ(json_text(json, "NITF_IMAG"), s.imag);
      EXPECT_EQ(std::stoi(json_text(json, "NITF_ABPP")), s.significant_bits);
      EXPECT_EQ(std::stoi(json_text(json, "NITF_IDLVL")), s.display_level);
      EXPECT_EQ(std::stoi(json_text(json, "NITF_IALVL")), s.attachment_level);
      EXPECT_EQ(std::stoi(json_text(json, "NITF_ILOC_ROW")), s.location_row);
      EXPECT_EQ(std::stoi(json_text(json, "NITF_ILOC_COLUMN")), s.location_column);
      EXPECT_EQ(count_of(json, "\"band\":"), static_cast<std::size_t>(s.band_count));
      // GDAL shows the NITF blocks of uncompressed multi-block images as they are.
      if (s.blocks_per_row * s.blocks_per_column > 1 && s.ic[0] == 'N') {
        EXPECT_EQ(json_pair(json, "block"), (std::vector<long>{s.block_width, s.block_height}));
      }
      ++compared;
    }
  }
  EXPECT_GE(compared, 25u);
}

TEST(ImageSubheaderSamples, ExtensionAreasAndComments) {
  REQUIRE_SAMPLES();
  Opened autzen = open_document(sample("misc/autzen-utm10.ntf"));
  ASSERT_EQ(autzen.read(0), RET_SUCCESS);
  const NitfImageSubheader& a = autzen.image(0);
  EXPECT_STREQ(a.icords, "G");
  EXPECT_EQ(std::string(a.igeolo),
            "440344N1230429W440344N1230346W440300N1230346W440300N1230429W");  // as GDAL lists it
  EXPECT_STREQ(a.ixshdl, "00506");
  EXPECT_EQ(a.ixshd.size(), 503u);
  EXPECT_EQ(a.ixshd.tre_count, 4u);  // GEOLOB, HISTOA, ACFTB, AIMIDB
  EXPECT_EQ(std::memcmp(a.ixshd.data(), "GEOLOB", 6), 0);
  EXPECT_FALSE(a.udid.present());

  Opened j2k = open_document(sample("j2k/p0_12a.ntf"));
  ASSERT_EQ(j2k.read(0), RET_SUCCESS);
  EXPECT_EQ(j2k.image(0).comment_count, 9);
  EXPECT_EQ(std::strlen(j2k.image(0).comments[8].text), 80u);
}

TEST(ImageSubheaderSamples, ColourTablesAsGdalShowsThem) {
  REQUIRE_SAMPLES();
  // GDAL: two entries, (255, 0, 0) then (0, 255, 0), for both files; in LUinBand2 the
  // LUTs are on the second band only.
  for (const char* file : {"jitc/i_3034c.ntf", "misc/LUinBand2.ntf"}) {
    SCOPED_TRACE(file);
    Opened o = open_document(sample(file));
    ASSERT_EQ(o.read(0), RET_SUCCESS);
    const NitfImageSubheader& s = o.image(0);
    ASSERT_EQ(s.colours.entries.size(), 2u);
    const nitf::ColourEntry& e0 = s.colours.entries[0];
    const nitf::ColourEntry& e1 = s.colours.entries[1];
    EXPECT_EQ((std::vector<int>{e0.red, e0.green, e0.blue}), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ((std::vector<int>{e1.red, e1.green, e1.blue}), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(s.bands[s.band_count - 1].representation, BandRepresentationCode::kLut);
    EXPECT_EQ(s.bands[s.band_count - 1].lut_entries, 2);
  }
}

TEST(ImageSubheaderMask, MaskedSamples) {
  REQUIRE_SAMPLES();
  Opened f = open_document(sample("jitc/i_3034f.ntf"));
  ASSERT_EQ(f.read(0), RET_SUCCESS);
  const nitf::ImageMaskTable& m = f.image(0).mask;
  EXPECT_EQ(m.imdatoff, 15u);
  EXPECT_EQ(m.bmrlnth, 0);
  EXPECT_EQ(m.tmrlnth, 4);
  EXPECT_EQ(m.tpxcdlnth, 1);
  ASSERT_EQ(m.pad_code.size(), 2u);
  EXPECT_EQ(m.pad_code[0], 0);
  EXPECT_EQ(m.pad_count(), 1u);
  EXPECT_EQ(m.pad_offset(0), 0u);
  EXPECT_EQ(m.pad_offset(1), 0u);  // the appended entry
  EXPECT_EQ(m.block_count(), 0u);

  Opened k = open_document(sample("jitc/i_3301k.ntf"));
  ASSERT_EQ(k.read(0), RET_SUCCESS);
  const nitf::ImageMaskTable& n = k.image(0).mask;
  EXPECT_EQ(n.imdatoff, 47u);
  EXPECT_EQ(n.tmrlnth, 4);
  EXPECT_EQ(n.tpxcdlnth, 8);
  // IMODE R: one record per block (NBPR × NBPC), block 4 unrecorded; IMDATOFF 47 =
  // 10 bytes of header, the 1-byte pad code and nine records.
  ASSERT_EQ(n.pad_count(), 9u);
  const std::uint32_t offsets[] = {0,       0x30000,  0x60000,  0x90000, 0xFFFFFFFF,
                                   0xF0000, 0x120000, 0x150000, 0x180000};
  for (std::size_t b = 0; b < 9; ++b) EXPECT_EQ(n.pad_offset(b), offsets[b]) << b;
  EXPECT_EQ(n.pad_records.size(), 10u);
  EXPECT_EQ(n.pad_records[9], 0u);
}

TEST(ImageSubheaderMask, GeneratedTablesInFileOrder) {
  TempDir dir;
  ImageSpec layout;
  layout.ic = "NM";
  layout.nbpr = 2;
  layout.nbpc = 1;
  layout.mask = MaskSpec{};
  layout.mask->block_records = {0, 0xFFFFFFFF};
  layout.mask->pad_records = {0x01020304, 64};
  layout.mask->tpxcdlnth = 12;
  layout.mask->tpxcd = "\x0A\x0B";
  Opened o = read_one(dir, layout, std::string(128, 'p'));
  ASSERT_EQ(o.result, RET_SUCCESS);
  const nitf::ImageMaskTable& m = o.image(0).mask;
  EXPECT_EQ(m.imdatoff, 10u + 2 + 16);
  EXPECT_EQ(m.bmrlnth, 4);
  ASSERT_EQ(m.block_count(), 2u);
  EXPECT_EQ(m.block_offset(1), nitf::ImageMaskTable::kNotRecorded);
  EXPECT_EQ(m.pad_offset(0), 0x01020304u);
  EXPECT_EQ(std::memcmp(m.block_records.data() + 0, "\0\0\0\0", 4), 0);
  EXPECT_EQ(std::memcmp(m.pad_records.data(), "\x01\x02\x03\x04", 4), 0) << "kept as in the file";
  EXPECT_EQ(m.pad_offset(1), 64u);
  ASSERT_EQ(m.pad_code.size(), 3u);
  EXPECT_EQ(m.pad_code[1], 0x0B);

  // The same codes without a mask table read none: C3 is not masked.
  layout.ic = "C3";
  layout.mask.reset();
  Opened plain = read_one(dir, layout, "pixels");
  ASSERT_EQ(plain.result, RET_SUCCESS);
  EXPECT_EQ(plain.image(0).mask.imdatoff, 0u);
}

// Band sequential images record every band's blocks; the other modes one record per block.
TEST(ImageSubheaderMask, RecordsPerBandOnlyForBandSequential) {
  TempDir dir;
  ImageSpec layout;
  layout.ic = "NM";
  layout.irep = "RGB";
  layout.bands = {BandSpec{"R"}, BandSpec{"G"}, BandSpec{"B"}};
  layout.nbpr = 2;
  layout.mask = MaskSpec{};
  layout.mask->block_records = {0, 64, 128, 192, 256, 320};
  layout.imode = "S";
  Opened s = read_one(dir, layout, std::string(384, 'p'));
  ASSERT_EQ(s.result, RET_SUCCESS);
  EXPECT_EQ(s.image(0).mask.block_count(), 6u);
  EXPECT_EQ(s.image(0).mask.imdatoff, 10u + 24);

  layout.imode = "B";
  layout.mask->block_records = {0, 192};
  Opened b = read_one(dir, layout, std::string(384, 'p'));
  ASSERT_EQ(b.result, RET_SUCCESS);
  EXPECT_EQ(b.image(0).mask.block_count(), 2u);
  EXPECT_EQ(b.image(0).mask.block_offset(1), 192u);
}

TEST(ImageSubheaderMask, TableLargerThanTheImageDataIsRefused) {
  TempDir dir;
  ImageSpec layout;
  layout.ic = "M3";
  layout.nbpr = 100;
  layout.nbpc = 100;
  layout.mask = MaskSpec{};
  layout.mask->block_records.assign(10, 0);  // 10 of 10 000 records: the data end first
  layout.mask->imdatoff = 50;
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(layout, ""));
  // Plenty of bytes after the segment: only LI bounds the table.
  file.texts.push_back({std::string(285, ' '), std::string(50000, 't')});
  Opened o = open_document(dir.write("m.ntf", nitfgen::build(file)));
  ASSERT_EQ(o.result, RET_SUCCESS);
  EXPECT_EQ(o.read(0), RET_FILE_READ);
  EXPECT_TRUE(o.image(0).mask.block_records.empty());
}

TEST(ImageSubheaderCodes, RepresentationFromIrep) {
  TempDir dir;
  using C = nitf::RepresentationCode;
  const std::pair<const char*, C> cases[] = {
      {"MONO", C::kMono},
      {"RGB/LUT", C::kRgbLut},
      {"RGB", C::kRgb},
      {"RGBX", C::kRgb},
      {"RGB/LUTX", C::kRgbLut},
      {"MULTI", C::kMulti},
      {"NODISPLY", C::kNoDisplay},
      {"NVECTOR", C::kNVector},
      {"POLAR", C::kPolar},
      {"VPH", C::kVph},
      {"YCbCr601", C::kYCbCr601},
      {"XYZ", C::kRgb},
      {"mono", C::kRgb},
      {"", C::kRgb},
  };
  for (const auto& [irep, code] : cases) {
    Opened o = read_edited(dir, [&](ImageSpec& s) { s.irep = irep; });
    ASSERT_EQ(o.result, RET_SUCCESS) << irep;
    EXPECT_EQ(o.image(0).representation, code) << irep;
  }
}

TEST(ImageSubheaderCodes, BandRepresentationOnFirstCharacters) {
  TempDir dir;
  using B = BandRepresentationCode;
  const std::pair<const char*, B> cases[] = {
      {"LU", B::kLut},        {"L", B::kNone},       {"R", B::kRed},  {"RX", B::kRed},
      {"G", B::kGreen},       {"Bz", B::kBlue},      {"M", B::kMono}, {"Y", B::kLuminance},
      {"Cb", B::kChromaBlue}, {"Cr", B::kChromaRed}, {"C", B::kNone}, {"CB", B::kNone},
      {"  ", B::kNone},       {"lu", B::kNone},
  };
  ImageSpec layout;
  layout.irep = "MULTI";
  layout.bands.clear();
  for (const auto& c : cases) layout.bands.emplace_back(c.first);
  Opened o = read_one(dir, layout);
  ASSERT_EQ(o.result, RET_SUCCESS);
  ASSERT_EQ(o.image(0).band_count, static_cast<std::int32_t>(std::size(cases)));
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(o.image(0).bands[i].representation, cases[i].second) << cases[i].first;
}

TEST(ImageSubheaderCodes, PixelValueType) {
  TempDir dir;
  for (const auto& [pvtype, code] : {std::pair{"INT", nitf::PixelValueTypeCode::kInteger},
                                     std::pair{"B", nitf::PixelValueTypeCode::kBilevel}}) {
    Opened o = read_edited(dir, [&](ImageSpec& s) { s.pvtype = pvtype; });
    ASSERT_EQ(o.result, RET_SUCCESS) << pvtype;
    EXPECT_EQ(o.image(0).pixel_type, code);
  }
  for (const char* refused : {"SI", "R", "C", " "}) {
    MessageCapture messages;
    EXPECT_EQ(read_edited(dir, [&](ImageSpec& s) { s.pvtype = refused; }).result,
              RET_UNSUPPORTED_PVTYPE)
        << refused;
    EXPECT_EQ(messages.messages(), std::vector<std::string>{"Error: Unsupported PVTYPE"});
  }
}

TEST(ImageSubheaderCodes, SixteenBitsWithSeveralBands) {
  TempDir dir;
  ImageSpec layout;
  layout.nbpp = 16;
  {
    MessageCapture messages;
    EXPECT_EQ(read_one(dir, layout).result, RET_SUCCESS) << "one band of 16 bits is read";
    EXPECT_TRUE(messages.messages().empty());
  }
  layout.irep = "RGB";
  layout.bands = {BandSpec("R"), BandSpec("G"), BandSpec("B")};
  MessageCapture messages;
  EXPECT_EQ(read_one(dir, layout).result, RET_UNSUPPORTED_BPP);
  EXPECT_EQ(messages.messages(), std::vector<std::string>{"Error: Unsupported BPP"});
  layout.nbpp = 8;
  EXPECT_EQ(read_one(dir, layout).result, RET_SUCCESS);
}

TEST(ImageSubheaderCodes, CompressionAndBilevelMode) {
  TempDir dir;
  for (int code = 0; code <= 18; ++code) {
    const char* ic = nitf::name_of(nitf::kCompressions, static_cast<CompressionCode>(code));
    ASSERT_NE(ic, nullptr);
    ImageSpec layout;
    layout.ic = ic;
    layout.comrat = "2DH ";
    if (nitf::is_masked(static_cast<CompressionCode>(code))) layout.mask = MaskSpec{};
    Opened o = read_one(dir, layout, "data");
    ASSERT_EQ(o.result, RET_SUCCESS) << ic;
    EXPECT_EQ(o.image(0).compression, static_cast<CompressionCode>(code)) << ic;
    bool has_comrat = code > 1;
    EXPECT_EQ(o.image(0).bilevel_mode,
              has_comrat ? nitf::BilevelModeCode::k2DH : nitf::BilevelModeCode::kNone);
    EXPECT_EQ(o.image(0).mask.imdatoff, nitf::is_masked(o.image(0).compression) ? 10u : 0u);
  }
  // An IC the table lacks is kept with a code of its own and still carries COMRAT.
  ImageSpec layout;
  layout.ic = "Z9";
  layout.comrat = "1D  ";
  Opened o = read_one(dir, layout);
  ASSERT_EQ(o.result, RET_SUCCESS);
  EXPECT_EQ(o.image(0).compression, CompressionCode::kUnknown);
  EXPECT_EQ(o.image(0).bilevel_mode, nitf::BilevelModeCode::k1D);
  for (const auto& [comrat, mode] : {std::pair{"2DS ", nitf::BilevelModeCode::k2DS},
                                     std::pair{"00.0", nitf::BilevelModeCode::kNone}}) {
    layout.ic = "C1";
    layout.comrat = comrat;
    Opened c = read_one(dir, layout);
    ASSERT_EQ(c.result, RET_SUCCESS);
    EXPECT_EQ(c.image(0).bilevel_mode, mode) << comrat;
  }
}

TEST(ImageSubheaderCodes, CheckedFields) {
  TempDir dir;
  for (const char* mode : {"B", "P", "R", "S"}) {
    Opened o = read_edited(dir, [&](ImageSpec& s) { s.imode = mode; });
    ASSERT_EQ(o.result, RET_SUCCESS);
    EXPECT_EQ(static_cast<int>(o.image(0).mode),
              static_cast<int>(std::string("BPRS").find(mode[0])));
  }
  const struct {
    const char* field;
    const char* value;
    int code;
  } checked[] = {{"IMODE", "X", RET_FILE_FORMAT},  {"IMODE", "b", RET_FILE_FORMAT},
                 {"IM", "XX", RET_FILE_FORMAT},    {"ISCLAS", "X", RET_FILE_FORMAT},
                 {"ISCLAS", " ", RET_FILE_FORMAT}, {"ISCLAS", "C", RET_SUCCESS},
                 {"ISCLAS", "R", RET_SUCCESS},     {"ISCLAS", "S", RET_SUCCESS},
                 {"ISCLAS", "T", RET_SUCCESS}};
  for (const auto& c : checked) {
    EXPECT_EQ(read_edited(dir, [&](ImageSpec& s) { s.fields[c.field] = c.value; }).result, c.code)
        << c.field << " " << c.value;
  }
  for (const auto& [pjust, right] : {std::pair{"L", 0}, std::pair{"R", 1}, std::pair{" ", 1}}) {
    Opened o = read_edited(dir, [&](ImageSpec& s) { s.pjust = pjust; });
    ASSERT_EQ(o.result, RET_SUCCESS);
    EXPECT_EQ(o.image(0).right_justified, right) << pjust;
  }
}

TEST(ImageSubheaderFields, LocationAndMagnification) {
  TempDir dir;
  const struct {
    const char* iloc;
    std::int32_t row, column;
  } locations[] = {{"-001000020", -10, 20},
                   {"00100-0005", 100, -5},
                   {"9999999999", 99999, 99999},
                   {"  12  -3  ", 12, -3}};
  for (const auto& l : locations) {
    Opened o = read_edited(dir, [&](ImageSpec& s) { s.fields["ILOC"] = l.iloc; });
    ASSERT_EQ(o.result, RET_SUCCESS) << l.iloc;
    EXPECT_EQ(o.image(0).location_row, l.row) << l.iloc;
    EXPECT_EQ(o.image(0).location_column, l.column) << l.iloc;
  }
  const std::pair<const char*, double> magnifications[] = {
      {"/2", 0.5}, {"/4  ", 0.25}, {"1.0 ", 1.0}, {"2.5", 2.5}, {".5", 0.5}, {"/0", 1.0}};
  for (const auto& [imag, value] : magnifications) {
    Opened o = read_edited(dir, [&](ImageSpec& s) { s.imag = imag; });
    ASSERT_EQ(o.result, RET_SUCCESS) << imag;
    EXPECT_DOUBLE_EQ(o.image(0).magnification, value) << imag;
  }
}

// Twelve bands through XBANDS, then the two extension areas after the bands.
TEST(ImageSubheaderFields, BandCountFromXbandsAndExtensionAreas) {
  TempDir dir;
  ImageSpec layout;
  layout.irep = "MULTI";
  layout.bands.assign(12, BandSpec("M"));
  layout.bands[11].irepband = "R";
  layout.has_udid = true;
  layout.udid = nitfgen::tre("ABCDEF", "12345") + nitfgen::tre("XYZ", "");
  layout.has_ixshd = true;  // IXSHDL 00003: the overflow field only
  Opened o = read_one(dir, layout);
  ASSERT_EQ(o.result, RET_SUCCESS);
  const NitfImageSubheader& s = o.image(0);
  EXPECT_STREQ(s.nbands, "0");
  EXPECT_STREQ(s.xbands, "00012");
  EXPECT_EQ(s.nbands_value, 0);
  EXPECT_EQ(s.band_count, 12);
  EXPECT_EQ(s.bands[11].representation, BandRepresentationCode::kRed);
  EXPECT_STREQ(s.imode, "B") << "the fields after the bands are in place";
  EXPECT_STREQ(s.udidl, "00030");
  EXPECT_STREQ(s.udofl, "000");
  EXPECT_EQ(s.udid.size(), 27u);
  EXPECT_EQ(s.udid.tre_count, 2u);
  EXPECT_STREQ(s.ixshdl, "00003");
  EXPECT_STREQ(s.ixsofl, "000");
  EXPECT_TRUE(s.ixshd.present());
  EXPECT_EQ(s.ixshd.size(), 0u);
  EXPECT_EQ(s.ixshd.tre_count, 0u);
}

TEST(ImageSubheaderFields, GeolocationOnlyWithCoordinates) {
  TempDir dir;
  ImageSpec layout;
  layout.comments = {"first comment"};
  Opened none = read_one(dir, layout);
  ASSERT_EQ(none.result, RET_SUCCESS);
  EXPECT_EQ(std::string(none.image(0).igeolo), std::string(60, ' '));
  EXPECT_EQ(std::string(none.image(0).comments[0].text), nitfgen::text("first comment", 80));

  layout.icords = "N";
  layout.igeolo = "32N123456789012345";
  Opened utm = read_one(dir, layout);
  ASSERT_EQ(utm.result, RET_SUCCESS);
  EXPECT_EQ(std::string(utm.image(0).igeolo), nitfgen::text(layout.igeolo, 60));
  EXPECT_EQ(utm.image(0).comment_count, 1);
  EXPECT_EQ(std::string(utm.image(0).comments[0].text), nitfgen::text("first comment", 80));
}

TEST(ImageSubheaderLuts, GreyAndColourTables) {
  TempDir dir;
  std::string ramp;
  for (int i = 0; i < 256; ++i) ramp += static_cast<char>(i);
  ImageSpec grey;
  grey.bands[0].irepband = "LU";
  grey.bands[0].luts = {ramp};
  Opened g = read_one(dir, grey);
  ASSERT_EQ(g.result, RET_SUCCESS);
  ASSERT_EQ(g.image(0).colours.entries.size(), 256u);
  const nitf::ColourEntry& e = g.image(0).colours.entries[200];
  EXPECT_EQ((std::vector<int>{e.red, e.green, e.blue, e.reserved}),
            (std::vector<int>{200, 200, 200, 0}));

  ImageSpec colour;
  colour.irep = "RGB/LUT";
  colour.bands[0].irepband = "LU";
  colour.bands[0].luts = {"\x10\x11\x12", "\x20\x21\x22", "\x30\x31\x32"};
  Opened c = read_one(dir, colour);
  ASSERT_EQ(c.result, RET_SUCCESS);
  const nitf::ColourEntry& last = c.image(0).colours.entries[2];
  EXPECT_EQ((std::vector<int>{last.red, last.green, last.blue}),
            (std::vector<int>{0x12, 0x22, 0x32}));
  EXPECT_EQ(c.image(0).bands[0].lut_count, 3);
  EXPECT_EQ(c.image(0).bands[0].lut_entries, 3);
}

TEST(ImageSubheaderLuts, LastBandWithTablesWinsAndOddCountsStayAligned) {
  TempDir dir;
  ImageSpec layout;
  layout.irep = "MULTI";
  layout.bands = {BandSpec("LU"), BandSpec("M"), BandSpec("LU"), BandSpec("LU")};
  layout.bands[0].luts = {std::string(4, '\x01'), std::string(4, '\x02'), std::string(4, '\x03')};
  layout.bands[2].luts = {"\xA0\xA1", "\xB0\xB1"};          // two tables
  layout.bands[3].luts = {"\x01", "\x02", "\x03", "\x04"};  // four tables (CMYK)
  layout.fields["IDLVL"] = "007";
  Opened o = read_one(dir, layout);
  ASSERT_EQ(o.result, RET_SUCCESS);
  const NitfImageSubheader& s = o.image(0);
  ASSERT_EQ(s.colours.entries.size(), 1u) << "the last band's table replaces the others";
  EXPECT_EQ((std::vector<int>{s.colours.entries[0].red, s.colours.entries[0].green,
                              s.colours.entries[0].blue}),
            (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(s.bands[2].lut_count, 2);
  EXPECT_EQ(s.bands[3].lut_count, 4);
  EXPECT_EQ(s.display_level, 7) << "every table was read past";

  layout.bands.pop_back();
  Opened two = read_one(dir, layout);
  ASSERT_EQ(two.result, RET_SUCCESS);
  const nitf::ColourEntry& e = two.image(0).colours.entries[1];
  EXPECT_EQ((std::vector<int>{e.red, e.green, e.blue}), (std::vector<int>{0xA1, 0xB1, 0}));
  EXPECT_EQ(two.image(0).display_level, 7);
}

// A file whose image subheader marks NROWS with nines, and whose replacement data hold
// `tail` after the real file header.
fs::path streaming_file(const TempDir& dir, const ImageSpec& marked, const std::string& tail) {
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(marked, std::string(64, 'p')));
  file.streaming = true;
  return dir.write("stream.ntf", nitfgen::build_streaming(file, tail));
}

TEST(ImageSubheaderStreaming, MarkedSubheaderIsReadAgainFromTheEnd) {
  TempDir dir;
  ImageSpec real;
  real.nrows = 512;
  real.ncols = 300;
  real.fields["IID1"] = "REAL";
  real.nbpr = 2;
  ImageSpec marked = real;
  marked.fields["NROWS"] = "99999999";
  marked.fields["IID1"] = "MARKED";
  std::string tail = nitfgen::image_subheader(real);
  Opened o = open_document(streaming_file(dir, marked, tail));
  ASSERT_EQ(o.result, RET_SUCCESS);
  std::int64_t consumed = o.document->streaming.replacement_consumed;
  std::int64_t to_end = o.document->streaming.bytes_to_end;
  ASSERT_EQ(o.read(0), RET_SUCCESS);
  const NitfImageSubheader& s = o.image(0);
  EXPECT_EQ(s.rows, 512u);
  EXPECT_STREQ(s.nrows, "00000512");
  EXPECT_EQ(std::string(s.iid1), nitfgen::text("REAL", 10));
  EXPECT_EQ(s.blocks_per_row, 2);
  const std::int64_t taken = static_cast<std::int64_t>(tail.size());
  EXPECT_EQ(o.document->streaming.replacement_consumed, consumed + taken);
  EXPECT_EQ(o.document->streaming.bytes_to_end, to_end - taken);
  EXPECT_EQ(o.position(), o.offset(0));
}

TEST(ImageSubheaderStreaming, BlockMarkersAndShortReplacement) {
  TempDir dir;
  ImageSpec real;
  real.nrows = 77;
  real.ncols = 66;
  real.nbpr = 3;
  ImageSpec marked = real;
  marked.fields["NBPR"] = "9999";
  marked.fields["NCOLS"] = "00000001";
  // NROWS and NCOLS end 349 bytes into the subheader: only they are replaced.
  std::string tail = nitfgen::image_subheader(real).substr(0, 349);
  Opened o = open_document(streaming_file(dir, marked, tail));
  ASSERT_EQ(o.result, RET_SUCCESS);
  ASSERT_EQ(o.read(0), RET_SUCCESS);
  EXPECT_EQ(o.image(0).columns, 66u);
  EXPECT_STREQ(o.image(0).nbpr, "9999") << "beyond the replacement bytes: kept";
}

// A replacement holding markers itself is taken as it is; a marker in a file without
// a streaming header is refused.
TEST(ImageSubheaderStreaming, MarkersInTheReplacementOrWithoutStreamingHeader) {
  TempDir dir;
  ImageSpec marked;
  marked.fields["NROWS"] = "99999999";
  Opened o = open_document(streaming_file(dir, marked, nitfgen::image_subheader(marked)));
  ASSERT_EQ(o.result, RET_SUCCESS);
  ASSERT_EQ(o.read(0), RET_SUCCESS);
  EXPECT_STREQ(o.image(0).nrows, "99999999");
  EXPECT_EQ(o.document->streaming.bytes_to_end, 4 + 7) << "only the closing frame is left";

  ImageSpec plain;
  plain.fields["NCOLS"] = "99999999";
  Opened p = open_document(one_image(dir, plain));
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_EQ(p.read(0), RET_INVALID_PARAMETER);
}

// Every count the subheader claims is checked against the segment before allocating:
// with allocations capped, an allocation made first would give RET_NO_MEMORY instead.
TEST(ImageSubheaderBadInput, CountsBeyondTheSegment) {
  TempDir dir;
  struct Case {
    const char* what;
    ImageSpec layout;
    int code;
  };
  std::vector<Case> cases;
  auto with = [](const char* field, const char* value) {
    ImageSpec s;
    s.fields[field] = value;
    return s;
  };
  cases.push_back({"NICOM 9 without comments", with("NICOM", "9"), RET_FILE_READ});
  cases.push_back({"XBANDS 99999", with("NBANDS", "0"), RET_FILE_READ});
  cases.back().layout.fields["XBANDS"] = "99999";
  cases.push_back({"XBANDS negative", with("NBANDS", "0"), RET_FILE_FORMAT});
  cases.back().layout.fields["XBANDS"] = "-0001";
  cases.push_back({"UDIDL 99999", with("UDIDL", "99999"), RET_FILE_READ});
  cases.push_back({"UDIDL 00002", with("UDIDL", "00002"), RET_FILE_FORMAT});
  cases.push_back({"IXSHDL 99998", with("IXSHDL", "99998"), RET_FILE_READ});
  cases.push_back({"IXSHDL 00001", with("IXSHDL", "00001"), RET_FILE_FORMAT});
  ImageSpec lut;
  lut.bands[0].nluts_text = "9";
  lut.bands[0].nelut_text = "65536";
  cases.push_back({"NELUT 65536 × 9", lut, RET_FILE_READ});
  lut.bands[0].nelut_text = "-0002";
  cases.push_back({"NELUT negative", lut, RET_FILE_FORMAT});
  ImageSpec mask;
  mask.ic = "NM";
  mask.nbpr = mask.nbpc = 5000;
  mask.mask = MaskSpec{};
  mask.mask->block_records = {0};
  cases.push_back({"25 000 000 mask records", mask, RET_FILE_READ});
  mask.fields["NBPR"] = "-001";
  cases.push_back({"negative NBPR under a mask", mask, RET_FILE_FORMAT});

  kernel::set_allocation_cap(64 * 1024);
  for (const Case& c : cases) {
    std::size_t before = kernel::live_objects();
    Opened o = read_one(dir, c.layout, std::string(4096, 'x'));
    EXPECT_EQ(o.result, c.code) << c.what;
    expect_consistent(o.image(0));
    o.document.reset();
    EXPECT_EQ(kernel::live_objects(), before) << c.what;
  }
  kernel::set_allocation_cap(0);
}

TEST(ImageSubheaderBadInput, SubheaderCannotReadPastItsLength) {
  TempDir dir;
  ImageSpec layout;
  layout.comments = {"one", "two"};
  nitfgen::Segment image = nitfgen::image_segment(layout, std::string(2000, ' '));
  nitfgen::FileSpec file;
  file.images.push_back(image);
  std::string bytes = nitfgen::build(file);
  // LISH claims 100 bytes less: the rest lies in the image data, not in the subheader.
  std::size_t lish_at = 363;
  std::size_t lish = std::stoul(bytes.substr(lish_at, 6));
  bytes.replace(lish_at, 6, nitfgen::number(static_cast<long long>(lish - 100), 6));
  Opened o = open_document(dir.write("short.ntf", bytes));
  ASSERT_EQ(o.result, RET_SUCCESS);
  EXPECT_EQ(o.read(0), RET_FILE_READ);
}

// Copies a sample to a scratch file that the test may change in place while a
// document reads it.
class ScratchCopy {
 public:
  ScratchCopy(const TempDir& dir, const fs::path& from)
      : path_(dir.write(from.filename().string(), nitfgen::read_file(from.string()))),
        fd_(::open(path_.c_str(), O_RDWR)) {}
  ~ScratchCopy() { ::close(fd_); }
  const fs::path& path() const { return path_; }
  void poke(std::int64_t at, char c) const { ASSERT_EQ(::pwrite(fd_, &c, 1, at), 1); }
  void truncate(std::int64_t size) const { ASSERT_EQ(::ftruncate(fd_, size), 0); }

 private:
  fs::path path_;
  int fd_;
};

// Reads image i into a fresh record, as the parse would, and checks the outcome.
int read_hostile(Opened& o, std::uint32_t i, const std::string& where) {
  static const std::set<int> codes = {RET_SUCCESS,         RET_FILE_READ,
                                      RET_FILE_FORMAT,     RET_UNSUPPORTED_PVTYPE,
                                      RET_UNSUPPORTED_BPP, RET_INVALID_PARAMETER};
  o.document->images[i] = nitf::create_imsubhdr(o.document.get(), i);
  o.document->streaming = nitf::StreamingState{};
  int r = o.read(i);
  EXPECT_TRUE(codes.count(r)) << where << " gave " << r;
  if (r == RET_SUCCESS) {
    EXPECT_EQ(o.position(), o.offset(i)) << where;
  }
  expect_consistent(o.image(i));
  return r;
}

// Bytes of a segment worth changing: the subheader and the start of the image data,
// where masked images keep their mask table.
std::int64_t hostile_span(const Opened& o, std::uint32_t i) {
  const auto& t = o.document->header.images;
  return static_cast<std::int64_t>(t.subheader(i) + std::min<std::uint64_t>(t.data(i), 64));
}

TEST(ImageSubheaderBadInput, EveryByteOfEverySampleSubheader) {
  REQUIRE_SAMPLES();
  TempDir dir;
  MessageCapture messages;
  const char hostile[] = {'9', '-', '0', '\xFF'};
  for (const fs::path& p : all_samples()) {
    if (refused_by_version(p)) continue;
    SCOPED_TRACE(p.filename().string());
    std::string original = nitfgen::read_file(p.string());
    std::size_t before = kernel::live_objects();
    {
      ScratchCopy copy(dir, p);
      Opened o = open_document(copy.path());
      ASSERT_EQ(o.result, RET_SUCCESS);
      for (std::uint32_t i = 0; i < o.document->image_count; ++i) {
        std::int64_t start = o.offset(i), span = hostile_span(o, i);
        for (std::int64_t k = 0; k < span; ++k) {
          for (char c : hostile) {
            copy.poke(start + k, c);
            read_hostile(o, i, "byte " + std::to_string(k) + " of image " + std::to_string(i));
          }
          copy.poke(start + k, original[static_cast<std::size_t>(start + k)]);
        }
      }
    }
    EXPECT_EQ(kernel::live_objects(), before);
  }
}

TEST(ImageSubheaderBadInput, EveryTruncationOfEverySampleSubheader) {
  REQUIRE_SAMPLES();
  TempDir dir;
  MessageCapture messages;
  for (const fs::path& p : all_samples()) {
    if (refused_by_version(p)) continue;
    SCOPED_TRACE(p.filename().string());
    for (std::uint32_t i = 0;; ++i) {
      ScratchCopy copy(dir, p);
      Opened o = open_document(copy.path());
      ASSERT_EQ(o.result, RET_SUCCESS);
      if (i >= o.document->image_count) break;
      std::int64_t start = o.offset(i);
      auto lish = static_cast<std::int64_t>(o.document->header.images.subheader(i));
      for (std::int64_t k = hostile_span(o, i) - 1; k >= 0; --k) {
        copy.truncate(start + k);
        o.document->file_size = start + k;
        int r = read_hostile(o, i, "cut at " + std::to_string(k));
        if (k < lish) {
          EXPECT_NE(r, RET_SUCCESS) << "cut at " << k;
        }
      }
    }
  }
}

TEST(ImageSubheaderRecord, BandOperationsAndLookup) {
  std::size_t before = kernel::live_objects();
  {
    auto s = nitf::create_imsubhdr(nullptr, 0);
    ASSERT_TRUE(s);
    ASSERT_EQ(nitf::set_band_count(s.get(), 3), RET_SUCCESS);
    EXPECT_STREQ(s->nbands, "3");
    EXPECT_EQ(s->band_count, 3);
    ASSERT_EQ(s->bands.size(), 3u);
    EXPECT_STREQ(s->bands[2].ifc, "N");
    EXPECT_STREQ(s->bands[2].imflt, "   ");
    EXPECT_EQ(nitf::set_band_representation(s.get(), 1, "G"), RET_SUCCESS);
    EXPECT_EQ(s->bands[1].representation, BandRepresentationCode::kGreen);
    EXPECT_EQ(nitf::set_band_representation(s.get(), 3, "R"), RET_INVALID_PARAMETER);
    EXPECT_EQ(nitf::set_band_representation(s.get(), 0, "Q"), RET_INVALID_PARAMETER);
    EXPECT_EQ(nitf::set_band_count(s.get(), 10), RET_INVALID_PARAMETER) << "NBANDS is one digit";
    EXPECT_EQ(s->band_count, 3);
    // XBANDS makes the band count larger than NBANDS; the arrays follow the band count.
    std::strcpy(s->xbands, "00012");
    ASSERT_EQ(nitf::set_band_count(s.get(), 0), RET_SUCCESS);
    EXPECT_EQ(s->band_count, 12);
    EXPECT_EQ(s->bands.size(), 12u);
    EXPECT_EQ(s->bands[0].representation, BandRepresentationCode::kNone);
  }
  EXPECT_EQ(kernel::live_objects(), before);

  TempDir dir;
  nitfgen::FileSpec file;
  file.images = {nitfgen::image_segment(ImageSpec{}, ""), nitfgen::image_segment(ImageSpec{}, "")};
  Opened o = open_document(dir.write("two.ntf", nitfgen::build(file)));
  ASSERT_EQ(o.result, RET_SUCCESS);
  EXPECT_EQ(nitf::find_image_subheader(o.document.get(), 1), &o.image(1));
  EXPECT_EQ(nitf::find_image_subheader(o.document.get(), 2), nullptr);
  EXPECT_EQ(nitf::find_image_subheader(nullptr, 0), nullptr);
}

// The public record through the exports.

// A document of one generated image, parsed by the parse driver.
Parsed parse_one(const TempDir& dir, const ImageSpec& layout, const std::string& pixels = "") {
  Parsed out = parse(one_image(dir, layout, pixels));
  EXPECT_EQ(out.result, RET_SUCCESS);
  return out;
}

TEST(ImageHeaderGetter, FillsTheRecordFromTheSubheader) {
  TempDir dir;
  ImageSpec layout;
  layout.fields["ILOC"] = "-001000020";
  layout.fields["IDATIM"] = "19991231235959";
  layout.fields["ISCODE"] = "CODEWORD";
  layout.comments = {"first", "second"};
  layout.has_ixshd = true;
  layout.ixshd = nitfgen::tre("ABCDEF", "xyz");
  layout.ic = "NM";
  layout.mask = MaskSpec{};
  layout.mask->tpxcdlnth = 8;
  layout.mask->tpxcd = "\x7F";
  layout.mask->imdatoff = 0xFFFFFFF0;  // beyond what the decimal conversion holds
  Parsed d = parse_one(dir, layout, "pixels");
  std::size_t before = kernel::live_objects();
  NitfImageHeader h = {};
  ASSERT_EQ(Kv_NITFGetImageHeader(d.document.get(), 0, &h), RET_SUCCESS);
  EXPECT_STREQ(value(h.IM), "IM");
  EXPECT_EQ(std::string(value(h.IID1)), nitfgen::text("GENERATED", 10));
  EXPECT_EQ(std::string(h.IDATIM, 14), "19991231235959");
  EXPECT_EQ(std::string(value(h.ISCODE)), nitfgen::text("CODEWORD", 11));
  EXPECT_STREQ(value(h.IC), "NM");
  EXPECT_STREQ(value(h.IMAG), "1.0 ");
  EXPECT_EQ(value(h.ILOC_ROW), -10);
  EXPECT_EQ(value(h.ILOC_COLUMN), 20);
  EXPECT_EQ(value(h.NROWS), 8u);
  EXPECT_EQ(value(h.NBANDS), 1u);
  EXPECT_EQ(value(h.NBPP), 8u);
  ASSERT_EQ(value(h.NICOM), 2u);
  char** comments = value(h.ICOM);
  EXPECT_EQ(std::string(comments[1]), nitfgen::text("second", 80));
  EXPECT_EQ(value(h.IXSHDL), 17u);
  EXPECT_EQ(std::memcmp(value(h.IXSHD), "ABCDEF00003xyz", 15), 0);
  EXPECT_EQ(value(h.IMDATOFF), 2147483647u);
  EXPECT_EQ(value(h.TPXCDLNTH), 8);
  EXPECT_EQ(value(h.TPXCD)[0], 0x7F);
  EXPECT_EQ(value(h.IREPBAND), nullptr) << "the per-band texts are not filled";
  EXPECT_GT(kernel::live_objects(), before);
  EXPECT_EQ(Kv_NITFFreeImageHeader(&h), RET_SUCCESS);
  EXPECT_EQ(value(h.IM), nullptr);
  EXPECT_EQ(value(h.ICOM), nullptr);
  EXPECT_EQ(value(h.TPXCD), nullptr);
  EXPECT_EQ(kernel::live_objects(), before) << "the free releases every copy";

  ASSERT_EQ(Kv_NITFGetImageHeader(d.document.get(), 0, &h), RET_SUCCESS) << "again after the free";
  EXPECT_STREQ(value(h.IM), "IM");
  Kv_NITFFreeImageHeader(&h);
  EXPECT_EQ(kernel::live_objects(), before);
}

TEST(ImageHeaderGetter, ArgumentsUntouchedMembersAndNoMemory) {
  TempDir dir;
  ImageSpec layout;
  layout.comments = {"c"};
  Parsed d = parse_one(dir, layout);
  std::size_t before = kernel::live_objects();
  NitfImageHeader h = {};
  std::uint8_t caller[4] = {1, 2, 3, 4};
  h.IXSHD = caller;
  h.NROWS = 4242;
  EXPECT_EQ(Kv_NITFGetImageHeader(nullptr, 0, &h), RET_FAILURE);
  EXPECT_EQ(Kv_NITFGetImageHeader(d.document.get(), 0, nullptr), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NITFGetImageHeader(d.document.get(), 1, &h), RET_BAD_ARGUMENT);
  EXPECT_EQ(value(h.NROWS), 4242u) << "a refused get changes nothing";
  ASSERT_EQ(Kv_NITFGetImageHeader(d.document.get(), 0, &h), RET_SUCCESS);
  EXPECT_EQ(value(h.IXSHD), caller) << "IXSHDL 0 leaves IXSHD as the caller had it";
  EXPECT_EQ(value(h.UDID), nullptr);
  h.IXSHD = nullptr;
  Kv_NITFFreeImageHeader(&h);
  EXPECT_EQ(kernel::live_objects(), before);

  // Copies of up to 40 bytes succeed; IID2 (81) is the first to fail.
  for (std::size_t cap : {40, 1}) {
    NitfImageHeader capped = {};
    char stale[] = "stale";
    capped.IM = stale;
    kernel::set_allocation_cap(cap);
    int r = Kv_NITFGetImageHeader(d.document.get(), 0, &capped);
    kernel::set_allocation_cap(0);
    EXPECT_EQ(r, RET_NO_MEMORY) << cap;
    EXPECT_EQ(value(capped.IM), nullptr) << cap;
    EXPECT_EQ(value(capped.IID2), nullptr) << cap;
    EXPECT_EQ(value(capped.IMAG), nullptr) << cap;
    EXPECT_EQ(value(capped.ICOM), nullptr) << cap;
    EXPECT_EQ(kernel::live_objects(), before) << cap;
  }
}

TEST(ImageHeaderGetter, FreeReleasesCallerBandArrays) {
  std::size_t before = kernel::live_objects();
  NitfImageHeader h = {};
  h.NBANDS = 2;
  char** arrays[4];
  for (char**& a : arrays) {
    a = reinterpret_cast<char**>(nitf::table_out(2 * sizeof(char*) / sizeof(std::uint32_t)));
    a[0] = nitf::copy_out_string("x");
    a[1] = nitf::copy_out_string("y");
  }
  h.IREPBAND = arrays[0];
  h.ISUBCAT = arrays[1];
  h.IFC = arrays[2];
  h.IMFLT = arrays[3];
  EXPECT_EQ(Kv_NITFFreeImageHeader(&h), RET_SUCCESS);
  EXPECT_EQ(value(h.IMFLT), nullptr);
  EXPECT_EQ(kernel::live_objects(), before);
}

TEST(ImageHeaderGetter, RealSample) {
  REQUIRE_SAMPLES();
  Parsed p = parse(sample("jitc/i_3113g.ntf"));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfImageHeader h = {};
  ASSERT_EQ(Kv_NITFGetImageHeader(p.document.get(), 1, &h), RET_SUCCESS);
  EXPECT_EQ(value(h.IDLVL), 2u);
  EXPECT_EQ(value(h.ILOC_ROW), 619);
  EXPECT_EQ(value(h.ILOC_COLUMN), 296);
  EXPECT_EQ(value(h.NCOLS), 204u);
  EXPECT_STREQ(value(h.IREP), "MONO    ");
  EXPECT_EQ(Kv_NITFGetImageHeader(p.document.get(), 2, &h), RET_BAD_ARGUMENT);
  Kv_NITFFreeImageHeader(&h);
}

}  // namespace
