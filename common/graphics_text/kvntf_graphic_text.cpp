// The graphic and text subheaders' public records: Kv_NITFGetGraphicHeader,
// Kv_NITFSetGraphicHeader, Kv_NITFFreeGraphicHeader and their text counterparts.
//
// A get copies the in-memory record of one segment through its kind's field table:
// every text field as it stands (blank padding kept), the numeric fields converted from
// their text, the extension area's bytes. A set judges every member first and refuses
// the record without changing anything when one would be refused, then takes them in
// file order; a text longer than its field in the file is refused rather than cut when
// saved.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/records.h"
#include "fields/fieldreader.h"
#include "fields/utility.h"
#include "writing/utility_setters.h"

using nitf::NitfGraphicSubheader;
using nitf::NitfTextSubheader;

namespace {

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
  if (!nitf::get_fields(nitf::graphic_fields(), g, r, out)) return false;
  if (r->SXSHDL < 3 || !g.sxshd.present()) return true;
  return out.put(&r->SXSHD, area_out(g.sxshd, static_cast<std::size_t>(r->SXSHDL) - 3));
}

bool fill_text(nitf::OutList& out, NitfTextSubheader& t, NitfTextHeader* r) {
  nitf::release_member(&r->TXSHD);
  if (!nitf::get_fields(nitf::text_fields(), t, r, out)) return false;
  if (r->TXSHDL < 4) return true;
  return out.put(&r->TXSHD, area_out(t.txshd, static_cast<std::size_t>(r->TXSHDL) - 3));
}

// A subheader's extension area and the public record's values for it.
struct AreaSetting {
  int length_id;  // where the area stands in the field table
  nitf::TreArea& area;
  char *length, *overflow;
  int32_t length_value, overflow_value;
  const void* data;
};

// Every member judged (the generic ones on a trial record), then all taken in file
// order; the extension area where its length field stands, moving the subheader's length
// (and FL) by what it changed. After the checks only a refused allocation stops it.
template <class Record>
int set_fields(NitfDocument* d, Record& s, const void* record, nitf::SegmentKind kind,
               std::span<const nitf::Field<Record>> table, const AreaSetting& a) {
  Record trial(d, s.index);
  if (int rc = nitf::check_fields(table, trial, record); rc != RET_SUCCESS) return rc;
  if (int rc = nitf::CheckExtensionArea(a.length, a.length_value, a.overflow_value, a.data);
      rc != RET_SUCCESS)
    return rc;
  for (const auto& f : table) {
    if (f.id == a.length_id) {
      std::int64_t delta = 0;
      int rc = nitf::SetExtensionArea(&a.area, a.length, a.overflow, a.length_value,
                                      a.overflow_value, a.data, &delta);
      nitf::AdjustSubheaderLength(d, kind, s.index, delta);
      if (rc != RET_SUCCESS) return rc;
    } else if (nitf::generic_settable(f)) {
      if (int rc = nitf::set_field(f, s, record, nitf::LongText::kRefuse); rc != RET_SUCCESS)
        return rc;
    }
  }
  return RET_SUCCESS;
}

int set_graphic(NitfDocument* d, NitfGraphicSubheader& g, const NitfGraphicHeader& r) {
  // The record's own layout: a NITF 2.0 symbol takes its fields at the 2.0 widths.
  const auto table = nitf::graphic_fields(g);
  const AreaSetting area{
      nitf::find_field(table, "SXSHDL")->id,  g.sxshd, g.sxshdl, g.sxsofl, r.SXSHDL, r.SXSOFL,
      nitf::load_member<const void>(&r.SXSHD)};
  return set_fields(d, g, &r, nitf::SegmentKind::kGraphic, table, area);
}

int set_text(NitfDocument* d, NitfTextSubheader& t, const NitfTextHeader& r) {
  const auto table = nitf::text_fields(t);
  const AreaSetting area{
      nitf::find_field(table, "TXSHDL")->id,  t.txshd, t.txshdl, t.txsofl, r.TXSHDL, r.TXSOFL,
      nitf::load_member<const void>(&r.TXSHD)};
  return set_fields(d, t, &r, nitf::SegmentKind::kText, table, area);
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
  nitf::release_strings(nitf::graphic_fields(), record);
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
  nitf::release_strings(nitf::text_fields(), record);
  nitf::release_member(&record->TXSHD);
  return RET_SUCCESS;
}
