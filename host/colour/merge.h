// Colour plane merge: interleaves three 8-bit planes into one 24-bit colour bitmap.
// The band-sequential JPEG reader decodes each band of a block into a bitmap of its own
// and merges them here before placing the block.
#pragma once

#include <cstdint>

#include "kernel/bitmap.h"

namespace colour {

// planes[0], planes[1] and planes[2] (an array of records of `record_size` bytes, which
// must be the kernel's 216) become blue, green and red, the byte order of a 24-bit
// pixel. The reader fills the array in reverse band order (band b of n at entry
// n - 1 - b), so bands stored red, green, blue arrive here as blue, green, red. Each
// plane is 8 bits of any colour order, its values taken as they are (no palette
// lookup); all three have the same size, their view codes may differ.
// The destination is either an empty record, which becomes a top-down 24-bit bitmap of
// that size, or a 24-bit bitmap of that size, which is overwritten.
// Returns RET_SUCCESS; RET_INVALID_PARAMETER without a destination or planes, for a
// record size other than 216, planes of other depths or sizes, or a destination of
// another layout; RET_INVALID_BITMAP for a plane whose data do not hold its geometry;
// RET_NOT_SUPPORTED for non-zero flags; a kernel failure (RET_NO_MEMORY) unchanged.
std::int32_t merge_planes(kernel::Bitmap* destination, const kernel::Bitmap* planes,
                          std::uint32_t record_size, std::uint32_t flags);

}  // namespace colour
