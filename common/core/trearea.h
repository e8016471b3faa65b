// Tagged record extension areas (UDHD, XHD, UDID, IXSHD, SXSHD, TXSHD).
//
// An area is kept whole and uninterpreted: the bytes after its 3-digit overflow field,
// with a NUL after them, and the number of TREs in it. Every header and subheader
// reader reads its areas through read_extension_area, which checks the 5-digit length
// against what the file holds before allocating.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fields/fieldreader.h"
#include "kernel.h"

namespace nitf {

// Number of TREs in `n` bytes: walks tag (6), CEL (5) and CEL data bytes. The walk
// trusts each CEL, so a last TRE that runs past the end is still counted.
std::uint32_t CountTres(const std::uint8_t* area, std::size_t n);

struct TreArea {
  // The area's bytes plus a NUL; empty when the length field is 0.
  kernel::Buffer<std::uint8_t> bytes;
  std::uint32_t tre_count = 0;

  bool present() const { return !bytes.empty(); }
  // Bytes of TRE data, without the NUL.
  std::size_t size() const { return bytes.empty() ? 0 : bytes.size() - 1; }
  const std::uint8_t* data() const { return bytes.data(); }
  // Replaces the contents by a copy of n bytes; false when memory is refused.
  bool assign(const std::uint8_t* data, std::size_t n);
  void clear() {
    bytes.reset();
    tre_count = 0;
  }
};

// Texts of the area's length field (5) and overflow field (3), as read.
struct ExtensionFields {
  char* length_text;    // room for 5 + NUL
  char* overflow_text;  // room for 3 + NUL
  const char* length_name;
  const char* overflow_name;
  const char* area_name;
};

// Reads the length field at the current position and, when it is not 0, the overflow
// field and the area. A length of 1 or 2 leaves no room for the overflow field and is
// refused with RET_FILE_FORMAT; a length the file cannot hold with RET_FILE_READ.
// Returns RET_SUCCESS, a code, or kBudgetSpent.
int read_extension_area(FieldReader& in, const ExtensionFields& fields, TreArea* area);

}  // namespace nitf
