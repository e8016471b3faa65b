// Load from memory: recognises a stream by its signature and hands it to the JPEG,
// JPEG 2000 or T.4 decoder, then moves the decoded picture into the caller's record.
// Also the rules every decoder shares: which components become the picture, and how
// deeper samples are scaled.
#include <cstdint>
#include <cstring>

#include "decoders.h"
#include "fileformat.h"

namespace fileformat {
namespace detail {
namespace {

constexpr std::uint8_t kJp2Signature[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                            0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};

bool starts_jpeg(ByteView s, std::size_t* start) {
  std::size_t pos = 0;
  while (pos < s.size && s.data[pos] == 0xFF) ++pos;
  if (pos == 0 || pos + 1 >= s.size || s.data[pos] != 0xD8 || s.data[pos + 1] != 0xFF) return false;
  *start = pos - 1;
  return true;
}

}  // namespace

StreamKind stream_kind(ByteView s, std::size_t* jpeg_start) {
  *jpeg_start = 0;
  if (starts_jpeg(s, jpeg_start)) return StreamKind::kJpeg;
  if (s.size >= 4 && s.data[0] == 0xFF && s.data[1] == 0x4F && s.data[2] == 0xFF &&
      s.data[3] == 0x51)
    return StreamKind::kCodestream;
  if (s.size >= sizeof kJp2Signature && std::memcmp(s.data, kJp2Signature, 12) == 0)
    return StreamKind::kJp2;
  return StreamKind::kRaw;
}

std::int32_t plan_output(std::uint32_t components, const FltLoadOptions* options,
                         OutputPlan* plan) {
  *plan = OutputPlan{};
  if (options && (options->flags & KV_LOAD_BANDS)) {
    if (options->red_band >= components || options->green_band >= components ||
        options->blue_band >= components)
      return RET_INVALID_PARAMETER;
    plan->red = options->red_band;
    plan->green = options->green_band;
    plan->blue = options->blue_band;
    return RET_SUCCESS;
  }
  // A second component alone is usually alpha or a band a grey picture cannot show.
  if (components <= 2) {
    plan->grey = true;
    return RET_SUCCESS;
  }
  plan->green = 1;
  plan->blue = 2;
  return RET_SUCCESS;
}

std::int32_t prepare_output(kernel::Bitmap* out, const FltLoadOptions* options, std::uint32_t width,
                            std::uint32_t height, int bits, int colour_order) {
  if (decodes_into(options)) {
    const bool fits = out->data && static_cast<std::uint32_t>(out->width) == width &&
                      static_cast<std::uint32_t>(out->height) == height &&
                      out->bits_per_pixel == bits;
    return fits ? RET_SUCCESS : RET_NOT_SUPPORTED;
  }
  if (width > INT32_MAX || height > INT32_MAX) return RET_NO_MEMORY;
  return kernel::create_bitmap(out, kernel::kBitmapRecordSize, 1, static_cast<std::int32_t>(width),
                               static_cast<std::int32_t>(height), bits, colour_order, nullptr,
                               kernel::kViewTopDown, nullptr, 0);
}

std::uint8_t scale_to_8(std::uint32_t value, std::uint32_t precision) {
  if (precision == 8) return static_cast<std::uint8_t>(value);
  const std::uint64_t max = (std::uint64_t{1} << precision) - 1;
  return static_cast<std::uint8_t>((std::uint64_t{value} * 255 + max / 2) / max);
}

std::uint16_t scale_to_16(std::uint32_t value, std::uint32_t precision) {
  if (precision == 16) return static_cast<std::uint16_t>(value);
  const std::uint64_t max = (std::uint64_t{1} << precision) - 1;
  return static_cast<std::uint16_t>((std::uint64_t{value} * 65535 + max / 2) / max);
}

}  // namespace detail

namespace {

using detail::ByteView;
using detail::StreamKind;

std::int32_t decode_raw(ByteView stream, kernel::Bitmap* out) {
  FltRawFormat format;
  const std::int32_t described = detail::describe_raw(&format);
  if (described != RET_SUCCESS) return described;
  if (format.format != kFormatT4OneDimensional && format.format != kFormatT4TwoDimensional)
    return RET_NOT_SUPPORTED;
  if (format.width <= 0 || format.height <= 0 || format.bits_per_pixel != 1)
    return RET_INVALID_PARAMETER;
  return detail::decode_t4(stream, format, out);
}

std::int32_t decode_any(ByteView stream, const FltLoadOptions* options, kernel::Bitmap* out) {
  std::size_t jpeg_start = 0;
  const StreamKind kind = detail::stream_kind(stream, &jpeg_start);
  if (detail::decodes_into(options) && kind == StreamKind::kRaw) return RET_NOT_SUPPORTED;
  switch (kind) {
    case StreamKind::kJpeg:
      return detail::decode_jpeg(ByteView{stream.data + jpeg_start, stream.size - jpeg_start},
                                 options, out);
    case StreamKind::kCodestream:
      return detail::decode_j2k(stream, StreamKind::kCodestream, options, out);
    case StreamKind::kJp2:
      return detail::decode_j2k(stream, StreamKind::kJp2, options, out);
    case StreamKind::kRaw:
      break;
  }
  return decode_raw(stream, out);
}

bool valid_colour_order(std::int32_t order) {
  return order == kColourAsDecoded ||
         (order >= kernel::kColourPalette && order <= kernel::kColourGrey);
}

}  // namespace

std::int32_t load_from_memory(const void* buffer, kernel::Bitmap* bitmap, std::uint32_t record_size,
                              std::int32_t bits_per_pixel, std::int32_t colour_order,
                              std::uint32_t byte_count, const FltLoadOptions* options) {
  if (!bitmap || record_size != kernel::kBitmapRecordSize || !valid_colour_order(colour_order) ||
      bits_per_pixel < 0)
    return RET_INVALID_PARAMETER;
  if (!buffer || byte_count == 0) return RET_MISSING_DATA;
  const ByteView stream{static_cast<const std::uint8_t*>(buffer), byte_count};
  if (detail::decodes_into(options)) {
    if (bits_per_pixel != 0 && bits_per_pixel != bitmap->bits_per_pixel) return RET_NOT_SUPPORTED;
    // A copy that owns nothing, so that a decoder's cleanup on failure releases none of
    // the caller's pixels or palette.
    kernel::Bitmap target = *bitmap;
    target.flags &= ~kernel::kBitmapDataAllocated;
    target.palette = nullptr;
    target.palette_count = 0;
    return decode_any(stream, options, &target);
  }
  kernel::Bitmap decoded;
  const std::int32_t result = decode_any(stream, options, &decoded);
  if (result != RET_SUCCESS) return result;
  if (bits_per_pixel != 0 && bits_per_pixel != decoded.bits_per_pixel) {
    kernel::free_bitmap(&decoded);
    return RET_NOT_SUPPORTED;
  }
  kernel::free_bitmap(bitmap);
  *bitmap = decoded;  // the record now owns the data and the palette
  return RET_SUCCESS;
}

std::int32_t load_jpeg_scaled(const void* buffer, std::uint32_t byte_count,
                              const FltLoadOptions* options, unsigned scale_denom,
                              kernel::Bitmap* bitmap) {
  if (!bitmap || detail::decodes_into(options)) return RET_INVALID_PARAMETER;
  if (scale_denom != 2 && scale_denom != 4 && scale_denom != 8) return RET_NOT_SUPPORTED;
  if (!buffer || byte_count == 0) return RET_MISSING_DATA;
  const ByteView stream{static_cast<const std::uint8_t*>(buffer), byte_count};
  std::size_t jpeg_start = 0;
  if (detail::stream_kind(stream, &jpeg_start) != StreamKind::kJpeg) return RET_NOT_SUPPORTED;
  kernel::Bitmap decoded;
  const std::int32_t result = detail::decode_jpeg(
      ByteView{stream.data + jpeg_start, stream.size - jpeg_start}, options, &decoded, scale_denom);
  if (result != RET_SUCCESS) {
    kernel::free_bitmap(&decoded);
    return result;
  }
  kernel::free_bitmap(bitmap);
  *bitmap = decoded;
  return RET_SUCCESS;
}

}  // namespace fileformat
