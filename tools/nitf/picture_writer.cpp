// Picture files through libpng, libtiff and libjpeg-turbo, each library's error exit
// turned into a return value, and the grey-or-colour choice in front of them.
#include "picture_writer.h"

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>

#include "row_format.h"

namespace cli {
namespace {

class PngEncoder : public Encoder {
 public:
  ~PngEncoder() override {
    if (png_) png_destroy_write_struct(&png_, &info_);
  }
  bool begin(std::FILE* out, std::uint32_t width, std::uint32_t height, int channels) override {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error_, on_error, on_warning);
    info_ = png_ ? png_create_info_struct(png_) : nullptr;
    if (!png_ || !info_) return (error_ = "out of memory", false);
    if (setjmp(png_jmpbuf(png_))) return false;
    png_init_io(png_, out);
    png_set_IHDR(png_, info_, width, height, 8,
                 channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // One filter (Paeth, the best on photographs) and run-length matches at level 1:
    // half the time of libpng's default filter search with zlib level 3, for files about
    // 5 % larger; a pyramid of tiles spends most of its time here.
    png_set_filter(png_, 0, PNG_FILTER_PAETH);
    png_set_compression_strategy(png_, Z_RLE);
    png_set_compression_level(png_, 1);
    png_write_info(png_, info_);
    return true;
  }
  bool row(const std::uint8_t* samples) override {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_row(png_, samples);
    return true;
  }
  bool end() override {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_end(png_, info_);
    return true;
  }

 private:
  static void on_error(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    if (error) *error = message ? message : "libpng error";
    png_longjmp(png, 1);
  }
  static void on_warning(png_structp, png_const_charp) {}

  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

class TiffEncoder : public Encoder {
 public:
  ~TiffEncoder() override {
    if (tiff_) TIFFClose(tiff_);
  }
  bool begin(std::FILE* out, std::uint32_t width, std::uint32_t height, int channels) override {
    std::fflush(out);
    tiff_ = TIFFFdOpen(fileno(out), "picture", "w");
    if (!tiff_) return (error_ = "libtiff cannot write there", false);
    TIFFSetField(tiff_, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff_, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff_, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff_, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(tiff_, TIFFTAG_PHOTOMETRIC,
                 channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(tiff_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff_, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff_, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff_, 0));
    return true;
  }
  bool row(const std::uint8_t* samples) override {
    if (TIFFWriteScanline(tiff_, const_cast<std::uint8_t*>(samples), next_++, 0) < 0)
      return (error_ = "libtiff cannot write a row", false);
    return true;
  }
  bool end() override {
    const bool ok = TIFFFlush(tiff_) == 1;
    TIFFCleanup(tiff_);  // the caller closes the file
    tiff_ = nullptr;
    return ok || (error_ = "libtiff cannot complete the file", false);
  }

 private:
  TIFF* tiff_ = nullptr;
  std::uint32_t next_ = 0;
};

class JpegEncoder : public Encoder {
 public:
  JpegEncoder() {
    c_.err = jpeg_std_error(&errors_.pub);
    errors_.pub.error_exit = on_error;
    errors_.message = &error_;
  }
  ~JpegEncoder() override {
    if (started_) jpeg_destroy_compress(&c_);
  }
  bool begin(std::FILE* out, std::uint32_t width, std::uint32_t height, int channels) override {
    if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
      return (error_ = "a JPEG holds at most 65500 pixels a side", false);
    if (setjmp(errors_.jump)) return false;
    jpeg_create_compress(&c_);
    started_ = true;
    jpeg_stdio_dest(&c_, out);
    c_.image_width = width;
    c_.image_height = height;
    c_.input_components = channels;
    c_.in_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c_);
    jpeg_set_quality(&c_, 90, TRUE);
    jpeg_start_compress(&c_, TRUE);
    return true;
  }
  bool row(const std::uint8_t* samples) override {
    if (setjmp(errors_.jump)) return false;
    JSAMPROW rows[1] = {const_cast<JSAMPROW>(samples)};
    jpeg_write_scanlines(&c_, rows, 1);
    return true;
  }
  bool end() override {
    if (setjmp(errors_.jump)) return false;
    jpeg_finish_compress(&c_);
    return true;
  }

