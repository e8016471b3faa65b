// Fixed-field formatting.
#include "utility.h"

#include <cstdio>
#include <cstring>

#include <kvntfu.h>

namespace nitf {

int FormatNumberField(char* field, std::int64_t value, int width) {
  if (width <= 0 || width > 20) return RET_INVALID_PARAMETER;
  char digits[32];
  int n = value < 0 ? std::snprintf(digits, sizeof digits, "-%0*lld", width - 1,
                                    static_cast<long long>(-value))
                    : std::snprintf(digits, sizeof digits, "%0*lld", width,
                                    static_cast<long long>(value));
  if (n != width) return RET_INVALID_PARAMETER;
  std::memcpy(field, digits, static_cast<std::size_t>(width) + 1);
  return RET_SUCCESS;
}

}  // namespace nitf
