// The setters, the writer and the appenders. Every sample, its records got and set back
// unchanged, saves to the same bytes and reads back the same; every settable field,
// written through its public description, changes its field alone and reads back; the
// setters' refusals and the lengths their changes imply; failures that leave target and
// document as they were; appended segments seen at once and again after a save.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

#include "image/imsubhdr.h"
#include "kernel/bitmap.h"
#include "nitfgen_every.h"
#include "nitfgen_image.h"
#include "nitfgen_segments.h"
#include "testing.h"
#include "vector/drawing.h"
#include "writing/savenitf.h"

namespace {

using namespace testing_support;

// ----- Records through the field descriptions ------------------------------------------

// A public record kind as an application reaches it.
struct Kind {
  int fields;  // KV_FIELDS_*
  int (*count)(NitfDocument*);
  int (*get)(NitfDocument*, int, void*);
  int (*set)(NitfDocument*, int, void*);
  int (*release)(void*);
};

int header_count(NitfDocument*) {
  return 1;
}
int get_header(NitfDocument* d, int, NitfHeader* r) {
  return Kv_NITFGetNITFHeader(d, r);
}
int set_header(NitfDocument* d, int, NitfHeader* r) {
  return Kv_NITFSetNITFHeader(d, r);
}

template <class R, auto Get, auto Set, auto Free>
constexpr Kind kind(int fields, int (*count)(NitfDocument*)) {
  return {fields, count,
          [](NitfDocument* d, int i, void* r) { return int(Get(d, i, static_cast<R*>(r))); },
          [](NitfDocument* d, int i, void* r) { return int(Set(d, i, static_cast<R*>(r))); },
          [](void* r) { return int(Free(static_cast<R*>(r))); }};
}

const Kind kKinds[] = {
    kind<NitfHeader, get_header, set_header, Kv_NITFFreeNITFHeader>(KV_FIELDS_FILE, header_count),
    kind<NitfImageHeader, Kv_NITFGetImageHeader, Kv_NITFSetImageHeader, Kv_NITFFreeImageHeader>(
        KV_FIELDS_IMAGE, Kv_NITFGetImageHeaderCount),
    kind<NitfGraphicHeader, Kv_NITFGetGraphicHeader, Kv_NITFSetGraphicHeader,
         Kv_NITFFreeGraphicHeader>(KV_FIELDS_GRAPHIC, Kv_NITFGetGraphicHeaderCount),
    kind<NitfTextHeader, Kv_NITFGetTextHeader, Kv_NITFSetTextHeader, Kv_NITFFreeTextHeader>(
        KV_FIELDS_TEXT, Kv_NITFGetTextHeaderCount)};

std::span<const NitfFieldInfo> fields_of(int kind) {
  const NitfFieldInfo* fields = nullptr;
  int32_t count = 0;
  Kv_NITFGetFieldTable(kind, &fields, &count);
  return {fields, std::size_t(count)};
}

const NitfFieldInfo& field_named(int kind, std::string_view name) {
  for (const NitfFieldInfo& f : fields_of(kind))
    if (name == f.name) return f;
  throw std::invalid_argument(std::string(name));
}

// One record, got on construction and freed at the end of the scope. put() writes a
// member at the description's offset in the description's form, as `nitf set` does;
// the record is put back as got before the free, which releases what the get made.
class Record {
 public:
  Record(const Kind& k, NitfDocument* d, int i) : kind_(k), got_(k.get(d, i, storage_)) {
    std::memcpy(as_got_, storage_, sizeof storage_);
  }
  ~Record() {
    std::memcpy(storage_, as_got_, sizeof storage_);
    kind_.release(storage_);
  }
  int got() const { return got_; }
  void* data() { return storage_; }

  void put(const NitfFieldInfo& f, const std::string& value) {
    long long v[3] = {};
    std::sscanf(value.c_str(), "%lld,%lld,%lld", &v[0], &v[1], &v[2]);
    const char* text = kept_.emplace_back(value).c_str();
    const float version = std::strtof(text, nullptr);
    if (f.form == KV_FORM_STRING || f.form == KV_FORM_AREA)
      std::memcpy(at(f.offset), &text, sizeof text);
    if (f.form == KV_FORM_CHARS) std::memcpy(at(f.offset), text, std::size_t(f.width));
    if (f.form == KV_FORM_VERSION) std::memcpy(at(f.offset), &version, sizeof version);
    if (f.form == KV_FORM_NUMBER || f.form == KV_FORM_UNSIGNED || f.form == KV_FORM_LOCATION)
      put_number(f.offset, v[0]);
    if (f.form == KV_FORM_LOCATION) put_number(f.second_offset, v[1]);
    if (f.form == KV_FORM_AREA)
      put_number(f.second_offset, value.empty() ? 0 : long(value.size()) + 3);
    for (int i = 0; f.form == KV_FORM_COLOUR && i < 3; ++i) at(f.offset)[i] = std::uint8_t(v[i]);
  }

