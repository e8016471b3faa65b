// JSON for the TRE exports: nlohmann's parser feeding our value tree, and quoting.
#include "tre/json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace nitf::tre {
namespace {

constexpr int kMaxDepth = 64;

// Builds JsonValues from the parser's events. nlohmann's parser keeps its own stack, but
// a hostile text could still nest far enough to make the tree itself costly, so an
// opening past kMaxDepth stops the parse. Numbers keep their text: the fields of a TRE
// are characters, and a value such as 1.50 must not come back as 1.5.
class Builder : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit Builder(JsonValue* root) : root_(root) {}

  bool null() override { return scalar(JsonValue::kNull, "null"); }
  bool boolean(bool v) override { return scalar(JsonValue::kBool, v ? "true" : "false"); }
  bool number_integer(number_integer_t v) override {
    return scalar(JsonValue::kNumber, std::to_string(v));
  }
  bool number_unsigned(number_unsigned_t v) override {
    return scalar(JsonValue::kNumber, std::to_string(v));
  }
  bool number_float(number_float_t, const string_t& text) override {
    return scalar(JsonValue::kNumber, text);
  }
  bool string(string_t& v) override { return scalar(JsonValue::kString, std::move(v)); }
  bool binary(binary_t&) override { return fail("binary value"); }
  bool start_object(std::size_t) override { return open(JsonValue::kObject); }
  bool key(string_t& k) override {
    stack_.back()->members.push_back(JsonMember{std::move(k), JsonValue{}});
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(JsonValue::kArray); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& e) override {
    // The library's message names the token and what it expected.
    std::string what = e.what();
    if (const std::size_t colon = what.rfind(": "); colon != std::string::npos)
      what = what.substr(colon + 2);
    fail(what.c_str(), position);
    return false;
  }

  std::string error;

 private:
  bool fail(const char* why, std::size_t at = 0) {
    if (error.empty()) error = std::string(why) + " at offset " + std::to_string(at);
    return false;
  }
  // Where the next value goes: the root, the last member of an object, or a new item.
  JsonValue* slot() {
    if (stack_.empty()) return root_;
    JsonValue* top = stack_.back();
    if (top->type == JsonValue::kArray) return &top->items.emplace_back();
    return &top->members.back().value;
  }
  bool scalar(JsonValue::Type type, std::string text) {
    JsonValue* v = slot();
    v->type = type;
    v->text = std::move(text);
    return true;
  }
  bool open(JsonValue::Type type) {
    if (stack_.size() >= kMaxDepth) return fail("nested too deeply");
    JsonValue* v = slot();
    v->type = type;
    stack_.push_back(v);
    return true;
  }
  bool close() {
    stack_.pop_back();
    return true;
  }

  JsonValue* root_;
  // Pointers stay valid: a container only grows while it is the innermost one.
  std::vector<JsonValue*> stack_;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const auto& [k, v] : members)
    if (k == key) return &v;
  return nullptr;
}

bool parse_json(std::string_view text, JsonValue* out, std::string* reason) {
  *out = JsonValue{};
  Builder builder(out);
  bool ok = false;
  // The parser reports through the builder; anything it still throws (memory) is a
  // refusal, never an exception out of an export.
  try {
    ok = nlohmann::json::sax_parse(text, &builder, nlohmann::json::input_format_t::json, true);
  } catch (const std::exception& e) {
    if (builder.error.empty()) builder.error = e.what();
  }
  if (!ok) {
    *out = JsonValue{};
    *reason = builder.error.empty() ? "not JSON" : builder.error;
  }
  return ok;
}

namespace {

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
    if (n == 9 || n >= s.size() - i) return false;
    for (std::size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += n + 1;
  }
  return true;
}

}  // namespace

std::string json_quote(std::string_view s, bool utf8) {
  const bool keep = utf8 && valid_utf8(s);
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      char e[8];
      std::snprintf(e, sizeof e, "\\u%04x", c);
      out += e;
    } else if (c >= 0x80 && keep) {
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x80) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out + "\"";
}

}  // namespace nitf::tre
