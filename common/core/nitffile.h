// The NITF document: one file in memory, its parse driver and segment positioning.
//
// A document owns its open source file, its file header record and one record list per
// segment kind. Segment data stays in the file and is found on demand: the start of a
// segment is HL plus the lengths of every segment before it, taken from the header's
// source tables at every use, so appending to a document never moves the segments of
// its source file. The API keeps one document per handle; the filter entry points
// build one for a single call.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ntfhdr.h"
#include "core/segments.h"
#include "core/strmfhdr.h"
#include "graphics_text/dexsbhdr.h"
#include "graphics_text/grsubhdr.h"
#include "graphics_text/lasubhdr.h"
#include "graphics_text/resubhdr.h"
#include "graphics_text/txsubhdr.h"
#include "image/imsubhdr.h"

namespace kernel {
struct Bitmap;
struct GlobalMemory;
}  // namespace kernel
namespace vector {
struct Drawing;
}

struct NitfDocument {
  NitfDocument() = default;
  NitfDocument(const NitfDocument&) = delete;
  NitfDocument& operator=(const NitfDocument&) = delete;
  ~NitfDocument();

  int file = -1;                  // the source file's kernel handle
  std::int64_t file_size = 0;     // its size when it was opened
  std::int32_t enhancement = 0;   // load option 0x00080000
  std::int32_t fixed_canvas = 0;  // load option 0x00040000
  std::int32_t extended = 0;      // KV_NITF_EXTENDED or load option KV_LOAD_EXTENDED
  nitf::StreamingState streaming;
  std::int32_t header_present = 0;
  nitf::NitfFileHeaderData header;
  std::uint32_t background = 0xFFFFFF;  // canvas colour, 0x00BBGGRR

  // Records per kind (they grow on append) and the counts of the source file.
  std::uint32_t image_count = 0, graphic_count = 0, text_count = 0;
  std::uint32_t source_image_count = 0, source_graphic_count = 0, source_text_count = 0;
  std::uint32_t des_count = 0, res_count = 0;
  std::uint32_t label_count = 0;  // NITF 2.0 only

  nitf::ImageSubheaderList images;
  nitf::GraphicSubheaderList graphics;
  nitf::TextSubheaderList texts;
  nitf::DesSubheaderList des;
  nitf::LabelSubheaderList labels;
  nitf::ResSubheaderList res;  // listed only: the writer copies these segments as read

  // Segments the composition leaves out (Kv_NtfShowSegment), as (kind << 32) | index;
  // the canvas keeps the size they give it.
  std::vector<std::uint64_t> hidden;
};

namespace nitf {

using ::NitfDocument;

// Closes the source file, destroys every record and releases the header's buffers.
int release_document_objects(NitfDocument* document);
// Builds the record lists for the counts of the document.
int allocate_segment_objects(NitfDocument* document);
// Opens the named file, reads its header and every subheader. On failure the
// document keeps what was read; callers discard it.
int parse_file(NitfDocument* document, const wchar_t* name);

// The length tables of one segment kind (none for an unknown kind, or labels outside
// NITF 2.0).
const LengthTables* tables_of(const NitfFileHeaderData& header, SegmentKind kind);

// File offset of a segment's subheader, or of its data; -1 for an unknown kind. These
// only compute: position_at_segment also seeks there.
std::int64_t segment_offset(const NitfDocument& document, SegmentKind kind, std::uint32_t index);
std::int64_t segment_data_offset(const NitfDocument& document, SegmentKind kind,
                                 std::uint32_t index);
std::int64_t position_at_segment(NitfDocument* document, SegmentKind kind, std::uint32_t index);

// Appending (nitffile_append.cpp; images in imsubhdr_append.cpp). Each returns
// RET_SUCCESS or a code and, on failure, leaves the document exactly as it was.

// One kind's length tables grown by a new segment, made before the document changes.
// The kind is named by its count field in the file header (NUMI, NUMS, NUMT).
struct StagedLengths {
  explicit StagedLengths(HeaderId count_field) : count(count_field) {}
  HeaderId count;
  LengthTables tables;
  // Copies the document's tables and adds the entry: RET_FAILURE when the kind holds
  // 999 segments already, RET_NO_MEMORY.
  int stage(const NitfDocument& document, std::uint64_t subheader, std::uint64_t data);
  // Puts the tables in place, writes the new count, and moves HL by the width of one
  // length pair and FL by that and the new segment's lengths.
  void commit(NitfDocument* document);
};

// Moves the bytes of an encoder's global memory handle into `out` and frees the handle
// (recorded with the tracking registry while it is held). RET_NO_MEMORY when the copy
// cannot be made.
int take_global_memory(kernel::GlobalMemory* handle, std::uint32_t size,
                       kernel::Buffer<std::uint8_t>* out);

// The highest display level among the document's images and graphics, 0 for none.
std::int32_t highest_display_level(const NitfDocument& document);
// CCYYMMDDhhmmss a moment before the file's FDT (FDT empty: 50020530010101): the last
// part above 1 loses one, looking from the seconds (or, without them, the minutes)
// towards the century.
void older_date(const char* fdt, bool seconds_too, char out[15]);

// A graphic from a drawing: the drawing is moved below y = 0 when it reaches above,
// the rectangle becomes its viewport, SBND1/SBND2 the rows and columns its ink covers,
// SDLVL one above every segment and SALVL the lowest level. RET_FAILURE (999 graphics),
// RET_MISSING_DATA, RET_EMPTY_VECTOR, RET_INVALID_PARAMETER (bounds beyond the fields),
// the CGM writer's code, RET_NO_MEMORY.
int append_graphic_segment(NitfDocument* document, vector::Drawing* drawing,
                           const std::int32_t rectangle[4]);
// Replaces graphic `index`'s drawing (and the data the next save writes); placement
// and subheader stay. RET_INVALID_PARAMETER for an index not below the count.
int set_vector_handle(NitfDocument* document, std::uint32_t index, const vector::Drawing* drawing);
// A text segment holding the named file's bytes. RET_FAILURE (999 texts),
// RET_FILE_OPEN, RET_FILE_READ (a short read), RET_INVALID_PARAMETER (over 99999
// bytes, more than LT holds), RET_NO_MEMORY.
int append_text_segment(NitfDocument* document, const wchar_t* name);
// A JPEG-compressed image from a bitmap (format 10 YCbCr or 182 RGB; 8 or 24 bits per
// pixel; quality 2..255). RET_INVALID_BITMAP, RET_FAILURE (999 images),
// RET_INVALID_BITS_PER_PIXEL, RET_INVALID_QUALITY, RET_FILE_FORMAT, the encoder's code
// (RET_INVALID_PARAMETER for a side JPEG cannot carry), RET_NO_MEMORY.
int append_image_segment(NitfDocument* document, const kernel::Bitmap* bitmap, std::int32_t format,
                         std::int32_t bits_per_pixel, std::int32_t quality);

// Records present in a list.
template <class Record>
std::uint32_t count_present(const SegmentList<Record>& list) {
  std::uint32_t n = 0;
  for (const auto& record : list) n += record != nullptr;
  return n;
}

}  // namespace nitf
