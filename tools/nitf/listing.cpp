// Printing a listing as text or JSON.
#include "listing.h"

#include <cstdio>
#include <cstring>

#include "tres.h"

namespace cli {

std::string trimmed(const char* s, std::size_t n) {
  if (!s) return std::string();
  std::string t(s, strnlen(s, n));
  std::size_t end = t.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : t.substr(0, end + 1);
}

void Section::write_json(JsonWriter& json) const {
  for (const Item& i : items_) {
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
      case Item::kObjects:
        json.begin_array(i.key.c_str());
        for (const std::string& o : i.texts) json.raw(nullptr, o);
        json.end_array();
        break;
      case Item::kObject:
        json.raw(i.key.c_str(), i.text);
        break;
    }
  }
}

void Section::print_text(int indent) const {
  for (const Item& i : items_) {
    if (i.quiet) continue;
    if (i.kind == Item::kObjects || i.kind == Item::kObject) {
      if (i.kind == Item::kObject) print_json_text(i.text, indent);
      for (const std::string& o : i.texts) print_json_text(o, indent);
      continue;
    }
    std::string value;
    switch (i.kind) {
      case Item::kText:
        value = i.text;
        break;
      case Item::kNumber:
        value = std::to_string(i.number);
        break;
      case Item::kNumbers:
        for (long long v : i.numbers) {
          if (!value.empty()) value += ' ';
          value += std::to_string(v);
        }
        break;
      case Item::kTexts:
        // A blank entry among others keeps its place.
        for (std::size_t k = 0; k < i.texts.size(); ++k)
          value += (k ? ", " : "") + (i.texts[k].empty() ? "\"\"" : i.texts[k]);
        break;
      default:
        break;
    }
    std::string key = i.key;
    for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    std::printf("%*s%-10s %s\n", indent, "", key.c_str(), value.c_str());
  }
}

}  // namespace cli
