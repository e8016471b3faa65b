// nitf info: what a file holds, built from the module's public records only, as any
// application would see it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "fields.h"
#include "listing.h"
#include "tres.h"

namespace cli {
namespace {

// A field's characters as the listing shows them: a count, size or level (BCS-N, held
// as a number) as a number when its characters are a decimal number, a location as its
// row and column, anything else as its text (BCS-A without trailing blanks, BCS-N as
// stored, a blank one as "").
bool decimal(const std::string& t, long long* value) {
  std::size_t i = t.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  const bool minus = t[i] == '-';
  if (t[i] == '-' || t[i] == '+') ++i;
  if (i == t.size() || i + 18 < t.size()) return false;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  *value = minus ? -v : v;
  return true;
}

bool numeric(const NitfFieldInfo& f) {
  return (f.flags & KV_FIELD_DIGITS) && f.form != KV_FORM_CHARS && f.form != KV_FORM_STRING &&
         f.form != KV_FORM_LOCATION;
}

std::string shown_text(const NitfFieldInfo& f, const char* text) {
  if (!(f.flags & KV_FIELD_DIGITS)) return trimmed(text);
  const std::string t = text;
  return t.find_first_not_of(' ') == std::string::npos ? std::string() : t;
}

// The JSON key: the lower-case name, without the final n of a repeated field's name.
std::string key_of(const NitfFieldInfo& f) {
  std::string key = lower_name(f);
  if ((f.flags & KV_FIELD_REPEATED) && key.size() > 2 && key.back() == 'n') key.pop_back();
  return key;
}

// One field of a header. Fields the short listing leaves out are shown in text only
// when they hold something, so that blank security groups do not crowd it; the JSON
// has them all.
void add_field(Section& s, const NitfFieldInfo& f, const char* text) {
  const std::string key = key_of(f), shown = shown_text(f, text);
  long long v = 0, row = 0, column = 0;
  const std::string t = text;
  if (f.form == KV_FORM_COLOUR && t.size() == 6) {
    const long long rgb = std::stoll(t, nullptr, 16);
    s.numbers("background", {rgb >> 16, (rgb >> 8) & 255, rgb & 255});
    s.text(key.c_str(), t);
    s.quiet();
  } else if (f.form == KV_FORM_LOCATION && t.size() == 10 && decimal(t.substr(0, 5), &row) &&
             decimal(t.substr(5), &column)) {
    s.numbers(key.c_str(), {row, column});
  } else if (numeric(f) && decimal(t, &v)) {
    s.number(key.c_str(), v);
    if (!(f.flags & KV_FIELD_LISTED) && v == 0) s.quiet();
  } else {
    s.text(key.c_str(), shown);
    if (!(f.flags & KV_FIELD_LISTED) && shown.empty()) s.quiet();
  }
}

// A repeated field's entries, asked for by number until the count ends: numbers when
// every entry is one. Outside the short listing, entries all blank or 0 (ISUBCATn,
// NLUTSn of bands without LUTs) are left out of the text.
void add_entries(Section& s, NitfDocument* doc, int kind, int index, const NitfFieldInfo& f) {
  std::string base = f.name;
  if (base.size() > 2 && base.back() == 'n') base.pop_back();
  std::vector<std::string> texts;
  std::vector<long long> numbers;
  bool all_numbers = numeric(f);
  char text[128];
  for (int k = 1;; ++k) {
    const std::string name = base + std::to_string(k);
    if (Kv_NITFGetFieldText(doc, kind, index, name.c_str(), text, sizeof text) != RET_SUCCESS)
      break;
    long long v = 0;
    all_numbers = all_numbers && decimal(text, &v);
    numbers.push_back(v);
    texts.push_back(shown_text(f, text));
  }
  if (all_numbers) {
    s.numbers(key_of(f).c_str(), std::move(numbers));
  } else {
    s.texts(key_of(f).c_str(), std::move(texts));
  }
  const Item& added = s.items().back();
  const bool blank =
      std::all_of(added.texts.begin(), added.texts.end(),
                  [](const std::string& t) { return t.empty(); }) &&
      std::all_of(added.numbers.begin(), added.numbers.end(), [](long long v) { return v == 0; });
  if (!(f.flags & KV_FIELD_LISTED) && blank) s.quiet();
}

// An extension area: the number of its TREs and their tags (the TREs themselves follow
// the fields).
void add_area(Section& s, NitfDocument* doc, int kind, int index, const NitfFieldInfo& f) {
  const bool user = f.name[0] == 'U';  // UDHD, UDID; the others are extended areas
  std::vector<std::string> tags;
  int32_t count = 0;
  if (Kv_NITFGetTreCount(doc, kind, index, &count) == RET_SUCCESS) {
    for (int32_t i = 0; i < count; ++i) {
      NitfTreInfo info{};
      if (Kv_NITFGetTreInfo(doc, kind, index, i, &info) == RET_SUCCESS &&
          info.area == (user ? KV_TRE_USER : KV_TRE_EXTENDED))
        tags.push_back(std::string(info.tag) + " (" + std::to_string(info.length) + " bytes)");
    }
  }
  const std::string key = lower_name(f);
  s.number((key + "_tres").c_str(), static_cast<long long>(tags.size()));
  s.texts((key + "_tags").c_str(), tags);
}

// Every field of a header, in file order, from the kind's table in the document's
// version.
Section section(NitfDocument* doc, int kind, int index, bool nitf20) {
  Section s;
  if (index >= 0) s.number("index", index);
  for (const NitfFieldInfo& f : fields_of(kind | (nitf20 ? KV_FIELDS_NITF20 : 0))) {
    char text[128];
    if (f.form == KV_FORM_AREA) {
      add_area(s, doc, kind, index, f);
    } else if (f.flags & KV_FIELD_REPEATED) {
      add_entries(s, doc, kind, index, f);
    } else if (Kv_NITFGetFieldText(doc, kind, index, f.name, text, sizeof text) == RET_SUCCESS &&
               (text[0] != '\0' || !(f.flags & KV_FIELD_CONDITIONAL))) {
      add_field(s, f, text);
    }
  }
  return s;
}

// Each band's LUTs (JSON only): the band (from 1), NLUTSn, NELUTn and the tables'
// entries, LUTDn1 first.
void add_luts(Section& s, NitfDocument* doc, int index) {
  std::vector<std::string> bands;
  std::vector<uint8_t> entries;
  char text[16];
  const std::string field = "NLUTS";
  for (int b = 1;
       Kv_NITFGetFieldText(doc, KV_FIELDS_IMAGE, index, (field + std::to_string(b)).c_str(), text,
                           sizeof text) == RET_SUCCESS;
       ++b) {
    const int tables = std::atoi(text);
    std::string luts;
    int32_t count = 0;
    for (int t = 0; t < tables; ++t) {
      if (Kv_NITFGetImageLut(doc, index, b - 1, t, nullptr, 0, &count) != RET_SUCCESS) break;
      entries.assign(static_cast<std::size_t>(count), 0);
      Kv_NITFGetImageLut(doc, index, b - 1, t, entries.data(), count, &count);
      luts += t ? ",[" : "[";
      for (std::size_t e = 0; e < entries.size(); ++e) {
        if (e) luts += ',';
        luts += std::to_string(entries[e]);
      }
      luts += ']';
    }
    if (luts.empty()) continue;
    // Appended piece by piece: GCC 12 warns (-Wrestrict) on a literal + a temporary string.
    std::string band = "{\"band\":";
    band += std::to_string(b);
    band += ",\"nluts\":";
    band += std::to_string(tables);
    band += ",\"nelut\":";
    band += std::to_string(count);
    band += ",\"lutd\":[";
    band += luts;
    band += "]}";
    bands.push_back(std::move(band));
  }
  if (bands.empty()) return;
  s.objects("luts", std::move(bands));
  s.quiet();
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

struct Listing {
  Section header;
  bool nitf20 = false;  // symbols are the graphics, and labels are listed
  std::vector<Section> images, graphics, labels, texts, des, res;
  // The composed canvas as fltInfo describes it; left out when fltInfo refuses the file.
  bool has_canvas = false;
  uint32_t canvas_width = 0, canvas_height = 0;
};

// The file header and every segment, kind by kind, each with its TREs.
int collect(NitfDocument* doc, Listing* out) {
  NitfHeader h{};
  if (int r = Kv_NITFGetNITFHeader(doc, &h); r != RET_SUCCESS) return r;
  out->nitf20 = h.FVER > 1.95f && h.FVER < 2.05f;
  Kv_NITFFreeNITFHeader(&h);
  out->header = section(doc, KV_FIELDS_FILE, -1, out->nitf20);
  add_tres(out->header, doc, KV_FIELDS_FILE, 0);
  const std::pair<int, std::vector<Section>*> kinds[] = {
      {KV_FIELDS_IMAGE, &out->images}, {KV_FIELDS_GRAPHIC, &out->graphics},
      {KV_FIELDS_LABEL, &out->labels}, {KV_FIELDS_TEXT, &out->texts},
      {KV_FIELDS_DES, &out->des},      {KV_FIELDS_RES, &out->res}};
  for (const auto& [kind, list] : kinds) {
    for (int i = 0; i < Kv_NITFGetSegmentCount(doc, kind); ++i) {
      Section s = section(doc, kind, i, out->nitf20);
      if (kind == KV_FIELDS_TEXT) {
        uint32_t length = 0;
        Kv_NITFGetTextSegment(doc, i, nullptr, &length);
        s.number("lt", length);
      }
      if (kind == KV_FIELDS_DES) {
        char ld[16];
        const std::string entry = "LD" + std::to_string(i + 1);
        if (Kv_NITFGetFieldText(doc, KV_FIELDS_FILE, 0, entry.c_str(), ld, sizeof ld) ==
            RET_SUCCESS)
          s.number("ld", std::atoll(ld));
        add_des(s, doc, i);
      } else if (kind != KV_FIELDS_RES) {
        if (kind == KV_FIELDS_IMAGE) add_luts(s, doc, i);
        add_tres(s, doc, kind, i);
      }
      list->push_back(std::move(s));
    }
  }
  return RET_SUCCESS;
}

// The corners follow each image's fields in the text listing.
void add_corners(NitfDocument* doc, std::vector<Section>* images) {
  for (std::size_t i = 0; i < images->size(); ++i)
    if (std::string c = corners_text(doc, static_cast<int>(i)); !c.empty())
      (*images)[i].text("corners", std::move(c));
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
      {"des", &l.des},
      {"res", &l.res}};
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
      {"image", &l.images}, {l.nitf20 ? "symbol" : "graphic", &l.graphics},
      {"label", &l.labels}, {"text", &l.texts},
      {"des", &l.des},      {"res", &l.res}};
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
  if (int r = collect(doc, &listing); r != RET_SUCCESS) return r;
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
  if (int r = collect(doc.get(), &listing); r != RET_SUCCESS) return fail(file, r);
  listing.has_canvas = canvas_info(file, reading_flags(), &listing.canvas_width,
                                   &listing.canvas_height) == RET_SUCCESS;
  add_corners(doc.get(), &listing.images);
  print_text(listing);
  return kExitOk;
}

}  // namespace cli
