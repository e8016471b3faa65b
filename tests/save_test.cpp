// The writer: every readable sample and a set of generated files saved and read back
// (the same public records, the same pixels, the same bytes apart from the fields a
// save rewrites), lengths made true where the source lied, and the failures that must
// leave the target and the document as they were.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <kvntfu.h>

#include "image/data/imgmodes.h"
#include "nitfgen_image.h"
#include "nitfgen_segments.h"
#include "nitfgen_vq.h"
#include "testing.h"
#include "writing/savenitf.h"

namespace {

using namespace testing_support;
using nitfgen::BandSpec;
using nitfgen::FileSpec;
using nitfgen::ImageSpec;

std::string bytes_of(const fs::path& p) {
  return nitfgen::read_file(p.string());
}

// ----- Comparing two documents through the public records ---------------------------

// Records flattened to text, fields separated by '|', so that two readings compare whole.
std::string texts(std::initializer_list<const char*> fields) {
  std::string out;
  for (const char* f : fields) out += std::string(f ? f : "(null)") + "|";
  return out;
}
std::string numbers(std::initializer_list<long long> fields) {
  std::string out;
  for (long long f : fields) out += std::to_string(f) + "|";
  return out;
}
std::string bytes(const void* p, long long n) {
  return (p && n > 0 ? std::string(static_cast<const char*>(p), n) : "") + "|";
}
std::string table(const std::uint32_t* values, long long n) {
  std::string out;
  for (long long i = 0; values && i < n; ++i) out += std::to_string(values[i]) + ",";
  return out + "|";
}

std::string describe(const NitfHeader& r) {
  return texts({r.FHDR, r.STYPE, r.OSTAID, r.FTITLE, r.FSCLAS, r.FSCLSY, r.FSCODE, r.FSCTLH,
                r.FSREL, r.FSDCTP, r.FSDCXM, r.FSDG, r.FSCLTX, r.FSCATP, r.FSCAUT, r.FSCRSN,
                r.FSCTLN, r.ONAME, r.OPHONE}) +
         numbers({r.CLEVEL, r.HL, r.FL, r.FSCOP, r.FSCPYS, r.ENCRYP, r.NUMI, r.NUMS, r.NUMX, r.NUMT,
                  r.NUMDES, r.NUMRES, r.UDHDL, r.UDHOFL, r.XHDL, r.XHDLOFL}) +
         std::to_string(r.FVER) + bytes(r.FBKGC, 3) + bytes(r.FSSRDT, 8) + bytes(r.FSDGDT, 8) +
         bytes(r.FSDCDT, 8) + bytes(r.FDT, 14) + table(r.LISH, r.NUMI) + table(r.LI, r.NUMI) +
         table(r.LSSH, r.NUMS) + table(r.LS, r.NUMS) + table(r.LTSH, r.NUMT) + table(r.LT, r.NUMT) +
         table(r.LDSH, r.NUMDES) + table(r.LD, r.NUMDES) + table(r.LRESH, r.NUMRES) +
         table(r.LRE, r.NUMRES) + bytes(r.UDHD, r.UDHDL - 3) + bytes(r.XHD, r.XHDL - 3);
}

std::string describe(const NitfImageHeader& r) {
  std::string comments;
  for (std::uint32_t i = 0; r.ICOM && i < r.NICOM; ++i) comments += texts({value(r.ICOM)[i]});
  return texts({r.IM,     r.IID1,   r.TGTID,  r.IID2, r.ISCLAS, r.ISCLSY, r.ISCODE, r.ISCTLH,
                r.ISREL,  r.ISDCTP, r.ISDCXM, r.ISDG, r.ISCLTX, r.ISCATP, r.ISCAUT, r.ISCRSN,
                r.ISCTLN, r.ISORCE, r.PVTYPE, r.IREP, r.ICAT,   r.PJUST,  r.ICORDS, r.IGEOLO,
                r.IC,     r.COMRAT, r.IMODE,  r.IMAG, r.UDID}) +
         numbers({r.ENCRYP,   r.NROWS,       r.NCOLS,    r.ABPP,     r.NICOM, r.NBANDS, r.XBANDS,
                  r.ISYNC,    r.NBPR,        r.NBPC,     r.NPPBH,    r.NPPBV, r.NBPP,   r.IDLVL,
                  r.IALVL,    r.ILOC_COLUMN, r.ILOC_ROW, r.UDIDL,    r.UDOFL, r.IXSHDL, r.IXSOFL,
                  r.IMDATOFF, r.BMRLNTH,     r.TMRLNTH,  r.TPXCDLNTH}) +
         bytes(r.IDATIM, 14) + bytes(r.ISDCDT, 8) + bytes(r.ISDGDT, 8) + bytes(r.ISSRDT, 8) +
         comments + bytes(r.IXSHD, r.IXSHDL) + bytes(r.TPXCD, (r.TPXCDLNTH + 7) / 8);
}

// SCOLOR is left out: a save always writes C, which the round trip checks on its own.
std::string describe(const NitfGraphicHeader& r) {
  return texts({r.SY, r.SID, r.SNAME, r.SSCLAS, r.SSCLSY, r.SSCODE, r.SSCTLH, r.SSREL, r.SSDCTP,
                r.SSDCXM, r.SSDG, r.SSCLTX, r.SSCATP, r.SSCAUT, r.SSCRSN, r.SSCTLN, r.SFMT}) +
         numbers({r.ENCRYP, r.SSTRUCT, r.SDLVL, r.SALVL, r.SLOC_ROW, r.SLOC_COLUMN, r.SBND1_ROW,
                  r.SBND1_COLUMN, r.SBND2_ROW, r.SBND2_COLUMN, r.SRES2, r.SXSHDL, r.SXSOFL}) +
         bytes(r.SSDCDT, 8) + bytes(r.SSDGDT, 8) + bytes(r.SSSRDT, 8) +
         bytes(r.SXSHD, r.SXSHDL - 3);
}

std::string describe(const NitfTextHeader& r) {
  return texts({r.TE, r.TEXTID, r.TXTITL, r.TSCLAS, r.TSCLSY, r.TSCODE, r.TSCTLH, r.TSREL, r.TSDCTP,
                r.TSDCXM, r.TSDG, r.TSCLTX, r.TSCATP, r.TSCAUT, r.TSCRSN, r.TSCTLN, r.TXTFMT}) +
         numbers({r.TXTALVL, r.ENCRYP, r.TXSHDL, r.TXSOFL}) + bytes(r.TXTDT, 14) +
         bytes(r.TSDCDT, 8) + bytes(r.TSDGDT, 8) + bytes(r.TSSRDT, 8) +
         bytes(r.TXSHD, r.TXSHDL - 3);
}

template <class Record, class Get, class Free>
std::string each(NitfDocument* d, int count, Get get, Free release) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    Record r{};
    EXPECT_EQ(get(d, i, &r), RET_SUCCESS);
    out += describe(r) + "\n";
    release(&r);
  }
  return out;
}

