// The image subheader record, its internal codes and its reader.
//
// NitfImageSubheader keeps every field of one image subheader exactly as read (characters
// plus NUL), the values the image readers, the getter and the writer work from, the
// colour table built from the band LUTs, and the image data mask table that masked
// images carry at the start of their data. The parse driver positions the file at the
// subheader and calls read_imsubhdr; the setter and the image appender change the band
// arrays through the operations below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/segments.h"
#include "core/strmfhdr.h"
#include "core/trearea.h"
#include "fields/field_table.h"
#include "fields/fieldreader.h"
#include "image/imcodes.h"
#include "kernel.h"

struct NitfDocument;

namespace nitf {

// The magnification of an IMAG text: a decimal number, or "/n" for 1/n. False when
// the text means nothing (a divisor below 1): the reader then keeps the value it had.
bool magnification_of(const char* imag, double* value);
// The IMAG text of `magnification`: the stored text while it still says that value,
// otherwise the shortest form that fits four characters and reads back the same, the
// nearest four-character form when none does. False for 10000 and more, or no number.
bool magnification_text(const char* imag, double magnification, char out[5]);

// One palette entry, in the kernel's order.
struct ColourEntry {
  std::uint8_t blue, green, red, reserved;
};

// The image's single colour table, built from the LUTs of the last band that has LUTs.
// Its size may differ from a band's NELUT: users bound NELUT by entries.size().
struct ColourTable {
  kernel::Buffer<ColourEntry> entries;

  bool present() const { return !entries.empty(); }
};

// Per-band fields. The arrays of a record always hold band_count of these.
struct ImageBand {
  BandRepresentationCode representation;
  char irepband[3], isubcat[7], ifc[2], imflt[4], nluts[2], nelut[6];
  std::int32_t lut_count;    // NLUTSn
  std::int32_t lut_entries;  // NELUTn, 0 when the band has no LUTs
  std::uint32_t lut_offset;  // of its LUTs (NLUTSn tables of NELUTn bytes) in the record's luts
};

// One band's fields, IREPBANDn to NELUTn, in file order; the values are the entries'
// positions.
enum class BandId { IREPBAND, ISUBCAT, IFC, IMFLT, NLUTS, NELUT };
std::span<const Field<ImageBand>> band_fields();

struct ImageComment {
  char text[81];
};

// Block and pad pixel mask records are kept as the file holds them (four big-endian
// bytes each, in file order) with one zero entry after them; the accessors decode them.
struct ImageMaskTable {
  static constexpr std::uint32_t kNotRecorded = 0xFFFFFFFF;

  std::uint32_t imdatoff = 0;
  std::uint16_t bmrlnth = 0, tmrlnth = 0, tpxcdlnth = 0;
  kernel::Buffer<std::uint8_t> pad_code;        // TPXCD, (TPXCDLNTH + 7) / 8 bytes plus NUL
  kernel::Buffer<std::uint32_t> block_records;  // BMRnBNDm, raw
  kernel::Buffer<std::uint32_t> pad_records;    // TMRnBNDm, raw

  // Records in the file (without the appended zero entry).
  std::size_t block_count() const { return block_records.empty() ? 0 : block_records.size() - 1; }
  std::size_t pad_count() const { return pad_records.empty() ? 0 : pad_records.size() - 1; }
  // Record k as an offset; k up to the count (the appended entry reads 0).
  std::uint32_t block_offset(std::size_t k) const { return decode(block_records, k); }
  std::uint32_t pad_offset(std::size_t k) const { return decode(pad_records, k); }
  void clear();

 private:
  static std::uint32_t decode(const kernel::Buffer<std::uint32_t>& records, std::size_t k);
};

// Which bands become red, green and blue; kNone when nothing is remembered.
struct BandSelection {
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;
  std::uint32_t red = kNone, green = kNone, blue = kNone;
};

// The streams of blocked JPEG data without a block mask, as far as reads have found them
// (image/data/imgmodes_jpeg_scan.cpp): their starts in file order, for the data at
// `where` in the file (or `bytes` in memory) of `length` bytes. Later reads of the
// document find a block's stream here instead of scanning the data before it again.
struct FoundStreams {
  std::int64_t where = -1;
  const std::uint8_t* bytes = nullptr;
  std::uint64_t length = 0;
  kernel::Buffer<std::uint64_t> starts;
  std::uint64_t count = 0;
  bool complete = false;  // no start after the last one found
};

struct NitfImageSubheader {
  explicit NitfImageSubheader(NitfDocument* owner, std::uint32_t position);
  NitfImageSubheader(const NitfImageSubheader&) = delete;
  NitfImageSubheader& operator=(const NitfImageSubheader&) = delete;

