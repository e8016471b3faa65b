// ITU-T T.4 (Group 3 facsimile) decoding through libtiff's fax decoder.
//
// libtiff decodes fax data only as the strip of a TIFF image, so the raw stream is shown
// to it behind a small TIFF header written here: one 1-bit image of the described size,
// Compression CCITT Group 3, T4Options two-dimensional for format 67, one strip that is
// the whole stream. The header and the stream are read through a client stream that
// joins them without copying the data. libtiff's messages go to the debug sink; a code
// word that is not T.4, a row of the wrong length or a stream that ends before the last
// row gives RET_FILE_FORMAT. Rows are stored with a set bit for white: libtiff gives a
// set bit for black (PhotometricInterpretation MinIsWhite), and the bitmap's palette
// has black at 0.
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <tiffio.h>

#include "decoders.h"
#include "fileformat.h"
#include "kernel/memory.h"
#include "kernel/sinks.h"

namespace fileformat::detail {
namespace {

constexpr std::size_t kEntries = 10;
constexpr std::size_t kHeaderSize = 8 + 2 + kEntries * 12 + 4;

using TiffHeader = std::array<std::uint8_t, kHeaderSize>;

void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

constexpr std::uint16_t kShort = 3, kLong = 4;

// One directory entry: tag, type, value (a count of 1 each).
using Entry = std::array<std::uint32_t, 3>;

// The directory's entries, in ascending tag order as TIFF wants them.
std::array<Entry, kEntries> directory(const FltRawFormat& format, std::uint32_t byte_count) {
  const std::uint32_t width = static_cast<std::uint32_t>(format.width);
  const std::uint32_t height = static_cast<std::uint32_t>(format.height);
  const std::uint32_t t4_options =
      format.format == kFormatT4TwoDimensional ? GROUP3OPT_2DENCODING : 0;
  return {{
      {TIFFTAG_IMAGEWIDTH, kLong, width},
      {TIFFTAG_IMAGELENGTH, kLong, height},
      {TIFFTAG_BITSPERSAMPLE, kShort, 1},
      {TIFFTAG_COMPRESSION, kShort, COMPRESSION_CCITTFAX3},
      {TIFFTAG_PHOTOMETRIC, kShort, PHOTOMETRIC_MINISWHITE},
      {TIFFTAG_STRIPOFFSETS, kLong, static_cast<std::uint32_t>(kHeaderSize)},
      {TIFFTAG_SAMPLESPERPIXEL, kShort, 1},
      {TIFFTAG_ROWSPERSTRIP, kLong, height},
      {TIFFTAG_STRIPBYTECOUNTS, kLong, byte_count},
      {TIFFTAG_T4OPTIONS, kLong, t4_options},
  }};
}

void put_entry(std::uint8_t* at, const Entry& entry) {
  put16(at, entry[0]);
  put16(at + 2, entry[1]);
  put32(at + 4, 1);
  if (entry[1] == kShort)
    put16(at + 8, entry[2]);
  else
    put32(at + 8, entry[2]);
}

// A little-endian TIFF header with one directory.
TiffHeader tiff_header(const FltRawFormat& format, std::uint32_t byte_count) {
  const std::array<Entry, kEntries> entries = directory(format, byte_count);
  TiffHeader h{};
  std::memcpy(h.data(), "II*\0", 4);
  put32(h.data() + 4, 8);
  put16(h.data() + 8, kEntries);
  for (std::size_t i = 0; i < kEntries; ++i) put_entry(h.data() + 10 + 12 * i, entries[i]);
  return h;  // the next-directory offset stays 0
}

// The header followed by the stream, as one read-only file.
struct JoinedFile {
  const TiffHeader* header;
  ByteView stream;
  std::uint64_t position = 0;
  int faults = 0;
  std::uint64_t size() const { return kHeaderSize + stream.size; }
};

tmsize_t read_proc(thandle_t handle, void* buffer, tmsize_t count) {
  auto* f = static_cast<JoinedFile*>(handle);
  auto* out = static_cast<std::uint8_t*>(buffer);
  tmsize_t done = 0;
  while (done < count && f->position < f->size()) {
    const bool in_header = f->position < kHeaderSize;
    const std::uint8_t* from =
        in_header ? f->header->data() + f->position : f->stream.data + (f->position - kHeaderSize);
    const std::uint64_t piece_end = in_header ? kHeaderSize : f->size();
    const std::uint64_t n =
        std::min<std::uint64_t>(piece_end - f->position, std::uint64_t(count - done));
    std::memcpy(out + done, from, static_cast<std::size_t>(n));
    done += static_cast<tmsize_t>(n);
    f->position += n;
  }
  return done;
}

tmsize_t write_proc(thandle_t, void*, tmsize_t) {
  return 0;
}

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  auto* f = static_cast<JoinedFile*>(handle);
  const std::uint64_t base = whence == SEEK_CUR ? f->position : whence == SEEK_END ? f->size() : 0;
  std::uint64_t target = 0;
  if (kernel::add_overflows(base, offset, &target)) return static_cast<toff_t>(-1);
  f->position = target;
  return target;
}

int close_proc(thandle_t) {
  return 0;
}
toff_t size_proc(thandle_t handle) {
  return static_cast<JoinedFile*>(handle)->size();
}

// Every message counts as a fault. libtiff only warns about a row whose runs do not add
// up to the width, and carries on with a damaged picture; such a row means the stream is
// not what it was described as (one-dimensional for two, more rows than it holds), and
// correct streams decode without any message.
int on_message(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  ++static_cast<JoinedFile*>(user)->faults;
  char text[256];
  std::vsnprintf(text, sizeof text, fmt, ap);
  kernel::debug_output(
      (std::string("fileformat: libtiff: ") + (module ? module : "") + ": " + text + "\n").c_str());
  return 1;  // handled: libtiff's process-wide handlers stay silent
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
struct OptionsDeleter {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

std::unique_ptr<TIFF, TiffCloser> open_joined(JoinedFile* file) {
  std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), on_message, file);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), on_message, file);
  const std::uint64_t cap = std::min<std::uint64_t>(kernel::allocation_cap(), INT64_MAX);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(cap));
  return std::unique_ptr<TIFF, TiffCloser>(
      TIFFClientOpenExt("t4", "rm", file, read_proc, write_proc, seek_proc, close_proc, size_proc,
                        nullptr, nullptr, options.get()));
}

