// Locating the streaming file header.
#include "core/strmfhdr.h"

#include <cstring>
#include <string_view>

#include <kvntfu.h>

#include "fields/fieldreader.h"
#include "kernel.h"

namespace nitf {
namespace {

constexpr std::int64_t kWindow = 255;
constexpr std::int64_t kLengthWidth = 7;

// Position of the first SFH_DELIM1 in buf[0, n), or -1. The window is searched as bytes:
// image data before the delimiter may hold zero bytes.
std::int64_t find_delimiter(const unsigned char* buf, std::int64_t n) {
  for (std::int64_t i = 0; i + 4 <= n; ++i) {
    if (std::memcmp(buf + i, kSfhDelim1, 4) == 0) return i;
  }
  return -1;
}

// Reads the frame from SFH_L1 (at `start`) to SFH_L2 and checks it.
int check_frame(int handle, std::int64_t start, std::int64_t size, StreamingFileHeader* record) {
  char digits[kLengthWidth + 1];
  if (kernel::seek_file(handle, start, kernel::kSeekSet) != start) return RET_FILE_READ;
  if (kernel::read_file(handle, digits, kLengthWidth) != kLengthWidth) return RET_FILE_READ;
  digits[kLengthWidth] = '\0';
  record->sfh_l1 = parse_decimal(digits);
  if (kernel::read_file(handle, record->delim1, 4) != 4) return RET_FILE_READ;
  if (std::memcmp(record->delim1, kSfhDelim1, 4) != 0) return RET_FILE_FORMAT;
  // The replacement data must lie inside the file before the closing frame.
  std::int64_t data_start = start + kLengthWidth + 4;
  if (record->sfh_l1 < 0 || record->sfh_l1 > size - data_start) return RET_FILE_READ;
  if (kernel::seek_file(handle, record->sfh_l1, kernel::kSeekCurrent) !=
      data_start + record->sfh_l1)
    return RET_FILE_READ;
  if (kernel::read_file(handle, record->delim2, 4) != 4) return RET_FILE_READ;
  if (std::memcmp(record->delim2, kSfhDelim2, 4) != 0) return RET_FILE_FORMAT;
  if (kernel::read_file(handle, digits, kLengthWidth) != kLengthWidth) return RET_FILE_READ;
  record->sfh_l2 = parse_decimal(digits);
  if (record->sfh_l2 != record->sfh_l1) return RET_FILE_FORMAT;
  return RET_SUCCESS;
}

}  // namespace

int locate_streaming_file_header(int handle, StreamingFileHeader* record,
                                 std::int64_t* bytes_to_end) {
  std::int64_t size = kernel::seek_file(handle, 0, kernel::kSeekEnd);
  if (size < 1) return RET_INVALID_PARAMETER;
  unsigned char window[kWindow + 1];
  std::int64_t scanned = 0;
  while (true) {
    std::int64_t remaining = size - scanned;
    if (remaining < 4) return RET_INVALID_PARAMETER;
    std::int64_t n = remaining >= kWindow + 1 ? kWindow : remaining;
    std::int64_t at = size - (n + scanned);
    if (kernel::seek_file(handle, at, kernel::kSeekSet) != at) return RET_FILE_READ;
    std::int64_t got = static_cast<std::int64_t>(kernel::read_file(handle, window, n));
    scanned += got;
    if (got != n) return RET_FILE_READ;
    std::int64_t p = find_delimiter(window, got);
    if (p >= 0) {
      std::int64_t delimiter_at = at + p;
      if (delimiter_at < kLengthWidth) return RET_FILE_FORMAT;
      int r = check_frame(handle, delimiter_at - kLengthWidth, size, record);
      if (r != RET_SUCCESS) return r;
      *bytes_to_end = size - (delimiter_at + 4);
      kernel::seek_file(handle, delimiter_at - kLengthWidth, kernel::kSeekSet);
      return RET_SUCCESS;
    }
    scanned -= 3;  // windows overlap so that a delimiter across their edge is seen
    if (scanned >= size) return RET_INVALID_PARAMETER;
  }
}

}  // namespace nitf
