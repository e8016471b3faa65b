// File information from memory: what a stream is and the picture it would decode to,
// read from its headers only. The blocked JPEG readers call this for every block to
// refuse streams of a kind they do not accept before decoding them.
#include <cstdint>
#include <cstring>

#include "decoders.h"
#include "fileformat.h"
#include "kernel/memory.h"

namespace fileformat {
namespace {

using detail::ByteView;
using detail::StreamKind;

struct Picture {
  std::int32_t format = kFormatUnknown;
  std::uint32_t width = 0, height = 0, bits = 0;
};

std::int32_t describe_jpeg(ByteView s, Picture* p) {
  detail::JpegHeader h;
  const std::int32_t result = detail::probe_jpeg(s, &h);
  if (result != RET_SUCCESS) return result;
  const int grey = detail::jpeg_grey_bits(h.precision);
  *p = Picture{detail::jpeg_format(h), h.width, h.height,
               h.components <= 2 ? static_cast<std::uint32_t>(grey) : 24u};
  return RET_SUCCESS;
}

std::int32_t describe_j2k(ByteView s, StreamKind kind, Picture* p) {
  detail::J2kHeader h;
  const std::int32_t result = detail::probe_j2k(s, kind, &h);
  if (result != RET_SUCCESS) return result;
  *p = Picture{kFormatJpeg2000, h.width, h.height,
               h.components <= 2 ? (h.precision > 8 ? 16u : 8u) : 24u};
  return RET_SUCCESS;
}

std::int32_t describe_raw(Picture* p) {
  FltRawFormat raw;
  if (detail::describe_raw(&raw) != RET_SUCCESS ||
      (raw.format != kFormatT4OneDimensional && raw.format != kFormatT4TwoDimensional) ||
      raw.width <= 0 || raw.height <= 0)
    return RET_FILE_FORMAT;
  *p = Picture{raw.format, static_cast<std::uint32_t>(raw.width),
               static_cast<std::uint32_t>(raw.height), 1};
  return RET_SUCCESS;
}

std::int32_t describe(ByteView s, Picture* p) {
  std::size_t jpeg_start = 0;
  const StreamKind kind = detail::stream_kind(s, &jpeg_start);
  switch (kind) {
    case StreamKind::kJpeg:
      return describe_jpeg(ByteView{s.data + jpeg_start, s.size - jpeg_start}, p);
    case StreamKind::kCodestream:
    case StreamKind::kJp2:
      return describe_j2k(s, kind, p);
    case StreamKind::kRaw:
      break;
  }
  return describe_raw(p);
}

}  // namespace

std::int32_t file_info_from_memory(const void* buffer, FltFileInfo* info, std::uint32_t size,
                                   std::uint32_t byte_count) {
  if (!info || size != kFileInfoSize) return RET_INVALID_PARAMETER;
  std::memset(info, 0, sizeof(*info));
  if (!buffer || byte_count == 0) return RET_MISSING_DATA;
  Picture p;
  const std::int32_t result =
      describe(ByteView{static_cast<const std::uint8_t*>(buffer), byte_count}, &p);
  if (result != RET_SUCCESS) return result;
  const std::uint64_t line = (std::uint64_t{p.width} * p.bits + 31) / 32 * 4;
  std::uint64_t bytes = 0;
  if (kernel::mul_overflows(line, p.height, &bytes)) bytes = UINT64_MAX;  // absurd, but said
  info->format = static_cast<std::uint32_t>(p.format);
  info->width = p.width;
  info->height = p.height;
  info->bits_per_pixel = p.bits;
  info->image_size_low = static_cast<std::uint32_t>(bytes);
  info->image_size_high = static_cast<std::uint32_t>(bytes >> 32);
  return RET_SUCCESS;
}

bool shows_ycc_in_rgb(const void* buffer, std::uint32_t byte_count) {
  if (!buffer || byte_count == 0) return false;
  ByteView s{static_cast<const std::uint8_t*>(buffer), byte_count};
  std::size_t jpeg_start = 0;
  StreamKind kind = detail::stream_kind(s, &jpeg_start);
  detail::J2kHeader h;
  return (kind == StreamKind::kCodestream || kind == StreamKind::kJp2) &&
         detail::probe_decoded_j2k(&s, &kind, &h) == RET_SUCCESS && h.ycc;
}

}  // namespace fileformat
