// The text subheader reader.
#include "txsubhdr.h"

#include <kvntfu.h>

#include "kernel.h"

namespace nitf {

int read_txsubhdr(NitfTextSubheader*, ::NitfDocument*, StreamingFileHeader*, ReadMode) {
  kernel::debug_output("text subheaders are not read yet\n");
  return RET_NOT_SUPPORTED;
}

}  // namespace nitf
