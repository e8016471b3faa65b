// A generated file that holds every optional part the readers and the writer know: the
// file the save round trip, the subheader sweeps and the field checks share.
#pragma once

#include "nitfgen.h"

namespace nitfgen {

// XBANDS 12, NLUTS 3 of 256 entries, UDIDL 00000 with IXSHDL 00003, comments and
// IGEOLO, a masked NM image, C8 with COMRAT "N045" and IMAG "0.25", C4 and M4 (VQ),
// extension areas in every header, a TRE_OVERFLOW segment, DESSHF, a zero-length text
// and a reserved extension segment.
FileSpec every_part_file();

// A 16 x 16 VQ image in 8 x 8 blocks; `masked` leaves block 1 unrecorded (M4).
Segment vq_segment(bool masked);

}  // namespace nitfgen
