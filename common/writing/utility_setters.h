// Shared by the setters: extension areas, length bookkeeping and the checks that let a
// setter refuse a record before it changes anything.
//
// A change that makes a header or subheader longer or shorter moves the document's
// current lengths, HL and FL (values and texts) by the same amount, so that the getters
// report what the next save writes. The source lengths, from which the document finds
// its bytes, never change here.
#pragma once

#include <cstdint>
#include <span>

#include "fields/field_table.h"

struct NitfDocument;

namespace nitf {

struct NitfFileHeaderData;
struct TreArea;
enum class SegmentKind : std::int32_t;

// Sets FL (source and current) and its 12-digit text to `length`.
int SetFileLength(NitfFileHeaderData* header, std::int64_t length);

// Moves the current subheader length of segment `index` of `kind` (when the table has
// an entry for it) and FL by `delta`.
void AdjustSubheaderLength(::NitfDocument* document, SegmentKind kind, std::uint32_t index,
                           std::int64_t delta);
// Moves FL (current, and its text) by `delta`.
void AdjustFileLength(::NitfDocument* document, std::int64_t delta);
// Moves HL (current) and FL by `delta`.
void AdjustHeaderLength(::NitfDocument* document, std::int64_t delta);

// What an extension area with a 5-digit length field adds to its (sub)header: the
// field, and when the length is not 0 the overflow field and the TREs it counts.
inline std::int64_t ExtensionSpan(std::int64_t length) {
  return 5 + (length > 0 ? length : 0);
}

// SetExtensionArea's refusals alone: whether it would refuse these values for the area
// whose length field reads `length_text`. Nothing changes.
int CheckExtensionArea(const char* length_text, std::int64_t length, std::int64_t overflow,
                       const void* data);

// Replaces an extension area from a setter's values: `length` is the 5-digit length
// field (overflow field included), `overflow` the 3-digit overflow field, `data` the
// length - 3 TRE bytes or null. With data the area becomes a copy of them; without data
// a length of 0 empties the area and any other length must equal the present one.
// Lengths of 1 to 3 with data, lengths above 99999, negative values and an overflow
// field wider than 3 digits give RET_INVALID_PARAMETER, a refused copy RET_NO_MEMORY; in
// both cases nothing changes. *delta receives the change of the (sub)header's length.
int SetExtensionArea(TreArea* area, char* length_text, char* overflow_text, std::int64_t length,
                     std::int64_t overflow, const void* data, std::int64_t* delta);

// Whether a setter would take every generic field of `table` from the public record,
// judged on `trial`, a record of the same kind no one else sees: the fields'
// conversions judge a setter's text by that text alone, so a refusal there is a refusal
// on the real record. Lets a setter refuse before it changes anything.
template <class R>
int check_fields(std::span<const Field<R>> table, R& trial, const void* record) {
  for (const Field<R>& f : table)
    if (generic_settable(f))
      if (int x = set_field(f, trial, record, LongText::kRefuse); x != RET_SUCCESS) return x;
  return RET_SUCCESS;
}

}  // namespace nitf
