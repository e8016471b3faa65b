// Writes the rows the module delivers as a picture file: PNG (libpng), TIFF (libtiff) or
// JPEG (libjpeg-turbo), or a PNG on standard output.
//
// A picture is written in grey when every pixel is grey: rows are kept at one byte per
// pixel while they are, and the first coloured pixel starts a colour picture with the
// rows kept so far, so a grey picture costs a third of its canvas and a colour one
// nothing more.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace cli {

enum class PictureFormat { kPng, kTiff, kJpeg };

// Turns grey or red, green, blue rows into one file format.
class Encoder {
 public:
  virtual ~Encoder() = default;
  // `channels` 1 (grey) or 3 (red, green, blue).
  virtual bool begin(std::FILE* out, std::uint32_t width, std::uint32_t height, int channels) = 0;
  virtual bool row(const std::uint8_t* samples) = 0;
  virtual bool end() = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

std::unique_ptr<Encoder> make_png_encoder();
std::unique_ptr<Encoder> make_tiff_encoder();
std::unique_ptr<Encoder> make_jpeg_encoder();

class PictureWriter {
 public:
  PictureWriter() = default;
  PictureWriter(const PictureWriter&) = delete;
  PictureWriter& operator=(const PictureWriter&) = delete;
  ~PictureWriter();

  // Opens `path` ("-": standard output) for a width x height picture whose rows come
  // with `bits_per_pixel` (8 grey, 24 blue, green, red, 32 blue, green, red, unused).
  bool open(const std::string& path, PictureFormat format, std::uint32_t width,
            std::uint32_t height, int bits_per_pixel);
  bool write_row(const std::uint8_t* row);
  // Completes the file; false (and a partial file removed) when anything failed.
  bool finish();
  const std::string& error() const { return error_; }

 private:
  bool start_colour();
  bool fail(const std::string& why);
  void abandon();

  std::unique_ptr<Encoder> encoder_;
  std::FILE* file_ = nullptr;
  std::string path_, error_;
  std::uint32_t width_ = 0, height_ = 0, rows_ = 0;
  int bits_per_pixel_ = 0;
  bool colour_ = false, failed_ = false;
  std::vector<std::uint8_t> grey_;  // the rows while the picture is grey
  std::vector<std::uint8_t> rgb_;
};

}  // namespace cli
