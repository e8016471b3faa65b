// The reserved extension subheader ("RE"): its record, field tables and reader.
//
// Reserved extension segments are kept as the file holds them: the writer copies their
// subheaders and data from the source file. The records exist so that their fields can
// be listed (Kv_NITFGetFieldText, nitf info); nothing writes from them. A record keeps
// every field as read and the user-defined subheader fields (RESSHF) NUL-terminated.
#pragma once

#include <cstdint>
#include <span>

#include "core/segments.h"
#include "fields/field_table.h"
#include "fields/fieldreader.h"
#include "kernel.h"

struct NitfDocument;

namespace nitf {

struct NitfResSubheader {
  explicit NitfResSubheader(NitfDocument* owner, std::uint32_t position)
      : document(owner), index(position) {}

  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's reserved extension segments

  std::int32_t read = 0;  // 1 once a valid "RE" was read
  char re[3] = {}, resid[26] = {}, resver[3] = {};
  // The security fields have the room of the wider of the two versions' layouts.
  char resclas[2] = {}, resclsy[3] = {}, rescode[41] = {}, resctlh[41] = {}, resrel[41] = {};
  char resdctp[3] = {}, resdcdt[9] = {}, resdcxm[5] = {}, resdg[2] = {}, resdgdt[9] = {};
  char rescltx[44] = {}, rescatp[2] = {}, rescaut[41] = {}, rescrsn[2] = {}, ressrdt[9] = {};
  char resctln[21] = {}, resdwng[7] = {}, resdevt[41] = {};
  char resshl[5] = {};
  // RESSHL bytes and a NUL; empty when RESSHL is 0.
  kernel::Buffer<char> resshf;
};

using ResSubheaderList = SegmentList<NitfResSubheader>;

// The reserved extension subheader's fields in file order (MIL-STD-2500C): the data
// extension's layout without the overflow fields.
enum class ResId {
  RE,
  RESID,
  RESVER,
  RESCLAS,
  RESCLSY,
  RESCODE,
  RESCTLH,
  RESREL,
  RESDCTP,
  RESDCDT,
  RESDCXM,
  RESDG,
  RESDGDT,
  RESCLTX,
  RESCATP,
  RESCAUT,
  RESCRSN,
  RESSRDT,
  RESCTLN,
  RESSHL,
  RESSHF,
};

// NITF 2.0 (MIL-STD-2500A): RESTAG where 2.1 has RESID, and the 2.0 security group.
enum class Res20Id {
  RE,
  RESTAG,
  RESVER,
  RESCLAS,
  RESCODE,
  RESCTLH,
  RESREL,
  RESCAUT,
  RESCTLN,
  RESDWNG,
  RESDEVT,
  RESSHL,
  RESSHF,
};

using ResField = Field<NitfResSubheader>;

std::span<const ResField> res_fields();
std::span<const ResField> res20_fields();
// The table of the record's document: res20_fields() for a NITF 2.0 file.
std::span<const ResField> res_fields(const NitfResSubheader& record);

// Reads reserved extension subheader `record->index`, found after the data extension
// segments through the file header's length tables, never past its subheader length.
// Results: RET_SUCCESS; RET_FILE_FORMAT for a bad RE, RESVER, RESCLAS or RESSHL;
// RET_FILE_READ when a field or RESSHF runs past the subheader or the file;
// RET_NO_MEMORY. The fields read before a failure stay in the record.
int read_resubhdr(NitfResSubheader* record, ::NitfDocument* document);

}  // namespace nitf
