// Writes the benchmark files into DIR: `nitf-make-bench DIR`. Files already there are
// kept, so a second run costs nothing. The pictures are neither flat nor noise.
//   nc_8192_mono.ntf        8192 x 8192 8-bit MONO, NC, one block
//   nc_8192_rgb_b512.ntf    8192 x 8192 RGB, NC, IMODE B, 512 x 512 blocks
//   nc_8192_rgb_p512.ntf    8192 x 8192 RGB, NC, IMODE P, 512 x 512 blocks
//   c3_8192_rgb_512.ntf     8192 x 8192 RGB, C3 (libjpeg-turbo, quality 75), 512 x 512 blocks
//   c8_4096_rgb.ntf         4096 x 4096 RGB, C8 (opj_compress, 9/7 wavelet at 10:1), one block
//   nc_4096_mono16.ntf      4096 x 4096 MONO, NBPP 16, ABPP 11, NC, one block
// and with --large the files of the region and tile figures:
//   c3_16384_rgb_512.ntf    16384 x 16384 RGB, C3 (quality 75), 512 x 512 blocks
//   c8_16384_rgb.ntf        16384 x 16384 RGB, C8 (opj_compress, 6 resolution levels, 10:1)
//   nc_16384_mono16.ntf     16384 x 16384 MONO, NBPP 16, NC, 1024 x 1024 blocks
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "nitfgen.h"
#include "nitfgen_image.h"
#include "nitfgen_jpeg.h"

namespace {

std::uint32_t colour_at(int x, int y) {
  const auto r = static_cast<std::uint32_t>((x ^ y) & 0xFF);
  const auto g = static_cast<std::uint32_t>((x / 32 + y / 32) * 8 & 0xFF);
  const auto b = static_cast<std::uint32_t>((x * y / 4096) & 0xFF);
  return r << 16 | g << 8 | b;
}

std::uint8_t grey_at(int x, int y) {
  return static_cast<std::uint8_t>(((x ^ y) & 0x3F) + (x + y) / 128 % 192);
}

// Strings are copied from strings: GCC 12 warns falsely (-Wrestrict) on some assignments
// of literals once inlined.
nitfgen::ImageShape image(int size, int block, const std::string& irep,
                          const std::string& ic = std::string("NC"),
                          const std::string& comrat = std::string("    "),
                          const std::string& imode = std::string("B")) {
  nitfgen::ImageShape layout;
  layout.nrows = layout.ncols = size;
  layout.irep = irep;
  layout.ic = ic;
  layout.comrat = comrat;
  layout.imode = imode;
  if (irep == "RGB")
    layout.bands = {nitfgen::BandSpec{"R"}, nitfgen::BandSpec{"G"}, nitfgen::BandSpec{"B"}};
  // NPPBH and NPPBV have four digits: a single block beyond them is written as 0.
  layout.nppbh = layout.nppbv = block > 8192 && block == size ? 0 : block;
  layout.nbpr = layout.nbpc = size / block;
  return layout;
}

std::string file_of(const nitfgen::ImageShape& layout, const std::string& data) {
  nitfgen::FileSpec file;
  file.images.push_back(nitfgen::image_segment(layout, data));
  return nitfgen::build(file);
}

std::string mono_nc(int size) {
  std::string data(static_cast<std::size_t>(size) * size, '\0');
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) data[std::size_t(y) * size + x] = char(grey_at(x, y));
  return file_of(image(size, size, "MONO"), data);
}

// IMODE B: each block holds its red plane, then green, then blue; IMODE P its pixels.
std::string rgb_nc(int size, int block, const std::string& imode) {
  nitfgen::ImageShape layout = image(size, block, "RGB", "NC", "    ", imode);
  std::string data;
  data.reserve(std::size_t(size) * size * 3);
  const int per_row = size / block;
  for (int by = 0; by < per_row; ++by) {
    for (int bx = 0; bx < per_row; ++bx) {
      for (int plane = 0; plane < (imode == "B" ? 3 : 1); ++plane) {
        for (int y = 0; y < block; ++y) {
          for (int x = 0; x < block; ++x) {
            const std::uint32_t c = colour_at(bx * block + x, by * block + y);
            if (imode == "B") {
              data += char(c >> (16 - 8 * plane));
            } else {
              data += char(c >> 16);
              data += char(c >> 8);
              data += char(c);
            }
          }
        }
      }
    }
  }
  return file_of(layout, data);
}

