// Kernel drawing contexts: the surface the composition and the image and graphic
// painters draw on. A context targets one kernel bitmap that it does not own, clips
// every painting to the bitmap's bounds, and holds the palette selected for the
// painting in progress. Contexts are kernel records, tracked as ObjectKind::kRecord.
#pragma once

#include <algorithm>
#include <cstdint>

#include "bitmap.h"
#include "palette.h"

namespace kernel {

// Edges in pixels, right and bottom exclusive; y grows downwards (display rows).
struct Rect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

inline void set_rect(Rect* rect, std::int32_t left, std::int32_t top, std::int32_t right,
                     std::int32_t bottom) {
  *rect = Rect{left, top, right, bottom};
}

inline bool rect_empty(const Rect& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

// The common part of a and b; false (and an empty *out) when they do not meet.
inline bool intersect_rect(const Rect& a, const Rect& b, Rect* out) {
  *out = Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
  if (!rect_empty(*out)) return true;
  *out = Rect{};
  return false;
}

struct DrawingContext {
  Bitmap* bitmap = nullptr;    // the target, owned by the caller
  Rect clip;                   // the target's bounds
  Palette* palette = nullptr;  // selected, not owned
  // Canvas pixels per picture pixel of a composition drawn at another scale (a region
  // composed into a bitmap of another size): vector painting scales its geometry and
  // pens by them, so drawings stay sharp. 1 for an ordinary canvas.
  double scale_x = 1, scale_y = 1;
  // How far (in canvas pixels, each side at most 4096) the picture goes on beyond each
  // edge of the canvas: vector painting lets Cairo cut geometry there rather than at the
  // edge, so a region's edge pixels equal the whole picture's. 0 for an ordinary canvas.
  Rect beyond{0, 0, 0, 0};
  // Where the canvas's (0, 0) lies in the whole picture drawn at this scale: patterns
  // (hatching) keep the whole picture's grid. 0 for an ordinary canvas.
  std::int64_t corner_x = 0, corner_y = 0;
};

// A context painting into `bitmap`; null without a bitmap holding pixel data, or when
// memory is refused. The bitmap must outlive the context.
DrawingContext* device_context_for_bitmap(Bitmap* bitmap);
void delete_device_context(DrawingContext* context);

// Selects `palette` (may be null) and returns the one selected before, so a painter
// can put it back.
Palette* select_palette(DrawingContext* context, Palette* palette);
// The number of entries of the selected palette that painting will use (0 without one).
std::uint32_t realize_palette(DrawingContext* context);

}  // namespace kernel