  // A member as text, in the description's form.
  std::string shown(const NitfFieldInfo& f) {
    const char* p = nullptr;
    std::memcpy(&p, at(f.offset), sizeof p);
    std::string out;
    switch (f.form) {
      case KV_FORM_STRING:
        return p ? p : "(null)";
      case KV_FORM_CHARS:
      case KV_FORM_COLOUR:
      case KV_FORM_VERSION:
        return std::string(reinterpret_cast<const char*>(at(f.offset)),
                           f.form == KV_FORM_CHARS ? std::size_t(f.width) : 3);
      case KV_FORM_LOCATION:
        return std::to_string(number(f.offset)) + "," + std::to_string(number(f.second_offset));
      case KV_FORM_TABLE:
        for (int i = 0; p && i < number(f.second_offset); ++i)
          out += std::to_string(reinterpret_cast<const std::uint32_t*>(p)[i]) + " ";
        return out;
      case KV_FORM_AREA:
        return p && number(f.second_offset) > 3
                   ? std::string(p, std::size_t(number(f.second_offset) - 3))
                   : "";
    }
    return std::to_string(number(f.offset));
  }

 private:
  std::uint8_t* at(int offset) { return reinterpret_cast<std::uint8_t*>(storage_) + offset; }
  std::int32_t number(int offset) {
    std::int32_t v;
    std::memcpy(&v, at(offset), sizeof v);
    return v;
  }
  void put_number(int offset, long long v) {
    const auto n = static_cast<std::int32_t>(v);
    std::memcpy(at(offset), &n, sizeof n);
  }

  const Kind& kind_;
  std::uint64_t storage_[256] = {}, as_got_[256];
  int got_;
  std::deque<std::string> kept_;  // the strings the record points to
};
static_assert(sizeof(NitfImageHeader) <= 256 * sizeof(std::uint64_t));

// The pixels and palette of every image as the image reader delivers them (or its code),
// then every text.
std::vector<std::string> contents_of(NitfDocument* d) {
  std::vector<std::string> out;
  for (std::uint32_t i = 0; i < d->images.size(); ++i) {
    kernel::Bitmap b{};
    out.push_back(std::to_string(nitf::read_image(d, i, &b, nullptr)) + " " +
                  std::to_string(b.width) + "x" + std::to_string(b.height) + "x" +
                  std::to_string(b.bits_per_pixel));
    if (b.data) out.back().append(reinterpret_cast<const char*>(b.data), b.data_size);
    if (b.palette) out.back().append(reinterpret_cast<const char*>(b.palette), b.palette_count * 4);
    kernel::free_bitmap(&b);
  }
  for (int i = 0; i < Kv_NITFGetTextHeaderCount(d); ++i) {
    std::uint32_t n = 0;
    EXPECT_EQ(Kv_NITFGetTextSegment(d, i, nullptr, &n), RET_SUCCESS);
    out.emplace_back(n + 1, '\0');
    EXPECT_EQ(Kv_NITFGetTextSegment(d, i, out.back().data(), &n), RET_SUCCESS);
  }
  return out;
}

std::string saved(NitfDocument* d, const fs::path& path) {
  EXPECT_EQ(Kv_NITFSaveFile(d, wide(path).c_str()), RET_SUCCESS) << path;
  return nitfgen::read_file(path.string());
}

// ----- Round trips ------------------------------------------------------------------------

class Save : public LeakChecked {
 protected:
  // Gets and sets every record of `source` (with `get_and_set`), saves it and reads the
  // copy back: the same pixels and texts, and (with `same_bytes`) the same bytes.
  void round_trip(const fs::path& source, bool same_bytes = true, bool get_and_set = true) {
    SCOPED_TRACE(source.string());
    MessageCapture quiet;  // the refusals of the samples this reader does not take
    // NITF 2.0 and 1.1 through extended reading, the rest as the strict reader takes it.
    const std::uint32_t options =
        PublicDoc(source).result == RET_UNSUPPORTED_VERSION ? KV_NITF_EXTENDED : 0;
    PublicDoc original(source, options);
    if (original.result != RET_SUCCESS) return;
    for (const Kind& k : kKinds)
      for (int i = 0; get_and_set && i < k.count(original.d); ++i) {
        Record r(k, original.d, i);
        EXPECT_EQ(k.set(original.d, i, r.data()), RET_SUCCESS) << k.fields << " " << i;
      }
    const fs::path copy = dir_.file("copy.ntf");
    std::string a = nitfgen::read_file(source.string()), b = saved(original.d, copy);
    PublicDoc again(copy, options);
    EXPECT_EQ(contents_of(again.d), contents_of(original.d));
    EXPECT_TRUE(!same_bytes || a == b) << "the copy differs";
  }

