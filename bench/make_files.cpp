// Writes the benchmark files: `nitf-make-bench DIR`. A blocked JPEG (C3) image of
// 8192 x 8192 RGB pixels in 512 x 512 blocks at quality 75, each block's stream made by
// libjpeg-turbo, with a picture that is neither flat nor noise.
#include <cstdio>
#include <string>

#include "nitfgen.h"
#include "nitfgen_image.h"
#include "nitfgen_jpeg.h"

namespace {

std::string blocked_c3(int size, int block) {
  nitfgen::ImageSpec layout;
  layout.nrows = layout.ncols = size;
  layout.irep = "RGB";
  layout.bands = {nitfgen::BandSpec{"R"}, nitfgen::BandSpec{"G"}, nitfgen::BandSpec{"B"}};
  layout.imode = "P";
  layout.ic = "C3";
  layout.comrat = "00.0";
  layout.nppbh = layout.nppbv = block;
  layout.nbpr = layout.nbpc = size / block;
  std::string data;
  for (int by = 0; by < size / block; ++by) {
    for (int bx = 0; bx < size / block; ++bx) {
      data += nitfgen::jpeg_stream(block, block, 3, 75, [&](int x, int y) {
        int gx = bx * block + x, gy = by * block + y;
        unsigned r = static_cast<unsigned>((gx ^ gy) & 0xFF);
        unsigned g = static_cast<unsigned>((gx / 32 + gy / 32) * 8 & 0xFF);
        unsigned b = static_cast<unsigned>((gx * gy / 4096) & 0xFF);
        return r << 16 | g << 8 | b;
      });
    }
  }
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(layout, data));
  return nitfgen::build(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: nitf-make-bench DIR\n");
    return 2;
  }
  std::string path = std::string(argv[1]) + "/c3_8192_rgb_512.ntf";
  if (!nitfgen::write_file(path, blocked_c3(8192, 512))) {
    std::fprintf(stderr, "nitf-make-bench: cannot write %s\n", path.c_str());
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}
