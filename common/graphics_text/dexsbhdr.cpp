// The data extension subheader reader and its field table.
#include "graphics_text/dexsbhdr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "graphics_text/lasubhdr.h"

namespace nitf {
namespace {

using Record = NitfDesSubheader;
using Id = DesId;

int check_de(Record& r, FieldUse& use) {
  if (!use.reading()) return RET_SUCCESS;
  if (std::strcmp(r.de, "DE") != 0)
    return use.refuse("DE", "not a data extension subheader", RET_FILE_FORMAT);
  r.read = 1;
  return RET_SUCCESS;
}

int check_desver(Record& r, FieldUse& use) {
  std::int32_t version = parse_decimal(r.desver);
  if (use.reading() && (version < 0 || version > 99))
    return use.refuse("DESVER", "not 0 to 99", RET_FILE_FORMAT);
  return RET_SUCCESS;
}

int check_desclas(Record& r, FieldUse& use) {
  return check_classification(r.desclas, "DESCLAS", use);
}

bool overflows(const Record& r) {
  return des_has_overflow_fields(r);
}

constexpr std::uint32_t D = KV_FIELD_DIGITS, L = KV_FIELD_LISTED, Y = KV_FIELD_LAYOUT,
                        C = KV_FIELD_CONDITIONAL;

constexpr DesField kFields[] = {
    KV_HIDDEN(DE, de, 2, Y).then(check_de),
    KV_HIDDEN(DESID, desid, 25, L | Y),
    KV_HIDDEN(DESVER, desver, 2, D).then(check_desver),
    KV_HIDDEN(DESCLAS, desclas, 1, 0).then(check_desclas),
    KV_HIDDEN(DESCLSY, desclsy, 2, 0),
    KV_HIDDEN(DESCODE, descode, 11, 0),
    KV_HIDDEN(DESCTLH, desctlh, 2, 0),
    KV_HIDDEN(DESREL, desrel, 20, 0),
    KV_HIDDEN(DESDCTP, desdctp, 2, 0),
    KV_HIDDEN(DESDCDT, desdcdt, 8, 0),
    KV_HIDDEN(DESDCXM, desdcxm, 4, 0),
    KV_HIDDEN(DESDG, desdg, 1, 0),
    KV_HIDDEN(DESDGDT, desdgdt, 8, 0),
    KV_HIDDEN(DESCLTX, descltx, 43, 0),
    KV_HIDDEN(DESCATP, descatp, 1, 0),
    KV_HIDDEN(DESCAUT, descaut, 40, 0),
    KV_HIDDEN(DESCRSN, descrsn, 1, 0),
    KV_HIDDEN(DESSRDT, dessrdt, 8, 0),
    KV_HIDDEN(DESCTLN, desctln, 15, 0),
    KV_HIDDEN(DESOFLW, desoflw, 6, C | Y).when(overflows),
    KV_HIDDEN(DESITEM, desitem, 3, D | C | Y).when(overflows),
    KV_HIDDEN(DESSHL, desshl, 4, D | Y),
    KV_DESCRIBED(DESSHF, 0, 0, KV_FORM_NONE, -1, -1),
};
static_assert(ids_are_positions<Record>(kFields));

namespace v20 {
using Id = Des20Id;
#define KV_SAME(NAME) ::nitf::as(kFields[static_cast<int>(DesId::NAME)], Id::NAME)

bool has_desdevt(const Record& r) {
  return downgrades_on_event(r.desdwng);
}

std::string_view trimmed(const char* text) {
  std::string_view id(text);
  std::size_t last = id.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view() : id.substr(0, last + 1);
}

bool overflows20(const Record& r) {
  const std::string_view tag = trimmed(r.desid);
  return tag == "Registered Extensions" || tag == "Controlled Extensions";
}

constexpr DesField kFields20[] = {
    KV_SAME(DE),
    KV_HIDDEN(DESTAG, desid, 25, L | Y),
    KV_SAME(DESVER),
    KV_SAME(DESCLAS),
    KV_HIDDEN(DESCODE, descode, 40, 0),
    KV_HIDDEN(DESCTLH, desctlh, 40, 0),
    KV_HIDDEN(DESREL, desrel, 40, 0),
    KV_HIDDEN(DESCAUT, descaut, 20, 0),
    KV_HIDDEN(DESCTLN, desctln, 20, 0),
    KV_HIDDEN(DESDWNG, desdwng, 6, 0),
    KV_HIDDEN(DESDEVT, desdevt, 40, C).when(has_desdevt),
    KV_HIDDEN(DESOFLW, desoflw, 6, C | Y).when(overflows20),
    KV_HIDDEN(DESITEM, desitem, 3, D | C | Y).when(overflows20),
    KV_SAME(DESSHL),
    KV_SAME(DESSHF),
};
static_assert(ids_are_positions<Record>(kFields20));
#undef KV_SAME
}  // namespace v20

const DesField& entry(Id id) {
  return field(std::span<const DesField>(kFields), id);
}

// DESSHL and the user-defined fields it counts, checked against the subheader before
// the buffer is made.
int read_user_fields(NitfDesSubheader* r, FieldReader& in) {
  const DesField& length = entry(Id::DESSHL);
  if (!in.fits(length.width, "DESSHL")) return RET_FILE_READ;
  if (int rc = in.text(r->desshl, length.width, "DESSHL"); rc != RET_SUCCESS) return rc;
  std::int32_t n = parse_decimal(r->desshl);
  if (n < 0) return in.refuse("DESSHL", "negative length", RET_FILE_FORMAT);
  if (n == 0) return RET_SUCCESS;
  auto size = static_cast<std::size_t>(n);
  if (!in.fits(size, "DESSHF")) return RET_FILE_READ;
  if (!r->desshf.allocate(size + 1)) return RET_NO_MEMORY;
  if (int rc = in.bytes(r->desshf.data(), size, "DESSHF"); rc != RET_SUCCESS) {
    r->desshf.reset();
    return rc;
  }
  r->desshf[size] = '\0';
  return RET_SUCCESS;
}

// DE to DESITEM of the record's layout, then DESSHL and the user-defined fields.
int read_fields(NitfDesSubheader* r, FieldReader& in) {
  const std::span<const DesField> table = des_fields(*r);
  const bool nitf20 = r->document->header.nitf20 != 0;
  const std::size_t security_end =
      nitf20 ? std::size_t(v20::Id::DESDWNG) : std::size_t(Id::DESCTLN);
  const std::size_t last = nitf20 ? std::size_t(v20::Id::DESITEM) : std::size_t(Id::DESITEM);
  if (!in.fits(static_cast<std::uint64_t>(run_length(table, std::size_t{0}, security_end, *r)),
               "DE to the security fields"))
    return RET_FILE_READ;
  FieldUse use{&in, false, r->document->extended != 0};
  if (int rc = read_run(table, std::size_t{0}, last, *r, in, use); rc != RET_SUCCESS) return rc;
  return read_user_fields(r, in);
}

}  // namespace

std::span<const DesField> des_fields() {
  return kFields;
}

std::span<const DesField> des20_fields() {
  return v20::kFields20;
}

std::span<const DesField> des_fields(const NitfDesSubheader& r) {
  return r.document && r.document->header.nitf20 ? des20_fields() : des_fields();
}

bool des_has_overflow_fields(const NitfDesSubheader& r) {
  std::string_view id(r.desid);
  std::size_t last = id.find_last_not_of(' ');
  id = last == std::string_view::npos ? std::string_view() : id.substr(0, last + 1);
  return id == "TRE_OVERFLOW";
}

// Data extension subheaders carry no length a streaming writer leaves unknown (the
// streaming file header itself is one of them): the streaming record and mode go
// unused.
int read_dexsbhdr(NitfDesSubheader* r, NitfDocument* d, StreamingFileHeader*, ReadMode) {
  std::int64_t start = kernel::seek_file(d->file, 0, kernel::kSeekCurrent);
  if (start < 0 || start > d->file_size) return RET_FILE_READ;
  char context[48];
  std::snprintf(context, sizeof context, "data extension subheader %u", r->index);
  FieldReader in(d->file, end_within(d->file_size, start, d->header.des.subheader(r->index)),
                 context);
  if (int rc = read_fields(r, in); rc != RET_SUCCESS) return rc;
  return kernel::seek_file(d->file, start, kernel::kSeekSet) == start ? RET_SUCCESS : RET_FILE_READ;
}

}  // namespace nitf
