// The reader of JPEG-family image data: JPEG (C3, M3), lossless JPEG (C5, M5), JPEG of
// downsampled data (C6, M6, I1) and JPEG 2000 (C8, M8).
//
// A single-block image, and every JPEG 2000 image, is one stream decoded as a whole. A
// blocked image holds one stream per block (per band and block in IMODE S), found by
// the block mask or, without one, by the start-of-image markers between them. Each
// stream is read from the file on its own into a buffer of its length, checked by the
// file-format library and decoded straight into its place in the output where the
// decoder can, or decoded and then copied there; only one stream is held at a time. A
// JPEG 2000 stream the host's decoder takes is not held at all: OpenJPEG reads it where
// it lies.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include <kvhost.h>
#include <kvntfu.h>

#include "colour/merge.h"
#include "core/nitffile.h"
#include "fileformat/fileformat.h"
#include "image/data/imgmodes.h"
#include "image/data/imgmodes_blocks.h"
#include "image/data/imgmodes_jpeg_scan.h"
#include "image/data/utility_samples.h"
#include "imgproc/combine.h"
#include "kernel.h"

namespace nitf {
namespace {

using imgdata::DataSource;

// The application segment put before every MULTI block after the first decoded one:
// SOI, then APP6 "NITF" whose last two bytes are the stream's own SOI.
constexpr std::uint8_t kMultiPrefix[27] = {0xFF, 0xD8, 0xFF, 0xE6, 0x00, 0x19, 0x4E, 0x49, 0x54,
                                           0x46, 0x00, 0x02, 0x00, 0x42, 0x00, 0x02, 0x00, 0x02,
                                           0x03, 0x08, 0x00, 0x01, 0x00, 0x03, 0x08, 0x01, 0x01};
constexpr std::size_t kPrefixSize = sizeof kMultiPrefix;

bool accepted_format(std::uint32_t format) {
  switch (format) {
    case fileformat::kFormatJpegGrey:
    case fileformat::kFormatJpegYcc:
    case fileformat::kFormatJpegProgressive:
    case fileformat::kFormatJpeg12Bit:
    case fileformat::kFormatJpegLossless:
    case fileformat::kFormatJpegMulti:
    case fileformat::kFormatJpegRgb:
    case fileformat::kFormatJpegRestart:
    case fileformat::kFormatJpeg2000:
      return true;
    default:
      return false;
  }
}

std::uint32_t band_total(const NitfImageSubheader& s) {
  if (s.band_count <= 0) return 0;
  return static_cast<std::uint32_t>(
      std::min(static_cast<std::size_t>(s.band_count), s.bands.size()));
}

// Bitmap records released whichever way a block ends.
template <std::size_t N>
struct OwnedBitmaps {
  kernel::Bitmap bitmaps[N];
  OwnedBitmaps() {
    for (kernel::Bitmap& b : bitmaps) kernel::init_bitmap(&b, kernel::kBitmapRecordSize);
  }
  OwnedBitmaps(const OwnedBitmaps&) = delete;
  OwnedBitmaps& operator=(const OwnedBitmaps&) = delete;
  ~OwnedBitmaps() {
    for (kernel::Bitmap& b : bitmaps) kernel::free_bitmap(&b);
  }
};

// One stream: where it starts in the data and how many bytes it has.
struct Stream {
  std::uint64_t start = 0, length = 0;
};

// Everything a blocked read shares.
struct BlockRead {
  const ImageReadContext& c;
  DataSource source;
  jpegscan::Decoder decoder;
  imgdata::BlockGrid grid;
  std::uint64_t blocks = 0;
  std::uint64_t pixels = 0;                // IMDATOFF
  std::uint64_t end = 0;                   // LI
  kernel::Buffer<std::uint32_t> recorded;  // the block mask's recorded offsets, sorted
  std::size_t recorded_count = 0;
  int skipped = RET_SUCCESS;  // RET_BAD_BLOCK_STREAM once a block was skipped
  unsigned scale = 1;         // a window's blocks decoded at 1 / scale (libjpeg's DCT scaling)
};

bool has_block_mask(const NitfImageSubheader& s) {
  return s.mask.bmrlnth != 0 && s.mask.block_count() != 0;
}

// Every recorded mask offset must lie inside the data. They are kept sorted so that a
// stream can run to the next recorded offset above its own, whatever order the blocks
// are stored in, and even when blocks share one stream.
int prepare_mask(BlockRead& b) {
  const ImageMaskTable& m = b.c.subheader->mask;
  if (!has_block_mask(*b.c.subheader)) return RET_SUCCESS;
  if (!b.recorded.allocate(m.block_count())) return RET_NO_MEMORY;
  std::size_t n = 0;
  for (std::size_t i = 0; i < m.block_count(); ++i) {
    const std::uint32_t entry = m.block_offset(i);
    if (entry == ImageMaskTable::kNotRecorded) continue;
    if (entry >= b.end - b.pixels) return RET_FILE_FORMAT;
    b.recorded[n++] = entry;
  }
  std::sort(b.recorded.data(), b.recorded.data() + n);
  b.recorded_count = n;
  return RET_SUCCESS;
}

// The stream of mask record `index`; false when the mask leaves it out.
bool masked_stream(const BlockRead& b, std::size_t index, Stream* out) {
  const ImageMaskTable& m = b.c.subheader->mask;
  if (index >= m.block_count()) return false;
  const std::uint32_t entry = m.block_offset(index);
  if (entry == ImageMaskTable::kNotRecorded) return false;
  const std::uint32_t* first = b.recorded.data();
  const std::uint32_t* last = first + b.recorded_count;
  const std::uint32_t* next = std::upper_bound(first, last, entry);
  out->start = b.pixels + entry;
  out->length = (next == last ? b.end : b.pixels + *next) - out->start;
  return true;
}

// The decoder's options: R, G, B components for RGB images, and for MULTI images that
// show three bands the selected bands as stored.
int load_options(const NitfImageSubheader& s, bool sequential, FltLoadOptions* o) {
  if (int r = fileformat::default_load_options(o, sizeof *o); r != RET_SUCCESS) return r;
  const bool multi = s.representation == RepresentationCode::kMulti;
  if (s.representation == RepresentationCode::kRgb || (sequential && multi))
    o->flags |= KV_LOAD_RGB;
  std::uint32_t bands[3] = {};
  if (!sequential && multi && shown_bands(s, bands) == 3) {
    o->flags |= KV_LOAD_BANDS;
    o->red_band = bands[0];
    o->green_band = bands[1];
    o->blue_band = bands[2];
  }
  return RET_SUCCESS;
}

// Raw samples want the components in stored order: R, G, B as stored unless the image
// says YCbCr601, which the decoder turns into RGB as the composition shows it.
int raw_load_options(const NitfImageSubheader& s, FltLoadOptions* o) {
  if (int r = fileformat::default_load_options(o, sizeof *o); r != RET_SUCCESS) return r;
  if (s.representation != RepresentationCode::kYCbCr601) o->flags |= KV_LOAD_RGB;
  return RET_SUCCESS;
}

// Reads one stream straight from the file, asks what it is and decodes it. The buffer
// keeps room in front for the MULTI prefix, so a prefixed block needs no second read.
// RET_BAD_BLOCK_STREAM for an empty stream or one of a kind the reader does not accept.
int decode_stream(const BlockRead& b, const Stream& s, bool prefix, FltLoadOptions* options,
                  kernel::Bitmap* bitmap) {
  if (s.length == 0) return RET_BAD_BLOCK_STREAM;
  if (s.length > UINT32_MAX - kPrefixSize) return RET_NO_MEMORY;
  kernel::Buffer<std::uint8_t> buffer;
  if (!buffer.allocate(static_cast<std::size_t>(s.length) + kPrefixSize)) return RET_NO_MEMORY;
  std::uint8_t* stream = buffer.data() + kPrefixSize;
  if (int r = b.source.read(s.start, static_cast<std::size_t>(s.length), stream); r != RET_SUCCESS)
    return r;
  FltFileInfo info;
  const auto length = static_cast<std::uint32_t>(s.length);
  if (fileformat::file_info_from_memory(stream, &info, sizeof info, length) != RET_SUCCESS ||
      !accepted_format(info.format))
    return RET_BAD_BLOCK_STREAM;
  const std::uint8_t* data = stream;
  std::uint64_t count = s.length;
  // The prefix's segment ends with the stream's own SOI: only a stream that begins with
  // one can follow it.
  if (prefix && s.length >= 2 && stream[0] == 0xFF && stream[1] == 0xD8) {
    std::memcpy(buffer.data(), kMultiPrefix, kPrefixSize);
    data = buffer.data();
    count += kPrefixSize;
  }
  if (b.scale > 1) {
    const int r = fileformat::load_jpeg_scaled(data, static_cast<std::uint32_t>(count), options,
                                               b.scale, bitmap);
    if (r != RET_NOT_SUPPORTED) return r;
  }
  return b.decoder.load_from_memory(data, bitmap, 0, fileformat::kColourAsDecoded, count, options);
}

// Copies a decoded block into the output at its place, cut to the block (a larger
// picture does not spill into its neighbours). A block whose depth is not the output's
// cannot be placed and counts as a stream the reader does not accept.
int place_block(const BlockRead& b, std::uint64_t k, const kernel::Bitmap& block) {
  if (block.bits_per_pixel != b.c.out->bits_per_pixel) return RET_BAD_BLOCK_STREAM;
  const auto x = static_cast<std::int32_t>(k % b.grid.per_row * b.grid.width);
  const auto y = static_cast<std::int32_t>(k / b.grid.per_row * b.grid.height);
  if (windowed(b.c)) {
    // A block decoded at 1 / scale is smaller than its place.
    const bool scaled = b.scale > 1 && static_cast<std::uint64_t>(block.width) < b.grid.width;
    const std::uint32_t s = scaled ? b.scale : 1;
    const std::uint64_t width =
        std::min<std::uint64_t>(std::uint64_t(std::max(block.width, 0)) * s, b.grid.width);
    const std::uint64_t rows =
        std::min<std::uint64_t>(std::uint64_t(std::max(block.height, 0)) * s, b.grid.height);
    for (std::uint64_t row = 0; row < rows; ++row) {
      if (!window_samples_row(*b.c.window, static_cast<std::uint64_t>(y) + row)) continue;
      const auto from_row = static_cast<std::int32_t>(row / s);
      if (const std::uint8_t* from =
              kernel::storage_row(block, kernel::top_down_row(block, from_row)))
        put_window_row(b.c, static_cast<std::uint64_t>(y) + row, static_cast<std::uint64_t>(x),
                       static_cast<std::uint32_t>(width),
                       static_cast<std::uint32_t>(block.bits_per_pixel / 8), from, s);
    }
    return RET_SUCCESS;
  }
  return imgproc::combine(b.c.out, x, y, static_cast<std::int32_t>(b.grid.width),
                          static_cast<std::int32_t>(b.grid.height), &block, 0, 0,
                          imgproc::kCombineCopy, 0);
}

// Decodes a block's stream straight into its place in the output, as place_block would
// have copied it; false when that cannot be done (another size or depth, a decoder that
// cannot decode into place), with the place as it was, so that the caller decodes the
// block the ordinary way and gets the ordinary result.
bool decode_in_place(const BlockRead& b, std::uint64_t k, const Stream& s, bool prefix,
                     FltLoadOptions* options, int* result) {
  const auto x = static_cast<std::int32_t>(k % b.grid.per_row * b.grid.width);
  const auto y = static_cast<std::int32_t>(k / b.grid.per_row * b.grid.height);
  kernel::Bitmap view;
  if (kernel::make_view(*b.c.out, x, y, static_cast<std::int32_t>(b.grid.width),
                        static_cast<std::int32_t>(b.grid.height), &view) != RET_SUCCESS)
    return false;
  FltLoadOptions into = *options;
  into.flags |= KV_LOAD_INTO;
  std::uint8_t* const place = view.data;
  *result = decode_stream(b, s, prefix, &into, &view);
  if (view.data != place || (view.flags & kernel::kBitmapDataAllocated)) {
    // A decoder that ignores the flag hands back a picture of its own.
    if (*result == RET_SUCCESS) *result = place_block(b, k, view);
    kernel::free_bitmap(&view);
    return true;
  }
  if (*result == RET_SUCCESS) return true;
  // The place held zeros (the output starts zeroed and every block has its own place); a
  // failed decode may have written some of its rows.
  for (std::int32_t row = 0; row < view.height; ++row)
    std::memset(kernel::pixel_row(view, row), 0, kernel::packed_row_bytes(view));
  return *result != RET_NOT_SUPPORTED;
}

// A skipped block is remembered; any other failure ends the read.
bool skip(BlockRead& b, int* result) {
  if (*result != RET_BAD_BLOCK_STREAM) return false;
  b.skipped = RET_BAD_BLOCK_STREAM;
  *result = RET_SUCCESS;
  return true;
}

// Block k's stream when the data have no mask: from its start to the next stream's, the
// last block's from the last marker after its start to the end of the data. False when
// the data end before block k's stream begins.
int unmasked_stream(const BlockRead& b, std::uint64_t k, Stream* s, bool* present) {
  FoundStreams* found = &b.c.subheader->found_streams;
  std::uint64_t start = b.end;
  if (int r = jpegscan::stream_start(b.source, b.pixels, b.end, found, k, &start); r != RET_SUCCESS)
    return r;
  *present = start < b.end;
  if (!*present) return RET_SUCCESS;
  std::uint64_t stop = b.end;
  if (k + 1 == b.blocks) {
    if (int r = jpegscan::last_marker(b.source, start, b.end, &start); r != RET_SUCCESS) return r;
  } else if (int r = jpegscan::stream_start(b.source, b.pixels, b.end, found, k + 1, &stop);
             r != RET_SUCCESS) {
    return r;
  }
  *s = Stream{start, stop - start};
  return RET_SUCCESS;
}

// Decodes block k's stream into its place, straight there when the decoder can; a
// skipped block counts as read. `decoded` is set once a block has been decoded.
int read_block(BlockRead& b, std::uint64_t k, const Stream& s, bool prefix, FltLoadOptions* options,
               bool* decoded) {
  int r = RET_SUCCESS;
  if (const BlockTarget* t = b.c.target) {
    OwnedBitmaps<1> block;
    r = decode_stream(b, s, prefix, options, &block.bitmaps[0]);
    if (r == RET_SUCCESS) {
      *decoded = true;
      r = t->take(t->self, k, BlockTarget::kEveryBand, block.bitmaps[0]);
    }
    skip(b, &r);
    return r;
  }
  if (!windowed(b.c) && decode_in_place(b, k, s, prefix, options, &r)) {
    if (r == RET_SUCCESS) *decoded = true;
    skip(b, &r);
    return r;
  }
  OwnedBitmaps<1> block;
  r = decode_stream(b, s, prefix, options, &block.bitmaps[0]);
  if (skip(b, &r) || r != RET_SUCCESS) return r;
  *decoded = true;
  r = place_block(b, k, block.bitmaps[0]);
  skip(b, &r);
  return r;
}

// A block the window samples nothing of is passed over (always wanted without a window).
bool window_wants(const BlockRead& b, std::uint64_t k) {
  return !windowed(b.c) ||
         window_meets(*b.c.window, k % b.grid.per_row * b.grid.width,
                      k / b.grid.per_row * b.grid.height, b.grid.width, b.grid.height);
}

int read_blocks(BlockRead& b) {
  FltLoadOptions options;
  const BlockTarget* target = b.c.target;
  if (int r = target ? raw_load_options(*b.c.subheader, &options)
                     : load_options(*b.c.subheader, false, &options);
      r != RET_SUCCESS)
    return r;
  const bool multi = (options.flags & KV_LOAD_BANDS) != 0;
  const bool masked = has_block_mask(*b.c.subheader);
  bool decoded_one = false;
  // Only the streams of wanted blocks are looked for: without a mask, the scan stops at
  // the last block read.
  for (std::uint64_t k = 0; k < b.blocks; ++k) {
    if (target && !target->wants(target->self, k, BlockTarget::kEveryBand)) continue;
    if (!window_wants(b, k)) continue;
    Stream s;
    bool present = true;
    if (masked) {
      if (!masked_stream(b, static_cast<std::size_t>(k), &s)) continue;
    } else if (int r = unmasked_stream(b, k, &s, &present); r != RET_SUCCESS) {
      return r;
    } else if (!present) {
      b.skipped = RET_BAD_BLOCK_STREAM;  // the data end before the last blocks' streams
      break;
    }
    if (int r = read_block(b, k, s, multi && decoded_one, &options, &decoded_one); r != RET_SUCCESS)
      return r;
  }
  return b.skipped;
}

// Band sequential data hold every block of band 0, then every block of band 1 and so
// on, so band b of block k is stream b x blocks + k in file order (its mask record has
// the same number). Without a mask the streams are found by the forward scan of blocked
// data, the last of all running to the end of the data.
struct BandStreams {
  bool masked = false;
  std::uint64_t total = 0;  // streams: blocks x bands
};

// Stream `index` in file order; *recorded false when the mask leaves it out. A stream
// the data end before is empty.
int band_stream(const BlockRead& b, const BandStreams& streams, std::uint64_t index, Stream* s,
                bool* recorded) {
  *recorded = true;
  if (streams.masked) {
    *recorded = masked_stream(b, static_cast<std::size_t>(index), s);
    return RET_SUCCESS;
  }
  FoundStreams* found = &b.c.subheader->found_streams;
  std::uint64_t start = b.end, stop = b.end;
  if (int r = jpegscan::stream_start(b.source, b.pixels, b.end, found, index, &start);
      r != RET_SUCCESS)
    return r;
  if (start >= b.end) return RET_SUCCESS;
  if (index + 1 < streams.total) {
    if (int r = jpegscan::stream_start(b.source, b.pixels, b.end, found, index + 1, &stop);
        r != RET_SUCCESS)
      return r;
  }
  *s = Stream{start, stop - start};
  return RET_SUCCESS;
}

// Decodes the `count` shown bands of block k into 8-bit planes. Merged planes go blue,
// green, red: the red band into the last entry. `recorded` is cleared when the mask
// leaves one of them out.
int decode_planes(const BlockRead& b, const BandStreams& streams, const std::uint32_t* shown,
                  std::uint32_t count, std::uint64_t k, FltLoadOptions* options,
                  kernel::Bitmap* planes, bool* recorded) {
  int r = RET_SUCCESS;
  for (std::uint32_t i = 0; i < count && r == RET_SUCCESS; ++i) {
    Stream st;
    r = band_stream(b, streams, std::uint64_t{shown[i]} * b.blocks + k, &st, recorded);
    if (r != RET_SUCCESS || !*recorded) break;
    kernel::Bitmap& plane = planes[count == 3 ? 2 - i : 0];
    r = decode_stream(b, st, false, options, &plane);
    if (r == RET_SUCCESS && plane.bits_per_pixel != 8) r = RET_BAD_BLOCK_STREAM;
  }
  return r;
}

// Places block k's planes, merged into one picture when there are several.
int place_planes(const BlockRead& b, std::uint64_t k, std::uint32_t count, kernel::Bitmap* planes) {
  if (count == 1) return place_block(b, k, planes[0]);
  OwnedBitmaps<1> merged;
  int r = colour::merge_planes(&merged.bitmaps[0], planes, kernel::kBitmapRecordSize, 0);
  // Band pictures of different sizes cannot be one block.
  if (r == RET_INVALID_PARAMETER) r = RET_BAD_BLOCK_STREAM;
  if (r == RET_SUCCESS) r = place_block(b, k, merged.bitmaps[0]);
  return r;
}

// Raw samples: each band's stream of each block the target wants, on its own.
int read_bands_to_target(BlockRead& b, const BandStreams& streams, FltLoadOptions* options) {
  const BlockTarget& t = *b.c.target;
  const std::uint32_t bands = band_total(*b.c.subheader);
  for (std::uint64_t k = 0; k < b.blocks; ++k) {
    for (std::uint32_t band = 0; band < bands; ++band) {
      Stream st;
      bool recorded = true;
      if (!t.wants(t.self, k, band)) continue;
      int r = band_stream(b, streams, std::uint64_t{band} * b.blocks + k, &st, &recorded);
      if (r != RET_SUCCESS) return r;
      if (!recorded) continue;
      OwnedBitmaps<1> plane;
      r = decode_stream(b, st, false, options, &plane.bitmaps[0]);
      if (r == RET_SUCCESS) r = t.take(t.self, k, band, plane.bitmaps[0]);
      if (!skip(b, &r) && r != RET_SUCCESS) return r;
    }
  }
  return b.skipped;
}

int read_band_sequential(BlockRead& b) {
  const NitfImageSubheader& s = *b.c.subheader;
  std::uint32_t shown[3] = {};
  const std::uint32_t count = shown_bands(s, shown);
  std::uint64_t total = 0;
  if (count == 0 || kernel::mul_overflows(b.blocks, band_total(s), &total)) return RET_FILE_FORMAT;
  FltLoadOptions options;
  if (int r = load_options(s, true, &options); r != RET_SUCCESS) return r;
  const BandStreams streams{has_block_mask(s), total};
  if (b.c.target) {
    if (int r = raw_load_options(s, &options); r != RET_SUCCESS) return r;
    return read_bands_to_target(b, streams, &options);
  }
  for (std::uint64_t k = 0; k < b.blocks; ++k) {
    if (!window_wants(b, k)) continue;
    OwnedBitmaps<3> planes;
    bool recorded = true;
    int r = decode_planes(b, streams, shown, count, k, &options, planes.bitmaps, &recorded);
    if (!recorded) continue;
    if (skip(b, &r)) continue;
    if (r != RET_SUCCESS) return r;
    r = place_planes(b, k, count, planes.bitmaps);
    if (skip(b, &r)) continue;
    if (r != RET_SUCCESS) return r;
  }
  return b.skipped;
}

// Whether the output is a view of the canvas the stream may be decoded into: the
// stream's picture has the image's size (then the painting would have covered the whole
// canvas even if the depth turns out to differ) and create_output_bitmap offers the
// view. Otherwise the output is left empty. The stream's first bytes suffice.
bool canvas_view(const ImageReadContext& c, const std::uint8_t* stream, std::uint32_t length) {
  kernel::free_bitmap(c.out);
  imgdata::BlockGrid g;
  FltFileInfo info;
  if (!c.onto || !c.onto->canvas || imgdata::block_grid(*c.subheader, &g) != RET_SUCCESS ||
      fileformat::file_info_from_memory(stream, &info, sizeof info, length) != RET_SUCCESS ||
      std::uint64_t{info.width} != std::uint64_t{g.width} * g.per_row ||
      std::uint64_t{info.height} != std::uint64_t{g.height} * g.per_column)
    return false;
  if (create_output_bitmap(c) == RET_SUCCESS && c.out->data == c.onto->canvas->data) return true;
  kernel::free_bitmap(c.out);
  return false;
}

// Decodes the whole stream (whose first bytes are `head`) into the output through
// `decode`, straight into the canvas when create_output_bitmap offers a view of it;
// `in_place` tells whether it went there.
template <class Decode>
int decode_whole(const ImageReadContext& c, const std::uint8_t* head, std::uint32_t head_length,
                 FltLoadOptions* options, bool* in_place, Decode decode) {
  const bool into = canvas_view(c, head, head_length);
  if (into) options->flags |= KV_LOAD_INTO;
  int r = decode(options);
  // A decoder that ignores the flag hands back a picture of its own, as without it.
  *in_place =
      into && c.out->data == c.onto->canvas->data && !(c.out->flags & kernel::kBitmapDataAllocated);
  if (!*in_place || r != RET_NOT_SUPPORTED) return r;
  // Another depth: nothing was written, and the picture is decoded on its own.
  *in_place = false;
  kernel::free_bitmap(c.out);
  options->flags &= ~KV_LOAD_INTO;
  return decode(options);
}

// An 8-bit picture of an image with a colour table shows it, as uncompressed data do.
void show_colour_table(const NitfImageSubheader& s, kernel::Bitmap* out) {
  std::uint32_t entries[kernel::kMaxPaletteEntries];
  const auto n = static_cast<std::uint32_t>(
      std::min<std::size_t>(s.colours.entries.size(), kernel::kMaxPaletteEntries));
  static_assert(sizeof(ColourEntry) == sizeof(std::uint32_t));
  std::memcpy(entries, s.colours.entries.data(), n * sizeof(std::uint32_t));
  out->colour_order = kernel::kColourPalette;
  kernel::put_palette(out, 0, n, entries);
}

bool is_j2k(const NitfImageSubheader& s) {
  return s.compression == CompressionCode::kC8 || s.compression == CompressionCode::kM8;
}

// The JPEG 2000 decoder hands on the components as stored unless the stream itself says
// they are Y, Cb, Cr, so a YCbCr601 image's Y, Cb and Cr arrive as red, green and blue;
// extended reading shows them in RGB. (The JPEG decoder converts YCbCr itself.)
void show_ycbcr_in_rgb(const ImageReadContext& c, bool shown_by_decoder) {
  const NitfImageSubheader& s = *c.subheader;
  kernel::Bitmap& b = *c.out;
  if (!c.document->extended || !is_j2k(s) || s.representation != RepresentationCode::kYCbCr601 ||
      (b.bits_per_pixel != 24 && b.bits_per_pixel != 32) || shown_by_decoder)
    return;
  for (std::int32_t y = 0; y < b.height; ++y)
    if (std::uint8_t* row = kernel::pixel_row(b, y))
      ycbcr_to_rgb(row, static_cast<std::size_t>(b.width), b.bits_per_pixel / 8);
}

// A JPEG 2000 picture smaller than the block grid (a producer that codes NCOLS x NROWS
// and leaves the pad pixels out) goes to the grid's top left, the rest staying 0 as pad
// pixels of uncompressed data read: painted over the grid, it must not be stretched.
int pad_to_grid(const ImageReadContext& c) {
  imgdata::BlockGrid g;
  kernel::Bitmap& b = *c.out;
  if (!is_j2k(*c.subheader) || imgdata::block_grid(*c.subheader, &g) != RET_SUCCESS)
    return RET_SUCCESS;
  const std::uint64_t width = std::uint64_t{g.width} * g.per_row;
  const std::uint64_t height = std::uint64_t{g.height} * g.per_column;
  if (b.width <= 0 || b.height <= 0 || width > INT32_MAX || height > INT32_MAX ||
      (std::uint64_t(b.width) >= width && std::uint64_t(b.height) >= height))
    return RET_SUCCESS;
  kernel::Bitmap grid;
  kernel::init_bitmap(&grid, kernel::kBitmapRecordSize);
  int r = kernel::create_bitmap(
      &grid, kernel::kBitmapRecordSize, 1,
      static_cast<std::int32_t>(std::max<std::uint64_t>(width, b.width)),
      static_cast<std::int32_t>(std::max<std::uint64_t>(height, b.height)), b.bits_per_pixel,
      b.colour_order, nullptr, kernel::kViewTopDown, nullptr, 0);
  if (r == RET_SUCCESS && b.palette_count > 0)
    r = kernel::put_palette(&grid, 0, static_cast<std::uint32_t>(b.palette_count), b.palette);
  if (r == RET_SUCCESS)
    r = imgproc::combine(&grid, 0, 0, b.width, b.height, &b, 0, 0, imgproc::kCombineCopy, 0);
  if (r != RET_SUCCESS) {
    kernel::free_bitmap(&grid);
    return r;
  }
  kernel::free_bitmap(&b);
  b = grid;
  return RET_SUCCESS;
}

// A window of a JPEG 2000 image inside its stream's picture is decoded at the level its
// reduction names, or the coarsest the stream has.
bool j2k_window(const ImageReadContext& c) {
  const ImageWindow* w = c.window;
  return w && w->honoured && is_j2k(*c.subheader) && w->columns != 0 && w->rows != 0;
}

// The image's coded data, from IMDATOFF to its end, as one buffer.
int read_whole_stream(const ImageReadContext& c, const DataSource& source,
                      kernel::Buffer<std::uint8_t>* buffer) {
  const std::uint64_t offset = c.subheader->mask.imdatoff;
  const std::uint64_t length = c.data_length - offset;
  if (length > UINT32_MAX) return RET_NO_MEMORY;
  if (!buffer->allocate(static_cast<std::size_t>(length))) return RET_NO_MEMORY;
  return source.read(offset, buffer->size(), buffer->data());
}

// The whole data as one stream. The decoded picture becomes the output as it is.
// A window of a JPEG 2000 image: the codestream is read where it lies, as far as the
// window needs (a JP2 file is read whole by the decoder).
int read_j2k_window(const ImageReadContext& c) {
  const NitfImageSubheader& s = *c.subheader;
  const ImageWindow& w = *c.window;
  jpegscan::CodedStream coded;
  if (int r = jpegscan::open_coded(c, &coded); r != RET_SUCCESS) return r;
  FltLoadOptions options;
  if (int r = load_options(s, false, &options); r != RET_SUCCESS) return r;
  const fileformat::J2kArea area{w.first_column, w.first_row, w.first_column + w.columns,
                                 w.first_row + w.rows,
                                 static_cast<std::uint32_t>(std::countr_zero(w.reduction))};
  bool ycc_shown = false;
  if (int r = fileformat::load_j2k_area(coded.stream(), &options, area, c.out, &ycc_shown);
      r != RET_SUCCESS)
    return r;
  *w.honoured = true;
  show_ycbcr_in_rgb(c, ycc_shown);
  if (c.out->bits_per_pixel == 8 && s.colours.present()) show_colour_table(s, c.out);
  return RET_SUCCESS;
}

// A decoder the caller gave that is not the host's own is handed the whole stream in
// memory; the host's reads a JPEG 2000 stream where it lies.
bool caller_decoder(const ImageReadContext& c) {
  return c.load && c.load->load_from_memory && c.load->load_from_memory != &KvHost_LoadFromMemory;
}

// The whole stream in memory, decoded by the read's decoder.
int decode_in_memory(const ImageReadContext& c, const DataSource& source, bool* in_place,
                     bool* ycc_shown) {
  kernel::Buffer<std::uint8_t> buffer;
  if (int r = read_whole_stream(c, source, &buffer); r != RET_SUCCESS) return r;
  const auto length = static_cast<std::uint32_t>(buffer.size());
  FltLoadOptions options;
  if (int r = load_options(*c.subheader, false, &options); r != RET_SUCCESS) return r;
  const jpegscan::Decoder decoder{c.load};
  const int r = decode_whole(c, buffer.data(), length, &options, in_place, [&](FltLoadOptions* o) {
    return decoder.load_from_memory(buffer.data(), c.out, 0, fileformat::kColourAsDecoded, length,
                                    o);
  });
  *ycc_shown = r == RET_SUCCESS && fileformat::shows_ycc_in_rgb(buffer.data(), length);
  return r;
}

// A JPEG 2000 stream read where it lies: OpenJPEG decodes the picture in pieces as it
// reads, and only the stream's first bytes (which give its size) are held here.
constexpr std::uint64_t kHeadBytes = 64 * 1024;

int decode_j2k_stream(const ImageReadContext& c, bool* in_place, bool* ycc_shown) {
  jpegscan::CodedStream coded;
  if (int r = jpegscan::open_coded(c, &coded); r != RET_SUCCESS) return r;
  const fileformat::StreamSource stream = coded.stream();
  kernel::Buffer<std::uint8_t> head;
  if (!head.allocate(static_cast<std::size_t>(std::min(coded.length, kHeadBytes))))
    return RET_NO_MEMORY;
  if (int r = stream.read(stream.self, 0, head.size(), head.data()); r != RET_SUCCESS) return r;
  FltLoadOptions options;
  if (int r = load_options(*c.subheader, false, &options); r != RET_SUCCESS) return r;
  return decode_whole(
      c, head.data(), static_cast<std::uint32_t>(head.size()), &options, in_place,
      [&](FltLoadOptions* o) { return fileformat::load_j2k_stream(stream, o, c.out, ycc_shown); });
}

int read_single_stream(const ImageReadContext& c, const DataSource& source) {
  if (j2k_window(c)) return read_j2k_window(c);
  const NitfImageSubheader& s = *c.subheader;
  bool in_place = false, ycc_shown = false;
  const int r = is_j2k(s) && !caller_decoder(c)
                    ? decode_j2k_stream(c, &in_place, &ycc_shown)
                    : decode_in_memory(c, source, &in_place, &ycc_shown);
  if (r != RET_SUCCESS) return r;
  show_ycbcr_in_rgb(c, ycc_shown);
  if (!in_place && !windowed(c)) {
    if (int padded = pad_to_grid(c); padded != RET_SUCCESS) {
      kernel::free_bitmap(c.out);
      return padded;
    }
  }
  if (in_place || c.out->bits_per_pixel != 8 || !s.colours.present()) return r;
  show_colour_table(s, c.out);
  return RET_SUCCESS;
}

// Raw samples of a single stream: the whole picture is block 0.
int read_single_to_target(const ImageReadContext& c, const DataSource& source) {
  const NitfImageSubheader& s = *c.subheader;
  const BlockTarget& t = *c.target;
  if (!t.wants(t.self, 0, BlockTarget::kEveryBand)) return RET_SUCCESS;
  kernel::Buffer<std::uint8_t> buffer;
  if (int r = read_whole_stream(c, source, &buffer); r != RET_SUCCESS) return r;
  FltLoadOptions options;
  if (int r = raw_load_options(s, &options); r != RET_SUCCESS) return r;
  OwnedBitmaps<1> picture;
  const jpegscan::Decoder decoder{c.load};
  int r = decoder.load_from_memory(buffer.data(), &picture.bitmaps[0], 0,
                                   fileformat::kColourAsDecoded, buffer.size(), &options);
  if (r == RET_SUCCESS) r = t.take(t.self, 0, BlockTarget::kEveryBand, picture.bitmaps[0]);
  return r;
}

bool one_stream(const NitfImageSubheader& s) {
  return (s.blocks_per_row < 2 && s.blocks_per_column < 2) ||
         s.compression == CompressionCode::kC8 || s.compression == CompressionCode::kM8;
}

}  // namespace

int read_jpeg_family(const ImageReadContext& c) {
  const NitfImageSubheader& s = *c.subheader;
  DataSource source;
  if (int r = jpegscan::open_data(c, &source); r != RET_SUCCESS) return r;
  if (s.mask.imdatoff >= c.data_length) return RET_FILE_FORMAT;
  if (one_stream(s))
    return c.target ? read_single_to_target(c, source) : read_single_stream(c, source);
  BlockRead b{
      c,           source, jpegscan::Decoder{c.load}, {}, 0, s.mask.imdatoff, c.data_length, {}, 0,
      RET_SUCCESS, 1};
  if (int r = imgdata::block_grid(s, &b.grid); r != RET_SUCCESS) return r;
  b.blocks = std::uint64_t{b.grid.per_row} * b.grid.per_column;
  if (int r = prepare_mask(b); r != RET_SUCCESS) return r;
  if (!c.target) {
    if (int r = create_output_bitmap(c); r != RET_SUCCESS) return r;
  }
  // A window's DCT blocks at a reduction are decoded smaller by libjpeg itself.
  const bool dct = s.compression == CompressionCode::kC3 || s.compression == CompressionCode::kM3 ||
                   s.compression == CompressionCode::kI1;
  if (windowed(c) && dct) b.scale = std::min(c.window->reduction, 8u);
  if (band_total(s) > 1 && s.mode == ImageModeCode::kSequential) return read_band_sequential(b);
  return read_blocks(b);
}

}  // namespace nitf
