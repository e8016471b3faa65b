// DCT streams of 12-bit samples, decoded by GDCM's IJG build for 12-bit samples (its
// names carry the prefix gdcmjpeg12_); the steps are jpeg_ijg.h's.
// The IJG headers use size_t and FILE without including their headers.
#include <cstddef>
#include <cstdio>

extern "C" {
#include <gdcmjpeg/12/jpeglib.h>

// After jpeglib.h, whose types it needs.
#include <gdcmjpeg/12/jerror.h>
}

#include "jpeg_ijg.h"

namespace fileformat::detail {

std::int32_t decode_jpeg12(ByteView stream, const JpegHeader& header, const FltLoadOptions* options,
                           kernel::Bitmap* out) {
  return decode_ijg(stream, header, options, out);
}

}  // namespace fileformat::detail
