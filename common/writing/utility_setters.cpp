// What the header setters share: length bookkeeping and extension areas.
#include <cstring>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/trearea.h"
#include "fields/fieldreader.h"
#include "fields/utility.h"
#include "writing/utility_setters.h"

namespace nitf {
namespace {

void adjust_file_length(NitfFileHeaderData& h, std::int64_t delta) {
  h.fl_current += delta;
  // A length FL cannot hold keeps the old text; the writer measures what it writes.
  if (h.fl_current >= 0) FormatNumberField(h.fl, 12, h.fl_current);
}

}  // namespace

int SetFileLength(NitfFileHeaderData* header, std::int64_t length) {
  if (int r = FormatNumberField(header->fl, 12, length); r != RET_SUCCESS) return r;
  header->fl_source = header->fl_current = length;
  return RET_SUCCESS;
}

void AdjustSubheaderLength(::NitfDocument* d, SegmentKind kind, std::uint32_t index,
                           std::int64_t delta) {
  if (!d || delta == 0) return;
  auto* t = const_cast<LengthTables*>(tables_of(d->header, kind));
  if (t && index < t->subheader_current.size()) {
    std::uint64_t& entry = t->subheader_current[index];
    entry = static_cast<std::uint64_t>(static_cast<std::int64_t>(entry) + delta);
  }
  adjust_file_length(d->header, delta);
}

void AdjustFileLength(::NitfDocument* d, std::int64_t delta) {
  if (d && delta != 0) adjust_file_length(d->header, delta);
}

void AdjustHeaderLength(::NitfDocument* d, std::int64_t delta) {
  if (!d || delta == 0) return;
  NitfFileHeaderData& h = d->header;
  h.hl_current += delta;
  FormatNumberField(h.hl, 6, h.hl_current);
  adjust_file_length(h, delta);
}

int CheckExtensionArea(const char* length_text, std::int64_t length, std::int64_t overflow,
                       const void* data) {
  if (length < 0 || length > 99999 || overflow < 0 || overflow > 999) return RET_INVALID_PARAMETER;
  if (data && length != 0 && length < 4) return RET_INVALID_PARAMETER;
  if (!data && length != 0 && length != parse_decimal(length_text)) return RET_INVALID_PARAMETER;
  return RET_SUCCESS;
}

int SetExtensionArea(TreArea* area, char* length_text, char* overflow_text, std::int64_t length,
                     std::int64_t overflow, const void* data, std::int64_t* delta) {
  *delta = 0;
  if (int x = CheckExtensionArea(length_text, length, overflow, data); x != RET_SUCCESS) return x;
  const std::int64_t before = parse_decimal(length_text);
  if (data && length != 0) {
    TreArea copy;
    if (!copy.assign(static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(length - 3)))
      return RET_NO_MEMORY;
    *area = std::move(copy);
  } else if (length == 0) {
    area->clear();
  }
  FormatNumberField(length_text, 5, length);
  // Without an area the overflow field is not in the file, and the record holds none.
  if (length != 0) {
    FormatNumberField(overflow_text, 3, overflow);
  } else {
    overflow_text[0] = '\0';
  }
  *delta = ExtensionSpan(length) - ExtensionSpan(before);
  return RET_SUCCESS;
}

}  // namespace nitf
