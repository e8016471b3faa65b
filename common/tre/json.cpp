// JSON for the TRE exports: a recursive reader bounded in depth, and quoting.
#include "tre/json.h"

#include <cstdio>

namespace nitf::tre {
namespace {

constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  bool document(JsonValue* out, std::string* reason) {
    bool ok = value(out, 0);
    skip();
    if (ok && at_ != s_.size()) ok = fail("text after the value");
    if (!ok) *reason = error_ + " at offset " + std::to_string(at_);
    return ok;
  }

 private:
  bool fail(const char* why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  void skip() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r'))
      ++at_;
  }
  bool literal(std::string_view word, JsonValue::Type type, JsonValue* out) {
    if (s_.substr(at_, word.size()) != word) return fail("unknown literal");
    at_ += word.size();
    out->type = type;
    out->text = std::string(word);
    return true;
  }
  static void utf8(unsigned cp, std::string* out) {
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  bool string(std::string* out) {
    ++at_;  // the opening quote
    while (at_ < s_.size()) {
      char c = s_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in a string");
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (at_ >= s_.size()) break;
      char e = s_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out->push_back(e);
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u': {
          if (at_ + 4 > s_.size()) return fail("short \\u escape");
          unsigned cp = 0;
          for (int i = 0; i < 4; ++i) {
            char h = s_[at_++];
            cp <<= 4;
            if (h >= '0' && h <= '9')
              cp |= unsigned(h - '0');
            else if (h >= 'a' && h <= 'f')
              cp |= unsigned(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
              cp |= unsigned(h - 'A' + 10);
            else
              return fail("bad \\u escape");
          }
          utf8(cp, out);
          break;
        }
        default:
          return fail("bad escape");
      }
    }
    return fail("unterminated string");
  }
  bool number(JsonValue* out) {
    std::size_t start = at_;
    while (at_ < s_.size() &&
           std::string_view("+-0123456789.eE").find(s_[at_]) != std::string_view::npos)
      ++at_;
    if (at_ == start) return fail("unexpected character");
    out->type = JsonValue::kNumber;
    out->text = std::string(s_.substr(start, at_ - start));
    return true;
  }
  bool value(JsonValue* out, int depth) {
    if (depth > kMaxDepth) return fail("nested too deeply");
    skip();
    if (at_ >= s_.size()) return fail("unexpected end");
    char c = s_[at_];
    if (c == '"') {
      out->type = JsonValue::kString;
      return string(&out->text);
    }
    if (c == '{') return object(out, depth);
    if (c == '[') return array(out, depth);
    if (c == 't') return literal("true", JsonValue::kBool, out);
    if (c == 'f') return literal("false", JsonValue::kBool, out);
    if (c == 'n') return literal("null", JsonValue::kNull, out);
    return number(out);
  }
  bool object(JsonValue* out, int depth) {
    out->type = JsonValue::kObject;
    ++at_;
    skip();
    if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
    for (;;) {
      skip();
      if (at_ >= s_.size() || s_[at_] != '"') return fail("expected a member name");
      std::string key;
      if (!string(&key)) return false;
      skip();
      if (at_ >= s_.size() || s_[at_] != ':') return fail("expected ':'");
      ++at_;
      out->members.push_back(JsonMember{std::move(key), JsonValue{}});
      if (!value(&out->members.back().value, depth + 1)) return false;
      skip();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
      return fail("expected ',' or '}'");
    }
  }
  bool array(JsonValue* out, int depth) {
    out->type = JsonValue::kArray;
    ++at_;
    skip();
    if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
    for (;;) {
      out->items.emplace_back();
      if (!value(&out->items.back(), depth + 1)) return false;
      skip();
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
      return fail("expected ',' or ']'");
    }
  }

  std::string_view s_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const auto& [k, v] : members)
    if (k == key) return &v;
  return nullptr;
}

bool parse_json(std::string_view text, JsonValue* out, std::string* reason) {
  *out = JsonValue{};
  return Parser(text).document(out, reason);
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
