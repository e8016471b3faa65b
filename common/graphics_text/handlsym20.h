// NITF 2.0 symbols and labels as drawings of the vector library's model.
//
// A bitmap symbol (STYPE B) becomes one solid rectangle per run of like pixels in each
// line, coloured through its DLUT, so the painter puts exactly its NLIPS x NPIXPL
// pixels at SLOC. An object symbol (STYPE O) becomes the shape SNUM names, from SLOC to
// SLOC2, NWDTH wide in the SCOLOR colour. A label becomes its background cells (LBC)
// and its text (LTC), one line per line of its data, each character in a cell of LCW x
// LCH pixels. World (0, 0) is the segment's location, y upward, as for CGM symbols.
#pragma once

#include <cstdint>

#include "kernel.h"

struct NitfDocument;
namespace vector {
struct Drawing;
}

namespace nitf {

struct NitfGraphicSubheader;

// Builds the drawing of a bitmap or object symbol from its record and data. Results:
// RET_SUCCESS; RET_FILE_FORMAT for a bitmap whose data are shorter than NLIPS x NPIXPL
// at NBPP or whose NBPP is not 1 or 8; RET_NOT_SUPPORTED for an object type outside
// the known ones; RET_NO_MEMORY past the drawing's caps.
int symbol20_drawing(const NitfGraphicSubheader& record, const kernel::Buffer<std::uint8_t>& data,
                     vector::Drawing* drawing);

// Label `index`'s drawing (the drawing is initialised first). RET_FILE_READ when its
// text is not in the file.
int label_drawing(::NitfDocument* document, std::uint32_t index, vector::Drawing* drawing);

// Right and bottom canvas extent of label `index` with the attachment offsets.
int label_extent(::NitfDocument* document, std::uint32_t index, std::int64_t row_offset,
                 std::int64_t column_offset, std::int64_t* right, std::int64_t* bottom);

// Paints label `index` onto the context.
int draw_label_segment(kernel::DrawingContext* dc, ::NitfDocument* document, std::uint32_t index,
                       std::int64_t row_offset, std::int64_t column_offset);

}  // namespace nitf
