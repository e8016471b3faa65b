// The file header reader, its field table and the defaults of a new header.
#include "core/ntfhdr.h"

#include <cstring>

#include <kvntfu.h>

namespace nitf {
namespace {

void fill(char* field, char c, std::size_t n) {
  std::memset(field, c, n);
  field[n] = '\0';
}

void put(char* field, const char* text) {
  std::strcpy(field, text);
}

template <auto Member>
char* member_text(NitfFileHeaderData& h) {
  return h.*Member;
}

#define KV_FIELD(NAME, member, width, numeric)                                \
  HeaderField {                                                               \
    NAME, width, sizeof(((NitfFileHeaderData*)nullptr)->member) - 1, numeric, \
        member_text<&NitfFileHeaderData::member>                              \
  }

const HeaderField kFields[] = {
    KV_FIELD("FHDR", fhdr, 4, false),
    KV_FIELD("FVER", fver, 5, false),
    KV_FIELD("CLEVEL", clevel_text, 2, true),
    KV_FIELD("STYPE", stype, 4, false),
    KV_FIELD("OSTAID", ostaid, 10, false),
    KV_FIELD("FDT", fdt, 14, true),
    KV_FIELD("FTITLE", ftitle, 80, false),
    KV_FIELD("FSCLAS", fsclas, 1, false),
    KV_FIELD("FSCLSY", fsclsy, 2, false),
    KV_FIELD("FSCODE", fscode, 11, false),
    KV_FIELD("FSCTLH", fsctlh, 2, false),
    KV_FIELD("FSREL", fsrel, 20, false),
    KV_FIELD("FSDCTP", fsdctp, 2, false),
    KV_FIELD("FSDCDT", fsdcdt, 8, false),
    KV_FIELD("FSDCXM", fsdcxm, 4, false),
    KV_FIELD("FSDG", fsdg, 1, false),
    KV_FIELD("FSDGDT", fsdgdt, 8, false),
    KV_FIELD("FSCLTX", fscltx, 43, false),
    KV_FIELD("FSCATP", fscatp, 1, false),
    KV_FIELD("FSCAUT", fscaut, 40, false),
    KV_FIELD("FSCRSN", fscrsn, 1, false),
    KV_FIELD("FSSRDT", fssrdt, 8, false),
    KV_FIELD("FSCTLN", fsctln, 15, false),
    KV_FIELD("FSCOP", fscop, 5, true),
    KV_FIELD("FSCPYS", fscpys, 5, true),
    KV_FIELD("ENCRYP", encryp, 1, true),
    KV_FIELD("FBKGC", fbkgc, 3, false),
    KV_FIELD("ONAME", oname, 24, false),
    KV_FIELD("OPHONE", ophone, 18, false),
    KV_FIELD("FL", fl, 12, true),
    KV_FIELD("HL", hl, 6, true),
};
#undef KV_FIELD

constexpr std::size_t kFieldCount = sizeof kFields / sizeof kFields[0];

// The checks and conversions that follow a field of the leading run.
int check_field(NitfFileHeaderData& h, const FieldReader& in, std::string_view name,
                bool* streaming) {
  if (name == "FHDR") {
    if (std::strcmp(h.fhdr, "NITF") != 0 && std::strcmp(h.fhdr, "NSIF") != 0)
      return in.refuse("FHDR", "neither NITF nor NSIF", RET_FILE_FORMAT);
    h.valid = 1;
  } else if (name == "FVER") {
    if (std::strcmp(h.fver, "02.10") != 0)
      return in.refuse("FVER", "only version 02.10 is read", RET_UNSUPPORTED_VERSION);
  } else if (name == "CLEVEL") {
    if (std::strcmp(h.clevel_text, "03") != 0) {
      in.refuse("CLEVEL", "only complexity level 03 is read", 0);
      kernel::message_box("Unsupported CLEVEL", "Error");
      return RET_UNSUPPORTED_CLEVEL;
    }
    h.clevel = 3;
  } else if (name == "FSCLAS") {
    if (!std::strchr("CRSTU", h.fsclas[0]) || h.fsclas[0] == '\0')
      return in.refuse("FSCLAS", "not one of C, R, S, T, U", RET_FILE_FORMAT);
  } else if (name == "FBKGC") {
    auto* c = reinterpret_cast<const unsigned char*>(h.fbkgc);
    h.background = c[0] | (c[1] << 8) | (std::uint32_t{c[2]} << 16);
  } else if (name == "FL") {
    if (is_all_nines(h.fl, 12)) *streaming = true;
    h.fl_source = h.fl_current = parse_decimal64(h.fl);
  } else if (name == "HL") {
    h.hl_source = h.hl_current = parse_decimal(h.hl);
    if (h.hl_source < 0) return in.refuse("HL", "negative", RET_FILE_FORMAT);
  }
  return RET_SUCCESS;
}

struct KindLayout {
  const char* count_name;
  const char* subheader_name;
  const char* data_name;
  std::uint8_t subheader_width;
  std::uint8_t data_width;
  bool subheader_marks;  // an all-nines subheader length means "written unknown"
  bool data_marks;
};

constexpr KindLayout kImages{"NUMI", "LISH", "LI", 6, 10, true, true};
constexpr KindLayout kGraphics{"NUMS", "LSSH", "LS", 4, 6, true, false};
constexpr KindLayout kTexts{"NUMT", "LTSH", "LT", 4, 5, true, false};
constexpr KindLayout kDes{"NUMDES", "LDSH", "LD", 4, 9, true, true};
constexpr KindLayout kRes{"NUMRES", "LRESH", "LRE", 4, 7, false, false};

// Reads a count and its pairs of lengths.
int read_lengths(FieldReader& in, char* count_text, const KindLayout& k, LengthTables* t,
                 bool* streaming) {
  if (int r = in.text(count_text, 3, k.count_name); r != RET_SUCCESS) return r;
  std::int32_t n = parse_decimal(count_text);
  if (n < 0) return in.refuse(k.count_name, "negative count", RET_FILE_FORMAT);
  std::uint64_t pair = std::uint64_t{k.subheader_width} + k.data_width;
  if (!in.fits(pair * static_cast<std::uint64_t>(n), k.count_name)) return RET_FILE_READ;
  // A bounded re-read that ends inside the table keeps the first values of the rest.
  if (t->count != n || t->subheader_source.size() != static_cast<std::size_t>(n)) {
    if (!t->allocate(static_cast<std::size_t>(n))) return RET_NO_MEMORY;
  }
  t->count = n;
  char field[16];
  for (std::int32_t i = 0; i < n; ++i) {
    if (int r = in.text(field, k.subheader_width, k.subheader_name); r != RET_SUCCESS) return r;
    if (k.subheader_marks && is_all_nines(field, k.subheader_width)) *streaming = true;
    std::int64_t sh = parse_decimal64(field);
    if (sh < 0) return in.refuse(k.subheader_name, "negative length", RET_FILE_FORMAT);
    t->subheader_source[i] = t->subheader_current[i] = static_cast<std::uint64_t>(sh);

    if (int r = in.text(field, k.data_width, k.data_name); r != RET_SUCCESS) return r;
    if (k.data_marks && is_all_nines(field, k.data_width)) *streaming = true;
    std::int64_t len = parse_decimal64(field);
    if (len < 0) return in.refuse(k.data_name, "negative length", RET_FILE_FORMAT);
    t->data_source[i] = t->data_current[i] = static_cast<std::uint64_t>(len);
  }
  return RET_SUCCESS;
}

// Reads every field once. Returns a code, or kBudgetSpent when a bounded read ran out.
int read_fields(NitfFileHeaderData* h, FieldReader& in, bool* streaming) {
  for (const HeaderField& f : kFields) {
    if (int r = in.text(f.text(*h), f.width, f.name); r != RET_SUCCESS) return r;
    if (int r = check_field(*h, in, f.name, streaming); r != RET_SUCCESS) return r;
  }
  if (int r = read_lengths(in, h->numi, kImages, &h->images, streaming); r != RET_SUCCESS) return r;
  if (int r = read_lengths(in, h->nums, kGraphics, &h->graphics, streaming); r != RET_SUCCESS)
    return r;
  if (int r = in.text(h->numx, 3, "NUMX"); r != RET_SUCCESS) return r;
  if (std::strcmp(h->numx, "000") != 0) return in.refuse("NUMX", "must be 000", RET_FILE_FORMAT);
  if (int r = read_lengths(in, h->numt, kTexts, &h->texts, streaming); r != RET_SUCCESS) return r;
  if (int r = read_lengths(in, h->numdes, kDes, &h->des, streaming); r != RET_SUCCESS) return r;
  if (int r = read_lengths(in, h->numres, kRes, &h->res, streaming); r != RET_SUCCESS) return r;
  ExtensionFields user{h->udhdl, h->udhofl, "UDHDL", "UDHOFL", "UDHD"};
  if (int r = read_extension_area(in, user, &h->udhd); r != RET_SUCCESS) return r;
  ExtensionFields extended{h->xhdl, h->xhdlofl, "XHDL", "XHDLOFL", "XHD"};
  return read_extension_area(in, extended, &h->xhd);
}

}  // namespace

bool LengthTables::allocate(std::size_t n) {
  reset();
  return subheader_source.allocate(n) && subheader_current.allocate(n) && data_source.allocate(n) &&
         data_current.allocate(n);
}

void LengthTables::reset() {
  subheader_source.reset();
  subheader_current.reset();
  data_source.reset();
  data_current.reset();
}

NitfFileHeaderData::NitfFileHeaderData() {
  put(fhdr, "NITF");
  put(fver, "02.10");
  put(clevel_text, "03");
  put(stype, "BF01");
  put(ostaid, "");
  put(fdt, "20050101010101");
  fill(ftitle, ' ', 80);
  put(fsclas, "U");
  fill(fsclsy, ' ', 2);
  fill(fscode, ' ', 40);
  fill(fsctlh, ' ', 40);
  fill(fsrel, ' ', 40);
  fill(fsdctp, ' ', 2);
  fill(fsdcdt, ' ', 8);
  fill(fsdcxm, ' ', 4);
  fill(fsdg, ' ', 1);
  fill(fsdgdt, ' ', 8);
  fill(fscltx, ' ', 43);
  fill(fscatp, ' ', 1);
  fill(fscaut, ' ', 40);
  fill(fscrsn, ' ', 1);
  fill(fssrdt, ' ', 8);
  fill(fsctln, ' ', 20);
  fill(oname, ' ', 27);
  fill(ophone, ' ', 18);
  for (char* f : {fscop, fscpys, encryp, fbkgc, fl, hl, numi, nums, numx, numt, numdes, numres,
                  udhdl, udhofl, xhdl, xhdlofl})
    f[0] = '\0';
}

const HeaderField* header_fields(std::size_t* count) {
  *count = kFieldCount;
  return kFields;
}

const HeaderField* find_header_field(std::string_view name) {
  for (const HeaderField& f : kFields) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

int read_file_header(NitfFileHeaderData* header, const HeaderSource& source, ReadMode mode) {
  std::int64_t budget = -1;
  if (mode == ReadMode::kBounded) {
    budget = source.sfh->sfh_l1 - source.streaming->replacement_consumed;
    if (budget < 4) return RET_SUCCESS;
  }
  FieldReader in(source.handle, source.file_size, "file header", budget);
  bool streaming = false;
  int r = read_fields(header, in, &streaming);
  if (mode == ReadMode::kBounded) {
    // What the re-read took is consumed, whether it ran to the end or out of budget;
    // the re-read never starts another one, even when the replacement data itself
    // holds all-nines lengths.
    source.streaming->replacement_consumed += in.taken();
    source.streaming->bytes_to_end -= in.taken();
    return r == kBudgetSpent ? RET_SUCCESS : r;
  }
  if (r != RET_SUCCESS || !streaming) return r;

  if (!source.streaming->located) {
    r = locate_streaming_file_header(source.handle, source.sfh, &source.streaming->bytes_to_end);
    if (r != RET_SUCCESS) return r;
    source.streaming->located = 1;
  }
  std::int64_t at = source.file_size - source.streaming->bytes_to_end;
  if (kernel::seek_file(source.handle, at, kernel::kSeekSet) != at) return RET_FILE_READ;
  return read_file_header(header, source, ReadMode::kBounded);
}

}  // namespace nitf
