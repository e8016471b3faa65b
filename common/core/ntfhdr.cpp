// The file header reader, its field table and the defaults of a new header.
#include "core/ntfhdr.h"

#include <cstring>

#include <kvntfu.h>

namespace nitf {
namespace {

using Record = NitfFileHeaderData;
using Public = NitfHeader;
using Id = HeaderId;

int check_fhdr(Record& h, FieldUse& use) {
  if (!use.reading()) return RET_SUCCESS;
  if (std::strcmp(h.fhdr, "NITF") != 0 && std::strcmp(h.fhdr, "NSIF") != 0)
    return use.refuse("FHDR", "neither NITF nor NSIF", RET_FILE_FORMAT);
  h.valid = 1;
  return RET_SUCCESS;
}

// NSIF 1.0 is NITF 2.1 under another name: its files carry FHDR NSIF, FVER 01.00 and
// the 2.1 layout, and are read and saved as they are.
// NITF 2.0 is read only when the document reads extended; its fields then follow the
// 2.0 table from CLEVEL on.
int check_fver(Record& h, FieldUse& use) {
  if (!use.reading() || std::strcmp(h.fver, "02.10") == 0) return RET_SUCCESS;
  if (std::strcmp(h.fhdr, "NSIF") == 0 && std::strcmp(h.fver, "01.00") == 0) return RET_SUCCESS;
  if (use.extended && std::strcmp(h.fhdr, "NITF") == 0 && std::strcmp(h.fver, "02.00") == 0) {
    h.nitf20 = 1;
    return RET_SUCCESS;
  }
  return use.refuse("FVER", "only version 02.10 (NSIF 01.00) is read", RET_UNSUPPORTED_VERSION);
}

// Extended reading takes every level from 01 to 09 and keeps it; the level bounds
// nothing the module reads, since every length is checked against the file anyway.
int check_clevel(Record& h, FieldUse& use) {
  if (!use.reading()) return RET_SUCCESS;
  const std::int32_t level = parse_decimal(h.clevel_text);
  const bool digits = h.clevel_text[0] >= '0' && h.clevel_text[0] <= '9' &&
                      h.clevel_text[1] >= '0' && h.clevel_text[1] <= '9';
  if (use.extended && digits && level >= 1 && level <= 9) {
    h.clevel = level;
    return RET_SUCCESS;
  }
  if (std::strcmp(h.clevel_text, "03") != 0) {
    use.refuse(
        "CLEVEL",
        use.extended ? "not a complexity level from 01 to 09" : "only complexity level 03 is read",
        0);
    kernel::message_box("Unsupported CLEVEL", "Error");
    return RET_UNSUPPORTED_CLEVEL;
  }
  h.clevel = 3;
  return RET_SUCCESS;
}

int check_fsclas(Record& h, FieldUse& use) {
  return check_classification(h.fsclas, "FSCLAS", use);
}

// FBKGC is three binary bytes, red first.
int convert_fbkgc(Record& h, FieldUse&) {
  auto* c = reinterpret_cast<const unsigned char*>(h.fbkgc);
  h.background = c[0] | (c[1] << 8) | (std::uint32_t{c[2]} << 16);
  return RET_SUCCESS;
}

int convert_fl(Record& h, FieldUse& use) {
  if (is_all_nines(h.fl, 12)) use.marker = true;
  h.fl_source = h.fl_current = parse_decimal64(h.fl);
  return RET_SUCCESS;
}

int convert_hl(Record& h, FieldUse& use) {
  h.hl_source = h.hl_current = parse_decimal(h.hl);
  return h.hl_source < 0 ? use.refuse("HL", "negative", RET_FILE_FORMAT) : RET_SUCCESS;
}

int check_numx(Record& h, FieldUse& use) {
  if (use.reading() && std::strcmp(h.numx, "000") != 0)
    return use.refuse("NUMX", "must be 000", RET_FILE_FORMAT);
  return RET_SUCCESS;
}

constexpr std::uint32_t D = KV_FIELD_DIGITS, S = KV_FIELD_SETTABLE, L = KV_FIELD_LISTED,
                        Y = KV_FIELD_LAYOUT, C = KV_FIELD_CONDITIONAL, N = KV_FIELD_REPEATED;

#define KV_TABLE(NAME, width, count)                                              \
  KV_DESCRIBED(NAME, width, D | L | Y | N, KV_FORM_TABLE, offsetof(Public, NAME), \
               offsetof(Public, count))
#define KV_AREA(NAME, length) \
  KV_DESCRIBED(NAME, 0, L, KV_FORM_AREA, offsetof(Public, NAME), offsetof(Public, length))

constexpr HeaderField kFields[] = {
    KV_FIELD(FHDR, fhdr, 4, S | L, KV_FORM_STRING).then(check_fhdr).starting("NITF"),
    KV_FIELD(FVER, fver, 5, S | L | kByKind, KV_FORM_VERSION).then(check_fver).starting("02.10"),
    KV_FIELD(CLEVEL, clevel_text, 2, D | S | L | kKindSets, KV_FORM_NUMBER)
        .then(check_clevel)
        .starting("03"),
    KV_FIELD(STYPE, stype, 4, S | L, KV_FORM_STRING).starting("BF01"),
    KV_FIELD(OSTAID, ostaid, 10, S | L, KV_FORM_STRING).starting(""),
    KV_FIELD(FDT, fdt, 14, D | S | L, KV_FORM_CHARS).starting("20050101010101"),
    KV_FIELD(FTITLE, ftitle, 80, S | L, KV_FORM_STRING),
    KV_FIELD(FSCLAS, fsclas, 1, S | L, KV_FORM_STRING).then(check_fsclas).starting("U"),
    KV_FIELD(FSCLSY, fsclsy, 2, S, KV_FORM_STRING),
    KV_FIELD(FSCODE, fscode, 11, S, KV_FORM_STRING),
    KV_FIELD(FSCTLH, fsctlh, 2, S, KV_FORM_STRING),
    KV_FIELD(FSREL, fsrel, 20, S, KV_FORM_STRING),
    KV_FIELD(FSDCTP, fsdctp, 2, S, KV_FORM_STRING),
    KV_FIELD(FSDCDT, fsdcdt, 8, S, KV_FORM_CHARS),
    KV_FIELD(FSDCXM, fsdcxm, 4, S, KV_FORM_STRING),
    KV_FIELD(FSDG, fsdg, 1, S, KV_FORM_STRING),
    KV_FIELD(FSDGDT, fsdgdt, 8, S, KV_FORM_CHARS),
    KV_FIELD(FSCLTX, fscltx, 43, S, KV_FORM_STRING),
    KV_FIELD(FSCATP, fscatp, 1, S, KV_FORM_STRING),
    KV_FIELD(FSCAUT, fscaut, 40, S, KV_FORM_STRING),
    KV_FIELD(FSCRSN, fscrsn, 1, S, KV_FORM_STRING),
    KV_FIELD(FSSRDT, fssrdt, 8, S, KV_FORM_CHARS),
    KV_FIELD(FSCTLN, fsctln, 15, S, KV_FORM_STRING),
    KV_FIELD(FSCOP, fscop, 5, D | S, KV_FORM_NUMBER),
    KV_FIELD(FSCPYS, fscpys, 5, D | S, KV_FORM_NUMBER),
    KV_FIELD(ENCRYP, encryp, 1, D | S, KV_FORM_NUMBER),
    KV_FIELD(FBKGC, fbkgc, 3, S | L | kByKind, KV_FORM_COLOUR).then(convert_fbkgc).starting(""),
    KV_FIELD(ONAME, oname, 24, S | L, KV_FORM_STRING),
    KV_FIELD(OPHONE, ophone, 18, S | L, KV_FORM_STRING),
    KV_FIELD(FL, fl, 12, D | L, KV_FORM_NUMBER).then(convert_fl),
    KV_FIELD(HL, hl, 6, D | L, KV_FORM_NUMBER).then(convert_hl),
    KV_FIELD(NUMI, numi, 3, D | L | Y, KV_FORM_NUMBER),
    KV_TABLE(LISH, 6, NUMI),
    KV_TABLE(LI, 10, NUMI),
    KV_FIELD(NUMS, nums, 3, D | L | Y, KV_FORM_NUMBER),
    KV_TABLE(LSSH, 4, NUMS),
    KV_TABLE(LS, 6, NUMS),
    KV_FIELD(NUMX, numx, 3, D | L | Y, KV_FORM_NUMBER).then(check_numx),
    KV_FIELD(NUMT, numt, 3, D | L | Y, KV_FORM_NUMBER),
    KV_TABLE(LTSH, 4, NUMT),
    KV_TABLE(LT, 5, NUMT),
    KV_FIELD(NUMDES, numdes, 3, D | L | Y, KV_FORM_NUMBER),
    KV_TABLE(LDSH, 4, NUMDES),
    KV_TABLE(LD, 9, NUMDES),
    KV_FIELD(NUMRES, numres, 3, D | L | Y, KV_FORM_NUMBER),
    KV_TABLE(LRESH, 4, NUMRES),
    KV_TABLE(LRE, 7, NUMRES),
    KV_FIELD(UDHDL, udhdl, 5, D | S | L | kKindSets, KV_FORM_NUMBER),
    KV_FIELD(UDHOFL, udhofl, 3, D | S | C | kKindSets, KV_FORM_NUMBER),
    KV_AREA(UDHD, UDHDL),
    KV_FIELD(XHDL, xhdl, 5, D | S | L | kKindSets, KV_FORM_NUMBER),
    KV_FIELD(XHDLOFL, xhdlofl, 3, D | S | C | kKindSets, KV_FORM_NUMBER),
    KV_AREA(XHD, XHDL),
};
static_assert(ids_are_positions<Record>(kFields));

// The NITF 2.0 header: most entries are the 2.1 ones; the security group, FDT
// (DDHHMMSSZMONYY), ONAME and the labels' count and lengths are its own.
namespace v20 {
using Id = Header20Id;
#define KV_SAME(NAME) ::nitf::as(kFields[static_cast<int>(HeaderId::NAME)], Id::NAME)

bool has_fsdevt(const Record& h) {
  return std::strcmp(h.fsdwng, "999998") == 0;
}

constexpr HeaderField kFields20[] = {
    KV_SAME(FHDR),
    KV_SAME(FVER),
    KV_SAME(CLEVEL),
    KV_SAME(STYPE),
    KV_SAME(OSTAID),
    KV_FIELD(FDT, fdt, 14, S | L, KV_FORM_CHARS),
    KV_SAME(FTITLE),
    KV_SAME(FSCLAS),
    KV_FIELD(FSCODE, fscode, 40, S, KV_FORM_STRING),
    KV_FIELD(FSCTLH, fsctlh, 40, S, KV_FORM_STRING),
    KV_FIELD(FSREL, fsrel, 40, S, KV_FORM_STRING),
    KV_FIELD(FSCAUT, fscaut, 20, S, KV_FORM_STRING),
    KV_FIELD(FSCTLN, fsctln, 20, S, KV_FORM_STRING),
    KV_HIDDEN(FSDWNG, fsdwng, 6, 0),
    KV_HIDDEN(FSDEVT, fsdevt, 40, C).when(has_fsdevt),
    KV_SAME(FSCOP),
    KV_SAME(FSCPYS),
    KV_SAME(ENCRYP),
    KV_FIELD(ONAME, oname, 27, S | L, KV_FORM_STRING),
    KV_SAME(OPHONE),
    KV_SAME(FL),
    KV_SAME(HL),
    KV_SAME(NUMI),
    KV_SAME(LISH),
    KV_SAME(LI),
    KV_SAME(NUMS),
    KV_SAME(LSSH),
    KV_SAME(LS),
    KV_HIDDEN(NUML, numl, 3, D | L | Y),
    KV_DESCRIBED(LLSH, 4, D | L | Y | N, KV_FORM_NONE, -1, -1),
    KV_DESCRIBED(LL, 3, D | L | Y | N, KV_FORM_NONE, -1, -1),
    KV_SAME(NUMT),
    KV_SAME(LTSH),
    KV_SAME(LT),
    KV_SAME(NUMDES),
    KV_SAME(LDSH),
    KV_SAME(LD),
    KV_SAME(NUMRES),
    KV_SAME(LRESH),
    KV_SAME(LRE),
    KV_SAME(UDHDL),
    KV_SAME(UDHOFL),
    KV_SAME(UDHD),
    KV_SAME(XHDL),
    KV_SAME(XHDLOFL),
    KV_SAME(XHD),
};
static_assert(ids_are_positions<Record>(kFields20));
#undef KV_SAME

// NITF 2.0 knows no streaming file header: no length marks anything.
constexpr LengthGroup20 kLengthGroups20[] = {
    {Id::NUMI, Id::LISH, Id::LI, false, false, &Record::images},
    {Id::NUMS, Id::LSSH, Id::LS, false, false, &Record::graphics},
    {Id::NUML, Id::LLSH, Id::LL, false, false, &Record::labels},
    {Id::NUMT, Id::LTSH, Id::LT, false, false, &Record::texts},
    {Id::NUMDES, Id::LDSH, Id::LD, false, false, &Record::des},
    {Id::NUMRES, Id::LRESH, Id::LRE, false, false, &Record::res},
};
}  // namespace v20
#undef KV_TABLE
#undef KV_AREA

constexpr LengthGroup kLengthGroups[] = {
    {Id::NUMI, Id::LISH, Id::LI, true, true, &Record::images},
    {Id::NUMS, Id::LSSH, Id::LS, true, false, &Record::graphics},
    {Id::NUMT, Id::LTSH, Id::LT, true, false, &Record::texts},
    {Id::NUMDES, Id::LDSH, Id::LD, true, true, &Record::des},
    {Id::NUMRES, Id::LRESH, Id::LRE, false, false, &Record::res},
};

constexpr HeaderArea kAreas[] = {
    {Id::UDHDL, Id::UDHOFL, Id::UDHD, &Record::udhd},
    {Id::XHDL, Id::XHDLOFL, Id::XHD, &Record::xhd},
};

const HeaderField& entry(Id id) {
  return field(std::span<const HeaderField>(kFields), id);
}

// One entry of a length table; `marks` when all nines means "written unknown".
int read_length(FieldReader& in, const HeaderField& f, bool marks, std::int64_t* value,
                FieldUse& use) {
  char text[16];
  if (int r = in.text(text, f.width, f.name); r != RET_SUCCESS) return r;
  if (marks && is_all_nines(text, f.width)) use.marker = true;
  *value = parse_decimal64(text);
  return *value < 0 ? in.refuse(f.name, "negative length", RET_FILE_FORMAT) : RET_SUCCESS;
}

// Reads a count and its pairs of lengths.
template <class Id>
int read_lengths(FieldReader& in, Record& h, std::span<const HeaderField> table,
                 const LengthGroupOf<Id>& g, FieldUse& use) {
  const HeaderField &count = field(table, g.count), &sub = field(table, g.subheader),
                    &data = field(table, g.data);
  char* count_text = count.text(h);
  if (int r = in.text(count_text, count.width, count.name); r != RET_SUCCESS) return r;
  std::int32_t n = parse_decimal(count_text);
  if (n < 0) return in.refuse(count.name, "negative count", RET_FILE_FORMAT);
  std::uint64_t pair = std::uint64_t{sub.width} + data.width;
  if (!in.fits(pair * static_cast<std::uint64_t>(n), count.name)) return RET_FILE_READ;
  LengthTables& t = h.*g.tables;
  // A bounded re-read that ends inside the table keeps the first values of the rest.
  if (t.count != n || t.subheader_source.size() != static_cast<std::size_t>(n)) {
    if (!t.allocate(static_cast<std::size_t>(n))) return RET_NO_MEMORY;
  }
  t.count = n;
  for (std::int32_t i = 0; i < n; ++i) {
    std::int64_t sh = 0, len = 0;
    if (int r = read_length(in, sub, g.subheader_marks, &sh, use); r != RET_SUCCESS) return r;
    t.subheader_source[i] = t.subheader_current[i] = static_cast<std::uint64_t>(sh);
    if (int r = read_length(in, data, g.data_marks, &len, use); r != RET_SUCCESS) return r;
    t.data_source[i] = t.data_current[i] = static_cast<std::uint64_t>(len);
  }
  return RET_SUCCESS;
}

int read_area(FieldReader& in, Record& h, const HeaderArea& a) {
  const HeaderField &length = entry(a.length), &overflow = entry(a.overflow);
  ExtensionFields fields{length.text(h), overflow.text(h), length.name, overflow.name,
                         entry(a.area).name};
  return read_extension_area(in, fields, &(h.*a.tres));
}

// The rest of a NITF 2.0 header, from CLEVEL on.
int read_fields20(Record* h, FieldReader& in, FieldUse& use) {
  const std::span<const HeaderField> table(v20::kFields20);
  using v20::Id;
  if (int r = read_run(table, Id::CLEVEL, Id::HL, *h, in, use); r != RET_SUCCESS) return r;
  for (const LengthGroup20& g : v20::kLengthGroups20)
    if (int r = read_lengths(in, *h, table, g, use); r != RET_SUCCESS) return r;
  use.marker = false;
  for (const HeaderArea& a : kAreas)
    if (int r = read_area(in, *h, a); r != RET_SUCCESS) return r;
  return RET_SUCCESS;
}

// Reads every field once. Returns a code, or kBudgetSpent when a bounded read ran out.
int read_fields(Record* h, FieldReader& in, FieldUse& use) {
  const std::span<const HeaderField> table(kFields);
  if (int r = read_run(table, Id::FHDR, Id::FVER, *h, in, use); r != RET_SUCCESS) return r;
  if (h->nitf20) return read_fields20(h, in, use);
  if (int r = read_run(table, Id::CLEVEL, Id::HL, *h, in, use); r != RET_SUCCESS) return r;
  for (const LengthGroup& g : kLengthGroups) {
    if (int r = read_lengths(in, *h, table, g, use); r != RET_SUCCESS) return r;
    // NUMX sits between the graphics' and the texts' lengths.
    if (g.count == Id::NUMS) {
      if (int r = read_field(entry(Id::NUMX), *h, in, use); r != RET_SUCCESS) return r;
    }
  }
  for (const HeaderArea& a : kAreas)
    if (int r = read_area(in, *h, a); r != RET_SUCCESS) return r;
  return RET_SUCCESS;
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
  set_defaults(std::span<const HeaderField>(kFields), *this);
}

std::span<const HeaderField> header_fields() {
  return kFields;
}

std::span<const HeaderField> header20_fields() {
  return v20::kFields20;
}

std::span<const HeaderField> header_fields(const NitfFileHeaderData& h) {
  return h.nitf20 ? header20_fields() : header_fields();
}

std::span<const LengthGroup> length_groups() {
  return kLengthGroups;
}

std::span<const LengthGroup20> length_groups20() {
  return v20::kLengthGroups20;
}

const LengthGroup* length_group_counted_by(HeaderId id) {
  for (const LengthGroup& g : kLengthGroups)
    if (g.count == id) return &g;
  return nullptr;
}

std::span<const HeaderArea> header_areas() {
  return kAreas;
}

int read_file_header(NitfFileHeaderData* header, const HeaderSource& source, ReadMode mode) {
  std::int64_t budget = -1;
  if (mode == ReadMode::kBounded) {
    budget = source.sfh->sfh_l1 - source.streaming->replacement_consumed;
    if (budget < 4) return RET_SUCCESS;
  }
  FieldReader in(source.handle, source.file_size, "file header", budget);
  FieldUse use{&in};
  use.extended = source.extended;
  int r = read_fields(header, in, use);
  const bool streaming = use.marker;
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
