// The TRE interpreter: one walk over a description, fed either by a TRE's bytes
// (decoding) or by a JSON object (encoding). Either way the walk appends each field's
// bytes to one buffer and reads counts and conditions back from it, so both directions
// agree on what a count or a condition means.
//
// Bounds: a field is taken only when its width fits what is left; a loop's count is
// checked against the bytes left (every item takes at least one byte, or the
// description is refused); nesting is limited to kMaxDepth; a description whose loops
// or groups are not closed is refused before anything repeats.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "tre/json.h"
#include "tre/tre.h"

namespace nitf::tre {
namespace {

constexpr int kMaxDepth = 8;
// The largest TRE: CEL has five digits.
constexpr std::size_t kMaxTre = 99999;

// Where a walk takes its fields from.
class Source {
 public:
  virtual ~Source() = default;
  // Appends field `e` of `width` bytes (0 for the rest) to `out`; false with a reason.
  virtual bool field(const Entry& e, std::size_t width, std::vector<std::uint8_t>& out,
                     std::string* reason) = 0;
  // Bytes the source still has, for bounding counts (encoding: the largest TRE).
  virtual std::size_t left(std::size_t written) const = 0;
  virtual bool enter_loop(const Entry&, std::uint64_t, std::string*) { return true; }
  virtual void enter_item(std::uint64_t) {}
  virtual void leave_item() {}
  virtual void leave_loop() {}
};

struct Failure {
  std::string reason;
  const char* field = nullptr;
  std::uint32_t offset = 0;
};

class Walker {
 public:
  Walker(std::span<const Entry> entries, Source& source) : e_(entries), src_(source) {}

  bool run(std::vector<Node>* out) {
    if (!balanced()) return fail(nullptr, "the description is not well formed");
    std::size_t next = 0;
    return walk(0, e_.size(), 0, out, &next);
  }

  std::vector<std::uint8_t> bytes;
  Failure failure;

 private:
  struct Symbol {
    const char* name;
    std::uint32_t offset, width;
    Kind kind;
  };

  // Records the first failure; `at` is the offset reported (by default where the walk
  // stands, for a count or width the field that holds it).
  bool fail(const char* field, std::string reason, std::size_t at = SIZE_MAX) {
    failure.reason = std::move(reason);
    failure.field = field;
    failure.offset = static_cast<std::uint32_t>(at == SIZE_MAX ? bytes.size() : at);
    return false;
  }

  static bool opens(Op op) {
    return op == Op::kLoop || op == Op::kTriangle || op == Op::kIf || op == Op::kIfNot ||
           op == Op::kIfBits;
  }

  // Every loop and group closed by an End, no End without one, and no deeper than the
  // interpreter goes.
  bool balanced() const {
    int depth = 0;
    for (const Entry& e : e_) {
      if (opens(e.op)) {
        if (++depth > kMaxDepth) return false;
      } else if (e.op == Op::kEnd) {
        if (--depth < 0) return false;
      }
    }
    return depth == 0;
  }

  // The End that closes the loop or group opened at `at`.
  std::size_t closing(std::size_t at) const {
    int depth = 0;
    for (std::size_t i = at; i < e_.size(); ++i) {
      if (opens(e_[i].op)) ++depth;
      if (e_[i].op == Op::kEnd && --depth == 0) return i;
    }
    return e_.size();  // not reached: balanced() was checked
  }

  const Symbol* lookup(const char* name) const {
    for (auto it = symbols_.rbegin(); it != symbols_.rend(); ++it)
      if (std::strcmp(it->name, name) == 0) return &*it;
    return nullptr;
  }

  std::string_view text_of(const Symbol& s) const {
    return {reinterpret_cast<const char*>(bytes.data()) + s.offset, s.width};
  }

  // The value of an earlier field as a count or width: digits (leading blanks allowed)
  // of a text field, or a binary field read big-endian.
  bool number(const char* name, std::uint64_t* out) {
    const Symbol* s = lookup(name);
    if (!s) return fail(name, std::string("no field ") + name + " before its use");
    std::uint64_t v = 0;
    if (s->kind == Kind::kB) {
      if (s->width > 4) return fail(name, "binary count wider than 4 bytes");
      for (std::uint32_t i = 0; i < s->width; ++i) v = (v << 8) | bytes[s->offset + i];
    } else {
      std::string_view t = text_of(*s);
      std::size_t i = 0;
      while (i < t.size() && t[i] == ' ') ++i;
      if (i == t.size())
        return fail(name, std::string(name) + " is blank where a number is needed", s->offset);
      for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
          return fail(name, std::string(name) + " is not a number: '" + std::string(t) + "'",
                      s->offset);
        v = v * 10 + static_cast<std::uint64_t>(t[i] - '0');
      }
    }
    *out = v;
    return true;
  }

