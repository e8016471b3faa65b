// The data extension subheader ("DE"): its record and reader.
//
// A record keeps every field exactly as read and the user-defined subheader fields
// (DESSHF) NUL-terminated; the DES data after the subheader stays in the file, found
// through the file header's length tables when the writer copies it. DESOFLW and
// DESITEM exist only in TRE_OVERFLOW segments; des_has_overflow_fields is the one test
// for that, shared by the reader and the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/segments.h"
#include "core/strmfhdr.h"
#include "fields/field_table.h"
#include "fields/fieldreader.h"
#include "kernel.h"

struct NitfDocument;

namespace nitf {

struct NitfDesSubheader {
  // A new record is all zeros and holds no buffer.
  explicit NitfDesSubheader(NitfDocument* owner, std::uint32_t position)
      : document(owner), index(position) {}

  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's data extension segments

  std::int32_t read = 0;  // 1 once a valid "DE" was read
  char de[3] = {}, desid[26] = {}, desver[3] = {};
  // The security fields have the room of the wider of the two versions' layouts.
  char desclas[2] = {}, desclsy[3] = {}, descode[41] = {}, desctlh[41] = {}, desrel[41] = {};
  char desdctp[3] = {}, desdcdt[9] = {}, desdcxm[5] = {}, desdg[2] = {}, desdgdt[9] = {};
  char descltx[44] = {}, descatp[2] = {}, descaut[41] = {}, descrsn[2] = {}, dessrdt[9] = {};
  char desctln[21] = {}, desdwng[7] = {}, desdevt[41] = {};
  char desoflw[7] = {}, desitem[4] = {};  // empty unless des_has_overflow_fields
  char desshl[5] = {};
  // DESSHL bytes and a NUL; empty when DESSHL is 0.
  kernel::Buffer<char> desshf;
};

using DesSubheaderList = SegmentList<NitfDesSubheader>;

// The data extension subheader's fields in file order; each value is its entry's
// position. DESSHF is the user-defined fields' bytes.
enum class DesId {
  DE,
  DESID,
  DESVER,
  DESCLAS,
  DESCLSY,
  DESCODE,
  DESCTLH,
  DESREL,
  DESDCTP,
  DESDCDT,
  DESDCXM,
  DESDG,
  DESDGDT,
  DESCLTX,
  DESCATP,
  DESCAUT,
  DESCRSN,
  DESSRDT,
  DESCTLN,
  DESOFLW,
  DESITEM,
  DESSHL,
  DESSHF,
};

// The NITF 2.0 data extension subheader's fields (MIL-STD-2500A): DESTAG where 2.1 has
// DESID, the 2.0 security group; DESOFLW and DESITEM follow for the registered and
// controlled extensions' overflow.
enum class Des20Id {
  DE,
  DESTAG,
  DESVER,
  DESCLAS,
  DESCODE,
  DESCTLH,
  DESREL,
  DESCAUT,
  DESCTLN,
  DESDWNG,
  DESDEVT,
  DESOFLW,
  DESITEM,
  DESSHL,
  DESSHF,
};

using DesField = Field<NitfDesSubheader>;

std::span<const DesField> des_fields();
std::span<const DesField> des20_fields();
// The table of the record's document: des20_fields() for a NITF 2.0 file.
std::span<const DesField> des_fields(const NitfDesSubheader& record);

// True when DESID, without its trailing blanks, is TRE_OVERFLOW: only then do DESOFLW
// (6) and DESITEM (3) follow the security fields.
bool des_has_overflow_fields(const NitfDesSubheader& record);

// Reads the subheader at the current file position, never past the subheader length
// the file header gives for this segment. On success the position is restored.
// Results: RET_SUCCESS; RET_FILE_FORMAT for a bad DE, DESVER, DESCLAS or DESSHL;
// RET_FILE_READ when a field or DESSHF runs past the subheader or the file;
// RET_NO_MEMORY.
int read_dexsbhdr(NitfDesSubheader* record, ::NitfDocument* document, StreamingFileHeader* sfh,
                  ReadMode mode);

}  // namespace nitf
