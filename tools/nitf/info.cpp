// nitf info: what a file holds, built from the module's public records only, as any
// application would see it.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "cli.h"
#include "listing.h"

namespace cli {
namespace {

std::vector<long long> table(const uint32_t* values, int32_t count) {
  std::vector<long long> out;
  for (int32_t i = 0; values && i < count; ++i) out.push_back(values[i]);
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

void add_tres(Section& s, const char* count_key, const char* tags_key, const uint8_t* area,
              long long length_field) {
  std::vector<std::string> tags = tre_tags(area, length_field);
  s.number(count_key, static_cast<long long>(tags.size()));
  s.texts(tags_key, tags);
}

Section header_section(const NitfHeader& h) {
  char version[16];
  std::snprintf(version, sizeof version, "%05.2f", static_cast<double>(h.FVER));
  Section s;
  s.text("fhdr", trimmed(h.FHDR));
  s.text("fver", version);
  s.number("clevel", h.CLEVEL);
  s.text("stype", trimmed(h.STYPE));
  s.text("ostaid", trimmed(h.OSTAID));
  s.text("fdt", trimmed(h.FDT, sizeof h.FDT));
  s.text("ftitle", trimmed(h.FTITLE));
  s.text("fsclas", trimmed(h.FSCLAS));
  s.text("oname", trimmed(h.ONAME));
  s.text("ophone", trimmed(h.OPHONE));
  s.number("fl", h.FL);
  s.number("hl", h.HL);
  s.numbers("background", {h.FBKGC[0], h.FBKGC[1], h.FBKGC[2]});
  s.number("numi", h.NUMI);
  s.numbers("lish", table(h.LISH, h.NUMI));
  s.numbers("li", table(h.LI, h.NUMI));
  s.number("nums", h.NUMS);
  s.numbers("lssh", table(h.LSSH, h.NUMS));
  s.numbers("ls", table(h.LS, h.NUMS));
  s.number("numx", h.NUMX);
  s.number("numt", h.NUMT);
  s.numbers("ltsh", table(h.LTSH, h.NUMT));
  s.numbers("lt", table(h.LT, h.NUMT));
  s.number("numdes", h.NUMDES);
  s.numbers("ldsh", table(h.LDSH, h.NUMDES));
  s.numbers("ld", table(h.LD, h.NUMDES));
  s.number("numres", h.NUMRES);
  s.numbers("lresh", table(h.LRESH, h.NUMRES));
  s.numbers("lre", table(h.LRE, h.NUMRES));
  s.number("udhdl", h.UDHDL);
  add_tres(s, "udhd_tres", "udhd_tags", h.UDHD, h.UDHDL);
  s.number("xhdl", h.XHDL);
  add_tres(s, "xhd_tres", "xhd_tags", h.XHD, h.XHDL);
  return s;
}

Section image_section(int index, const NitfImageHeader& m) {
  Section s;
  s.number("index", index);
  s.text("iid1", trimmed(m.IID1));
  s.number("nrows", m.NROWS);
  s.number("ncols", m.NCOLS);
  s.text("pvtype", trimmed(m.PVTYPE));
  s.text("irep", trimmed(m.IREP));
  s.text("icat", trimmed(m.ICAT));
  s.number("abpp", m.ABPP);
  s.number("nbpp", m.NBPP);
  s.text("ic", trimmed(m.IC));
  s.text("comrat", trimmed(m.COMRAT));
  s.number(m.NBANDS == 0 ? "xbands" : "nbands", m.NBANDS == 0 ? m.XBANDS : m.NBANDS);
  s.text("imode", trimmed(m.IMODE));
  s.number("nbpr", m.NBPR);
  s.number("nbpc", m.NBPC);
  s.number("nppbh", m.NPPBH);
  s.number("nppbv", m.NPPBV);
  s.number("idlvl", m.IDLVL);
  s.number("ialvl", m.IALVL);
  s.numbers("iloc", {m.ILOC_ROW, m.ILOC_COLUMN});
  s.text("imag", trimmed(m.IMAG));
  s.number("nicom", m.NICOM);
  add_tres(s, "udid_tres", "udid_tags", reinterpret_cast<const uint8_t*>(m.UDID), m.UDIDL);
  add_tres(s, "ixshd_tres", "ixshd_tags", m.IXSHD, m.IXSHDL);
  return s;
}

Section graphic_section(int index, const NitfGraphicHeader& g) {
  Section s;
  s.number("index", index);
  s.text("sid", trimmed(g.SID));
  s.text("sname", trimmed(g.SNAME));
  s.text("sfmt", trimmed(g.SFMT));
  s.number("sdlvl", g.SDLVL);
  s.number("salvl", g.SALVL);
  s.numbers("sloc", {g.SLOC_ROW, g.SLOC_COLUMN});
  s.numbers("sbnd1", {g.SBND1_ROW, g.SBND1_COLUMN});
  s.numbers("sbnd2", {g.SBND2_ROW, g.SBND2_COLUMN});
  add_tres(s, "sxshd_tres", "sxshd_tags", g.SXSHD, g.SXSHDL);
  return s;
}

Section text_section(int index, const NitfTextHeader& t, long long length) {
  Section s;
  s.number("index", index);
  s.text("textid", trimmed(t.TEXTID));
  s.text("txtitl", trimmed(t.TXTITL));
  s.text("txtfmt", trimmed(t.TXTFMT));
  s.number("lt", length);
  add_tres(s, "txshd_tres", "txshd_tags", t.TXSHD, t.TXSHDL);
  return s;
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

struct Listing {
  Section header;
  std::vector<Section> images, graphics, texts, des;
  // The composed canvas as fltInfo describes it; left out when fltInfo refuses the file.
  bool has_canvas = false;
  uint32_t canvas_width = 0, canvas_height = 0;
};

int collect(const std::string& file, NitfDocument* doc, Listing* out) {
  NitfHeader h{};
  if (int r = Kv_NITFGetNITFHeader(doc, &h); r != RET_SUCCESS) return r;
  out->header = header_section(h);
  out->des = des_sections(file, h);
  Kv_NITFFreeNITFHeader(&h);  // the sections hold copies of what they show
  for (int i = 0; i < Kv_NITFGetImageHeaderCount(doc); ++i) {
    NitfImageHeader m{};
    if (int r = Kv_NITFGetImageHeader(doc, static_cast<uint32_t>(i), &m); r != RET_SUCCESS)
      return r;
    out->images.push_back(image_section(i, m));
    Kv_NITFFreeImageHeader(&m);
  }
  for (int i = 0; i < Kv_NITFGetGraphicHeaderCount(doc); ++i) {
    NitfGraphicHeader g{};
    if (int r = Kv_NITFGetGraphicHeader(doc, i, &g); r != RET_SUCCESS) return r;
    out->graphics.push_back(graphic_section(i, g));
    Kv_NITFFreeGraphicHeader(&g);
  }
  for (int i = 0; i < Kv_NITFGetTextHeaderCount(doc); ++i) {
    NitfTextHeader t{};
    if (int r = Kv_NITFGetTextHeader(doc, i, &t); r != RET_SUCCESS) return r;
    uint32_t length = 0;
    Kv_NITFGetTextSegment(doc, i, nullptr, &length);
    out->texts.push_back(text_section(i, t, length));
    Kv_NITFFreeTextHeader(&t);
  }
  return RET_SUCCESS;
}

void print_json(const Listing& l) {
  JsonWriter json(stdout);
  json.begin_object();
  l.header.write_json(json);
  if (l.has_canvas) {
    json.begin_object("canvas");
    json.number("width", l.canvas_width);
    json.number("height", l.canvas_height);
    json.end_object();
  }
  const std::pair<const char*, const std::vector<Section>*> lists[] = {
      {"images", &l.images}, {"graphics", &l.graphics}, {"texts", &l.texts}, {"des", &l.des}};
  for (const auto& [key, sections] : lists) {
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
      {"image", &l.images}, {"graphic", &l.graphics}, {"text", &l.texts}, {"des", &l.des}};
  for (const auto& [name, sections] : lists) {
    for (std::size_t i = 0; i < sections->size(); ++i) {
      std::printf("\n%s %zu\n", name, i);
      (*sections)[i].print_text(2);
    }
  }
}

}  // namespace

int run_info(const std::vector<std::string>& args) {
  std::string file;
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json") {
      json = true;
    } else if (!a.empty() && a[0] == '-') {
      return usage_error("info: unknown option '" + a + "'");
    } else if (file.empty()) {
      file = a;
    } else {
      return usage_error("info: one file at a time");
    }
  }
  if (file.empty()) return usage_error("info: no file given");

  Document doc;
  if (int r = doc.open(file); r != RET_SUCCESS) return fail(file, r);
  Listing listing;
  if (int r = collect(file, doc.get(), &listing); r != RET_SUCCESS) return fail(file, r);
  listing.has_canvas =
      canvas_info(file, 0, &listing.canvas_width, &listing.canvas_height) == RET_SUCCESS;
  if (json) {
    print_json(listing);
  } else {
    print_text(listing);
  }
  return kExitOk;
}

}  // namespace cli
