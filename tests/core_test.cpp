// The document: its lifecycle through the API, the text export, the data extensions'
// overflow fields, the streaming file header, and the sweeps that damage every byte of
// every header and subheader of the samples (and of a generated file that has every
// optional part) or cut the file there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <sstream>

#include "core/strmfhdr.h"
#include "graphics_text/dexsbhdr.h"
#include "graphics_text/grsubhdr.h"
#include "graphics_text/txsubhdr.h"
#include "image/imsubhdr.h"
#include "nitfgen_every.h"
#include "nitfgen_segments.h"
#include "testing.h"

namespace {

using namespace testing_support;
using nitf::SegmentKind;

// ----- The API ------------------------------------------------------------------------

TEST(Api, Lifecycle) {
  std::size_t before = kernel::live_objects();
  NitfDocument* doc = nullptr;
  NitfHeader h{};
  EXPECT_EQ(Kv_NITFDestroy(&doc), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NITFDestroy(nullptr), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NITFCreate(nullptr, nullptr), RET_NO_MEMORY);
  EXPECT_EQ(Kv_NITFGetStatus(nullptr), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NITFGetImageHeaderCount(nullptr) + Kv_NITFGetGraphicHeaderCount(nullptr) +
                Kv_NITFGetTextHeaderCount(nullptr),
            0);
  EXPECT_EQ(Kv_NITFGetNITFHeader(nullptr, &h), RET_FAILURE);
  EXPECT_EQ(KAVO_Load(), RET_SUCCESS);
  ASSERT_EQ(Kv_NITFCreate(&doc, nullptr), RET_SUCCESS);
  EXPECT_EQ(Kv_NITFGetStatus(doc), KV_NITF_STATUS_EMPTY | KV_NITF_STATUS_HEADER_PRESENT);
  EXPECT_EQ(Kv_NITFGetNITFHeader(doc, nullptr), RET_BAD_ARGUMENT);
  ASSERT_EQ(Kv_NITFGetNITFHeader(doc, &h), RET_SUCCESS);
  EXPECT_FLOAT_EQ(value(h.FVER), 2.1f);
  EXPECT_EQ(Kv_NITFFreeNITFHeader(&h), RET_SUCCESS);
  EXPECT_EQ(Kv_NITFFreeNITFHeader(nullptr), RET_BAD_ARGUMENT);
  ASSERT_EQ(Kv_NITFDestroy(&doc), RET_SUCCESS);
  EXPECT_EQ(doc, nullptr);

  TempDir dir;
  ASSERT_EQ(Kv_NITFCreate(&doc, wide(dir.write("h.ntf", nitfgen::build({}))).c_str()), RET_SUCCESS);
  EXPECT_EQ(Kv_NITFGetStatus(doc), 3);
  Kv_NITFDestroy(&doc);
  doc = reinterpret_cast<NitfDocument*>(0x1);
  EXPECT_EQ(Kv_NITFCreateA(&doc, "/nonexistent/file.ntf"), RET_FILE_NOT_FOUND);
  EXPECT_EQ(doc, nullptr);
  EXPECT_EQ(Kv_NITFCreateA(&doc, "\xff\xfe"), RET_NO_MEMORY) << "not UTF-8";
  EXPECT_EQ(kernel::live_objects(), before) << "destroy and refusals leave nothing behind";
}

// The shipped library exports the functions its public headers declare, and no more
// (kvhost.h declares the host library's).
TEST(SharedLibrary, ExportsOnlyTheApi) {
  std::set<std::string> declared, exported;
  for (const auto& e : fs::directory_iterator(fs::path(KVNTF_SOURCE_DIR) / "include")) {
    if (e.path().filename() == "kvhost.h") continue;
    const std::string text = nitfgen::read_file(e.path().string());
    for (std::size_t at = 0; (at = text.find("KV_CALL ", at)) != std::string::npos; at += 8) {
      const std::string name = text.substr(at + 8, text.find('(', at) - at - 8);
      if (name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_") ==
          std::string::npos)
        declared.insert(name);
    }
  }
  std::istringstream listing(command_output(std::string("nm -D --defined-only ") + KVNTF_LIBRARY));
  for (std::string address, type, name; listing >> address >> type >> name;)
    if (std::strchr("TDB", type[0]) && name[0] != '_') exported.insert(name);
  EXPECT_EQ(exported, declared);
}

// ----- Text segments ---------------------------------------------------------------------

TEST(TextSegment, Arguments) {
  TempDir dir;
  nitfgen::FileSpec layout;
  layout.texts.push_back({nitfgen::text_subheader(), "hello"});
  std::string bytes = nitfgen::build(layout);
  Parsed p = parse(dir.write("text.ntf", bytes));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  uint32_t length = 77;
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 1, nullptr, &length), RET_BAD_ARGUMENT);
  EXPECT_EQ(Kv_NITFGetTextSegment(d, -1, nullptr, &length), RET_BAD_ARGUMENT);
  EXPECT_EQ(length, 77u) << "an index out of range changes nothing";
  EXPECT_EQ(Kv_NITFGetTextSegment(nullptr, 0, nullptr, &length), RET_INVALID_DOCUMENT);
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, buffer, nullptr), RET_SUCCESS);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(nitf::segment_offset(*d, static_cast<nitf::SegmentKind>(3), 0), -1) << "no such kind";
  d->texts[0].reset();  // a list node without a record
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, nullptr, &length), RET_SUCCESS);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(Kv_NITFGetTextSegment(d, 0, buffer, nullptr), RET_FAILURE);

  // LT claims one byte more than the file holds: refused before anything is read.
  bytes.replace(bytes.find("028200005") + 4, 5, "00006");  // LTSH 282, LT 5
  Parsed longer = parse(dir.write("long.ntf", bytes));
  ASSERT_EQ(longer.result, RET_SUCCESS);
  buffer[0] = 'x';
  EXPECT_EQ(Kv_NITFGetTextSegment(longer.document.get(), 0, buffer, &length), RET_FILE_READ);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(buffer[0], 'x') << "nothing read";
}

