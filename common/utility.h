// Fixed-field formatting shared by the setters, the segment builders and the writer.
//
// A field of width w is w characters plus NUL. Texts are stored left-justified and
// space-filled (BCS-A), numbers right-justified and zero-filled (BCS-N). Nothing here
// ever writes outside the field, and a value that does not fit is refused rather than
// cut: a cut number would read back as another number. The composition's draw list,
// attachment walk and canvas size live here too (utility_canvas.cpp).
#pragma once

#include <cstdint>

#include "kernel.h"

namespace nitf {

struct NitfFileHeaderData;

// Stores `text` in the field, space-filled to `width`. RET_INVALID_PARAMETER (field
// unchanged) for a null field or text, or a text longer than the width.
int CopyTextField(char* field, int width, const char* text);

// Stores `value` zero-filled in `width` digits. A negative value carries its minus sign
// at the front of the field (-5 in five characters is "-0005"), the form every reader
// parses. RET_INVALID_PARAMETER (field unchanged) when the decimal form is wider than
// the field.
int FormatNumberField(char* field, int width, std::int64_t value);

// CCYYMMDDhhmmss from seven two-character parts, and CCYYMMDD from four. The parts are
// copied as given.
int FormatDateTime(char* field, const char* century, const char* year, const char* month,
                   const char* day, const char* hour, const char* minute, const char* second);
int FormatDate(char* field, const char* century, const char* year, const char* month,
               const char* day);

// Sets FL (source and current) and its 12-digit text to `length`.
int SetFileLength(NitfFileHeaderData* header, std::int64_t length);

}  // namespace nitf

// ---------------------------------------------------------------------------------------
// Composition: the draw list, attachment offsets and the canvas size. Every image and
// graphic segment is placed on the common coordinate system through its chain of
// attachment levels and drawn in display-level order onto one canvas. The filter entry
// points, the composition exports and the appending of graphics and texts (which take
// the lowest display level as the new segment's attachment level) build on these.

struct NitfDocument;

namespace nitf {

// One drawable segment: its kind (SegmentKind: 0 image, 2 graphic), its display level
// (IDLVL or SDLVL) and its position in its kind's list.
struct DrawEntry {
  std::int32_t kind;
  std::int32_t level;
  std::uint32_t index;
};

// The drawable segments sorted by display level, lowest first.
struct DrawList {
  kernel::Buffer<DrawEntry> entries;
};

// Fills `out` with one entry per present image record, then one per present graphic
// record, and sorts them by display level with an exchange sort that fixes the order
// among equal levels (levels 2, 2, 1 in A, B, C end as C, B, A). A document with only
// text records, or with nothing at all, gives an empty list and RET_SUCCESS.
// RET_NO_MEMORY when the list cannot be allocated.
int build_draw_list(const NitfDocument& document, DrawList* out);

// Adds to *row and *column the locations of every segment on the entry's attachment
// chain (the entry's own location is not included: the drawing adds it). The walk
// follows display levels as written; a chain that comes back to a level already on it
// (a segment attached to itself, or a cycle) stops there, so hostile files cannot loop.
void attachment_offset(const NitfDocument& document, const DrawEntry& entry, std::int64_t* row,
                       std::int64_t* column);

// The canvas size of the composition (GetActual_Width_Height): 2048 x 2048 with the
// fixed-canvas option or when no segment has extent, 2 x 2 for a document holding only
// text, otherwise the largest right and bottom extent of every image block grid (padding
// included) placed through its attachment chain. Extents are computed in 64 bits and the
// result is always a positive size: RET_FILE_FORMAT for a negative block geometry, an
// extent that ends left of or above the origin, or an extent of 0 in one direction only;
// RET_NO_MEMORY for a side beyond 2^31 - 1 or a 24-bit canvas beyond the allocation cap.
int canvas_size(NitfDocument* document, std::uint32_t* width, std::uint32_t* height);

// Graphic segments wait for the CGM reader. Until it comes, this is the one answer the
// canvas size and the drawing give for a graphic entry: a debug line naming the segment
// and RET_NOT_SUPPORTED, so that a file that needs its graphics fails with a clear code

}  // namespace nitf

// ---------------------------------------------------------------------------------------
// Sample conversion (utility_samples.cpp): the stored samples of uncompressed image data
// turned into the kernel's pixel layouts, a whole row at a time. The image data reader
// (imgmodes) is the caller; nothing here allocates per row or per pixel.

