// Writes the rows the module delivers as a binary PPM (P6, 8-bit RGB) or PGM (P5, 8-bit
// grey) file, top row first: no compression, so that writing costs little beside the
// composition itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

class PnmWriter {
 public:
  PnmWriter() = default;
  PnmWriter(const PnmWriter&) = delete;
  PnmWriter& operator=(const PnmWriter&) = delete;
  ~PnmWriter();

  // Opens `path` for a width x height picture whose rows come with `bits_per_pixel`
  // (8: grey, 24: blue, green, red, 32: blue, green, red, unused). `grey` writes P5 and
  // takes 8-bit rows only; otherwise P6, grey rows repeated into the three channels.
  // False with a message in error() when the file cannot be made.
  bool open(const std::string& path, std::uint32_t width, std::uint32_t height, int bits_per_pixel,
            bool grey);
  // Appends the next row; false once writing failed.
  bool write_row(const std::uint8_t* row);
  // Completes the file; false (and the partial file removed) when anything failed or
  // fewer rows than the height were written.
  bool finish();
  const std::string& error() const { return error_; }

 private:
  void abandon();

  std::FILE* file_ = nullptr;
  std::string path_;
  std::string error_;
  std::uint32_t width_ = 0, height_ = 0, rows_ = 0;
  int bits_per_pixel_ = 0;
  bool grey_ = false;
  bool failed_ = false;
  std::vector<std::uint8_t> rgb_;
  std::vector<char> buffer_;  // stdio's buffer: rows go out in large writes
};

}  // namespace cli
