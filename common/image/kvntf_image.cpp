// The image header's public record: Kv_NITFGetImageHeader and Kv_NITFFreeImageHeader.
//
// The getter copies one NitfImageSubheader into the application's packed record. Every
// member it is going to fill is nulled first and every copy is remembered, so that when
// memory runs out part way the copies already made are released and the record holds
// no pointer the application would have to guess about.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <kvntfu.h>

#include "core/fieldreader.h"
#include "core/nitffile.h"
#include "core/records.h"
#include "image/imsubhdr.h"
#include "kernel.h"

using nitf::NitfImageSubheader;

namespace {

std::uint32_t number(const char* text) {
  return static_cast<std::uint32_t>(nitf::parse_decimal(text));
}

// The mask table header reaches the record through decimal text, as every other
// number does, so values above 2147483647 saturate.
std::uint32_t through_text(NitfImageSubheader& s, std::uint32_t value) {
  std::snprintf(s.scratch, sizeof s.scratch, "%u", value);
  return number(s.scratch);
}

// A tracked, zeroed block of at least `room` bytes holding n bytes of data and a NUL.
void* block_out(std::size_t room, const void* data, std::size_t n) {
  room = std::max(room, n + 1);
  auto* block = static_cast<std::uint8_t*>(kernel::allocate(room, 1));
  if (!block) return nullptr;
  if (n) std::memcpy(block, data, n);
  kernel::record_object(kernel::ObjectKind::kBuffer, block);
  return block;
}

struct StringMember {
  void* slot;
  const char* text;
};

// Leaves IXSHD, UDID and TPXCD as the caller had them unless their length says the
// subheader has them; the caller's old IXSHD is released, as the record documents.
void clear_filled_members(const NitfImageSubheader& s, NitfImageHeader* r) {
  nitf::store_member(&r->ICOM, nullptr);
  if (number(s.udidl) != 0) nitf::store_member(&r->UDID, nullptr);
  if (number(s.ixshdl) != 0) nitf::release_member(&r->IXSHD);
  if (s.mask.tpxcdlnth != 0) nitf::store_member(&r->TPXCD, nullptr);
}

bool put_strings(nitf::OutList& out, const NitfImageSubheader& s, NitfImageHeader* r) {
  const StringMember strings[] = {
      {&r->IM, s.im},         {&r->IID1, s.iid1},     {&r->TGTID, s.tgtid},
      {&r->IID2, s.iid2},     {&r->ISCLAS, s.isclas}, {&r->ISCLSY, s.isclsy},
      {&r->ISCODE, s.iscode}, {&r->ISCTLH, s.isctlh}, {&r->ISREL, s.isrel},
      {&r->ISDCTP, s.isdctp}, {&r->ISDCXM, s.isdcxm}, {&r->ISDG, s.isdg},
      {&r->ISCLTX, s.iscltx}, {&r->ISCATP, s.iscatp}, {&r->ISCAUT, s.iscaut},
      {&r->ISCRSN, s.iscrsn}, {&r->ISCTLN, s.isctln}, {&r->ISORCE, s.isorce},
      {&r->PVTYPE, s.pvtype}, {&r->IREP, s.irep},     {&r->ICAT, s.icat},
      {&r->PJUST, s.pjust},   {&r->ICORDS, s.icords}, {&r->IGEOLO, s.igeolo},
      {&r->IC, s.ic},         {&r->COMRAT, s.comrat}, {&r->IMODE, s.imode},
      {&r->IMAG, s.imag},
  };
  for (const StringMember& m : strings) nitf::store_member(m.slot, nullptr);
  for (const StringMember& m : strings) {
    if (!out.put(m.slot, nitf::copy_out_string(m.text))) return false;
  }
  return true;
}

// An ILOC half through a zeroed buffer of its own: a leading '-' gives a negative value.
std::int32_t location_half(const char* half) {
  char digits[6] = {};
  std::memcpy(digits, half, 5);
  return nitf::parse_decimal(digits);
}

void put_numbers(NitfImageSubheader& s, NitfImageHeader* r) {
  r->ENCRYP = number(s.encryp);
  r->NROWS = number(s.nrows);
  r->NCOLS = number(s.ncols);
  r->ABPP = number(s.abpp);
  r->NICOM = number(s.nicom);
  r->NBANDS = number(s.nbands);
  r->XBANDS = number(s.xbands);
  r->ISYNC = number(s.isync);
  r->NBPR = number(s.nbpr);
  r->NBPC = number(s.nbpc);
  r->NPPBH = number(s.nppbh);
  r->NPPBV = number(s.nppbv);
  r->NBPP = number(s.nbpp);
  r->IDLVL = number(s.idlvl);
  r->IALVL = number(s.ialvl);
  r->ILOC_ROW = location_half(s.iloc);
  r->ILOC_COLUMN = location_half(s.iloc + 5);
  r->UDIDL = number(s.udidl);
  r->UDOFL = number(s.udofl);
  r->IXSHDL = number(s.ixshdl);
  r->IXSOFL = number(s.ixsofl);
  r->IMDATOFF = through_text(s, s.mask.imdatoff);
  r->BMRLNTH = static_cast<std::uint16_t>(through_text(s, s.mask.bmrlnth));
  r->TMRLNTH = static_cast<std::uint16_t>(through_text(s, s.mask.tmrlnth));
  r->TPXCDLNTH = static_cast<std::uint16_t>(through_text(s, s.mask.tpxcdlnth));
  std::memcpy(r->IDATIM, s.idatim, sizeof r->IDATIM);
  std::memcpy(r->ISDCDT, s.isdcdt, sizeof r->ISDCDT);
  std::memcpy(r->ISDGDT, s.isdgdt, sizeof r->ISDGDT);
  std::memcpy(r->ISSRDT, s.issrdt, sizeof r->ISSRDT);
}

bool put_areas(nitf::OutList& out, const NitfImageSubheader& s, NitfImageHeader* r) {
  if (std::uint32_t udidl = number(s.udidl); udidl != 0) {
    if (!out.put(&r->UDID, nitf::copy_out(s.udid.data(), s.udid.size()))) return false;
  }
  if (std::uint32_t ixshdl = number(s.ixshdl); ixshdl != 0) {
    if (!out.put(&r->IXSHD, block_out(ixshdl, s.ixshd.data(), s.ixshd.size()))) return false;
  }
  if (std::uint16_t bits = s.mask.tpxcdlnth; bits != 0) {
    std::size_t n = std::min<std::size_t>((std::size_t{bits} + 7) / 8, s.mask.pad_code.size());
    if (!out.put(&r->TPXCD, block_out(bits, s.mask.pad_code.data(), n))) return false;
  }
  return true;
}

// NICOM copies of the comments; a comment the record lacks gives an empty string.
bool put_comments(const NitfImageSubheader& s, NitfImageHeader* r) {
  std::uint32_t n = r->NICOM;
  if (n == 0) return true;
  auto* array = static_cast<char**>(kernel::allocate(n, sizeof(char*)));
  if (!array) return false;
  kernel::record_object(kernel::ObjectKind::kBuffer, array);
  nitf::store_member(&r->ICOM, array);
  for (std::uint32_t i = 0; i < n; ++i) {
    array[i] = nitf::copy_out_string(i < s.comments.size() ? s.comments[i].text : "");
    if (!array[i]) return false;
  }
  return true;
}

// Releases `n` entries of the array at `slot`, then the array.
void release_array(void* slot, std::uint32_t n) {
  char** array = nitf::load_member<char*>(slot);
  if (!array) return;
  for (std::uint32_t i = 0; i < n; ++i) nitf::release_out(array[i]);
  nitf::release_member(slot);
}

void release_band_texts(NitfImageHeader* r) {
  void* arrays[] = {&r->IREPBAND, &r->ISUBCAT, &r->IFC, &r->IMFLT};
  std::uint32_t n = nitf::load_member<char*>(&r->IREPBAND) ? r->NBANDS : 0;
  for (void* slot : arrays) release_array(slot, n);
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFGetImageHeader(NitfDocument* document, uint32_t index,
                                             NitfImageHeader* record) {
  if (!document) return RET_FAILURE;
  if (!record) return RET_INVALID_PARAMETER;
  NitfImageSubheader* s = nitf::find_image_subheader(document, index);
  if (!s) return RET_BAD_ARGUMENT;
  clear_filled_members(*s, record);
  put_numbers(*s, record);
  nitf::OutList out;
  if (!put_strings(out, *s, record) || !put_areas(out, *s, record) || !put_comments(*s, record)) {
    out.release_all();
    release_array(&record->ICOM, record->NICOM);
    return RET_NO_MEMORY;
  }
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL Kv_NITFFreeImageHeader(NitfImageHeader* r) {
  if (!r) return RET_BAD_ARGUMENT;
  void* before_comments[] = {
      &r->IM,     &r->IID1,   &r->TGTID,  &r->IID2, &r->ISCLAS, &r->ISCLSY, &r->ISCODE, &r->ISCTLH,
      &r->ISREL,  &r->ISDCTP, &r->ISDCXM, &r->ISDG, &r->ISCLTX, &r->ISCATP, &r->ISCAUT, &r->ISCRSN,
      &r->ISCTLN, &r->ISORCE, &r->PVTYPE, &r->IREP, &r->ICAT,   &r->PJUST,  &r->ICORDS, &r->IGEOLO};
  for (void* member : before_comments) nitf::release_member(member);
  release_array(&r->ICOM, r->NICOM);
  nitf::release_member(&r->IC);
  nitf::release_member(&r->COMRAT);
  release_band_texts(r);
  for (void* member :
       {static_cast<void*>(&r->IMODE), static_cast<void*>(&r->IMAG), static_cast<void*>(&r->UDID),
        static_cast<void*>(&r->IXSHD), static_cast<void*>(&r->TPXCD)})
    nitf::release_member(member);
  return RET_SUCCESS;
}
