// The JSON tree the TRE exports read, and string quoting. Input comes from
// applications: nesting is bounded, and anything malformed is refused with a reason.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nitf::tre {

struct JsonMember;

struct JsonValue {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
  std::string text;  // a string's value; a number or literal as written
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;

  // The member named `key`, or null.
  const JsonValue* find(std::string_view key) const;
};

struct JsonMember {
  std::string key;
  JsonValue value;
};

// Parses a whole JSON text; false with a reason (and the offset) when it is not one.
bool parse_json(std::string_view text, JsonValue* out, std::string* reason);

// `s` as a JSON string with its quotes; control characters are escaped. Bytes above
// 0x7F are taken as Latin-1 (the extended character set) and written as UTF-8, unless
// `utf8` is set and `s` is valid UTF-8 (XML content), which is kept as it is.
std::string json_quote(std::string_view s, bool utf8 = false);

}  // namespace nitf::tre
