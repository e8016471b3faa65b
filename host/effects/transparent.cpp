// Effects transparent paint: the display painter with a colour key. The toolkit call
// passes many further arguments that only ever take one value; they are not modelled.
#include "transparent.h"

#include "display/paint.h"

namespace effects {

std::int32_t transparent_paint(kernel::DrawingContext* context, const kernel::Bitmap* source,
                               const kernel::Rect* destination, std::uint32_t transparent_colour,
                               std::uint32_t raster_op) {
  return display::paint_keyed(context, source, nullptr, destination, raster_op, transparent_colour);
}

}  // namespace effects