// ----- Data extensions ---------------------------------------------------------------------

// DESOFLW and DESITEM follow DESCTLN only in TRE_OVERFLOW.
TEST(DataExtension, OverflowFields) {
  TempDir dir;
  Parsed p = parse(dir.write("every.ntf", nitfgen::build(nitfgen::every_part_file())));
  ASSERT_EQ(p.result, RET_SUCCESS);
  const auto &overflow = *p.document->des[0], &user = *p.document->des[1];
  EXPECT_STREQ(overflow.desoflw, "UDHD  ");
  EXPECT_STREQ(overflow.desitem, "001");
  EXPECT_STREQ(user.desoflw, "");
  EXPECT_STREQ(user.desshf.data(), "USERFIELDS");
  // The reserved extension after them, read for listing.
  char text[32] = "";
  EXPECT_EQ(Kv_NITFGetSegmentCount(p.document.get(), KV_FIELDS_RES), 1);
  EXPECT_EQ(Kv_NITFGetFieldText(p.document.get(), KV_FIELDS_RES, 0, "RESCLAS", text, 32),
            RET_SUCCESS);
  EXPECT_STREQ(text, "U");
  EXPECT_STREQ(p.document->res[0]->resshf.data(), "hello");
}

// ----- The streaming file header ------------------------------------------------------

const std::string kDelim1("\x0A\x6E\x1D\x97", 4), kDelim2("\x0E\xCA\x14\xBF", 4);

// `lead` bytes of filler, then a streaming frame around `data`.
std::string framed(std::size_t lead, const std::string& data, long long l1, long long l2) {
  return std::string(lead, 'x') + nitfgen::number(l1, 7) + kDelim1 + data + kDelim2 +
         nitfgen::number(l2, 7);
}

struct Lookup {
  int result;
  std::int64_t bytes_to_end = -1;
  nitf::StreamingFileHeader record;
};

Lookup lookup(const TempDir& dir, const std::string& bytes) {
  int fd = kernel::open_file(wide(dir.write("s.bin", bytes)).c_str(), kernel::kModeRead,
                             kernel::kPermRead);
  Lookup out;
  out.result = nitf::locate_streaming_file_header(fd, &out.record, &out.bytes_to_end);
  kernel::close_file(fd);
  return out;
}

// Replacement data of 150 bytes replace FHDR to FTITLE and a little more, not FL; a
// replacement that is itself all nines is taken as it is, without a further re-read.
TEST(Streaming, ReadAgain) {
  TempDir dir;
  nitfgen::FileSpec layout;
  layout.streaming = true;
  std::string bytes = nitfgen::build(layout);
  nitfgen::FileSpec other = layout;
  other.fields["FTITLE"] = "second";
  other.streaming = false;
  const std::string replacement = nitfgen::file_header(other).substr(0, 150);
  bytes = bytes.substr(0, bytes.rfind(kDelim1) - 7) + framed(0, replacement, 150, 150);
  Parsed p = read_header_only(dir.write("short.ntf", bytes));
  ASSERT_EQ(p.result, RET_SUCCESS);
  EXPECT_EQ(std::string(p.document->header.ftitle), nitfgen::text("second", 80));
  EXPECT_STREQ(p.document->header.fl, "999999999999");

  bytes = nitfgen::build(layout);
  const std::size_t hl = std::stoul(bytes.substr(354, 6));
  bytes.replace(bytes.rfind(kDelim1) + 4, hl, bytes.substr(0, hl));
  p = read_header_only(dir.write("loop.ntf", bytes));
  EXPECT_EQ(p.result, RET_SUCCESS);
  EXPECT_STREQ(p.document->header.fl, "999999999999");
  bytes.resize(bytes.rfind(kDelim1) - 7);  // no frame at all
  EXPECT_EQ(read_header_only(dir.write("nof.ntf", bytes)).result, RET_INVALID_PARAMETER);
}