// Turns libtiff's black-is-set row into white-is-set, keeping the bits past the width 0.
void invert_row(std::uint8_t* row, std::uint32_t width) {
  const std::size_t bytes = (std::size_t{width} + 7) / 8;
  for (std::size_t i = 0; i < bytes; ++i) row[i] = static_cast<std::uint8_t>(~row[i]);
  if (width % 8) row[bytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - width % 8));
}

std::int32_t read_rows(TIFF* tif, JoinedFile* file, kernel::Bitmap* out) {
  for (std::int32_t y = 0; y < out->height; ++y) {
    std::uint8_t* row = kernel::storage_row(*out, y);
    if (TIFFReadScanline(tif, row, static_cast<std::uint32_t>(y), 0) != 1 || file->faults)
      return RET_FILE_FORMAT;
    invert_row(row, static_cast<std::uint32_t>(out->width));
  }
  return RET_SUCCESS;
}

}  // namespace

std::int32_t decode_t4(ByteView stream, const FltRawFormat& format, kernel::Bitmap* out) {
  if (stream.size > UINT32_MAX) return RET_NOT_SUPPORTED;  // a TIFF strip's byte count
  const std::uint32_t palette[2] = {kernel::palette_entry(0, 0, 0),
                                    kernel::palette_entry(255, 255, 255)};
  std::int32_t result =
      kernel::create_bitmap(out, kernel::kBitmapRecordSize, 1, format.width, format.height, 1,
                            kernel::kColourPalette, palette, kernel::kViewTopDown, nullptr, 0);
  if (result != RET_SUCCESS) return result;
  const TiffHeader header = tiff_header(format, static_cast<std::uint32_t>(stream.size));
  JoinedFile file{&header, stream};
  auto tif = open_joined(&file);
  result = tif ? read_rows(tif.get(), &file, out) : RET_FILE_FORMAT;
  if (result != RET_SUCCESS) kernel::free_bitmap(out);
  return result;
}

}  // namespace fileformat::detail