  char scratch[256] = {};  // the getter prints numbers here
  ColourTable colours;
  // Every band's LUTs as read, band after band: what the colour table was made of, kept
  // so that each band's own tables can be shown.
  kernel::Buffer<std::uint8_t> luts;
  std::int32_t segment_read = 0;  // 1 once IM was accepted

  // Converted values.
  std::uint32_t rows = 0, columns = 0;
  PixelValueTypeCode pixel_type = PixelValueTypeCode::kInteger;
  RepresentationCode representation = RepresentationCode::kRgb;
  std::int32_t significant_bits = 1;  // ABPP
  std::int32_t right_justified = 1;   // PJUST is not "L"
  CompressionCode compression = CompressionCode::kUnknown;
  std::int32_t nbands_value = 0;  // NBANDS as read, 0 when XBANDS counts the bands
  std::int32_t band_count = 0;    // NBANDS or XBANDS; every per-band array has this many
  ImageModeCode mode = ImageModeCode::kPixel;
  std::int32_t comment_count = 0;  // NICOM; comments holds this many
  std::int32_t blocks_per_row = 0, blocks_per_column = 0;
  std::int32_t block_width = 0, block_height = 0;  // NPPBH, NPPBV
  std::int32_t bits_per_pixel = 1;                 // NBPP
  std::int32_t display_level = 1, attachment_level = 0;
  std::int32_t location_row = 0, location_column = 0;
  double magnification = 1.0;
  ImageMaskTable mask;
  BilevelModeCode bilevel_mode = BilevelModeCode::kNone;

  // The fields' characters as read or set, in file order, each with room for its width
  // and a NUL.
  // The security fields have the room of the wider of the two versions' layouts.
  char im[3], iid1[11], idatim[15], tgtid[18], iid2[81], isclas[2], isclsy[3], iscode[41];
  char isctlh[41], isrel[41], isdctp[3], isdcdt[9], isdcxm[5], isdg[2], isdgdt[9];
  char iscltx[44], iscatp[2], iscaut[41], iscrsn[2], issrdt[9], isctln[21], encryp[2];
  char isdwng[7] = {}, isdevt[41] = {};  // NITF 2.0 only
  char isorce[43], nrows[9], ncols[9], pvtype[4], irep[9], icat[9], abpp[3], pjust[2];
  char icords[2], igeolo[61], nicom[2];
  kernel::Buffer<ImageComment> comments;
  char ic[3], comrat[5], nbands[2], xbands[6];
  kernel::Buffer<ImageBand> bands;
  char isync[2], imode[2], nbpr[5], nbpc[5], nppbh[5], nppbv[5], nbpp[3], idlvl[4];
  char ialvl[4], iloc[11], imag[5], udidl[6], udofl[4], ixshdl[6], ixsofl[4];
  TreArea udid, ixshd;

  BandSelection selection;

  // An image appended from a bitmap holds its data here until the writer stores them.
  kernel::Buffer<std::uint8_t> appended_data;
  std::int32_t appended = 0;

