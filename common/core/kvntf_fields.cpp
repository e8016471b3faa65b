// Kv_NITFGetFieldTable: each header kind's field table as applications see it.
//
// The descriptions are made once from the tables the readers, writers, getters and
// setters use, and live as long as the module.
#include <kvntfu.h>

#include <iterator>
#include <span>

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

const Descriptions* descriptions(int32_t kind) {
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
