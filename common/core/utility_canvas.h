// Composition: the draw list, attachment offsets and the canvas size.
//
// Every image and graphic segment is placed on the common coordinate system through its
// chain of attachment levels and drawn in display-level order onto one canvas. The
// filter entry points, the composition exports and the appending of graphics and texts
// (which take the lowest display level as the new segment's attachment level) build on
// these.
#pragma once

#include <cstdint>

#include "kernel.h"

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
// included; extended reading cuts it to NROWS x NCOLS) placed through its attachment chain. Extents
// are computed in 64 bits and the result is always a positive size: RET_FILE_FORMAT for a negative
// block geometry, an extent that ends left of or above the origin, or an extent of 0 in one
// direction only; RET_NO_MEMORY for a side beyond 2^31 - 1 or a 24-bit canvas beyond the allocation
// cap.
int canvas_size(NitfDocument* document, std::uint32_t* width, std::uint32_t* height);

}  // namespace nitf
