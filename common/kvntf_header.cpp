// The file header's public record: Kv_NITFGetNITFHeader and Kv_NITFFreeNITFHeader.
//
// The getter fills every member, the extension areas and length tables of data and
// reserved extensions included, so that an application that gets the record, changes
// one member and sets it back changes nothing else.
#include <cstring>

#include <kvntfu.h>

#include "fieldreader.h"
#include "nitffile.h"
#include "records.h"

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
    subheaders[i] = nitf::saturate_length(t.subheader(static_cast<std::size_t>(i)));
    data[i] = nitf::saturate_length(t.data(static_cast<std::size_t>(i)));
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
