// The file header's public record: Kv_NITFGetNITFHeader, Kv_NITFSetNITFHeader and
// Kv_NITFFreeNITFHeader.
//
// The getter fills every member, the extension areas and length tables of data and
// reserved extensions included, so that an application that gets the record, changes
// one member and sets it back changes nothing else. HL, FL, the segment counts and the
// length tables describe the document's own content: the setter leaves them to the
// document (the getter reports the lengths the next save writes), and a change of an
// extension area moves HL and FL itself.
#include <cstdio>
#include <cstring>
#include <tuple>

#include <kvntfu.h>

#include "core/fieldreader.h"
#include "core/nitffile.h"
#include "core/records.h"
#include "writing/utility.h"
#include "writing/utility_setters.h"

using nitf::LengthTables;
using nitf::NitfFileHeaderData;

namespace {

// FVER as a number without the C library's locale: "02.10" gives 2.1.
float version_number(const char* text) {
  double value = 0, scale = 1;
  bool fraction = false;
  for (const char* p = text; *p; ++p) {
    if (*p == '.' && !fraction) {
      fraction = true;
    } else if (*p >= '0' && *p <= '9') {
      if (fraction) {
        scale /= 10;
        value += (*p - '0') * scale;
      } else {
        value = value * 10 + (*p - '0');
      }
    } else if (*p != ' ') {
      break;
    }
  }
  return static_cast<float>(value);
}

// Copies of one kind's source lengths into the table members at the two slots.
bool put_tables(nitf::OutList& out, const LengthTables& t, int32_t count, void* subheader_slot,
                void* data_slot) {
  nitf::store_member(subheader_slot, nullptr);
  nitf::store_member(data_slot, nullptr);
  if (count <= 0) return true;
  uint32_t* subheaders = nitf::table_out(static_cast<std::size_t>(count));
  uint32_t* data = nitf::table_out(static_cast<std::size_t>(count));
  bool ok = out.put(subheader_slot, subheaders);
  ok = out.put(data_slot, data) && ok;
  if (!ok) return false;
  for (int32_t i = 0; i < count; ++i) {
    // The current lengths: what the next save writes, after any setter's change.
    subheaders[i] = nitf::saturate_length(t.subheader_current.at_or(std::size_t(i), 0));
    data[i] = nitf::saturate_length(t.data_current.at_or(std::size_t(i), 0));
  }
  return true;
}

bool put_area(nitf::OutList& out, const nitf::TreArea& area, void* slot) {
  nitf::store_member(slot, nullptr);
  if (!area.present()) return true;
  return out.put(slot, nitf::copy_out(area.data(), area.size()));
}

bool fill_record(nitf::OutList& out, const NitfFileHeaderData& h, NitfHeader* r) {
  using nitf::copy_out_string;
  using nitf::parse_decimal;
  const struct {
    void* slot;
    const char* text;
  } strings[] = {
      {&r->FHDR, h.fhdr},     {&r->STYPE, h.stype},   {&r->OSTAID, h.ostaid},
      {&r->FTITLE, h.ftitle}, {&r->FSCLAS, h.fsclas}, {&r->FSCLSY, h.fsclsy},
      {&r->FSCODE, h.fscode}, {&r->FSCTLH, h.fsctlh}, {&r->FSREL, h.fsrel},
      {&r->FSDCTP, h.fsdctp}, {&r->FSDCXM, h.fsdcxm}, {&r->FSDG, h.fsdg},
      {&r->FSCLTX, h.fscltx}, {&r->FSCATP, h.fscatp}, {&r->FSCAUT, h.fscaut},
      {&r->FSCRSN, h.fscrsn}, {&r->FSCTLN, h.fsctln}, {&r->ONAME, h.oname},
      {&r->OPHONE, h.ophone},
  };
  for (const auto& s : strings) {
    if (!out.put(s.slot, copy_out_string(s.text))) return false;
  }
  r->CLEVEL = parse_decimal(h.clevel_text);
  r->HL = parse_decimal(h.hl);
  r->FL = parse_decimal(h.fl);
  r->FSCOP = parse_decimal(h.fscop);
  r->FSCPYS = parse_decimal(h.fscpys);
  r->ENCRYP = parse_decimal(h.encryp);
  r->NUMI = parse_decimal(h.numi);
  r->NUMS = parse_decimal(h.nums);
  r->NUMX = parse_decimal(h.numx);
  r->NUMT = parse_decimal(h.numt);
  r->NUMDES = parse_decimal(h.numdes);
  r->NUMRES = parse_decimal(h.numres);
  r->UDHDL = parse_decimal(h.udhdl);
  r->UDHOFL = parse_decimal(h.udhofl);
  r->XHDL = parse_decimal(h.xhdl);
  r->XHDLOFL = parse_decimal(h.xhdlofl);
  if (!put_tables(out, h.images, r->NUMI, &r->LISH, &r->LI) ||
      !put_tables(out, h.graphics, r->NUMS, &r->LSSH, &r->LS) ||
      !put_tables(out, h.texts, r->NUMT, &r->LTSH, &r->LT) ||
      !put_tables(out, h.des, r->NUMDES, &r->LDSH, &r->LD) ||
      !put_tables(out, h.res, r->NUMRES, &r->LRESH, &r->LRE) || !put_area(out, h.udhd, &r->UDHD) ||
      !put_area(out, h.xhd, &r->XHD))
    return false;
  r->FBKGC[0] = static_cast<uint8_t>(h.background & 0xFF);
  r->FBKGC[1] = static_cast<uint8_t>((h.background >> 8) & 0xFF);
  r->FBKGC[2] = static_cast<uint8_t>((h.background >> 16) & 0xFF);
  r->FBKGC[3] = 0;
  std::memcpy(r->FSSRDT, h.fssrdt, 8);
  std::memcpy(r->FSDGDT, h.fsdgdt, 8);
  std::memcpy(r->FSDCDT, h.fsdcdt, 8);
  std::memcpy(r->FDT, h.fdt, 14);
  r->FVER = version_number(h.fver);
  return true;
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFGetNITFHeader(NitfDocument* document, NitfHeader* record) {
  if (!document) return RET_FAILURE;
  if (!record) return RET_BAD_ARGUMENT;
  nitf::OutList out;
  if (!fill_record(out, document->header, record)) {
    out.release_all();
    return RET_NO_MEMORY;
  }
  return RET_SUCCESS;
}

namespace {

struct StringSetting {
  const char* text;
  char* field;
  int width;
};

// FHDR and the eighteen strings STYPE to OPHONE with their widths in the file: a text
// the field cannot hold is not taken, rather than taken and cut when saved.
int strings_of(const NitfHeader* r, NitfFileHeaderData& h, StringSetting* out) {
  const StringSetting all[] = {
      {r->FHDR, h.fhdr, 4},      {r->STYPE, h.stype, 4},    {r->OSTAID, h.ostaid, 10},
      {r->FTITLE, h.ftitle, 80}, {r->FSCLAS, h.fsclas, 1},  {r->FSCLSY, h.fsclsy, 2},
      {r->FSCODE, h.fscode, 11}, {r->FSCTLH, h.fsctlh, 2},  {r->FSREL, h.fsrel, 20},
      {r->FSDCTP, h.fsdctp, 2},  {r->FSDCXM, h.fsdcxm, 4},  {r->FSDG, h.fsdg, 1},
      {r->FSCLTX, h.fscltx, 43}, {r->FSCATP, h.fscatp, 1},  {r->FSCAUT, h.fscaut, 40},
      {r->FSCRSN, h.fscrsn, 1},  {r->FSCTLN, h.fsctln, 15}, {r->ONAME, h.oname, 24},
      {r->OPHONE, h.ophone, 18},
  };
  std::memcpy(out, all, sizeof all);
  return static_cast<int>(sizeof all / sizeof all[0]);
}

bool fits(int64_t value, int width) {
  char scratch[24];
  return nitf::FormatNumberField(scratch, width, value) == RET_SUCCESS;
}

// Everything that could refuse the record, checked before anything changes: a null
// string, a number wider than its field, a version FVER cannot hold, an extension
// length without room for its overflow field.
int check_record(const NitfHeader* r, NitfFileHeaderData& h) {
  StringSetting strings[19];
  const int n = strings_of(r, h, strings);
  for (int i = 0; i < n; ++i)
    if (!strings[i].text) return RET_INVALID_PARAMETER;
  if (!fits(r->FSCOP, 5) || !fits(r->FSCPYS, 5) || !fits(r->ENCRYP, 1) || !fits(r->NUMX, 3))
    return RET_INVALID_PARAMETER;
  if (!(r->FVER >= 0 && r->FVER < 99.995f)) return RET_INVALID_PARAMETER;
  for (auto [length, overflow, data] :
       {std::tuple{r->UDHDL, r->UDHOFL, r->UDHD}, std::tuple{r->XHDL, r->XHDLOFL, r->XHD}}) {
    if (length < 0 || length > 99999 || overflow < 0 || overflow > 999)
      return RET_INVALID_PARAMETER;
    if (data && length != 0 && length < 4) return RET_INVALID_PARAMETER;
  }
  // Without data a length must describe the area the header already holds.
  if ((!r->UDHD && r->UDHDL != 0 && r->UDHDL != nitf::parse_decimal(h.udhdl)) ||
      (!r->XHD && r->XHDL != 0 && r->XHDL != nitf::parse_decimal(h.xhdl)))
    return RET_INVALID_PARAMETER;
  return RET_SUCCESS;
}

void set_texts(const NitfHeader* r, NitfFileHeaderData& h) {
  StringSetting strings[19];
  const int n = strings_of(r, h, strings);
  // A string longer than its field is not taken; the field keeps its text.
  for (int i = 0; i < n; ++i)
    nitf::CopyTextField(strings[i].field, strings[i].width, strings[i].text);
  if ((r->CLEVEL >= 1 && r->CLEVEL <= 7) || r->CLEVEL == 99) {
    h.clevel = r->CLEVEL;
    nitf::FormatNumberField(h.clevel_text, 2, r->CLEVEL);
  }
  nitf::FormatNumberField(h.fscop, 5, r->FSCOP);
  nitf::FormatNumberField(h.fscpys, 5, r->FSCPYS);
  nitf::FormatNumberField(h.encryp, 1, r->ENCRYP);
  nitf::FormatNumberField(h.numx, 3, r->NUMX);
  std::memcpy(h.fbkgc, r->FBKGC, 3);
  h.fbkgc[3] = '\0';
  h.background = r->FBKGC[0] | (r->FBKGC[1] << 8) | (uint32_t{r->FBKGC[2]} << 16);
  const struct {
    char* field;
    const char* value;
    std::size_t n;
  } inline_texts[] = {{h.fssrdt, r->FSSRDT, 8},
                      {h.fsdgdt, r->FSDGDT, 8},
                      {h.fsdcdt, r->FSDCDT, 8},
                      {h.fdt, r->FDT, 14}};
  for (const auto& t : inline_texts) {
    std::memcpy(t.field, t.value, t.n);
    t.field[t.n] = '\0';
  }
  // Two decimals, zero-filled to five characters: 2.1 gives 02.10.
  const unsigned hundredths = static_cast<unsigned>(r->FVER * 100.0f + 0.5f) % 10000u;
  std::snprintf(h.fver, sizeof h.fver, "%02u.%02u", hundredths / 100, hundredths % 100);
}

int set_areas(NitfDocument* d, const NitfHeader* r) {
  NitfFileHeaderData& h = d->header;
  int64_t user = 0, extended = 0;
  int result =
      nitf::SetExtensionArea(&h.udhd, h.udhdl, h.udhofl, r->UDHDL, r->UDHOFL, r->UDHD, &user);
  nitf::AdjustHeaderLength(d, user);
  if (result != RET_SUCCESS) return result;
  result =
      nitf::SetExtensionArea(&h.xhd, h.xhdl, h.xhdlofl, r->XHDL, r->XHDLOFL, r->XHD, &extended);
  nitf::AdjustHeaderLength(d, extended);
  return result;
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFSetNITFHeader(NitfDocument* document, NitfHeader* record) {
  if (!document) return RET_FAILURE;
  if (!record) return RET_BAD_ARGUMENT;
  NitfFileHeaderData& h = document->header;
  if (int r = check_record(record, h); r != RET_SUCCESS) return r;
  set_texts(record, h);
  return set_areas(document, record);
}

KV_API int32_t KV_CALL Kv_NITFFreeNITFHeader(NitfHeader* r) {
  if (!r) return RET_BAD_ARGUMENT;
  void* members[] = {&r->FHDR,   &r->STYPE,  &r->OSTAID, &r->FTITLE, &r->FSCLAS, &r->FSCLSY,
                     &r->FSCODE, &r->FSCTLH, &r->FSREL,  &r->FSDCTP, &r->FSDCXM, &r->FSDG,
                     &r->FSCLTX, &r->FSCATP, &r->FSCAUT, &r->FSCRSN, &r->FSCTLN, &r->ONAME,
                     &r->OPHONE, &r->LISH,   &r->LI,     &r->LSSH,   &r->LS,     &r->LTSH,
                     &r->LT,     &r->LDSH,   &r->LD,     &r->LRESH,  &r->LRE,    &r->UDHD,
                     &r->XHD};
  for (void* member : members) nitf::release_member(member);
  return RET_SUCCESS;
}
