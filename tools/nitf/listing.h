// A listing of named values that prints as aligned text or as JSON. The info command
// builds one section for the file header and one per segment.
#pragma once

#include <string>
#include <vector>

#include "json.h"

namespace cli {

struct Item {
  enum Kind { kText, kNumber, kNumbers, kTexts, kObjects, kObject };
  std::string key;  // lower-case NITF name
  Kind kind = kText;
  std::string text;
  long long number = 0;
  std::vector<long long> numbers;
  std::vector<std::string> texts;  // kObjects: JSON objects from the module
  bool quiet = false;              // in the JSON only
};

class Section {
 public:
  void text(const char* key, std::string value) { add(key, Item::kText).text = std::move(value); }
  void number(const char* key, long long value) { add(key, Item::kNumber).number = value; }
  void numbers(const char* key, std::vector<long long> v) {
    add(key, Item::kNumbers).numbers = std::move(v);
  }
  void texts(const char* key, std::vector<std::string> v) {
    add(key, Item::kTexts).texts = std::move(v);
  }
  // JSON objects the module wrote (TREs, a data extension's details): embedded as they
  // are in JSON, printed as indented fields in text.
  void objects(const char* key, std::vector<std::string> v) {
    add(key, Item::kObjects).texts = std::move(v);
  }
  void object(const char* key, std::string v) { add(key, Item::kObject).text = std::move(v); }
  // The last item is left out of the text listing.
  void quiet() { items_.back().quiet = true; }
  const std::vector<Item>& items() const { return items_; }

  // The items as members of the JSON object being written.
  void write_json(JsonWriter& json) const;
  // "KEY        value" lines, each indented by `indent` spaces.
  void print_text(int indent) const;

 private:
  Item& add(const char* key, Item::Kind kind) {
    items_.push_back(Item{});
    items_.back().key = key;
    items_.back().kind = kind;
    return items_.back();
  }
  std::vector<Item> items_;
};

// Text of a fixed field with its padding removed; `n` bounds fields without a NUL.
std::string trimmed(const char* s, std::size_t n = std::string::npos);

}  // namespace cli