  TempDir dir_;
};

TEST_F(Save, EverySample) {
  REQUIRE_SAMPLES();
  for (const fs::path& p : all_samples()) round_trip(p);
  for (const auto& e : fs::directory_iterator(more_samples_dir() / "nitf20"))
    if (e.path().filename() != "RPFTOC01.ON2") round_trip(e.path());  // cut in its image data
  // A monochrome graphic stays monochrome (it was once written as colour).
  std::string mono = nitfgen::read_file(sample("jitc/i_3113g.ntf").string());
  Parsed p = parse(sample("jitc/i_3113g.ntf"));
  std::int64_t at = nitf::segment_offset(*p.document, nitf::SegmentKind::kGraphic, 1);
  for (const NitfFieldInfo* f = fields_of(KV_FIELDS_GRAPHIC).data(); std::strcmp(f->name, "SCOLOR");
       ++f)
    at += f->width;
  ASSERT_EQ(mono.at(std::size_t(at)), 'C');
  mono[std::size_t(at)] = 'M';
  round_trip(dir_.write("mono.ntf", mono));
  // Each band keeps its own LUTs (they were once all written from the last band's).
  nitfgen::ImageShape two;
  two.irep = "MULTI";
  two.bands = {nitfgen::BandSpec{"M"}, nitfgen::BandSpec{"M"}};
  two.bands[0].luts = {std::string(4, '\x11')};
  two.bands[1].luts = {std::string(4, '\x22'), std::string(4, '\x33')};
  nitfgen::FileSpec luts;
  luts.images.push_back(nitfgen::image_segment(two, std::string(128, '\1')));
  round_trip(dir_.write("luts.ntf", nitfgen::build(luts)));
  // A masked image with pad records and a pad code: its held table goes out.
  nitfgen::ImageShape pad;
  pad.ic = "NM";
  pad.mask = nitfgen::MaskSpec{-1, {0}, {0}, 8, "\x05"};
  round_trip(dir_.write("padded.ntf", nitfgen::image_file(pad, std::string(64, '\5'))));
  // Its image of IXSHDL 00003 gets an area of no TREs, which the image setter refuses.
  round_trip(dir_.write("every.ntf", nitfgen::build(nitfgen::every_part_file())), true, false);
}

// Lengths that lie are made true: a streaming file's all-nines lengths, five bytes of
// padding counted in a LISH.
TEST_F(Save, TrueLengths) {
  nitfgen::FileSpec f;
  f.images.push_back(nitfgen::image_segment({}, std::string(64, '\x44')));
  f.texts.push_back({nitfgen::text_subheader(), "abc"});
  f.streaming = true;
  round_trip(dir_.write("streamed.ntf", nitfgen::build(f)), false);
  EXPECT_EQ(nitfgen::read_file(dir_.file("copy.ntf").string()).find("999999"), std::string::npos);
  f.streaming = false;
  f.images[0].subheader += "PAD!!";
  PublicDoc padded(dir_.write("in.ntf", nitfgen::build(f)));
  const std::uint64_t lish = padded.d->header.images.subheader(0);
  saved(padded.d, dir_.file("copy.ntf"));
  Parsed back = parse(dir_.file("copy.ntf"));
  ASSERT_EQ(back.result, RET_SUCCESS);
  EXPECT_EQ(back.document->header.images.subheader(0), lish - 5);
  EXPECT_EQ(back.document->header.fl_source, std::int64_t(fs::file_size(dir_.file("copy.ntf"))));
  EXPECT_EQ(contents_of(back.document.get()), contents_of(padded.d));

  // 5 MiB of image data come first: a text length one byte too long is put right in the
  // file once the text was copied.
  nitfgen::ImageShape large;
  large.nrows = large.nppbv = 2048;
  large.ncols = large.nppbh = 2560;
  f.images.push_back(nitfgen::image_segment(large, std::string(2048 * 2560, '\x66')));
  Parsed p = parse(dir_.write("large.ntf", nitfgen::build(f)));
  p.document->header.texts.data_current[0] = 4;
  ASSERT_EQ(nitf::save_document(p.document.get(), wide(dir_.file("copy.ntf")).c_str()),
            RET_SUCCESS);
  EXPECT_EQ(parse(dir_.file("copy.ntf")).document->header.texts.data(0), 3u);
}

// ----- Failures ---------------------------------------------------------------------------

// The folder holds exactly these names: no temporary file is left behind.
void expect_only(const TempDir& dir, std::set<std::string> names) {
  std::set<std::string> found;
  for (const auto& e : fs::directory_iterator(dir.file(""))) found.insert(e.path().filename());
  EXPECT_EQ(found, names);
}

TEST_F(Save, BadTarget) {
  PublicDoc doc;
  const fs::path locked = dir_.file("locked");
  fs::create_directories(locked / "folder");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  // The super-user writes into any folder; /proc takes no new files from anybody.
  const fs::path target = ::geteuid() == 0 ? fs::path("/proc/kvntfu-save.ntf") : locked / "out.ntf";
  EXPECT_EQ(Kv_NITFSaveFileA(doc.d, target.c_str()), RET_FILE_WRITE);
  EXPECT_EQ(Kv_NITFSaveFileA(doc.d, dir_.file("none/out.ntf").c_str()), RET_FILE_WRITE);
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(Kv_NITFSaveFileA(doc.d, (locked / "folder").c_str()), RET_FILE_WRITE);  // the rename
  EXPECT_EQ(Kv_NITFSaveFileA(nullptr, target.c_str()), RET_INVALID_DOCUMENT);
  expect_only(dir_, {"locked"});
}

// A save onto the open source (also through a link) replaces it and the document reads
// on; a source cut short after opening fails the save and leaves the target as it was.
TEST_F(Save, OwnOrCutSource) {
  nitfgen::FileSpec f;
  f.images.push_back(nitfgen::image_segment({}, std::string(64, '\x55')));
  f.texts.push_back({nitfgen::text_subheader(), std::string(5000, 't')});
  const std::string original = nitfgen::build(f);
  const fs::path file = dir_.write("source.ntf", original),
                 target = dir_.write("target.ntf", "old");
  fs::create_symlink(file, dir_.file("link.ntf"));
  {
    PublicDoc doc(file);
    const std::vector<std::string> contents = contents_of(doc.d);
    for (const fs::path& onto : {file, file, dir_.file("link.ntf")}) {
      ASSERT_EQ(Kv_NITFSaveFileA(doc.d, onto.c_str()), RET_SUCCESS);
      EXPECT_EQ(nitfgen::read_file(file.string()), original);
      EXPECT_EQ(contents_of(doc.d), contents);
    }
  }
  EXPECT_TRUE(fs::is_symlink(dir_.file("link.ntf")));
  PublicDoc doc(file);
  fs::resize_file(file, original.size() - 100);
  EXPECT_EQ(Kv_NITFSaveFileA(doc.d, target.c_str()), RET_FILE_READ);
  EXPECT_EQ(nitfgen::read_file(target.string()), "old");
  expect_only(dir_, {"source.ntf", "target.ntf", "link.ntf"});
}

// Hostile records give codes, and no file: a claimed LI of 9 999 999 999 is found before
// anything is allocated for it, VQ data without kernels and unknown codes are refused,
// and a fourth LUT, which no record keeps, cannot be written.
TEST_F(Save, HostileRecords) {
  nitfgen::FileSpec f;
  f.images.push_back(nitfgen::vq_segment(false));
  Parsed p = parse(dir_.write("in.ntf", nitfgen::build(f)));
  ASSERT_EQ(p.result, RET_SUCCESS);
  NitfDocument* d = p.document.get();
  nitf::NitfImageSubheader& r = *d->images[0];
  auto save_with = [&](auto& member, auto bad, int expected) {
    auto good = std::exchange(member, bad);
    EXPECT_EQ(nitf::save_document(d, wide(dir_.file("out.ntf")).c_str()), expected);
    member = good;
  };
  save_with(d->header.images.data_source[0], 9999999999ULL, RET_FILE_READ);
  save_with(r.block_height, 1, RET_FILE_FORMAT);  // below the code rows: kernel height 0
  save_with(r.compression, nitf::CompressionCode::kUnknown, RET_FILE_FORMAT);
  r.bands[0].lut_entries = 2;
  save_with(r.bands[0].lut_count, 4, RET_NOT_SUPPORTED);
  expect_only(dir_, {"in.ntf"});
}

// ----- Setters ------------------------------------------------------------------------------

using Setters = LeakChecked;

// A value of the field's form other than `old`, or empty where none keeps the file
// readable and the field in place: FVER and CLEVEL (the reader takes one of each), NICOM
// (it counts the comments), SCOLOR (always written C), an ICORDS that would add IGEOLO.
std::string other_value(const NitfFieldInfo& f, const std::string& old) {
  static const std::map<std::string, std::vector<std::string>> kCoded = {
      {"FHDR", {"NSIF", "NITF"}},
      {"IREP", {"MULTI   ", "MONO    "}},
      {"ICORDS", {"G", "D"}},
      {"IMAG", {"/2  ", "2.0 "}},
      {"COMRAT", {"01.0", "02.0"}},
      {"SCOLOR", {}},
      {"FVER", {}},
      {"CLEVEL", {}},
      {"NICOM", {}}};
  const std::string name = f.name, q(std::size_t(f.width), 'Q'), one(std::size_t(f.width), '1');
  std::vector<std::string> choices = {q, std::string(q.size(), 'R')};
  if (f.form == KV_FORM_CHARS) choices = {one, std::string(one.size(), '2')};
  if (f.form == KV_FORM_LOCATION || f.form == KV_FORM_COLOUR) choices = {"1,2,3", "4,5,6"};
  if (f.form == KV_FORM_NUMBER || f.form == KV_FORM_UNSIGNED) {
    const long long v = std::stoll(old), top = std::llround(std::pow(10.0, f.width)) - 1;
    choices = {std::to_string(v < top ? v + 1 : v - 1)};
  }
  if (name.ends_with("CLAS")) choices = {"R", "S"};
  if (kCoded.count(name))
    choices = name == "ICORDS" && old == " " ? std::vector<std::string>{} : kCoded.at(name);
  for (const std::string& c : choices)
    if (c != old && !(f.form == KV_FORM_LOCATION && old.starts_with(c.substr(0, 3)))) return c;
  return "";
}

// Whether a new value changes the field alone: not for one that describes the stored
// data, an area, a length that counts an area, or an overflow field.
bool changes_alone(const NitfFieldInfo& f, int kind) {
  const std::uint32_t overflow = KV_FIELD_CONDITIONAL | KV_FIELD_DIGITS;
  if (!(f.flags & KV_FIELD_SETTABLE) || (f.flags & KV_FIELD_LAYOUT) ||
      (f.flags & overflow) == overflow || f.form == KV_FORM_TABLE || f.form == KV_FORM_AREA)
    return false;
  for (const NitfFieldInfo& other : fields_of(kind))
    if (other.form == KV_FORM_AREA && other.second_offset == f.offset) return false;
  return true;
}

// Each settable field of record `index` of `kind`, changed through its description in a
// fresh document: the set is taken, the saved file differs from the unchanged one inside
// that field alone, and the reopened file's record holds the value; `changed` counts them.
template <class Open>
void expect_fields_round_trip(Open open, const Kind& kind, int index, int* changed) {
  TempDir dir;
  const std::string unchanged = saved(open().d, dir.file("unchanged.ntf"));
  for (const NitfFieldInfo& f : fields_of(kind.fields)) {
    if (!changes_alone(f, kind.fields)) continue;
    PublicDoc doc = open();
    Record r(kind, doc.d, index);
    ASSERT_EQ(r.got(), RET_SUCCESS);
    const std::string v = other_value(f, r.shown(f));
    if (v.empty() ||
        (kind.fields == KV_FIELDS_IMAGE &&
         !nitf::find_field(nitf::image_fields(), f.name)->in_file(*doc.d->images[index])))
      continue;
    SCOPED_TRACE(std::string(f.name) + "=" + v);
    r.put(f, v);
    ASSERT_EQ(kind.set(doc.d, index, r.data()), RET_SUCCESS);
    const std::string bytes = saved(doc.d, dir.file("changed.ntf"));
    ASSERT_EQ(bytes.size(), unchanged.size());
    std::size_t first = 0, last = bytes.size();
    while (first < last && bytes[first] == unchanged[first]) ++first;
    while (last > first && bytes[last - 1] == unchanged[last - 1]) --last;
    EXPECT_TRUE(last > first && last - first <= std::size_t(f.width)) << first << " to " << last;
    PublicDoc back(dir.file("changed.ntf"));
    EXPECT_EQ(Record(kind, back.d, index).shown(f), r.shown(f));
    ++*changed;
  }
}

TEST_F(Setters, EveryField) {
  REQUIRE_SAMPLES();
  auto with_be = [] { return PublicDoc(sample("misc/WithBE.ntf")); };
  auto i_3113g = [] { return PublicDoc(sample("jitc/i_3113g.ntf")); };
  int changed = 0;
  for (const Kind& k : kKinds) expect_fields_round_trip(with_be, k, 0, &changed);
  expect_fields_round_trip(i_3113g, kKinds[1], 1, &changed);
  expect_fields_round_trip(i_3113g, kKinds[2], 1, &changed);
  expect_fields_round_trip([] { return PublicDoc(sample("misc/autzen-utm10.ntf")); }, kKinds[1], 0,
                           &changed);
  EXPECT_GT(changed, 150);
}

// What each setter refuses, or silently leaves: the field keeps its value, and a refused
// record changes nothing (a valid change to another field of it is not taken either).
TEST_F(Setters, Refusals) {
  REQUIRE_SAMPLES();
  const std::string i11(11, 'I'), t81(81, 'T');
  const struct {
    int kind;
    const char* name;
    std::string value;
    int code = RET_INVALID_PARAMETER;
  } cases[] = {{0, "FTITLE", t81, RET_SUCCESS},
               {0, "CLEVEL", "9", RET_SUCCESS},
               {0, "FSCOP", "123456"},
               {0, "FVER", "100"},
               {0, "UDHDL", "50"},
               {0, "UDHOFL", "1000"},
               {1, "PVTYPE", "X"},
               {1, "IREP", "COLOUR"},
               {1, "IC", "C9"},
               {1, "IMODE", "Q"},
               {1, "PJUST", "C"},
               {1, "COMRAT", "12345"},
               {1, "ILOC", "100000,0"},
               {1, "NICOM", "1"},
               {1, "IID1", i11},
               {1, "NBANDS", "0"},
               {2, "SID", i11},
               {2, "SLOC", "0,-10000"},
               {2, "SXSHDL", "2"},
               {3, "TEXTID", "TTTTTTTT"},
               {3, "TXTALVL", "1000"}};
  const char* kOther[] = {"OPHONE", "IID2", "SNAME", "TXTITL"};
  PublicDoc doc(sample("misc/WithBE.ntf"));
  for (const auto& c : cases) {
    const Kind& k = kKinds[c.kind];
    const NitfFieldInfo &f = field_named(k.fields, c.name),
                        &g = field_named(k.fields, kOther[c.kind]);
    Record r(k, doc.d, 0);
    const std::string before = r.shown(f), other = r.shown(g);
    if (c.code != RET_SUCCESS) r.put(g, "12345");
    r.put(f, c.value);
    EXPECT_EQ(k.set(doc.d, 0, r.data()), c.code) << c.name;
    EXPECT_EQ(Record(k, doc.d, 0).shown(f), before) << c.name;
    EXPECT_EQ(Record(k, doc.d, 0).shown(g), other) << c.name;
  }
  for (const Kind& k : kKinds) {
    std::uint64_t bare[256] = {};
    EXPECT_EQ(k.set(doc.d, 0, bare), RET_INVALID_PARAMETER) << "null strings";
    EXPECT_EQ(k.set(nullptr, 0, bare), RET_FAILURE);
    EXPECT_EQ(k.set(doc.d, 0, nullptr), RET_BAD_ARGUMENT);
    const bool image = k.fields == KV_FIELDS_IMAGE;
    if (k.fields != KV_FIELDS_FILE) {
      EXPECT_EQ(k.set(doc.d, k.count(doc.d), bare),
                image ? RET_INVALID_PARAMETER : RET_BAD_ARGUMENT);
      EXPECT_EQ(k.get(doc.d, k.count(doc.d), bare), RET_BAD_ARGUMENT);
    }
    EXPECT_EQ(k.get(doc.d, 0, nullptr), image ? RET_INVALID_PARAMETER : RET_BAD_ARGUMENT);
    EXPECT_EQ(k.get(nullptr, 0, bare), RET_FAILURE);
    {
      AllocationCap cap(8);
      EXPECT_EQ(k.get(doc.d, 0, bare), RET_NO_MEMORY) << "no copy is left";
    }
    EXPECT_EQ(k.release(bare), RET_SUCCESS);
  }
  PublicDoc commented(sample("jitc/i_3025b.ntf"));  // nine comments, one left null
  Record r(kKinds[1], commented.d, 0);
  char** comments = value(static_cast<NitfImageHeader*>(r.data())->ICOM);
  char* third = std::exchange(comments[2], nullptr);
  EXPECT_EQ(kKinds[1].set(commented.d, 0, r.data()), RET_INVALID_PARAMETER);
  comments[2] = third;
}

// A change that brings a part in or takes one out moves the subheader's length (HL for
// the file header) and FL by what it adds, a new area is got back, and the saved file
// reads back.
TEST_F(Setters, Lengths) {
  nitfgen::ImageShape image;
  image.comments = {"one", "two"};
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(image, std::string(64, 'p')));
  file.graphics.push_back({nitfgen::graphic_subheader(), "CGM"});
  file.texts.push_back({nitfgen::text_subheader(), "text"});
  TempDir dir;
  const fs::path path = dir.write("in.ntf", nitfgen::build(file));
  const std::string tres = nitfgen::tre("ABCDEF", "0123456789");
  const struct {
    int kind;
    const char* name;
    std::string value;
    long delta;
  } cases[] = {{1, "ICORDS", "G", 60}, {1, "IC", "C3", 4},    {1, "NICOM", "1", -80},
               {1, "NBANDS", "3", 26}, {1, "UDID", tres, 24}, {1, "IXSHD", tres, 24},
               {0, "UDHD", tres, 24},  {0, "XHD", tres, 24},  {2, "SXSHD", tres, 24},
               {3, "TXSHD", tres, 24}};
  for (const auto& c : cases) {
    PublicDoc doc(path);
    const nitf::NitfFileHeaderData& h = doc.d->header;
    const nitf::LengthTables* tables[] = {nullptr, &h.images, &h.graphics, &h.texts};
    auto length = [&] {
      return c.kind ? std::int64_t(tables[c.kind]->subheader_current[0]) : h.hl_current;
    };
    const std::int64_t before = length(), fl = h.fl_current;
    Record r(kKinds[c.kind], doc.d, 0);
    const NitfFieldInfo& f = field_named(kKinds[c.kind].fields, c.name);
    r.put(f, c.value);
    EXPECT_EQ(kKinds[c.kind].set(doc.d, 0, r.data()), RET_SUCCESS) << c.name;
    if (f.form == KV_FORM_AREA) {
      EXPECT_EQ(Record(kKinds[c.kind], doc.d, 0).shown(f), c.value) << c.name;
    }
    EXPECT_EQ(length() - before, c.delta) << c.name;
    EXPECT_EQ(h.fl_current - fl, c.delta) << c.name;
    saved(doc.d, dir.file("out.ntf"));
    EXPECT_EQ(parse(dir.file("out.ntf")).result, RET_SUCCESS) << c.name;
  }
}