  bool condition(const Entry& e, bool* holds) {
    const Symbol* s = lookup(e.ref);
    if (!s) return fail(e.ref, std::string("no field ") + e.ref + " before its use");
    if (e.op == Op::kIfBits) {
      std::uint64_t bits = 0;
      if (s->kind != Kind::kB || !number(e.ref, &bits))
        return fail(e.ref, std::string(e.ref) + " is not a bit mask", s->offset);
      *holds = (bits & e.mask) != 0;
      return true;
    }
    std::string_view t = text_of(*s);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    bool found = false;
    std::string_view values(e.ref2);
    for (std::size_t start = 0;;) {
      std::size_t bar = values.find('|', start);
      std::string_view v = values.substr(start, bar == std::string_view::npos ? bar : bar - start);
      if (v == t) found = true;
      if (bar == std::string_view::npos) break;
      start = bar + 1;
    }
    *holds = (e.op == Op::kIf) == found;
    return true;
  }

  // The width table `e.ref2` gives for the value of field `e.ref`.
  bool table_width(const Entry& e, std::size_t* width) {
    const Symbol* s = lookup(e.ref);
    if (!s) return fail(e.ref, std::string("no field ") + e.ref + " before its use");
    std::string_view code = text_of(*s), table(e.ref2);
    while (!code.empty() && code.back() == ' ') code.remove_suffix(1);
    for (std::size_t start = 0; start < table.size();) {
      std::size_t bar = std::min(table.find('|', start), table.size());
      std::string_view item = table.substr(start, bar - start);
      const std::size_t eq = item.find('=');
      if (eq != std::string_view::npos && item.substr(0, eq) == code) {
        std::size_t w = 0;
        for (char c : item.substr(eq + 1)) w = w * 10 + static_cast<std::size_t>(c - '0');
        *width = w;
        return true;
      }
      start = bar + 1;
    }
    return fail(e.name,
                std::string(e.ref) + " '" + std::string(code) + "' has no width for " + e.name,
                s->offset);
  }

  bool field(const Entry& e, std::vector<Node>* out) {
    std::size_t width = e.width;
    if (e.op == Op::kTableField) {
      if (!table_width(e, &width)) return false;
    } else if (width == 0 && e.ref) {
      std::uint64_t w = 0, factor = 1;
      if (!number(e.ref, &w) || (e.ref2 && !number(e.ref2, &factor))) return false;
      // Factors come from fields of at most nine digits: the product cannot wrap.
      if (w > 0xFFFFFFFFu || factor > 0xFFFFFFFFu) return fail(e.name, "width too large");
      w *= factor;
      if (w > src_.left(bytes.size()))
        return fail(e.name,
                    std::string(e.name) + " of " + std::to_string(w) + " bytes runs past the end");
      width = static_cast<std::size_t>(w);
      if (width == 0) return true;  // an empty field takes nothing
    }
    std::string reason;
    const std::size_t at = bytes.size();
    if (!src_.field(e, width, bytes, &reason)) return fail(e.name, reason);
    Node n;
    n.name = e.name;
    n.kind = e.kind;
    n.rest = e.op == Op::kField && e.width == 0 && !e.ref;
    n.offset = static_cast<std::uint32_t>(at);
    n.width = static_cast<std::uint32_t>(bytes.size() - at);
    out->push_back(std::move(n));
    symbols_.push_back({e.name, static_cast<std::uint32_t>(at),
                        static_cast<std::uint32_t>(bytes.size() - at), e.kind});
    return true;
  }

  bool loop(std::size_t at, std::size_t end, int depth, std::vector<Node>* out) {
    const Entry& e = e_[at];
    std::uint64_t count = e.width;
    if (e.ref) {
      if (!number(e.ref, &count)) return false;
      if (e.width) {  // LoopLess
        if (count < e.width)
          return fail(e.name, std::string(e.ref) + " is below " + std::to_string(e.width));
        count -= e.width;
      }
      if (e.ref2) {
        std::uint64_t factor = 0;
        if (!number(e.ref2, &factor)) return false;
        // Both factors are below 10^9 (their fields' widths), so the product is exact.
        if (count > 0xFFFFFFFFu || factor > 0xFFFFFFFFu) return fail(e.name, "count too large");
        count *= factor;
      }
      if (e.op == Op::kTriangle) {
        if (count > 0xFFFFFFFFu) return fail(e.name, "count too large");
        count = count * (count + 1) / 2;
      }
    }
    // Every item takes at least one byte (checked below), so a count above what is
    // left cannot be met; refusing it first keeps a hostile count from spinning.
    if (count > src_.left(bytes.size()))
      return fail(e.name, std::string(e.name) + " repeats " + std::to_string(count) +
                              " times with " + std::to_string(src_.left(bytes.size())) +
                              " bytes left");
    std::string reason;
    if (!src_.enter_loop(e, count, &reason)) return fail(e.name, reason);
    Node n;
    n.name = e.name;
    n.loop = true;
    n.offset = static_cast<std::uint32_t>(bytes.size());
    const std::size_t mark = symbols_.size();
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::size_t before = bytes.size();
      src_.enter_item(i);
      std::vector<Node> group;
      std::size_t next = 0;
      if (!walk(at + 1, end, depth + 1, &group, &next)) return false;
      src_.leave_item();
      if (bytes.size() == before) return fail(e.name, "an item of the description takes no bytes");
      n.items.push_back(std::move(group));
      // Fields of one item are not seen by the next; the last item's stay visible, as
      // the fields after the loop may refer to them.
      if (i + 1 < count) symbols_.resize(mark);
    }
    src_.leave_loop();
    n.width = static_cast<std::uint32_t>(bytes.size() - n.offset);
    out->push_back(std::move(n));
    return true;
  }

