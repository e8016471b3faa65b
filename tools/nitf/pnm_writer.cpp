// PPM and PGM output: a text header, then the samples as bytes, rows top first.
#include "pnm_writer.h"

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
  if ((grey && bits_per_pixel != 8) ||
      (bits_per_pixel != 8 && bits_per_pixel != 24 && bits_per_pixel != 32)) {
    error_ = "rows of " + std::to_string(bits_per_pixel) + " bits per pixel";
    return false;
  }
  if (width == 0 || height == 0 || width > 0x7FFFFFFF / 3) {
    error_ = "a picture of " + std::to_string(width) + " x " + std::to_string(height);
    return false;
  }
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
    std::uint8_t* rgb = rgb_.data();
    if (bits_per_pixel_ == 8) {
      for (std::uint32_t x = 0; x < width_; ++x)
        rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = row[x];
    } else {
      const std::size_t step = static_cast<std::size_t>(bits_per_pixel_ / 8);
      const std::uint8_t* p = row;
      for (std::uint32_t x = 0; x < width_; ++x, p += step) {
        rgb[3 * x] = p[2];
        rgb[3 * x + 1] = p[1];
        rgb[3 * x + 2] = p[0];
      }
    }
    out = rgb;
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
