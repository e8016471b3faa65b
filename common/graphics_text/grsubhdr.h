// The graphic subheader ("SY"): its record, the defaults of a new record and the reader.
//
// A record keeps every field exactly as read (characters plus NUL), the placement
// fields also as numbers, the SXSHD extension area raw, and, for a graphic appended to
// the document, the CGM bytes the writer will store. The field table below is the one
// place where the widths live: the reader walks it, and the writer and the public
// record's setter take their widths from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/segments.h"
#include "core/strmfhdr.h"
#include "core/trearea.h"
#include "fields/field_table.h"
#include "fields/fieldreader.h"
#include "kernel.h"
#include "vector/drawing.h"

struct NitfDocument;

namespace nitf {

struct NitfGraphicSubheader {
  // A new record holds the defaults an appended graphic starts from.
  explicit NitfGraphicSubheader(NitfDocument* owner, std::uint32_t position);

  // The vector drawing. It heads the record, so that a pointer to the record is a
  // pointer to the drawing (Kv_NITFGetVectorHandle hands out exactly that). Filled when
  // the segment is drawn or asked for, reset before every load.
  vector::Drawing vector;
  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's graphic segments

  std::int32_t read = 0;  // 1 once a valid "SY" was read
  char sid[11] = {};

  // Placement converted from SDLVL, SALVL, SLOC, SBND1 and SBND2. Each location's first
  // 5-character group is its row, the second its column.
  std::int32_t sdlvl = 0, salvl = 0;
  std::int32_t sloc_row = 0, sloc_column = 0;
  std::int32_t sbnd1_first = 0, sbnd1_second = 0;
  std::int32_t sbnd2_first = 0, sbnd2_second = 0;

  // The fields' characters as read or set, each with room for its width and a NUL.
  // The security fields have the room of the wider of the two versions' layouts.
  char sy[3] = {}, sname[21] = {}, ssclas[2] = {}, ssclsy[3] = {}, sscode[41] = {};
  char ssctlh[41] = {}, ssrel[41] = {}, ssdctp[3] = {}, ssdcdt[9] = {}, ssdcxm[5] = {};
  char ssdg[2] = {}, ssdgdt[9] = {}, sscltx[44] = {}, sscatp[2] = {}, sscaut[41] = {};
  char sscrsn[2] = {}, sssrdt[9] = {}, ssctln[21] = {}, encryp[2] = {}, sfmt[2] = {};
  char sstruct[14] = {}, sdlvl_text[4] = {}, salvl_text[4] = {}, sloc[11] = {};
  char sbnd1[11] = {}, scolor[2] = {}, sbnd2[11] = {}, sres2[3] = {}, sxshdl[6] = {};
  char sxsofl[4] = {};

  // NITF 2.0 symbols (STYPE is kept in sfmt): bitmap size and depth, line width, the
  // second location, symbol number, rotation and the bitmap's colour table.
  char ssdwng[7] = {}, ssdevt[41] = {}, nlips[5] = {}, npixpl[5] = {}, nwdth[5] = {};
  char nbpp[2] = {}, sloc2[11] = {}, snum[7] = {}, srot[4] = {}, nelut[4] = {};
  std::int32_t sloc2_row = 0, sloc2_column = 0;
  kernel::Buffer<std::uint8_t> dlut;  // NELUT entries of red, green, blue

  TreArea sxshd;

  // CGM bytes of an appended or replaced drawing, written in place of the source data.
  kernel::Buffer<std::uint8_t> cgm;
  std::int32_t has_cgm = 0;
};

using GraphicSubheaderList = SegmentList<NitfGraphicSubheader>;

// The graphic subheader's fields in file order; each value is its entry's position.
enum class GraphicId {
  SY,
  SID,
  SNAME,
  SSCLAS,
  SSCLSY,
  SSCODE,
  SSCTLH,
  SSREL,
  SSDCTP,
  SSDCDT,
  SSDCXM,
  SSDG,
  SSDGDT,
  SSCLTX,
  SSCATP,
  SSCAUT,
  SSCRSN,
  SSSRDT,
  SSCTLN,
  ENCRYP,
  SFMT,
  SSTRUCT,
  SDLVL,
  SALVL,
  SLOC,
  SBND1,
  SCOLOR,
  SBND2,
  SRES2,
  SXSHDL,
  SXSOFL,
  SXSHD,
};

// The NITF 2.0 symbol subheader's fields (MIL-STD-2500A) in file order.
enum class Symbol20Id {
  SY,
  SID,
  SNAME,
  SSCLAS,
  SSCODE,
  SSCTLH,
  SSREL,
  SSCAUT,
  SSCTLN,
  SSDWNG,
  SSDEVT,
  ENCRYP,
  STYPE,
  NLIPS,
  NPIXPL,
  NWDTH,
  NBPP,
  SDLVL,
  SALVL,
  SLOC,
  SLOC2,
  SCOLOR,
  SNUM,
  SROT,
  NELUT,
  DLUT,
  SXSHDL,
  SXSOFL,
  SXSHD,
};

using GraphicField = Field<NitfGraphicSubheader>;

std::span<const GraphicField> graphic_fields();
std::span<const GraphicField> symbol20_fields();
// The table of the record's document: symbol20_fields() for a NITF 2.0 file.
std::span<const GraphicField> graphic_fields(const NitfGraphicSubheader& record);
// SY to SXSHDL: the length of a subheader without an extension area.
std::int64_t graphic_subheader_length();

// Reads the subheader at the current file position, never past the subheader length
// the file header gives for this segment. On success the position is restored.
// Results: RET_SUCCESS; RET_FILE_FORMAT for a bad SY, SSCLAS, SFMT or SXSHDL;
// RET_FILE_READ when a field or the extension area runs past the subheader or the file;
// RET_NO_MEMORY.
int read_grsubhdr(NitfGraphicSubheader* record, ::NitfDocument* document, StreamingFileHeader* sfh,
                  ReadMode mode);

}  // namespace nitf
