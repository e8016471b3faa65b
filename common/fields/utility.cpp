// Fixed-field formatting.
#include "fields/utility.h"

#include <cstdio>
#include <cstring>

#include <kvntfu.h>

namespace nitf {

int CopyTextField(char* field, int width, const char* text) {
  if (!field || !text || width < 0) return RET_INVALID_PARAMETER;
  std::size_t n = std::strlen(text);
  if (n > static_cast<std::size_t>(width)) return RET_INVALID_PARAMETER;
  std::memset(field, ' ', static_cast<std::size_t>(width));
  std::memcpy(field, text, n);
  field[width] = '\0';
  return RET_SUCCESS;
}

int FormatNumberField(char* field, int width, std::int64_t value) {
  if (!field || width <= 0 || width > 20) return RET_INVALID_PARAMETER;
  char digits[32];
  int n = value < 0 ? std::snprintf(digits, sizeof digits, "-%0*llu", width - 1,
                                    0ull - static_cast<unsigned long long>(value))
                    : std::snprintf(digits, sizeof digits, "%0*lld", width,
                                    static_cast<long long>(value));
  if (n != width) return RET_INVALID_PARAMETER;
  std::memcpy(field, digits, static_cast<std::size_t>(width) + 1);
  return RET_SUCCESS;
}

const char* number_text(char* scratch, int width, std::int64_t value) {
  return FormatNumberField(scratch, width, value) == RET_SUCCESS ? scratch : nullptr;
}

int FormatLocationField(char* field, std::int64_t row, std::int64_t column) {
  char groups[2][6];
  if (!field || FormatNumberField(groups[0], 5, row) != RET_SUCCESS ||
      FormatNumberField(groups[1], 5, column) != RET_SUCCESS)
    return RET_INVALID_PARAMETER;
  std::memcpy(field, groups[0], 5);
  std::memcpy(field + 5, groups[1], 6);
  return RET_SUCCESS;
}

}  // namespace nitf
