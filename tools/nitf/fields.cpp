// Reading a public record's members through the module's field descriptions.
#include "fields.h"

#include <cctype>
#include <cstring>

namespace cli {

std::span<const NitfFieldInfo> fields_of(int kind) {
  const NitfFieldInfo* fields = nullptr;
  int32_t count = 0;
  if (Kv_NITFGetFieldTable(kind, &fields, &count) != RET_SUCCESS || count < 0) return {};
  return {fields, static_cast<std::size_t>(count)};
}

std::string lower_name(const NitfFieldInfo& f) {
  std::string s = f.name;
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

const NitfFieldInfo* find_field(int kind, std::string_view name) {
  for (const NitfFieldInfo& f : fields_of(kind)) {
    const std::string lower = lower_name(f);
    if (lower.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(name[i])) == lower[i];
    if (same) return &f;
  }
  return nullptr;
}

const void* member_at(const void* record, int offset) {
  return static_cast<const unsigned char*>(record) + offset;
}

// Records are packed: members are copied out, never read through a typed pointer.
long long number_at(const void* record, const NitfFieldInfo& f, int offset) {
  if (f.form == KV_FORM_UNSIGNED) {
    uint32_t v;
    std::memcpy(&v, member_at(record, offset), sizeof v);
    return v;
  }
  int32_t v;
  std::memcpy(&v, member_at(record, offset), sizeof v);
  return v;
}

std::vector<long long> location_of(const void* record, const NitfFieldInfo& f) {
  return {number_at(record, f, f.offset), number_at(record, f, f.second_offset)};
}

}  // namespace cli
