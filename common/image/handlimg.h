// How an image segment's bands and pixels become what the canvas shows, and the drawing
// of one image segment onto the composition canvas.
//
// The composition calls draw_image_segment once per image in display-level order with
// the offsets its attachment chain gives; the image readers call select_bands to learn
// which bands become red, green and blue. Nothing here changes the subheader: the
// bi-level inversion of the pad pixel code is worked out for each drawing.
#pragma once

#include <cstdint>

#include <kvntfu.h>

#include "image/imsubhdr.h"
#include "kernel.h"

namespace nitf {

// The bands shown as red, green and blue: the first bands coded R, G, B; else Y, Cb, Cr
// (a missing one takes the last band); else the first LU band for all three; else the
// first M band; else the remembered selection, or bands 0, 1, 2. Every index is cut to
// the last band (a file with fewer than three bands never gets an index past its
// bands). A colour coded nowhere in the R, G, B case keeps 0. Always RET_SUCCESS.
int select_bands(const NitfImageSubheader& subheader, BandSelection* out);

// Extended reading's choice among three or more bands: the bands coded R, G, B, else Y,
// Cb, Cr, as select_bands takes them, in colour; else the first LU band alone, shown
// through its table; else the remembered selection, or bands 0, 1, 2 of an RGB image, in
// colour; else the first band coded M, or band 0, alone as grey. Returns how many bands
// show (3, or 1 in `red`); 0 without bands.
std::uint32_t select_extended_bands(const NitfImageSubheader& subheader, BandSelection* out);

// Bi-level decoders give pixel values that are the inverse of the NITF values. With a
// colour table, palette entries 0 and 1 of the decoded bitmap take table entries 1 and
// 0. draw_image_segment applies this to C1 and M1 bitmaps; the decoder must not.
void apply_bilevel_colours(const NitfImageSubheader& subheader, kernel::Bitmap* bitmap);

// The palette index of the pad pixel code (TPXCD's first byte, inverted for C1 and M1
// for the reason above); false when the image has no pad pixel code.
bool pad_pixel_index(const NitfImageSubheader& subheader, std::uint8_t* index);

// The image enhancement option: a picture whose every value lies in 0 to 19 (and which
// has at least one) is stretched by colour::intensity with kFullStretch; any value of
// 20 or more leaves it as it is, and so does a histogram that cannot be taken.
void brighten_if_dark(kernel::Bitmap* bitmap);

// What the composition allows a drawing to do with its canvas. `in_place`: an image that
// covers the whole canvas at its own size, drawn without transparency, bi-level colours
// or enhancement, whose pixels the painting would copy unchanged, may be read straight
// into the canvas instead of into a bitmap that is then painted (the same pixels end up
// on the canvas); only a caller that frees the canvas when a drawing fails may allow it,
// since a failed read leaves part of the picture there. `blank`: the canvas holds only
// zeros, so the rows a reader leaves alone need no clearing first. `fill_pending`: the
// canvas is not filled with `background` yet; a drawing that does not read the image
// straight into the canvas fills it before it paints (one that does covers all of it).
struct CanvasUse {
  bool in_place = false;
  bool blank = false;
  bool fill_pending = false;
  std::uint32_t background = 0;
};

// Reads image `index` of the document into a bitmap of its own and paints it stretched
// into its place: ILOC plus the attachment offsets, NPPBH x NBPR by NPPBV x NBPC (C4 and
// M4 images: the decoded bitmap's own size). An image with a pad pixel code leaves the
// canvas showing where its pixels have the pad colour. Everything made for the drawing
// is released. Results: the reader's failure (nothing painted), RET_FILE_FORMAT for a
// place beyond the canvas coordinates' range, RET_NO_MEMORY, or the painting's result.
int draw_image_segment(const FltLoadRequest* load, kernel::DrawingContext* dc, NitfDocument* d,
                       std::uint32_t index, std::int64_t row_offset, std::int64_t column_offset,
                       CanvasUse use = {});

}  // namespace nitf