// ----- Appending ------------------------------------------------------------------------------

struct Picture {
  kernel::Bitmap b;
  Picture(int width, int height, int bits) {
    EXPECT_EQ(kernel::create_bitmap(&b, kernel::kBitmapRecordSize, 1, width, height, bits,
                                    bits == 8 ? kernel::kColourGrey : kernel::kColourRgb, nullptr,
                                    kernel::kViewTopDown, nullptr, 0),
              RET_SUCCESS);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width * bits / 8; ++x)
        kernel::storage_row(b, y)[x] = std::uint8_t(x + 3 * y);
  }
  ~Picture() { kernel::free_bitmap(&b); }
  KvBitmap* kv() { return reinterpret_cast<KvBitmap*>(&b); }
};

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

using Append = LeakChecked;

std::string lengths(NitfDocument* d) {
  const auto& h = d->header;
  return std::to_string(h.hl_current) + "/" + std::to_string(h.fl_current) + "/" + h.numi + h.nums +
         h.numt + "/" + std::to_string(d->image_count + d->graphic_count + d->text_count);
}

// A refused append leaves the document as it was; a block wider than 8192 is written as 0.
TEST_F(Append, Refusals) {
  PublicDoc doc;
  TempDir dir;
  Picture picture(8, 8, 24), wide(70000, 1, 8), tiny(1, 1, 8), wider(8200, 2, 8);
  vector::Drawing empty;
  vector::init(&empty);
  Drawing far(0, -200000, 10, -199990);
  ASSERT_EQ(Kv_NITFAppendImageSegment(doc.d, wider.kv(), 10, 8, 50), RET_SUCCESS);
  EXPECT_STREQ(doc.d->images[0]->nppbh, "0000") << "blocks wider than 8192 are written as 0";
  const std::string before = lengths(doc.d), big = dir.write("big.txt", std::string(100000, 'y'));
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, nullptr, 10, 24, 50), RET_INVALID_BITMAP);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 10, 16, 50), RET_INVALID_BITS_PER_PIXEL);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 10, 24, 1), RET_INVALID_QUALITY);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 10, 24, 256), RET_INVALID_QUALITY);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, picture.kv(), 11, 24, 50), RET_FILE_FORMAT);
  EXPECT_EQ(Kv_NITFAppendImageSegment(nullptr, picture.kv(), 10, 24, 50), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, wide.kv(), 10, 8, 50), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NITFAppendGraphicSegment(doc.d, nullptr, kRectangle), RET_MISSING_DATA);
  EXPECT_EQ(Kv_NITFAppendGraphicSegment(doc.d, &empty, kRectangle), RET_EMPTY_VECTOR);
  EXPECT_EQ(Kv_NITFAppendGraphicSegment(doc.d, &far.d, kRectangle), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NITFAppendGraphicSegment(doc.d, &far.d, nullptr), RET_INVALID_DOCUMENT);
  EXPECT_EQ(Kv_NITFAppendTextSegmentA(doc.d, dir.file("missing.txt").c_str()), RET_FILE_OPEN);
  EXPECT_EQ(Kv_NITFAppendTextSegmentA(doc.d, big.c_str()), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NITFAppendTextSegmentA(nullptr, big.c_str()), RET_INVALID_DOCUMENT);
  EXPECT_EQ(lengths(doc.d), before);
  for (int i = 1; i < 999; ++i)
    ASSERT_EQ(Kv_NITFAppendImageSegment(doc.d, tiny.kv(), 10, 8, 50), RET_SUCCESS) << i;
  const std::string full = lengths(doc.d);
  EXPECT_EQ(Kv_NITFAppendImageSegment(doc.d, tiny.kv(), 10, 8, 50), RET_FAILURE)
      << "the thousandth";
  EXPECT_EQ(lengths(doc.d), full);
}

