// The NITF 2.0 label subheader ("LA"): its record, field table and reader.
//
// Labels exist in NITF 2.0 files only (MIL-STD-2500A): a line of text drawn at LLOC in
// the text colour LTC on the background colour LBC, each character in a cell of LCW x
// LCH pixels. The record keeps every field as read (LTC and LBC as their three binary
// bytes, red first), the placement as numbers and the LXSHD extension area raw; the
// label's text is its segment's data, read when it is drawn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/segments.h"
#include "core/trearea.h"
#include "fields/field_table.h"
#include "fields/fieldreader.h"
#include "kernel.h"

struct NitfDocument;

namespace nitf {

struct NitfLabelSubheader {
  explicit NitfLabelSubheader(NitfDocument* owner, std::uint32_t position);

  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's labels

  std::int32_t read = 0;  // 1 once a valid "LA" was read
  std::int32_t ldlvl = 0, lalvl = 0, lloc_row = 0, lloc_column = 0;
  std::int32_t cell_width = 0, cell_height = 0;   // LCW, LCH; 0: the default cell
  std::uint32_t text_colour = 0, background = 0;  // LTC, LBC as 0x00BBGGRR

  char la[3] = {}, lid[11] = {}, lsclas[2] = {}, lscode[41] = {}, lsctlh[41] = {};
  char lsrel[41] = {}, lscaut[21] = {}, lsctln[21] = {}, lsdwng[7] = {}, lsdevt[41] = {};
  char encryp[2] = {}, lfs[2] = {}, lcw[3] = {}, lch[3] = {}, ldlvl_text[4] = {};
  char lalvl_text[4] = {}, lloc[11] = {}, ltc[4] = {}, lbc[4] = {}, lxshdl[6] = {};
  char lxsofl[4] = {};

  TreArea lxshd;
};

using LabelSubheaderList = SegmentList<NitfLabelSubheader>;

enum class LabelId {
  LA,
  LID,
  LSCLAS,
  LSCODE,
  LSCTLH,
  LSREL,
  LSCAUT,
  LSCTLN,
  LSDWNG,
  LSDEVT,
  ENCRYP,
  LFS,
  LCW,
  LCH,
  LDLVL,
  LALVL,
  LLOC,
  LTC,
  LBC,
  LXSHDL,
  LXSOFL,
  LXSHD,
};

using LabelField = Field<NitfLabelSubheader>;

std::span<const LabelField> label_fields();

// Reads the subheader at the current file position, never past the subheader length
// the file header gives for this label. On success the position is restored. Results:
// RET_SUCCESS; RET_FILE_FORMAT for a bad LA, LSCLAS or LXSHDL; RET_FILE_READ when a
// field or the extension area runs past the subheader or the file; RET_NO_MEMORY.
int read_lasubhdr(NitfLabelSubheader* record, ::NitfDocument* document, ReadMode mode);

// A 2.0 security group's downgrading event: present when the downgrade field says
// 999998.
inline bool downgrades_on_event(const char* dwng) {
  return dwng[0] == '9' && dwng[1] == '9' && dwng[2] == '9' && dwng[3] == '9' && dwng[4] == '9' &&
         dwng[5] == '8';
}

}  // namespace nitf
