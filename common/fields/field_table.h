// The field tables behind every header kind.
//
// Each header kind (file header; image, graphic, text and data extension subheaders)
// lists its fixed fields once, in file order, as a table of Field entries: name, width,
// where the record keeps the characters, a new record's characters, where the public
// record holds the field, and the conversion that follows the characters. The reader,
// the writer, the defaults, the getter, the setter and the descriptions handed to
// applications (Kv_NITFGetFieldTable) all walk that one table, so they cannot drift
// apart. What repeats (length tables, comments, bands, extension areas) stays with its
// kind, which reads and writes it between runs of the table.
#pragma once

#include <kvntfu.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "core/records.h"
#include "fields/fieldreader.h"

namespace nitf {

// Flags of the module's own beyond the public KV_FIELD_* ones: the generic getter
// (kKindGets) or setter (kKindSets) leaves the field to its kind's own code, which
// keeps it in a form of its own or changes it together with what it counts.
inline constexpr std::uint32_t kKindGets = 0x100;
inline constexpr std::uint32_t kKindSets = 0x200;
inline constexpr std::uint32_t kByKind = kKindGets | kKindSets;
inline constexpr std::uint32_t kPublicFlags = 0xFF;

// Why a conversion runs: after a read from a file, or after a setter stored a value.
struct FieldUse {
  const FieldReader* in = nullptr;  // set while reading: where refusals are reported
  bool marker = false;              // a reader saw a length or size a streaming writer left unknown
  bool extended = false;            // the document reads extended (KV_NITF_EXTENDED)

  bool reading() const { return in != nullptr; }
  // A refusal: while reading it is reported with the field and gives `read_code`; a
  // setter's refusal is always RET_INVALID_PARAMETER.
  int refuse(const char* name, const char* why, int read_code) const {
    return in ? in->refuse(name, why, read_code) : RET_INVALID_PARAMETER;
  }
};

template <class R>
struct Field {
  int id;               // the kind's enum of its fields: the entry's position in its table
  const char* name;     // the MIL-STD-2500C name
  std::uint8_t width;   // characters in the file
  std::uint32_t flags;  // KV_FIELD_* and kByKind
  char* (*text)(R&);    // the characters as read or set, NUL after them; null for a
                        // group the kind keeps in its own form (length tables, areas)
  const char* initial;  // a new record's characters; null: blanks (BCS-A) or none (BCS-N)
  std::int8_t form;     // KV_FORM_* of the public record
  std::int32_t offset;  // of the member in the public record, -1 without
  std::int32_t second;  // the column member of a location, -1 otherwise
  // After the characters changed, by a read or a set: checks them and brings the
  // record's values up to date. Null when the characters are all there is.
  int (*convert)(R&, FieldUse&) = nullptr;
  // The characters a writer puts into the file when the record's values rather than
  // its stored text say what the field holds, at most `width` of them, in `scratch`
  // (32 bytes) or in static storage; null when the value does not fit. Null: the
  // stored text.
  const char* (*encode)(const R&, char* scratch, int width) = nullptr;
  // False when this record's file has no such field (IGEOLO without ICORDS). Null:
  // always there.
  bool (*present)(const R&) = nullptr;

  // The optional parts, for writing tables: KV_FIELD(...).then(check).starting("U").
  constexpr Field then(int (*c)(R&, FieldUse&)) const {
    Field f = *this;
    f.convert = c;
    return f;
  }
  constexpr Field written(const char* (*e)(const R&, char*, int)) const {
    Field f = *this;
    f.encode = e;
    return f;
  }
  constexpr Field when(bool (*p)(const R&)) const {
    Field f = *this;
    f.present = p;
    return f;
  }
  constexpr Field starting(const char* text) const {
    Field f = *this;
    f.initial = text;
    return f;
  }

