// The text subheader record and its reader.
#pragma once

#include <cstdint>

#include "fieldreader.h"
#include "segments.h"
#include "strmfhdr.h"

struct NitfDocument;

namespace nitf {

struct NitfTextSubheader {
  explicit NitfTextSubheader(NitfDocument* owner, std::uint32_t position) : document(owner), index(position) {}

  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's text segments
};

using TextSubheaderList = SegmentList<NitfTextSubheader>;

// Reads the subheader at the current file position; on success the position is
// restored.
int read_txsubhdr(NitfTextSubheader* record, ::NitfDocument* document, StreamingFileHeader* sfh, ReadMode mode);

}  // namespace nitf
