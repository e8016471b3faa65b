// The edit round trip behind fuzz_append (see entries.h): a script of edits read from
// the input's bytes, each judged as it is made, then a save and a second reading that
// must hold what the edited document held.
//
// Every refusal is judged at once: a refused edit (a header set, a TRE set, an append,
// a drawing replacement) must change nothing.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "entries.h"
#include "kernel.h"
#include "vector/drawing.h"

namespace fuzzing {
namespace {

// Edits per input: enough to combine every kind, few enough for fast units.
constexpr int kMostEdits = 12;

struct Document {
  NitfDocument* handle = nullptr;
  ~Document() {
    if (handle) Kv_NITFDestroy(&handle);
  }
};

// The script: little-endian numbers and byte strings, zeros once it runs out.
struct Script {
  const std::uint8_t* data;
  std::size_t count, at = 0;
  bool done() const { return at >= count; }
  std::uint32_t next(int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i, ++at) v |= (at < count ? data[at] : 0u) << (8 * i);
    return v;
  }
  std::string text(std::size_t n) {
    const std::size_t from = std::min(at, count), taken = std::min(n, count - from);
    at += n;
    std::string out(reinterpret_cast<const char*>(data + from), taken);
    out.resize(n, ' ');
    return out;
  }
  // Lengths around the usual field widths, now and then one far beyond any.
  std::size_t length() {
    const std::uint32_t v = next(1);
    return v >= 250 ? 1000 + v : v % 96;
  }
};

[[noreturn]] void fail(const char* what, int code, const std::string& before,
                       const std::string& after) {
  std::size_t at = 0;
  while (at < before.size() && at < after.size() && before[at] == after[at]) ++at;
  const std::size_t from = at > 60 ? at - 60 : 0;
  std::fprintf(stderr, "%s (%d): before ...%s\nafter ...%s\n", what, code,
               before.substr(from, 120).c_str(), after.substr(from, 120).c_str());
  __builtin_trap();
}

// A picture of the script's size, depth and bytes (16 bits, which the append refuses,
// among them).
int append_image(NitfDocument* d, Script& s) {
  static constexpr std::int32_t kDepths[] = {8, 24, 16}, kFormats[] = {10, 182, 11};
  const std::int32_t width = 1 + std::int32_t(s.next(1) % 40),
                     height = 1 + std::int32_t(s.next(1) % 40);
  const std::int32_t bits = kDepths[s.next(1) % 3], format = kFormats[s.next(1) % 3];
  const std::int32_t quality = std::int32_t(s.next(1)), seed = std::int32_t(s.next(1));
  kernel::Bitmap b;
  if (kernel::create_bitmap(&b, kernel::kBitmapRecordSize, 1, width, height, bits == 16 ? 24 : bits,
                            bits == 8 ? kernel::kColourGrey : kernel::kColourRgb, nullptr,
                            kernel::kViewTopDown, nullptr, 0) != RET_SUCCESS)
    return RET_NO_MEMORY;
  for (std::int32_t y = 0; y < height; ++y)
    for (std::int32_t x = 0; x < width * (bits == 8 ? 1 : 3); ++x)
      kernel::storage_row(b, y)[x] = std::uint8_t(x * seed + 7 * y);
  const int r =
      Kv_NITFAppendImageSegment(d, reinterpret_cast<KvBitmap*>(&b), format, bits, quality);
  kernel::free_bitmap(&b);
  return r;
}

// Up to three rectangles anywhere (far ones give bounds beyond the fields), or none.
void make_drawing(vector::Drawing* drawing, Script& s) {
  vector::init(drawing);
  const std::uint32_t shapes = s.next(1) % 4;
  for (std::uint32_t k = 0; k < shapes; ++k) {
    vector::ObjectDescription desc;
    vector::init_object_description(&desc);
    desc.attributes.interior_style = vector::InteriorStyle::kSolid;
    desc.attributes.fill_colour = s.next(3);
    const double scale = s.next(1) % 8 == 0 ? 100 : 1;
    auto coordinate = [&] { return double(std::int16_t(s.next(2))) * scale; };
    const vector::Vertex corners[2] = {{coordinate(), coordinate(), 0},
                                       {coordinate(), coordinate(), 0}};
    desc.points = corners;
    desc.point_count = 2;
    vector::add_object(drawing, 0, vector::ObjectKind::kRectangle, &desc, 0);
  }
}

int append_graphic(NitfDocument* d, Script& s, bool replace) {
  vector::Drawing drawing;
  make_drawing(&drawing, s);
  int r;
  if (replace) {
    r = Kv_NITFSetVectorHandle(d, std::int32_t(s.next(1) % 4), &drawing);
  } else {
    std::int32_t rectangle[4];
    for (std::int32_t& v : rectangle) v = std::int16_t(s.next(2));
    r = Kv_NITFAppendGraphicSegment(d, &drawing, rectangle);
  }
  vector::release(&drawing);
  return r;
}

int append_text(NitfDocument* d, Script& s) {
  const std::uint32_t n = s.next(1);
  // 100000 bytes are one more than LT holds.
  const std::string bytes = n == 255 ? std::string(100000, 'x') : s.text(n * 4);
  MemoryFile file(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  if (file.name().empty()) return RET_NO_MEMORY;
  return Kv_NITFAppendTextSegment(d, file.name().c_str());
}

// One member of a record replaced from the script, the record set, the member put back
// before the record is freed. Texts (null among them), numbers (any 32 bits) and fixed
// date fields.
template <class Record>
struct Members {
  std::initializer_list<char * Record::*> texts;
  std::initializer_list<std::int32_t Record::*> numbers;
  std::initializer_list<std::uint32_t Record::*> unsigned_numbers;
};

// The records are packed: members are read and written through memcpy.
template <class T, class Record, class M>
T load(Record* record, M Record::*member) {
  T value;
  std::memcpy(&value, &(record->*member), sizeof value);
  return value;
}
template <class T, class Record, class M>
void store(Record* record, M Record::*member, T value) {
  std::memcpy(&(record->*member), &value, sizeof value);
}

template <class Record, class Set>
int set_member(Record* record, const Members<Record>& m, Script& s, Set set) {
  const std::uint32_t pick = s.next(1);
  const std::size_t texts = m.texts.size(), numbers = m.numbers.size();
  const std::size_t all = texts + numbers + m.unsigned_numbers.size();
  const std::size_t k = pick % all;
  if (k < texts) {
    char* Record::*member = m.texts.begin()[k];
    std::string value = s.text(s.length());
    char* held = load<char*>(record, member);
    store<char*>(record, member, pick & 0x80 ? nullptr : value.data());
    const int r = set(record);
    store<char*>(record, member, held);
    return r;
  }
  const std::uint32_t v = s.next(1) & 1 ? s.next(4) : s.next(2);
  if (k < texts + numbers)
    store<std::int32_t>(record, m.numbers.begin()[k - texts], std::int32_t(v));
  else
    store<std::uint32_t>(record, m.unsigned_numbers.begin()[k - texts - numbers], v);
  return set(record);
}

int set_file_header(NitfDocument* d, Script& s) {
  NitfHeader h{};
  int r = Kv_NITFGetNITFHeader(d, &h);
  if (r != RET_SUCCESS) return r;
  using H = NitfHeader;
  const Members<H> m{
      {&H::FHDR, &H::STYPE, &H::OSTAID, &H::FTITLE, &H::FSCLAS, &H::FSCLSY, &H::FSCODE, &H::FSCTLH,
       &H::FSREL, &H::FSDCTP, &H::FSDCXM, &H::FSDG, &H::FSCLTX, &H::FSCATP, &H::FSCAUT, &H::FSCRSN,
       &H::FSCTLN, &H::ONAME, &H::OPHONE},
      {&H::CLEVEL, &H::FSCOP, &H::FSCPYS, &H::ENCRYP},
      {}};
  const std::uint32_t what = s.next(1) % 4;
  if (what == 0) {
    // An extended area of the script's bytes (XHDL - 3 of them, as the record promises),
    // or none with a length that may not be the area's.
    std::string area = s.text(s.next(1));
    const std::int32_t xhdl =
        s.next(1) % 4 == 0 ? std::int32_t(s.next(1)) : std::int32_t(area.size()) + 3;
    if (!area.empty()) area.resize(std::size_t(std::max(xhdl - 3, 1)), ' ');
    std::uint8_t* held = load<std::uint8_t*>(&h, &H::XHD);
    const std::int32_t length = load<std::int32_t>(&h, &H::XHDL);
    store<std::uint8_t*>(&h, &H::XHD,
                         area.empty() ? nullptr : reinterpret_cast<std::uint8_t*>(area.data()));
    store<std::int32_t>(&h, &H::XHDL, xhdl);
    r = Kv_NITFSetNITFHeader(d, &h);
    store<std::uint8_t*>(&h, &H::XHD, held);
    store<std::int32_t>(&h, &H::XHDL, length);
  } else if (what == 1) {
    std::memcpy(h.FDT, s.text(14).data(), 14);
    std::memcpy(h.FBKGC, s.text(3).data(), 3);
    r = Kv_NITFSetNITFHeader(d, &h);
  } else {
    r = set_member(&h, m, s, [d](H* record) { return Kv_NITFSetNITFHeader(d, record); });
  }
  Kv_NITFFreeNITFHeader(&h);
  return r;
}

// One member of a segment header the script picks, set through the kind's setter: the
// header is read with the kind's getter and released with its release call.
template <class H, class Get, class Set, class Release>
int set_segment_header(NitfDocument* d, Script& s, std::int32_t count, Get get, Set set,
                       Release release, const Members<H>& m) {
  if (count <= 0) return RET_SUCCESS;
  const std::uint32_t index = s.next(1) % std::uint32_t(count);
  H h{};
  int r = get(d, index, &h);
  if (r == RET_SUCCESS)
    r = set_member(&h, m, s, [d, index, set](H* record) { return set(d, index, record); });
  release(&h);
  return r;
}

int set_image_header(NitfDocument* d, Script& s) {
  using H = NitfImageHeader;
  const Members<H> m{
      {&H::IID1, &H::TGTID, &H::IID2, &H::ISCLAS, &H::ISORCE, &H::PVTYPE, &H::IREP, &H::ICAT,
       &H::PJUST, &H::ICORDS, &H::IGEOLO, &H::IC, &H::COMRAT, &H::IMODE, &H::IMAG},
      {&H::ILOC_ROW, &H::ILOC_COLUMN},
      {&H::NROWS, &H::NCOLS, &H::ABPP, &H::NBANDS, &H::XBANDS, &H::IDLVL, &H::IALVL, &H::NBPP,
       &H::IMDATOFF}};
  return set_segment_header(d, s, Kv_NITFGetImageHeaderCount(d), Kv_NITFGetImageHeader,
                            Kv_NITFSetImageHeader, Kv_NITFFreeImageHeader, m);
}

int set_graphic_header(NitfDocument* d, Script& s) {
  using H = NitfGraphicHeader;
  const Members<H> m{
      {&H::SID, &H::SNAME, &H::SSCLAS, &H::SFMT, &H::SCOLOR},
      {&H::SDLVL, &H::SALVL, &H::SLOC_ROW, &H::SLOC_COLUMN, &H::SBND1_ROW, &H::SBND2_COLUMN},
      {}};
  return set_segment_header(d, s, Kv_NITFGetGraphicHeaderCount(d), Kv_NITFGetGraphicHeader,
                            Kv_NITFSetGraphicHeader, Kv_NITFFreeGraphicHeader, m);
}

int set_text_header(NitfDocument* d, Script& s) {
  using H = NitfTextHeader;
  const Members<H> m{
      {&H::TEXTID, &H::TXTITL, &H::TSCLAS, &H::TXTFMT}, {&H::TXTALVL, &H::ENCRYP}, {}};
  return set_segment_header(d, s, Kv_NITFGetTextHeaderCount(d), Kv_NITFGetTextHeader,
                            Kv_NITFSetTextHeader, Kv_NITFFreeTextHeader, m);
}

// A TRE of any header (or one past the last) set from JSON: the TRE's own JSON again,
// that JSON with one character changed, or a tag and bytes of the script as "hex".
int set_tre(NitfDocument* d, Script& s) {
  static constexpr std::int32_t kKinds[] = {KV_FIELDS_FILE, KV_FIELDS_IMAGE, KV_FIELDS_GRAPHIC,
                                            KV_FIELDS_TEXT};
  const std::int32_t kind = kKinds[s.next(1) % 4];
  const std::int32_t headers = kind == KV_FIELDS_FILE ? 1 : Kv_NITFGetSegmentCount(d, kind);
  const std::int32_t index = std::int32_t(s.next(1) % std::uint32_t(std::max(headers, 1)));
  std::int32_t count = 0;
  Kv_NITFGetTreCount(d, kind, index, &count);
  const std::uint32_t mode = s.next(1);
  std::int32_t tre = count > 0 ? std::int32_t(mode / 4 % std::uint32_t(count + 1)) - 1 : -1;
  std::string json;
  if (mode % 4 < 2 && tre >= 0) {
    char* text = nullptr;
    if (Kv_NITFGetTreJson(d, kind, index, tre, &text) == RET_SUCCESS && text) json = text;
    Kv_NITFFreeTreJson(&text);
    if (mode % 4 == 1 && !json.empty()) json[s.next(2) % json.size()] = char(s.next(1));
  } else {
    static const char kHex[] = "0123456789ABCDEF";
    std::string tag = s.text(6), hex;
    for (char& c : tag)
      if (c == '"' || c == '\\' || std::uint8_t(c) < 0x20 || std::uint8_t(c) > 0x7e) c = 'A';
    for (char c : s.text(s.length())) {
      hex += kHex[std::uint8_t(c) >> 4];
      hex += kHex[std::uint8_t(c) & 15];
    }
    json = "{\"tag\": \"" + tag + "\", \"hex\": \"" + hex + "\"}";
  }
  return Kv_NITFSetTreJson(d, kind, index, tre, json.c_str());
}

}  // namespace

int edit_round_trip(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return RET_BAD_ARGUMENT;
  const bool extended = data[0] & 1;
  const std::size_t script_length = std::min<std::size_t>(data[0] >> 1, size - 1);
  Script script{data + 1, script_length};
  const std::uint8_t* file = data + 1 + script_length;
  const std::size_t file_size = size - 1 - script_length;

  MemoryFile source(file, file_size);
  Document first;
  int r = RET_FAILURE;
  if (file_size > 0 && !source.name().empty())
    r = Kv_NITFCreateEx(&first.handle, source.name().c_str(), extended ? KV_NITF_EXTENDED : 0u);
  if (r != RET_SUCCESS) {
    if (first.handle) Kv_NITFDestroy(&first.handle);
    r = Kv_NITFCreate(&first.handle, nullptr);
    if (r != RET_SUCCESS) return r;
  }
  NitfDocument* d = first.handle;
  for (int n = 0; n < kMostEdits && !script.done(); ++n) {
    const std::uint32_t op = script.next(1) % 9;
    const std::string before = holdings(d);
    int code = RET_SUCCESS;
    switch (op) {
      case 0:
        code = append_text(d, script);
        break;
      case 1:
        code = append_image(d, script);
        break;
      case 2:
        code = append_graphic(d, script, false);
        break;
      case 3:
        code = append_graphic(d, script, true);
        break;
      case 4:
        code = set_file_header(d, script);
        break;
      case 5:
        code = set_image_header(d, script);
        break;
      case 6:
        code = set_graphic_header(d, script);
        break;
      case 7:
        code = set_text_header(d, script);
        break;
      default:
        code = set_tre(d, script);
        break;
    }
    if (code != RET_SUCCESS) {
      const std::string after = holdings(d);
      if (after != before) fail("a refused edit changed the document", code, before, after);
    }
  }

  const std::string copy = scratch_file();
  r = Kv_NITFSaveFileA(d, copy.c_str());
  if (r != RET_SUCCESS) return r;
  Document again;
  const std::wstring wide(copy.begin(), copy.end());
  // Extended reading: the setters take levels and markings strict reading refuses.
  const int reopened = Kv_NITFCreateEx(&again.handle, wide.c_str(), KV_NITF_EXTENDED);
  const std::string held = holdings(d),
                    read = reopened == RET_SUCCESS ? holdings(again.handle) : "";
  ::unlink(copy.c_str());
  if (held != read) fail("the saved file reads back otherwise", reopened, held, read);
  return r;
}

}  // namespace fuzzing
