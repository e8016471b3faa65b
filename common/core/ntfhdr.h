// The NITF file header record and its reader.
//
// NitfFileHeaderData holds every field of a NITF 2.1 / NSIF file header exactly as
// read (characters plus NUL), the converted values the document works from, and per
// segment kind the "source" lengths (as in the source file, positioning reads these)
// and the "current" lengths (what the next saved file gets). Lengths are kept in 64
// bits so that segments beyond 2 GiB are positioned exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/fieldreader.h"
#include "core/strmfhdr.h"
#include "core/trearea.h"
#include "kernel.h"

namespace nitf {

// Subheader and data lengths of one segment kind.
struct LengthTables {
  std::int32_t count = 0;
  kernel::Buffer<std::uint64_t> subheader_source;
  kernel::Buffer<std::uint64_t> subheader_current;
  kernel::Buffer<std::uint64_t> data_source;
  kernel::Buffer<std::uint64_t> data_current;

  bool allocate(std::size_t n);
  void reset();
  // Entries beyond the table count as 0.
  std::uint64_t subheader(std::size_t i) const { return subheader_source.at_or(i, 0); }
  std::uint64_t data(std::size_t i) const { return data_source.at_or(i, 0); }
};

struct NitfFileHeaderData {
  NitfFileHeaderData();
  NitfFileHeaderData(const NitfFileHeaderData&) = delete;
  NitfFileHeaderData& operator=(const NitfFileHeaderData&) = delete;

  std::int32_t valid = 0;  // 1 once FHDR was read and accepted
  std::int32_t clevel = 3;
  std::uint32_t background = 0;  // FBKGC as 0x00BBGGRR
  std::int64_t fl_source = 0;
  std::int64_t hl_source = 0;
  std::int64_t hl_current = 0;
  std::int64_t fl_current = 0;
  LengthTables images, graphics, texts, des, res;
  TreArea udhd, xhd;

  // Text fields in file order, each with room for its width (more for the five the
  // public setter may widen) plus NUL.
  char fhdr[5], fver[6], clevel_text[3], stype[5], ostaid[11], fdt[15], ftitle[81];
  char fsclas[2], fsclsy[3], fscode[41], fsctlh[41], fsrel[41], fsdctp[3], fsdcdt[9];
  char fsdcxm[5], fsdg[2], fsdgdt[9], fscltx[44], fscatp[2], fscaut[41], fscrsn[2];
  char fssrdt[9], fsctln[21], fscop[6], fscpys[6], encryp[2], fbkgc[4], oname[28];
  char ophone[19], fl[13], hl[7], numi[4], nums[4], numx[4], numt[4], numdes[4];
  char numres[4], udhdl[6], udhofl[4], xhdl[6], xhdlofl[4];
};

// One fixed field of the header's leading run (FHDR to HL): the table drives the
// reader, and the writer and the client's listing read the same widths from it.
struct HeaderField {
  const char* name;
  std::uint8_t width;  // in the file
  std::uint8_t room;   // in the record, without the NUL
  bool numeric;        // BCS-N digits
  char* (*text)(NitfFileHeaderData&);
};

// The fields FHDR to HL in file order.
const HeaderField* header_fields(std::size_t* count);
// A field of the leading run by its NITF name, or null.
const HeaderField* find_header_field(std::string_view name);

// Length of a file header without segments and extensions.
inline constexpr std::int64_t kMinimalHeaderLength = 388;

// Where the reader reads: the document's source file and streaming state.
struct HeaderSource {
  int handle;
  std::int64_t file_size;
  StreamingState* streaming;
  StreamingFileHeader* sfh;
};

// Reads the file header at the current position. In normal mode a header whose lengths
// are all nines is read again from the streaming file header's replacement data; that
// re-read is bounded by the replacement bytes and never starts another one. Results:
// RET_SUCCESS, RET_FILE_READ, RET_FILE_FORMAT, RET_UNSUPPORTED_VERSION,
// RET_UNSUPPORTED_CLEVEL (after the "Unsupported CLEVEL" message), RET_NO_MEMORY, or
// the streaming lookup's code.
int read_file_header(NitfFileHeaderData* header, const HeaderSource& source, ReadMode mode);

}  // namespace nitf
