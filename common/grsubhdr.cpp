// The graphic subheader reader.
#include "grsubhdr.h"

#include <kvntfu.h>

#include "kernel.h"

namespace nitf {

int read_grsubhdr(NitfGraphicSubheader*, ::NitfDocument*, StreamingFileHeader*, ReadMode) {
  kernel::debug_output("graphic subheaders are not read yet\n");
  return RET_NOT_SUPPORTED;
}

}  // namespace nitf
