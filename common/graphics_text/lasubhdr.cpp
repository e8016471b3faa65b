// The NITF 2.0 label subheader reader and its field table.
#include "graphics_text/lasubhdr.h"

#include <cstdio>
#include <cstring>

#include <kvntfu.h>

#include "core/nitffile.h"

namespace nitf {
namespace {

using Record = NitfLabelSubheader;
using Id = LabelId;

int check_la(Record& r, FieldUse& use) {
  if (!use.reading()) return RET_SUCCESS;
  if (std::strcmp(r.la, "LA") != 0)
    return use.refuse("LA", "not a label subheader", RET_FILE_FORMAT);
  r.read = 1;
  return RET_SUCCESS;
}

int check_lsclas(Record& r, FieldUse& use) {
  return check_classification(r.lsclas, "LSCLAS", use);
}

template <auto Text, auto Value>
int to_number(Record& r, FieldUse&) {
  r.*Value = parse_decimal(r.*Text);
  return RET_SUCCESS;
}

int convert_lloc(Record& r, FieldUse&) {
  r.lloc_row = coordinate_group(r.lloc, 0);
  r.lloc_column = coordinate_group(r.lloc, 1);
  return RET_SUCCESS;
}

// Three binary bytes, red first.
template <auto Text, auto Value>
int to_colour(Record& r, FieldUse&) {
  const auto* c = reinterpret_cast<const unsigned char*>(r.*Text);
  r.*Value = c[0] | (c[1] << 8) | (std::uint32_t{c[2]} << 16);
  return RET_SUCCESS;
}

bool has_lsdevt(const Record& r) {
  return downgrades_on_event(r.lsdwng);
}

constexpr std::uint32_t D = KV_FIELD_DIGITS, L = KV_FIELD_LISTED, Y = KV_FIELD_LAYOUT,
                        C = KV_FIELD_CONDITIONAL;

constexpr LabelField kFields[] = {
    KV_HIDDEN(LA, la, 2, Y).then(check_la),
    KV_HIDDEN(LID, lid, 10, L),
    KV_HIDDEN(LSCLAS, lsclas, 1, 0).then(check_lsclas),
    KV_HIDDEN(LSCODE, lscode, 40, 0),
    KV_HIDDEN(LSCTLH, lsctlh, 40, 0),
    KV_HIDDEN(LSREL, lsrel, 40, 0),
    KV_HIDDEN(LSCAUT, lscaut, 20, 0),
    KV_HIDDEN(LSCTLN, lsctln, 20, 0),
    KV_HIDDEN(LSDWNG, lsdwng, 6, 0),
    KV_HIDDEN(LSDEVT, lsdevt, 40, C).when(has_lsdevt),
    KV_HIDDEN(ENCRYP, encryp, 1, D),
    KV_HIDDEN(LFS, lfs, 1, L),
    KV_HIDDEN(LCW, lcw, 2, D | L).then(to_number<&Record::lcw, &Record::cell_width>),
    KV_HIDDEN(LCH, lch, 2, D | L).then(to_number<&Record::lch, &Record::cell_height>),
    KV_HIDDEN(LDLVL, ldlvl_text, 3, D | L).then(to_number<&Record::ldlvl_text, &Record::ldlvl>),
    KV_HIDDEN(LALVL, lalvl_text, 3, D | L).then(to_number<&Record::lalvl_text, &Record::lalvl>),
    KV_HIDDEN(LLOC, lloc, 10, D | L).then(convert_lloc),
    KV_DESCRIBED(LTC, 3, L, KV_FORM_NONE, -1, -1),
    KV_DESCRIBED(LBC, 3, L, KV_FORM_NONE, -1, -1),
    KV_HIDDEN(LXSHDL, lxshdl, 5, D),
    KV_HIDDEN(LXSOFL, lxsofl, 3, D | C),
    KV_DESCRIBED(LXSHD, 0, L, KV_FORM_NONE, -1, -1),
};
static_assert(ids_are_positions<Record>(kFields));

// LTC and LBC are binary: read as bytes, not through the table's text walk.
int read_colours(Record* r, FieldReader& in) {
  if (int rc = in.bytes(r->ltc, 3, "LTC"); rc != RET_SUCCESS) return rc;
  if (int rc = in.bytes(r->lbc, 3, "LBC"); rc != RET_SUCCESS) return rc;
  FieldUse none;
  to_colour<&Record::ltc, &Record::text_colour>(*r, none);
  return to_colour<&Record::lbc, &Record::background>(*r, none);
}

int read_fields(Record* r, FieldReader& in, std::int64_t end) {
  const std::span<const LabelField> table(kFields);
  FieldUse use{&in, false, r->document->extended != 0};
  if (int rc = read_run(table, Id::LA, Id::LLOC, *r, in, use); rc != RET_SUCCESS) return rc;
  if (int rc = read_colours(r, in); rc != RET_SUCCESS) return rc;
  ExtensionFields extension{r->lxshdl, r->lxsofl, "LXSHDL", "LXSOFL", "LXSHD"};
  if (int rc = read_extension_area(in, extension, &r->lxshd); rc != RET_SUCCESS) return rc;
  if (in.position() > end) return in.refuse("LXSOFL", "runs past the subheader", RET_FILE_READ);
  return RET_SUCCESS;
}

}  // namespace

NitfLabelSubheader::NitfLabelSubheader(NitfDocument* owner, std::uint32_t position)
    : document(owner), index(position) {
  set_defaults(std::span<const LabelField>(kFields), *this);
}

std::span<const LabelField> label_fields() {
  return kFields;
}

int read_lasubhdr(NitfLabelSubheader* r, NitfDocument* d, ReadMode) {
  std::int64_t start = kernel::seek_file(d->file, 0, kernel::kSeekCurrent);
  if (start < 0 || start > d->file_size) return RET_FILE_READ;
  std::int64_t end = end_within(d->file_size, start, d->header.labels.subheader(r->index));
  char context[40];
  std::snprintf(context, sizeof context, "label subheader %u", r->index);
  FieldReader in(d->file, end, context);
  if (int rc = read_fields(r, in, end); rc != RET_SUCCESS) return rc;
  return kernel::seek_file(d->file, start, kernel::kSeekSet) == start ? RET_SUCCESS : RET_FILE_READ;
}

}  // namespace nitf
