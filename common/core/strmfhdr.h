// The streaming file header: the STREAMING_FILE_HEADER extension at the end of a file
// written before its lengths were known (they read as all nines in the header).
//
// Layout at the end of the file: SFH_L1 (7 digits), SFH_DELIM1 (0A 6E 1D 97),
// SFH_DR (SFH_L1 bytes: the header and subheaders again, with their real values),
// SFH_DELIM2 (0E CA 14 BF), SFH_L2 (7 digits, equal to SFH_L1). The readers re-read
// their fields straight from SFH_DR; the document tracks how much of it they took.
#pragma once

#include <cstdint>

namespace nitf {

inline constexpr unsigned char kSfhDelim1[4] = {0x0A, 0x6E, 0x1D, 0x97};
inline constexpr unsigned char kSfhDelim2[4] = {0x0E, 0xCA, 0x14, 0xBF};

// What the lookup found, kept for one parse.
struct StreamingFileHeader {
  std::int64_t sfh_l1 = 0;
  std::int64_t sfh_l2 = 0;
  unsigned char delim1[5] = {};
  unsigned char delim2[5] = {};
};

// The document's progress through the replacement data.
struct StreamingState {
  std::int64_t replacement_consumed = 0;  // bytes of SFH_DR taken by re-reads so far
  std::int32_t located = 0;               // 1 once the lookup succeeded
  std::int64_t bytes_to_end = 0;          // from the first untaken SFH_DR byte to the end
};

// Searches the end of the file backwards for SFH_DELIM1 (in overlapping 255-byte
// windows, so a delimiter across two windows is seen), checks the frame around it and
// stores the bytes from the start of SFH_DR to the end of the file. Results:
// RET_SUCCESS; RET_INVALID_PARAMETER when the file is too small or holds no delimiter;
// RET_FILE_READ on a short read; RET_FILE_FORMAT when the frame does not hold together.
// On success the file is positioned at SFH_L1.
int locate_streaming_file_header(int handle, StreamingFileHeader* record,
                                 std::int64_t* bytes_to_end);

}  // namespace nitf
