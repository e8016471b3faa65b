// Text segments: the text subheader ("TE") record, its defaults and reader, and the
// text itself as applications get it through Kv_NITFGetTextSegment.
//
// A record keeps every field exactly as read, TXTALVL also as a number, and the TXSHD
// extension area raw. The text of a segment read from a file stays in the file and is
// read on demand; text appended by the application is held in the record until the
// document is saved.
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

struct NitfDocument;

namespace nitf {

struct NitfTextSubheader {
  // A new record holds the defaults an appended text segment starts from.
  explicit NitfTextSubheader(NitfDocument* owner, std::uint32_t position);

  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's text segments

  // Text appended in memory and not yet saved: the characters and a NUL.
  kernel::Buffer<char> memory_text;
  std::int32_t has_memory_text = 0;

  std::int32_t read = 0;  // 1 once a valid "TE" was read
  std::int32_t txtalvl = 0;

  // The fields' characters as read or set, each with room for its width and a NUL.
  // TEXTID and the security fields have the room of the wider of the two versions'
  // layouts.
  char textid[11] = {}, te[3] = {}, txtdt[15] = {}, txtalvl_text[4] = {}, txtitl[81] = {};
  char tsclas[2] = {}, tsclsy[3] = {}, tscode[41] = {}, tsctlh[41] = {}, tsrel[41] = {};
  char tsdctp[3] = {}, tsdcdt[9] = {}, tsdcxm[5] = {}, tsdg[2] = {}, tsdgdt[9] = {};
  char tscltx[44] = {}, tscatp[2] = {}, tscaut[41] = {}, tscrsn[2] = {}, tssrdt[9] = {};
  char tsctln[21] = {}, encryp[2] = {}, txtfmt[4] = {}, txshdl[6] = {}, txsofl[4] = {};
  char tsdwng[7] = {}, tsdevt[41] = {};  // NITF 2.0 only

  TreArea txshd;
};

using TextSubheaderList = SegmentList<NitfTextSubheader>;

// The text subheader's fields in file order; each value is its entry's position.
enum class TextId {
  TE,
  TEXTID,
  TXTALVL,
  TXTDT,
  TXTITL,
  TSCLAS,
  TSCLSY,
  TSCODE,
  TSCTLH,
  TSREL,
  TSDCTP,
  TSDCDT,
  TSDCXM,
  TSDG,
  TSDGDT,
  TSCLTX,
  TSCATP,
  TSCAUT,
  TSCRSN,
  TSSRDT,
  TSCTLN,
  ENCRYP,
  TXTFMT,
  TXSHDL,
  TXSOFL,
  TXSHD,
};

// The NITF 2.0 text subheader's fields (MIL-STD-2500A): a 10-character TEXTID and no
// attachment level, the 2.0 security group.
enum class Text20Id {
  TE,
  TEXTID,
  TXTDT,
  TXTITL,
  TSCLAS,
  TSCODE,
  TSCTLH,
  TSREL,
  TSCAUT,
  TSCTLN,
  TSDWNG,
  TSDEVT,
  ENCRYP,
  TXTFMT,
  TXSHDL,
  TXSOFL,
  TXSHD,
};

using TextField = Field<NitfTextSubheader>;

std::span<const TextField> text_fields();
std::span<const TextField> text20_fields();
// The table of the record's document: text20_fields() for a NITF 2.0 file.
std::span<const TextField> text_fields(const NitfTextSubheader& record);
// TE to TXSHDL: the length of a subheader without an extension area.
std::int64_t text_subheader_length();

// Reads the subheader at the current file position, never past the subheader length
// the file header gives for this segment. On success the position is restored.
// Results: RET_SUCCESS; RET_FILE_FORMAT for a bad TE or TXSHDL; RET_FILE_READ when a
// field or the extension area runs past the subheader or the file; RET_NO_MEMORY.
int read_txsubhdr(NitfTextSubheader* record, ::NitfDocument* document, StreamingFileHeader* sfh,
                  ReadMode mode);

// The data length of text segment `index` in the file header's table; 0 when the index
// is out of range, its record is missing or the table has no entry for it (an appended
// segment until the document is saved and read again).
std::uint64_t text_data_length(const ::NitfDocument& document, std::uint32_t index);

// Copies the text of segment `index` into `buffer` (room for its length + 1) and puts
// a NUL after it: from memory for appended text, else from the source file after
// checking that the file holds the whole length. Results: RET_SUCCESS, RET_FAILURE for
// a missing record, RET_FILE_READ.
int read_text_segment(::NitfDocument* document, std::uint32_t index, char* buffer);

}  // namespace nitf
