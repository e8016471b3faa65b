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
#include <span>

#include "core/strmfhdr.h"
#include "core/trearea.h"
#include "fields/field_table.h"
#include "fields/fieldreader.h"
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
  LengthTables images, graphics, labels, texts, des, res;
  // 1 for a NITF 2.0 file (extended reading only): its fields follow header20_fields().
  std::int32_t nitf20 = 0;
  TreArea udhd, xhd;

  // The fields' characters as read or set, in file order, each with room for its
  // width and a NUL. FBKGC holds three binary bytes.
  char fhdr[5], fver[6], clevel_text[3], stype[5], ostaid[11], fdt[15], ftitle[81];
  // The security fields have the room of the wider of the two versions' layouts.
  char fsclas[2], fsclsy[3], fscode[41], fsctlh[41], fsrel[41], fsdctp[3], fsdcdt[9];
  char fsdcxm[5], fsdg[2], fsdgdt[9], fscltx[44], fscatp[2], fscaut[41], fscrsn[2];
  char fssrdt[9], fsctln[21], fscop[6], fscpys[6], encryp[2], fbkgc[4], oname[28];
  char ophone[19], fl[13], hl[7], numi[4], nums[4], numx[4], numt[4], numdes[4];
  char numres[4], udhdl[6], udhofl[4], xhdl[6], xhdlofl[4];
  char fsdwng[7] = {}, fsdevt[41] = {}, numl[4] = {};  // NITF 2.0 only
};

// The file header's fields in file order; each value is its entry's position in the
// table.
enum class HeaderId {
  FHDR,
  FVER,
  CLEVEL,
  STYPE,
  OSTAID,
  FDT,
  FTITLE,
  FSCLAS,
  FSCLSY,
  FSCODE,
  FSCTLH,
  FSREL,
  FSDCTP,
  FSDCDT,
  FSDCXM,
  FSDG,
  FSDGDT,
  FSCLTX,
  FSCATP,
  FSCAUT,
  FSCRSN,
  FSSRDT,
  FSCTLN,
  FSCOP,
  FSCPYS,
  ENCRYP,
  FBKGC,
  ONAME,
  OPHONE,
  FL,
  HL,
  NUMI,
  LISH,
  LI,
  NUMS,
  LSSH,
  LS,
  NUMX,
  NUMT,
  LTSH,
  LT,
  NUMDES,
  LDSH,
  LD,
  NUMRES,
  LRESH,
  LRE,
  UDHDL,
  UDHOFL,
  UDHD,
  XHDL,
  XHDLOFL,
  XHD,
};

// The NITF 2.0 file header (MIL-STD-2500A): the 2.0 security group, no FBKGC, a wider
// ONAME, and labels (NUML) where 2.1 has NUMX.
enum class Header20Id {
  FHDR,
  FVER,
  CLEVEL,
  STYPE,
  OSTAID,
  FDT,
  FTITLE,
  FSCLAS,
  FSCODE,
  FSCTLH,
  FSREL,
  FSCAUT,
  FSCTLN,
  FSDWNG,
  FSDEVT,
  FSCOP,
  FSCPYS,
  ENCRYP,
  ONAME,
  OPHONE,
  FL,
  HL,
  NUMI,
  LISH,
  LI,
  NUMS,
  LSSH,
  LS,
  NUML,
  LLSH,
  LL,
  NUMT,
  LTSH,
  LT,
  NUMDES,
  LDSH,
  LD,
  NUMRES,
  LRESH,
  LRE,
  UDHDL,
  UDHOFL,
  UDHD,
  XHDL,
  XHDLOFL,
  XHD,
};

using HeaderField = Field<NitfFileHeaderData>;

// The file header's field table.
std::span<const HeaderField> header_fields();

// The NITF 2.0 file header's field table.
std::span<const HeaderField> header20_fields();
// The table of the header's version.
std::span<const HeaderField> header_fields(const NitfFileHeaderData& header);

// One segment kind's count and table of subheader and data lengths.
template <class Id>
struct LengthGroupOf {
  Id count, subheader, data;         // NUMI, LISH, LI
  bool subheader_marks, data_marks;  // whether an all-nines entry means "written unknown"
  LengthTables NitfFileHeaderData::*tables;
};
using LengthGroup = LengthGroupOf<HeaderId>;
using LengthGroup20 = LengthGroupOf<Header20Id>;

// Images, graphics, texts, data extensions and reserved extensions, in file order.
std::span<const LengthGroup> length_groups();
// NITF 2.0: images, symbols, labels, texts, data and reserved extensions.
std::span<const LengthGroup20> length_groups20();
// The group whose count field is `id`, or null.
const LengthGroup* length_group_counted_by(HeaderId id);

// The user-defined and extended header areas: length, overflow and area fields.
struct HeaderArea {
  HeaderId length, overflow, area;
  TreArea NitfFileHeaderData::*tres;
};
std::span<const HeaderArea> header_areas();

// Length of a file header without segments and extensions.
inline constexpr std::int64_t kMinimalHeaderLength = 388;

// Where the reader reads: the document's source file and streaming state.
struct HeaderSource {
  int handle;
  std::int64_t file_size;
  StreamingState* streaming;
  StreamingFileHeader* sfh;
  bool extended = false;  // the document reads extended: complexity levels 01 to 09, NITF 2.0
};

// Reads the file header at the current position. In normal mode a header whose lengths
// are all nines is read again from the streaming file header's replacement data; that
// re-read is bounded by the replacement bytes and never starts another one. Results:
// RET_SUCCESS, RET_FILE_READ, RET_FILE_FORMAT, RET_UNSUPPORTED_VERSION,
// RET_UNSUPPORTED_CLEVEL (after the "Unsupported CLEVEL" message), RET_NO_MEMORY, or
// the streaming lookup's code.
int read_file_header(NitfFileHeaderData* header, const HeaderSource& source, ReadMode mode);

}  // namespace nitf
