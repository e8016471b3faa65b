// The test generator's image side: image subheaders, mask tables and streaming files
// whose replacement data carry more than the file header.
//
// Like the rest of nitfgen it lays the bytes out from its own list of fields and widths,
// not from the module's tables, so that a test of the reader compares two independent
// readings of MIL-STD-2500C.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "nitfgen.h"

namespace nitfgen {

struct BandSpec {
  BandSpec() = default;
  explicit BandSpec(std::string representation) : irepband(std::move(representation)) {}

  std::string irepband;  // IREPBANDn, 2 (padded)
  std::string isubcat;   // ISUBCATn, 6
  std::string ifc = "N";
  std::string imflt;
  // NLUTSn tables of NELUTn bytes each; NELUTn is the size of the first.
  std::vector<std::string> luts;
  // Written in place of the counts derived from `luts` when not empty (broken files).
  std::string nluts_text, nelut_text;
};

struct MaskSpec {
  // Offset from the start of the image data to the pixels; computed when negative.
  long long imdatoff = -1;
  // BMRLNTH (and TMRLNTH) is 4 when there are records, 0 otherwise.
  std::vector<std::uint32_t> block_records, pad_records;
  std::uint16_t tpxcdlnth = 0;
  std::string tpxcd;  // (TPXCDLNTH + 7) / 8 bytes
};

// A mask of block records alone.
inline MaskSpec block_mask(std::vector<std::uint32_t> records, long long imdatoff = -1) {
  return {imdatoff, std::move(records), {}, 0, {}};
}

struct ImageShape {
  long long nrows = 8, ncols = 8;
  std::string pvtype = "INT", irep = "MONO", icat = "VIS";
  int abpp = 8;
  std::string pjust = "R";
  std::string icords = " ", igeolo;  // IGEOLO is written when ICORDS is not a space
  std::vector<std::string> comments;
  std::string ic = "NC", comrat = "    ";      // COMRAT is written unless IC is NC or NM
  std::vector<BandSpec> bands{BandSpec{"M"}};  // more than 9 go to XBANDS
  std::string imode = "B";
  int nbpr = 1, nbpc = 1, nppbh = 8, nppbv = 8, nbpp = 8;
  int idlvl = 1, ialvl = 0;
  int iloc_row = 0, iloc_column = 0;
  std::string imag = "1.0";
  bool has_udid = false, has_ixshd = false;  // UDIDL/IXSHDL 00000 when false
  std::string udid, ixshd;                   // TRE bytes, without the overflow field
  std::optional<MaskSpec> mask;              // written at the start of the data
  // Raw replacements of fixed fields by NITF name (IID1, NROWS, NBANDS, XBANDS, ILOC,
  // IMAG, UDIDL, IXSHDL …), written as given, padded or cut to the field width.
  std::map<std::string, std::string> fields;
};

// The subheader bytes.
std::string image_subheader(const ImageShape& layout);
// An image segment: the subheader, then the mask table (if any) and the pixel bytes.
Segment image_segment(const ImageShape& layout, const std::string& pixels);
// A file of one image segment.
std::string image_file(const ImageShape& layout, const std::string& pixels);

// Uncompressed pixel data: sample(band, x, y) of the whole block grid, NBPP bits each,
// most significant bit first, in the order IMODE gives (B: each block's band planes; P:
// pixel by pixel; R: row by row, one band after another; S: every block of band 0, then
// of band 1 ...). A unit (a block, or in S one band of a block) ends on a byte. `order`
// lists the units in the order they are stored (S numbers band b of block k b x blocks
// + k); units not listed are left out. Empty: every unit in sequence.
using SampleAt = std::function<std::uint64_t(int band, int x, int y)>;
struct Pixels {
  std::string bytes;
  std::vector<std::uint32_t> offsets;  // per unit; 0xFFFFFFFF for one left out
};
Pixels image_pixels(const ImageShape& layout, const SampleAt& sample, std::vector<int> order = {});

// A file written with unknown lengths (as build() with layout.streaming) whose
// replacement data hold the real file header followed by `tail`: the real subheaders
// that the file's own segments mark with all nines.
std::string build_streaming(const FileSpec& layout, const std::string& tail);

}  // namespace nitfgen
