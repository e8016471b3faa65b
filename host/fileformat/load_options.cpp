// Default load options of the file-format library: the record the image readers take
// before they set the RGB or band-selection flags for one stream.
#include <cstring>

#include "fileformat.h"

namespace fileformat {

std::int32_t default_load_options(FltLoadOptions* options, std::uint32_t size) {
  if (!options || size != kLoadOptionsSize) return RET_INVALID_PARAMETER;
  std::memset(options, 0, sizeof(*options));
  // The natural order, so that a caller setting KV_LOAD_BANDS without indices gets the
  // first three components.
  options->red_band = 0;
  options->green_band = 1;
  options->blue_band = 2;
  return RET_SUCCESS;
}

}  // namespace fileformat
