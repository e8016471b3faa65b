// The reference limit of a blocked JPEG file: its streams found by their markers (SOI,
// the marker segments by their lengths, then the entropy-coded data up to EOI) and
//   nitf-jpeg-blocks FILE DIR   written to DIR/block_NNNN.jpg, for djpeg; or
//   nitf-jpeg-blocks FILE       decoded by libjpeg-turbo in this one process, to blue,
//                               green, red rows as the module asks for them, timed.
// It reads the file on its own, not through the module.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "nitfgen.h"

namespace {

struct Stream {
  std::size_t start, length;
};

// The end of the stream starting at `at` (an SOI), or 0 when it has none.
std::size_t stream_end(const std::string& b, std::size_t at) {
  std::size_t p = at + 2;
  while (p + 4 <= b.size()) {
    if (static_cast<unsigned char>(b[p]) != 0xFF) return 0;
    const auto marker = static_cast<unsigned char>(b[p + 1]);
    const std::size_t length = std::size_t(static_cast<unsigned char>(b[p + 2])) << 8 |
                               static_cast<unsigned char>(b[p + 3]);
    p += 2 + length;
    if (marker != 0xDA) continue;
    for (; p + 1 < b.size(); ++p)  // entropy-coded data: only EOI ends it here
      if (static_cast<unsigned char>(b[p]) == 0xFF && static_cast<unsigned char>(b[p + 1]) == 0xD9)
        return p + 2;
    return 0;
  }
  return 0;
}

std::vector<Stream> find_streams(const std::string& b) {
  std::vector<Stream> out;
  for (std::size_t p = 0; p + 3 < b.size(); ++p) {
    if (static_cast<unsigned char>(b[p]) != 0xFF || static_cast<unsigned char>(b[p + 1]) != 0xD8 ||
        static_cast<unsigned char>(b[p + 2]) != 0xFF)
      continue;
    const std::size_t end = stream_end(b, p);
    if (end == 0) continue;
    out.push_back({p, end - p});
    p = end - 1;
  }
  return out;
}

bool decode(const std::string& b, const Stream& s, std::vector<unsigned char>* row) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(b.data() + s.start),
               static_cast<unsigned long>(s.length));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  row->resize(std::size_t{cinfo.output_width} * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW line = row->data();
    jpeg_read_scanlines(&cinfo, &line, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: nitf-jpeg-blocks FILE [DIR]\n");
    return 2;
  }
  const std::string bytes = nitfgen::read_file(argv[1]);
  const std::vector<Stream> streams = find_streams(bytes);
  if (streams.empty()) {
    std::fprintf(stderr, "nitf-jpeg-blocks: %s: no JPEG stream\n", argv[1]);
    return 1;
  }
  if (argc == 3) {
    for (std::size_t i = 0; i < streams.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/block_%04zu.jpg", i);
      if (!nitfgen::write_file(argv[2] + std::string(name),
                               bytes.substr(streams[i].start, streams[i].length)))
        return 1;
    }
    std::printf("%zu\n", streams.size());
    return 0;
  }
  std::vector<unsigned char> row;
  const auto start = std::chrono::steady_clock::now();
  for (const Stream& s : streams) decode(bytes, s, &row);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", seconds);
  return 0;
}
