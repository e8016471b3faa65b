// The graphic subheader reader, its field table and the defaults of a new record.
#include "graphics_text/grsubhdr.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <kvntfu.h>

#include "core/nitffile.h"

namespace nitf {
namespace {

void blanks(char* field, std::size_t n) {
  std::memset(field, ' ', n);
  field[n] = '\0';
}

template <auto Member>
char* member_text(NitfGraphicSubheader& r) {
  return r.*Member;
}

#define KV_FIELD(NAME, member, width, numeric)                      \
  GraphicField {                                                    \
    NAME, width, sizeof(NitfGraphicSubheader::member) - 1, numeric, \
        member_text<&NitfGraphicSubheader::member>                  \
  }

const GraphicField kFields[] = {
    KV_FIELD("SY", sy, 2, false),           KV_FIELD("SID", sid, 10, false),
    KV_FIELD("SNAME", sname, 20, false),    KV_FIELD("SSCLAS", ssclas, 1, false),
    KV_FIELD("SSCLSY", ssclsy, 2, false),   KV_FIELD("SSCODE", sscode, 11, false),
    KV_FIELD("SSCTLH", ssctlh, 2, false),   KV_FIELD("SSREL", ssrel, 20, false),
    KV_FIELD("SSDCTP", ssdctp, 2, false),   KV_FIELD("SSDCDT", ssdcdt, 8, false),
    KV_FIELD("SSDCXM", ssdcxm, 4, false),   KV_FIELD("SSDG", ssdg, 1, false),
    KV_FIELD("SSDGDT", ssdgdt, 8, false),   KV_FIELD("SSCLTX", sscltx, 43, false),
    KV_FIELD("SSCATP", sscatp, 1, false),   KV_FIELD("SSCAUT", sscaut, 40, false),
    KV_FIELD("SSCRSN", sscrsn, 1, false),   KV_FIELD("SSSRDT", sssrdt, 8, false),
    KV_FIELD("SSCTLN", ssctln, 15, false),  KV_FIELD("ENCRYP", encryp, 1, true),
    KV_FIELD("SFMT", sfmt, 1, false),       KV_FIELD("SSTRUCT", sstruct, 13, true),
    KV_FIELD("SDLVL", sdlvl_text, 3, true), KV_FIELD("SALVL", salvl_text, 3, true),
    KV_FIELD("SLOC", sloc, 10, true),       KV_FIELD("SBND1", sbnd1, 10, true),
    KV_FIELD("SCOLOR", scolor, 1, false),   KV_FIELD("SBND2", sbnd2, 10, true),
    KV_FIELD("SRES2", sres2, 2, true),
};
#undef KV_FIELD

bool one_of(char c, const char* allowed) {
  return c != '\0' && std::strchr(allowed, c) != nullptr;
}

// The checks and conversions that follow a field.
int check_field(NitfGraphicSubheader& r, const FieldReader& in, std::string_view name) {
  if (name == "SY") {
    if (std::strcmp(r.sy, "SY") != 0)
      return in.refuse("SY", "not a graphic subheader", RET_FILE_FORMAT);
    r.read = 1;
  } else if (name == "SSCLAS") {
    if (!one_of(r.ssclas[0], "CRSTU"))
      return in.refuse("SSCLAS", "not one of C, R, S, T, U", RET_FILE_FORMAT);
  } else if (name == "SFMT") {
    if (!one_of(r.sfmt[0], "COB")) return in.refuse("SFMT", "not one of C, O, B", RET_FILE_FORMAT);
  } else if (name == "SDLVL") {
    r.sdlvl = parse_decimal(r.sdlvl_text);
  } else if (name == "SALVL") {
    r.salvl = parse_decimal(r.salvl_text);
  } else if (name == "SLOC") {
    r.sloc_row = coordinate_group(r.sloc, 0);
    r.sloc_column = coordinate_group(r.sloc, 1);
  } else if (name == "SBND1") {
    r.sbnd1_first = coordinate_group(r.sbnd1, 0);
    r.sbnd1_second = coordinate_group(r.sbnd1, 1);
  } else if (name == "SBND2") {
    r.sbnd2_first = coordinate_group(r.sbnd2, 0);
    r.sbnd2_second = coordinate_group(r.sbnd2, 1);
  }
  return RET_SUCCESS;
}

int read_fields(NitfGraphicSubheader* r, FieldReader& in, std::int64_t end) {
  if (!in.fits(kGraphicSubheaderLength, "SY to SXSHDL")) return RET_FILE_READ;
  for (const GraphicField& f : kFields) {
    if (int rc = in.text(f.text(*r), f.width, f.name); rc != RET_SUCCESS) return rc;
    if (int rc = check_field(*r, in, f.name); rc != RET_SUCCESS) return rc;
  }
  ExtensionFields extension{r->sxshdl, r->sxsofl, "SXSHDL", "SXSOFL", "SXSHD"};
  if (int rc = read_extension_area(in, extension, &r->sxshd); rc != RET_SUCCESS) return rc;
  if (in.position() > end) return in.refuse("SXSOFL", "runs past the subheader", RET_FILE_READ);
  return RET_SUCCESS;
}

}  // namespace

NitfGraphicSubheader::NitfGraphicSubheader(NitfDocument* owner, std::uint32_t position)
    : document(owner), index(position) {
  std::strcpy(sy, "SY");
  std::strcpy(sid, "ID        ");
  std::strcpy(ssclas, "U");
  std::strcpy(sfmt, "C");
  blanks(sname, 20);
  for (char* f : {sscode, ssctlh, ssrel, sscaut}) blanks(f, 40);
  blanks(ssclsy, 2);
  blanks(ssdctp, 2);
  blanks(ssdcdt, 8);
  blanks(ssdcxm, 4);
  blanks(ssdg, 1);
  blanks(ssdgdt, 8);
  blanks(sscltx, 43);
  blanks(sscatp, 1);
  blanks(sscrsn, 1);
  blanks(sssrdt, 8);
  blanks(ssctln, 20);
  blanks(scolor, 1);
}

std::span<const GraphicField> graphic_fields() {
  return kFields;
}

std::int32_t coordinate_group(const char* field, int group) {
  // The module's conversion already takes a leading minus sign, which is what the
  // group form "-0010" means; no character needs replacing first.
  std::string_view text(field);
  std::size_t at = static_cast<std::size_t>(group) * 5;
  if (at >= text.size()) return 0;
  return parse_decimal(text.substr(at, 5));
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
  if (int rc = read_fields(r, in, end); rc != RET_SUCCESS) return rc;
  return kernel::seek_file(d->file, start, kernel::kSeekSet) == start ? RET_SUCCESS : RET_FILE_READ;
}

}  // namespace nitf
