// nitf info: what a file holds, from the module's public records.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "json.h"

namespace cli {
namespace {

// One line of the listing: a text, a number, a list of numbers or of texts.
struct Item {
  std::string key;  // lower-case NITF name
  enum Kind { kText, kNumber, kNumbers, kTexts } kind = kText;
  std::string text;
  long long number = 0;
  std::vector<long long> numbers;
  std::vector<std::string> texts;
};

std::string trimmed(const char* s, std::size_t n = std::string::npos) {
  std::string t = s ? std::string(s, s ? strnlen(s, n) : 0) : std::string();
  std::size_t end = t.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : t.substr(0, end + 1);
}

std::vector<long long> table(const uint32_t* values, int32_t count) {
  std::vector<long long> out;
  for (int32_t i = 0; values && i < count; ++i) out.push_back(values[i]);
  return out;
}

// Tags of the TREs in an extension area, each with its length.
std::vector<std::string> tre_tags(const uint8_t* area, int32_t length_field) {
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

std::vector<Item> header_items(const NitfHeader& h, const char* version) {
  auto item = [](const char* key, Item::Kind kind) {
    Item i;
    i.key = key;
    i.kind = kind;
    return i;
  };
  auto text = [&](const char* key, std::string value) {
    Item i = item(key, Item::kText);
    i.text = std::move(value);
    return i;
  };
  auto number = [&](const char* key, long long value) {
    Item i = item(key, Item::kNumber);
    i.number = value;
    return i;
  };
  auto numbers = [&](const char* key, std::vector<long long> values) {
    Item i = item(key, Item::kNumbers);
    i.numbers = std::move(values);
    return i;
  };
  auto texts = [&](const char* key, std::vector<std::string> values) {
    Item i = item(key, Item::kTexts);
    i.texts = std::move(values);
    return i;
  };
  std::vector<std::string> udhd = tre_tags(h.UDHD, h.UDHDL);
  std::vector<std::string> xhd = tre_tags(h.XHD, h.XHDL);
  return {
      text("fhdr", trimmed(h.FHDR)),
      text("fver", version),
      number("clevel", h.CLEVEL),
      text("stype", trimmed(h.STYPE)),
      text("ostaid", trimmed(h.OSTAID)),
      text("fdt", trimmed(h.FDT, sizeof h.FDT)),
      text("ftitle", trimmed(h.FTITLE)),
      text("fsclas", trimmed(h.FSCLAS)),
      text("oname", trimmed(h.ONAME)),
      text("ophone", trimmed(h.OPHONE)),
      number("fl", h.FL),
      number("hl", h.HL),
      numbers("background", {h.FBKGC[0], h.FBKGC[1], h.FBKGC[2]}),
      number("numi", h.NUMI),
      numbers("lish", table(h.LISH, h.NUMI)),
      numbers("li", table(h.LI, h.NUMI)),
      number("nums", h.NUMS),
      numbers("lssh", table(h.LSSH, h.NUMS)),
      numbers("ls", table(h.LS, h.NUMS)),
      number("numx", h.NUMX),
      number("numt", h.NUMT),
      numbers("ltsh", table(h.LTSH, h.NUMT)),
      numbers("lt", table(h.LT, h.NUMT)),
      number("numdes", h.NUMDES),
      numbers("ldsh", table(h.LDSH, h.NUMDES)),
      numbers("ld", table(h.LD, h.NUMDES)),
      number("numres", h.NUMRES),
      numbers("lresh", table(h.LRESH, h.NUMRES)),
      numbers("lre", table(h.LRE, h.NUMRES)),
      number("udhdl", h.UDHDL),
      number("udhd_tres", static_cast<long long>(udhd.size())),
      texts("udhd_tags", udhd),
      number("xhdl", h.XHDL),
      number("xhd_tres", static_cast<long long>(xhd.size())),
      texts("xhd_tags", xhd),
  };
}

void print_json(const std::vector<Item>& items) {
  JsonWriter json(stdout);
  json.begin_object();
  for (const Item& i : items) {
    switch (i.kind) {
      case Item::kText:
        json.string(i.key.c_str(), i.text);
        break;
      case Item::kNumber:
        json.number(i.key.c_str(), i.number);
        break;
      case Item::kNumbers:
        json.numbers(i.key.c_str(), i.numbers);
        break;
      case Item::kTexts:
        json.strings(i.key.c_str(), i.texts);
        break;
    }
  }
  json.end_object();
  json.finish();
}

void print_text(const std::vector<Item>& items) {
  for (const Item& i : items) {
    std::string value;
    switch (i.kind) {
      case Item::kText:
        value = i.text;
        break;
      case Item::kNumber:
        value = std::to_string(i.number);
        break;
      case Item::kNumbers:
        for (long long v : i.numbers) value += (value.empty() ? "" : " ") + std::to_string(v);
        break;
      case Item::kTexts:
        for (const std::string& t : i.texts) value += (value.empty() ? "" : ", ") + t;
        break;
    }
    std::string key = i.key;
    for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    std::printf("%-10s %s\n", key.c_str(), value.c_str());
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
  NitfHeader header{};
  if (int r = Kv_NITFGetNITFHeader(doc.get(), &header); r != RET_SUCCESS) return fail(file, r);
  char version[16];
  std::snprintf(version, sizeof version, "%05.2f", static_cast<double>(header.FVER));
  std::vector<Item> items = header_items(header, version);
  Kv_NITFFreeNITFHeader(&header);
  if (json) {
    print_json(items);
  } else {
    print_text(items);
  }
  return kExitOk;
}

}  // namespace cli
