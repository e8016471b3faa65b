// The file-format library's save side: a kernel bitmap to a JPEG stream and a vector
// drawing to binary CGM, each into a global memory handle.
//
// The save-options record is the library's own 1614-byte block: its size in the first
// 32-bit word; bit 0 of the word at byte 1602 asks for the NITF profile (a JPEG without
// a JFIF marker for format 182, the CGM elements and descriptors NITF readers expect).
#pragma once

#include <cstdint>

#include "kernel/bitmap.h"
#include "kernel/global_memory.h"

namespace vector {
struct Drawing;
}

namespace fileformat {

constexpr std::uint32_t kSaveOptionsSize = 1614;
constexpr std::uint32_t kSaveOptionsProfileWord = 1602;

// Save formats: JPEG with the default YCbCr transform, JPEG with the components stored
// as R, G, B (no transform), and CGM.
constexpr std::int32_t kSaveJpegYcc = 10;
constexpr std::int32_t kSaveJpegRgb = 182;
constexpr std::int32_t kSaveCgm = 62;

// Clears the record and puts its size in front. RET_INVALID_PARAMETER for a record of
// another size or none.
int default_save_options(void* options, std::uint32_t size);

// The JPEG quality of the library's scale 2..255 on libjpeg's 1..100: monotonic, 2
// gives 1 and 255 gives 100.
int jpeg_quality_of(std::int32_t quality);

// Encodes the bitmap as one baseline JPEG stream: bits_per_pixel 8 (one grey
// component, from an 8-bit grey or palette bitmap through its luminance) or 24 (three
// components from a 24- or 32-bit bitmap, YCbCr for kSaveJpegYcc, R, G, B without a
// transform for kSaveJpegRgb). On success *handle holds the stream and *size its
// length. RET_INVALID_BITMAP for no or an unallocated bitmap, RET_INVALID_PARAMETER for
// a size JPEG cannot carry (a side above 65535), RET_INVALID_BITS_PER_PIXEL,
// RET_INVALID_QUALITY, RET_FILE_FORMAT for another format, RET_NO_MEMORY.
int save_to_memory(kernel::GlobalMemory** handle, const kernel::Bitmap* bitmap, std::int32_t format,
                   std::int32_t bits_per_pixel, std::int32_t quality, std::uint32_t* size,
                   const void* options);

// Writes the drawing as a binary CGM metafile of the NITF profile (format kSaveCgm):
// the elements the CGM reader understands, with metafile description, font list and a
// downward VDC extent; world y is written as -VDC y, so loading the bytes gives the same
// drawing back (coordinates rounded to integers, all objects in one picture). On
// success *handle holds the bytes and *size their count. RET_EMPTY_VECTOR for a drawing
// without objects, RET_INVALID_PARAMETER for coordinates 16-bit VDC cannot hold (beyond
// +-32767 once rounded), a text beyond 1024 characters, a metafile beyond 999999 bytes
// or no handle or size, RET_FILE_FORMAT for another format, RET_MISSING_DATA for no
// drawing, RET_NO_MEMORY. The options are not needed: the profile is always written.
int save_vector_to_memory(kernel::GlobalMemory** handle, const vector::Drawing* drawing,
                          std::int32_t format, std::uint32_t* size, const void* options);

}  // namespace fileformat