  bool digits() const { return (flags & KV_FIELD_DIGITS) != 0; }
  bool in_file(const R& r) const { return !present || present(r); }
};

template <auto Member, std::size_t Width, class R>
char* member_text(R& r) {
  static_assert(sizeof(r.*Member) > Width, "the field's characters need room for a NUL");
  return r.*Member;
}

// Table entries. `Record` and `Public` are the aliases of the kind's record and public
// record in scope where the table is written; the characters need room for the width
// and a NUL.
#define KV_ENTRY(ID, NAME, member, width, flags, form, offset, second)                      \
  ::nitf::Field<Record> {                                                                   \
    static_cast<int>(ID), NAME, width, flags,                                               \
        &::nitf::member_text<&Record::member, width, Record>, nullptr, form, offset, second \
  }
// A field the public record holds under its own name.
#define KV_FIELD(NAME, member, width, flags, form) \
  KV_ENTRY(Id::NAME, #NAME, member, width, flags, form, offsetof(Public, NAME), -1)
// A field the public record does not hold.
#define KV_HIDDEN(NAME, member, width, flags) \
  KV_ENTRY(Id::NAME, #NAME, member, width, flags, KV_FORM_NONE, -1, -1)
// A field described for applications but read, written and copied by its kind's own
// code: the length tables, the extension areas.
#define KV_DESCRIBED(NAME, width, flags, form, offset, second)                                   \
  ::nitf::Field<Record> {                                                                        \
    static_cast<int>(Id::NAME), #NAME, width, (flags) | ::nitf::kByKind, nullptr, nullptr, form, \
        offset, second                                                                           \
  }
// A location of two 5-character groups held as two numbers.
#define KV_LOCATION(NAME, member, row, column, flags)                                \
  KV_ENTRY(Id::NAME, #NAME, member, 10, (flags) | KV_FIELD_DIGITS, KV_FORM_LOCATION, \
           offsetof(Public, row), offsetof(Public, column))

// The same entry under another table's id: the table of another version of a layout
// shares the entries of the fields both versions have alike.
template <class R, class Id>
constexpr Field<R> as(const Field<R>& f, Id id) {
  Field<R> g = f;
  g.id = static_cast<int>(id);
  return g;
}

// True when every entry's id is its position: lookups by id index the table.
template <class R>
constexpr bool ids_are_positions(std::span<const Field<R>> table) {
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].id != static_cast<int>(i)) return false;
  return true;
}

// The entry of field `id`.
template <class R, class Id>
const Field<R>& field(std::span<const Field<R>> table, Id id) {
  return table[static_cast<std::size_t>(id)];
}

// A field by its NITF name, or null.
template <class R>
const Field<R>* find_field(std::span<const Field<R>> table, std::string_view name) {
  for (const Field<R>& f : table)
    if (name == f.name) return &f;
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// Reading and defaults

// Reads one field, when this record's file has it, and runs its conversion.
template <class R>
int read_field(const Field<R>& f, R& r, FieldReader& in, FieldUse& use) {
  if (!f.in_file(r)) return RET_SUCCESS;
  if (int x = in.text(f.text(r), f.width, f.name); x != RET_SUCCESS) return x;
  return f.convert ? f.convert(r, use) : RET_SUCCESS;
}

// Reads the fields from `first` to `last`, both included, in table order.
template <class R, class Id>
int read_run(std::span<const Field<R>> table, Id first, Id last, R& r, FieldReader& in,
             FieldUse& use) {
  for (auto i = static_cast<std::size_t>(first); i <= static_cast<std::size_t>(last); ++i)
    if (int x = read_field(table[i], r, in, use); x != RET_SUCCESS) return x;
  return RET_SUCCESS;
}

// Gives every field its initial characters: the entry's text, or blanks across the
// field's width for BCS-A and no characters for BCS-N.
template <class R>
void set_defaults(std::span<const Field<R>> table, R& r) {
  for (const Field<R>& f : table) {
    if (!f.text) continue;
    char* text = f.text(r);
    if (f.initial) {
      std::strcpy(text, f.initial);
    } else if (f.digits()) {
      text[0] = '\0';
    } else {
      std::memset(text, ' ', f.width);
      text[f.width] = '\0';
    }
  }
}

// Sum of the widths of the fields from `first` to `last`.
template <class R, class Id>
std::int64_t widths(std::span<const Field<R>> table, Id first, Id last) {
  std::int64_t n = 0;
  for (auto i = static_cast<std::size_t>(first); i <= static_cast<std::size_t>(last); ++i)
    n += table[i].width;
  return n;
}

// Sum of the widths of the fields this record's file has, from `first` to `last`.
template <class R, class Id>
std::int64_t run_length(std::span<const Field<R>> table, Id first, Id last, const R& r) {
  std::int64_t n = 0;
  for (auto i = static_cast<std::size_t>(first); i <= static_cast<std::size_t>(last); ++i)
    if (table[i].text && table[i].in_file(r)) n += table[i].width;
  return n;
}

// ---------------------------------------------------------------------------------------
// The public record

// A location group (0: row, 1: column) of SLOC, ILOC, SBND1 or SBND2 as a number; a
// minus sign in front of the group makes it negative. A field shorter than the group
// gives 0.
std::int32_t coordinate_group(const char* field, int group);

// A security classification: C, R, S, T or U. The strict reader refuses any other with
// RET_FILE_FORMAT; extended reading keeps what producers wrote (a blank, the first
// letter of a word) as it is, since nothing the module does depends on it.
int check_classification(const char* text, const char* name, const FieldUse& use);

// The characters of a form the generic getter copies: a string, inline characters, a
// number, a location.
bool get_generic(const char* text, std::size_t width, int form, void* member, void* second_member,
                 OutList& out);

// Copies every field the generic getter handles into the public record; false when a
// copy could not be made (the copies made so far are in `out`). The strings come
// first, nulled before any is copied, so that a failure leaves the record's other
// members as they were and no string the caller would own.
template <class R>
bool get_fields(std::span<const Field<R>> table, R& r, void* record, OutList& out) {
  auto* base = static_cast<unsigned char*>(record);
  auto generic = [](const Field<R>& f) {
    return f.form != KV_FORM_NONE && !(f.flags & kKindGets) && f.text;
  };
  for (const Field<R>& f : table)
    if (generic(f) && f.form == KV_FORM_STRING) store_member(base + f.offset, nullptr);
  for (int strings = 1; strings >= 0; --strings) {
    for (const Field<R>& f : table) {
      if (!generic(f) || (f.form == KV_FORM_STRING) != (strings == 1)) continue;
      void* second = f.second >= 0 ? base + f.second : nullptr;
      if (!get_generic(f.text(r), f.width, f.form, base + f.offset, second, out)) return false;
    }
  }
  return true;
}

// Nulls, then releases, the string members the generic getter fills.
template <class R>
void release_strings(std::span<const Field<R>> table, void* record) {
  for (const Field<R>& f : table)
    if (f.form == KV_FORM_STRING && !(f.flags & kKindGets))
      release_member(static_cast<unsigned char*>(record) + f.offset);
}

// How a setter treats a text longer than its field: refused, or silently not taken.
enum class LongText { kRefuse, kIgnore };

// Whether the generic setter would take the member: RET_INVALID_PARAMETER for a null
// string or a number or location the field cannot hold.
int check_generic(int form, std::size_t width, const void* member, const void* second_member);

// Stores the member of a form the generic setter handles into the field's characters
// (an over-long text as `long_text` says). RET_SUCCESS, or RET_INVALID_PARAMETER with
// the characters unchanged.
int set_generic(char* text, std::size_t width, int form, const void* member,
                const void* second_member, LongText long_text);
// A number zero-filled to the width (FormatNumberField), and a location's two groups
// (FormatLocationField).
int store_number(char* text, std::size_t width, std::int64_t value);
int store_location(char* text, std::int64_t row, std::int64_t column);

// Runs the conversion of characters a setter just stored; when it refuses them, the
// `old` characters are put back.
template <class R>
int converted_or_restored(const Field<R>& f, R& r, const char* old) {
  FieldUse use;
  const int x = f.convert ? f.convert(r, use) : RET_SUCCESS;
  if (x != RET_SUCCESS) std::memcpy(f.text(r), old, f.width + 1u);
  return x;
}

// Takes one settable field from the public record and runs its conversion; a
// conversion that refuses the new characters leaves the old ones in place.
template <class R>
int set_field(const Field<R>& f, R& r, const void* record, LongText long_text) {
  const auto* base = static_cast<const unsigned char*>(record);
  const void* second = f.second >= 0 ? base + f.second : nullptr;
  char old[256];
  std::memcpy(old, f.text(r), f.width + 1u);
  if (int x = set_generic(f.text(r), f.width, f.form, base + f.offset, second, long_text);
      x != RET_SUCCESS)
    return x;
  return converted_or_restored(f, r, old);
}

// A setter's text or number for one field, as set_field takes a member: RET_SUCCESS,
// or RET_INVALID_PARAMETER with the field as it was.
template <class R>
int put_text(const Field<R>& f, R& r, const char* text) {
  char old[256];
  std::memcpy(old, f.text(r), f.width + 1u);
  if (int x = set_generic(f.text(r), f.width, KV_FORM_STRING, &text, nullptr, LongText::kRefuse);
      x != RET_SUCCESS)
    return x;
  return converted_or_restored(f, r, old);
}

template <class R>
int put_location(const Field<R>& f, R& r, std::int64_t row, std::int64_t column) {
  char old[256];
  std::memcpy(old, f.text(r), f.width + 1u);
  if (int x = store_location(f.text(r), row, column); x != RET_SUCCESS) return x;
  return converted_or_restored(f, r, old);
}

template <class R>
int put_number(const Field<R>& f, R& r, std::int64_t value) {
  char old[256];
  std::memcpy(old, f.text(r), f.width + 1u);
  if (int x = store_number(f.text(r), f.width, value); x != RET_SUCCESS) return x;
  return converted_or_restored(f, r, old);
}

// True for the fields the generic setter takes.
template <class R>
bool generic_settable(const Field<R>& f) {
  return (f.flags & KV_FIELD_SETTABLE) && !(f.flags & kKindSets) && f.form != KV_FORM_NONE;
}

// ---------------------------------------------------------------------------------------
// Descriptions for applications

// The public description of a field.
template <class R>
NitfFieldInfo describe(const Field<R>& f) {
  return NitfFieldInfo{f.name, f.width, f.form, f.offset, f.second, f.flags & kPublicFlags};
}

}  // namespace nitf