std::string rgb_c3(int size, int block) {
  const nitfgen::ImageShape layout = image(size, block, "RGB", "C3", "00.0", "P");
  std::string data;
  for (int by = 0; by < size / block; ++by)
    for (int bx = 0; bx < size / block; ++bx)
      data += nitfgen::jpeg_stream(block, block, 3, 75, [&](int x, int y) {
        return colour_at(bx * block + x, by * block + y);
      });
  return file_of(layout, data);
}

// The codestream comes from OpenJPEG's own encoder, run on a PPM of the picture.
std::string rgb_c8(const std::string& dir, int size, const std::string& options = "") {
  const std::string ppm = dir + "/c8_source.ppm", j2k = dir + "/c8_source.j2k";
  std::string pixels = "P6\n" + std::to_string(size) + " " + std::to_string(size) + "\n255\n";
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const std::uint32_t c = colour_at(x, y);
      pixels += char(c >> 16);
      pixels += char(c >> 8);
      pixels += char(c);
    }
  }
  if (!nitfgen::write_file(ppm, pixels)) return {};
  const std::string command =
      "opj_compress -I -r 10 " + options + " -i " + ppm + " -o " + j2k + " >/dev/null";
  const bool encoded = std::system(command.c_str()) == 0;
  std::string stream = encoded ? nitfgen::read_file(j2k) : std::string();
  std::filesystem::remove(ppm);
  std::filesystem::remove(j2k);
  if (stream.empty()) return {};
  const nitfgen::ImageShape layout = image(size, size, "RGB", "C8", "N010");
  return file_of(layout, stream);
}

std::string mono16_nc(int size) {
  nitfgen::ImageShape layout = image(size, size, "MONO");
  layout.nbpp = 16;
  layout.abpp = 11;
  std::string data;
  data.reserve(std::size_t(size) * size * 2);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const auto v = static_cast<std::uint32_t>((x * 2 + y) % 2048 ^ (x & 0x3F));
      data += char(v >> 8);
      data += char(v);
    }
  }
  return file_of(layout, data);
}

// Blocks of `block` x `block` 16-bit samples, one block after another.
std::string mono16_blocks(int size, int block) {
  nitfgen::ImageShape layout = image(size, block, "MONO");
  layout.nbpp = 16;
  layout.abpp = 16;
  std::string data;
  data.reserve(std::size_t(size) * size * 2);
  for (int by = 0; by < size / block; ++by)
    for (int bx = 0; bx < size / block; ++bx)
      for (int y = by * block; y < (by + 1) * block; ++y)
        for (int x = bx * block; x < (bx + 1) * block; ++x) {
          const auto v = static_cast<std::uint32_t>(grey_at(x, y)) * 257 ^ (x & 0x3F);
          data += char(v >> 8);
          data += char(v);
        }
  return file_of(layout, data);
}

bool make(const std::string& dir, const std::string& name,
          std::string (*build)(const std::string&)) {
  const std::string path = dir + "/" + name;
  if (std::filesystem::exists(path)) return true;
  const std::string bytes = build(dir);
  if (bytes.empty() || !nitfgen::write_file(path, bytes)) {
    std::fprintf(stderr, "nitf-make-bench: cannot make %s\n", path.c_str());
    return false;
  }
  std::printf("%s\n", path.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 3 && std::string(argv[2]) == "--large")) {
    std::fprintf(stderr, "usage: nitf-make-bench DIR [--large]\n");
    return 2;
  }
  const std::string dir = argv[1];
  if (argc == 3) {
    bool ok =
        make(dir, "c3_16384_rgb_512.ntf", [](const std::string&) { return rgb_c3(16384, 512); });
    ok &= make(dir, "nc_16384_mono16.ntf",
               [](const std::string&) { return mono16_blocks(16384, 1024); });
    ok &= make(dir, "c8_16384_rgb.ntf",
               [](const std::string& d) { return rgb_c8(d, 16384, "-n 6 -t 2048,2048"); });
    return ok ? 0 : 1;
  }
  bool ok = make(dir, "nc_8192_mono.ntf", [](const std::string&) { return mono_nc(8192); });
  ok &=
      make(dir, "nc_8192_rgb_b512.ntf", [](const std::string&) { return rgb_nc(8192, 512, "B"); });
  ok &=
      make(dir, "nc_8192_rgb_p512.ntf", [](const std::string&) { return rgb_nc(8192, 512, "P"); });
  ok &= make(dir, "c3_8192_rgb_512.ntf", [](const std::string&) { return rgb_c3(8192, 512); });
  ok &= make(dir, "c8_4096_rgb.ntf", [](const std::string& d) { return rgb_c8(d, 4096); });
  ok &= make(dir, "nc_4096_mono16.ntf", [](const std::string&) { return mono16_nc(4096); });
  return ok ? 0 : 1;
}
