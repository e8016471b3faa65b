// The file-format library: decoding of the streams embedded in NITF image data.
//
// The image readers hand each JPEG, JPEG 2000 or raw T.4 stream to load_from_memory and
// get a kernel bitmap back; the blocked JPEG readers first ask file_info_from_memory what
// a block's stream is. Decoding is done by libjpeg-turbo (8-bit JPEG), GDCM's builds of
// the IJG library (12-bit and lossless JPEG), OpenJPEG and libtiff's fax decoder; this
// layer recognises the stream, checks its declared size against the
// kernel's allocation cap before anything large is allocated, and turns every codec
// failure into a return code. Nothing here keeps state between calls except the raw-data
// callback, which is per thread.
//
// Format identifiers reported in FltFileInfo::format (the blocked JPEG readers accept
// 5, 10, 11, 21, 22, 23, 24, 26 and 165; every other value makes them skip the block):
//
//   id  stream
//    5  JPEG, sequential DCT (SOF0, SOF1, SOF9), 8-bit, one component
//   10  JPEG, sequential DCT, 8-bit, three components read as YCbCr (a JFIF marker, an
//       Adobe marker with transform 1, or component identifiers other than 'R','G','B')
//   24  JPEG, sequential DCT, 8-bit, three components stored as R, G, B without a
//       colour transform (Adobe marker with transform 0, or identifiers 'R','G','B')
//   23  JPEG, sequential DCT, 8-bit, two or four and more components
//   26  JPEG, sequential DCT, 8-bit, with a restart interval (any component count)
//   11  JPEG, progressive DCT (SOF2, SOF10), 8-bit
//   21  JPEG, DCT of another precision than 8 (SOF1, SOF2, SOF9, SOF10): 12-bit
//       Huffman-coded streams are decoded, others refused
//   22  JPEG, lossless (SOF3, SOF11), of 2 to 16 bits: Huffman-coded streams are decoded
//   28  JPEG, hierarchical (SOF5 to SOF7, SOF13 to SOF15): not decoded
//  165  JPEG 2000, a raw codestream (J2K) or a JP2 file
//   66  raw T.4, one-dimensional, as described by the raw-data callback
//   67  raw T.4, two-dimensional, as described by the raw-data callback
//    0  not recognised
// The first line that matches wins, reading from "lossless" up: 22, 28, 21, 11, 26,
// then 5, 24, 10 or 23 by component count.
#pragma once

#include <cstddef>
#include <cstdint>

#include <kvntfu.h>

#include "kernel/bitmap.h"

