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

#include "core/nitffile.h"
#include "core/records.h"
#include "fields/fieldreader.h"
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

// Leaves IXSHD, UDID and TPXCD as the caller had them unless their length says the
// subheader has them; the caller's old IXSHD is released, as the record documents.
void clear_filled_members(const NitfImageSubheader& s, NitfImageHeader* r) {
  nitf::store_member(&r->ICOM, nullptr);
  if (number(s.udidl) != 0) nitf::store_member(&r->UDID, nullptr);
  if (number(s.ixshdl) != 0) nitf::release_member(&r->IXSHD);
  if (s.mask.tpxcdlnth != 0) nitf::store_member(&r->TPXCD, nullptr);
}

// The image data mask table's header, which the image's data hold.
void put_mask_header(NitfImageSubheader& s, NitfImageHeader* r) {
  r->IMDATOFF = through_text(s, s.mask.imdatoff);
  r->BMRLNTH = static_cast<std::uint16_t>(through_text(s, s.mask.bmrlnth));
  r->TMRLNTH = static_cast<std::uint16_t>(through_text(s, s.mask.tmrlnth));
  r->TPXCDLNTH = static_cast<std::uint16_t>(through_text(s, s.mask.tpxcdlnth));
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
  put_mask_header(*s, record);
  nitf::OutList out;
  if (!nitf::get_fields(nitf::image_fields(), *s, record, out) || !put_areas(out, *s, record) ||
      !put_comments(*s, record)) {
    out.release_all();
    release_array(&record->ICOM, record->NICOM);
    return RET_NO_MEMORY;
  }
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL Kv_NITFFreeImageHeader(NitfImageHeader* r) {
  if (!r) return RET_BAD_ARGUMENT;
  nitf::release_strings(nitf::image_fields(), r);
  release_array(&r->ICOM, r->NICOM);
  release_band_texts(r);
  for (void* member :
       {static_cast<void*>(&r->UDID), static_cast<void*>(&r->IXSHD), static_cast<void*>(&r->TPXCD)})
    nitf::release_member(member);
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL Kv_NITFGetImageLut(NitfDocument* document, uint32_t index, int32_t band,
                                          int32_t lut, uint8_t* entries, int32_t size,
                                          int32_t* count) {
  if (!document) return RET_FAILURE;
  if (!count || size < 0 || (size > 0 && !entries)) return RET_BAD_ARGUMENT;
  *count = 0;
  const NitfImageSubheader* s = nitf::find_image_subheader(document, index);
  if (!s || band < 0 || static_cast<std::size_t>(band) >= s->bands.size()) {
    return RET_INVALID_PARAMETER;
  }
  const nitf::ImageBand& b = s->bands[static_cast<std::size_t>(band)];
  if (lut < 0 || lut >= b.lut_count || b.lut_entries <= 0) return RET_INVALID_PARAMETER;
  const std::size_t n = static_cast<std::size_t>(b.lut_entries);
  const std::size_t at = b.lut_offset + n * static_cast<std::size_t>(lut);
  // The reader keeps every band's LUTs; a record without them has none to give.
  if (at > s->luts.size() || n > s->luts.size() - at) return RET_INVALID_PARAMETER;
  if (size > 0) std::memcpy(entries, s->luts.data() + at, std::min(n, std::size_t(size)));
  *count = b.lut_entries;
  return RET_SUCCESS;
}
