// Fixed-field formatting shared by the setters, the segment builders and the writer.
//
// A field of width w is w characters plus NUL. Texts are stored left-justified and
// space-filled (BCS-A), numbers right-justified and zero-filled (BCS-N). Nothing here
// ever writes outside the field, and a value that does not fit is refused rather than
// cut: a cut number would read back as another number.
#pragma once

#include <cstdint>

#include "kernel.h"

namespace nitf {

// Stores `text` in the field, space-filled to `width`. RET_INVALID_PARAMETER (field
// unchanged) for a null field or text, or a text longer than the width.
int CopyTextField(char* field, int width, const char* text);

// Stores `value` zero-filled in `width` digits. A negative value carries its minus sign
// at the front of the field (-5 in five characters is "-0005"), the form every reader
// parses. RET_INVALID_PARAMETER (field unchanged) when the decimal form is wider than
// the field.
int FormatNumberField(char* field, int width, std::int64_t value);

// FormatNumberField into `scratch` (room for width + 1): the characters, or null when
// the value does not fit.
const char* number_text(char* scratch, int width, std::int64_t value);

// A location of two 5-character groups (ILOC, SLOC, SBND1, SBND2), row first, each
// zero-filled with a negative value's minus sign at the front of its group: row -12
// and column 40 give "-001200040". RET_INVALID_PARAMETER (field unchanged) for a value
// outside -9999..99999.
int FormatLocationField(char* field, std::int64_t row, std::int64_t column);

}  // namespace nitf
