// Lossless streams of 2 to 16 bits, decoded by GDCM's IJG build for 16-bit samples (its
// names carry the prefix gdcmjpeg16_); the steps are jpeg_ijg.h's.
// The IJG headers use size_t and FILE without including their headers.
#include <cstddef>
#include <cstdio>

extern "C" {
#include <gdcmjpeg/16/jpeglib.h>

// After jpeglib.h, whose types it needs.
#include <gdcmjpeg/16/jerror.h>
}

#include "jpeg_ijg.h"

namespace fileformat::detail {

std::int32_t decode_jpeg16(ByteView stream, const JpegHeader& header, const FltLoadOptions* options,
                           kernel::Bitmap* out) {
  return decode_ijg(stream, header, options, out);
}

}  // namespace fileformat::detail
