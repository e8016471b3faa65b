// A decoded TRE as JSON: its fields by name, loops as arrays of objects; a TRE that is
// not decoded as its bytes in hexadecimal with the reason.
#include "tre/json.h"
#include "tre/tre.h"

namespace nitf::tre {
namespace {

constexpr char kHex[] = "0123456789abcdef";

std::string hex(const std::uint8_t* p, std::size_t n) {
  std::string out;
  out.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(kHex[p[i] >> 4]);
    out.push_back(kHex[p[i] & 15]);
  }
  return out;
}

void group(const Decoded& t, const std::vector<Node>& nodes, std::string* out) {
  out->push_back('{');
  bool first = true;
  for (const Node& n : nodes) {
    if (!first) out->push_back(',');
    first = false;
    *out += json_quote(n.name);
    out->push_back(':');
    if (!n.loop) {
      *out += json_quote(field_text(t, n));
      continue;
    }
    out->push_back('[');
    for (std::size_t i = 0; i < n.items.size(); ++i) {
      if (i) out->push_back(',');
      group(t, n.items[i], out);
    }
    out->push_back(']');
  }
  out->push_back('}');
}

}  // namespace

std::string field_text(const Decoded& t, const Node& n) {
  const std::uint8_t* p = t.bytes.data() + n.offset;
  if (n.kind == Kind::kB) return hex(p, n.width);
  std::string s(reinterpret_cast<const char*>(p), n.width);
  if (n.rest) return s;  // its length is the field's width: every blank stays
  // Trailing blanks go from text; a number keeps them unless it is all blank, since a
  // shorter number is zero-filled when set back and "12  " must not become "0012".
  const std::size_t last = s.find_last_not_of(' ');
  if (last == std::string::npos) return std::string();
  if (n.kind == Kind::kA) s.resize(last + 1);
  return s;
}

std::string to_json(const Decoded& t) {
  static const char* const kStatus[] = {"decoded", "malformed", "unknown"};
  std::string out = "{\"tag\":" + json_quote(t.tag) +
                    ",\"length\":" + std::to_string(t.bytes.size()) + ",\"status\":\"" +
                    kStatus[static_cast<int>(t.status)] + "\"";
  if (t.status == Status::kDecoded) {
    out += ",\"fields\":";
    group(t, t.fields, &out);
  } else {
    if (t.status == Status::kMalformed) {
      out += ",\"reason\":" + json_quote(t.reason);
      if (!t.field.empty()) out += ",\"field\":" + json_quote(t.field);
      out += ",\"offset\":" + std::to_string(t.offset);
    }
    out += ",\"hex\":\"" + hex(t.bytes.data(), t.bytes.size()) + "\"";
  }
  return out + "}";
}

}  // namespace nitf::tre
