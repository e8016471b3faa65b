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
#include <string_view>
#include <tuple>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/records.h"
#include "fields/field_table.h"
#include "fields/fieldreader.h"
#include "fields/utility.h"
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

void* member(NitfHeader* r, const nitf::HeaderField& f) {
  return reinterpret_cast<unsigned char*>(r) + f.offset;
}

// What the field table's generic copies leave: the length tables, the areas, the
// background colour and the version.
bool fill_record(nitf::OutList& out, NitfFileHeaderData& h, NitfHeader* r) {
  const auto table = nitf::header_fields();
  if (!nitf::get_fields(table, h, r, out)) return false;
  for (const nitf::LengthGroup& g : nitf::length_groups()) {
    const nitf::HeaderField& count = nitf::field(table, g.count);
    int32_t n = nitf::parse_decimal(count.text(h));
    if (!put_tables(out, h.*g.tables, n, member(r, nitf::field(table, g.subheader)),
                    member(r, nitf::field(table, g.data))))
      return false;
  }
  for (const nitf::HeaderArea& a : nitf::header_areas())
    if (!put_area(out, h.*a.tres, member(r, nitf::field(table, a.area)))) return false;
  r->FBKGC[0] = static_cast<uint8_t>(h.background & 0xFF);
  r->FBKGC[1] = static_cast<uint8_t>((h.background >> 8) & 0xFF);
  r->FBKGC[2] = static_cast<uint8_t>((h.background >> 16) & 0xFF);
  r->FBKGC[3] = 0;
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

// Everything that could refuse the record, checked before anything changes: a null
// string, a number wider than its field, a version FVER cannot hold, an extension
// length without room for its overflow field.
int check_record(const NitfHeader* r, NitfFileHeaderData& h) {
  const auto* base = reinterpret_cast<const unsigned char*>(r);
  for (const nitf::HeaderField& f : nitf::header_fields(h)) {
    if (!nitf::generic_settable(f)) continue;
    const void* second = f.second >= 0 ? base + f.second : nullptr;
    if (int x = nitf::check_generic(f.form, f.width, base + f.offset, second); x != RET_SUCCESS)
      return x;
  }
  if (!(r->FVER >= 0 && r->FVER < 99.995f)) return RET_INVALID_PARAMETER;
  // The name and version must stay a pair the reader takes for the document's layout
  // (or the pair the document has).
  const unsigned hundredths = static_cast<unsigned>(r->FVER * 100.0f + 0.5f) % 10000u;
  char version[8];
  std::snprintf(version, sizeof version, "%02u.%02u", hundredths / 100, hundredths % 100);
  const std::string_view name = std::strlen(r->FHDR) <= 4 ? r->FHDR : h.fhdr;
  const bool readable = h.nitf20 ? name == "NITF" && hundredths == 200
                                 : (name == "NITF" || name == "NSIF") &&
                                       (hundredths == 210 || (name == "NSIF" && hundredths == 100));
  if (!readable && !(name == h.fhdr && std::string_view(version) == h.fver))
    return RET_INVALID_PARAMETER;
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

// The generic fields (a string longer than its field is not taken: the field keeps
// its text), then the three the header keeps in forms of its own.
void set_texts(const NitfHeader* r, NitfFileHeaderData& h) {
  // A NITF 2.0 header takes them at its own widths.
  for (const nitf::HeaderField& f : nitf::header_fields(h))
    if (nitf::generic_settable(f)) nitf::set_field(f, h, r, nitf::LongText::kIgnore);
  if ((r->CLEVEL >= 1 && r->CLEVEL <= 7) || r->CLEVEL == 99) {
    h.clevel = r->CLEVEL;
    nitf::FormatNumberField(h.clevel_text, 2, r->CLEVEL);
  }
  std::memcpy(h.fbkgc, r->FBKGC, 3);
  h.fbkgc[3] = '\0';
  h.background = r->FBKGC[0] | (r->FBKGC[1] << 8) | (uint32_t{r->FBKGC[2]} << 16);
  // Two decimals, zero-filled to five characters: 2.1 gives 02.10.
  const unsigned hundredths = static_cast<unsigned>(r->FVER * 100.0f + 0.5f) % 10000u;
  std::snprintf(h.fver, sizeof h.fver, "%02u.%02u", hundredths / 100, hundredths % 100);
}

// Each area moves HL and FL by what it changed, the first also when the second fails.
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
  const auto table = nitf::header_fields();
  nitf::release_strings(table, r);
  for (const nitf::LengthGroup& g : nitf::length_groups()) {
    nitf::release_member(member(r, nitf::field(table, g.subheader)));
    nitf::release_member(member(r, nitf::field(table, g.data)));
  }
  for (const nitf::HeaderArea& a : nitf::header_areas())
    nitf::release_member(member(r, nitf::field(table, a.area)));
  return RET_SUCCESS;
}
