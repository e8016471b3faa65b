// PPM and PGM output: a text header, then the samples as bytes, rows top first.
#include "pnm_writer.h"

#include "row_format.h"

namespace cli {
namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

}  // namespace

PnmWriter::~PnmWriter() {
  abandon();
}

void PnmWriter::abandon() {
  if (!file_) return;
  std::fclose(file_);
  file_ = nullptr;
  std::remove(path_.c_str());
}

bool PnmWriter::open(const std::string& path, std::uint32_t width, std::uint32_t height,
                     int bits_per_pixel, bool grey) {
  if (grey && bits_per_pixel != 8) {
    error_ = "grey rows of " + std::to_string(bits_per_pixel) + " bits per pixel";
    return false;
  }
  if (!writable_picture(width, height, bits_per_pixel, &error_)) return false;
  path_ = path;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) {
    error_ = "cannot create " + path;
    return false;
  }
  buffer_.resize(kBufferBytes);
  std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  if (std::fprintf(file_, "%s\n%u %u\n255\n", grey ? "P5" : "P6", width, height) < 0) {
    error_ = "cannot write " + path;
    abandon();
    return false;
  }
  width_ = width;
  height_ = height;
  bits_per_pixel_ = bits_per_pixel;
  grey_ = grey;
  if (!grey) rgb_.resize(static_cast<std::size_t>(width) * 3);
  return true;
}

bool PnmWriter::write_row(const std::uint8_t* row) {
  if (!file_ || failed_ || rows_ >= height_) return false;
  const std::uint8_t* out = row;
  std::size_t bytes = width_;
  if (!grey_) {
    row_to_rgb(row, width_, bits_per_pixel_, rgb_.data());
    out = rgb_.data();
    bytes = rgb_.size();
  }
  if (std::fwrite(out, 1, bytes, file_) != bytes) {
    error_ = "cannot write " + path_;
    failed_ = true;
    return false;
  }
  ++rows_;
  return true;
}

bool PnmWriter::finish() {
  if (!file_ || failed_ || rows_ != height_) {
    if (error_.empty()) error_ = "the picture is incomplete";
    abandon();
    return false;
  }
  const bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!ok) {
    error_ = "cannot write " + path_;
    std::remove(path_.c_str());
  }
  return ok;
}

}  // namespace cli