// Every public record and every text, as one text per document.
std::string describe_document(NitfDocument* d) {
  std::string out = each<NitfHeader>(
      d, 1, [](NitfDocument* doc, int, NitfHeader* h) { return Kv_NITFGetNITFHeader(doc, h); },
      Kv_NITFFreeNITFHeader);
  out += each<NitfImageHeader>(d, Kv_NITFGetImageHeaderCount(d), Kv_NITFGetImageHeader,
                               Kv_NITFFreeImageHeader);
  out += each<NitfGraphicHeader>(d, Kv_NITFGetGraphicHeaderCount(d), Kv_NITFGetGraphicHeader,
                                 Kv_NITFFreeGraphicHeader);
  out += each<NitfTextHeader>(d, Kv_NITFGetTextHeaderCount(d), Kv_NITFGetTextHeader,
                              Kv_NITFFreeTextHeader);
  for (int i = 0; i < Kv_NITFGetTextHeaderCount(d); ++i) {
    std::uint32_t n = 0;
    EXPECT_EQ(Kv_NITFGetTextSegment(d, i, nullptr, &n), RET_SUCCESS);
    std::string text(n + 1, '\0');
    EXPECT_EQ(Kv_NITFGetTextSegment(d, i, text.data(), &n), RET_SUCCESS);
    out += text;
  }
  return out;
}

