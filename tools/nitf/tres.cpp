// TREs and data extension segments for `nitf info`, from the module's JSON.
#include "tres.h"

#include <cstdio>
#include <string_view>
#include <utility>

namespace cli {
namespace {

// The module's JSON read back into a small tree for printing; only what the module
// writes needs to be understood, and anything else ends the reading quietly.
struct Value {
  enum Type { kScalar, kString, kArray, kObject } type = kScalar;
  std::string text;
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> members;
};

class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}
  bool value(Value* v, int depth) {
    skip();
    if (at_ >= s_.size() || depth > 64) return false;
    if (s_[at_] == '"') {
      v->type = Value::kString;
      return string(&v->text);
    }
    if (s_[at_] == '{') {
      v->type = Value::kObject;
      ++at_;
      for (skip(); at_ < s_.size() && s_[at_] != '}'; skip()) {
        std::string key;
        skip();
        if (!string(&key)) return false;
        skip();
        if (at_ >= s_.size() || s_[at_++] != ':') return false;
        v->members.emplace_back(std::move(key), Value{});
        if (!value(&v->members.back().second, depth + 1)) return false;
        skip();
        if (at_ < s_.size() && s_[at_] == ',') ++at_;
      }
      return at_++ < s_.size();
    }
    if (s_[at_] == '[') {
      v->type = Value::kArray;
      ++at_;
      for (skip(); at_ < s_.size() && s_[at_] != ']'; skip()) {
        v->items.emplace_back();
        if (!value(&v->items.back(), depth + 1)) return false;
        skip();
        if (at_ < s_.size() && s_[at_] == ',') ++at_;
      }
      return at_++ < s_.size();
    }
    std::size_t start = at_;
    while (at_ < s_.size() && s_[at_] != ',' && s_[at_] != '}' && s_[at_] != ']') ++at_;
    v->text = std::string(s_.substr(start, at_ - start));
    return true;
  }

 private:
  void skip() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n')) ++at_;
  }
  bool string(std::string* out) {
    if (at_ >= s_.size() || s_[at_] != '"') return false;
    for (++at_; at_ < s_.size(); ++at_) {
      char c = s_[at_];
      if (c == '"') return ++at_, true;
      if (c == '\\' && at_ + 1 < s_.size()) {
        char e = s_[++at_];
        if (e == 'n')
          out->push_back('\n');
        else if (e == 't')
          out->push_back('\t');
        else if (e == 'u' && at_ + 4 < s_.size()) {
          unsigned cp =
              static_cast<unsigned>(std::stoul(std::string(s_.substr(at_ + 1, 4)), nullptr, 16));
          at_ += 4;
          out->push_back(cp < 0x20 ? '.' : static_cast<char>(cp));
        } else
          out->push_back(e);
        continue;
      }
      out->push_back(c);
    }
    return false;
  }
  std::string_view s_;
  std::size_t at_ = 0;
};

const Value* member(const Value& v, std::string_view key) {
  for (const auto& [k, m] : v.members)
    if (k == key) return &m;
  return nullptr;
}

std::string text_of(const Value* v) {
  return v ? v->text : std::string();
}

void print_fields(const Value& fields, int indent) {
  for (const auto& [name, v] : fields.members) {
    if (v.type != Value::kArray) {
      std::printf("%*s%s = %s\n", indent, "", name.c_str(), v.text.c_str());
      continue;
    }
    for (std::size_t i = 0; i < v.items.size(); ++i) {
      std::printf("%*s%s[%zu]\n", indent, "", name.c_str(), i);
      print_fields(v.items[i], indent + 2);
    }
  }
}

// Long hexadecimal and XML are cut for the text listing; the JSON holds them whole.
std::string shortened(const std::string& s, std::size_t n) {
  return s.size() > n ? s.substr(0, n) + "... (" + std::to_string(s.size()) + " characters)" : s;
}

void print_tre(const Value& t, int indent) {
  std::string line = text_of(member(t, "tag")) + " (" + text_of(member(t, "length")) + " bytes, " +
                     text_of(member(t, "area"));
  if (const Value* des = member(t, "des")) line += " in des " + des->text;
  line += ")";
  const std::string status = text_of(member(t, "status"));
  if (status == "decoded") {
    std::printf("%*s%-10s %s\n", indent, "", "TRE", line.c_str());
    if (const Value* f = member(t, "fields")) print_fields(*f, indent + 2);
    return;
  }
  if (status == "malformed")
    line += " kept raw: " + text_of(member(t, "reason")) + " (" + text_of(member(t, "field")) +
            " at offset " + text_of(member(t, "offset")) + ")";
  else
    line += " not described";
  std::printf("%*s%-10s %s\n", indent, "", "TRE", line.c_str());
  std::printf("%*s  hex = %s\n", indent, "", shortened(text_of(member(t, "hex")), 96).c_str());
}

}  // namespace

std::vector<std::string> tre_objects(NitfDocument* doc, int kind, int index) {
  std::vector<std::string> out;
  int32_t count = 0;
  if (Kv_NITFGetTreCount(doc, kind, index, &count) != RET_SUCCESS) return out;
  static const char* const kArea[] = {"user", "extended", "overflow"};
  for (int32_t i = 0; i < count; ++i) {
    NitfTreInfo info{};
    char* json = nullptr;
    if (Kv_NITFGetTreInfo(doc, kind, index, i, &info) != RET_SUCCESS ||
        Kv_NITFGetTreJson(doc, kind, index, i, &json) != RET_SUCCESS)
      continue;
    std::string s(json);
    Kv_NITFFreeTreJson(&json);
    // The module's object, closed with the place of the TRE added.
    s.pop_back();
    s +=
        ",\"area\":\"" + std::string(kArea[info.area >= 0 && info.area < 3 ? info.area : 0]) + "\"";
    if (info.area == KV_TRE_OVERFLOW) s += ",\"des\":" + std::to_string(info.segment);
    out.push_back(s + "}");
  }
  return out;
}

std::string des_object(NitfDocument* doc, int index) {
  char* json = nullptr;
  if (Kv_NITFGetDesJson(doc, index, &json) != RET_SUCCESS) return std::string();
  std::string s(json);
  Kv_NITFFreeTreJson(&json);
  return s;
}

void print_json_text(const std::string& json, int indent) {
  Value v;
  if (!Reader(json).value(&v, 0) || v.type != Value::kObject) return;
  if (member(v, "tag")) {
    print_tre(v, indent);
    return;
  }
  // A data extension: its user-defined fields and its XML.
  if (const Value* u = member(v, "user_fields")) {
    Value copy = *u;
    copy.members.emplace_back("area", Value{Value::kString, "user-defined subheader", {}, {}});
    print_tre(copy, indent);
  }
  if (const Value* x = member(v, "xml"))
    std::printf("%*s%-10s %s\n", indent, "", "XML", shortened(x->text, 200).c_str());
}

}  // namespace cli
