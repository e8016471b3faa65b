// Internals shared by the file-format library's units: how a stream is recognised, what
// its headers declare, which of its components become the picture, and the
// decoders. Only host/fileformat includes this; the rest of the module uses fileformat.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include <kvntfu.h>

#include "kernel/bitmap.h"

namespace fileformat {
struct J2kArea;
}

namespace fileformat::detail {

struct ByteView {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

enum class StreamKind { kJpeg, kCodestream, kJp2, kRaw };

// Recognises a stream by its first bytes. A JPEG may begin with fill bytes (0xFF) before
// its start-of-image marker, as ITU-T T.81 B.1.1.2 allows and as some NITF producers
// write; `jpeg_start` is then the offset of that marker.
StreamKind stream_kind(ByteView stream, std::size_t* jpeg_start);

// What a JPEG stream's markers say up to its first scan.
struct JpegHeader {
  std::uint8_t sof = 0;  // the frame marker's second byte (0xC0 to 0xCF)
  std::uint8_t precision = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t components = 0;
  std::uint8_t ids[4] = {};  // identifiers of the first components
  bool restart = false;      // a non-zero restart interval
  bool jfif = false;
  bool adobe = false;
  std::uint8_t adobe_transform = 0;
};
// RET_SUCCESS, or RET_FILE_FORMAT when no well-formed frame header precedes the first
// scan or the end of the data. `stream` starts at the start-of-image marker.
std::int32_t probe_jpeg(ByteView stream, JpegHeader* header);
std::int32_t jpeg_format(const JpegHeader& header);
// Whether libjpeg would take the three components for YCbCr (its own rules: JFIF, then
// Adobe's transform, then the identifiers 'R','G','B').
bool jpeg_reads_ycc(const JpegHeader& header);
// Whether the stream itself states YCbCr (JFIF, or Adobe transform 1).
bool jpeg_states_ycc(const JpegHeader& header);
// Whether no scan header of the whole stream names a component twice. The IJG builds
// take such a scan and leave the unnamed component's buffers unset (libjpeg-turbo
// refuses it by itself), so streams go to them only when this holds.
bool jpeg_scans_distinct(ByteView stream);
// The depth of a grey JPEG picture of `precision` bits: 8, 12 or 16 bits, the smallest
// kernel layout that holds its samples.
inline int jpeg_grey_bits(std::uint32_t precision) {
  return precision <= 8 ? 8 : (precision <= 12 ? 12 : 16);
}

// What a JPEG 2000 image and size marker says.
struct J2kHeader {
  std::uint32_t width = 0;  // of component 0, the grid the picture is decoded on
  std::uint32_t height = 0;
  std::uint32_t components = 0;
  std::uint32_t precision = 0;  // the largest of all components
  std::uint64_t tiles = 0;
  // Y, Cb, Cr in components 0 to 2, to be shown in RGB: a JP2 colour box of sYCC, or (as
  // OpenJPEG's own tools take it) three components whose second is subsampled. Only for
  // chroma sampled in full, by two across or by two both ways.
  bool ycc = false;
  bool ycc_layout = false;  // components 0 to 2 sampled as such Y, Cb, Cr may be
  // A JP2 file whose image header box disagrees with its codestream's SIZ, which OpenJPEG
  // refuses: the codestream alone (`codestream`) is sound and is decoded instead.
  bool header_disagrees = false;
  ByteView codestream{};
};
// Finds the codestream (inside the jp2c box for a JP2 file) and reads its SIZ marker.
// RET_FILE_FORMAT for a missing or inconsistent one; absurd sizes are left to the
// caller's memory check.
std::int32_t probe_j2k(ByteView stream, StreamKind kind, J2kHeader* header);
// The same for the stream the decoder decodes: a JP2 file whose header disagrees with its
// codestream becomes the codestream alone (`stream` and `kind` are changed to it).
std::int32_t probe_decoded_j2k(ByteView* stream, StreamKind* kind, J2kHeader* header);

// Which components become blue, green and red (or the one grey component).
struct OutputPlan {
  bool grey = false;
  std::uint32_t red = 0, green = 0, blue = 0;  // component indices; grey uses red
};
// The rules of fileformat.h; RET_INVALID_PARAMETER for a selected band beyond the
// stream's components.
std::int32_t plan_output(std::uint32_t components, const FltLoadOptions* options, OutputPlan* plan);
// A sample of `precision` bits scaled to 8 and 16 bits, rounding to nearest.
std::uint8_t scale_to_8(std::uint32_t value, std::uint32_t precision);
std::uint16_t scale_to_16(std::uint32_t value, std::uint32_t precision);

// Makes `out` the decoded picture's bitmap: a new top-down one, or with KV_LOAD_INTO the
// caller's record, checked to be exactly width x height at `bits` (RET_NOT_SUPPORTED
// otherwise). Decoders write rows through kernel::pixel_row of kernel::top_down_row.
std::int32_t prepare_output(kernel::Bitmap* out, const FltLoadOptions* options, std::uint32_t width,
                            std::uint32_t height, int bits, int colour_order);
inline bool decodes_into(const FltLoadOptions* options) {
  return options && (options->flags & KV_LOAD_INTO);
}

// The decoders fill `out`, an empty record or with KV_LOAD_INTO the caller's, and return
// a code as load_from_memory does; on failure an empty record is left empty.
// `scale_denom` 2, 4 or 8: libjpeg-turbo's scaled IDCT (8-bit DCT streams only, others
// RET_NOT_SUPPORTED), a picture of ceil(size / scale_denom).
std::int32_t decode_jpeg(ByteView stream, const FltLoadOptions* options, kernel::Bitmap* out,
                         unsigned scale_denom = 1);
// The decoders of what libjpeg-turbo's 8-bit build cannot decode (jpeg_ijg.h): DCT
// streams of 12-bit samples, and lossless streams of any precision. decode_jpeg hands
// them the stream and its probed header.
std::int32_t decode_jpeg12(ByteView stream, const JpegHeader& header, const FltLoadOptions* options,
                           kernel::Bitmap* out);
std::int32_t decode_jpeg16(ByteView stream, const JpegHeader& header, const FltLoadOptions* options,
                           kernel::Bitmap* out);
// With `area`, only that rectangle at its level (J2kArea of fileformat.h).
std::int32_t decode_j2k(ByteView stream, StreamKind kind, const FltLoadOptions* options,
                        kernel::Bitmap* out, const fileformat::J2kArea* area = nullptr);
std::int32_t decode_t4(ByteView stream, const FltRawFormat& format, kernel::Bitmap* out);

// Asks the calling thread's raw-data callback to describe a raw stream: RET_FILE_FORMAT
// without a callback, else the callback's code; on success `format` is filled.
std::int32_t describe_raw(FltRawFormat* format);

}  // namespace fileformat::detail
