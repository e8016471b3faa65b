// Image-processing combine: clipping, then one span copy per row. Byte layouts copy
// with memmove; 1-bit spans are shifted a byte at a time and 12-bit spans copy whole
// sample pairs when both ends have the same parity.
#include "combine.h"

#include <algorithm>
#include <cstring>

#include "pixels.h"

namespace imgproc {
namespace {

using kernel::Bitmap;

// The overlap of the requested rectangle with both bitmaps, in display coordinates.
struct Span {
  std::int64_t x, y, source_x, source_y, width, height;
};

// Moves the rectangle's start to 0 on whichever side is negative, then cuts its size
// to what both bitmaps hold along one axis.
void clip_axis(std::int64_t* to, std::int64_t* from, std::int64_t* size, std::int64_t to_limit,
               std::int64_t from_limit) {
  const std::int64_t shift = std::max<std::int64_t>({0, -*to, -*from});
  *to += shift;
  *from += shift;
  *size = std::min({*size - shift, to_limit - *to, from_limit - *from});
}

// Bits of one byte j that fall inside the bit range [first, end) of the row.
std::uint8_t byte_mask(std::int64_t j, std::int64_t first, std::int64_t end) {
  const std::int64_t lo = std::max(first, 8 * j) - 8 * j;
  const std::int64_t hi = std::min(end, 8 * j + 8) - 8 * j;
  return static_cast<std::uint8_t>((0xFFu >> lo) & ~(0xFFu >> hi));
}

// Bits [from, from + count) of `source` to bits [to, to + count) of `target`, most
// significant bit first. Each target byte takes the eight source bits that line up with
// it; bytes outside the source span read as 0 (their bits are masked off anyway), so
// nothing outside either span is read or written.
void copy_bits(const std::uint8_t* source, std::int64_t from, std::uint8_t* target, std::int64_t to,
               std::int64_t count) {
  const std::int64_t lo = from >> 3, hi = (from + count - 1) >> 3;
  auto byte_at = [&](std::int64_t i) -> unsigned { return i >= lo && i <= hi ? source[i] : 0; };
  for (std::int64_t j = to >> 3; j <= (to + count - 1) >> 3; ++j) {
    const std::int64_t bit = from + (8 * j - to);  // source bit under the byte's first bit
    const std::int64_t index = bit >> 3;           // floor, also for the first byte
    const unsigned window = ((byte_at(index) << 8 | byte_at(index + 1)) << (bit & 7)) >> 8;
    const std::uint8_t mask = byte_mask(j, to, to + count);
    target[j] = static_cast<std::uint8_t>((target[j] & ~mask) | (window & mask));
  }
}

void copy_samples12(const std::uint8_t* source, std::int32_t from, std::uint8_t* target,
                    std::int32_t to, std::int32_t count) {
  if ((from ^ to) & 1) {
    for (std::int32_t i = 0; i < count; ++i)
      kernel::put_sample12(target, to + i, kernel::sample12(source, from + i));
    return;
  }
  if (from & 1) {
    kernel::put_sample12(target, to++, kernel::sample12(source, from++));
    --count;
  }
  std::memmove(target + std::size_t(to / 2) * 3, source + std::size_t(from / 2) * 3,
               std::size_t(count / 2) * 3);
  if (count & 1)
    kernel::put_sample12(target, to + count - 1, kernel::sample12(source, from + count - 1));
}

void copy_span(int bits_per_pixel, const std::uint8_t* source, std::int64_t from,
               std::uint8_t* target, std::int64_t to, std::int64_t count) {
  if (bits_per_pixel == 1) return copy_bits(source, from, target, to, count);
  if (bits_per_pixel == 12)
    return copy_samples12(source, std::int32_t(from), target, std::int32_t(to),
                          std::int32_t(count));
  const auto bytes = static_cast<std::size_t>(bits_per_pixel / 8);
  std::memmove(target + std::size_t(to) * bytes, source + std::size_t(from) * bytes,
               std::size_t(count) * bytes);
}

std::int32_t check_arguments(const Bitmap* destination, std::int32_t width, std::int32_t height,
                             const Bitmap* source, std::int32_t operation, std::uint32_t flags) {
  if (!destination || !source || !holds_pixels(*destination) || !holds_pixels(*source))
    return RET_INVALID_BITMAP;
  if (width < 0 || height < 0 || destination == source ||
      destination->bits_per_pixel != source->bits_per_pixel)
    return RET_INVALID_PARAMETER;
  if (operation != kCombineCopy || flags != 0) return RET_NOT_SUPPORTED;
  return RET_SUCCESS;
}

}  // namespace

std::int32_t combine(Bitmap* destination, std::int32_t x, std::int32_t y, std::int32_t width,
                     std::int32_t height, const Bitmap* source, std::int32_t source_x,
                     std::int32_t source_y, std::int32_t operation, std::uint32_t flags) {
  const std::int32_t checked =
      check_arguments(destination, width, height, source, operation, flags);
  if (checked != RET_SUCCESS) return checked;
  Span s{x, y, source_x, source_y, width, height};
  clip_axis(&s.x, &s.source_x, &s.width, destination->width, source->width);
  clip_axis(&s.y, &s.source_y, &s.height, destination->height, source->height);
  for (std::int64_t row = 0; row < s.height && s.width > 0; ++row) {
    const auto to_row = static_cast<std::int32_t>(s.y + row);
    const auto from_row = static_cast<std::int32_t>(s.source_y + row);
    copy_span(source->bits_per_pixel,
              kernel::storage_row(*source, kernel::top_down_row(*source, from_row)), s.source_x,
              kernel::storage_row(*destination, kernel::top_down_row(*destination, to_row)), s.x,
              s.width);
  }
  return RET_SUCCESS;
}

}  // namespace imgproc