// Texts come from files as they are, attached to the lowest display level.
TEST_F(Append, Texts) {
  REQUIRE_SAMPLES();
  TempDir dir;
  const std::string bytes(1000, 'x');
  PublicDoc doc(sample("jitc/i_3001a.ntf")), bare;
  std::memcpy(doc.d->header.fdt, "20261206103001", 14);
  ASSERT_EQ(Kv_NITFAppendTextSegmentA(doc.d, dir.write("t.txt", bytes).c_str()), RET_SUCCESS);
  ASSERT_EQ(Kv_NITFAppendTextSegmentA(doc.d, dir.write("empty.txt", "").c_str()), RET_SUCCESS);
  EXPECT_STREQ(doc.d->texts[0]->txtdt, "20261206102901") << "the minutes lose one";
  EXPECT_STREQ(doc.d->texts[0]->txtalvl_text, "001");
  saved(doc.d, dir.file("with_text.ntf"));
  PublicDoc again(dir.file("with_text.ntf"));
  for (NitfDocument* d : {doc.d, again.d}) {
    std::string back(1001, '\0');
    std::uint32_t length = 0;
    ASSERT_EQ(Kv_NITFGetTextSegment(d, 0, back.data(), &length), RET_SUCCESS);
    EXPECT_EQ(back.substr(0, length), bytes);
  }
  ASSERT_EQ(Kv_NITFAppendTextSegmentA(bare.d, dir.file("t.txt").c_str()), RET_SUCCESS);
  EXPECT_EQ(bare.d->texts[0]->txtalvl, 0) << "without images";
  EXPECT_STREQ(bare.d->texts[0]->txtdt, "20040101010101") << "parts of 01 are passed over";
}