TEST(Streaming, FrameLookup) {
  TempDir dir;
  // Windows of 255 bytes overlap by 3 from the end: the delimiter crosses their edges.
  for (long long l1 = 220; l1 <= 520; ++l1) {
    Lookup found = lookup(dir, framed(300, std::string(std::size_t(l1), 'r'), l1, l1));
    ASSERT_EQ(found.result, RET_SUCCESS) << l1;
    EXPECT_EQ(found.bytes_to_end, l1 + 4 + 7) << l1;
    EXPECT_EQ(found.record.sfh_l1, l1);
  }
  EXPECT_EQ(lookup(dir, std::string(40, '\0') + framed(0, std::string(10, '\0'), 10, 10)).result,
            RET_SUCCESS);
  std::string bad_delim2 = framed(50, "0123456789", 10, 10);
  bad_delim2[bad_delim2.size() - 8] = 'X';
  const std::pair<std::string, int> refused[] = {
      {"", RET_INVALID_PARAMETER},
      {std::string(5000, 'n'), RET_INVALID_PARAMETER},
      {framed(50, "0123456789", 10, 11), RET_FILE_FORMAT},
      {bad_delim2, RET_FILE_FORMAT},
      {framed(50, "0123456789", 9999, 10), RET_FILE_READ},
      {kDelim1 + std::string(20, 'z'), RET_FILE_FORMAT}};
  for (const auto& [bytes, code] : refused)
    EXPECT_EQ(lookup(dir, bytes).result, code) << bytes.size();
}

// ----- Damaged and cut headers ----------------------------------------------------------

// Where the file header and each subheader lie; an image's region takes the first bytes
// of its data too, where masked images keep their mask table.
struct Region {
  int kind;  // -1: the file header, else a SegmentKind
  std::uint32_t index;
  std::int64_t start, end, subheader_end;
};

std::vector<Region> regions_of(const NitfDocument& d) {
  std::vector<Region> out{{-1, 0, 0, d.header.hl_source, d.header.hl_source}};
  const std::pair<SegmentKind, const nitf::LengthTables*> kinds[] = {
      {SegmentKind::kImage, &d.header.images},
      {SegmentKind::kGraphic, &d.header.graphics},
      {SegmentKind::kText, &d.header.texts},
      {SegmentKind::kDataExtension, &d.header.des}};
  for (auto [kind, t] : kinds)
    for (std::uint32_t i = 0; i < std::uint32_t(t->count); ++i) {
      const std::int64_t at = nitf::segment_offset(d, kind, i);
      const std::int64_t sub = at + std::int64_t(t->subheader(i));
      const bool image = kind == SegmentKind::kImage;
      out.push_back(
          {int(kind), i, at, sub + (image ? std::min<std::int64_t>(t->data(i), 64) : 0), sub});
    }
  return out;
}

// Invariants every image record keeps, whatever its read returned.
void expect_consistent(const nitf::NitfImageSubheader& s) {
  EXPECT_EQ(s.bands.size(), std::size_t(s.band_count));
  EXPECT_EQ(s.comments.size(), std::size_t(s.comment_count));
  EXPECT_TRUE(s.mask.bmrlnth != 0 || s.mask.block_records.empty());
  EXPECT_TRUE(s.mask.tmrlnth != 0 || s.mask.pad_records.empty());
}

// Reads record i of a list afresh, as the parse driver would.
template <class R, class Read>
int read_fresh(nitf::SegmentList<R>& list, NitfDocument* d, std::uint32_t i, Read read) {
  list[i] = kernel::make_tracked<R>(d, i);
  nitf::StreamingFileHeader sfh;
  return read(list[i].get(), d, &sfh, nitf::ReadMode::kNormal);
}

