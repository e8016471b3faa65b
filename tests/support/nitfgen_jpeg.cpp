// JPEG streams for generated files.
#include "nitfgen_jpeg.h"

#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace nitfgen {

std::string jpeg_stream(int w, int h, int components, int quality,
                        const std::function<std::uint32_t(int x, int y)>& pixel, bool stored_rgb) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);  // the generator's own inputs: errors end the tool
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  if (stored_rgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(w) * components);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint32_t v = pixel(x, y);
      if (components == 1) {
        row[x] = static_cast<unsigned char>(v);
      } else {
        row[3 * x] = static_cast<unsigned char>(v >> 16);
        row[3 * x + 1] = static_cast<unsigned char>(v >> 8);
        row[3 * x + 2] = static_cast<unsigned char>(v);
      }
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string stream(reinterpret_cast<char*>(out), size);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return stream;
}

}  // namespace nitfgen
