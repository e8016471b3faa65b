// Band selection, the bi-level palette, the brightening of dark pictures and the drawing
// of one image segment: the step between an image reader's bitmap and the canvas.
#include "image/handlimg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "colour/histogram.h"
#include "colour/intensity.h"
#include "core/nitffile.h"
#include "display/paint.h"
#include "effects/transparent.h"
#include "image/data/imgmodes.h"
#include "image/data/imgmodes_blocks.h"
#include "image/data/imgmodes_rpf.h"

namespace nitf {
namespace {

using Code = BandRepresentationCode;

// Values a picture may use and still count as too dark to see.
constexpr std::uint32_t kDarkLevels = 20;

std::uint32_t band_total(const NitfImageSubheader& s) {
  if (s.band_count <= 0) return 0;
  return static_cast<std::uint32_t>(
      std::min<std::size_t>(static_cast<std::size_t>(s.band_count), s.bands.size()));
}

std::optional<std::uint32_t> first_band(const NitfImageSubheader& s, std::uint32_t n, Code code) {
  for (std::uint32_t i = 0; i < n; ++i)
    if (s.bands[i].representation == code) return i;
  return std::nullopt;
}

// One index per colour for the three codes; a code found nowhere gives `missing`.
bool select_by_codes(const NitfImageSubheader& s, std::uint32_t n, const Code (&codes)[3],
                     std::uint32_t missing, BandSelection* out) {
  std::optional<std::uint32_t> found[3];
  for (int c = 0; c < 3; ++c) found[c] = first_band(s, n, codes[c]);
  if (!found[0] && !found[1] && !found[2]) return false;
  const std::uint32_t last = n - 1;
  out->red = std::min(found[0].value_or(missing), last);
  out->green = std::min(found[1].value_or(missing), last);
  out->blue = std::min(found[2].value_or(missing), last);
  return true;
}

bool is_bilevel(CompressionCode c) {
  return c == CompressionCode::kC1 || c == CompressionCode::kM1;
}

bool fits_coordinate(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

void report_place(const NitfImageSubheader& s, std::int64_t width, std::int64_t height,
                  std::int64_t top, std::int64_t left) {
  char line[160];
  std::snprintf(line, sizeof line,
                "image segment %u: no place on the canvas for %lld x %lld at (%lld, %lld)\n",
                s.index, static_cast<long long>(width), static_cast<long long>(height),
                static_cast<long long>(top), static_cast<long long>(left));
  kernel::debug_output(line);
}

bool extended(const NitfImageSubheader& s) {
  return s.document && s.document->extended != 0;
}

// The grid an image's bitmap covers: its block grid, or for C4 and M4, whose masks may
// leave blocks out, the decoded size.
int covered_grid(const NitfImageSubheader& s, const kernel::Bitmap& bitmap,
                 imgdata::BlockGrid* grid) {
  if (s.compression != CompressionCode::kC4 && s.compression != CompressionCode::kM4)
    return imgdata::block_grid(s, grid);
  *grid = imgdata::BlockGrid{1, 1, static_cast<std::uint32_t>(std::max(bitmap.width, 0)),
                             static_cast<std::uint32_t>(std::max(bitmap.height, 0))};
  return RET_SUCCESS;
}

// Where the image goes on the canvas: the grid it covers (cut to the picture for
// extended reading) at ILOC plus the attachment offsets.
int destination(const NitfImageSubheader& s, const kernel::Bitmap& bitmap, std::int64_t row_offset,
                std::int64_t column_offset, kernel::Rect* out, bool report = true) {
  imgdata::BlockGrid grid;
  if (covered_grid(s, bitmap, &grid) != RET_SUCCESS) return RET_FILE_FORMAT;
  const imgdata::PictureSize size = imgdata::picture_size(s, grid, extended(s));
  const std::int64_t width = size.width, height = size.height;
  const std::int64_t left = s.location_column + column_offset;
  const std::int64_t top = s.location_row + row_offset;
  if (!fits_coordinate(left) || !fits_coordinate(top) || !fits_coordinate(left + width) ||
      !fits_coordinate(top + height)) {
    if (report) report_place(s, width, height, top, left);
    return RET_FILE_FORMAT;
  }
  kernel::set_rect(out, static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
                   static_cast<std::int32_t>(left + width),
                   static_cast<std::int32_t>(top + height));
  return RET_SUCCESS;
}

// Extended reading paints only the picture: the bitmap record is cut to the part that
// lies within NCOLS x NROWS (its rows keep their length and their storage). A bitmap of
// the grid's size, or of the picture's (a JPEG 2000 stream), is cut to the picture; one
// decoded smaller (I1) is cut in proportion. Only top-down bitmaps of their own are cut.
void cut_to_picture(const NitfImageSubheader& s, kernel::Bitmap* b) {
  imgdata::BlockGrid grid;
  if (!extended(s) || b->view_code != kernel::kViewTopDown ||
      covered_grid(s, *b, &grid) != RET_SUCCESS)
    return;
  const imgdata::PictureSize picture = imgdata::picture_size(s, grid, true);
  auto cut = [](std::int32_t have, std::int64_t keep, std::int64_t whole) {
    if (have >= keep || whole <= 0)
      return static_cast<std::int32_t>(std::min<std::int64_t>(have, keep));
    return static_cast<std::int32_t>(std::max<std::int64_t>(1, (have * keep + whole - 1) / whole));
  };
  b->width = cut(b->width, picture.width, std::int64_t{grid.width} * grid.per_row);
  b->height = cut(b->height, picture.height, std::int64_t{grid.height} * grid.per_column);
}

// The image's bitmap, released with the drawing whatever path it takes.
struct ImageBitmap {
  kernel::Bitmap bitmap;
  ImageBitmap() { kernel::init_bitmap(&bitmap, kernel::kBitmapRecordSize); }
  ImageBitmap(const ImageBitmap&) = delete;
  ImageBitmap& operator=(const ImageBitmap&) = delete;
  ~ImageBitmap() { kernel::free_bitmap(&bitmap); }
};

// The bitmap's logical palette, selected and realised for one painting, then put back.
class SelectedPalette {
 public:
  SelectedPalette(kernel::DrawingContext* dc, const kernel::Bitmap* bitmap)
      : dc_(dc), palette_(display::palette_for_bitmap(dc, bitmap)) {
    if (!palette_) return;
    previous_ = kernel::select_palette(dc_, palette_);
    kernel::realize_palette(dc_);
  }
  SelectedPalette(const SelectedPalette&) = delete;
  SelectedPalette& operator=(const SelectedPalette&) = delete;
  ~SelectedPalette() {
    if (!palette_) return;
    kernel::select_palette(dc_, previous_);
    kernel::free_palette(palette_);
  }

 private:
  kernel::DrawingContext* dc_;
  kernel::Palette* palette_;
  kernel::Palette* previous_ = nullptr;
};

int paint_image(kernel::DrawingContext* dc, const NitfImageSubheader& s,
                const kernel::Bitmap& bitmap, const kernel::Rect& place) {
  std::uint8_t pad = 0;
  if (!pad_pixel_index(s, &pad))
    return display::paint(dc, &bitmap, nullptr, &place, display::kSourceCopy);
  // Entries past the bitmap's palette (or all, without one) stay 0: black.
  kernel::Buffer<std::uint32_t> colours;
  if (!colours.allocate(kernel::kMaxPaletteEntries)) return RET_NO_MEMORY;
  kernel::get_palette(&bitmap, 0, kernel::kMaxPaletteEntries, colours.data());
  const std::uint32_t transparent = kernel::colour_of_entry(colours[pad]);
  return effects::transparent_paint(dc, &bitmap, &place, transparent, display::kSourceCopy);
}

// Whether the image may be read straight into the canvas (CanvasUse::in_place): it is
// placed over exactly the whole canvas at its block grid's size, the context paints all
// of the canvas, and nothing would change the pixels between reading and painting. The
// reader makes the final check, that the painting would copy the pixels unchanged.
bool covers_canvas(NitfDocument* d, std::uint32_t index, const kernel::DrawingContext& dc,
                   std::int64_t row_offset, std::int64_t column_offset) {
  const NitfImageSubheader* s = find_image_subheader(d, index);
  if (!s || !dc.bitmap || is_bilevel(s->compression) || d->enhancement) return false;
  if (dc.scale_x != 1 || dc.scale_y != 1) return false;
  if (s->compression == CompressionCode::kC4 || s->compression == CompressionCode::kM4)
    return false;
  std::uint8_t pad = 0;
  if (pad_pixel_index(*s, &pad)) return false;
  const kernel::Bitmap unused{};  // the place of other codes does not depend on the bitmap
  kernel::Rect place;
  if (destination(*s, unused, row_offset, column_offset, &place, false) != RET_SUCCESS)
    return false;
  const kernel::Rect whole{0, 0, dc.bitmap->width, dc.bitmap->height};
  auto same = [](const kernel::Rect& a, const kernel::Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  };
  return same(place, whole) && same(dc.clip, whole);
}

}  // namespace

int select_bands(const NitfImageSubheader& s, BandSelection* out) {
  *out = BandSelection{0, 0, 0};
  const std::uint32_t n = band_total(s);
  if (n == 0) return RET_SUCCESS;
  if (select_by_codes(s, n, {Code::kRed, Code::kGreen, Code::kBlue}, 0, out)) return RET_SUCCESS;
  if (select_by_codes(s, n, {Code::kLuminance, Code::kChromaBlue, Code::kChromaRed}, n, out))
    return RET_SUCCESS;
  for (Code shared : {Code::kLut, Code::kMono}) {
    if (auto band = first_band(s, n, shared)) {
      *out = BandSelection{*band, *band, *band};
      return RET_SUCCESS;
    }
  }
  const BandSelection& kept = s.selection;
  const bool remembered = kept.red < BandSelection::kNone && kept.green < BandSelection::kNone &&
                          kept.blue < BandSelection::kNone;
  const BandSelection chosen = remembered ? kept : BandSelection{0, 1, 2};
  *out = BandSelection{std::min(chosen.red, n - 1), std::min(chosen.green, n - 1),
                       std::min(chosen.blue, n - 1)};
  return RET_SUCCESS;
}

std::uint32_t select_extended_bands(const NitfImageSubheader& s, BandSelection* out) {
  *out = BandSelection{0, 0, 0};
  const std::uint32_t n = band_total(s);
  if (n == 0) return 0;
  if (select_by_codes(s, n, {Code::kRed, Code::kGreen, Code::kBlue}, 0, out) ||
      select_by_codes(s, n, {Code::kLuminance, Code::kChromaBlue, Code::kChromaRed}, n, out))
    return 3;
  const BandSelection& kept = s.selection;
  const bool remembered = kept.red < n && kept.green < n && kept.blue < n;
  const auto lut = first_band(s, n, Code::kLut);
  if (!lut && (remembered || (s.representation == RepresentationCode::kRgb && n >= 3))) {
    *out = remembered ? kept : BandSelection{0, 1, 2};
    return 3;
  }
  const std::uint32_t one = lut.value_or(first_band(s, n, Code::kMono).value_or(0));
  *out = BandSelection{one, one, one};
  return 1;
}

void apply_bilevel_colours(const NitfImageSubheader& s, kernel::Bitmap* bitmap) {
  const auto& table = s.colours.entries;
  if (table.size() < 2) return;
  const std::uint32_t swapped[2] = {
      kernel::palette_entry(table[1].red, table[1].green, table[1].blue),
      kernel::palette_entry(table[0].red, table[0].green, table[0].blue)};
  kernel::put_palette(bitmap, 0, 2, swapped);
}

bool pad_pixel_index(const NitfImageSubheader& s, std::uint8_t* index) {
  if (rpf_transparent_code(s, index)) return true;
  if (s.mask.tpxcdlnth == 0 || s.mask.pad_code.empty()) return false;
  const std::uint8_t code = s.mask.pad_code[0];
  *index = is_bilevel(s.compression) ? (code == 0 ? 1 : 0) : code;
  return true;
}

void brighten_if_dark(kernel::Bitmap* bitmap) {
  std::array<std::uint64_t, colour::kHistogramBins> counts{};
  if (colour::histogram(bitmap, counts.data(), colour::kHistogramBins, 0) != RET_SUCCESS) return;
  const auto dark_end = counts.begin() + kDarkLevels;
  const bool dark = std::any_of(counts.begin(), dark_end, [](std::uint64_t c) { return c != 0; });
  const bool bright = std::any_of(dark_end, counts.end(), [](std::uint64_t c) { return c != 0; });
  if (dark && !bright) colour::intensity(bitmap, colour::kFullStretch, 0);
}

namespace {

// The place on a canvas drawn at another scale: each edge scaled and rounded down, so
// that images side by side stay side by side. False when it leaves the coordinates the
// painting takes.
bool scale_place(const kernel::DrawingContext& dc, kernel::Rect* place) {
  if (dc.scale_x == 1 && dc.scale_y == 1) return true;
  const double limit = 2.0e9;
  const double edges[4] = {
      std::floor(place->left * dc.scale_x), std::floor(place->top * dc.scale_y),
      std::floor(place->right * dc.scale_x), std::floor(place->bottom * dc.scale_y)};
  for (double e : edges)
    if (!(std::fabs(e) < limit)) return false;
  kernel::set_rect(place, static_cast<std::int32_t>(edges[0]), static_cast<std::int32_t>(edges[1]),
                   static_cast<std::int32_t>(edges[2]), static_cast<std::int32_t>(edges[3]));
  return true;
}

// What a composition of part of the canvas, or of all of it at another size, reads of
// an image: the part it shows (in whole cells of the reduction), at the largest
// power-of-two reduction its scale allows, so that what is read is about the output's
// size. Each cell gives its middle pixel, the one the painting of the whole picture at
// that scale would take: a picture read whole and one read by cells look the same.
enum class Shown { kWhole, kWindow, kNothing };

Shown shown_window(const kernel::DrawingContext& dc, const NitfDocument& d,
                   const NitfImageSubheader& s, const kernel::Rect& place, ImageWindow* w) {
  if (!dc.bitmap || d.enhancement || is_bilevel(s.compression) || !(dc.scale_x > 0) ||
      !(dc.scale_y > 0))
    return Shown::kWhole;
  const std::int64_t shown_width =
      static_cast<std::int64_t>(std::ceil(dc.bitmap->width / dc.scale_x - 1e-6));
  const std::int64_t shown_height =
      static_cast<std::int64_t>(std::ceil(dc.bitmap->height / dc.scale_y - 1e-6));
  const std::int64_t width = std::int64_t{place.right} - place.left;
  const std::int64_t height = std::int64_t{place.bottom} - place.top;
  const std::int64_t left = std::max<std::int64_t>(place.left, 0) - place.left;
  const std::int64_t top = std::max<std::int64_t>(place.top, 0) - place.top;
  const std::int64_t right = std::min<std::int64_t>(place.right, shown_width) - place.left;
  const std::int64_t bottom = std::min<std::int64_t>(place.bottom, shown_height) - place.top;
  if (width <= 0 || height <= 0 || right <= left || bottom <= top) return Shown::kNothing;
  std::int64_t reduction = 1;
  while (reduction < (std::int64_t{1} << 30) && 2.0 * reduction * dc.scale_x <= 1.0 + 1e-9 &&
         2.0 * reduction * dc.scale_y <= 1.0 + 1e-9 && 2 * reduction <= std::max(width, height))
    reduction *= 2;
  auto down = [&](std::int64_t v) { return v / reduction * reduction; };
  auto up = [&](std::int64_t v, std::int64_t limit) {
    return std::min(limit, (v + reduction - 1) / reduction * reduction);
  };
  const std::int64_t c0 = down(left), r0 = down(top), c1 = up(right, width),
                     r1 = up(bottom, height);
  if (reduction == 1 && c0 == 0 && r0 == 0 && c1 == width && r1 == height) return Shown::kWhole;
  w->first_column = static_cast<std::uint32_t>(c0);
  w->first_row = static_cast<std::uint32_t>(r0);
  w->columns = static_cast<std::uint32_t>(c1 - c0);
  w->rows = static_cast<std::uint32_t>(r1 - r0);
  w->reduction = static_cast<std::uint32_t>(reduction);
  w->phase = std::min({w->reduction / 2, w->columns - 1, w->rows - 1});
  return Shown::kWindow;
}

}  // namespace

int draw_image_segment(const FltLoadRequest* load, kernel::DrawingContext* dc, NitfDocument* d,
                       std::uint32_t index, std::int64_t row_offset, std::int64_t column_offset,
                       CanvasUse use) {
  ImageBitmap image;
  const CanvasOutput onto{dc ? dc->bitmap : nullptr, use.blank};
  const bool offered =
      use.in_place && dc && covers_canvas(d, index, *dc, row_offset, column_offset);
  // A composition of part of the canvas, or at a smaller size, reads what it shows.
  bool honoured = false;
  ImageWindow window;
  window.honoured = &honoured;
  Shown shown = Shown::kWhole;
  const NitfImageSubheader* s = find_image_subheader(d, index);
  kernel::Rect whole_place;
  // The place of the whole grid: a vector-quantised picture covers it unless its mask
  // leaves the last block rows or columns out, and its reader then declines the window.
  kernel::Bitmap grid_size{};
  imgdata::BlockGrid g;
  if (s && imgdata::block_grid(*s, &g) == RET_SUCCESS) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
    grid_size.width = static_cast<std::int32_t>(std::min(std::uint64_t{g.width} * g.per_row, kMax));
    grid_size.height =
        static_cast<std::int32_t>(std::min(std::uint64_t{g.height} * g.per_column, kMax));
  }
  if (s && dc && !offered &&
      destination(*s, grid_size, row_offset, column_offset, &whole_place, false) == RET_SUCCESS)
    shown = shown_window(*dc, *d, *s, whole_place, &window);
  if (shown == Shown::kNothing) {
    if (use.fill_pending) kernel::fill_bitmap(dc->bitmap, use.background);
    return RET_SUCCESS;
  }
  int read = read_image(d, index, &image.bitmap, load, offered ? &onto : nullptr,
                        shown == Shown::kWindow ? &window : nullptr);
  // A window the reader could not cut (a JPEG 2000 stream smaller than its grid, say) is
  // read as the whole picture.
  if (read != RET_SUCCESS && shown == Shown::kWindow) {
    honoured = false;
    read = read_image(d, index, &image.bitmap, load, nullptr);
  }
  if (read != RET_SUCCESS) return read;
  if (!s) return RET_BAD_ARGUMENT;
  if (is_bilevel(s->compression)) apply_bilevel_colours(*s, &image.bitmap);
  if (d->enhancement) brighten_if_dark(&image.bitmap);
  kernel::Rect place;
  if (honoured) {
    kernel::set_rect(
        &place, static_cast<std::int32_t>(whole_place.left + window.first_column),
        static_cast<std::int32_t>(whole_place.top + window.first_row),
        static_cast<std::int32_t>(whole_place.left + window.first_column + window.columns),
        static_cast<std::int32_t>(whole_place.top + window.first_row + window.rows));
  } else if (int r = destination(*s, image.bitmap, row_offset, column_offset, &place);
             r != RET_SUCCESS) {
    return r;
  }
  if (dc && !scale_place(*dc, &place)) return RET_FILE_FORMAT;
  // Read into the canvas itself: the pixels are where the painting would put them.
  if (offered && image.bitmap.data && image.bitmap.data == dc->bitmap->data) return RET_SUCCESS;
  if (use.fill_pending) kernel::fill_bitmap(dc->bitmap, use.background);
  if (!honoured) cut_to_picture(*s, &image.bitmap);
  SelectedPalette palette(dc, &image.bitmap);
  return paint_image(dc, *s, image.bitmap, place);
}

}  // namespace nitf