  // Walks entries [from, to); *next is where the walk stopped.
  bool walk(std::size_t from, std::size_t to, int depth, std::vector<Node>* out,
            std::size_t* next) {
    if (depth > kMaxDepth) return fail(nullptr, "the description nests too deeply");
    for (std::size_t i = from; i < to; ++i) {
      const Entry& e = e_[i];
      switch (e.op) {
        case Op::kField:
        case Op::kTableField:
          if (!field(e, out)) return false;
          break;
        case Op::kLoop:
        case Op::kTriangle: {
          std::size_t end = closing(i);
          if (!loop(i, end, depth, out)) return false;
          i = end;
          break;
        }
        case Op::kIf:
        case Op::kIfNot:
        case Op::kIfBits: {
          std::size_t end = closing(i);
          bool holds = false;
          if (!condition(e, &holds)) return false;
          std::size_t inner = 0;
          if (holds && !walk(i + 1, end, depth + 1, out, &inner)) return false;
          i = end;
          break;
        }
        case Op::kEnd:
          break;
      }
    }
    *next = to;
    return true;
  }

  std::span<const Entry> e_;
  Source& src_;
  std::vector<Symbol> symbols_;
};

// Decoding: the fields are the TRE's bytes in order.
class ByteSource : public Source {
 public:
  ByteSource(const std::uint8_t* data, std::size_t n) : data_(data), n_(n) {}
  bool field(const Entry& e, std::size_t width, std::vector<std::uint8_t>& out,
             std::string* reason) override {
    const std::size_t at = out.size(), left = n_ - at;
    if (width == 0) width = left;  // the rest
    if (width > left) {
      *reason = std::string(e.name) + " needs " + std::to_string(width) + " bytes, " +
                std::to_string(left) + " left";
      return false;
    }
    out.insert(out.end(), data_ + at, data_ + at + width);
    return true;
  }
  std::size_t left(std::size_t written) const override { return n_ - written; }

 private:
  const std::uint8_t* data_;
  std::size_t n_;
};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A number-like text (sign, digits, at most one point) is right-justified with zeros
// after its sign; the other texts of a BCS-N field are left-justified like BCS-A.
bool numeric(std::string_view v) {
  std::size_t i = (!v.empty() && (v[0] == '+' || v[0] == '-')) ? 1 : 0;
  if (i == v.size()) return false;
  for (; i < v.size(); ++i)
    if ((v[i] < '0' || v[i] > '9') && v[i] != '.') return false;
  return true;
}

// Encoding: the fields are the members of a JSON object, loops its arrays of objects.
class JsonSource : public Source {
 public:
  explicit JsonSource(const JsonValue& root) { scopes_.push_back(&root); }

