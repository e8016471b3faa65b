// Colour plane merge: checks that the planes agree, prepares the destination, then
// interleaves one display row of the three planes at a time.
#include "merge.h"

#include "imgproc/pixels.h"

namespace colour {
namespace {

using kernel::Bitmap;

constexpr int kPlanes = 3;

std::int32_t check_planes(const Bitmap* planes) {
  for (int i = 0; i < kPlanes; ++i)
    if (!imgproc::holds_pixels(planes[i])) return RET_INVALID_BITMAP;
  for (int i = 0; i < kPlanes; ++i)
    if (planes[i].bits_per_pixel != 8 || planes[i].width != planes[0].width ||
        planes[i].height != planes[0].height)
      return RET_INVALID_PARAMETER;
  return RET_SUCCESS;
}

std::int32_t prepare_destination(Bitmap* destination, const Bitmap& plane) {
  if (!destination->data)
    return kernel::create_bitmap(destination, kernel::kBitmapRecordSize, 1, plane.width,
                                 plane.height, 24, kernel::kColourRgb, nullptr,
                                 kernel::kViewTopDown, nullptr, 0);
  const bool fits = imgproc::holds_pixels(*destination) && destination->bits_per_pixel == 24 &&
                    destination->width == plane.width && destination->height == plane.height;
  return fits ? RET_SUCCESS : RET_INVALID_PARAMETER;
}

const std::uint8_t* display_row(const Bitmap& bitmap, std::int32_t y) {
  return kernel::storage_row(bitmap, kernel::top_down_row(bitmap, y));
}

}  // namespace

std::int32_t merge_planes(Bitmap* destination, const Bitmap* planes, std::uint32_t record_size,
                          std::uint32_t flags) {
  if (!destination || !planes || record_size != kernel::kBitmapRecordSize)
    return RET_INVALID_PARAMETER;
  if (flags != 0) return RET_NOT_SUPPORTED;
  std::int32_t result = check_planes(planes);
  if (result == RET_SUCCESS) result = prepare_destination(destination, planes[0]);
  if (result != RET_SUCCESS) return result;
  for (std::int32_t y = 0; y < destination->height; ++y) {
    std::uint8_t* out = kernel::storage_row(*destination, kernel::top_down_row(*destination, y));
    const std::uint8_t* blue = display_row(planes[0], y);
    const std::uint8_t* green = display_row(planes[1], y);
    const std::uint8_t* red = display_row(planes[2], y);
    for (std::int32_t x = 0; x < destination->width; ++x, out += 3) {
      out[0] = blue[x];
      out[1] = green[x];
      out[2] = red[x];
    }
  }
  return RET_SUCCESS;
}

}  // namespace colour
