// Fixed-field formatting shared by the setters, the appenders and the writer.
#pragma once

#include <cstdint>

namespace nitf {

// Stores `value` right-justified and zero-filled in `width` characters plus NUL. A
// value whose decimal form is wider than the field is refused with
// RET_INVALID_PARAMETER and the field keeps its text: a cut number would read back as
// another number. Negative values carry their sign in front of the digits.
int FormatNumberField(char* field, std::int64_t value, int width);

}  // namespace nitf