// The pixels and palette of every image as the image reader delivers them, or its code.
std::vector<std::string> pixels_of(NitfDocument* d) {
  std::vector<std::string> out;
  for (std::uint32_t i = 0; i < d->images.size(); ++i) {
    kernel::Bitmap b{};
    int r = nitf::read_image(d, i, &b, nullptr);
    out.push_back(numbers({r, b.width, b.height, b.bits_per_pixel}) + bytes(b.data, b.data_size) +
                  bytes(b.palette, b.palette_count * 4));
    kernel::free_bitmap(&b);
  }
  return out;
}

class Save : public LeakChecked {
 protected:
  // Saves `source` through the export and reads the copy back: the same records and
  // pixels, and (with `same_bytes`) the same bytes but for SCOLOR, which is written C.
  void round_trip(const fs::path& source, bool same_bytes = true) {
    SCOPED_TRACE(source.string());
    MessageCapture quiet;  // the refusals of the samples our reader does not take
    NitfDocument *original = nullptr, *again = nullptr;
    if (Kv_NITFCreateA(&original, source.c_str()) != RET_SUCCESS) return;
    fs::path copy = dir_.file("copy.ntf");
    ASSERT_EQ(Kv_NITFSaveFileA(original, copy.c_str()), RET_SUCCESS);
    ASSERT_EQ(Kv_NITFCreateA(&again, copy.c_str()), RET_SUCCESS);
    EXPECT_EQ(describe_document(again), describe_document(original));
    EXPECT_EQ(pixels_of(again), pixels_of(original));
    std::string a = bytes_of(source), b = bytes_of(copy);
    std::int64_t scolor = 0;  // its offset in a graphic subheader
    for (auto f = nitf::graphic_fields().begin(); std::strcmp(f->name, "SCOLOR") != 0; ++f)
      scolor += f->width;
    for (std::uint32_t i = 0; i < original->graphics.size(); ++i) {
      std::int64_t at = nitf::segment_offset(*original, nitf::SegmentKind::kGraphic, i) + scolor;
      ASSERT_LT(static_cast<std::size_t>(at), std::min(a.size(), b.size()));
      EXPECT_EQ(b[at], 'C');
      a[at] = 'C';
    }
    if (same_bytes) {
      EXPECT_TRUE(a == b) << "the copy differs beyond SCOLOR";
    }
    Kv_NITFDestroy(&again);
    Kv_NITFDestroy(&original);
  }

  TempDir dir_;
};

// ----- Round trips ------------------------------------------------------------------

TEST_F(Save, EveryReadableSampleComesBackTheSame) {
  REQUIRE_SAMPLES();
  for (const fs::path& p : all_samples()) round_trip(p);
}

nitfgen::Segment vq_segment(bool masked) {
  nitfgen::VqPicture p;
  p.width = p.height = 16;
  p.block_width = p.block_height = 8;
  for (int k = 0; k < 256; ++k) p.pixels.push_back(static_cast<std::uint16_t>((k % 16) / 4 * 40));
  if (masked) p.unrecorded = {false, true, false, false};  // mask record 0xFFFFFFFF
  nitfgen::VqData data = nitfgen::vq_image_data(p);
  ImageSpec s;
  s.nrows = s.ncols = 16;
  s.nbpr = s.nbpc = 2;
  s.nppbh = s.nppbv = 8;
  s.ic = masked ? "M4" : "C4";
  if (masked) {
    s.mask = nitfgen::MaskSpec{};
    for (std::uint32_t o : data.block_offsets)
      s.mask->block_records.push_back(o == ~0u ? o
                                               : o + static_cast<std::uint32_t>(data.tables_bytes));
  }
  return nitfgen::image_segment(s, data.bytes);
}

