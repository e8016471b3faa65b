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

#include "dexsbhdr.h"
#include "grsubhdr.h"
#include "imsubhdr.h"
#include "ntfhdr.h"
#include "segments.h"
#include "strmfhdr.h"
#include "txsubhdr.h"

struct NitfDocument {
  NitfDocument() = default;
  NitfDocument(const NitfDocument&) = delete;
  NitfDocument& operator=(const NitfDocument&) = delete;
  ~NitfDocument();

  int file = -1;                  // the source file's kernel handle
  std::int64_t file_size = 0;     // its size when it was opened
  std::int32_t enhancement = 0;   // load option 0x00080000
  std::int32_t fixed_canvas = 0;  // load option 0x00040000
  nitf::StreamingState streaming;
  std::int32_t header_present = 0;
  nitf::NitfFileHeaderData header;
  std::uint32_t background = 0xFFFFFF;  // canvas colour, 0x00BBGGRR

  // Records per kind (they grow on append) and the counts of the source file.
  std::uint32_t image_count = 0, graphic_count = 0, text_count = 0;
  std::uint32_t source_image_count = 0, source_graphic_count = 0, source_text_count = 0;
  std::uint32_t des_count = 0, res_count = 0;

  nitf::ImageSubheaderList images;
  nitf::GraphicSubheaderList graphics;
  nitf::TextSubheaderList texts;
  nitf::DesSubheaderList des;
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

// File offset of a segment's subheader, or of its data; -1 for an unknown kind. These
// only compute: the *_at_* operations below also seek there.
std::int64_t segment_offset(const NitfDocument& document, SegmentKind kind, std::uint32_t index);
std::int64_t segment_data_offset(const NitfDocument& document, SegmentKind kind,
                                 std::uint32_t index);
std::int64_t position_at_segment(NitfDocument* document, SegmentKind kind, std::uint32_t index);
std::int64_t position_at_segment_data(NitfDocument* document, SegmentKind kind,
                                      std::uint32_t index);

// Records present in a list.
template <class Record>
std::uint32_t count_present(const SegmentList<Record>& list) {
  std::uint32_t n = 0;
  for (const auto& record : list) n += record != nullptr;
  return n;
}

}  // namespace nitf
