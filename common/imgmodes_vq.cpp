// The reader of vector-quantised image data.
#include <kvntfu.h>

#include "imgmodes.h"
#include "kernel.h"

namespace nitf {

int read_vector_quantised(const ImageReadContext&) {
  kernel::debug_output("\nread_image: no reader for vector-quantised data yet\n");
  return RET_NOT_SUPPORTED;
}

}  // namespace nitf
