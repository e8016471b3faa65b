// The graphic subheader reader, its field table and the defaults of a new record.
#include "graphics_text/grsubhdr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "fields/utility.h"
#include "graphics_text/lasubhdr.h"

namespace nitf {
namespace {

using Record = NitfGraphicSubheader;
using Public = NitfGraphicHeader;
using Id = GraphicId;

bool one_of(char c, const char* allowed) {
  return c != '\0' && std::strchr(allowed, c) != nullptr;
}

int check_sy(Record& r, FieldUse& use) {
  if (!use.reading()) return RET_SUCCESS;
  if (std::strcmp(r.sy, "SY") != 0)
    return use.refuse("SY", "not a graphic subheader", RET_FILE_FORMAT);
  r.read = 1;
  return RET_SUCCESS;
}

int check_ssclas(Record& r, FieldUse& use) {
  return check_classification(r.ssclas, "SSCLAS", use);
}

int check_sfmt(Record& r, FieldUse& use) {
  if (use.reading() && !one_of(r.sfmt[0], "COB"))
    return use.refuse("SFMT", "not one of C, O, B", RET_FILE_FORMAT);
  return RET_SUCCESS;
}

int convert_sdlvl(Record& r, FieldUse&) {
  r.sdlvl = parse_decimal(r.sdlvl_text);
  return RET_SUCCESS;
}

int convert_salvl(Record& r, FieldUse&) {
  r.salvl = parse_decimal(r.salvl_text);
  return RET_SUCCESS;
}

template <auto Text, auto Row, auto Column>
int convert_location(Record& r, FieldUse&) {
  r.*Row = coordinate_group(r.*Text, 0);
  r.*Column = coordinate_group(r.*Text, 1);
  return RET_SUCCESS;
}

// The writer puts the placement the record works from. SCOLOR is written as read (a
// monochrome "M" stays "M"); a graphic built in memory starts as colour CGM.
const char* encode_sdlvl(const Record& r, char* scratch, int width) {
  return number_text(scratch, width, r.sdlvl);
}

const char* encode_salvl(const Record& r, char* scratch, int width) {
  return number_text(scratch, width, r.salvl);
}

constexpr std::uint32_t D = KV_FIELD_DIGITS, S = KV_FIELD_SETTABLE, L = KV_FIELD_LISTED,
                        Y = KV_FIELD_LAYOUT, C = KV_FIELD_CONDITIONAL;
constexpr int kString = KV_FORM_STRING, kChars = KV_FORM_CHARS, kNumber = KV_FORM_NUMBER;

constexpr GraphicField kFields[] = {
    KV_FIELD(SY, sy, 2, S | Y, kString).then(check_sy).starting("SY"),
    KV_FIELD(SID, sid, 10, S | L, kString).starting("ID        "),
    KV_FIELD(SNAME, sname, 20, S | L, kString),
    KV_FIELD(SSCLAS, ssclas, 1, S, kString).then(check_ssclas).starting("U"),
    KV_FIELD(SSCLSY, ssclsy, 2, S, kString),
    KV_FIELD(SSCODE, sscode, 11, S, kString),
    KV_FIELD(SSCTLH, ssctlh, 2, S, kString),
    KV_FIELD(SSREL, ssrel, 20, S, kString),
    KV_FIELD(SSDCTP, ssdctp, 2, S, kString),
    KV_FIELD(SSDCDT, ssdcdt, 8, S, kChars),
    KV_FIELD(SSDCXM, ssdcxm, 4, S, kString),
    KV_FIELD(SSDG, ssdg, 1, S, kString),
    KV_FIELD(SSDGDT, ssdgdt, 8, S, kChars),
    KV_FIELD(SSCLTX, sscltx, 43, S, kString),
    KV_FIELD(SSCATP, sscatp, 1, S, kString),
    KV_FIELD(SSCAUT, sscaut, 40, S, kString),
    KV_FIELD(SSCRSN, sscrsn, 1, S, kString),
    KV_FIELD(SSSRDT, sssrdt, 8, S, kChars),
    KV_FIELD(SSCTLN, ssctln, 15, S, kString),
    KV_FIELD(ENCRYP, encryp, 1, D | S, kNumber),
    KV_FIELD(SFMT, sfmt, 1, S | L | Y, kString).then(check_sfmt).starting("C"),
    KV_FIELD(SSTRUCT, sstruct, 13, D | S, kNumber),
    KV_FIELD(SDLVL, sdlvl_text, 3, D | S | L, kNumber).then(convert_sdlvl).written(encode_sdlvl),
    KV_FIELD(SALVL, salvl_text, 3, D | S | L, kNumber).then(convert_salvl).written(encode_salvl),
    KV_LOCATION(SLOC, sloc, SLOC_ROW, SLOC_COLUMN, S | L)
        .then(convert_location<&Record::sloc, &Record::sloc_row, &Record::sloc_column>),
    KV_LOCATION(SBND1, sbnd1, SBND1_ROW, SBND1_COLUMN, S | L)
        .then(convert_location<&Record::sbnd1, &Record::sbnd1_first, &Record::sbnd1_second>),
    KV_FIELD(SCOLOR, scolor, 1, S, kString).starting("C"),
    KV_LOCATION(SBND2, sbnd2, SBND2_ROW, SBND2_COLUMN, S | L)
        .then(convert_location<&Record::sbnd2, &Record::sbnd2_first, &Record::sbnd2_second>),
    KV_FIELD(SRES2, sres2, 2, D | S, kNumber),
    KV_FIELD(SXSHDL, sxshdl, 5, D | S | kKindSets, kNumber),
    KV_FIELD(SXSOFL, sxsofl, 3, D | S | C | kKindSets, kNumber),
    KV_DESCRIBED(SXSHD, 0, L, KV_FORM_AREA, offsetof(Public, SXSHD), offsetof(Public, SXSHDL)),
};
static_assert(ids_are_positions<Record>(kFields));

// The NITF 2.0 symbol: STYPE where 2.1 has SFMT (C, B or O alike), the 2.0 security
// group, the bitmap and object fields, and SCOLOR as stored.
namespace v20 {
using Id = Symbol20Id;
#define KV_SAME(NAME) ::nitf::as(kFields[static_cast<int>(GraphicId::NAME)], Id::NAME)

bool has_ssdevt(const Record& r) {
  return downgrades_on_event(r.ssdwng);
}

constexpr GraphicField kFields20[] = {
    KV_SAME(SY),
    KV_SAME(SID),
    KV_SAME(SNAME),
    KV_SAME(SSCLAS),
    KV_FIELD(SSCODE, sscode, 40, S, kString),
    KV_FIELD(SSCTLH, ssctlh, 40, S, kString),
    KV_FIELD(SSREL, ssrel, 40, S, kString),
    KV_FIELD(SSCAUT, sscaut, 20, S, kString),
    KV_FIELD(SSCTLN, ssctln, 20, S, kString),
    KV_HIDDEN(SSDWNG, ssdwng, 6, 0),
    KV_HIDDEN(SSDEVT, ssdevt, 40, C).when(has_ssdevt),
    KV_SAME(ENCRYP),
    KV_ENTRY(Id::STYPE, "STYPE", sfmt, 1, S | L | Y, kString, offsetof(Public, SFMT), -1)
        .then(check_sfmt),
    KV_HIDDEN(NLIPS, nlips, 4, D | L | Y),
    KV_HIDDEN(NPIXPL, npixpl, 4, D | L | Y),
    KV_HIDDEN(NWDTH, nwdth, 4, D | L),
    KV_HIDDEN(NBPP, nbpp, 1, D | L | Y),
    KV_SAME(SDLVL),
    KV_SAME(SALVL),
    KV_SAME(SLOC),
    // A location the public record does not hold: its own code reads it.
    KV_ENTRY(Id::SLOC2, "SLOC2", sloc2, 10, D | L | kKindGets, KV_FORM_LOCATION, -1, -1)
        .then(convert_location<&Record::sloc2, &Record::sloc2_row, &Record::sloc2_column>),
    KV_FIELD(SCOLOR, scolor, 1, S | L, kString),
    KV_HIDDEN(SNUM, snum, 6, L),
    KV_HIDDEN(SROT, srot, 3, D | L),
    KV_HIDDEN(NELUT, nelut, 3, D | L | Y),
    KV_DESCRIBED(DLUT, 0, C | Y, KV_FORM_NONE, -1, -1),
    KV_SAME(SXSHDL),
    KV_SAME(SXSOFL),
    KV_SAME(SXSHD),
};
static_assert(ids_are_positions<Record>(kFields20));
#undef KV_SAME

// NELUT entries of three bytes, checked against the subheader before the table is made.
int read_dlut(Record* r, FieldReader& in) {
  const std::int32_t n = parse_decimal(r->nelut);
  if (n < 0) return in.refuse("NELUT", "negative", RET_FILE_FORMAT);
  if (n == 0) return RET_SUCCESS;
  const auto size = static_cast<std::size_t>(n) * 3;
  if (!in.fits(size, "DLUT")) return RET_FILE_READ;
  if (!r->dlut.allocate(size)) return RET_NO_MEMORY;
  return in.bytes(r->dlut.data(), size, "DLUT");
}

int read_fields(Record* r, FieldReader& in, std::int64_t end) {
  const std::span<const GraphicField> table(kFields20);
  FieldUse use{&in, false, r->document->extended != 0};
  if (int rc = read_run(table, Id::SY, Id::NELUT, *r, in, use); rc != RET_SUCCESS) return rc;
  if (int rc = read_dlut(r, in); rc != RET_SUCCESS) return rc;
  ExtensionFields extension{r->sxshdl, r->sxsofl, "SXSHDL", "SXSOFL", "SXSHD"};
  if (int rc = read_extension_area(in, extension, &r->sxshd); rc != RET_SUCCESS) return rc;
  if (in.position() > end) return in.refuse("SXSOFL", "runs past the subheader", RET_FILE_READ);
  return RET_SUCCESS;
}
}  // namespace v20

int read_fields(Record* r, FieldReader& in, std::int64_t end) {
  const std::span<const GraphicField> table(kFields);
  if (!in.fits(static_cast<std::uint64_t>(graphic_subheader_length()), "SY to SXSHDL"))
    return RET_FILE_READ;
  FieldUse use{&in, false, r->document->extended != 0};
  if (int rc = read_run(table, Id::SY, Id::SRES2, *r, in, use); rc != RET_SUCCESS) return rc;
  ExtensionFields extension{r->sxshdl, r->sxsofl, "SXSHDL", "SXSOFL", "SXSHD"};
  if (int rc = read_extension_area(in, extension, &r->sxshd); rc != RET_SUCCESS) return rc;
  if (in.position() > end) return in.refuse("SXSOFL", "runs past the subheader", RET_FILE_READ);
  return RET_SUCCESS;
}

}  // namespace

NitfGraphicSubheader::NitfGraphicSubheader(NitfDocument* owner, std::uint32_t position)
    : document(owner), index(position) {
  set_defaults(std::span<const GraphicField>(kFields), *this);
}

std::span<const GraphicField> graphic_fields() {
  return kFields;
}

std::span<const GraphicField> symbol20_fields() {
  return v20::kFields20;
}

std::span<const GraphicField> graphic_fields(const NitfGraphicSubheader& r) {
  return r.document && r.document->header.nitf20 ? symbol20_fields() : graphic_fields();
}

std::int64_t graphic_subheader_length() {
  return widths(std::span<const GraphicField>(kFields), Id::SY, Id::SXSHDL);
}

// Graphic subheaders carry no length a streaming writer leaves unknown, so they are
// always read from their place in the file: the streaming record and mode go unused.
int read_grsubhdr(NitfGraphicSubheader* r, NitfDocument* d, StreamingFileHeader*, ReadMode) {
  std::int64_t start = kernel::seek_file(d->file, 0, kernel::kSeekCurrent);
  if (start < 0 || start > d->file_size) return RET_FILE_READ;
  std::int64_t end = end_within(d->file_size, start, d->header.graphics.subheader(r->index));
  char context[40];
  std::snprintf(context, sizeof context, "graphic subheader %u", r->index);
  FieldReader in(d->file, end, context);
  const int rc = d->header.nitf20 ? v20::read_fields(r, in, end) : read_fields(r, in, end);
  if (rc != RET_SUCCESS) return rc;
  return kernel::seek_file(d->file, start, kernel::kSeekSet) == start ? RET_SUCCESS : RET_FILE_READ;
}

}  // namespace nitf
