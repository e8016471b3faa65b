// The reader of JPEG-family image data.
#include <kvntfu.h>

#include "imgmodes.h"
#include "kernel.h"

namespace nitf {

int read_jpeg_family(const ImageReadContext&) {
  kernel::debug_output("\nread_image: no reader for JPEG-family data yet\n");
  return RET_NOT_SUPPORTED;
}

}  // namespace nitf
