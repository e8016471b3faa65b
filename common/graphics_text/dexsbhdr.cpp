// The data extension subheader reader and its field table.
#include "graphics_text/dexsbhdr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <kvntfu.h>

#include "core/nitffile.h"

namespace nitf {
namespace {

template <auto Member>
char* member_text(NitfDesSubheader& r) {
  return r.*Member;
}

#define KV_FIELD(NAME, member, width, numeric)                   \
  DesField {                                                     \
    NAME, width, numeric, member_text<&NitfDesSubheader::member> \
  }

const DesField kFields[] = {
    KV_FIELD("DE", de, 2, false),
    KV_FIELD("DESID", desid, 25, false),
    KV_FIELD("DESVER", desver, 2, true),
    KV_FIELD("DESCLAS", desclas, 1, false),
    KV_FIELD("DESCLSY", desclsy, 2, false),
    KV_FIELD("DESCODE", descode, 11, false),
    KV_FIELD("DESCTLH", desctlh, 2, false),
    KV_FIELD("DESREL", desrel, 20, false),
    KV_FIELD("DESDCTP", desdctp, 2, false),
    KV_FIELD("DESDCDT", desdcdt, 8, false),
    KV_FIELD("DESDCXM", desdcxm, 4, false),
    KV_FIELD("DESDG", desdg, 1, false),
    KV_FIELD("DESDGDT", desdgdt, 8, false),
    KV_FIELD("DESCLTX", descltx, 43, false),
    KV_FIELD("DESCATP", descatp, 1, false),
    KV_FIELD("DESCAUT", descaut, 40, false),
    KV_FIELD("DESCRSN", descrsn, 1, false),
    KV_FIELD("DESSRDT", dessrdt, 8, false),
    KV_FIELD("DESCTLN", desctln, 15, false),
};
#undef KV_FIELD

// DE to DESCTLN.
constexpr std::size_t kSecurityEnd = kDesSubheaderLength - 4;

int check_field(NitfDesSubheader& r, const FieldReader& in, std::string_view name) {
  if (name == "DE") {
    if (std::strcmp(r.de, "DE") != 0)
      return in.refuse("DE", "not a data extension subheader", RET_FILE_FORMAT);
    r.read = 1;
  } else if (name == "DESVER") {
    std::int32_t version = parse_decimal(r.desver);
    if (version < 0 || version > 99) return in.refuse("DESVER", "not 0 to 99", RET_FILE_FORMAT);
  } else if (name == "DESCLAS") {
    if (r.desclas[0] == '\0' || !std::strchr("CRSTU", r.desclas[0]))
      return in.refuse("DESCLAS", "not one of C, R, S, T, U", RET_FILE_FORMAT);
  }
  return RET_SUCCESS;
}

int read_overflow_fields(NitfDesSubheader* r, FieldReader& in) {
  if (!in.fits(9, "DESOFLW and DESITEM")) return RET_FILE_READ;
  if (int rc = in.text(r->desoflw, 6, "DESOFLW"); rc != RET_SUCCESS) return rc;
  return in.text(r->desitem, 3, "DESITEM");
}

// DESSHL and the user-defined fields it counts, checked against the subheader before
// the buffer is made.
int read_user_fields(NitfDesSubheader* r, FieldReader& in) {
  if (!in.fits(4, "DESSHL")) return RET_FILE_READ;
  if (int rc = in.text(r->desshl, 4, "DESSHL"); rc != RET_SUCCESS) return rc;
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

int read_fields(NitfDesSubheader* r, FieldReader& in) {
  if (!in.fits(kSecurityEnd, "DE to DESCTLN")) return RET_FILE_READ;
  for (const DesField& f : kFields) {
    if (int rc = in.text(f.text(*r), f.width, f.name); rc != RET_SUCCESS) return rc;
    if (int rc = check_field(*r, in, f.name); rc != RET_SUCCESS) return rc;
  }
  if (des_has_overflow_fields(*r)) {
    if (int rc = read_overflow_fields(r, in); rc != RET_SUCCESS) return rc;
  }
  return read_user_fields(r, in);
}

}  // namespace

std::span<const DesField> des_fields() {
  return kFields;
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
