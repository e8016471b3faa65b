// JPEG encoding of kernel bitmaps into global memory, through libjpeg-turbo.
//
// The bitmap is fed to the compressor a display row at a time, converted to the
// component order libjpeg wants (grey, or R, G, B), so no second full-size copy of the
// picture is made: memory is the picture plus its stream. libjpeg reports errors by
// calling error_exit, which here jumps back to the call and becomes a return code.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "fileformat/save.h"
#include "kernel/bitmap.h"
#include "kernel/memory.h"

namespace fileformat {
namespace {

// The largest side a JPEG frame header can carry.
constexpr std::int32_t kLargestSide = 65500;

struct ErrorJump {
  jpeg_error_mgr manager;
  std::jmp_buf back;
};

[[noreturn]] void jump_back(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->back, 1);
}

void silent(j_common_ptr, int) {}

// 0x00BBGGRR of palette entry i, grey when the bitmap has no palette.
std::uint32_t colour_at(const kernel::Bitmap& b, std::uint8_t i) {
  if (b.palette && i < static_cast<std::uint32_t>(b.palette_count))
    return kernel::colour_of_entry(b.palette[i]);
  return std::uint32_t{i} * 0x010101u;
}

std::uint8_t luminance(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  return static_cast<std::uint8_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

// Display row y as `components` (1 or 3) samples per pixel, R, G, B order for three.
void convert_row(const kernel::Bitmap& b, std::int32_t y, int components, JSAMPLE* out) {
  const std::uint8_t* row = kernel::storage_row(b, kernel::top_down_row(b, y));
  for (std::int32_t x = 0; x < b.width; ++x) {
    std::uint32_t red, green, blue;
    if (b.bits_per_pixel == 8) {
      const std::uint32_t c = colour_at(b, row[x]);
      red = c & 0xFF, green = (c >> 8) & 0xFF, blue = (c >> 16) & 0xFF;
    } else {
      const std::uint8_t* p = row + static_cast<std::size_t>(x) * (b.bits_per_pixel / 8);
      blue = p[0], green = p[1], red = p[2];
    }
    if (components == 1) {
      out[x] = luminance(red, green, blue);
    } else {
      out[3 * x] = static_cast<JSAMPLE>(red);
      out[3 * x + 1] = static_cast<JSAMPLE>(green);
      out[3 * x + 2] = static_cast<JSAMPLE>(blue);
    }
  }
}

bool nitf_profile(const void* options) {
  if (!options) return false;
  std::uint32_t word;
  std::memcpy(&word, static_cast<const std::uint8_t*>(options) + kSaveOptionsProfileWord,
              sizeof word);
  return (word & 1) != 0;
}

// The encoder state that must survive a longjmp: kept outside the jumping frame.
struct Encoder {
  jpeg_compress_struct info{};
  ErrorJump error{};
  unsigned char* stream = nullptr;
  unsigned long length = 0;
  std::vector<JSAMPLE> row;
  ~Encoder() {
    jpeg_destroy_compress(&info);
    std::free(stream);
  }
};

void configure(Encoder& e, const kernel::Bitmap& b, std::int32_t format, int components,
               std::int32_t quality, bool profile) {
  jpeg_compress_struct& c = e.info;
  c.image_width = static_cast<JDIMENSION>(b.width);
  c.image_height = static_cast<JDIMENSION>(b.height);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  // Format 182 keeps the components as R, G, B: no colour transform, an Adobe marker
  // with transform 0 says so.
  if (components == 3 && format == kSaveJpegRgb) jpeg_set_colorspace(&c, JCS_RGB);
  // NITF carries no JFIF marker: the image subheader describes the picture.
  if (profile) c.write_JFIF_header = FALSE;
  jpeg_set_quality(&c, jpeg_quality_of(quality), TRUE);
}

int check_arguments(const kernel::Bitmap* bitmap, std::int32_t format, std::int32_t bits,
                    std::int32_t quality) {
  if (!bitmap || !bitmap->data || !(bitmap->flags & kernel::kBitmapDataAllocated))
    return RET_INVALID_BITMAP;
  if (bitmap->bits_per_pixel != 8 && bitmap->bits_per_pixel != 24 && bitmap->bits_per_pixel != 32)
    return RET_INVALID_BITMAP;
  if (bits != 8 && bits != 24) return RET_INVALID_BITS_PER_PIXEL;
  if (quality < 2 || quality > 255) return RET_INVALID_QUALITY;
  if (format != kSaveJpegYcc && format != kSaveJpegRgb) return RET_FILE_FORMAT;
  if (bitmap->width < 1 || bitmap->height < 1 || bitmap->width > kLargestSide ||
      bitmap->height > kLargestSide)
    return RET_INVALID_PARAMETER;
  return RET_SUCCESS;
}

// Runs the compressor; false when libjpeg gave up (the jump lands here).
bool compress(Encoder& e, const kernel::Bitmap& b, std::int32_t format, int components,
              std::int32_t quality, bool profile) {
  if (setjmp(e.error.back)) return false;
  jpeg_create_compress(&e.info);
  jpeg_mem_dest(&e.info, &e.stream, &e.length);
  configure(e, b, format, components, quality, profile);
  jpeg_start_compress(&e.info, TRUE);
  JSAMPROW rows[1] = {e.row.data()};
  for (std::int32_t y = 0; y < b.height; ++y) {
    convert_row(b, y, components, e.row.data());
    jpeg_write_scanlines(&e.info, rows, 1);
  }
  jpeg_finish_compress(&e.info);
  return true;
}

}  // namespace

int jpeg_quality_of(std::int32_t quality) {
  if (quality <= 2) return 1;
  if (quality >= 255) return 100;
  return 1 + ((quality - 2) * 99 + 126) / 253;
}

int save_to_memory(kernel::GlobalMemory** handle, const kernel::Bitmap* bitmap, std::int32_t format,
                   std::int32_t bits_per_pixel, std::int32_t quality, std::uint32_t* size,
                   const void* options) {
  if (!handle || !size) return RET_INVALID_PARAMETER;
  *handle = nullptr;
  *size = 0;
  if (int r = check_arguments(bitmap, format, bits_per_pixel, quality); r != RET_SUCCESS) return r;
  const int components = bits_per_pixel == 8 ? 1 : 3;
  auto encoder = std::make_unique<Encoder>();
  encoder->info.err = jpeg_std_error(&encoder->error.manager);
  encoder->error.manager.error_exit = jump_back;
  encoder->error.manager.emit_message = silent;
  encoder->row.resize(static_cast<std::size_t>(bitmap->width) * components);
  if (!compress(*encoder, *bitmap, format, components, quality, nitf_profile(options)))
    return RET_NO_MEMORY;  // libjpeg stops only when it cannot allocate or write
  if (encoder->length > 0xFFFFFFFFul) return RET_NO_MEMORY;
  kernel::GlobalMemory* out = kernel::global_alloc(encoder->length);
  if (!out) return RET_NO_MEMORY;
  std::memcpy(kernel::global_lock(out), encoder->stream, encoder->length);
  kernel::global_unlock(out);
  *handle = out;
  *size = static_cast<std::uint32_t>(encoder->length);
  return RET_SUCCESS;
}

}  // namespace fileformat