// A scratch copy of a file, changed in place while a document made from its intact
// header reads one region at a time.
class Scratch {
 public:
  Scratch(const TempDir& dir, const fs::path& from)
      : path_(dir.write("scratch.ntf", nitfgen::read_file(from.string()))),
        fd_(::open(path_.c_str(), O_RDWR)),
        parsed_(read_header_only(path_)) {
    EXPECT_EQ(nitf::allocate_segment_objects(parsed_.document.get()), RET_SUCCESS);
  }
  ~Scratch() { ::close(fd_); }
  NitfDocument* doc() { return parsed_.document.get(); }
  void poke(std::int64_t at, char c) const { ASSERT_EQ(::pwrite(fd_, &c, 1, at), 1); }
  void cut(std::int64_t size) {
    ASSERT_EQ(::ftruncate(fd_, size), 0);
    doc()->file_size = size;
  }

  int read(const Region& r) {
    NitfDocument* d = doc();
    d->streaming = nitf::StreamingState{};
    nitf::NitfFileHeaderData header;
    nitf::StreamingFileHeader sfh;
    const auto kind = static_cast<SegmentKind>(r.kind);
    const std::int64_t at = r.kind < 0 ? 0 : nitf::position_at_segment(d, kind, r.index);
    if (r.kind < 0 && kernel::seek_file(d->file, 0, kernel::kSeekSet) == 0)
      return nitf::read_file_header(&header, {d->file, d->file_size, &d->streaming, &sfh},
                                    nitf::ReadMode::kNormal);
    int code =
        kind == SegmentKind::kGraphic ? read_fresh(d->graphics, d, r.index, nitf::read_grsubhdr)
        : kind == SegmentKind::kText  ? read_fresh(d->texts, d, r.index, nitf::read_txsubhdr)
        : kind == SegmentKind::kImage ? read_fresh(d->images, d, r.index, nitf::read_imsubhdr)
                                      : read_fresh(d->des, d, r.index, nitf::read_dexsbhdr);
    if (kind == SegmentKind::kImage) expect_consistent(*d->images[r.index]);
    EXPECT_TRUE(code != RET_SUCCESS || kernel::seek_file(d->file, 0, kernel::kSeekCurrent) == at)
        << "the position is restored";
    return code;
  }

 private:
  fs::path path_;
  int fd_;
  Parsed parsed_;
};

// Every byte of the file headers (`headers`) or of every subheader of the samples of this
// version, and of the generated file with every optional part, given hostile values
// (blanks and NULs also in the coded texts of the smaller subheaders): each read gives a
// code. Then the file is cut at every one of those bytes: what is cut short is refused.
class Damage : public LeakCheckedBase<::testing::TestWithParam<bool>> {};

TEST_P(Damage, EveryByteAndCut) {
  REQUIRE_SAMPLES();
  TempDir dir, work;
  MessageCapture quiet;
  const std::set<int> allowed = {RET_SUCCESS,
                                 RET_FILE_READ,
                                 RET_FILE_FORMAT,
                                 RET_INVALID_PARAMETER,
                                 RET_UNSUPPORTED_PVTYPE,
                                 RET_UNSUPPORTED_BPP,
                                 RET_UNSUPPORTED_VERSION,
                                 RET_UNSUPPORTED_CLEVEL};
  std::vector<fs::path> files{dir.write("every.ntf", nitfgen::build(nitfgen::every_part_file()))};
  for (const fs::path& p : all_samples())
    if (p.filename() != "U_0006A.NTF") files.push_back(p);  // NITF 2.0
  std::size_t reads = 0;
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    const std::string original = nitfgen::read_file(path.string());
    Scratch s(work, path);
    std::vector<Region> regions = regions_of(*s.doc());
    std::erase_if(regions, [](const Region& r) { return (r.kind < 0) != GetParam(); });
    for (const Region& r : regions) {
      for (std::int64_t at = r.start; at < r.end; ++at, ++reads) {
        for (char c : std::string(r.kind > 0 ? "-90\xFF \0" : "-90\xFF", r.kind > 0 ? 6 : 4)) {
          s.poke(at, c);
          const int code = s.read(r);
          EXPECT_TRUE(allowed.count(code)) << "byte " << at << " = " << int(c) << ": " << code;
        }
        s.poke(at, original[std::size_t(at)]);
      }
    }
    for (auto r = regions.rbegin(); r != regions.rend(); ++r) {
      for (std::int64_t at = r->end - 1; at >= r->start; --at) {
        s.cut(at);
        const int code = s.read(*r);
        EXPECT_TRUE(at >= r->subheader_end || code == RET_FILE_READ || (r->kind <= 0 && code < 0))
            << "cut at " << at << ": " << code;
      }
    }
  }
  EXPECT_GT(reads, 10000u);
}

INSTANTIATE_TEST_SUITE_P(Headers, Damage, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "File" : "Segments"; });

}  // namespace
