// The image subheader reader.
#include "imsubhdr.h"

#include <kvntfu.h>

#include "kernel.h"

namespace nitf {

int read_imsubhdr(NitfImageSubheader*, ::NitfDocument*, StreamingFileHeader*, ReadMode) {
  kernel::debug_output("image subheaders are not read yet\n");
  return RET_NOT_SUPPORTED;
}

}  // namespace nitf
