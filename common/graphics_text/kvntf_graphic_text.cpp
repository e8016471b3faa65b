// The graphic and text subheaders' public records: Kv_NITFGetGraphicHeader,
// Kv_NITFSetGraphicHeader, Kv_NITFFreeGraphicHeader and their text counterparts.
//
// A get copies the in-memory record of one segment: every text field as it stands
// (blank padding kept), the numeric fields converted from their text, the extension
// area's bytes. Text members are named once, in the slot tables below, and found in
// the subheader's own field table by name, so the getter, the setter and the free
// export walk the same list. A set stops at the first member it refuses (the members
// before it keep their new values); a text longer than its field in the file is
// refused rather than cut when saved.
#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <span>
#include <tuple>

#include <kvntfu.h>

#include "core/fieldreader.h"
#include "core/nitffile.h"
#include "core/records.h"
#include "writing/utility.h"
#include "writing/utility_setters.h"

using nitf::NitfGraphicSubheader;
using nitf::NitfTextSubheader;

namespace {

// A text member of a public record: the subheader field it copies and where it lives.
struct Slot {
  const char* name;
  std::size_t offset;
};

#define KV_SLOT(Record, NAME)     \
  Slot {                          \
#NAME, offsetof(Record, NAME) \
  }

const Slot kGraphicStrings[] = {
    KV_SLOT(NitfGraphicHeader, SY),     KV_SLOT(NitfGraphicHeader, SID),
    KV_SLOT(NitfGraphicHeader, SNAME),  KV_SLOT(NitfGraphicHeader, SSCLAS),
    KV_SLOT(NitfGraphicHeader, SSCLSY), KV_SLOT(NitfGraphicHeader, SSCODE),
    KV_SLOT(NitfGraphicHeader, SSCTLH), KV_SLOT(NitfGraphicHeader, SSREL),
    KV_SLOT(NitfGraphicHeader, SSDCTP), KV_SLOT(NitfGraphicHeader, SSDCXM),
    KV_SLOT(NitfGraphicHeader, SSDG),   KV_SLOT(NitfGraphicHeader, SSCLTX),
    KV_SLOT(NitfGraphicHeader, SSCATP), KV_SLOT(NitfGraphicHeader, SSCAUT),
    KV_SLOT(NitfGraphicHeader, SSCRSN), KV_SLOT(NitfGraphicHeader, SSCTLN),
    KV_SLOT(NitfGraphicHeader, SFMT),   KV_SLOT(NitfGraphicHeader, SCOLOR),
};

const Slot kTextStrings[] = {
    KV_SLOT(NitfTextHeader, TE),     KV_SLOT(NitfTextHeader, TEXTID),
    KV_SLOT(NitfTextHeader, TXTITL), KV_SLOT(NitfTextHeader, TSCLAS),
    KV_SLOT(NitfTextHeader, TSCLSY), KV_SLOT(NitfTextHeader, TSCODE),
    KV_SLOT(NitfTextHeader, TSCTLH), KV_SLOT(NitfTextHeader, TSREL),
    KV_SLOT(NitfTextHeader, TSDCTP), KV_SLOT(NitfTextHeader, TSDCXM),
    KV_SLOT(NitfTextHeader, TSDG),   KV_SLOT(NitfTextHeader, TSCLTX),
    KV_SLOT(NitfTextHeader, TSCATP), KV_SLOT(NitfTextHeader, TSCAUT),
    KV_SLOT(NitfTextHeader, TSCRSN), KV_SLOT(NitfTextHeader, TSCTLN),
    KV_SLOT(NitfTextHeader, TXTFMT),
};
#undef KV_SLOT

void* slot_in(void* record, const Slot& s) {
  return static_cast<unsigned char*>(record) + s.offset;
}

template <class Field, class Record>
const char* field_named(std::span<const Field> fields, Record& record, const char* name) {
  for (const Field& f : fields) {
    if (std::strcmp(f.name, name) == 0) return f.text(record);
  }
  assert(!"every slot names a field of the subheader's table");
  return "";
}

// Nulls every slot first, so that a failure part way leaves no member with a copy.
template <class Field, class Record>
bool put_strings(nitf::OutList& out, std::span<const Slot> slots, std::span<const Field> fields,
                 Record& source, void* record) {
  for (const Slot& s : slots) nitf::store_member(slot_in(record, s), nullptr);
  for (const Slot& s : slots) {
    const char* text = field_named(fields, source, s.name);
    if (!out.put(slot_in(record, s), nitf::copy_out_string(text))) return false;
  }
  return true;
}

void release_strings(std::span<const Slot> slots, void* record) {
  for (const Slot& s : slots) nitf::release_member(slot_in(record, s));
}

// An inline member of n characters: the field's characters, blanks after a field
// shorter than n (a record whose read stopped before it).
void put_chars(char* member, const char* field, std::size_t n) {
  std::size_t len = strnlen(field, n);
  std::memcpy(member, field, len);
  std::memset(member + len, ' ', n - len);
}

// A copy of an extension area as its length field declares it: `declared` bytes and a
// NUL, the area's own bytes first (never more than it holds), zeros after them.
void* area_out(const nitf::TreArea& area, std::size_t declared) {
  auto* block = static_cast<unsigned char*>(kernel::allocate(declared + 1, 1));
  if (!block) return nullptr;
  std::size_t n = std::min(declared, area.size());
  if (n) std::memcpy(block, area.data(), n);
  kernel::record_object(kernel::ObjectKind::kBuffer, block);
  return block;
}

template <class Record>
Record* record_at(const nitf::SegmentList<Record>& list, std::uint32_t count, int32_t index) {
  if (index < 0 || static_cast<std::uint32_t>(index) >= count) return nullptr;
  auto i = static_cast<std::size_t>(index);
  return i < list.size() ? list[i].get() : nullptr;
}

bool fill_graphic(nitf::OutList& out, NitfGraphicSubheader& g, NitfGraphicHeader* r) {
  using nitf::coordinate_group;
  using nitf::parse_decimal;
  if (!put_strings(out, std::span(kGraphicStrings), nitf::graphic_fields(), g, r)) return false;
  put_chars(r->SSDCDT, g.ssdcdt, 8);
  put_chars(r->SSDGDT, g.ssdgdt, 8);
  put_chars(r->SSSRDT, g.sssrdt, 8);
  r->ENCRYP = parse_decimal(g.encryp);
  r->SSTRUCT = parse_decimal(g.sstruct);
  r->SDLVL = parse_decimal(g.sdlvl_text);
  r->SALVL = parse_decimal(g.salvl_text);
  r->SLOC_ROW = coordinate_group(g.sloc, 0);
  r->SLOC_COLUMN = coordinate_group(g.sloc, 1);
  r->SBND1_ROW = coordinate_group(g.sbnd1, 0);
  r->SBND1_COLUMN = coordinate_group(g.sbnd1, 1);
  r->SBND2_ROW = coordinate_group(g.sbnd2, 0);
  r->SBND2_COLUMN = coordinate_group(g.sbnd2, 1);
  r->SRES2 = parse_decimal(g.sres2);
  r->SXSHDL = parse_decimal(g.sxshdl);
  r->SXSOFL = parse_decimal(g.sxsofl);
  if (r->SXSHDL < 3 || !g.sxshd.present()) return true;
  return out.put(&r->SXSHD, area_out(g.sxshd, static_cast<std::size_t>(r->SXSHDL) - 3));
}

bool fill_text(nitf::OutList& out, NitfTextSubheader& t, NitfTextHeader* r) {
  using nitf::parse_decimal;
  nitf::release_member(&r->TXSHD);
  if (!put_strings(out, std::span(kTextStrings), nitf::text_fields(), t, r)) return false;
  r->TXTALVL = parse_decimal(t.txtalvl_text);
  put_chars(r->TXTDT, t.txtdt, 14);
  put_chars(r->TSDCDT, t.tsdcdt, 8);
  put_chars(r->TSDGDT, t.tsdgdt, 8);
  put_chars(r->TSSRDT, t.tssrdt, 8);
  r->ENCRYP = parse_decimal(t.encryp);
  r->TXSHDL = parse_decimal(t.txshdl);
  r->TXSOFL = parse_decimal(t.txsofl);
  if (r->TXSHDL < 4) return true;
  return out.put(&r->TXSHD, area_out(t.txshd, static_cast<std::size_t>(r->TXSHDL) - 3));
}

// The record's text members, in slot order, into their fields at their file widths.
template <class Field, class Record>
int take_strings(std::span<const Slot> slots, std::span<const Field> fields, Record& target,
                 const void* record) {
  for (const Slot& s : slots) {
    const char* text =
        nitf::load_member<const char>(static_cast<const unsigned char*>(record) + s.offset);
    if (!text) return RET_INVALID_PARAMETER;
    for (const Field& f : fields) {
      if (std::strcmp(f.name, s.name) != 0) continue;
      if (int r = nitf::CopyTextField(f.text(target), f.width, text); r != RET_SUCCESS) return r;
      break;
    }
  }
  return RET_SUCCESS;
}

void take_chars(char* field, const char* member, std::size_t n) {
  std::memcpy(field, member, n);
  field[n] = '\0';
}

// Numbers into their zero-filled fields; the first that does not fit is refused.
// Callers pass packed members by value (unary +): no reference may bind to them.
int take_numbers(std::initializer_list<std::tuple<char*, int, int64_t>> numbers) {
  for (const auto& [field, width, value] : numbers)
    if (int r = nitf::FormatNumberField(field, width, value); r != RET_SUCCESS) return r;
  return RET_SUCCESS;
}

// SY to SSCTLN come first in the slot table; SFMT and SCOLOR, later in the file, last.
constexpr std::size_t kGraphicLeadingStrings = 16;

int take_graphic_placement(NitfGraphicSubheader& g, const NitfGraphicHeader& r) {
  if (int rc = take_numbers({{g.sdlvl_text, 3, +r.SDLVL}, {g.salvl_text, 3, +r.SALVL}});
      rc != RET_SUCCESS)
    return rc;
  g.sdlvl = r.SDLVL;
  g.salvl = r.SALVL;
  const struct {
    char* field;
    int32_t row, column;
    int32_t *row_out, *column_out;
  } locations[] = {
      {g.sloc, r.SLOC_ROW, r.SLOC_COLUMN, &g.sloc_row, &g.sloc_column},
      {g.sbnd1, r.SBND1_ROW, r.SBND1_COLUMN, &g.sbnd1_first, &g.sbnd1_second},
      {g.sbnd2, r.SBND2_ROW, r.SBND2_COLUMN, &g.sbnd2_first, &g.sbnd2_second},
  };
  for (const auto& l : locations) {
    if (int rc = nitf::FormatLocationField(l.field, l.row, l.column); rc != RET_SUCCESS) return rc;
    *l.row_out = l.row;
    *l.column_out = l.column;
  }
  return RET_SUCCESS;
}

int set_graphic(NitfDocument* d, NitfGraphicSubheader& g, const NitfGraphicHeader& r) {
  const auto fields = nitf::graphic_fields();
  const std::span<const Slot> slots(kGraphicStrings);
  if (int rc = take_strings(slots.first(kGraphicLeadingStrings), fields, g, &r); rc != RET_SUCCESS)
    return rc;
  if (int rc = take_numbers({{g.encryp, 1, +r.ENCRYP}}); rc != RET_SUCCESS) return rc;
  if (int rc = take_strings(slots.subspan(kGraphicLeadingStrings, 1), fields, g, &r);
      rc != RET_SUCCESS)
    return rc;
  if (int rc = take_numbers({{g.sstruct, 13, +r.SSTRUCT}}); rc != RET_SUCCESS) return rc;
  if (int rc = take_graphic_placement(g, r); rc != RET_SUCCESS) return rc;
  if (int rc = take_strings(slots.subspan(kGraphicLeadingStrings + 1), fields, g, &r);
      rc != RET_SUCCESS)
    return rc;
  if (int rc = take_numbers({{g.sres2, 2, +r.SRES2}}); rc != RET_SUCCESS) return rc;
  std::int64_t delta = 0;
  int rc = nitf::SetExtensionArea(&g.sxshd, g.sxshdl, g.sxsofl, r.SXSHDL, r.SXSOFL,
                                  nitf::load_member<const void>(&r.SXSHD), &delta);
  nitf::AdjustSubheaderLength(d, nitf::SegmentKind::kGraphic, g.index, delta);
  if (rc != RET_SUCCESS) return rc;
  take_chars(g.ssdcdt, r.SSDCDT, 8);
  take_chars(g.ssdgdt, r.SSDGDT, 8);
  take_chars(g.sssrdt, r.SSSRDT, 8);
  return RET_SUCCESS;
}

// TE and TEXTID, then TXTITL to TSCTLN, then TXTFMT, as the slot table lists them.
constexpr std::size_t kTextIdentification = 2, kTextSecurity = 14;

int set_text(NitfDocument* d, NitfTextSubheader& t, const NitfTextHeader& r) {
  const auto fields = nitf::text_fields();
  const std::span<const Slot> slots(kTextStrings);
  if (int rc = take_strings(slots.first(kTextIdentification), fields, t, &r); rc != RET_SUCCESS)
    return rc;
  if (int rc = take_numbers({{t.txtalvl_text, 3, +r.TXTALVL}}); rc != RET_SUCCESS) return rc;
  t.txtalvl = r.TXTALVL;
  take_chars(t.txtdt, r.TXTDT, 14);
  if (int rc = take_strings(slots.subspan(kTextIdentification, kTextSecurity), fields, t, &r);
      rc != RET_SUCCESS)
    return rc;
  take_chars(t.tsdcdt, r.TSDCDT, 8);
  take_chars(t.tsdgdt, r.TSDGDT, 8);
  take_chars(t.tssrdt, r.TSSRDT, 8);
  if (int rc = take_numbers({{t.encryp, 1, +r.ENCRYP}}); rc != RET_SUCCESS) return rc;
  if (int rc = take_strings(slots.subspan(kTextIdentification + kTextSecurity), fields, t, &r);
      rc != RET_SUCCESS)
    return rc;
  std::int64_t delta = 0;
  int rc = nitf::SetExtensionArea(&t.txshd, t.txshdl, t.txsofl, r.TXSHDL, r.TXSOFL,
                                  nitf::load_member<const void>(&r.TXSHD), &delta);
  nitf::AdjustSubheaderLength(d, nitf::SegmentKind::kText, t.index, delta);
  return rc;
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFSetGraphicHeader(NitfDocument* d, int32_t index,
                                               NitfGraphicHeader* record) {
  if (!d) return RET_FAILURE;
  if (!record) return RET_BAD_ARGUMENT;
  NitfGraphicSubheader* g = record_at(d->graphics, d->graphic_count, index);
  if (!g) return RET_BAD_ARGUMENT;
  return set_graphic(d, *g, *record);
}

KV_API int32_t KV_CALL Kv_NITFSetTextHeader(NitfDocument* d, int32_t index,
                                            NitfTextHeader* record) {
  if (!d) return RET_FAILURE;
  if (!record) return RET_BAD_ARGUMENT;
  NitfTextSubheader* t = record_at(d->texts, d->text_count, index);
  if (!t) return RET_BAD_ARGUMENT;
  return set_text(d, *t, *record);
}

KV_API int32_t KV_CALL Kv_NITFGetGraphicHeader(NitfDocument* d, int32_t index,
                                               NitfGraphicHeader* record) {
  if (!d) return RET_FAILURE;
  NitfGraphicSubheader* g = record_at(d->graphics, d->graphic_count, index);
  if (!record || !g) return RET_BAD_ARGUMENT;
  nitf::OutList out;
  if (!fill_graphic(out, *g, record)) {
    out.release_all();
    return RET_NO_MEMORY;
  }
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL Kv_NITFFreeGraphicHeader(NitfGraphicHeader* record) {
  if (!record) return RET_BAD_ARGUMENT;
  release_strings(kGraphicStrings, record);
  nitf::release_member(&record->SXSHD);
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL Kv_NITFGetTextHeader(NitfDocument* d, int32_t index,
                                            NitfTextHeader* record) {
  if (!d) return RET_FAILURE;
  NitfTextSubheader* t = record_at(d->texts, d->text_count, index);
  if (!record || !t) return RET_BAD_ARGUMENT;
  nitf::OutList out;
  if (!fill_text(out, *t, record)) {
    out.release_all();
    return RET_NO_MEMORY;
  }
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL Kv_NITFFreeTextHeader(NitfTextHeader* record) {
  if (!record) return RET_BAD_ARGUMENT;
  release_strings(kTextStrings, record);
  nitf::release_member(&record->TXSHD);
  return RET_SUCCESS;
}