namespace nitf {

// The smallest and largest sample seen, for stretching 32- and 64-bit samples onto 8 bits.
struct SampleRange {
  std::uint64_t minimum = ~std::uint64_t{0};
  std::uint64_t maximum = 0;
};

// How one image's samples (NBPP bits stored, ABPP significant) become pixels. 1 bit stays
// 1 bit; 8 bits are copied as they are; 12 bits are repacked into the kernel's 12-bit
// layout; 16 bits become native order; 32 and 64 bits are stretched onto 8 bits between
// range.minimum and range.maximum. A 12- or 16-bit image with fewer significant bits
// (ABPP 1 to NBPP - 1) is widened to the full stored range, v * (2^NBPP - 1) / (2^ABPP - 1)
// (a 16-bit ABPP 11 value becomes v * 65535 / 2047), through a table of 2^ABPP entries;
// the significant bits are taken from the low end, or the high end when PJUST is "L".
struct SampleConversion {
  std::int32_t stored_bits = 8;
  std::int32_t significant_bits = 8;
  bool right_justified = true;
  SampleRange range;
  kernel::Buffer<std::uint16_t> scale;  // empty when no widening is done
  // When set, 12- and 16-bit samples become canvas pixels of level_bytes bytes each: the
  // first bytes of the entry of their top 8 bits (after widening), as the painting would
  // put them on the canvas.
  const std::uint32_t* levels = nullptr;
  int level_bytes = 1;
};

// RET_SUCCESS; RET_NOT_SUPPORTED for a stored width other than 1, 8, 12, 16, 32 or 64;
// RET_NO_MEMORY when the table cannot be made.
int prepare_sample_conversion(SampleConversion* conversion, int stored_bits, int significant_bits,
                              bool right_justified);

// Bits per pixel of converted samples: the stored width, except 8 for 32 and 64.
int converted_bits(int stored_bits);

// Widens `range` by `count` big-endian unsigned samples of `bytes` (4 or 8) bytes each.
void scan_sample_range(const std::uint8_t* samples, std::size_t count, int bytes,
                       SampleRange* range);

// Converts `count` contiguous samples that start at bit `first_bit` of `source` into
// `target`, which must hold the converted row ((count * converted_bits + 7) / 8 bytes,
// or count x level_bytes with levels).
// Only 1- and 12-bit samples may start inside a byte. Source and target must not overlap.
// Unused bits of the last target byte are 0.
void convert_samples(const SampleConversion& conversion, const std::uint8_t* source,
                     std::uint64_t first_bit, std::size_t count, std::uint8_t* target);

// The 12-bit repacking, in place: each group of three bytes a, b, c (two 12-bit samples,
// big-endian as NITF stores them) becomes (a << 4 | b >> 4), (c << 4 | a >> 4),
// (b << 4 | c >> 4), which is the kernel's layout. A last group of one or two bytes is
// repacked as if the missing bytes were 0, without touching anything past `bytes`.
void repack_samples12(std::uint8_t* row, std::size_t bytes);

// Interleaves three rows of 8-bit samples, each taken every `stride` bytes, into blue,
// green, red triplets: the kernel's 24-bit layout.
void interleave_bgr(const std::uint8_t* red, const std::uint8_t* green, const std::uint8_t* blue,
                    std::size_t stride, std::size_t count, std::uint8_t* target);

}  // namespace nitf

// ---------------------------------------------------------------------------------------
// Shared by the setters (utility_setters.cpp). Length bookkeeping: A change that makes a header
// or subheader longer or shorter moves the document's current lengths, HL and FL (values
// and texts) by the same amount, so that the getters report what the next save writes.
// The source lengths, from which the document finds its bytes, never change here.

struct NitfDocument;

namespace nitf {

struct TreArea;
enum class SegmentKind : std::int32_t;

// A location of two 5-character groups (ILOC, SLOC, SBND1, SBND2), row first, each
// zero-filled with a negative value's minus sign at the front of its group: row -12
// and column 40 give "-001200040". RET_INVALID_PARAMETER (field unchanged) for a value
// outside -9999..99999.
int FormatLocationField(char* field, std::int64_t row, std::int64_t column);

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

// Replaces an extension area from a setter's values: `length` is the 5-digit length
// field (overflow field included), `overflow` the 3-digit overflow field, `data` the
// length - 3 TRE bytes or null. With data the area becomes a copy of them; without data
// a length of 0 empties the area and any other length must equal the present one.
// Lengths of 1 to 3 with data, lengths above 99999, negative values and an overflow
// field wider than 3 digits give RET_INVALID_PARAMETER, a refused copy RET_NO_MEMORY; in
// both cases nothing changes. *delta receives the change of the (sub)header's length.
int SetExtensionArea(TreArea* area, char* length_text, char* overflow_text, std::int64_t length,
                     std::int64_t overflow, const void* data, std::int64_t* delta);

}  // namespace nitf
