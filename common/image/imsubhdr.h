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

#include "core/fieldreader.h"
#include "core/segments.h"
#include "core/strmfhdr.h"
#include "core/trearea.h"
#include "kernel.h"

struct NitfDocument;

namespace nitf {

enum class PixelValueTypeCode : std::int32_t { kInteger = 0, kBilevel = 1 };

enum class RepresentationCode : std::int32_t {
  kMono = 0,
  kRgb = 1,
  kRgbLut = 2,
  kMulti = 3,
  kNoDisplay = 4,
  kNVector = 5,
  kPolar = 6,
  kVph = 7,
  kYCbCr601 = 8,
};

// The values follow the order of MIL-STD-2500C's IC list. kUnknown stands for an IC the
// table does not hold: the reader keeps it, the image readers refuse it.
enum class CompressionCode : std::int32_t {
  kNC = 0,
  kNM = 1,
  kC0 = 2,
  kC1 = 3,
  kC2 = 4,
  kC3 = 5,
  kC4 = 6,
  kC5 = 7,
  kC6 = 8,
  kC8 = 9,
  kI1 = 10,
  kM0 = 11,
  kM1 = 12,
  kM2 = 13,
  kM3 = 14,
  kM4 = 15,
  kM5 = 16,
  kM6 = 17,
  kM8 = 18,
  kUnknown = 19,
};

enum class BandRepresentationCode : std::int32_t {
  kNone = 0,
  kLut = 1,
  kRed = 2,
  kGreen = 3,
  kBlue = 4,
  kMono = 5,
  kLuminance = 6,
  kChromaBlue = 7,
  kChromaRed = 8,
};

enum class ImageModeCode : std::int32_t { kBlock = 0, kPixel = 1, kRow = 2, kSequential = 3 };

// From COMRAT of bi-level (C1/M1) images; kNone for every other COMRAT.
enum class BilevelModeCode : std::int32_t { k1D = 0, k2DS = 1, k2DH = 2, kNone = 3 };

// The magnification of an IMAG text: a decimal number, or "/n" for 1/n. False when
// the text means nothing (a divisor below 1): the reader then keeps the value it had.
bool magnification_of(const char* imag, double* value);
// The code of an IC text, kUnknown when the table does not hold it.
CompressionCode compression_code(std::string_view ic);
// The two-character IC of a code, or null for kUnknown.
const char* compression_text(CompressionCode code);
// True for the codes whose data begin with an image data mask table.
bool is_masked(CompressionCode code);
// The code of an IREP text (each name compared on its own length); false when the text
// matches no entry.
bool representation_code(const char* text, RepresentationCode* code);
// The code of an IREPBANDn text; false when the text matches no entry.
bool band_representation_code(const char* text, BandRepresentationCode* code);

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
};

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

struct NitfImageSubheader {
  explicit NitfImageSubheader(NitfDocument* owner, std::uint32_t position);
  NitfImageSubheader(const NitfImageSubheader&) = delete;
  NitfImageSubheader& operator=(const NitfImageSubheader&) = delete;

  char scratch[256] = {};  // the getter prints numbers here
  ColourTable colours;
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

  // Text fields in file order, each with room for its width (more for the four the
  // public setter may widen, as in the file header) plus NUL.
  char im[3], iid1[11], idatim[15], tgtid[18], iid2[81], isclas[2], isclsy[3], iscode[41];
  char isctlh[41], isrel[41], isdctp[3], isdcdt[9], isdcxm[5], isdg[2], isdgdt[9];
  char iscltx[44], iscatp[2], iscaut[41], iscrsn[2], issrdt[9], isctln[21], encryp[2];
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

  ::NitfDocument* document;
  std::uint32_t index;  // position among the document's image segments
};

using ImageSubheaderList = SegmentList<NitfImageSubheader>;

// One fixed field of the subheader's two unconditional runs (IM to ICORDS, ISYNC to
// IMAG). The reader walks the table; the writer and the listing read the same widths.
struct ImageField {
  const char* name;
  std::uint8_t width;  // in the file
  std::uint8_t room;   // in the record, without the NUL
  bool numeric;        // BCS-N digits
  char* (*text)(NitfImageSubheader&);
  // Converts or checks the field once read; null when the text is all there is. Sets
  // *marker when the field holds a streaming marker.
  int (*convert)(NitfImageSubheader&, const FieldReader&, bool* marker);
};

// The runs IM..ICORDS (leading) and ISYNC..IMAG (trailing) in file order.
const ImageField* image_leading_fields(std::size_t* count);
const ImageField* image_trailing_fields(std::size_t* count);
// A field of either run by its NITF name, or null.
const ImageField* find_image_field(std::string_view name);

// A new tracked record bound to its document; null without memory.
kernel::Tracked<NitfImageSubheader> create_imsubhdr(::NitfDocument* owner, std::uint32_t index);
// Frees every buffer the record owns (comments, bands, colour table, extension areas,
// mask table, appended data); counts follow.
void release_imsubhdr(NitfImageSubheader* record);

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

// Per-field setters (imsubhdr_set.cpp). Each stores its field at the width of the file
// and the value the readers work from, and returns RET_SUCCESS or, leaving the record
// as it was, RET_INVALID_PARAMETER for a null or over-long text or a value outside
// the field's codes: PVTYPE B or I, PJUST L or R, IMODE B, P, R or S, IREP and IC from
// their tables. COMRAT also sets the bi-level mode ("1D", "2DS", "2DH", else none);
// IMAG takes "/n" as 1/n. set_image_number takes a numeric field of the two runs by
// name (NROWS, NBPR, IDLVL...). set_comment replaces comment n below the count.
// set_pad_code copies (TPXCDLNTH + 7) / 8 bytes of pad pixel code (RET_NO_MEMORY).
int set_pvtype(NitfImageSubheader* record, const char* text);
int set_irep(NitfImageSubheader* record, const char* text);
int set_pjust(NitfImageSubheader* record, const char* text);
int set_icords(NitfImageSubheader* record, const char* text);
int set_ic(NitfImageSubheader* record, const char* text);
int set_comrat(NitfImageSubheader* record, const char* text);
int set_imode(NitfImageSubheader* record, const char* text);
int set_image_number(NitfImageSubheader* record, const char* name, std::int64_t value);
int set_location(NitfImageSubheader* record, std::int64_t row, std::int64_t column);
int set_imag(NitfImageSubheader* record, const char* text);
int set_comment(NitfImageSubheader* record, std::uint32_t n, const char* text);
int set_pad_code(NitfImageSubheader* record, const void* code);

}  // namespace nitf
