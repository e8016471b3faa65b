// The generic parts of the field tables: the public record's forms of a field, got and
// set the same way for every header kind.
#include "fields/field_table.h"

#include <cstring>
#include <string_view>

#include "fields/utility.h"

namespace nitf {
namespace {

// Inline characters: the field's characters, blanks after a field shorter than n (a
// record whose read stopped before it).
void put_chars(char* member, const char* text, std::size_t n) {
  std::size_t len = strnlen(text, n);
  std::memcpy(member, text, len);
  std::memset(member + len, ' ', n - len);
}

std::int64_t number_of(int form, const void* member) {
  if (form == KV_FORM_UNSIGNED) {
    std::uint32_t v;
    std::memcpy(&v, member, sizeof v);
    return v;
  }
  std::int32_t v;
  std::memcpy(&v, member, sizeof v);
  return v;
}

std::int32_t int_member(const void* member) {
  return static_cast<std::int32_t>(number_of(KV_FORM_NUMBER, member));
}

}  // namespace

int check_classification(const char* text, const char* name, const FieldUse& use) {
  if (!use.reading() || use.extended) return RET_SUCCESS;
  if (text[0] != '\0' && std::strchr("CRSTU", text[0])) return RET_SUCCESS;
  return use.refuse(name, "not one of C, R, S, T, U", RET_FILE_FORMAT);
}

std::int32_t coordinate_group(const char* field, int group) {
  // The decimal conversion takes a leading minus sign, which is what the group form
  // "-0010" means; no character needs replacing first.
  std::string_view text(field);
  std::size_t at = static_cast<std::size_t>(group) * 5;
  if (at >= text.size()) return 0;
  return parse_decimal(text.substr(at, 5));
}

bool get_generic(const char* text, std::size_t width, int form, void* member, void* second_member,
                 OutList& out) {
  switch (form) {
    case KV_FORM_STRING:
      return out.put(member, copy_out_string(text));
    case KV_FORM_CHARS:
      put_chars(static_cast<char*>(member), text, width);
      return true;
    case KV_FORM_NUMBER:
    case KV_FORM_UNSIGNED: {
      const std::int32_t v = parse_decimal(text);
      std::memcpy(member, &v, sizeof v);
      return true;
    }
    case KV_FORM_LOCATION: {
      const std::int32_t row = coordinate_group(text, 0), column = coordinate_group(text, 1);
      std::memcpy(member, &row, sizeof row);
      std::memcpy(second_member, &column, sizeof column);
      return true;
    }
    default:
      return true;
  }
}

int check_generic(int form, std::size_t width, const void* member, const void* second_member) {
  char scratch[24];
  switch (form) {
    case KV_FORM_STRING:
      return load_member<const char>(member) ? RET_SUCCESS : RET_INVALID_PARAMETER;
    case KV_FORM_NUMBER:
    case KV_FORM_UNSIGNED:
      return FormatNumberField(scratch, static_cast<int>(width), number_of(form, member));
    case KV_FORM_LOCATION:
      return FormatLocationField(scratch, int_member(member), int_member(second_member));
    default:
      return RET_SUCCESS;
  }
}

int store_number(char* text, std::size_t width, std::int64_t value) {
  return FormatNumberField(text, static_cast<int>(width), value);
}

int store_location(char* text, std::int64_t row, std::int64_t column) {
  return FormatLocationField(text, row, column);
}

int set_generic(char* text, std::size_t width, int form, const void* member,
                const void* second_member, LongText long_text) {
  const int w = static_cast<int>(width);
  switch (form) {
    case KV_FORM_STRING: {
      const char* value = load_member<const char>(member);
      if (!value) return RET_INVALID_PARAMETER;
      const int r = CopyTextField(text, w, value);
      return r == RET_SUCCESS || long_text == LongText::kRefuse ? r : RET_SUCCESS;
    }
    case KV_FORM_CHARS:
      std::memcpy(text, member, width);
      text[width] = '\0';
      return RET_SUCCESS;
    case KV_FORM_NUMBER:
    case KV_FORM_UNSIGNED:
      return FormatNumberField(text, w, number_of(form, member));
    case KV_FORM_LOCATION:
      return FormatLocationField(text, int_member(member), int_member(second_member));
    default:
      return RET_SUCCESS;
  }
}

}  // namespace nitf
