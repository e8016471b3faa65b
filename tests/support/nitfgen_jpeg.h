// JPEG streams for generated files: libjpeg-turbo's encoder, independent of the module's
// readers. Used by the demo file and the benchmarks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace nitfgen {

// A baseline JPEG of a w x h picture. With 1 component `pixel` gives the grey value;
// with 3 it gives 0xRRGGBB and the stream is YCbCr (JFIF), or with `stored_rgb` the three
// values as they are (Adobe). Quality 1..100.
std::string jpeg_stream(int w, int h, int components, int quality,
                        const std::function<std::uint32_t(int x, int y)>& pixel,
                        bool stored_rgb = false);

}  // namespace nitfgen
