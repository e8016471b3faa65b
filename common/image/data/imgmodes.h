// The image data reader: one image segment's data into a kernel bitmap.
//
// read_image is the entry the drawing of an image segment calls. It picks the reader for
// the segment's compression code from one table (imgmodes.cpp); uncompressed data (NC,
// NM) are read here, in every layout MIL-STD-2500C allows for them: blocked or not, band
// interleaved by block, pixel, row or band sequential, bi-level, 8 to 64 bits, with block
// and pad pixel masks. A reader for compressed data gets the same context and makes the
// output bitmap with create_output_bitmap once it has checked what it must check before
// allocating anything.
#pragma once

#include <cstdint>

#include "image/imsubhdr.h"
#include "kernel.h"

struct FltLoadRequest;
struct NitfDocument;

namespace nitf {

// A canvas the output may be laid onto (create_output_bitmap), and whether it holds
// only zeros. The composition offers its own canvas for an image that covers all of it
// at its own size; it frees the canvas when a drawing fails, so a half-read picture is
// never seen.
struct CanvasOutput {
  kernel::Bitmap* canvas;
  bool blank;
};

// Blocks instead of a picture, for the raw sample reader: a reader given a target decodes
// only the blocks `wants` accepts and hands each decoded block to `take` (`band` is
// kEveryBand for a block holding every band, else the one band of an IMODE S stream),
// and makes no output bitmap. The JPEG family reader takes one; the others' whole
// picture counts as block 0.
struct BlockTarget {
  static constexpr std::uint32_t kEveryBand = 0xFFFFFFFFu;
  void* self;
  bool (*wants)(void* self, std::uint64_t k, std::uint32_t band);
  int (*take)(void* self, std::uint64_t k, std::uint32_t band, const kernel::Bitmap& block);
};

// A part of the image at a reduction, for a composition that shows only part of it or
// shows it smaller: pixel (r, c) of the output is the one the whole picture shows at
// (first_row + phase + r x reduction, first_column + phase + c x reduction), and the
// output holds every such pixel inside the part (phase below rows and columns; the
// composition takes the middle of each cell, as its painting of a scaled picture does).
// JPEG 2000 data are instead decoded at the codestream's level for the reduction (at
// most its coarsest), the part's area only. A reader that honours the window says so
// through `honoured`; the others read the whole picture.
struct ImageWindow {
  std::uint32_t first_row = 0, first_column = 0, rows = 0, columns = 0, reduction = 1, phase = 0;
  bool* honoured = nullptr;
};

// What a reader is given. data_length is LI of the segment.
struct ImageReadContext {
  ::NitfDocument* document;
  std::uint32_t index;
  const NitfImageSubheader* subheader;
  std::uint64_t data_length;
  kernel::Bitmap* out;
  const FltLoadRequest* load;           // may be null; compressed readers pass it to the decoder
  const CanvasOutput* onto = nullptr;   // may be null
  const BlockTarget* target = nullptr;  // may be null
  const ImageWindow* window = nullptr;  // may be null
};

// Whether the reader is writing the window only (create_output_bitmap made its output).
bool windowed(const ImageReadContext& context);

// Copies the pixels of the window that lie on `row`, image row `y`, which covers image
// columns [left, left + width) with pixels of `bytes` bytes, each standing for `scale`
// columns (a picture decoded at 1 / scale), into the output.
void put_window_row(const ImageReadContext& context, std::uint64_t y, std::uint64_t left,
                    std::uint32_t width, std::uint32_t bytes, const std::uint8_t* row,
                    std::uint32_t scale = 1);

// Whether image row `y` is one the window samples.
bool window_samples_row(const ImageWindow& window, std::uint64_t y);

// Whether the window samples any pixel of the rectangle at (left, top), width x height.
bool window_meets(const ImageWindow& window, std::uint64_t left, std::uint64_t top,
                  std::uint64_t width, std::uint64_t height);

// For a reader that decodes one block at a time into a bitmap of its own (top-down):
// whether the target or the window wants block k of grid `grid`, and the decoded block
// handed to the target or its rows put into the window's output.
namespace imgdata {
struct BlockGrid;
}
bool block_wanted(const ImageReadContext& context, const imgdata::BlockGrid& grid, std::uint64_t k);
int hand_block(const ImageReadContext& context, const imgdata::BlockGrid& grid, std::uint64_t k,
               const kernel::Bitmap& block);

// A top-down bitmap of one block for such a reader: `bits` 8, 12 or 16, zeroed.
int create_block_bitmap(const imgdata::BlockGrid& grid, int bits, kernel::Bitmap* block);

// Owns a bitmap record's data and palette.
struct OwnedBitmap {
  kernel::Bitmap bitmap;
  OwnedBitmap() = default;
  OwnedBitmap(const OwnedBitmap&) = delete;
  OwnedBitmap& operator=(const OwnedBitmap&) = delete;
  ~OwnedBitmap() { kernel::free_bitmap(&bitmap); }
};

using ImageReader = int (*)(const ImageReadContext& context);

// The reader of a compression code, or null when no reader handles the code.
ImageReader image_reader(CompressionCode code);

// Reads image `index` of the document into `out`, which must be an empty bitmap record.
// On success `out` holds the whole block grid, pad pixels included: NPPBH x NBPR by
// NPPBV x NBPC (an NPPBH or NPPBV of 0 with a single block per row or column stands
// for NCOLS or NROWS). On failure `out` is left empty (data and palette freed).
// Results: RET_SUCCESS; RET_INVALID_PARAMETER without document or bitmap; RET_BAD_ARGUMENT
// for an index not below the image count; RET_NOT_SUPPORTED for a compression code or a
// pixel layout no reader handles; RET_FAILURE for an IMODE code above 3; RET_FILE_FORMAT
// for a block geometry or mask the data cannot hold; RET_FILE_READ when the file holds
// less than LI promises; RET_NO_MEMORY; or a kernel failure. With `onto`, the output
// may be a view of that canvas's pixels instead (see create_output_bitmap).
// With `window`, a reader that can reads only the window (see ImageWindow).
int read_image(::NitfDocument* document, std::uint32_t index, kernel::Bitmap* out,
               const FltLoadRequest* load, const CanvasOutput* onto = nullptr,
               const ImageWindow* window = nullptr);

// What read_image of an uncompressed image (NC, NM) would find wrong before it
// allocates: its bands, sample layout, block geometry and mask against LI and the bytes
// the file holds; RET_SUCCESS for the other codes, whose readers check their streams.
// The composition asks before it makes its canvas, so that a small file claiming a huge
// image fails before gigabytes of canvas are filled.
int check_image_data(::NitfDocument* document, std::uint32_t index);

// The output bitmap of an image: its size (as read_image describes), depth, colour order
// and palette. One or two bands give NBPP bits per pixel (32 and 64 bits become 8); three
// or more give 3 x NBPP. 1 bit and 8 bits are palette images, other depths grey for MONO
// with one or two bands and colour otherwise. The image's colour table, when it has one,
// becomes the palette of a bitmap of up to 16 bits; otherwise a palette image gets a grey
// ramp. RET_NOT_SUPPORTED for a depth the kernel has no layout for, RET_FILE_FORMAT for a
// negative block geometry, RET_NO_MEMORY for a size beyond 2^31 - 1 or the memory cap.
// When the context offers a canvas of the output's size onto which the painting would
// copy the output's pixels unchanged (display::copies_natively), the output is instead a
// view of the canvas's rows (same geometry and palette, the canvas's data, row order and
// row length, the data not owned), zeroed unless the canvas is blank: the reader then
// writes the picture where the painting would put it. Readers address its rows through
// kernel::top_down_row. A reader that passes `levels` also takes, for a grey output of
// 12 or 16 bits that the painting would turn into canvas pixels by their top 8 bits
// (display::paints_grey_levels), a view of the canvas at the canvas's depth (grey for 8
// bits, colour for 24 and 32): it then writes for each sample the levels->bytes first
// bytes of levels->of[its top 8 bits], and levels->bytes is not 0. With a window of
// whole-byte pixels the output is the window's size instead (never a view), and the
// window counts as honoured.
// A reader that decided the output's depth and colour order itself (extended reading's
// uncompressed reader) passes them as `format`.
struct GreyLevels {
  int bytes = 0;
  std::uint32_t of[256] = {};
};
struct OutputFormat {
  int bits = 0;
  int colour_order = kernel::kColourPalette;
};
int create_output_bitmap(const ImageReadContext& context, GreyLevels* levels = nullptr,
                         const OutputFormat* format = nullptr);

// The bands the output shows: for one or two bands, one band (the first coded LU, whose
// values index the colour table, else band 0); for three or more, the bands chosen as
// red, green and blue, or with `extended` the bands select_extended_bands chooses.
// Returns how many (1 or 3); 0 when the subheader has no bands.
std::uint32_t shown_bands(const NitfImageSubheader& subheader, std::uint32_t bands[3],
                          bool extended = false);

// Where image `context.index`'s data are (the file, or an appended image's bytes) and how
// many bytes of them the file holds. RET_FILE_READ when the file has no data there.
namespace imgdata {
struct DataSource;
}
int image_data_source(const ImageReadContext& context, imgdata::DataSource* source,
                      std::uint64_t* available);

// The reader of uncompressed data, NC and NM.
int read_uncompressed(const ImageReadContext& context);

// The readers of compressed data: T.4 bi-level (C1, M1, imgmodes_bilevel.cpp), the JPEG
// family (C3, C5, C6, C8, I1, M3, M5, M6, M8, imgmodes_jpeg.cpp) and vector quantisation
// (C4, M4, imgmodes_vq.cpp).
int read_bilevel_compressed(const ImageReadContext& context);
int read_jpeg_family(const ImageReadContext& context);
int read_vector_quantised(const ImageReadContext& context);

}  // namespace nitf