// One file of the layouts the writer must reproduce byte for byte: XBANDS 12, NLUTS 3
// of 256 entries, UDIDL 00000 with IXSHDL 00003, comments and IGEOLO, a masked NM
// image, C8 COMRAT "N045" and IMAG "0.25", C4 and M4, extension areas everywhere, a
// TRE_OVERFLOW segment, DESSHF, a zero-length text and a reserved extension segment.
FileSpec generated_file() {
  FileSpec f;
  auto image = [&f](const ImageSpec& s, std::size_t bytes) {
    f.images.push_back(nitfgen::image_segment(s, std::string(bytes, '\x5a')));
  };
  ImageSpec bands;
  bands.irep = "MULTI";
  bands.bands.assign(12, BandSpec{"M"});
  bands.nrows = bands.ncols = bands.nppbh = bands.nppbv = 4;
  bands.imode = "S";
  image(bands, 12 * 16);
  ImageSpec lut = bands;
  lut.irep = "RGB/LUT";
  lut.bands = {BandSpec{"LU"}};
  for (int t = 0; t < 3; ++t) {
    lut.bands[0].luts.emplace_back();
    for (int i = 0; i < 256; ++i) lut.bands[0].luts[t] += static_cast<char>(i * 7 + 85 * t);
  }
  image(lut, 16);
  ImageSpec other;
  other.has_ixshd = true;
  other.icords = "G";
  other.igeolo = std::string(60, '1');
  other.comments = {"first comment", "second"};
  other.imag = "/2";
  other.ic = "NM";
  other.mask = nitfgen::MaskSpec{};
  other.mask->block_records = {0};
  other.mask->tpxcdlnth = 8;
  other.mask->tpxcd = std::string(1, '\0');
  image(other, 64);
  ImageSpec jp2;
  jp2.ic = "C8";
  jp2.comrat = "N045";
  jp2.imag = "0.25";
  image(jp2, 40);
  f.images.push_back(vq_segment(false));
  f.images.push_back(vq_segment(true));

  nitfgen::GraphicSpec g{{{"SCOLOR", "C"}}, true, nitfgen::tre("GRTRE", "abc")};
  f.graphics.push_back({nitfgen::graphic_subheader(g), "not really CGM"});
  nitfgen::TextSpec t{{}, true, nitfgen::tre("TXTRE", "12345")};
  f.texts.push_back({nitfgen::text_subheader(t), "Some text\r\n"});
  f.texts.push_back({nitfgen::text_subheader(), ""});
  nitfgen::DesSpec overflow, user;
  overflow.desid = "TRE_OVERFLOW";
  overflow.desitem = "001";
  user.desshf = "USERFIELDS";
  f.des.push_back({nitfgen::des_subheader_full(overflow), nitfgen::tre("OVTRE", "xyz")});
  f.des.push_back({nitfgen::des_subheader_full(user), "payload"});
  f.res.push_back({"RE" + std::string(198, ' ') + "0000", "reserved data"});
  f.has_udhd = f.has_xhd = true;
  f.udhd = nitfgen::tre("UDTRE", "u");
  f.xhd = nitfgen::tre("XHTRE", "xx");
  f.fields["FBKGC"] = std::string("\x01\x00\xfe", 3);
  return f;
}

TEST_F(Save, GeneratedLayoutsComeBackTheSame) {
  round_trip(dir_.write("in.ntf", nitfgen::build(generated_file())));
}

