// The data extension subheader reader.
#include "dexsbhdr.h"

#include <kvntfu.h>

#include "kernel.h"

namespace nitf {

int read_dexsbhdr(NitfDesSubheader*, ::NitfDocument*, StreamingFileHeader*, ReadMode) {
  kernel::debug_output("data extension subheaders are not read yet\n");
  return RET_NOT_SUPPORTED;
}

}  // namespace nitf