namespace fileformat {

constexpr std::uint32_t kLoadOptionsSize = 72;
constexpr std::uint32_t kFileInfoSize = 2308;

// Colour order argument of load_from_memory: the layout the stream decodes to.
constexpr std::int32_t kColourAsDecoded = 4;

enum FormatId : std::int32_t {
  kFormatUnknown = 0,
  kFormatJpegGrey = 5,
  kFormatJpegYcc = 10,
  kFormatJpegProgressive = 11,
  kFormatJpeg12Bit = 21,
  kFormatJpegLossless = 22,
  kFormatJpegMulti = 23,
  kFormatJpegRgb = 24,
  kFormatJpegRestart = 26,
  kFormatJpegHierarchical = 28,
  kFormatT4OneDimensional = 66,
  kFormatT4TwoDimensional = 67,
  kFormatJpeg2000 = 165,
};

// A zeroed record with the band indices 0, 1, 2 and no flags; callers then set
// KV_LOAD_RGB or KV_LOAD_BANDS (other flag bits are accepted and ignored).
// RET_INVALID_PARAMETER without a record or for a size other than 72.
std::int32_t default_load_options(FltLoadOptions* options, std::uint32_t size);

// Decodes the stream of `byte_count` bytes at `buffer` into `bitmap` (a record of
// `record_size` = 216 bytes), recognised by its first bytes: JPEG (FF D8 FF), a JPEG 2000
// codestream (FF 4F FF 51) or JP2 file, and otherwise a raw stream described by the
// raw-data callback (T.4 only). On success the record's previous contents are released
// and it holds a top-down bitmap:
//   - one component: 8-bit grey. JPEG of more than 8 bits (12-bit, lossless) keeps its
//     values in 12-bit grey up to 12 bits, 16-bit grey beyond; JPEG 2000 precision
//     above 8 gives 16-bit grey scaled to the full 16-bit range, and its values of at
//     most 8 bits are kept as they are, so that palette indices stay indices;
//   - three components or more: 24-bit blue, green, red from components 0, 1, 2, each
//     scaled to 8 bits (JPEG 2000 above 8 bits: the top 8 bits of the 16-bit scaling,
//     as grey is shown); JPEG 2000 Y, Cb, Cr (a JP2 colour box of sYCC, or subsampled
//     chroma) converted to RGB; two components: grey from component 0;
//   - KV_LOAD_BANDS: 24 bits from the components at the options' red, green and blue
//     band indices, as stored (no colour transform), whatever the count;
//   - KV_LOAD_RGB (JPEG): the three components are R, G, B, so no YCbCr conversion is
//     made unless the stream itself says YCbCr with a JFIF marker or an Adobe marker of
//     transform 1. Without the flag a three-component JPEG is read as libjpeg reads it
//     (see jpeg_decode.cpp); lossless JPEG components are always taken as stored;
//   - T.4: 1 bit per pixel, palette entry 0 black and 1 white, a set bit white (the
//     inverse of the NITF bi-level value, which is 0 for white).
//   - KV_LOAD_INTO: the record is the caller's, already the picture's bitmap (its exact
//     width, height and depth, pixels it need not own, e.g. a kernel::make_view into a
//     larger picture), and the stream is decoded into its pixels, nothing else of the
//     record changing. A stream whose picture has another size or depth, or a decoder
//     that cannot decode into place (T.4), gives RET_NOT_SUPPORTED before any pixel is
//     written; after any other failure some rows may have been written.
// `bits_per_pixel` is 0 (as stored) or the depth the stream decodes to; `colour_order`
// is kColourAsDecoded or a kernel colour order (0 to 2), which is accepted and has no
// effect: the depth decides the layout. On failure the record is unchanged.
// Codes: RET_MISSING_DATA (no buffer or no bytes), RET_INVALID_PARAMETER (no record, a
// wrong size, a colour order or band index out of range, a raw description that makes
// no sense), RET_NOT_SUPPORTED (hierarchical JPEG, DCT precisions other than 8 and 12,
// arithmetic coding beyond 8 bits, a depth conversion, a raw format other than T.4,
// JPEG 2000 precision above 16), RET_NO_MEMORY
// (the picture or the codec's working set exceeds the allocation cap), RET_FILE_FORMAT
// (a stream that is damaged, ends early or is not recognised), or what the raw-data
// callback returned.
std::int32_t load_from_memory(const void* buffer, kernel::Bitmap* bitmap, std::uint32_t record_size,
                              std::int32_t bits_per_pixel, std::int32_t colour_order,
                              std::uint32_t byte_count, const FltLoadOptions* options);

// Describes the stream without decoding it: the record (of `size` = 2308 bytes) is
// zeroed, then gets the format identifier (table above), width, height, the bits per
// pixel that load_from_memory would give without flags, and that picture's byte size.
// A stream that is not JPEG or JPEG 2000 is offered to the raw-data callback. Codes:
// RET_SUCCESS; RET_INVALID_PARAMETER (no record, wrong size); RET_MISSING_DATA;
// RET_FILE_FORMAT for a stream without a readable frame header or not recognised (the
// identifier is then 0).
std::int32_t file_info_from_memory(const void* buffer, FltFileInfo* info, std::uint32_t size,
                                   std::uint32_t byte_count);

// A stream read where it lies, such as the coded data of an image segment in its file:
// read() puts `count` bytes from `offset` (below `size`) of the stream into `buffer` and
// gives RET_SUCCESS, or a code when they are not all there. The JPEG 2000 decoder reads a
// raw codestream through it on demand, so that only the main header and the tiles an area
// meets are read, and never the whole stream at once; a JP2 file (whose boxes are walked
// whole) is read into memory first.
struct StreamSource {
  void* self = nullptr;
  std::int32_t (*read)(void* self, std::uint64_t offset, std::size_t count,
                       std::uint8_t* buffer) = nullptr;
  std::uint64_t size = 0;
};

// JPEG 2000 samples as stored, for the raw sample reader: one component's samples over a
// rectangle of the picture at a resolution level. x0 and y0 place the plane on that
// level's grid (the rectangle's own corner there, which OpenJPEG rounds up); `reduce` is
// the level decoded, `components` the stream's component count.
struct J2kPlane {
  const std::int32_t* data = nullptr;
  std::uint32_t width = 0, height = 0, x0 = 0, y0 = 0;
  std::uint32_t precision = 0;
  bool sgnd = false;
  std::uint32_t reduce = 0, components = 0;
};
using J2kPlaneSink = std::int32_t (*)(void* self, std::uint32_t component, const J2kPlane& plane);

// Decodes the rectangle [x0, x1) x [y0, y1) of the picture (relative to its origin) at
// `reduce` levels below full size, or at the stream's coarsest level when it has fewer,
// and hands every component's plane to the sink; its result ends the walk. The working
// set is the rectangle's, checked against the allocation cap (RET_NO_MEMORY).
// RET_FILE_FORMAT for a stream that is not JPEG 2000, a damaged one or a rectangle
// outside the picture, RET_NOT_SUPPORTED for precision above 32, RET_MISSING_DATA for an
// empty source.
std::int32_t decode_j2k_area(const StreamSource& source, std::uint32_t x0, std::uint32_t y0,
                             std::uint32_t x1, std::uint32_t y1, std::uint32_t reduce, void* self,
                             J2kPlaneSink sink);

// A rectangle [x0, x1) x [y0, y1) of a JPEG 2000 picture (relative to its origin), decoded
// `reduce` levels below full size (or at the stream's coarsest level).
struct J2kArea {
  std::uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0, reduce = 0;
};

// load_from_memory of a JPEG 2000 stream for the area only: the picture is the area at
// its level (OpenJPEG's rounding of the corners), its pixels those load_from_memory gives
// there; the working set is the area's. RET_FILE_FORMAT besides load_from_memory's codes
// for an area outside the picture, RET_NOT_SUPPORTED for subsampled components. With
// `ycc_shown`, whether the decoder showed Y, Cb and Cr in RGB (as shows_ycc_in_rgb).
std::int32_t load_j2k_area(const StreamSource& source, const FltLoadOptions* options,
                           const J2kArea& area, kernel::Bitmap* bitmap, bool* ycc_shown = nullptr);

// load_from_memory of a whole JPEG 2000 stream read from `source` where it lies (a JP2
// file is read whole): OpenJPEG reads the main header, then the stream as it decodes
// the picture in pieces, so the working set is the picture's and the decoder's, never
// the codestream's. KV_LOAD_INTO and the codes are load_from_memory's; `ycc_shown` as
// for load_j2k_area.
std::int32_t load_j2k_stream(const StreamSource& source, const FltLoadOptions* options,
                             kernel::Bitmap* bitmap, bool* ycc_shown = nullptr);

// load_from_memory of a JPEG stream of 8-bit DCT samples decoded at 1 / scale_denom (2, 4
// or 8) by libjpeg-turbo's scaled inverse DCT (as djpeg -scale 1/N): the picture is
// ceil(width / scale_denom) x ceil(height / scale_denom), each pixel standing for a
// scale_denom-square cell. RET_NOT_SUPPORTED for another scale or another kind of stream
// (12-bit, lossless, JPEG 2000, raw), besides load_from_memory's codes.
std::int32_t load_jpeg_scaled(const void* buffer, std::uint32_t byte_count,
                              const FltLoadOptions* options, unsigned scale_denom,
                              kernel::Bitmap* bitmap);

// Whether load_from_memory shows this JPEG 2000 stream's Y, Cb and Cr in RGB itself (a
// JP2 colour box of sYCC, or three components with subsampled chroma); false for any
// other stream. Readers that convert YCbCr images themselves leave such streams alone.
bool shows_ycc_in_rgb(const void* buffer, std::uint32_t byte_count);

// Installs the callback that describes raw streams (and its user data) for the calling
// thread, returning the one it replaces; callers restore it afterwards with null user
// data. A null callback leaves raw streams undescribed (RET_FILE_FORMAT).
FltRawDataCallback set_raw_data_callback(FltRawDataCallback callback, void* user_data);

}  // namespace fileformat
