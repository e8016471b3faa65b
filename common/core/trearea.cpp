// TRE areas: counting and the shared reader.
#include "core/trearea.h"

#include <cstring>
#include <string_view>

#include <kvntfu.h>

namespace nitf {

std::uint32_t CountTres(const std::uint8_t* area, std::size_t n) {
  if (!area) return 0;
  std::uint32_t count = 0;
  std::size_t offset = 0;
  while (offset < n) {
    std::int64_t cel = 0;
    if (offset + 6 < n) {
      std::size_t avail = n - (offset + 6);
      std::string_view field(reinterpret_cast<const char*>(area + offset + 6),
                             avail < 5 ? avail : 5);
      cel = parse_decimal(field);
    }
    // A negative CEL would walk backwards; it advances by the header alone.
    if (cel < 0) cel = 0;
    offset += 11 + static_cast<std::size_t>(cel);
    ++count;
  }
  return count;
}

bool TreArea::assign(const std::uint8_t* data, std::size_t n) {
  if (!bytes.allocate(n + 1)) {
    tre_count = 0;
    return false;
  }
  if (n) std::memcpy(bytes.data(), data, n);
  tre_count = CountTres(bytes.data(), n);
  return true;
}

int read_extension_area(FieldReader& in, const ExtensionFields& f, TreArea* area) {
  area->clear();
  if (int r = in.text(f.length_text, 5, f.length_name); r != RET_SUCCESS) return r;
  std::int32_t length = parse_decimal(f.length_text);
  if (length == 0) return RET_SUCCESS;
  if (length < 3)
    return in.refuse(f.length_name, "no room for the overflow field", RET_FILE_FORMAT);
  if (int r = in.text(f.overflow_text, 3, f.overflow_name); r != RET_SUCCESS) return r;
  std::size_t n = static_cast<std::size_t>(length) - 3;
  if (!in.fits(n, f.area_name)) return RET_FILE_READ;
  if (!area->bytes.allocate(n + 1)) return RET_NO_MEMORY;
  if (int r = in.bytes(area->bytes.data(), n, f.area_name); r != RET_SUCCESS) {
    area->clear();
    return r;
  }
  area->bytes[n] = 0;
  area->tre_count = CountTres(area->bytes.data(), n);
  return RET_SUCCESS;
}

}  // namespace nitf
