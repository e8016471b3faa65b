// The file-format library's CGM reader: the binary encoding (ISO/IEC 8632-3) of the
// NITF CGM profile (MIL-STD-2301A) turned into a vector::Drawing.
//
// Element headers in the short and the long form (partitioned long forms are joined),
// odd parameter lengths padded to even. Starts from the ISO defaults (16-bit signed VDC,
// integers and indexes, indexed colour with 8-bit indexes, 8 bits a direct colour
// component, 32-bit fixed-point reals) and honours the precision elements. Each picture
// becomes one layer named after it; the attributes start again from their defaults at
// every picture. Elements the drawing has no use for are skipped.
//
// World coordinates have y growing upward: when a picture's VDC EXTENT runs downward
// (the first corner's y above the second's) every y is negated (world y = -VDC y, arc
// directions mirrored to stay counter-clockwise); an upward extent keeps VDC y.
#pragma once

#include <cstdint>

#include <kvntfu.h>

#include "vector/drawing.h"

namespace fileformat {

// Loads the CGM of `byte_count` bytes into `out`, which is emptied first. 1 on success;
// RET_MISSING_DATA without a drawing; RET_FILE_FORMAT for data that is not a metafile,
// ends before END METAFILE (or inside an element), has an element longer than the data,
// a known element too short for its parameters, a precision this reader does not
// decode or a coordinate that is not finite; RET_NO_MEMORY past the drawing's caps. On
// failure `out` is left empty. `options` is accepted and not used.
int load_vector_from_memory(const void* bytes, vector::Drawing* out, std::uint32_t byte_count,
                            const FltLoadOptions* options);

}  // namespace fileformat
