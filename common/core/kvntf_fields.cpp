// Kv_NITFGetFieldTable: each header kind's field table as applications see it.
//
// The descriptions are made once from the tables the readers, writers, getters and
// setters use, and live as long as the module.
#include <kvntfu.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>
#include <string_view>

#include "core/nitffile.h"
#include "core/ntfhdr.h"
#include "fields/utility.h"
#include "graphics_text/dexsbhdr.h"
#include "graphics_text/grsubhdr.h"
#include "graphics_text/resubhdr.h"
#include "graphics_text/txsubhdr.h"
#include "image/imsubhdr.h"

namespace {

// Room for the longest table; describe() checks it.
struct Descriptions {
  NitfFieldInfo fields[80];
  int32_t count = 0;
};

template <class R>
Descriptions describe(std::span<const nitf::Field<R>> table) {
  Descriptions out;
  for (const nitf::Field<R>& f : table) {
    if (out.count == static_cast<int32_t>(std::size(out.fields))) break;
    out.fields[out.count++] = nitf::describe(f);
  }
  return out;
}

const Descriptions* descriptions20(int32_t kind) {
  static const Descriptions file = describe(nitf::header20_fields());
  static const Descriptions image = describe(nitf::image20_fields());
  static const Descriptions symbol = describe(nitf::symbol20_fields());
  static const Descriptions label = describe(nitf::label_fields());
  static const Descriptions text = describe(nitf::text20_fields());
  static const Descriptions des = describe(nitf::des20_fields());
  static const Descriptions res = describe(nitf::res20_fields());
  const Descriptions* kinds[] = {&file, &image, &symbol, &text, &des, &label, &res};
  const int32_t plain = kind & ~KV_FIELDS_NITF20;
  return plain >= 0 && plain < 7 ? kinds[plain] : nullptr;
}

const Descriptions* descriptions(int32_t kind) {
  if (kind & KV_FIELDS_NITF20) return descriptions20(kind);
  static const Descriptions file = describe(nitf::header_fields());
  static const Descriptions image = describe(nitf::image_fields());
  static const Descriptions graphic = describe(nitf::graphic_fields());
  static const Descriptions text = describe(nitf::text_fields());
  static const Descriptions des = describe(nitf::des_fields());
  static const Descriptions res = describe(nitf::res_fields());
  switch (kind) {
    case KV_FIELDS_RES:
      return &res;
    case KV_FIELDS_FILE:
      return &file;
    case KV_FIELDS_IMAGE:
      return &image;
    case KV_FIELDS_GRAPHIC:
      return &graphic;
    case KV_FIELDS_TEXT:
      return &text;
    case KV_FIELDS_DES:
      return &des;
    default:
      return nullptr;
  }
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFGetFieldTable(int32_t kind, const NitfFieldInfo** fields,
                                            int32_t* count) {
  const Descriptions* table = descriptions(kind);
  if (!table || !fields || !count) return RET_BAD_ARGUMENT;
  *fields = table->fields;
  *count = table->count;
  return RET_SUCCESS;
}

namespace {

// The entry number a repeated field's entry is asked for by: the digits in place of
// the field name's final n, or after it (ICOM2 of ICOMn, LISH2 of LISH); 0 for none.
std::size_t entry_number(std::string_view field, std::string_view name) {
  if (field.ends_with('n')) field.remove_suffix(1);
  if (name.size() <= field.size() || !name.starts_with(field)) return 0;
  std::size_t k = 0;
  for (char c : name.substr(field.size())) {
    if (c < '0' || c > '9' || k > 99999) return 0;
    k = k * 10 + static_cast<std::size_t>(c - '0');
  }
  return k;
}

// Entry k (from 1) of a length table: the length the next saved file gets, at the
// field's width.
template <class Group>
const char* length_entry(const nitf::NitfFileHeaderData& h, std::span<const Group> groups,
                         const nitf::HeaderField& f, std::size_t k, char* scratch) {
  for (const Group& g : groups) {
    const bool sub = static_cast<int>(g.subheader) == f.id;
    if (!sub && static_cast<int>(g.data) != f.id) continue;
    const nitf::LengthTables& t = h.*g.tables;
    if (k > static_cast<std::size_t>(std::max(t.count, 0))) return nullptr;
    const auto& lengths = sub ? t.subheader_current : t.data_current;
    return nitf::number_text(scratch, f.width, static_cast<std::int64_t>(lengths.at_or(k - 1, 0)));
  }
  return nullptr;
}

const char* entry_text(nitf::NitfFileHeaderData& h, const nitf::HeaderField& f, std::size_t k,
                       char* scratch) {
  return h.nitf20 ? length_entry(h, nitf::length_groups20(), f, k, scratch)
                  : length_entry(h, nitf::length_groups(), f, k, scratch);
}

// An image's comment or band field.
const char* entry_text(nitf::NitfImageSubheader& r, const nitf::ImageField& f, std::size_t k,
                       char*) {
  if (std::strcmp(f.name, "ICOMn") == 0)
    return k <= static_cast<std::size_t>(std::max(r.comment_count, 0)) && k <= r.comments.size()
               ? r.comments[k - 1].text
               : nullptr;
  const auto* band = nitf::find_field(nitf::band_fields(), f.name);
  if (!band || k > static_cast<std::size_t>(std::max(r.band_count, 0)) || k > r.bands.size())
    return nullptr;
  return band->in_file(r.bands[k - 1]) ? band->text(r.bands[k - 1]) : "";
}

// The other kinds repeat nothing.
template <class R>
const char* entry_text(R&, const nitf::Field<R>&, std::size_t, char*) {
  return nullptr;
}

// The field's characters into the caller's buffer: a field by its name, an entry of a
// repeated field by its numbered name, a binary colour in hexadecimal.
template <class R>
int32_t copy_text(std::span<const nitf::Field<R>> table, R& record, const char* name, char* buffer,
                  int32_t size) {
  const nitf::Field<R>* f = nitf::find_field(table, name);
  char scratch[32];
  const char* text = nullptr;
  if (f && f->text && f->form == KV_FORM_COLOUR) {
    if (size <= 2 * f->width) return RET_INVALID_PARAMETER;
    const auto* bytes = reinterpret_cast<const unsigned char*>(f->text(record));
    for (int i = 0; i < f->width; ++i) std::snprintf(buffer + 2 * i, 3, "%02x", bytes[i]);
    return RET_SUCCESS;
  }
  if (f && f->text) {
    text = f->in_file(record) ? f->text(record) : "";
  } else if (!f) {
    for (const nitf::Field<R>& g : table) {
      const std::size_t k = (g.flags & KV_FIELD_REPEATED) ? entry_number(g.name, name) : 0;
      if (k == 0) continue;
      f = &g;
      text = entry_text(record, g, k, scratch);
      break;
    }
  }
  if (!text || size <= f->width) return RET_INVALID_PARAMETER;
  std::size_t n = strnlen(text, f->width);
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return RET_SUCCESS;
}

template <class R>
R* record_at(const nitf::SegmentList<R>& list, int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return nullptr;
  return list[static_cast<std::size_t>(index)].get();
}

template <class R, class Table>
int32_t segment_text(const nitf::SegmentList<R>& list, int32_t index, Table table_of,
                     const char* name, char* buffer, int32_t size) {
  R* r = record_at(list, index);
  return r ? copy_text(table_of(*r), *r, name, buffer, size) : RET_INVALID_PARAMETER;
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFGetFieldText(NitfDocument* d, int32_t kind, int32_t index,
                                           const char* name, char* buffer, int32_t size) {
  if (!d) return RET_FAILURE;
  if (!name || !buffer) return RET_BAD_ARGUMENT;
  const bool v20 = d->header.nitf20 != 0;
  switch (kind & ~KV_FIELDS_NITF20) {
    case KV_FIELDS_FILE:
      return copy_text(nitf::header_fields(d->header), d->header, name, buffer, size);
    case KV_FIELDS_IMAGE:
      return segment_text(
          d->images, index,
          [v20](auto&) { return v20 ? nitf::image20_fields() : nitf::image_fields(); }, name,
          buffer, size);
    case KV_FIELDS_GRAPHIC:
      return segment_text(
          d->graphics, index, [](auto& r) { return nitf::graphic_fields(r); }, name, buffer, size);
    case KV_FIELDS_TEXT:
      return segment_text(
          d->texts, index, [](auto& r) { return nitf::text_fields(r); }, name, buffer, size);
    case KV_FIELDS_DES:
      return segment_text(
          d->des, index, [](auto& r) { return nitf::des_fields(r); }, name, buffer, size);
    case KV_FIELDS_LABEL & ~KV_FIELDS_NITF20:
      return segment_text(
          d->labels, index, [](auto&) { return nitf::label_fields(); }, name, buffer, size);
    case KV_FIELDS_RES:
      return segment_text(
          d->res, index, [](auto& r) { return nitf::res_fields(r); }, name, buffer, size);
    default:
      return RET_BAD_ARGUMENT;
  }
}

KV_API int32_t KV_CALL Kv_NITFGetSegmentCount(NitfDocument* d, int32_t kind) {
  if (!d) return 0;
  switch (kind & ~KV_FIELDS_NITF20) {
    case KV_FIELDS_IMAGE:
      return static_cast<int32_t>(nitf::count_present(d->images));
    case KV_FIELDS_GRAPHIC:
      return static_cast<int32_t>(nitf::count_present(d->graphics));
    case KV_FIELDS_TEXT:
      return static_cast<int32_t>(nitf::count_present(d->texts));
    case KV_FIELDS_DES:
      return static_cast<int32_t>(nitf::count_present(d->des));
    case KV_FIELDS_LABEL & ~KV_FIELDS_NITF20:
      return static_cast<int32_t>(nitf::count_present(d->labels));
    case KV_FIELDS_RES:
      return static_cast<int32_t>(nitf::count_present(d->res));
    default:
      return 0;
  }
}
