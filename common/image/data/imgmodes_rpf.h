// RPF map frames (MIL-STD-2411: CADRG, CIB) read in extended reading; the section
// layouts are described in imgmodes_rpf.cpp.
#pragma once

#include "image/data/imgmodes.h"

namespace nitf {

// Whether image data of IC C4 or M4 are read as an RPF frame: the document is read
// extended and the subheader's user-defined or extended area holds an RPFIMG TRE.
bool is_rpf_frame(const ImageReadContext& context);

// Reads an RPF frame into an 8-bit palette bitmap of the block grid's size (one
// subframe per block) whose palette is the frame's colour table (its colour/grey
// section), completed by the band's LUT. Results: RET_SUCCESS; RET_NOT_SUPPORTED for a frame of
// several spectral groups, another compression algorithm, lookup values other than
// bytes, or an image that is not one band of 8 bits; RET_FILE_FORMAT for a location
// table, section, offset or count that the RPFIMG TRE, the image segment or its
// section cannot hold, or a code past the lookup tables; RET_FILE_READ when the file
// ends before the image segment does; RET_NO_MEMORY.
int read_rpf_frame(const ImageReadContext& context);

// The transparent output pixel code of an RPF frame's mask subsection, when it has one:
// the painting leaves pixels of that value out, as it does a NITF pad pixel.
bool rpf_transparent_code(const NitfImageSubheader& subheader, std::uint8_t* code);

}  // namespace nitf
