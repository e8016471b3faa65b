// Writes the rows the module delivers as an 8-bit RGB PNG file, top row first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

class PngWriter {
 public:
  PngWriter() = default;
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
  ~PngWriter();

  // Opens `path` for a width x height picture whose rows come with `bits_per_pixel`
  // (8: grey, 24: blue, green, red, 32: blue, green, red, unused). False with a message
  // in error() when the file cannot be made.
  bool open(const std::string& path, std::uint32_t width, std::uint32_t height, int bits_per_pixel);
  // Appends the next row; false once writing failed.
  bool write_row(const std::uint8_t* row);
  // Completes the file; false (and the partial file removed) when anything failed or
  // fewer rows than the height were written.
  bool finish();
  const std::string& error() const { return error_; }

 private:
  void abandon();

  std::FILE* file_ = nullptr;
  void* png_ = nullptr;
  void* info_ = nullptr;
  std::string path_;
  std::string error_;
  std::uint32_t width_ = 0, height_ = 0, rows_ = 0;
  int bits_per_pixel_ = 0;
  bool failed_ = false;
  std::vector<std::uint8_t> rgb_;
};

}  // namespace cli
