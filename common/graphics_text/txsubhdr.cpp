// The text subheader reader, its field table, the defaults of a new record, and the
// text segment export.
//
// Kv_NITFGetTextSegment lives here rather than with the header records' exports: it is
// the text unit's own data access, and the writer copies unchanged text through the
// same length rule (text_data_length) when it saves a document.
#include "graphics_text/txsubhdr.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/records.h"
#include "fields/utility.h"
#include "graphics_text/lasubhdr.h"

namespace nitf {
namespace {

using Record = NitfTextSubheader;
using Public = NitfTextHeader;
using Id = TextId;

// TSCLAS and TXTFMT are kept as read: producers write values outside the standard's
// lists, and nothing in the module depends on them.
int check_te(Record& r, FieldUse& use) {
  if (!use.reading()) return RET_SUCCESS;
  if (std::strcmp(r.te, "TE") != 0)
    return use.refuse("TE", "not a text subheader", RET_FILE_FORMAT);
  r.read = 1;
  return RET_SUCCESS;
}

int convert_txtalvl(Record& r, FieldUse&) {
  r.txtalvl = parse_decimal(r.txtalvl_text);
  return RET_SUCCESS;
}

const char* encode_txtalvl(const Record& r, char* scratch, int width) {
  return number_text(scratch, width, r.txtalvl);
}

constexpr std::uint32_t D = KV_FIELD_DIGITS, S = KV_FIELD_SETTABLE, L = KV_FIELD_LISTED,
                        Y = KV_FIELD_LAYOUT, C = KV_FIELD_CONDITIONAL;
constexpr int kString = KV_FORM_STRING, kChars = KV_FORM_CHARS, kNumber = KV_FORM_NUMBER;

constexpr TextField kFields[] = {
    KV_FIELD(TE, te, 2, S | Y, kString).then(check_te).starting("TE"),
    KV_FIELD(TEXTID, textid, 7, S | L, kString).starting("ID     "),
    KV_FIELD(TXTALVL, txtalvl_text, 3, D | S, kNumber)
        .then(convert_txtalvl)
        .written(encode_txtalvl),
    KV_FIELD(TXTDT, txtdt, 14, D | S, kChars).starting("              "),
    KV_FIELD(TXTITL, txtitl, 80, S | L, kString),
    KV_FIELD(TSCLAS, tsclas, 1, S, kString).starting("U"),
    KV_FIELD(TSCLSY, tsclsy, 2, S, kString),
    KV_FIELD(TSCODE, tscode, 11, S, kString),
    KV_FIELD(TSCTLH, tsctlh, 2, S, kString),
    KV_FIELD(TSREL, tsrel, 20, S, kString),
    KV_FIELD(TSDCTP, tsdctp, 2, S, kString),
    KV_FIELD(TSDCDT, tsdcdt, 8, S, kChars),
    KV_FIELD(TSDCXM, tsdcxm, 4, S, kString),
    KV_FIELD(TSDG, tsdg, 1, S, kString),
    KV_FIELD(TSDGDT, tsdgdt, 8, S, kChars),
    KV_FIELD(TSCLTX, tscltx, 43, S, kString),
    KV_FIELD(TSCATP, tscatp, 1, S, kString),
    KV_FIELD(TSCAUT, tscaut, 40, S, kString),
    KV_FIELD(TSCRSN, tscrsn, 1, S, kString),
    KV_FIELD(TSSRDT, tssrdt, 8, S, kChars),
    KV_FIELD(TSCTLN, tsctln, 15, S, kString),
    KV_FIELD(ENCRYP, encryp, 1, D | S, kNumber),
    KV_FIELD(TXTFMT, txtfmt, 3, S | L, kString).starting("STA"),
    KV_FIELD(TXSHDL, txshdl, 5, D | S | kKindSets, kNumber),
    KV_FIELD(TXSOFL, txsofl, 3, D | S | C | kKindSets, kNumber),
    KV_DESCRIBED(TXSHD, 0, L, KV_FORM_AREA, offsetof(Public, TXSHD), offsetof(Public, TXSHDL)),
};
static_assert(ids_are_positions<Record>(kFields));

namespace v20 {
using Id = Text20Id;
#define KV_SAME(NAME) ::nitf::as(kFields[static_cast<int>(TextId::NAME)], Id::NAME)

bool has_tsdevt(const Record& r) {
  return downgrades_on_event(r.tsdwng);
}

constexpr TextField kFields20[] = {
    KV_SAME(TE),
    KV_FIELD(TEXTID, textid, 10, S | L, kString),
    KV_FIELD(TXTDT, txtdt, 14, S, kChars),
    KV_SAME(TXTITL),
    KV_SAME(TSCLAS),
    KV_FIELD(TSCODE, tscode, 40, S, kString),
    KV_FIELD(TSCTLH, tsctlh, 40, S, kString),
    KV_FIELD(TSREL, tsrel, 40, S, kString),
    KV_FIELD(TSCAUT, tscaut, 20, S, kString),
    KV_FIELD(TSCTLN, tsctln, 20, S, kString),
    KV_HIDDEN(TSDWNG, tsdwng, 6, 0),
    KV_HIDDEN(TSDEVT, tsdevt, 40, C).when(has_tsdevt),
    KV_SAME(ENCRYP),
    KV_SAME(TXTFMT),
    KV_SAME(TXSHDL),
    KV_SAME(TXSOFL),
    KV_SAME(TXSHD),
};
static_assert(ids_are_positions<Record>(kFields20));
#undef KV_SAME
}  // namespace v20

// TE to TXTFMT of the record's layout, then the extension area.
int read_fields(NitfTextSubheader* r, FieldReader& in, std::int64_t end) {
  const std::span<const TextField> table = text_fields(*r);
  const std::size_t last =
      r->document->header.nitf20 ? std::size_t(v20::Id::TXTFMT) : std::size_t(Id::TXTFMT);
  if (!in.fits(static_cast<std::uint64_t>(run_length(table, std::size_t{0}, last + 1, *r)),
               "TE to TXSHDL"))
    return RET_FILE_READ;
  FieldUse use{&in, false, r->document->extended != 0};
  if (int rc = read_run(table, std::size_t{0}, last, *r, in, use); rc != RET_SUCCESS) return rc;
  ExtensionFields extension{r->txshdl, r->txsofl, "TXSHDL", "TXSOFL", "TXSHD"};
  if (int rc = read_extension_area(in, extension, &r->txshd); rc != RET_SUCCESS) return rc;
  if (in.position() > end) return in.refuse("TXSOFL", "runs past the subheader", RET_FILE_READ);
  return RET_SUCCESS;
}

int report_short_text(std::uint32_t index, std::int64_t at, std::uint64_t length,
                      std::int64_t file_size) {
  char line[160];
  std::snprintf(line, sizeof line,
                "text segment %u: %" PRIu64 " bytes at offset %" PRId64
                " claimed, the file holds %" PRId64 "\n",
                index, length, at, file_size);
  kernel::debug_output(line);
  return RET_FILE_READ;
}

}  // namespace

NitfTextSubheader::NitfTextSubheader(NitfDocument* owner, std::uint32_t position)
    : document(owner), index(position) {
  set_defaults(std::span<const TextField>(kFields), *this);
}

std::span<const TextField> text_fields() {
  return kFields;
}

std::span<const TextField> text20_fields() {
  return v20::kFields20;
}

std::span<const TextField> text_fields(const NitfTextSubheader& r) {
  return r.document && r.document->header.nitf20 ? text20_fields() : text_fields();
}

std::int64_t text_subheader_length() {
  return widths(std::span<const TextField>(kFields), Id::TE, Id::TXSHDL);
}

// Text subheaders carry no length a streaming writer leaves unknown: the streaming
// record and mode go unused.
int read_txsubhdr(NitfTextSubheader* r, NitfDocument* d, StreamingFileHeader*, ReadMode) {
  std::int64_t start = kernel::seek_file(d->file, 0, kernel::kSeekCurrent);
  if (start < 0 || start > d->file_size) return RET_FILE_READ;
  std::int64_t end = end_within(d->file_size, start, d->header.texts.subheader(r->index));
  char context[40];
  std::snprintf(context, sizeof context, "text subheader %u", r->index);
  FieldReader in(d->file, end, context);
  if (int rc = read_fields(r, in, end); rc != RET_SUCCESS) return rc;
  return kernel::seek_file(d->file, start, kernel::kSeekSet) == start ? RET_SUCCESS : RET_FILE_READ;
}

std::uint64_t text_data_length(const NitfDocument& d, std::uint32_t index) {
  if (index >= d.text_count || index >= d.texts.size() || !d.texts[index]) return 0;
  const LengthTables& t = d.header.texts;
  if (t.count < 0 || index >= static_cast<std::uint32_t>(t.count)) return 0;
  return t.data(index);
}

int read_text_segment(NitfDocument* d, std::uint32_t index, char* buffer) {
  const NitfTextSubheader* r = index < d->texts.size() ? d->texts[index].get() : nullptr;
  if (!r) return RET_FAILURE;
  if (r->has_memory_text) {
    // Every byte of the appended file, zero bytes included; the NUL after them is ours.
    const kernel::Buffer<char>& text = r->memory_text;
    std::size_t n = text.empty() ? 0 : text.size() - 1;
    if (n) std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return RET_SUCCESS;
  }
  std::uint64_t n = text_data_length(*d, index);
  std::int64_t at = segment_data_offset(*d, SegmentKind::kText, index);
  if (at < 0 || at > d->file_size || n > static_cast<std::uint64_t>(d->file_size - at))
    return report_short_text(index, at, n, d->file_size);
  if (kernel::seek_file(d->file, at, kernel::kSeekSet) != at) return RET_FILE_READ;
  if (kernel::read_file(d->file, buffer, n) != n)
    return report_short_text(index, at, n, d->file_size);
  buffer[n] = '\0';
  return RET_SUCCESS;
}

}  // namespace nitf

KV_API int32_t KV_CALL Kv_NITFGetTextSegment(NitfDocument* d, int32_t index, char* buffer,
                                             uint32_t* length) {
  if (!d) return RET_INVALID_DOCUMENT;
  if (index < 0 || static_cast<std::uint32_t>(index) >= d->text_count) return RET_BAD_ARGUMENT;
  auto i = static_cast<std::uint32_t>(index);
  if (length) *length = nitf::saturate_length(nitf::text_data_length(*d, i));
  if (!buffer) return RET_SUCCESS;
  return nitf::read_text_segment(d, i, buffer);
}
