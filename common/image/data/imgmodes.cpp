// The image data reader's dispatcher, the output bitmap, and the reader of uncompressed
// data (NC, NM).
//
// Uncompressed data of every kind go through one walk (imgmodes_blocks): bi-level data
// are 1-bit planes, one or two bands show one band, three or more show the bands chosen
// as red, green and blue, and IMODE only changes where a band's samples lie. Rows are
// converted whole by the sample conversion of the utility unit, straight into the
// output at their block's place; only a blocked image of bit-packed pixels (1 or 12
// bits), whose blocks may start inside an output byte, goes through one block bitmap
// that is placed with the image-processing combine.
#include "image/data/imgmodes.h"

#include "image/handlimg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "display/paint.h"
#include "image/data/imgmodes_blocks.h"
#include "image/data/utility_samples.h"
#include "imgproc/combine.h"

namespace nitf {
namespace {

using imgdata::BlockLayout;
using imgdata::PlaneRow;
using Code = BandRepresentationCode;

static_assert(sizeof(ColourEntry) == sizeof(std::uint32_t));

std::uint32_t band_total(const NitfImageSubheader& s) {
  if (s.band_count <= 0) return 0;
  return static_cast<std::uint32_t>(
      std::min(static_cast<std::size_t>(s.band_count), s.bands.size()));
}

std::uint32_t first_band(const NitfImageSubheader& s, std::uint32_t n, Code code) {
  for (std::uint32_t i = 0; i < n; ++i)
    if (s.bands[i].representation == code) return i;
  return BandSelection::kNone;
}

// The bands shown as red, green and blue.
BandSelection colour_bands(const NitfImageSubheader& s, std::uint32_t) {
  BandSelection out;
  select_bands(s, &out);
  return out;
}

int output_format(const NitfImageSubheader& s, const OutputFormat* chosen, OutputFormat* f) {
  const std::uint32_t n = band_total(s);
  if (n == 0 || s.bits_per_pixel <= 0) return RET_FILE_FORMAT;
  if (s.pixel_type == PixelValueTypeCode::kBilevel && s.bits_per_pixel != 1) return RET_FILE_FORMAT;
  if (chosen) {
    *f = *chosen;
    return RET_SUCCESS;
  }
  f->bits = n <= 2 ? converted_bits(s.bits_per_pixel) : 3 * s.bits_per_pixel;
  switch (f->bits) {
    case 1:
    case 8:
    case 12:
    case 16:
    case 24:
      break;
    default:
      return RET_NOT_SUPPORTED;
  }
  const bool mono = s.representation == RepresentationCode::kMono && n <= 2;
  if (f->bits == 1)
    f->colour_order = kernel::kColourPalette;
  else
    f->colour_order = mono ? kernel::kColourGrey : kernel::kColourRgb;
  return RET_SUCCESS;
}

// The colour table as palette: into the entries a palette bitmap has (cut to them), or
// as the whole palette of a deeper one.
int give_colour_table(kernel::Bitmap* b, const ColourTable& table) {
  std::uint32_t entries[kernel::kMaxPaletteEntries];
  const auto n = static_cast<std::uint32_t>(
      std::min<std::size_t>(table.entries.size(), kernel::kMaxPaletteEntries));
  std::memcpy(entries, table.entries.data(), n * sizeof(std::uint32_t));
  if (b->bits_per_pixel <= 8) return kernel::put_palette(b, 0, n, entries);
  kernel::Palette* palette = kernel::create_palette(entries, n);
  if (!palette) return RET_NO_MEMORY;
  const int result = kernel::set_palette(b, palette);
  kernel::free_palette(palette);
  return result;
}

// ----- Dispatch ------------------------------------------------------------------------

// Codes whose data a codec decodes (JPEG, JPEG 2000, T.4, vector quantisation).
bool is_coded(CompressionCode c) {
  return c != CompressionCode::kNC && c != CompressionCode::kNM;
}

void debug_line(const ImageReadContext& c, const char* what) {
  char line[128];
  std::snprintf(line, sizeof line, "\nread_image: image %u, IC %.2s: %s\n", c.index,
                c.subheader->ic, what);
  kernel::debug_output(line);
}

struct ReaderEntry {
  CompressionCode code;
  ImageReader reader;
};

constexpr ReaderEntry kReaders[] = {
    {CompressionCode::kNC, read_uncompressed},
    {CompressionCode::kNM, read_uncompressed},
    {CompressionCode::kC1, read_bilevel_compressed},
    {CompressionCode::kM1, read_bilevel_compressed},
    {CompressionCode::kC3, read_jpeg_family},
    {CompressionCode::kC5, read_jpeg_family},
    {CompressionCode::kC6, read_jpeg_family},
    {CompressionCode::kC8, read_jpeg_family},
    {CompressionCode::kI1, read_jpeg_family},
    {CompressionCode::kM3, read_jpeg_family},
    {CompressionCode::kM5, read_jpeg_family},
    {CompressionCode::kM6, read_jpeg_family},
    {CompressionCode::kM8, read_jpeg_family},
    {CompressionCode::kC4, read_vector_quantised},
    {CompressionCode::kM4, read_vector_quantised},
};

// ----- Uncompressed data ---------------------------------------------------------------

// What uncompressed data are read with, all checked against LI and the file before
// anything is allocated. Extended reading turns every shown band into 8-bit levels
// (`leveled`) when the strict conversion has no display for it, chooses the output's
// format itself (format.bits 0: create_output_bitmap's own choice) and shows three
// Y, Cb, Cr bands of a YCbCr601 image in RGB.
struct UncompressedPlan {
  SampleConversion conversion;
  LevelConversion levels;
  bool leveled = false;
  bool ycbcr = false;
  OutputFormat format;
  imgdata::DataSource source;
  BlockLayout layout;
};

// Rows of the shown bands to pixels: straight into the output at the block's place when
// the output's pixels are whole bytes (and always for a single block), else into the
// block bitmap, which is placed into the output once its rows are done.
struct Converter {
  const BlockLayout& layout;
  const UncompressedPlan& plan;
  kernel::Bitmap* out;
  kernel::Bitmap* target;
  kernel::Buffer<std::uint8_t> scratch;      // one band's row taken out of IMODE P pixels
  const ImageReadContext* window = nullptr;  // reading a window: rows go through `row`
  mutable kernel::Buffer<std::uint8_t> row;  // one converted row of a block
};

// Where row y of block k goes. The output is addressed from its top row whatever its
// row order (it may be a view of the canvas); a block bitmap is top-down.
std::uint8_t* target_row(const Converter& c, std::uint64_t k, std::uint32_t y) {
  if (c.window) return c.row.data();
  if (c.target != c.out) return kernel::storage_row(*c.target, static_cast<std::int32_t>(y));
  const imgdata::BlockGrid& g = c.layout.grid;
  const std::uint64_t top = k / g.per_row * g.height + y;
  std::uint8_t* row =
      kernel::storage_row(*c.out, kernel::top_down_row(*c.out, static_cast<std::int32_t>(top)));
  if (!row) return nullptr;
  const std::uint64_t left = k % g.per_row * g.width;
  return row + left * static_cast<std::uint64_t>(c.out->bits_per_pixel / 8);
}

// A band's row with its samples next to each other: as read, or gathered into scratch
// when the samples of other bands lie between them (IMODE P, whole-byte samples).
const std::uint8_t* contiguous(const PlaneRow& p, const BlockLayout& l, std::uint8_t* scratch,
                               std::uint64_t* first_bit) {
  *first_bit = p.first_bit;
  if (p.pixel_bits == l.bits) return p.data;
  const std::size_t bytes = l.bits / 8;
  for (std::uint32_t x = 0; x < l.grid.width; ++x)
    std::memcpy(scratch + x * bytes, p.data + (p.first_bit + std::uint64_t{x} * p.pixel_bits) / 8,
                bytes);
  *first_bit = 0;
  return scratch;
}

// Each shown band's levels into its byte of the output's pixels: red last.
void convert_levels(const Converter& c, const PlaneRow* planes, std::uint8_t* row) {
  const std::uint32_t n = c.layout.plane_count;
  for (std::uint32_t i = 0; i < n; ++i)
    convert_to_levels(c.plan.levels, planes[i].data, planes[i].first_bit, planes[i].pixel_bits,
                      c.layout.grid.width, row + (n - 1 - i), n);
}

int convert_row(void* self, std::uint64_t k, std::uint32_t y, const PlaneRow* planes) {
  auto& c = *static_cast<Converter*>(self);
  const BlockLayout& l = c.layout;
  const std::uint64_t image_row = k / l.grid.per_row * l.grid.height + y;
  if (c.window && !window_samples_row(*c.window->window, image_row)) return RET_SUCCESS;
  std::uint8_t* row = target_row(c, k, y);
  if (!row) return RET_INVALID_BITMAP;
  if (c.plan.leveled) {
    convert_levels(c, planes, row);
  } else if (l.plane_count == 3) {
    const std::uint8_t* p[3];
    for (int i = 0; i < 3; ++i) p[i] = planes[i].data + planes[i].first_bit / 8;
    interleave_bgr(p[0], p[1], p[2], planes[0].pixel_bits / 8, l.grid.width, row);
  } else {
    std::uint64_t bit = 0;
    const std::uint8_t* samples = contiguous(planes[0], l, c.scratch.data(), &bit);
    convert_samples(c.plan.conversion, samples, bit, l.grid.width, row);
  }
  if (c.plan.ycbcr) ycbcr_to_rgb(row, l.grid.width, 3);
  if (c.window)
    put_window_row(*c.window, image_row, k % l.grid.per_row * l.grid.width, l.grid.width,
                   static_cast<std::uint32_t>(c.out->bits_per_pixel / 8), row);
  return RET_SUCCESS;
}

bool converter_wants(void* self, std::uint64_t k) {
  const auto& c = *static_cast<Converter*>(self);
  const imgdata::BlockGrid& g = c.layout.grid;
  return window_meets(*c.window->window, k % g.per_row * g.width, k / g.per_row * g.height, g.width,
                      g.height);
}

void converter_rows(void* self, std::uint64_t k, std::uint32_t* first, std::uint32_t* end) {
  const auto& c = *static_cast<Converter*>(self);
  const ImageWindow& w = *c.window->window;
  imgdata::rows_within(k / c.layout.grid.per_row * c.layout.grid.height, w.first_row,
                       std::uint64_t{w.first_row} + w.rows, first, end);
}

int place_block(void* self, std::uint64_t k) {
  auto& c = *static_cast<Converter*>(self);
  if (c.target == c.out) return RET_SUCCESS;
  const imgdata::BlockGrid& g = c.layout.grid;
  const auto x = static_cast<std::int32_t>(k % g.per_row * g.width);
  const auto y = static_cast<std::int32_t>(k / g.per_row * g.height);
  return imgproc::combine(c.out, x, y, static_cast<std::int32_t>(g.width),
                          static_cast<std::int32_t>(g.height), c.target, 0, 0,
                          imgproc::kCombineCopy, 0);
}

struct RangeScan {
  const BlockLayout& layout;
  SampleRange* range;
  kernel::Buffer<std::uint8_t> scratch;
};

int scan_row(void* self, std::uint64_t, std::uint32_t, const PlaneRow* planes) {
  auto& s = *static_cast<RangeScan*>(self);
  std::uint64_t bit = 0;
  const std::uint8_t* samples = contiguous(planes[0], s.layout, s.scratch.data(), &bit);
  scan_sample_range(samples + bit / 8, s.layout.grid.width, static_cast<int>(s.layout.bits / 8),
                    s.range);
  return RET_SUCCESS;
}

int no_block_step(void*, std::uint64_t) {
  return RET_SUCCESS;
}

struct LevelScan {
  const BlockLayout& layout;
  const LevelConversion& levels;
  ValueRange* range;
};

int scan_level_row(void* self, std::uint64_t, std::uint32_t, const PlaneRow* planes) {
  auto& s = *static_cast<LevelScan*>(self);
  for (std::uint32_t i = 0; i < s.layout.plane_count; ++i)
    scan_level_range(s.levels, planes[i].data, planes[i].first_bit, planes[i].pixel_bits,
                     s.layout.grid.width, s.range);
  return RET_SUCCESS;
}

bool allocate_scratch(const BlockLayout& l, kernel::Buffer<std::uint8_t>* scratch) {
  const bool gathers = l.interleaved && l.mode == ImageModeCode::kPixel && l.plane_count == 1;
  return !gathers || scratch->allocate(std::size_t{l.grid.width} * (l.bits / 8));
}

// 32- and 64-bit samples are stretched between the smallest and largest sample of the
// shown band, over every recorded block: blocked or not, masked or not, the same scale.
int scan_range(const BlockLayout& l, const imgdata::DataSource& source, SampleRange* range) {
  RangeScan scan{l, range, {}};
  if (!allocate_scratch(l, &scan.scratch)) return RET_NO_MEMORY;
  return imgdata::walk_blocks(l, source, {&scan, scan_row, no_block_step});
}

// Extended reading stretches over every shown band together: the colours keep their
// balance.
int scan_levels(const BlockLayout& l, const imgdata::DataSource& source, LevelConversion* levels) {
  LevelScan scan{l, *levels, &levels->range};
  return imgdata::walk_blocks(l, source, {&scan, scan_level_row, no_block_step});
}

int convert_blocks(const ImageReadContext& context, const UncompressedPlan& plan,
                   kernel::Bitmap* out) {
  const BlockLayout& l = plan.layout;
  OwnedBitmap block;
  Converter c{l, plan, out, out, {}, nullptr, {}};
  if (!allocate_scratch(l, &c.scratch)) return RET_NO_MEMORY;
  if (windowed(context)) {
    c.window = &context;
    if (!c.row.allocate(std::size_t{l.grid.width} *
                        static_cast<std::size_t>(out->bits_per_pixel / 8)))
      return RET_NO_MEMORY;
    return imgdata::walk_blocks(l, plan.source,
                                {&c, convert_row, no_block_step, converter_wants, converter_rows});
  }
  // Bit-packed pixels (1 and 12 bits) of a block may start inside a byte of the output.
  if (l.blocks > 1 && out->bits_per_pixel % 8 != 0) {
    int r = kernel::create_bitmap(&block.bitmap, kernel::kBitmapRecordSize, 1,
                                  static_cast<std::int32_t>(l.grid.width),
                                  static_cast<std::int32_t>(l.grid.height), out->bits_per_pixel,
                                  out->colour_order, nullptr, kernel::kViewTopDown, nullptr, 0);
    if (r != RET_SUCCESS) return r;
    c.target = &block.bitmap;
  }
  return imgdata::walk_blocks(l, plan.source, {&c, convert_row, place_block});
}

}  // namespace

int image_data_source(const ImageReadContext& c, imgdata::DataSource* source,
                      std::uint64_t* available) {
  const NitfImageSubheader& s = *c.subheader;
  if (s.appended && !s.appended_data.empty()) {
    source->bytes = s.appended_data.data();
    source->size = *available = s.appended_data.size();
    return RET_SUCCESS;
  }
  const NitfDocument& d = *c.document;
  const std::int64_t start = segment_data_offset(d, SegmentKind::kImage, c.index);
  if (d.file < 0 || start < 0) return RET_FILE_READ;
  source->file = d.file;
  source->start = start;
  *available = d.file_size > start ? static_cast<std::uint64_t>(d.file_size - start) : 0;
  return RET_SUCCESS;
}

std::uint32_t shown_bands(const NitfImageSubheader& s, std::uint32_t bands[3], bool extended) {
  const std::uint32_t n = band_total(s);
  if (n == 0) return 0;
  if (extended && n >= 3) {
    BandSelection chosen;
    const std::uint32_t count = select_extended_bands(s, &chosen);
    bands[0] = chosen.red;
    bands[1] = chosen.green;
    bands[2] = chosen.blue;
    return count;
  }
  if (n <= 2) {
    const std::uint32_t lut = first_band(s, n, Code::kLut);
    bands[0] = lut == BandSelection::kNone ? 0 : lut;
    return 1;
  }
  const BandSelection rgb = colour_bands(s, n);
  bands[0] = rgb.red;
  bands[1] = rgb.green;
  bands[2] = rgb.blue;
  return 3;
}

namespace {

// The record of a view of grey levels: the canvas's depth, grey or RGB.
int levels_record(kernel::Bitmap* out, int bytes, std::int32_t width, std::int32_t height) {
  const int r = kernel::create_bitmap(out, kernel::kBitmapRecordSize, 1, 0, 0, 8 * bytes,
                                      bytes == 1 ? kernel::kColourGrey : kernel::kColourRgb,
                                      nullptr, kernel::kViewTopDown, nullptr, 0);
  if (r != RET_SUCCESS) return r;
  out->width = width;
  out->height = height;
  return RET_SUCCESS;
}

// The output's rows become the canvas's, cleared unless the canvas is still blank.
void share_canvas_rows(kernel::Bitmap* out, const kernel::Bitmap& canvas, bool blank) {
  out->bytes_per_line = canvas.bytes_per_line;
  out->view_code = canvas.view_code;
  out->data = canvas.data;
  out->data_size = canvas.data_size;
  if (!blank) std::memset(canvas.data, 0, static_cast<std::size_t>(canvas.data_size));
}

// The output as a view of the offered canvas, when the painting would copy its pixels
// onto the canvas unchanged, or (for a reader that takes `levels`) would write each one as
// the canvas pixel of its grey level. The record gets the output's layout and palette
// first (no pixel data), then either the canvas's rows or pixel data of its own; a view
// of levels becomes the picture the canvas then holds, at the canvas's depth.
int output_onto_canvas(const ImageReadContext& c, const OutputFormat& f, std::int32_t width,
                       std::int32_t height, GreyLevels* levels) {
  const NitfImageSubheader& s = *c.subheader;
  kernel::Bitmap& canvas = *c.onto->canvas;
  int r = kernel::create_bitmap(c.out, kernel::kBitmapRecordSize, 1, 0, 0, f.bits, f.colour_order,
                                nullptr, kernel::kViewTopDown, nullptr, 0);
  if (r == RET_SUCCESS && s.colours.present() && f.bits <= 16)
    r = give_colour_table(c.out, s.colours);
  if (f.bits == 8) c.out->colour_order = kernel::kColourPalette;
  if (r != RET_SUCCESS) return r;
  c.out->width = width;
  c.out->height = height;
  // Pixels no block writes (masked blocks) stay zero: a zero sample must paint as zero.
  const int bytes = levels && !display::copies_natively(*c.out, canvas)
                        ? display::paints_grey_levels(*c.out, canvas, levels->of)
                        : 0;
  if (bytes != 0 && levels->of[0] == 0) {
    r = levels_record(c.out, bytes, width, height);
    if (r != RET_SUCCESS) return r;
    levels->bytes = bytes;
  } else if (!display::copies_natively(*c.out, canvas)) {
    return kernel::allocate_pixel_data(c.out);
  }
  share_canvas_rows(c.out, canvas, c.onto->blank);
  return RET_SUCCESS;
}

bool fits_canvas(const ImageReadContext& c, const OutputFormat& f, std::uint64_t width,
                 std::uint64_t height, const GreyLevels* levels) {
  if (!c.onto || !c.onto->canvas) return false;
  const kernel::Bitmap& canvas = *c.onto->canvas;
  const bool depth = f.bits == canvas.bits_per_pixel || levels;
  return canvas.data && width == static_cast<std::uint64_t>(canvas.width) &&
         height == static_cast<std::uint64_t>(canvas.height) && depth &&
         canvas.bytes_per_line > 0 &&
         static_cast<std::uint64_t>(canvas.bytes_per_line) * height <= canvas.data_size;
}

}  // namespace

int create_output_bitmap(const ImageReadContext& c, GreyLevels* levels,
                         const OutputFormat* format) {
  if (levels) levels->bytes = 0;
  const NitfImageSubheader& s = *c.subheader;
  imgdata::BlockGrid g;
  OutputFormat f;
  if (int r = imgdata::block_grid(s, &g); r != RET_SUCCESS) return r;
  if (int r = output_format(s, format, &f); r != RET_SUCCESS) return r;
  std::uint64_t width = std::uint64_t{g.width} * g.per_row;
  std::uint64_t height = std::uint64_t{g.height} * g.per_column;
  const ImageWindow* w = c.window;
  const bool window = w && w->honoured && f.bits % 8 == 0 && w->reduction != 0 &&
                      w->phase < w->columns && w->phase < w->rows &&
                      std::uint64_t{w->first_column} + w->columns <= width &&
                      std::uint64_t{w->first_row} + w->rows <= height;
  if (window) {
    width = (std::uint64_t{w->columns} - w->phase + w->reduction - 1) / w->reduction;
    height = (std::uint64_t{w->rows} - w->phase + w->reduction - 1) / w->reduction;
    *w->honoured = true;
  }
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  if (width > kMax || height > kMax) return RET_NO_MEMORY;
  if (!window && fits_canvas(c, f, width, height, levels))
    return output_onto_canvas(c, f, static_cast<std::int32_t>(width),
                              static_cast<std::int32_t>(height), levels);
  int r = kernel::create_bitmap(c.out, kernel::kBitmapRecordSize, 1,
                                static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                                f.bits, f.colour_order, nullptr, kernel::kViewTopDown, nullptr, 0);
  if (r == RET_SUCCESS && s.colours.present() && f.bits <= 16)
    r = give_colour_table(c.out, s.colours);
  if (f.bits == 8) c.out->colour_order = kernel::kColourPalette;
  return r;
}

bool windowed(const ImageReadContext& c) {
  return c.window && c.window->honoured && *c.window->honoured;
}

bool window_samples_row(const ImageWindow& w, std::uint64_t y) {
  const std::uint64_t first = std::uint64_t{w.first_row} + w.phase;
  return y >= first && y < std::uint64_t{w.first_row} + w.rows && (y - first) % w.reduction == 0;
}

namespace {

// The window's samples along one axis that fall in [origin, origin + extent): the first
// output index and how many.
struct WindowSpan {
  std::uint64_t first = 0, count = 0;
};
WindowSpan window_span(std::uint64_t start, std::uint64_t length, std::uint64_t step,
                       std::uint64_t origin, std::uint64_t extent) {
  const std::uint64_t end = std::min(origin + extent, start + length);
  const std::uint64_t from = std::max(origin, start);
  if (end <= from) return {};
  const std::uint64_t lo = (from - start + step - 1) / step;
  const std::uint64_t hi = (end - start + step - 1) / step;
  return hi > lo ? WindowSpan{lo, hi - lo} : WindowSpan{};
}

}  // namespace

bool window_meets(const ImageWindow& w, std::uint64_t left, std::uint64_t top, std::uint64_t width,
                  std::uint64_t height) {
  return window_span(std::uint64_t{w.first_row} + w.phase, w.rows - w.phase, w.reduction, top,
                     height)
                 .count != 0 &&
         window_span(std::uint64_t{w.first_column} + w.phase, w.columns - w.phase, w.reduction,
                     left, width)
                 .count != 0;
}

void put_window_row(const ImageReadContext& c, std::uint64_t y, std::uint64_t left,
                    std::uint32_t width, std::uint32_t bytes, const std::uint8_t* row,
                    std::uint32_t scale) {
  const ImageWindow& w = *c.window;
  kernel::Bitmap& out = *c.out;
  if (!window_samples_row(w, y) || bytes != static_cast<std::uint32_t>(out.bits_per_pixel / 8))
    return;
  const std::uint64_t r = (y - w.first_row - w.phase) / w.reduction;
  if (r >= static_cast<std::uint64_t>(out.height)) return;
  std::uint8_t* to =
      kernel::storage_row(out, kernel::top_down_row(out, static_cast<std::int32_t>(r)));
  const std::uint64_t first = std::uint64_t{w.first_column} + w.phase;
  const WindowSpan s = window_span(first, w.columns - w.phase, w.reduction, left, width);
  if (!to || s.first + s.count > static_cast<std::uint64_t>(out.width)) return;
  if (w.reduction == 1 && scale == 1) {
    std::memcpy(to + s.first * bytes, row + (first + s.first - left) * bytes, s.count * bytes);
    return;
  }
  for (std::uint64_t i = s.first; i < s.first + s.count; ++i)
    std::memcpy(to + i * bytes, row + (first + i * w.reduction - left) / scale * bytes, bytes);
}

bool block_wanted(const ImageReadContext& c, const imgdata::BlockGrid& g, std::uint64_t k) {
  if (const BlockTarget* t = c.target) return t->wants(t->self, k, BlockTarget::kEveryBand);
  return window_meets(*c.window, k % g.per_row * g.width, k / g.per_row * g.height, g.width,
                      g.height);
}

int hand_block(const ImageReadContext& c, const imgdata::BlockGrid& g, std::uint64_t k,
               const kernel::Bitmap& block) {
  if (const BlockTarget* t = c.target) return t->take(t->self, k, BlockTarget::kEveryBand, block);
  const std::uint64_t top = k / g.per_row * g.height, left = k % g.per_row * g.width;
  const auto bytes = static_cast<std::uint32_t>(block.bits_per_pixel / 8);
  for (std::int32_t y = 0; y < block.height; ++y) {
    if (!window_samples_row(*c.window, top + static_cast<std::uint64_t>(y))) continue;
    const std::uint8_t* row = kernel::storage_row(block, y);
    if (!row) return RET_INVALID_BITMAP;
    put_window_row(c, top + static_cast<std::uint64_t>(y), left,
                   static_cast<std::uint32_t>(block.width), bytes, row);
  }
  return RET_SUCCESS;
}

int create_block_bitmap(const imgdata::BlockGrid& g, int bits, kernel::Bitmap* block) {
  kernel::init_bitmap(block, kernel::kBitmapRecordSize);
  constexpr auto kMax = static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
  if (g.width > kMax || g.height > kMax) return RET_NO_MEMORY;
  return kernel::create_bitmap(block, kernel::kBitmapRecordSize, 1,
                               static_cast<std::int32_t>(g.width),
                               static_cast<std::int32_t>(g.height), bits,
                               bits == 8 ? kernel::kColourPalette : kernel::kColourGrey, nullptr,
                               kernel::kViewTopDown, nullptr, 0);
}

namespace {

// Extended reading keeps the strict conversion where it has one (unsigned samples shown
// as one band, or as three of 8 bits) and takes 8-bit levels otherwise. A single band of
// three or more is shown grey, or through the colour table when it is coded LU.
int plan_extended(const NitfImageSubheader& s, const std::uint32_t* planes, std::uint32_t shown,
                  UncompressedPlan* p) {
  const bool integer =
      s.pixel_type == PixelValueTypeCode::kInteger || s.pixel_type == PixelValueTypeCode::kBilevel;
  p->leveled = !integer || (shown == 3 && s.bits_per_pixel != 8);
  p->ycbcr = shown == 3 && s.representation == RepresentationCode::kYCbCr601 &&
             s.bands[planes[0]].representation == Code::kLuminance;
  const bool right = s.right_justified != 0;
  if (p->leveled) {
    p->format = shown == 3 ? OutputFormat{24, kernel::kColourRgb} : OutputFormat{8};
    return prepare_level_conversion(&p->levels, s.pixel_type, s.bits_per_pixel, s.significant_bits,
                                    right);
  }
  const int bits = converted_bits(s.bits_per_pixel);
  if (shown == 3) p->format = OutputFormat{24, kernel::kColourRgb};
  if (shown == 1 && band_total(s) >= 3)
    p->format = OutputFormat{bits, bits <= 8 ? kernel::kColourPalette : kernel::kColourGrey};
  return prepare_sample_conversion(&p->conversion, s.bits_per_pixel, s.significant_bits, right);
}

}  // namespace

int plan_uncompressed(const ImageReadContext& c, UncompressedPlan* p) {
  const NitfImageSubheader& s = *c.subheader;
  const bool extended = c.document->extended != 0;
  std::uint32_t planes[3] = {};
  const std::uint32_t shown = shown_bands(s, planes, extended);
  if (shown == 0) return RET_FILE_FORMAT;
  // The strict reader interleaves three shown bands a byte each into 24 bits.
  int r = extended ? plan_extended(s, planes, shown, p)
          : shown == 3 && s.bits_per_pixel != 8
              ? RET_NOT_SUPPORTED
              : prepare_sample_conversion(&p->conversion, s.bits_per_pixel, s.significant_bits,
                                          s.right_justified != 0);
  std::uint64_t available = 0;
  if (r == RET_SUCCESS) r = image_data_source(c, &p->source, &available);
  if (r == RET_SUCCESS)
    r = imgdata::describe_blocks(s, c.data_length, available, planes, shown, &p->layout);
  return r;
}

int read_uncompressed(const ImageReadContext& c) {
  UncompressedPlan plan;
  int r = plan_uncompressed(c, &plan);
  SampleConversion& conversion = plan.conversion;
  const imgdata::DataSource& source = plan.source;
  const BlockLayout& l = plan.layout;
  GreyLevels levels;
  if (r == RET_SUCCESS)
    r = create_output_bitmap(c, &levels, plan.format.bits != 0 ? &plan.format : nullptr);
  if (levels.bytes != 0) {
    conversion.levels = levels.of;
    conversion.level_bytes = levels.bytes;
  }
  if (r == RET_SUCCESS && plan.leveled && plan.levels.stretched)
    r = scan_levels(l, source, &plan.levels);
  else if (r == RET_SUCCESS && (l.bits == 32 || l.bits == 64))
    r = scan_range(l, source, &conversion.range);
  if (r == RET_SUCCESS) r = convert_blocks(c, plan, c.out);
  if (r == RET_NOT_SUPPORTED) debug_line(c, "pixel layout not supported");
  return r;
}

ImageReader image_reader(CompressionCode code) {
  for (const ReaderEntry& e : kReaders)
    if (e.code == code) return e.reader;
  return nullptr;
}

int check_image_data(NitfDocument* document, std::uint32_t index) {
  const NitfImageSubheader* s = find_image_subheader(document, index);
  if (!s || (s->compression != CompressionCode::kNC && s->compression != CompressionCode::kNM))
    return RET_SUCCESS;
  const ImageReadContext context{document, index,  s, document->header.images.data(index),
                                 nullptr,  nullptr};
  UncompressedPlan plan;
  const int r = plan_uncompressed(context, &plan);
  if (r != RET_SUCCESS) debug_line(context, "data cannot back the image's claims");
  return r;
}

int read_image(NitfDocument* document, std::uint32_t index, kernel::Bitmap* out,
               const FltLoadRequest* load, const CanvasOutput* onto, const ImageWindow* window) {
  if (!document || !out) return RET_INVALID_PARAMETER;
  const NitfImageSubheader* s = find_image_subheader(document, index);
  if (!s) return RET_BAD_ARGUMENT;
  if (window && window->honoured) *window->honoured = false;
  const ImageReadContext context{document,
                                 index,
                                 s,
                                 document->header.images.data(index),
                                 out,
                                 load,
                                 onto,
                                 nullptr,
                                 window && window->reduction != 0 ? window : nullptr};
  int result = RET_NOT_SUPPORTED;
  if (ImageReader reader = image_reader(s->compression)) {
    result = reader(context);
  } else {
    debug_line(context, "compression not supported");
  }
  // The readers' own checks say which field failed; these two failures would otherwise
  // reach the caller with nothing said about them.
  if (result != RET_SUCCESS && context.data_length == 0) {
    debug_line(context, "the image has no data (LI 0)");
  } else if (result != RET_SUCCESS && result != RET_NOT_SUPPORTED && is_coded(s->compression)) {
    debug_line(context, "the compressed data cannot be decoded");
  }
  if (result != RET_SUCCESS) kernel::free_bitmap(out);
  return result;
}

}  // namespace nitf
