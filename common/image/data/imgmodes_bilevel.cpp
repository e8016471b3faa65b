// The reader of T.4 bi-level image data (C1, M1).
//
// T.4 data carry no header, so the decoder is told what the stream is through the
// raw-data callback: the output's width and height, one bit per pixel, and the coding
// (one- or two-dimensional) taken from COMRAT. The whole stream is held in memory once.
// The palette swap and the pad pixel code of bi-level images are left to the drawing.
#include <cstdint>

#include <kvntfu.h>

#include "image/data/imgmodes.h"
#include "image/data/imgmodes_jpeg_scan.h"
#include "kernel.h"

namespace nitf {
namespace {

struct BilevelDescription {
  std::int32_t width, height, format;
};

std::int32_t KV_CALL describe_bilevel(void* user_data, FltRawFormat* format) {
  const auto* d = static_cast<const BilevelDescription*>(user_data);
  if (!d || !format) return RET_INVALID_PARAMETER;
  *format = FltRawFormat{d->format, d->width, d->height, 1, 0, 0, 1};
  return RET_SUCCESS;
}

// 1D and an unknown COMRAT are read one-dimensionally; 2DS and 2DH both use the
// two-dimensional code, which the decoder tells apart by itself.
std::int32_t format_code(BilevelModeCode mode) {
  return mode == BilevelModeCode::k2DS || mode == BilevelModeCode::k2DH ? 67 : 66;
}

}  // namespace

int read_bilevel_compressed(const ImageReadContext& c) {
  const NitfImageSubheader& s = *c.subheader;
  imgdata::DataSource source;
  if (int r = jpegscan::open_data(c, &source); r != RET_SUCCESS) return r;
  const std::uint64_t offset = s.mask.imdatoff;
  if (offset >= c.data_length) return RET_FILE_FORMAT;
  const std::uint64_t length = c.data_length - offset;
  if (int r = create_output_bitmap(c); r != RET_SUCCESS) return r;
  kernel::Buffer<std::uint8_t> stream;
  if (length > SIZE_MAX || !stream.allocate(static_cast<std::size_t>(length))) return RET_NO_MEMORY;
  if (int r = source.read(offset, stream.size(), stream.data()); r != RET_SUCCESS) return r;
  // The decoded picture replaces the output; only its geometry is needed until then.
  kernel::free_pixel_data(c.out);
  BilevelDescription description{c.out->width, c.out->height, format_code(s.bilevel_mode)};
  const jpegscan::Decoder decoder{c.load};
  const FltRawDataCallback previous = decoder.set_raw_callback(describe_bilevel, &description);
  const int result = decoder.load_from_memory(stream.data(), c.out, c.out->bits_per_pixel,
                                              kernel::kColourRgb, length, nullptr);
  decoder.set_raw_callback(previous, nullptr);
  return result;
}

}  // namespace nitf
