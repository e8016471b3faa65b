// The reader of T.4 bi-level image data.
#include <kvntfu.h>

#include "imgmodes.h"
#include "kernel.h"

namespace nitf {

int read_bilevel_compressed(const ImageReadContext&) {
  kernel::debug_output("\nread_image: no reader for T.4 bi-level data yet\n");
  return RET_NOT_SUPPORTED;
}

}  // namespace nitf