  // A cache of what reads found, not a field: reading changes it (a document is used by
  // one thread at a time).
  mutable FoundStreams found_streams;

  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's image segments
};

using ImageSubheaderList = SegmentList<NitfImageSubheader>;

// The image subheader's fields in file order; each value is its entry's position. The
// comments (ICOMn) and the bands' fields follow NICOM and NBANDS/XBANDS as repeated
// entries, described only: the kind reads and writes them itself, the bands through
// band_fields(). UDID and IXSHD are the extension areas.
enum class ImageId {
  IM,
  IID1,
  IDATIM,
  TGTID,
  IID2,
  ISCLAS,
  ISCLSY,
  ISCODE,
  ISCTLH,
  ISREL,
  ISDCTP,
  ISDCDT,
  ISDCXM,
  ISDG,
  ISDGDT,
  ISCLTX,
  ISCATP,
  ISCAUT,
  ISCRSN,
  ISSRDT,
  ISCTLN,
  ENCRYP,
  ISORCE,
  NROWS,
  NCOLS,
  PVTYPE,
  IREP,
  ICAT,
  ABPP,
  PJUST,
  ICORDS,
  IGEOLO,
  NICOM,
  ICOM,
  IC,
  COMRAT,
  NBANDS,
  XBANDS,
  IREPBAND,
  ISUBCAT,
  IFC,
  IMFLT,
  NLUTS,
  NELUT,
  ISYNC,
  IMODE,
  NBPR,
  NBPC,
  NPPBH,
  NPPBV,
  NBPP,
  IDLVL,
  IALVL,
  ILOC,
  IMAG,
  UDIDL,
  UDOFL,
  UDID,
  IXSHDL,
  IXSOFL,
  IXSHD,
};

// The NITF 2.0 image subheader's fields (MIL-STD-2500A): IID and ITITLE where 2.1 has
// IID1 and IID2 (the public record holds them there), the 2.0 security group, ICORDS
// U, G, C or N (IGEOLO unless N), no XBANDS; the rest as 2.1.
enum class Image20Id {
  IM,
  IID,
  IDATIM,
  TGTID,
  ITITLE,
  ISCLAS,
  ISCODE,
  ISCTLH,
  ISREL,
  ISCAUT,
  ISCTLN,
  ISDWNG,
  ISDEVT,
  ENCRYP,
  ISORCE,
  NROWS,
  NCOLS,
  PVTYPE,
  IREP,
  ICAT,
  ABPP,
  PJUST,
  ICORDS,
  IGEOLO,
  NICOM,
  ICOM,
  IC,
  COMRAT,
  NBANDS,
  IREPBAND,
  ISUBCAT,
  IFC,
  IMFLT,
  NLUTS,
  NELUT,
  ISYNC,
  IMODE,
  NBPR,
  NBPC,
  NPPBH,
  NPPBV,
  NBPP,
  IDLVL,
  IALVL,
  ILOC,
  IMAG,
  UDIDL,
  UDOFL,
  UDID,
  IXSHDL,
  IXSOFL,
  IXSHD,
};

using ImageField = Field<NitfImageSubheader>;

std::span<const ImageField> image_fields();
std::span<const ImageField> image20_fields();

// A new tracked record bound to its document; null without memory.
kernel::Tracked<NitfImageSubheader> create_imsubhdr(::NitfDocument* owner, std::uint32_t index);

// Reads the subheader at the current file position, and for masked images the mask
// table right after it. In normal mode the reads stay inside the segment (LISH for the
// subheader, LI for the mask table), and a subheader with a streaming marker (NROWS or
// NCOLS all nines, a block count or size "9999") is read again from the streaming file
// header's replacement data; that re-read is bounded by the replacement bytes and never
// starts another one. On success the position is restored. Results: RET_SUCCESS,
// RET_FILE_READ, RET_FILE_FORMAT, RET_NO_MEMORY, RET_UNSUPPORTED_PVTYPE and
// RET_UNSUPPORTED_BPP (each after its message), or the streaming lookup's code.
int read_imsubhdr(NitfImageSubheader* record, ::NitfDocument* document, StreamingFileHeader* sfh,
                  ReadMode mode);

// Makes `count` fresh bands (no representation, IFC "N", IMFLT spaces, no LUTs) and
// writes count as NBANDS. The band count is the larger of count and XBANDS. Results:
// RET_SUCCESS, RET_INVALID_PARAMETER (count does not fit NBANDS), RET_NO_MEMORY.
int set_band_count(NitfImageSubheader* record, std::int32_t count);
// Sets one band's representation from an IREPBANDn text: RET_INVALID_PARAMETER when the
// band does not exist or the text matches no code.
int set_band_representation(NitfImageSubheader* record, std::uint32_t band, const char* text);

// The index-th image record of a document, or null.
NitfImageSubheader* find_image_subheader(::NitfDocument* document, std::uint32_t index);

// The subheader's length as the record describes it: what the writer puts into the file.
std::int64_t image_subheader_length(const NitfImageSubheader& record);

// A setter's change of one field (imsubhdr_set.cpp): the text or number stored at the
// field's width and the record's values brought up to date, as Kv_NITFSetImageHeader
// does. RET_SUCCESS, or RET_INVALID_PARAMETER with the field as it was: a null or
// over-long text, a code outside its table, a number wider than the field.
int set_image_text(NitfImageSubheader* record, ImageId field, const char* text);
int set_image_number(NitfImageSubheader* record, ImageId field, std::int64_t value);
int set_location(NitfImageSubheader* record, std::int64_t row, std::int64_t column);

}  // namespace nitf
