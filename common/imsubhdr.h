// The image subheader record and its reader.
#pragma once

#include <cstdint>

#include "fieldreader.h"
#include "segments.h"
#include "strmfhdr.h"

struct NitfDocument;

namespace nitf {

struct NitfImageSubheader {
  explicit NitfImageSubheader(NitfDocument* owner, std::uint32_t position) : document(owner), index(position) {}

  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's image segments
};

using ImageSubheaderList = SegmentList<NitfImageSubheader>;

// Reads the subheader at the current file position; on success the position is
// restored.
int read_imsubhdr(NitfImageSubheader* record, ::NitfDocument* document, StreamingFileHeader* sfh, ReadMode mode);

}  // namespace nitf
