// Graphic segments: loading a segment's CGM into its record's drawing, its extent on the
// canvas, and painting it.
//
// A drawing is placed at one VDC unit per canvas pixel with VDC (0, 0) at SLOC plus the
// attachment offsets: canvas row = SLOC row + offset - world y, column = SLOC column +
// offset + world x. (SBND1 and SBND2 hold row, column positions in the frame of SLOC;
// conformant files' bounds agree with the drawing's own, which is what is used.)
#pragma once

#include <cstdint>

#include "kernel.h"

struct NitfDocument;
namespace vector {
struct Drawing;
}

namespace nitf {

// Resets graphic `index`'s drawing and loads its data: CGM for SFMT C; an empty layer
// "Object Layer" for SFMT O; RET_NOT_SUPPORTED for SFMT B (a bitmap symbol has no size
// in a NITF 2.1 subheader). On failure the drawing is left empty.
int load_graphic(::NitfDocument* document, std::uint32_t index);

// Right and bottom canvas extent of graphic `index` (loaded first), with the
// attachment offsets; 0 for a drawing with nothing in it.
int graphic_extent(::NitfDocument* document, std::uint32_t index, std::int64_t row_offset,
                   std::int64_t column_offset, std::int64_t* right, std::int64_t* bottom);

// Half the widest line or visible edge of the drawing: how far its ink reaches beyond
// the ideal geometry its bounds describe (one world unit is one pixel).
double ink_margin(const vector::Drawing& drawing);

// Loads and paints graphic `index` onto the context (none: load only).
int draw_graphic_segment(kernel::DrawingContext* dc, ::NitfDocument* document, std::uint32_t index,
                         std::int64_t row_offset, std::int64_t column_offset);

}  // namespace nitf
