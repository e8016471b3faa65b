// What the compressed image readers share: where a segment's data are, which decoder
// routines a read uses, and the marker scans that cut unmasked JPEG block data into
// streams.
//
// Offsets are counted from the start of the image data (the mask table included), so
// that LI bounds every one of them. The scans hold one window on the stack; the starts
// found are kept with the image record, at most one per stream a read asked for.
#pragma once

#include <cstdint>

#include <kvntfu.h>

#include "fileformat/fileformat.h"
#include "image/data/imgmodes.h"
#include "image/data/imgmodes_blocks.h"

namespace nitf::jpegscan {

// The bytes a start-of-image marker begins with, and the scan window: windows overlap by
// the marker's length less one, and are large enough that a scan over the streams of a
// blocked image takes few reads (one seek and one read per window).
constexpr std::uint64_t kWindow = 65536;
constexpr std::uint64_t kWindowStep = kWindow - 3;

// The image's data: in the file, or in memory for an appended image. RET_FILE_READ when
// the file holds fewer than LI bytes from the data start (so no stream length taken
// from LI can ask for bytes that are not there).
int open_data(const ImageReadContext& context, imgdata::DataSource* source);

// The coded data from IMDATOFF to LI as a stream the JPEG 2000 decoder reads where it
// lies (fileformat::StreamSource): only the headers and the tiles a window meets are read.
struct CodedStream {
  imgdata::DataSource source;
  std::uint64_t offset = 0;  // IMDATOFF
  std::uint64_t length = 0;  // LI - IMDATOFF: the decoder reads no further
  fileformat::StreamSource stream() const;
};
// RET_FILE_FORMAT when IMDATOFF is not inside the data, besides open_data's codes.
int open_coded(const ImageReadContext& context, CodedStream* coded);

// The decoders of one read: the load request's routines where the toolkit gave them,
// the file-format library's own otherwise.
struct Decoder {
  const FltLoadRequest* load = nullptr;

  int load_from_memory(const void* buffer, kernel::Bitmap* bitmap, std::int32_t bits_per_pixel,
                       std::int32_t colour_order, std::uint64_t byte_count,
                       FltLoadOptions* options) const;
  FltRawDataCallback set_raw_callback(FltRawDataCallback callback, void* user_data) const;
};

// The first 0xFF 0xD8 0xFF that starts after `from` and before `end` (the marker's
// first byte may be at most end - 3): *found is its offset, or `end` when there is none.
int next_marker(const imgdata::DataSource& source, std::uint64_t from, std::uint64_t end,
                std::uint64_t* found);

// The last 0xFF 0xD8 0xFF that starts at or after `begin` and ends before `end`:
// *found is its offset, or `begin` when there is none.
int last_marker(const imgdata::DataSource& source, std::uint64_t begin, std::uint64_t end,
                std::uint64_t* found);

// Stream `index` of data without a block mask, in file order: stream 0 starts where the
// blocks do (`pixels`), each next one at the first start-of-image marker after the start
// of the one before. *start is its offset, or `end` (LI) when the data hold fewer
// streams. The starts are found once per document: `found` keeps them, and a later call
// scans only past the last one found.
int stream_start(const imgdata::DataSource& source, std::uint64_t pixels, std::uint64_t end,
                 FoundStreams* found, std::uint64_t index, std::uint64_t* start);

}  // namespace nitf::jpegscan