// The red pixels of the canvas lie within the graphic's bounds, and there are some.
void expect_inside_sbnd(NitfDocument* d, const char* when) {
  Rendered r;
  ASSERT_EQ(Kv_NtfRenderBitmap(&r.bitmap, d), RET_SUCCESS) << when;
  const nitf::NitfGraphicSubheader& g = *d->graphics[0];
  int painted = 0;
  for (int y = 0; y < r.canvas()->height; ++y)
    for (int x = 0; x < r.canvas()->width; ++x)
      if (r.at(x, y) == 0x0000FF && ++painted) {
        EXPECT_TRUE(y >= g.sloc_row + g.sbnd1_first && x >= g.sloc_column + g.sbnd1_second &&
                    y <= g.sloc_row + g.sbnd2_first && x <= g.sloc_column + g.sbnd2_second)
            << when << ": " << x << "," << y;
      }
  EXPECT_GT(painted, 0) << when;
}

// Drawings become graphics painted inside their bounds, at once and after a save; a
// drawing above the origin is moved down; over an image it lies a level above it.
TEST_F(Append, Drawings) {
  PublicDoc doc, over;
  Drawing below(20, -60, 200, -10), above(0, 0, 100, 40);
  ASSERT_EQ(Kv_NITFAppendGraphicSegment(doc.d, &below.d, kRectangle), RET_SUCCESS);
  const nitf::NitfGraphicSubheader& g = *doc.d->graphics[0];
  EXPECT_EQ(std::vector<int>({g.sbnd1_first, g.sbnd1_second, g.sbnd2_first, g.sbnd2_second}),
            std::vector<int>({9, 19, 61, 201}))
      << "(top, left) to (bottom, right), the stroke included";
  auto* handle = static_cast<const vector::Drawing*>(Kv_NITFGetVectorHandle(doc.d, 0));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->objects.count, 1u);
  expect_inside_sbnd(doc.d, "before saving");
  TempDir dir;
  saved(doc.d, dir.file("drawn.ntf"));
  PublicDoc drawn(dir.file("drawn.ntf"));
  expect_inside_sbnd(drawn.d, "after reopening");
  EXPECT_STREQ(drawn.d->graphics[0]->scolor, "C") << "appended graphics are colour CGM";
  Picture picture(50, 50, 8);
  ASSERT_EQ(Kv_NITFAppendImageSegment(over.d, picture.kv(), 10, 8, 100), RET_SUCCESS);
  ASSERT_EQ(Kv_NITFAppendGraphicSegment(over.d, &above.d, kRectangle), RET_SUCCESS);
  vector::Point3 lower, upper;
  vector::bounds(&above.d, &lower, &upper);
  EXPECT_EQ(upper.y, -1) << "moved down";
  EXPECT_EQ(over.d->graphics[0]->sdlvl, 2);
  EXPECT_EQ(over.d->graphics[0]->salvl, 1);
  expect_inside_sbnd(over.d, "over an image");
}