// Lengths that lie are made true: a streaming file's all-nines lengths, five bytes of
// padding counted in a LISH, a record claiming one text byte too many after 5 MiB.
TEST_F(Save, LengthsDescribeTheBytesWritten) {
  FileSpec f;
  f.images.push_back(nitfgen::image_segment(ImageSpec{}, std::string(64, '\x44')));
  f.texts.push_back({nitfgen::text_subheader(), "abc"});
  f.streaming = true;
  round_trip(dir_.write("streamed.ntf", nitfgen::build(f)), false);
  EXPECT_EQ(bytes_of(dir_.file("copy.ntf")).find("999999"), std::string::npos);

  f.streaming = false;
  f.images[0].subheader += "PAD!!";
  ImageSpec large;  // 5 MiB: the text's entry is corrected in the file, not in the stage
  large.nrows = large.nppbv = 2048;
  large.ncols = large.nppbh = 2560;
  f.images.push_back(nitfgen::image_segment(large, std::string(2048 * 2560, '\x66')));
  Parsed p = parse(dir_.write("in.ntf", nitfgen::build(f)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  std::uint64_t lish = d->header.images.subheader(0);
  d->header.texts.data_current[0] = 4;
  fs::path copy = dir_.file("copy.ntf");
  ASSERT_EQ(nitf::save_document(d, wide(copy).c_str()), RET_SUCCESS);
  EXPECT_EQ(d->header.images.subheader_current[0], lish - 5);
  EXPECT_EQ(d->header.texts.data_current[0], 3u);
  Parsed back = parse(copy);
  ASSERT_EQ(back.result, RET_SUCCESS);
  EXPECT_EQ(back.document->header.images.subheader(0), lish - 5);
  EXPECT_EQ(back.document->header.texts.data(0), 3u);
  EXPECT_EQ(back.document->header.fl_source, static_cast<std::int64_t>(fs::file_size(copy)));
  EXPECT_EQ(pixels_of(back.document.get()), pixels_of(d));
}

// The empty document of Kv_NITFCreate is the 388-byte header of a file without segments.
TEST_F(Save, EmptyDocumentIsTheBareHeader) {
  NitfDocument* d = nullptr;
  ASSERT_EQ(Kv_NITFCreate(&d, nullptr), RET_SUCCESS);
  fs::path out = dir_.file("empty.ntf");
  ASSERT_EQ(Kv_NITFSaveFile(d, wide(out).c_str()), RET_SUCCESS);
  Kv_NITFDestroy(&d);
  std::string b = bytes_of(out);
  ASSERT_EQ(b.size(), 388u);
  EXPECT_EQ(b.substr(0, 15), "NITF02.1003BF01");
  EXPECT_EQ(b.substr(286, 11), "00000000000");  // FSCOP, FSCPYS and ENCRYP zero-filled
  EXPECT_EQ(b.substr(342), "000000000388000388" + std::string(28, '0'));
  EXPECT_EQ(parse(out).result, RET_SUCCESS);
}

// IMAG changed by a setter: the shortest text that reads back as the new value.
TEST_F(Save, ChangedMagnificationIsWrittenShortest) {
  FileSpec f;
  f.images.push_back(nitfgen::image_segment(ImageSpec{}, std::string(64, '\x01')));
  Parsed p = parse(dir_.write("in.ntf", nitfgen::build(f)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  for (const auto& [magnification, expected] :
       {std::pair{0.25, "0.25"}, {0.125, "/8  "}, {2.0, "2   "}, {1.0 / 3, "/3  "}}) {
    p.document->images[0]->magnification = magnification;
    ASSERT_EQ(nitf::save_document(p.document.get(), wide(dir_.file("copy.ntf")).c_str()),
              RET_SUCCESS);
    EXPECT_STREQ(parse(dir_.file("copy.ntf")).document->images[0]->imag, expected);
  }
}

// ----- Failures ---------------------------------------------------------------------

// The folder holds exactly these names: no temporary file is left behind.
void expect_only(const TempDir& dir, std::vector<std::string> names) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir.file(""))) found.push_back(e.path().filename());
  std::sort(found.begin(), found.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(found, names);
}

TEST_F(Save, TargetThatCannotBeCreatedGivesFileWrite) {
  NitfDocument* d = nullptr;
  ASSERT_EQ(Kv_NITFCreate(&d, nullptr), RET_SUCCESS);
  fs::path locked = dir_.file("locked");
  fs::create_directories(locked / "folder");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  // The super-user writes into any folder; /proc takes no new files from anybody.
  fs::path target = ::geteuid() == 0 ? fs::path("/proc/kvntfu-save.ntf") : locked / "out.ntf";
  EXPECT_EQ(Kv_NITFSaveFileA(d, target.c_str()), RET_FILE_WRITE);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(Kv_NITFSaveFileA(d, dir_.file("none/out.ntf").c_str()), RET_FILE_WRITE);
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(Kv_NITFSaveFileA(d, (locked / "folder").c_str()), RET_FILE_WRITE);  // at the rename
  EXPECT_EQ(Kv_NITFSaveFileA(nullptr, target.c_str()), RET_INVALID_DOCUMENT);
  Kv_NITFDestroy(&d);
  expect_only(dir_, {"locked"});
  EXPECT_TRUE(fs::is_directory(locked / "folder"));
}

FileSpec image_and_text() {
  FileSpec f;
  f.images.push_back(nitfgen::image_segment(ImageSpec{}, std::string(64, '\x55')));
  f.texts.push_back({nitfgen::text_subheader(), std::string(5000, 't')});
  return f;
}

// A save onto the open source (also through a link) replaces it and the document reads
// on; a source cut short after opening fails the save and leaves the target as it was.
TEST_F(Save, OwnSourceAndSourceCutShort) {
  std::string original = nitfgen::build(image_and_text());
  fs::path file = dir_.write("source.ntf", original), target = dir_.write("target.ntf", "old");
  NitfDocument* d = nullptr;
  ASSERT_EQ(Kv_NITFCreateA(&d, file.c_str()), RET_SUCCESS);
  std::string records = describe_document(d);
  std::vector<std::string> pixels = pixels_of(d);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(Kv_NITFSaveFileA(d, file.c_str()), RET_SUCCESS);
    EXPECT_EQ(bytes_of(file), original);
    EXPECT_EQ(describe_document(d), records);
    EXPECT_EQ(pixels_of(d), pixels);
  }
  fs::path link = dir_.file("link.ntf");  // a link stays a link, its file is replaced
  fs::create_symlink(file, link);
  ASSERT_EQ(Kv_NITFSaveFileA(d, link.c_str()), RET_SUCCESS);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(bytes_of(file), original);
  Kv_NITFDestroy(&d);
  ASSERT_EQ(Kv_NITFCreateA(&d, file.c_str()), RET_SUCCESS);
  fs::resize_file(file, original.size() - 100);
  EXPECT_EQ(Kv_NITFSaveFileA(d, target.c_str()), RET_FILE_READ);
  EXPECT_EQ(bytes_of(target), "old");
  Kv_NITFDestroy(&d);
  expect_only(dir_, {"source.ntf", "target.ntf", "link.ntf"});
}

// Hostile records give codes, and no file: a claimed LI of 9 999 999 999 is found
// before anything is allocated for it, VQ data without kernels and unknown codes are
// refused, and a fourth LUT, which no record keeps, cannot be written.
TEST_F(Save, HostileRecordsGiveCodesAndNoFile) {
  FileSpec f;
  f.images.push_back(vq_segment(false));
  Parsed p = parse(dir_.write("in.ntf", nitfgen::build(f)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  nitf::NitfImageSubheader& r = *d->images[0];
  std::wstring name = wide(dir_.file("out.ntf"));
  auto save_with = [&](auto& member, auto bad, int expected) {
    auto good = member;
    member = bad;
    EXPECT_EQ(nitf::save_document(d, name.c_str()), expected);
    member = good;
  };
  save_with(d->header.images.data_source[0], 9999999999ULL, RET_FILE_READ);
  save_with(r.block_height, 1, RET_FILE_FORMAT);  // below the code rows: kernel height 0
  save_with(r.compression, nitf::CompressionCode::kUnknown, RET_FILE_FORMAT);
  r.bands[0].lut_entries = 2;
  save_with(r.bands[0].lut_count, 4, RET_NOT_SUPPORTED);
  expect_only(dir_, {"in.ntf"});
}

// ----- The client -------------------------------------------------------------------

TEST_F(Save, ClientCopiesAndReportsFailures) {
  fs::path in = dir_.write("in.ntf", nitfgen::build(image_and_text()));
  std::string out = dir_.file("out.ntf").string(), tool = KVNTF_NITF_TOOL;
  EXPECT_EQ(std::system((tool + " copy " + in.string() + " " + out + " >" + out + ".txt").c_str()),
            0);
  EXPECT_EQ(bytes_of(out), bytes_of(in));
  EXPECT_EQ(bytes_of(out + ".txt"), out +
                                        ": 1 image, 0 graphics, 1 text, 0 data extensions, 0 "
                                        "reserved extensions; " +
                                        std::to_string(fs::file_size(in)) + " bytes\n");
  std::string failing = tool + " copy " + in.string() + " /proc/kvntfu.ntf 2>" + out + ".txt";
  EXPECT_EQ(WEXITSTATUS(std::system(failing.c_str())), 1);
  EXPECT_EQ(bytes_of(out + ".txt"), "nitf: " + in.string() +
                                        ": cannot write the file: save: no new file can be made "
                                        "beside the target (-5)\n");
}

}  // namespace
