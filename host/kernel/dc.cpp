// Kernel drawing contexts: made on a bitmap, palettes selected into them, deleted.
#include "dc.h"

#include "memory.h"

namespace kernel {

DrawingContext* device_context_for_bitmap(Bitmap* bitmap) {
  if (!bitmap || !bitmap->data) return nullptr;
  Tracked<DrawingContext> context = make_tracked<DrawingContext>();
  if (!context) return nullptr;
  context->bitmap = bitmap;
  set_rect(&context->clip, 0, 0, bitmap->width, bitmap->height);
  return context.release();
}

void delete_device_context(DrawingContext* context) {
  Tracked<DrawingContext> owner(context);  // null is fine: the deleter is not called
}

Palette* select_palette(DrawingContext* context, Palette* palette) {
  if (!context) return nullptr;
  Palette* previous = context->palette;
  context->palette = palette;
  return previous;
}

std::uint32_t realize_palette(DrawingContext* context) {
  return context && context->palette ? context->palette->count : 0;
}

}  // namespace kernel
