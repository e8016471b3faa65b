// Segment kinds and the record lists of a document.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel.h"

namespace nitf {

// Labels (kind 3) exist in NITF 2.0 files only.
enum class SegmentKind : std::int32_t {
  kImage = 0,
  kText = 1,
  kGraphic = 2,
  kLabel = 3,
  kDataExtension = 4
};

// An ordered list of one kind's records, in file order. Records are kernel-allocated
// and tracked; an entry may be null only while a list is being built.
template <class Record>
using SegmentList = std::vector<kernel::Tracked<Record>>;

}  // namespace nitf
