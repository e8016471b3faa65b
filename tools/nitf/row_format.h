// What the picture writers share: which rows they take, and the rows turned into the
// red, green, blue bytes both file formats store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cli {

// Rows of 8 (grey), 24 (blue, green, red) or 32 bits (blue, green, red, unused), and a
// picture whose RGB row fits an int; otherwise false with the reason in `error`.
inline bool writable_picture(std::uint32_t width, std::uint32_t height, int bits_per_pixel,
                             std::string* error) {
  if (bits_per_pixel != 8 && bits_per_pixel != 24 && bits_per_pixel != 32) {
    *error = "rows of " + std::to_string(bits_per_pixel) + " bits per pixel";
    return false;
  }
  if (width == 0 || height == 0 || width > 0x7FFFFFFF / 3) {
    *error = "a picture of " + std::to_string(width) + " x " + std::to_string(height);
    return false;
  }
  return true;
}

// `width` pixels of `row` as red, green, blue bytes in `rgb`.
inline void row_to_rgb(const std::uint8_t* row, std::uint32_t width, int bits_per_pixel,
                       std::uint8_t* rgb) {
  if (bits_per_pixel == 8) {
    for (std::uint32_t x = 0; x < width; ++x) rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = row[x];
    return;
  }
  const std::size_t step = static_cast<std::size_t>(bits_per_pixel / 8);
  for (std::uint32_t x = 0; x < width; ++x, row += step) {
    rgb[3 * x] = row[2];
    rgb[3 * x + 1] = row[1];
    rgb[3 * x + 2] = row[0];
  }
}

}  // namespace cli
