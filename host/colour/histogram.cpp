// Colour histogram: one pass over the rows. Packed and deep layouts go through a row of
// sample values; colour layouts are read in place.
#include "histogram.h"

#include <algorithm>

#include "imgproc/pixels.h"
#include "kernel/memory.h"

namespace colour {
namespace {

using kernel::Bitmap;

std::int32_t count_samples(const Bitmap& bitmap, std::uint64_t* counts) {
  kernel::Buffer<std::uint16_t> samples;
  if (!samples.allocate(std::size_t(bitmap.width))) return RET_NO_MEMORY;
  const int shift = bitmap.bits_per_pixel > 8 ? bitmap.bits_per_pixel - 8 : 0;
  for (std::int32_t row = 0; row < bitmap.height; ++row) {
    imgproc::read_samples(bitmap, kernel::storage_row(bitmap, row), 0, bitmap.width,
                          samples.data());
    for (std::int32_t x = 0; x < bitmap.width; ++x) ++counts[samples[std::size_t(x)] >> shift];
  }
  return RET_SUCCESS;
}

std::int32_t count_colours(const Bitmap& bitmap, std::uint64_t* counts) {
  const auto step = static_cast<std::size_t>(bitmap.bits_per_pixel / 8);
  for (std::int32_t row = 0; row < bitmap.height; ++row) {
    const std::uint8_t* p = kernel::storage_row(bitmap, row);
    for (std::int32_t x = 0; x < bitmap.width; ++x, p += step)
      ++counts[std::max({p[0], p[1], p[2]})];
  }
  return RET_SUCCESS;
}

}  // namespace

std::int32_t histogram(const Bitmap* bitmap, std::uint64_t* counts, std::uint32_t bins,
                       std::int32_t channel) {
  if (!counts || bins != kHistogramBins) return RET_INVALID_PARAMETER;
  if (channel != 0) return RET_NOT_SUPPORTED;
  if (!bitmap || !imgproc::holds_pixels(*bitmap)) return RET_INVALID_BITMAP;
  std::fill(counts, counts + kHistogramBins, 0);
  return bitmap->bits_per_pixel >= 24 ? count_colours(*bitmap, counts)
                                      : count_samples(*bitmap, counts);
}

}  // namespace colour
