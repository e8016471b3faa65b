// Tagged record extensions: the dictionary of descriptions and the one interpreter that
// reads and writes them.
//
// A description is a flat constant table of entries: fields (name, width, kind), loops
// whose count is an earlier field's value, and conditional groups that test an earlier
// field. The interpreter walks a description over a TRE's bytes and builds a tree of
// named fields; walked over a JSON object it produces the bytes, so that decoding and
// encoding cannot drift apart. TRE bytes come from files: every width and count is
// checked against what is left before it is used, and a TRE that does not fit its
// description is reported (field and offset) and kept raw by the callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nitf::tre {

struct JsonValue;

enum class Kind : std::uint8_t { kA, kN, kB };  // BCS-A, BCS-N, binary
enum class Op : std::uint8_t {
  kField,       // width fixed, or taken from the field named by `ref`, or 0: the rest
  kLoop,        // repeats its body `ref` times (times `ref2` when given), or `width` times
  kTriangle,    // repeats its body n(n+1)/2 times, n the value of `ref` (a packed
                // symmetric matrix)
  kIf,          // its body only when field `ref` holds one of `values` ("A|B"), or
  kIfNot,       // ... holds none of them
  kIfBits,      // its body only when binary field `ref` has one of the bits of `mask` set
  kTableField,  // a field as wide as the table `ref2` ("KEY=WIDTH|...") gives for the
                // value of field `ref`
  kEnd,         // closes the nearest loop or conditional group
};

struct Entry {
  Op op;
  Kind kind;
  std::uint16_t width;
  const char* name;
  const char* ref;
  const char* ref2;        // a loop's or a width's second factor; a conditional's values
  std::uint32_t mask = 0;  // kIfBits: the bits tested (bit 0 the last bit of the field)
};

// The description helpers the dictionary is written in.
constexpr Entry A(const char* n, int w) {
  return {Op::kField, Kind::kA, std::uint16_t(w), n, nullptr, nullptr};
}
constexpr Entry N(const char* n, int w) {
  return {Op::kField, Kind::kN, std::uint16_t(w), n, nullptr, nullptr};
}
constexpr Entry B(const char* n, int w) {
  return {Op::kField, Kind::kB, std::uint16_t(w), n, nullptr, nullptr};
}
// A field as wide as the value of field `ref`; 0 with no ref: the bytes that are left.
constexpr Entry Var(const char* n, Kind k, const char* ref) {
  return {Op::kField, k, 0, n, ref, nullptr};
}
// A field as wide as the product of the values of fields `ref` and `factor`.
constexpr Entry VarProduct(const char* n, Kind k, const char* ref, const char* factor) {
  return {Op::kField, k, 0, n, ref, factor};
}
// A field whose width depends on a code in an earlier field: `table` lists each code
// with its width ("06a=11|06b=12"); a code not listed does not fit.
constexpr Entry VarTable(const char* n, Kind k, const char* code, const char* table) {
  return {Op::kTableField, k, 0, n, code, table};
}
constexpr Entry Rest(const char* n, Kind k = Kind::kA) {
  return {Op::kField, k, 0, n, nullptr, nullptr};
}
constexpr Entry Loop(const char* n, const char* count, const char* factor = nullptr) {
  return {Op::kLoop, Kind::kA, 0, n, count, factor};
}
// Repeats its body `less` times fewer than the value of `count` says (a count that
// includes an item given before the loop); a smaller value does not fit.
constexpr Entry LoopLess(const char* n, const char* count, int less) {
  return {Op::kLoop, Kind::kA, std::uint16_t(less), n, count, nullptr};
}
constexpr Entry Triangle(const char* n, const char* count) {
  return {Op::kTriangle, Kind::kA, 0, n, count, nullptr};
}
constexpr Entry Times(const char* n, int count) {
  return {Op::kLoop, Kind::kA, std::uint16_t(count), n, nullptr, nullptr};
}
constexpr Entry If(const char* field, const char* values) {
  return {Op::kIf, Kind::kA, 0, nullptr, field, values};
}
constexpr Entry IfNot(const char* field, const char* values) {
  return {Op::kIfNot, Kind::kA, 0, nullptr, field, values};
}
// Its body when binary field `field` (a bit mask of at most 4 bytes) has bit `bit`, or
// with IfAnyBit any bit of `mask`, set: the existence masks of band and illumination
// TREs.
constexpr Entry IfBit(const char* field, int bit) {
  return {Op::kIfBits, Kind::kA, 0, nullptr, field, nullptr, std::uint32_t{1} << bit};
}
constexpr Entry IfAnyBit(const char* field, std::uint32_t mask) {
  return {Op::kIfBits, Kind::kA, 0, nullptr, field, nullptr, mask};
}
constexpr Entry End() {
  return {Op::kEnd, Kind::kA, 0, nullptr, nullptr, nullptr};
}

struct Description {
  const char* tag;
  std::span<const Entry> entries;
};

// The description of `tag` (trailing blanks ignored), or null for a TRE we do not know.
const Description* find_description(std::string_view tag);
// Every description, sorted by tag.
std::span<const Description> descriptions();

// One node of a decoded TRE: a field (offset and width in the TRE's bytes), or a loop
// whose items are groups of nodes.
struct Node {
  const char* name = nullptr;
  Kind kind = Kind::kA;
  bool loop = false;
  bool rest = false;  // a field taking the bytes that are left: its value is its width
  std::uint32_t offset = 0, width = 0;
  std::vector<std::vector<Node>> items;  // a loop's groups
};

enum class Status : std::int32_t { kDecoded = 0, kMalformed = 1, kUnknown = 2 };

struct Decoded {
  std::string tag;  // as stored, trailing blanks removed
  std::vector<std::uint8_t> bytes;
  Status status = Status::kUnknown;
  std::vector<Node> fields;  // when decoded
  // When malformed: why, the field and the offset in the TRE's data.
  std::string reason, field;
  std::uint32_t offset = 0;
};

// Decodes `n` bytes of TRE data under `tag`. Never fails: a TRE we do not know is
// kUnknown, one whose bytes do not fit is kMalformed with the reason.
Decoded decode(std::string_view tag, const std::uint8_t* data, std::size_t n);

// The bytes of TRE `tag` built from `fields` (a JSON object of the description's field
// names); false with a reason when a value is missing, too wide or a count does not
// match its items.
bool encode(const Description& d, const JsonValue& fields, std::vector<std::uint8_t>* out,
            std::string* reason);

// The TRE as a JSON object (UTF-8): tag, length, status, and the fields or the reason
// and the bytes as hexadecimal.
std::string to_json(const Decoded& tre);

// The value of a field as shown: its characters (as bytes; the JSON writer escapes
// them), without trailing blanks for BCS-A and blank fields, hexadecimal for binary
// fields. Setting the value back gives the same bytes.
std::string field_text(const Decoded& tre, const Node& field);

// One TRE of an area: its tag and where its data lie in the area.
struct AreaEntry {
  std::string tag;
  std::size_t offset = 0, length = 0;
};
// The TREs of an extension area in order; a TRE whose CEL runs past the area ends the
// walk, and *complete says whether the area was read to its end.
std::vector<AreaEntry> split_area(const std::uint8_t* area, std::size_t n, bool* complete);

}  // namespace nitf::tre
