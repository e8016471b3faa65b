// Kv_NITFGetFieldTable: each header kind's field table as applications see it.
//
// The descriptions are made once from the tables the readers, writers, getters and
// setters use, and live as long as the module.
#include <kvntfu.h>

#include <cstring>
#include <iterator>
#include <span>

#include "core/nitffile.h"
#include "core/ntfhdr.h"
#include "graphics_text/dexsbhdr.h"
#include "graphics_text/grsubhdr.h"
#include "graphics_text/txsubhdr.h"
#include "image/imsubhdr.h"

namespace {

// Room for the longest table; describe() checks it.
struct Descriptions {
  NitfFieldInfo fields[64];
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
  const Descriptions* kinds[] = {&file, &image, &symbol, &text, &des, &label};
  const int32_t plain = kind & ~KV_FIELDS_NITF20;
  return plain >= 0 && plain < 6 ? kinds[plain] : nullptr;
}

const Descriptions* descriptions(int32_t kind) {
  if (kind & KV_FIELDS_NITF20) return descriptions20(kind);
  static const Descriptions file = describe(nitf::header_fields());
  static const Descriptions image = describe(nitf::image_fields());
  static const Descriptions graphic = describe(nitf::graphic_fields());
  static const Descriptions text = describe(nitf::text_fields());
  static const Descriptions des = describe(nitf::des_fields());
  switch (kind) {
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

// The field's characters into the caller's buffer.
template <class R>
int32_t copy_text(std::span<const nitf::Field<R>> table, R& record, const char* name, char* buffer,
                  int32_t size) {
  const nitf::Field<R>* f = nitf::find_field(table, name);
  if (!f || !f->text || size <= f->width) return RET_INVALID_PARAMETER;
  const char* text = f->in_file(record) ? f->text(record) : "";
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
    default:
      return 0;
  }
}