  bool field(const Entry& e, std::size_t width, std::vector<std::uint8_t>& out,
             std::string* reason) override {
    const JsonValue* v = scopes_.back()->find(e.name);
    if (!v || v->type == JsonValue::kArray || v->type == JsonValue::kObject ||
        v->type == JsonValue::kNull) {
      *reason = std::string("no value for ") + e.name;
      return false;
    }
    const std::string& t = v->text;
    if (e.kind == Kind::kB) {
      if (t.size() % 2 || (width && t.size() != 2 * width)) {
        *reason = std::string(e.name) + " needs " + std::to_string(width ? width * 2 : 0) +
                  " hexadecimal digits";
        return false;
      }
      for (std::size_t i = 0; i < t.size(); i += 2) {
        int hi = hex_digit(t[i]), lo = hex_digit(t[i + 1]);
        if (hi < 0 || lo < 0) {
          *reason = std::string(e.name) + " is not hexadecimal";
          return false;
        }
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
      }
      return true;
    }
    std::string text;
    if (!latin1(t, &text)) {
      *reason = std::string(e.name) + " has a character outside Latin-1";
      return false;
    }
    if (width == 0) width = text.size();  // the rest: as long as the value
    if (text.size() > width) {
      *reason = std::string(e.name) + " is wider than its " + std::to_string(width) + " characters";
      return false;
    }
    const std::size_t pad = width - text.size();
    if (e.kind == Kind::kN && numeric(text)) {
      std::size_t sign = (text[0] == '+' || text[0] == '-') ? 1 : 0;
      text.insert(sign, pad, '0');
    } else {
      text.append(pad, ' ');
    }
    out.insert(out.end(), text.begin(), text.end());
    return true;
  }
  std::size_t left(std::size_t written) const override {
    return written < kMaxTre ? kMaxTre - written : 0;
  }
  bool enter_loop(const Entry& e, std::uint64_t count, std::string* reason) override {
    const JsonValue* v = scopes_.back()->find(e.name);
    std::size_t have = v && v->type == JsonValue::kArray ? v->items.size() : 0;
    if (have != count || (v && v->type != JsonValue::kArray)) {
      *reason = std::string(e.name) + " has " + std::to_string(have) +
                " items where its count says " + std::to_string(count);
      return false;
    }
    loops_.push_back(v);
    return true;
  }
  void enter_item(std::uint64_t i) override {
    const JsonValue& item = loops_.back()->items[static_cast<std::size_t>(i)];
    scopes_.push_back(item.type == JsonValue::kObject ? &item : &empty_);
  }
  void leave_item() override { scopes_.pop_back(); }
  void leave_loop() override { loops_.pop_back(); }

 private:
  // UTF-8 to the one-byte characters a TRE holds.
  static bool latin1(const std::string& s, std::string* out) {
    for (std::size_t i = 0; i < s.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(s[i]);
      if (c < 0x80) {
        out->push_back(static_cast<char>(c));
      } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size()) {
        out->push_back(
            static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F)));
      } else {
        return false;
      }
    }
    return true;
  }

  std::vector<const JsonValue*> scopes_, loops_;
  JsonValue empty_;
};

}  // namespace

Decoded decode(std::string_view tag, const std::uint8_t* data, std::size_t n) {
  Decoded d;
  while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\0')) tag.remove_suffix(1);
  d.tag = std::string(tag);
  if (n > kMaxTre) n = kMaxTre;
  if (data && n) d.bytes.assign(data, data + n);
  const Description* desc = find_description(tag);
  if (!desc) return d;
  ByteSource source(d.bytes.data(), d.bytes.size());
  Walker w(desc->entries, source);
  if (w.run(&d.fields) && w.bytes.size() == d.bytes.size()) {
    d.status = Status::kDecoded;
    return d;
  }
  d.fields.clear();
  d.status = Status::kMalformed;
  if (!w.failure.reason.empty()) {
    d.reason = w.failure.reason;
    d.field = w.failure.field ? w.failure.field : "";
    d.offset = w.failure.offset;
  } else {
    d.reason = std::to_string(d.bytes.size() - w.bytes.size()) + " bytes after the last field";
    d.offset = static_cast<std::uint32_t>(w.bytes.size());
  }
  return d;
}

bool encode(const Description& d, const JsonValue& fields, std::vector<std::uint8_t>* out,
            std::string* reason) {
  JsonSource source(fields);
  Walker w(d.entries, source);
  std::vector<Node> nodes;
  if (!w.run(&nodes)) {
    *reason = w.failure.reason;
    return false;
  }
  if (w.bytes.size() > kMaxTre) {
    *reason = "longer than a TRE can be";
    return false;
  }
  *out = std::move(w.bytes);
  return true;
}

std::vector<AreaEntry> split_area(const std::uint8_t* area, std::size_t n, bool* complete) {
  std::vector<AreaEntry> out;
  std::size_t at = 0;
  *complete = true;
  while (area && at < n) {
    if (n - at < 11) {
      *complete = false;
      break;
    }
    std::size_t cel = 0;
    bool digits = true;
    for (int i = 0; i < 5; ++i) {
      char c = static_cast<char>(area[at + 6 + i]);
      if (c < '0' || c > '9') digits = false;
      cel = cel * 10 + static_cast<std::size_t>(c >= '0' && c <= '9' ? c - '0' : 0);
    }
    if (!digits || cel > n - at - 11) {
      *complete = false;
      break;
    }
    AreaEntry e;
    e.tag.assign(reinterpret_cast<const char*>(area + at), 6);
    while (!e.tag.empty() && (e.tag.back() == ' ' || e.tag.back() == '\0')) e.tag.pop_back();
    e.offset = at + 11;
    e.length = cel;
    out.push_back(std::move(e));
    at += 11 + cel;
  }
  return out;
}

}  // namespace nitf::tre
