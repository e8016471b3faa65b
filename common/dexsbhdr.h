// The data extension subheader record and its reader.
#pragma once

#include <cstdint>

#include "fieldreader.h"
#include "segments.h"
#include "strmfhdr.h"

struct NitfDocument;

namespace nitf {

struct NitfDesSubheader {
  explicit NitfDesSubheader(NitfDocument* owner, std::uint32_t position) : document(owner), index(position) {}

  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's data extension segments
};

using DesSubheaderList = SegmentList<NitfDesSubheader>;

// Reads the subheader at the current file position; on success the position is
// restored.
int read_dexsbhdr(NitfDesSubheader* record, ::NitfDocument* document, StreamingFileHeader* sfh, ReadMode mode);

}  // namespace nitf