 private:
  struct Errors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    std::string* message;
  };
  static void on_error(j_common_ptr c) {
    auto* e = reinterpret_cast<Errors*>(c->err);
    char text[JMSG_LENGTH_MAX];
    c->err->format_message(c, text);
    *e->message = text;
    std::longjmp(e->jump, 1);
  }

  jpeg_compress_struct c_{};
  Errors errors_{};
  bool started_ = false;
};

bool is_grey(const std::uint8_t* rgb, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x, rgb += 3)
    if (rgb[0] != rgb[1] || rgb[1] != rgb[2]) return false;
  return true;
}

}  // namespace

std::unique_ptr<Encoder> make_png_encoder() {
  return std::make_unique<PngEncoder>();
}
std::unique_ptr<Encoder> make_tiff_encoder() {
  return std::make_unique<TiffEncoder>();
}
std::unique_ptr<Encoder> make_jpeg_encoder() {
  return std::make_unique<JpegEncoder>();
}

PictureWriter::~PictureWriter() {
  abandon();
}

void PictureWriter::abandon() {
  encoder_.reset();
  if (file_ && file_ != stdout) {
    std::fclose(file_);
    std::remove(path_.c_str());
  }
  file_ = nullptr;
}

bool PictureWriter::fail(const std::string& why) {
  failed_ = true;
  if (error_.empty()) error_ = why.empty() ? "cannot write the picture" : why;
  return false;
}

bool PictureWriter::open(const std::string& path, PictureFormat format, std::uint32_t width,
                         std::uint32_t height, int bits_per_pixel) {
  if (!writable_picture(width, height, bits_per_pixel, &error_)) return false;
  path_ = path;
  file_ = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  if (!file_) return fail("cannot create " + path);
  encoder_ = format == PictureFormat::kTiff   ? make_tiff_encoder()
             : format == PictureFormat::kJpeg ? make_jpeg_encoder()
                                              : make_png_encoder();
  width_ = width;
  height_ = height;
  bits_per_pixel_ = bits_per_pixel;
  rgb_.resize(static_cast<std::size_t>(width) * 3);
  return true;
}

// The first coloured row: a colour picture begins with the grey rows kept so far.
bool PictureWriter::start_colour() {
  colour_ = true;
  if (!encoder_->begin(file_, width_, height_, 3)) return fail(encoder_->error());
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width_) * 3);
  for (std::uint32_t y = 0; y < rows_; ++y) {
    row_to_rgb(grey_.data() + static_cast<std::size_t>(y) * width_, width_, 8, rgb.data());
    if (!encoder_->row(rgb.data())) return fail(encoder_->error());
  }
  grey_ = std::vector<std::uint8_t>();
  return true;
}

bool PictureWriter::write_row(const std::uint8_t* row) {
  if (!encoder_ || failed_ || rows_ >= height_) return false;
  row_to_rgb(row, width_, bits_per_pixel_, rgb_.data());
  if (!colour_ && !is_grey(rgb_.data(), width_) && !start_colour()) return false;
  if (colour_) {
    if (!encoder_->row(rgb_.data())) return fail(encoder_->error());
  } else {
    for (std::uint32_t x = 0; x < width_; ++x) grey_.push_back(rgb_[3 * x]);
  }
  ++rows_;
  return true;
}

bool PictureWriter::finish() {
  if (!encoder_ || failed_ || rows_ != height_) {
    fail("the picture is incomplete");
    abandon();
    return false;
  }
  bool ok = true;
  if (!colour_) {
    ok = encoder_->begin(file_, width_, height_, 1);
    for (std::uint32_t y = 0; ok && y < height_; ++y)
      ok = encoder_->row(grey_.data() + static_cast<std::size_t>(y) * width_);
  }
  ok = ok && encoder_->end();
  if (!ok) fail(encoder_->error());
  encoder_.reset();
  ok = std::fflush(file_) == 0 && ok;
  if (file_ != stdout) ok = std::fclose(file_) == 0 && ok;
  if (!ok) {
    if (file_ != stdout) std::remove(path_.c_str());
    file_ = nullptr;
    return fail("cannot write " + path_);
  }
  file_ = nullptr;
  return true;
}

}  // namespace cli
