// The reserved extension subheader reader and its field tables.
#include "graphics_text/resubhdr.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "graphics_text/lasubhdr.h"

namespace nitf {
namespace {

using Record = NitfResSubheader;
using Id = ResId;

int check_re(Record& r, FieldUse& use) {
  if (!use.reading()) return RET_SUCCESS;
  if (std::strcmp(r.re, "RE") != 0)
    return use.refuse("RE", "not a reserved extension subheader", RET_FILE_FORMAT);
  r.read = 1;
  return RET_SUCCESS;
}

int check_resver(Record& r, FieldUse& use) {
  const std::int32_t version = parse_decimal(r.resver);
  if (use.reading() && (version < 0 || version > 99))
    return use.refuse("RESVER", "not 0 to 99", RET_FILE_FORMAT);
  return RET_SUCCESS;
}

int check_resclas(Record& r, FieldUse& use) {
  return check_classification(r.resclas, "RESCLAS", use);
}

constexpr std::uint32_t D = KV_FIELD_DIGITS, L = KV_FIELD_LISTED, Y = KV_FIELD_LAYOUT,
                        C = KV_FIELD_CONDITIONAL;

constexpr ResField kFields[] = {
    KV_HIDDEN(RE, re, 2, Y).then(check_re),
    KV_HIDDEN(RESID, resid, 25, L | Y),
    KV_HIDDEN(RESVER, resver, 2, D | L).then(check_resver),
    KV_HIDDEN(RESCLAS, resclas, 1, L).then(check_resclas),
    KV_HIDDEN(RESCLSY, resclsy, 2, 0),
    KV_HIDDEN(RESCODE, rescode, 11, 0),
    KV_HIDDEN(RESCTLH, resctlh, 2, 0),
    KV_HIDDEN(RESREL, resrel, 20, 0),
    KV_HIDDEN(RESDCTP, resdctp, 2, 0),
    KV_HIDDEN(RESDCDT, resdcdt, 8, 0),
    KV_HIDDEN(RESDCXM, resdcxm, 4, 0),
    KV_HIDDEN(RESDG, resdg, 1, 0),
    KV_HIDDEN(RESDGDT, resdgdt, 8, 0),
    KV_HIDDEN(RESCLTX, rescltx, 43, 0),
    KV_HIDDEN(RESCATP, rescatp, 1, 0),
    KV_HIDDEN(RESCAUT, rescaut, 40, 0),
    KV_HIDDEN(RESCRSN, rescrsn, 1, 0),
    KV_HIDDEN(RESSRDT, ressrdt, 8, 0),
    KV_HIDDEN(RESCTLN, resctln, 15, 0),
    KV_HIDDEN(RESSHL, resshl, 4, D | L | Y),
    KV_DESCRIBED(RESSHF, 0, 0, KV_FORM_NONE, -1, -1),
};
static_assert(ids_are_positions<Record>(kFields));

namespace v20 {
using Id = Res20Id;
#define KV_SAME(NAME) ::nitf::as(kFields[static_cast<int>(ResId::NAME)], Id::NAME)

bool has_resdevt(const Record& r) {
  return downgrades_on_event(r.resdwng);
}

constexpr ResField kFields20[] = {
    KV_SAME(RE),
    KV_HIDDEN(RESTAG, resid, 25, L | Y),
    KV_SAME(RESVER),
    KV_SAME(RESCLAS),
    KV_HIDDEN(RESCODE, rescode, 40, 0),
    KV_HIDDEN(RESCTLH, resctlh, 40, 0),
    KV_HIDDEN(RESREL, resrel, 40, 0),
    KV_HIDDEN(RESCAUT, rescaut, 20, 0),
    KV_HIDDEN(RESCTLN, resctln, 20, 0),
    KV_HIDDEN(RESDWNG, resdwng, 6, 0),
    KV_HIDDEN(RESDEVT, resdevt, 40, C).when(has_resdevt),
    KV_SAME(RESSHL),
    KV_SAME(RESSHF),
};
static_assert(ids_are_positions<Record>(kFields20));
#undef KV_SAME
}  // namespace v20

// RE to RESSHL of the record's layout, then the user-defined fields RESSHL counts,
// checked against the subheader before the buffer is made.
int read_fields(Record* r, FieldReader& in) {
  const std::span<const ResField> table = res_fields(*r);
  const std::size_t length = table.size() - 2;  // RESSHL; RESSHF follows it
  FieldUse use{&in, false, r->document->extended != 0};
  if (int rc = read_run(table, std::size_t{0}, length, *r, in, use); rc != RET_SUCCESS) return rc;
  const std::int32_t n = parse_decimal(r->resshl);
  if (n < 0) return in.refuse("RESSHL", "negative length", RET_FILE_FORMAT);
  if (n == 0) return RET_SUCCESS;
  const auto size = static_cast<std::size_t>(n);
  if (!in.fits(size, "RESSHF")) return RET_FILE_READ;
  if (!r->resshf.allocate(size + 1)) return RET_NO_MEMORY;
  if (int rc = in.bytes(r->resshf.data(), size, "RESSHF"); rc != RET_SUCCESS) {
    r->resshf.reset();
    return rc;
  }
  r->resshf[size] = '\0';
  return RET_SUCCESS;
}

}  // namespace

std::span<const ResField> res_fields() {
  return kFields;
}

std::span<const ResField> res20_fields() {
  return v20::kFields20;
}

std::span<const ResField> res_fields(const NitfResSubheader& r) {
  return r.document && r.document->header.nitf20 ? res20_fields() : res_fields();
}

int read_resubhdr(NitfResSubheader* r, NitfDocument* d) {
  const LengthTables& t = d->header.res;
  // The reserved extensions follow the last data extension segment's data.
  const std::int64_t first = segment_offset(*d, SegmentKind::kDataExtension, d->des_count);
  if (first < 0 || r->index >= static_cast<std::uint32_t>(std::max(t.count, 0)))
    return RET_FILE_READ;
  std::uint64_t at = static_cast<std::uint64_t>(first);
  for (std::uint32_t i = 0; i < r->index; ++i) at += t.subheader(i) + t.data(i);
  if (at > static_cast<std::uint64_t>(d->file_size)) return RET_FILE_READ;
  const auto start = static_cast<std::int64_t>(at);
  if (kernel::seek_file(d->file, start, kernel::kSeekSet) != start) return RET_FILE_READ;
  char context[56];
  std::snprintf(context, sizeof context, "reserved extension subheader %u", r->index);
  // The segment is copied as its lengths delimit it, so its fields are read within that
  // window alone: bytes after it (a subheader length shorter than the fields) are
  // another segment's, and a save would not carry them with this one.
  const std::uint64_t length = t.subheader(r->index);
  FieldReader in(d->file, end_within(d->file_size, start, length), context,
                 static_cast<std::int64_t>(std::min<std::uint64_t>(length, INT64_MAX)));
  return read_fields(r, in);
}

}  // namespace nitf
