// PNG output through libpng, with its error exit turned into a return value.
#include "png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

#include "row_format.h"

namespace cli {
namespace {

void on_error(png_structp png, png_const_charp message) {
  auto* error = static_cast<std::string*>(png_get_error_ptr(png));
  if (error) *error = message ? message : "libpng error";
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

}  // namespace

PngWriter::~PngWriter() {
  abandon();
}

void PngWriter::abandon() {
  if (png_) {
    auto* png = static_cast<png_structp>(png_);
    auto* info = static_cast<png_infop>(info_);
    png_destroy_write_struct(&png, &info);
    png_ = info_ = nullptr;
  }
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
    std::remove(path_.c_str());
  }
}

bool PngWriter::open(const std::string& path, std::uint32_t width, std::uint32_t height,
                     int bits_per_pixel) {
  if (!writable_picture(width, height, bits_per_pixel, &error_)) return false;
  path_ = path;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) {
    error_ = "cannot create " + path;
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error_, on_error, on_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  png_ = png;
  info_ = info;
  if (!png || !info) {
    error_ = "out of memory";
    abandon();
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    abandon();
    return false;
  }
  png_init_io(png, file_);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 3);
  png_write_info(png, info);
  width_ = width;
  height_ = height;
  bits_per_pixel_ = bits_per_pixel;
  rgb_.resize(static_cast<std::size_t>(width) * 3);
  return true;
}

bool PngWriter::write_row(const std::uint8_t* row) {
  if (!png_ || failed_ || rows_ >= height_) return false;
  std::uint8_t* out = rgb_.data();
  row_to_rgb(row, width_, bits_per_pixel_, out);
  auto* png = static_cast<png_structp>(png_);
  if (setjmp(png_jmpbuf(png))) {
    failed_ = true;
    return false;
  }
  png_write_row(png, out);
  ++rows_;
  return true;
}

bool PngWriter::finish() {
  if (!png_ || failed_ || rows_ != height_) {
    if (error_.empty()) error_ = "the picture is incomplete";
    abandon();
    return false;
  }
  auto* png = static_cast<png_structp>(png_);
  auto* info = static_cast<png_infop>(info_);
  if (setjmp(png_jmpbuf(png))) {
    abandon();
    return false;
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  png_ = info_ = nullptr;
  bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!ok) {
    error_ = "cannot write " + path_;
    std::remove(path_.c_str());
  }
  return ok;
}

}  // namespace cli
