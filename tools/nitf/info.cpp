// nitf info: what a file holds, built from the module's public records only, as any
// application would see it.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cli.h"
#include "fields.h"
#include "listing.h"
#include "tres.h"

namespace cli {
namespace {

std::vector<long long> table(const uint32_t* values, long long count) {
  std::vector<long long> out;
  for (long long i = 0; values && i < count; ++i) out.push_back(values[i]);
  return out;
}

// Tags of the TREs in an extension area, each with its length.
std::vector<std::string> tre_tags(const uint8_t* area, long long length_field) {
  std::vector<std::string> tags;
  if (!area || length_field <= 3) return tags;
  std::size_t n = static_cast<std::size_t>(length_field) - 3, at = 0;
  while (at + 11 <= n) {
    std::string tag = trimmed(reinterpret_cast<const char*>(area + at), 6);
    std::size_t cel = 0;
    for (int i = 0; i < 5; ++i) {
      char c = static_cast<char>(area[at + 6 + i]);
      cel = cel * 10 + static_cast<std::size_t>(c >= '0' && c <= '9' ? c - '0' : 0);
    }
    tags.push_back(tag + " (" + std::to_string(cel) + " bytes)");
    at += 11 + cel;
  }
  return tags;
}

template <class T>
T* pointer_at(const void* record, int offset) {
  T* p;
  std::memcpy(&p, member_at(record, offset), sizeof p);
  return p;
}

// One listed field, as its form holds it. An extension area shows as the number of its
// TREs and their tags; a conditional number that is 0 stands for a field the file
// does not have.
void add_field(Section& s, const void* r, const NitfFieldInfo& f) {
  const std::string key = lower_name(f);
  switch (f.form) {
    case KV_FORM_STRING:
      s.text(key.c_str(), trimmed(pointer_at<const char>(r, f.offset)));
      break;
    case KV_FORM_CHARS:
      s.text(key.c_str(), trimmed(static_cast<const char*>(member_at(r, f.offset)),
                                  static_cast<std::size_t>(f.width)));
      break;
    case KV_FORM_NUMBER:
    case KV_FORM_UNSIGNED:
      if ((f.flags & KV_FIELD_CONDITIONAL) && number_at(r, f, f.offset) == 0) break;
      s.number(key.c_str(), number_at(r, f, f.offset));
      break;
    case KV_FORM_LOCATION:
      s.numbers(key.c_str(), location_of(r, f));
      break;
    case KV_FORM_VERSION: {
      float version;
      std::memcpy(&version, member_at(r, f.offset), sizeof version);
      char text[16];
      std::snprintf(text, sizeof text, "%05.2f", static_cast<double>(version));
      s.text(key.c_str(), text);
      break;
    }
    case KV_FORM_COLOUR: {
      const auto* c = static_cast<const uint8_t*>(member_at(r, f.offset));
      s.numbers("background", {c[0], c[1], c[2]});
      break;
    }
    case KV_FORM_TABLE:
      s.numbers(key.c_str(),
                table(pointer_at<const uint32_t>(r, f.offset), number_at(r, f, f.second_offset)));
      break;
    case KV_FORM_AREA: {
      const std::vector<std::string> tags =
          tre_tags(pointer_at<const uint8_t>(r, f.offset), number_at(r, f, f.second_offset));
      s.number((key + "_tres").c_str(), static_cast<long long>(tags.size()));
      s.texts((key + "_tags").c_str(), tags);
      break;
    }
  }
}

// The fields of the kind's table that a listing shows, in file order.
Section section(int kind, const void* record, int index) {
  Section s;
  if (index >= 0) s.number("index", index);
  for (const NitfFieldInfo& f : fields_of(kind))
    if (f.flags & KV_FIELD_LISTED) add_field(s, record, f);
  return s;
}

// The header's TREs, decoded, after its fields.
void add_tres(Section& s, NitfDocument* doc, int kind, int index) {
  std::vector<std::string> tres = tre_objects(doc, kind, index);
  if (!tres.empty()) s.objects("tres", std::move(tres));
}

// A data extension's details from the module: user-defined fields, XML, its TREs.
void add_des(Section& s, NitfDocument* doc, int index) {
  const std::string des = des_object(doc, index);
  if (!des.empty()) s.object("details", des);
  add_tres(s, doc, KV_FIELDS_DES, index);
}

// No public record carries a data extension's subheader; its DESID is read from the
// file where the header's length tables place the segment.
std::vector<Section> des_sections(const std::string& path, const NitfHeader& h) {
  std::vector<Section> out;
  unsigned long long at = static_cast<unsigned long long>(h.HL);
  auto skip = [&](const uint32_t* sub, const uint32_t* data, int32_t n) {
    for (int32_t i = 0; sub && data && i < n; ++i)
      at += sub[i] + static_cast<unsigned long long>(data[i]);
  };
  skip(h.LISH, h.LI, h.NUMI);
  skip(h.LSSH, h.LS, h.NUMS);
  skip(h.LTSH, h.LT, h.NUMT);
  std::ifstream in(path, std::ios::binary);
  for (int32_t i = 0; h.LDSH && h.LD && i < h.NUMDES; ++i) {
    char head[27] = {};
    in.seekg(static_cast<std::streamoff>(at));
    in.read(head, sizeof head);
    Section s;
    s.number("index", i);
    s.text("desid", in ? trimmed(head + 2, 25) : std::string());
    s.number("ld", h.LD[i]);
    out.push_back(std::move(s));
    in.clear();
    at += h.LDSH[i] + static_cast<unsigned long long>(h.LD[i]);
  }
  return out;
}

// A NITF 2.0 document's segment of `kind`: every listed field of the kind's 2.0 table
// as the characters the document holds.
Section section20(NitfDocument* doc, int kind, int index) {
  Section s;
  if (index >= 0) s.number("index", index);
  for (const NitfFieldInfo& f : fields_of(kind | KV_FIELDS_NITF20)) {
    char text[128];
    if ((f.flags & KV_FIELD_LISTED) &&
        Kv_NITFGetFieldText(doc, kind, index, f.name, text, sizeof text) == RET_SUCCESS)
      s.text(lower_name(f).c_str(), trimmed(text));
  }
  return s;
}

struct Listing {
  Section header;
  bool nitf20 = false;  // symbols are the graphics, and labels are listed
  std::vector<Section> images, graphics, labels, texts, des;
  // The composed canvas as fltInfo describes it; left out when fltInfo refuses the file.
  bool has_canvas = false;
  uint32_t canvas_width = 0, canvas_height = 0;
};

// Every segment of a NITF 2.0 document, kind by kind.
void collect20(NitfDocument* doc, Listing* out) {
  out->nitf20 = true;
  out->header = section20(doc, KV_FIELDS_FILE, -1);
  const std::pair<int, std::vector<Section>*> kinds[] = {{KV_FIELDS_IMAGE, &out->images},
                                                         {KV_FIELDS_GRAPHIC, &out->graphics},
                                                         {KV_FIELDS_LABEL, &out->labels},
                                                         {KV_FIELDS_TEXT, &out->texts},
                                                         {KV_FIELDS_DES, &out->des}};
  for (const auto& [kind, list] : kinds)
    for (int i = 0; i < Kv_NITFGetSegmentCount(doc, kind); ++i) {
      list->push_back(section20(doc, kind, i));
      if (kind != KV_FIELDS_LABEL) add_tres(list->back(), doc, kind, i);
    }
  add_tres(out->header, doc, KV_FIELDS_FILE, 0);
}

// The corners follow each image's fields in the text listing.
void add_corners(NitfDocument* doc, std::vector<Section>* images) {
  for (std::size_t i = 0; i < images->size(); ++i)
    if (std::string c = corners_text(doc, static_cast<int>(i)); !c.empty())
      (*images)[i].text("corners", std::move(c));
}

int collect(const std::string& file, NitfDocument* doc, Listing* out) {
  NitfHeader h{};
  if (int r = Kv_NITFGetNITFHeader(doc, &h); r != RET_SUCCESS) return r;
  if (h.FVER > 1.95f && h.FVER < 2.05f) {
    Kv_NITFFreeNITFHeader(&h);
    collect20(doc, out);
    return RET_SUCCESS;
  }
  out->header = section(KV_FIELDS_FILE, &h, -1);
  add_tres(out->header, doc, KV_FIELDS_FILE, 0);
  out->des = des_sections(file, h);
  for (std::size_t i = 0; i < out->des.size(); ++i) add_des(out->des[i], doc, static_cast<int>(i));
  Kv_NITFFreeNITFHeader(&h);  // the sections hold copies of what they show
  for (int i = 0; i < Kv_NITFGetImageHeaderCount(doc); ++i) {
    NitfImageHeader m{};
    if (int r = Kv_NITFGetImageHeader(doc, static_cast<uint32_t>(i), &m); r != RET_SUCCESS)
      return r;
    out->images.push_back(section(KV_FIELDS_IMAGE, &m, i));
    add_tres(out->images.back(), doc, KV_FIELDS_IMAGE, i);
    Kv_NITFFreeImageHeader(&m);
  }
  for (int i = 0; i < Kv_NITFGetGraphicHeaderCount(doc); ++i) {
    NitfGraphicHeader g{};
    if (int r = Kv_NITFGetGraphicHeader(doc, i, &g); r != RET_SUCCESS) return r;
    out->graphics.push_back(section(KV_FIELDS_GRAPHIC, &g, i));
    add_tres(out->graphics.back(), doc, KV_FIELDS_GRAPHIC, i);
    Kv_NITFFreeGraphicHeader(&g);
  }
  for (int i = 0; i < Kv_NITFGetTextHeaderCount(doc); ++i) {
    NitfTextHeader t{};
    if (int r = Kv_NITFGetTextHeader(doc, i, &t); r != RET_SUCCESS) return r;
    uint32_t length = 0;
    Kv_NITFGetTextSegment(doc, i, nullptr, &length);
    Section s = section(KV_FIELDS_TEXT, &t, i);
    s.number("lt", length);
    add_tres(s, doc, KV_FIELDS_TEXT, i);
    out->texts.push_back(std::move(s));
    Kv_NITFFreeTextHeader(&t);
  }
  return RET_SUCCESS;
}

void print_json(const Listing& l, std::FILE* out) {
  JsonWriter json(out);
  json.begin_object();
  l.header.write_json(json);
  if (l.has_canvas) {
    json.begin_object("canvas");
    json.number("width", l.canvas_width);
    json.number("height", l.canvas_height);
    json.end_object();
  }
  const std::pair<const char*, const std::vector<Section>*> lists[] = {
      {"images", &l.images},
      {l.nitf20 ? "symbols" : "graphics", &l.graphics},
      {"labels", l.nitf20 ? &l.labels : nullptr},
      {"texts", &l.texts},
      {"des", &l.des}};
  for (const auto& [key, sections] : lists) {
    if (!sections) continue;
    json.begin_array(key);
    for (const Section& s : *sections) {
      json.begin_object();
      s.write_json(json);
      json.end_object();
    }
    json.end_array();
  }
  json.end_object();
  json.finish();
}

void print_text(const Listing& l) {
  l.header.print_text(0);
  if (l.has_canvas) std::printf("%-10s %u x %u\n", "CANVAS", l.canvas_width, l.canvas_height);
  const std::pair<const char*, const std::vector<Section>*> lists[] = {
      {"image", &l.images},
      {l.nitf20 ? "symbol" : "graphic", &l.graphics},
      {"label", &l.labels},
      {"text", &l.texts},
      {"des", &l.des}};
  for (const auto& [name, sections] : lists) {
    for (std::size_t i = 0; i < sections->size(); ++i) {
      std::printf("\n%s %zu\n", name, i);
      (*sections)[i].print_text(2);
    }
  }
}

}  // namespace

int write_info_json(const std::string& file, NitfDocument* doc, std::FILE* out) {
  Listing listing;
  if (int r = collect(file, doc, &listing); r != RET_SUCCESS) return r;
  listing.has_canvas = canvas_info(file, reading_flags(), &listing.canvas_width,
                                   &listing.canvas_height) == RET_SUCCESS;
  print_json(listing, out);
  return RET_SUCCESS;
}

int run_info(const std::vector<std::string>& args) {
  std::string file;
  bool json = false, geojson = false;
  for (const std::string& a : args) {
    if (a == "--json") {
      json = true;
    } else if (a == "--geojson") {
      geojson = true;
    } else if (!a.empty() && a[0] == '-') {
      return usage_error("info: unknown option '" + a + "'");
    } else if (file.empty()) {
      file = a;
    } else {
      return usage_error("info: one file at a time");
    }
  }
  if (file.empty()) return usage_error("info: no file given");
  if (json && geojson) return usage_error("info: --json or --geojson, not both");

  Document doc;
  if (int r = doc.open(file); r != RET_SUCCESS) return fail(file, r);
  if (geojson) {
    print_geojson(doc.get());
    return kExitOk;
  }
  if (json) {
    const int r = write_info_json(file, doc.get(), stdout);
    return r == RET_SUCCESS ? kExitOk : fail(file, r);
  }
  Listing listing;
  if (int r = collect(file, doc.get(), &listing); r != RET_SUCCESS) return fail(file, r);
  listing.has_canvas = canvas_info(file, reading_flags(), &listing.canvas_width,
                                   &listing.canvas_height) == RET_SUCCESS;
  add_corners(doc.get(), &listing.images);
  print_text(listing);
  return kExitOk;
}

}  // namespace cli
