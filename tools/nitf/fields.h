// The header fields as the module describes them (Kv_NITFGetFieldTable), and the values
// of a public record read and written through those descriptions. `nitf info` lists
// and `nitf set` changes fields by these, so the client keeps no list of its own.
#pragma once

#include <kvntfu.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The fields of header kind `kind` (KV_FIELDS_*); empty for an unknown kind.
std::span<const NitfFieldInfo> fields_of(int kind);
// A field by its NITF name, compared without case; null when the kind has none.
const NitfFieldInfo* find_field(int kind, std::string_view name);
// The name in lower case, the form `nitf info --json` and `nitf set` use.
std::string lower_name(const NitfFieldInfo& f);

// Members of a record, at a field's offsets.
const void* member_at(const void* record, int offset);
long long number_at(const void* record, const NitfFieldInfo& f, int offset);
std::vector<long long> location_of(const void* record, const NitfFieldInfo& f);

}  // namespace cli
