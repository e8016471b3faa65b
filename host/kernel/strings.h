// Kernel string conversion between the module's wide names (UTF-32 here) and UTF-8.
#pragma once

#include <string>

namespace kernel {

// A kernel-allocated wide copy of a UTF-8 string, or null when it is null, not valid
// UTF-8, or memory is refused. Released with release_wide.
wchar_t* wide_copy(const char* utf8);
void release_wide(wchar_t* wide);

// UTF-8 form of a wide string; false when a code point is not valid.
bool utf8_from_wide(const wchar_t* wide, std::string* out);

}  // namespace kernel
