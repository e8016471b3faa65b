// The TRE exports: a header's TREs listed and decoded through the dictionary, a TRE
// replaced or added from JSON, and data extension segments described.
//
// A header's TREs are those of its areas in file order and then those that TRE_OVERFLOW
// segments carry for it (DESOFLW names the area, DESITEM the segment, counted from 1).
// A change rebuilds the area's bytes and goes through SetExtensionArea, so the area's
// length field, the subheader length, HL and FL move as they do for the setters.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/trearea.h"
#include "fields/fieldreader.h"
#include "graphics_text/dexsbhdr.h"
#include "graphics_text/grsubhdr.h"
#include "graphics_text/lasubhdr.h"
#include "graphics_text/txsubhdr.h"
#include "image/imsubhdr.h"
#include "kernel.h"
#include "tre/json.h"
#include "tre/tre.h"
#include "writing/utility_setters.h"

namespace {

using nitf::TreArea;
namespace tre = nitf::tre;

// One of a header's areas: the bytes, its length and overflow fields, and how a change
// of its length is booked.
struct Area {
  TreArea* area = nullptr;
  char* length = nullptr;
  char* overflow = nullptr;
  const char* name = nullptr;  // as DESOFLW names it
  std::int32_t code = KV_TRE_USER;
};

struct Header {
  std::vector<Area> areas;  // user-defined first
  nitf::SegmentKind kind = nitf::SegmentKind::kImage;
  bool file = false;
  std::int32_t des = -1;  // a data extension segment
};

// A TRE located in a header.
struct Located {
  std::string tag;
  std::vector<std::uint8_t> data;
  std::int32_t area = KV_TRE_USER;  // KV_TRE_*
  std::size_t area_index = 0;       // into Header::areas, for the stored ones
  std::size_t offset = 0;           // of the tag in its area
  std::size_t span = 0;             // bytes it takes in its area, tag and CEL included
  std::int32_t segment = -1;        // the TRE_OVERFLOW segment
  std::string broken;               // why the bytes make no whole TRE
};

// The dictionary's reading of a located TRE; bytes that make no whole TRE are
// malformed whatever their tag.
tre::Decoded decoded(const Located& l) {
  tre::Decoded d = tre::decode(l.tag, l.data.data(), l.data.size());
  if (!l.broken.empty()) {
    d.fields.clear();
    d.status = tre::Status::kMalformed;
    d.reason = l.broken;
    d.field = "CEL";
    d.offset = 0;
  }
  return d;
}

std::string trim(const char* s) {
  std::string t(s);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
  return t;
}

int header_of(NitfDocument* d, std::int32_t kind, std::int32_t index, Header* h) {
  // A NITF 2.0 symbol is a graphic of the records.
  if (kind == KV_FIELDS_SYMBOL) kind = KV_FIELDS_GRAPHIC;
  auto in = [&](std::size_t count) {
    return index >= 0 && static_cast<std::size_t>(index) < count;
  };
  switch (kind) {
    case KV_FIELDS_FILE: {
      auto& f = d->header;
      h->file = true;
      h->areas = {{&f.udhd, f.udhdl, f.udhofl, "UDHD", KV_TRE_USER},
                  {&f.xhd, f.xhdl, f.xhdlofl, "XHD", KV_TRE_EXTENDED}};
      return RET_SUCCESS;
    }
    case KV_FIELDS_IMAGE: {
      if (!in(d->images.size()) || !d->images[index].get()) return RET_INVALID_PARAMETER;
      auto& r = *d->images[index].get();
      h->kind = nitf::SegmentKind::kImage;
      h->areas = {{&r.udid, r.udidl, r.udofl, "UDID", KV_TRE_USER},
                  {&r.ixshd, r.ixshdl, r.ixsofl, "IXSHD", KV_TRE_EXTENDED}};
      return RET_SUCCESS;
    }
    case KV_FIELDS_GRAPHIC: {
      if (!in(d->graphics.size()) || !d->graphics[index].get()) return RET_INVALID_PARAMETER;
      auto& r = *d->graphics[index].get();
      h->kind = nitf::SegmentKind::kGraphic;
      h->areas = {{&r.sxshd, r.sxshdl, r.sxsofl, "SXSHD", KV_TRE_EXTENDED}};
      return RET_SUCCESS;
    }
    case KV_FIELDS_TEXT: {
      if (!in(d->texts.size()) || !d->texts[index].get()) return RET_INVALID_PARAMETER;
      auto& r = *d->texts[index].get();
      h->kind = nitf::SegmentKind::kText;
      h->areas = {{&r.txshd, r.txshdl, r.txsofl, "TXSHD", KV_TRE_EXTENDED}};
      return RET_SUCCESS;
    }
    case KV_FIELDS_LABEL: {
      if (!in(d->labels.size()) || !d->labels[index].get()) return RET_INVALID_PARAMETER;
      auto& r = *d->labels[index].get();
      h->kind = nitf::SegmentKind::kLabel;
      h->areas = {{&r.lxshd, r.lxshdl, r.lxsofl, "LXSHD", KV_TRE_EXTENDED}};
      return RET_SUCCESS;
    }
    case KV_FIELDS_DES:
      if (!in(d->des.size()) || !d->des[index].get()) return RET_INVALID_PARAMETER;
      h->des = index;
      return RET_SUCCESS;
    default:
      return RET_BAD_ARGUMENT;
  }
}

// The data of data extension segment `index`, read from the source file.
int des_data(NitfDocument* d, std::uint32_t index, std::vector<std::uint8_t>* out) {
  const nitf::LengthTables* t = nitf::tables_of(d->header, nitf::SegmentKind::kDataExtension);
  if (!t || d->file < 0) return RET_FILE_READ;
  const std::uint64_t n = t->data(index);
  const std::int64_t at = nitf::segment_data_offset(*d, nitf::SegmentKind::kDataExtension, index);
  if (at < 0 || at > d->file_size || n > static_cast<std::uint64_t>(d->file_size - at))
    return RET_FILE_READ;
  out->resize(static_cast<std::size_t>(n));
  if (kernel::seek_file(d->file, at, kernel::kSeekSet) != at) return RET_FILE_READ;
  if (n && kernel::read_file(d->file, out->data(), n) != n) return RET_FILE_READ;
  return RET_SUCCESS;
}

bool is_overflow(const nitf::NitfDesSubheader& r) {
  return trim(r.desid) == "TRE_OVERFLOW";
}

void split_into(const std::uint8_t* bytes, std::size_t n, std::int32_t area, std::size_t area_index,
                std::int32_t segment, std::vector<Located>* out) {
  bool complete = true;
  const std::vector<tre::AreaEntry> entries = tre::split_area(bytes, n, &complete);
  for (const tre::AreaEntry& e : entries) {
    Located l;
    l.tag = e.tag;
    l.data.assign(bytes + e.offset, bytes + e.offset + e.length);
    l.area = area;
    l.area_index = area_index;
    l.offset = e.offset - 11;
    l.span = 11 + e.length;
    l.segment = segment;
    out->push_back(std::move(l));
  }
  // Bytes that do not make a whole TRE stay visible as one unknown entry.
  const std::size_t used = entries.empty() ? 0 : entries.back().offset + entries.back().length;
  if (!complete && used < n) {
    Located rest;
    rest.data.assign(bytes + used, bytes + n);
    if (n - used >= 6) rest.tag.assign(reinterpret_cast<const char*>(bytes + used), 6);
    while (!rest.tag.empty() && (rest.tag.back() == ' ' || rest.tag.back() == '\0'))
      rest.tag.pop_back();
    rest.broken = "the last " + std::to_string(n - used) +
                  " bytes of the area make no whole TRE (tag, CEL and CEL bytes)";
    rest.area = area;
    rest.area_index = area_index;
    rest.offset = used;
    rest.span = n - used;
    rest.segment = segment;
    out->push_back(std::move(rest));
  }
}

int collect(NitfDocument* d, const Header& h, std::int32_t index, std::vector<Located>* out) {
  if (h.des >= 0) {
    if (!is_overflow(*d->des[h.des].get())) return RET_SUCCESS;
    std::vector<std::uint8_t> data;
    if (int r = des_data(d, static_cast<std::uint32_t>(h.des), &data); r != RET_SUCCESS) return r;
    split_into(data.data(), data.size(), KV_TRE_USER, 0, h.des, out);
    return RET_SUCCESS;
  }
  for (std::size_t a = 0; a < h.areas.size(); ++a)
    split_into(h.areas[a].area->data(), h.areas[a].area->size(), h.areas[a].code, a, -1, out);
  // The TREs that did not fit this header's areas.
  const std::uint32_t item = h.file ? 0 : static_cast<std::uint32_t>(index) + 1;
  for (std::size_t i = 0; i < d->des.size(); ++i) {
    const nitf::NitfDesSubheader* r = d->des[i].get();
    if (!r || !is_overflow(*r)) continue;
    const std::string where = trim(r->desoflw);
    bool ours = false;
    for (const Area& a : h.areas) ours = ours || where == a.name;
    if (!ours || nitf::parse_decimal(r->desitem) != static_cast<std::int32_t>(item)) continue;
    std::vector<std::uint8_t> data;
    if (des_data(d, static_cast<std::uint32_t>(i), &data) != RET_SUCCESS) continue;
    split_into(data.data(), data.size(), KV_TRE_OVERFLOW, 0, static_cast<std::int32_t>(i), out);
  }
  return RET_SUCCESS;
}

int located(NitfDocument* d, std::int32_t kind, std::int32_t index, Header* h,
            std::vector<Located>* list) {
  if (!d) return RET_FAILURE;
  if (int r = header_of(d, kind, index, h); r != RET_SUCCESS) return r;
  return collect(d, *h, index, list);
}

char* copy_out(const std::string& s) {
  char* p = new (std::nothrow) char[s.size() + 1];
  if (p) std::memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

int refuse(const std::string& why) {
  kernel::debug_output(("TRE not set: " + why).c_str());
  return RET_INVALID_PARAMETER;
}

// The bytes a JSON request stands for: the tag (6 characters, blank-filled) and data.
int request_bytes(const char* json, std::string* tag, std::vector<std::uint8_t>* data) {
  tre::JsonValue v;
  std::string reason;
  if (!tre::parse_json(json, &v, &reason)) return refuse("JSON: " + reason);
  const tre::JsonValue* t = v.find("tag");
  if (v.type != tre::JsonValue::kObject || !t || t->type != tre::JsonValue::kString ||
      t->text.empty() || t->text.size() > 6)
    return refuse("no \"tag\" of 1 to 6 characters");
  *tag = t->text;
  if (const tre::JsonValue* hex = v.find("hex"); hex && hex->type == tre::JsonValue::kString) {
    // The bytes as they are: decode an unknown TRE's hexadecimal through a binary field.
    static constexpr tre::Entry kBytes[] = {tre::Rest("hex", tre::Kind::kB)};
    const tre::Description raw{"", kBytes};
    if (!tre::encode(raw, v, data, &reason)) return refuse(reason);
    return RET_SUCCESS;
  }
  const tre::Description* d = tre::find_description(*tag);
  if (!d) return refuse("no description of " + *tag + " and no \"hex\"");
  const tre::JsonValue* fields = v.find("fields");
  if (!fields || fields->type != tre::JsonValue::kObject) return refuse("no \"fields\" object");
  if (!tre::encode(*d, *fields, data, &reason)) return refuse(*tag + ": " + reason);
  return RET_SUCCESS;
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFGetTreCount(NitfDocument* d, int32_t kind, int32_t index,
                                          int32_t* count) {
  if (!count) return RET_BAD_ARGUMENT;
  *count = 0;
  try {
    Header h;
    std::vector<Located> list;
    if (int r = located(d, kind, index, &h, &list); r != RET_SUCCESS) return r;
    *count = static_cast<int32_t>(list.size());
    return RET_SUCCESS;
  } catch (const std::bad_alloc&) {
    return RET_NO_MEMORY;
  }
}

KV_API int32_t KV_CALL Kv_NITFGetTreInfo(NitfDocument* d, int32_t kind, int32_t index, int32_t tre,
                                         NitfTreInfo* info) {
  if (!info) return RET_BAD_ARGUMENT;
  try {
    Header h;
    std::vector<Located> list;
    if (int r = located(d, kind, index, &h, &list); r != RET_SUCCESS) return r;
    if (tre < 0 || static_cast<std::size_t>(tre) >= list.size()) return RET_INVALID_PARAMETER;
    const Located& l = list[tre];
    const tre::Decoded dec = decoded(l);
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->tag, l.tag.data(), l.tag.size() < 6 ? l.tag.size() : 6);
    info->length = static_cast<int32_t>(l.data.size());
    info->area = l.area;
    info->status = static_cast<int32_t>(dec.status);
    info->segment = l.segment;
    return RET_SUCCESS;
  } catch (const std::bad_alloc&) {
    return RET_NO_MEMORY;
  }
}

KV_API int32_t KV_CALL Kv_NITFGetTreJson(NitfDocument* d, int32_t kind, int32_t index, int32_t tre,
                                         char** json) {
  if (!json) return RET_BAD_ARGUMENT;
  *json = nullptr;
  try {
    Header h;
    std::vector<Located> list;
    if (int r = located(d, kind, index, &h, &list); r != RET_SUCCESS) return r;
    if (tre < 0 || static_cast<std::size_t>(tre) >= list.size()) return RET_INVALID_PARAMETER;
    *json = copy_out(tre::to_json(decoded(list[tre])));
    return *json ? RET_SUCCESS : RET_NO_MEMORY;
  } catch (const std::bad_alloc&) {
    return RET_NO_MEMORY;
  }
}

KV_API int32_t KV_CALL Kv_NITFFreeTreJson(char** json) {
  if (!json) return RET_BAD_ARGUMENT;
  delete[] * json;
  *json = nullptr;
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL Kv_NITFSetTreJson(NitfDocument* d, int32_t kind, int32_t index, int32_t tre,
                                         const char* json) {
  if (!json) return RET_BAD_ARGUMENT;
  try {
    Header h;
    std::vector<Located> list;
    if (int r = located(d, kind, index, &h, &list); r != RET_SUCCESS) return r;
    if (h.des >= 0) return refuse("the TREs of a data extension segment are not set");
    if (tre < -1 || (tre >= 0 && static_cast<std::size_t>(tre) >= list.size()))
      return RET_INVALID_PARAMETER;
    if (tre >= 0 && list[tre].area == KV_TRE_OVERFLOW)
      return refuse("a TRE of a TRE_OVERFLOW segment is not set");
    std::string tag;
    std::vector<std::uint8_t> data;
    if (int r = request_bytes(json, &tag, &data); r != RET_SUCCESS) return r;
    char head[12];
    std::snprintf(head, sizeof head, "%-6.6s%05zu", tag.c_str(), data.size());
    // The area rebuilt: the TREs before, the new one, the TREs after.
    const std::size_t which = tre >= 0 ? list[tre].area_index : h.areas.size() - 1;
    const Area& a = h.areas[which];
    const std::uint8_t* old = a.area->data();
    const std::size_t old_size = a.area->size();
    const std::size_t at = tre >= 0 ? list[tre].offset : old_size;
    const std::size_t after = tre >= 0 ? at + list[tre].span : old_size;
    std::vector<std::uint8_t> bytes(old, old + at);
    bytes.insert(bytes.end(), head, head + 11);
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), old + after, old + old_size);
    // The length field holds the overflow field too.
    if (bytes.size() + 3 > 99999) return refuse(std::string(a.name) + " would pass 99999 bytes");
    std::int64_t delta = 0;
    const std::int64_t overflow = a.overflow[0] ? nitf::parse_decimal(a.overflow) : 0;
    if (int r = nitf::SetExtensionArea(a.area, a.length, a.overflow,
                                       static_cast<std::int64_t>(bytes.size()) + 3, overflow,
                                       bytes.data(), &delta);
        r != RET_SUCCESS)
      return r;
    if (h.file) {
      nitf::AdjustHeaderLength(d, delta);
    } else {
      nitf::AdjustSubheaderLength(d, h.kind, static_cast<std::uint32_t>(index), delta);
    }
    return RET_SUCCESS;
  } catch (const std::bad_alloc&) {
    return RET_NO_MEMORY;
  }
}

KV_API int32_t KV_CALL Kv_NITFDecodeTre(const char* tag, const uint8_t* data, int32_t length,
                                        char** json) {
  if (!json) return RET_BAD_ARGUMENT;
  *json = nullptr;
  if (!tag || length < 0 || (!data && length > 0)) return RET_BAD_ARGUMENT;
  try {
    std::string t(tag, strnlen(tag, 6));
    *json = copy_out(tre::to_json(tre::decode(t, data, static_cast<std::size_t>(length))));
    return *json ? RET_SUCCESS : RET_NO_MEMORY;
  } catch (const std::bad_alloc&) {
    return RET_NO_MEMORY;
  }
}

KV_API int32_t KV_CALL Kv_NITFGetDesJson(NitfDocument* d, int32_t index, char** json) {
  if (!json) return RET_BAD_ARGUMENT;
  *json = nullptr;
  if (!d) return RET_FAILURE;
  if (index < 0 || static_cast<std::size_t>(index) >= d->des.size() || !d->des[index].get())
    return RET_INVALID_PARAMETER;
  try {
    const nitf::NitfDesSubheader& r = *d->des[index].get();
    const std::string desid = trim(r.desid);
    std::string out =
        "{\"desid\":" + tre::json_quote(desid) + ",\"desver\":" + tre::json_quote(trim(r.desver));
    const std::size_t shl = r.desshf.empty() ? 0 : r.desshf.size() - 1;
    out += ",\"desshl\":" + std::to_string(shl);
    if (shl) {
      const auto* p = reinterpret_cast<const std::uint8_t*>(r.desshf.data());
      out += ",\"user_fields\":" + tre::to_json(tre::decode(desid, p, shl));
    }
    if (is_overflow(r)) {
      out += ",\"desoflw\":" + tre::json_quote(trim(r.desoflw)) +
             ",\"desitem\":" + std::to_string(nitf::parse_decimal(r.desitem));
    } else if (desid == "XML_DATA_CONTENT") {
      std::vector<std::uint8_t> data;
      if (int rc = des_data(d, static_cast<std::uint32_t>(index), &data); rc != RET_SUCCESS)
        return rc;
      out += ",\"xml\":" +
             tre::json_quote({reinterpret_cast<const char*>(data.data()), data.size()}, true);
    }
    *json = copy_out(out + "}");
    return *json ? RET_SUCCESS : RET_NO_MEMORY;
  } catch (const std::bad_alloc&) {
    return RET_NO_MEMORY;
  }
}
