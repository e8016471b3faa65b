// Fixed-width field reading and the module's decimal conversion.
#include "fields/fieldreader.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <kvntfu.h>

#include "kernel.h"

namespace nitf {
namespace {

std::int64_t parse_signed(std::string_view field, std::int64_t limit) {
  std::size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  std::int64_t value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    value = value * 10 + (field[i] - '0');
    if (value > limit) {
      value = limit;
      // Skip the remaining digits: the value stays saturated.
    }
  }
  return negative ? -value : value;
}

}  // namespace

std::int32_t parse_decimal(std::string_view field) {
  return static_cast<std::int32_t>(parse_signed(field, 2147483647));
}

std::int64_t parse_decimal64(std::string_view field) {
  return parse_signed(field, INT64_C(999999999999999999));
}

bool is_all_nines(const char* field, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    if (field[i] != '9') return false;
  }
  return width > 0;
}

std::int64_t end_within(std::int64_t file_size, std::int64_t start, std::uint64_t length) {
  if (start >= file_size) return file_size;
  std::uint64_t room = static_cast<std::uint64_t>(file_size - start);
  return length >= room ? file_size : start + static_cast<std::int64_t>(length);
}

FieldReader::FieldReader(int handle, std::int64_t file_size, const char* context,
                         std::int64_t budget)
    : handle_(handle),
      file_size_(file_size < 0 ? 0 : file_size),
      position_(kernel::seek_file(handle, 0, kernel::kSeekCurrent)),
      context_(context),
      budget_(budget) {
  if (position_ < 0) position_ = file_size_;  // an unusable handle reads nothing
}

std::int64_t FieldReader::remaining() const {
  return position_ < file_size_ ? file_size_ - position_ : 0;
}

bool FieldReader::fits(std::uint64_t n, const char* name) const {
  if (n <= static_cast<std::uint64_t>(remaining())) return true;
  char line[256];
  std::snprintf(line, sizeof line,
                "%s: %s at offset %" PRId64 " claims %" PRIu64 " bytes, the file holds %" PRId64
                "\n",
                context_, name, position_, n, remaining());
  kernel::debug_output(line);
  return false;
}

int FieldReader::refuse(const char* name, const char* why, int code) const {
  char line[256];
  std::snprintf(line, sizeof line, "%s: %s before offset %" PRId64 ": %s\n", context_, name,
                position_, why);
  kernel::debug_output(line);
  return code;
}

int FieldReader::take(void* dst, std::size_t n, const char* name) {
  if (budget_ >= 0 && taken_ + static_cast<std::int64_t>(n) > budget_) return kBudgetSpent;
  std::size_t got = kernel::read_file(handle_, dst, n);
  if (got != n) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%s: %s at offset %" PRId64 ": needed %zu bytes, %zu were there\n", context_,
                  name, position_, n, got);
    kernel::debug_output(line);
    position_ += static_cast<std::int64_t>(got);
    return RET_FILE_READ;
  }
  position_ += static_cast<std::int64_t>(n);
  taken_ += static_cast<std::int64_t>(n);
  return RET_SUCCESS;
}

int FieldReader::text(char* dst, std::size_t width, const char* name) {
  int r = take(dst, width, name);
  if (r == RET_SUCCESS) {
    dst[width] = '\0';
  } else if (r == RET_FILE_READ) {
    dst[0] = '\0';
  }
  return r;
}

int FieldReader::bytes(void* dst, std::size_t n, const char* name) {
  return take(dst, n, name);
}

}  // namespace nitf