// A replaced drawing keeps the graphic's placement and subheader.
TEST_F(Append, ReplacedDrawing) {
  REQUIRE_SAMPLES();
  PublicDoc doc(sample("jitc/i_3113g.ntf"));
  const std::string sloc = doc.d->graphics[1]->sloc;
  const std::uint64_t lssh = doc.d->header.graphics.subheader_current[1];
  Drawing replacement(5, -30, 60, -5);
  vector::Drawing empty;
  vector::init(&empty);
  ASSERT_EQ(Kv_NITFSetVectorHandle(doc.d, 1, &replacement.d), RET_SUCCESS);
  EXPECT_EQ(doc.d->header.graphics.subheader_current[1], lssh);
  TempDir dir;
  saved(doc.d, dir.file("replaced.ntf"));
  PublicDoc again(dir.file("replaced.ntf"));
  auto* reread = static_cast<const vector::Drawing*>(Kv_NITFGetVectorHandle(again.d, 1));
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(reread->objects.count, 1u);
  EXPECT_EQ(std::string(again.d->graphics[1]->sloc), sloc);
  EXPECT_EQ(Kv_NITFSetVectorHandle(doc.d, 2, &replacement.d), RET_INVALID_PARAMETER);
  EXPECT_EQ(Kv_NITFSetVectorHandle(doc.d, 0, nullptr), RET_MISSING_DATA);
  EXPECT_EQ(Kv_NITFSetVectorHandle(doc.d, 0, &empty), RET_EMPTY_VECTOR);
  EXPECT_EQ(Kv_NITFSetVectorHandle(nullptr, 0, &replacement.d), RET_INVALID_DOCUMENT);
}

}  // namespace
