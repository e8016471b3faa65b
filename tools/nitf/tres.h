// The TREs and data extension details that `nitf info` shows, read through the
// module's TRE exports: each as the JSON text the module gives, which the JSON listing
// embeds as it is and the text listing prints as indented "NAME = value" lines.
#pragma once

#include <string>
#include <vector>

#include <kvntfu.h>

namespace cli {

// The JSON objects of the TREs of a header (kind KV_FIELDS_*, segment index), each
// with "area" (user, extended or overflow) and, for overflow, "des" added.
std::vector<std::string> tre_objects(NitfDocument* doc, int kind, int index);
// Kv_NITFGetDesJson's object for data extension segment `index`, or "".
std::string des_object(NitfDocument* doc, int index);
// Prints a TRE object (or a data extension object) as text, indented by `indent`.
void print_json_text(const std::string& json, int indent);

}  // namespace cli
