// The image subheader reader, its field tables, its internal codes and the band
// operations.
//
// Every count the subheader declares (NICOM, NBANDS/XBANDS, NELUTn, UDIDL, IXSHDL, the
// mask records) is checked against what the segment still holds before anything is
// allocated for it: a normal read works through a FieldReader whose end is the end of
// the subheader (LISH), and the mask table through one that ends with the image data
// (LI). A group whose count was read is put into the record only once all its entries
// were read, so counts and arrays never disagree, not even after a re-read that ran out
// of replacement bytes halfway.
#include "image/imsubhdr.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <span>
#include <type_traits>
#include <utility>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "fields/utility.h"
#include "graphics_text/lasubhdr.h"

namespace nitf {
namespace {

using R = NitfImageSubheader;
using Record = NitfImageSubheader;
using Public = NitfImageHeader;
using Id = ImageId;

// Conversions run after their field was read or set.

int check_im(R& r, FieldUse& use) {
  if (!use.reading()) return RET_SUCCESS;
  if (std::strcmp(r.im, "IM") != 0) return use.refuse("IM", "not IM", RET_FILE_FORMAT);
  r.segment_read = 1;
  return RET_SUCCESS;
}

int check_isclas(R& r, FieldUse& use) {
  return check_classification(r.isclas, "ISCLAS", use);
}

template <auto Text, auto Value>
int to_number(R& r, FieldUse&) {
  using T = std::remove_reference_t<decltype(r.*Value)>;
  r.*Value = static_cast<T>(parse_decimal(r.*Text));
  return RET_SUCCESS;
}

// A size or count that a writer of unknown lengths fills with nines.
template <auto Text, auto Value>
int to_marked_number(R& r, FieldUse& use) {
  constexpr std::size_t width = sizeof(std::declval<R&>().*Text) - 1;
  if (use.reading() && is_all_nines(r.*Text, width)) use.marker = true;
  return to_number<Text, Value>(r, use);
}

// SI, R and C belong to extended reading; a strict reader and the setters refuse them
// as they refuse any other text.
int convert_pvtype(R& r, FieldUse& use) {
  PixelValueTypeCode code = PixelValueTypeCode::kInteger;
  const bool known = code_of(kPixelTypes, r.pvtype, &code);
  if (known && (use.extended || code <= PixelValueTypeCode::kBilevel)) {
    r.pixel_type = code;
    return RET_SUCCESS;
  }
  if (!use.reading()) return RET_INVALID_PARAMETER;
  use.refuse("PVTYPE", "neither INT nor B", 0);
  kernel::message_box("Unsupported PVTYPE", "Error");
  return RET_UNSUPPORTED_PVTYPE;
}

// A file's IREP outside the table keeps the code the record had; a setter's is refused.
int convert_irep(R& r, FieldUse& use) {
  return code_of(kRepresentations, r.irep, &r.representation) || use.reading()
             ? RET_SUCCESS
             : RET_INVALID_PARAMETER;
}

// A file's PJUST is right-justified unless it says L; a setter's must be L or R.
int convert_pjust(R& r, FieldUse& use) {
  JustificationCode code = JustificationCode::kRight;
  if (!code_of(kJustifications, r.pjust, &code) && !use.reading()) return RET_INVALID_PARAMETER;
  r.right_justified = code != JustificationCode::kLeft;
  return RET_SUCCESS;
}

// A file's IC outside the table is kept, for the image readers to refuse.
int convert_ic(R& r, FieldUse& use) {
  if (code_of(kCompressions, r.ic, &r.compression)) return RET_SUCCESS;
  r.compression = CompressionCode::kUnknown;
  return use.reading() ? RET_SUCCESS : RET_INVALID_PARAMETER;
}

// COMRAT names the coding scheme of bi-level images; a file's other text keeps the
// mode the record had, a setter's clears it.
int convert_comrat(R& r, FieldUse& use) {
  if (!code_of(kBilevelModes, r.comrat, &r.bilevel_mode) && !use.reading())
    r.bilevel_mode = BilevelModeCode::kNone;
  return RET_SUCCESS;
}

int convert_imode(R& r, FieldUse& use) {
  if (code_of(kImageModes, r.imode, &r.mode)) return RET_SUCCESS;
  return use.refuse("IMODE", "not one of B, P, R, S", RET_FILE_FORMAT);
}

// The strict reader has no display for 16-bit bands beside others; extended reading has.
int convert_nbpp(R& r, FieldUse& use) {
  r.bits_per_pixel = parse_decimal(r.nbpp);
  if (use.reading() && !use.extended && r.band_count > 1 && r.bits_per_pixel == 16) {
    use.refuse("NBPP", "16 bits per band with more than one band", 0);
    kernel::message_box("Unsupported BPP", "Error");
    return RET_UNSUPPORTED_BPP;
  }
  return RET_SUCCESS;
}

int convert_iloc(R& r, FieldUse&) {
  r.location_row = coordinate_group(r.iloc, 0);
  r.location_column = coordinate_group(r.iloc, 1);
  return RET_SUCCESS;
}

// A decimal number with an optional fraction, without the C library's locale.
double decimal_value(const char* text) {
  while (*text == ' ') ++text;
  double sign = 1;
  if (*text == '+' || *text == '-') sign = *text++ == '-' ? -1 : 1;
  double value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + (*text - '0');
  if (*text == '.') {
    double scale = 1;
    for (++text; *text >= '0' && *text <= '9'; ++text) value += (*text - '0') * (scale /= 10);
  }
  return sign * value;
}

int convert_imag(R& r, FieldUse&) {
  magnification_of(r.imag, &r.magnification);
  return RET_SUCCESS;
}

// A NUL goes out as the blank that ends the text, so it reads as a blank here too.
bool has_igeolo(const R& r) {
  return r.icords[0] != ' ' && r.icords[0] != '\0';
}

// COMRAT is absent only for the two uncompressed codes; an unknown IC carries it.
bool has_comrat(const R& r) {
  return std::strcmp(r.ic, "NC") != 0 && std::strcmp(r.ic, "NM") != 0;
}

bool has_xbands(const R& r) {
  return r.nbands_value == 0;
}

// The writer puts the values the record works from, so a code or size changed through
// its value is written as it now is.
template <auto Value>
const char* encode_number(const R& r, char* scratch, int width) {
  return number_text(scratch, width, r.*Value);
}

// The stored text while it names the record's code, or names none (a file's text the
// reader kept while the record works from the code it fell back to), so that a save
// keeps what the file said; the code's name once the code was changed through its value.
template <class Code>
const char* code_or_text(const CodeTable& table, const char* text, Code value) {
  Code named;
  return !code_of(table, text, &named) || named == value ? text : name_of(table, value);
}

const char* encode_pvtype(const R& r, char*, int) {
  return code_or_text(kPixelTypes, r.pvtype, r.pixel_type);
}

const char* encode_irep(const R& r, char*, int) {
  return code_or_text(kRepresentations, r.irep, r.representation);
}

const char* encode_pjust(const R& r, char*, int) {
  return code_or_text(kJustifications, r.pjust,
                      r.right_justified ? JustificationCode::kRight : JustificationCode::kLeft);
}

const char* encode_ic(const R& r, char*, int) {
  return code_or_text(kCompressions, r.ic, r.compression);
}

// C1 and M1 carry their coding scheme in COMRAT; every other code keeps its stored
// text (a compression rate, or a JPEG 2000 "N045"), which no value of the record holds.
const char* encode_comrat(const R& r, char*, int) {
  const bool bilevel =
      r.compression == CompressionCode::kC1 || r.compression == CompressionCode::kM1;
  const char* mode = name_of(kBilevelModes, r.bilevel_mode);
  return bilevel && mode ? mode : r.comrat;
}

const char* encode_imode(const R& r, char*, int) {
  return code_or_text(kImageModes, r.imode, r.mode);
}

const char* encode_imag(const R& r, char* scratch, int) {
  return magnification_text(r.imag, r.magnification, scratch) ? scratch : nullptr;
}

// The band table: IREPBANDn's code and the LUT counts are written from their values.
int convert_irepband(ImageBand& b, FieldUse&) {
  b.representation = BandRepresentationCode::kNone;
  code_of(kBandRepresentations, b.irepband, &b.representation);
  return RET_SUCCESS;
}

const char* encode_irepband(const ImageBand& b, char*, int) {
  const char* name = name_of(kBandRepresentations, b.representation);
  return name ? name : b.representation == BandRepresentationCode::kNone ? "  " : nullptr;
}

int convert_nluts(ImageBand& b, FieldUse&) {
  b.lut_count = parse_decimal(b.nluts);  // one character: 0 to 9
  return RET_SUCCESS;
}

int convert_nelut(ImageBand& b, FieldUse& use) {
  b.lut_entries = parse_decimal(b.nelut);
  return b.lut_entries < 0 ? use.refuse("NELUTn", "negative", RET_FILE_FORMAT) : RET_SUCCESS;
}

bool has_luts(const ImageBand& b) {
  return b.lut_count != 0;
}

template <auto Value>
const char* encode_band_number(const ImageBand& b, char* scratch, int width) {
  return number_text(scratch, width, b.*Value);
}

#define KV_BAND(ID, NAME, member, width, flags)                                                   \
  Field<ImageBand> {                                                                              \
    static_cast<int>(ID), NAME, width, flags, &member_text<&ImageBand::member, width, ImageBand>, \
        nullptr, KV_FORM_NONE, -1, -1                                                             \
  }

constexpr Field<ImageBand> kBandFields[] = {
    KV_BAND(BandId::IREPBAND, "IREPBANDn", irepband, 2, 0)
        .then(convert_irepband)
        .written(encode_irepband),
    KV_BAND(BandId::ISUBCAT, "ISUBCATn", isubcat, 6, 0),
    KV_BAND(BandId::IFC, "IFCn", ifc, 1, 0),
    KV_BAND(BandId::IMFLT, "IMFLTn", imflt, 3, 0),
    KV_BAND(BandId::NLUTS, "NLUTSn", nluts, 1, KV_FIELD_DIGITS)
        .then(convert_nluts)
        .written(encode_band_number<&ImageBand::lut_count>),
    KV_BAND(BandId::NELUT, "NELUTn", nelut, 5, KV_FIELD_DIGITS | KV_FIELD_CONDITIONAL)
        .then(convert_nelut)
        .written(encode_band_number<&ImageBand::lut_entries>)
        .when(has_luts),
};
static_assert(ids_are_positions<ImageBand>(kBandFields));
#undef KV_BAND

constexpr std::uint32_t D = KV_FIELD_DIGITS, S = KV_FIELD_SETTABLE, L = KV_FIELD_LISTED,
                        Y = KV_FIELD_LAYOUT, C = KV_FIELD_CONDITIONAL, N = KV_FIELD_REPEATED;
constexpr int kString = KV_FORM_STRING, kChars = KV_FORM_CHARS, kNumber = KV_FORM_UNSIGNED;

#define KV_AREA(NAME, length) \
  KV_DESCRIBED(NAME, 0, L, KV_FORM_AREA, offsetof(Public, NAME), offsetof(Public, length))

// A band field as the image's table describes it: named and sized by the band table.
template <class Id>
constexpr ImageField band_entry(Id id, BandId band) {
  const Field<ImageBand>& b = kBandFields[static_cast<int>(band)];
  return ImageField{static_cast<int>(id),
                    b.name,
                    b.width,
                    (b.flags & ~KV_FIELD_CONDITIONAL) | N | kByKind,
                    nullptr,
                    nullptr,
                    KV_FORM_NONE,
                    -1,
                    -1};
}
#define KV_BANDS(ID)                                                                    \
  band_entry(ID::IREPBAND, BandId::IREPBAND), band_entry(ID::ISUBCAT, BandId::ISUBCAT), \
      band_entry(ID::IFC, BandId::IFC), band_entry(ID::IMFLT, BandId::IMFLT),           \
      band_entry(ID::NLUTS, BandId::NLUTS), band_entry(ID::NELUT, BandId::NELUT)

constexpr ImageField kFields[] = {
    KV_FIELD(IM, im, 2, S | Y, kString).then(check_im).starting("IM"),
    KV_FIELD(IID1, iid1, 10, S | L, kString).starting("Missing ID"),
    KV_FIELD(IDATIM, idatim, 14, D | S, kChars).starting("              "),
    KV_FIELD(TGTID, tgtid, 17, S, kString),
    KV_FIELD(IID2, iid2, 80, S, kString),
    KV_FIELD(ISCLAS, isclas, 1, S, kString).then(check_isclas).starting("U"),
    KV_FIELD(ISCLSY, isclsy, 2, S, kString),
    KV_FIELD(ISCODE, iscode, 11, S, kString),
    KV_FIELD(ISCTLH, isctlh, 2, S, kString),
    KV_FIELD(ISREL, isrel, 20, S, kString),
    KV_FIELD(ISDCTP, isdctp, 2, S, kString),
    KV_FIELD(ISDCDT, isdcdt, 8, S, kChars),
    KV_FIELD(ISDCXM, isdcxm, 4, S, kString),
    KV_FIELD(ISDG, isdg, 1, S, kString),
    KV_FIELD(ISDGDT, isdgdt, 8, S, kChars),
    KV_FIELD(ISCLTX, iscltx, 43, S, kString),
    KV_FIELD(ISCATP, iscatp, 1, S, kString),
    KV_FIELD(ISCAUT, iscaut, 40, S, kString),
    KV_FIELD(ISCRSN, iscrsn, 1, S, kString),
    KV_FIELD(ISSRDT, issrdt, 8, S, kChars),
    KV_FIELD(ISCTLN, isctln, 15, S, kString),
    KV_FIELD(ENCRYP, encryp, 1, D | S, kNumber),
    KV_FIELD(ISORCE, isorce, 42, S, kString),
    KV_FIELD(NROWS, nrows, 8, D | S | L | Y, kNumber)
        .then(to_marked_number<&R::nrows, &R::rows>)
        .written(encode_number<&R::rows>),
    KV_FIELD(NCOLS, ncols, 8, D | S | L | Y, kNumber)
        .then(to_marked_number<&R::ncols, &R::columns>)
        .written(encode_number<&R::columns>),
    KV_FIELD(PVTYPE, pvtype, 3, S | L | Y, kString).then(convert_pvtype).written(encode_pvtype),
    KV_FIELD(IREP, irep, 8, S | L, kString).then(convert_irep).written(encode_irep),
    KV_FIELD(ICAT, icat, 8, S | L, kString).starting("VIS"),
    KV_FIELD(ABPP, abpp, 2, D | S | L | Y, kNumber)
        .then(to_number<&R::abpp, &R::significant_bits>)
        .written(encode_number<&R::significant_bits>),
    KV_FIELD(PJUST, pjust, 1, S | Y, kString).then(convert_pjust).written(encode_pjust),
    KV_FIELD(ICORDS, icords, 1, S, kString),
    KV_FIELD(IGEOLO, igeolo, 60, S | C, kString).when(has_igeolo),
    KV_FIELD(NICOM, nicom, 1, D | S | L | kKindSets, kNumber),
    ImageField{static_cast<int>(Id::ICOM), "ICOMn", 80, N | kByKind, nullptr, nullptr, KV_FORM_NONE,
               -1, -1},
    KV_FIELD(IC, ic, 2, S | L | Y, kString).then(convert_ic).written(encode_ic),
    KV_FIELD(COMRAT, comrat, 4, S | L | C, kString)
        .then(convert_comrat)
        .written(encode_comrat)
        .when(has_comrat),
    KV_FIELD(NBANDS, nbands, 1, D | S | L | Y | kKindSets, kNumber),
    KV_FIELD(XBANDS, xbands, 5, D | S | L | Y | C | kKindSets, kNumber).when(has_xbands),
    KV_BANDS(Id),
    KV_FIELD(ISYNC, isync, 1, D | S, kNumber),
    KV_FIELD(IMODE, imode, 1, S | L | Y, kString)
        .then(convert_imode)
        .written(encode_imode)
        .starting("P"),
    KV_FIELD(NBPR, nbpr, 4, D | S | L | Y, kNumber)
        .then(to_marked_number<&R::nbpr, &R::blocks_per_row>)
        .written(encode_number<&R::blocks_per_row>),
    KV_FIELD(NBPC, nbpc, 4, D | S | L | Y, kNumber)
        .then(to_marked_number<&R::nbpc, &R::blocks_per_column>)
        .written(encode_number<&R::blocks_per_column>),
    KV_FIELD(NPPBH, nppbh, 4, D | S | L | Y, kNumber)
        .then(to_marked_number<&R::nppbh, &R::block_width>)
        .written(encode_number<&R::block_width>),
    KV_FIELD(NPPBV, nppbv, 4, D | S | L | Y, kNumber)
        .then(to_marked_number<&R::nppbv, &R::block_height>)
        .written(encode_number<&R::block_height>),
    KV_FIELD(NBPP, nbpp, 2, D | S | L | Y, kNumber)
        .then(convert_nbpp)
        .written(encode_number<&R::bits_per_pixel>),
    KV_FIELD(IDLVL, idlvl, 3, D | S | L, kNumber)
        .then(to_number<&R::idlvl, &R::display_level>)
        .written(encode_number<&R::display_level>),
    KV_FIELD(IALVL, ialvl, 3, D | S | L, kNumber)
        .then(to_number<&R::ialvl, &R::attachment_level>)
        .written(encode_number<&R::attachment_level>),
    KV_LOCATION(ILOC, iloc, ILOC_ROW, ILOC_COLUMN, S | L).then(convert_iloc),
    KV_FIELD(IMAG, imag, 4, S | L, kString).then(convert_imag).written(encode_imag).starting(""),
    KV_FIELD(UDIDL, udidl, 5, D | S | kKindSets, kNumber),
    KV_FIELD(UDOFL, udofl, 3, D | S | C | kKindSets, kNumber),
    KV_AREA(UDID, UDIDL),
    KV_FIELD(IXSHDL, ixshdl, 5, D | S | kKindSets, kNumber),
    KV_FIELD(IXSOFL, ixsofl, 3, D | S | C | kKindSets, kNumber),
    KV_AREA(IXSHD, IXSHDL),
};
static_assert(ids_are_positions<Record>(kFields));
#undef KV_AREA

namespace v20 {
using Id = Image20Id;
#define KV_SAME(NAME) ::nitf::as(kFields[static_cast<int>(ImageId::NAME)], Id::NAME)

bool has_isdevt(const R& r) {
  return downgrades_on_event(r.isdwng);
}

bool has_igeolo20(const R& r) {
  return r.icords[0] != 'N';
}

constexpr ImageField kFields20[] = {
    KV_SAME(IM),
    KV_ENTRY(Id::IID, "IID", iid1, 10, S | L, kString, offsetof(Public, IID1), -1),
    KV_FIELD(IDATIM, idatim, 14, S, kChars),
    KV_SAME(TGTID),
    KV_ENTRY(Id::ITITLE, "ITITLE", iid2, 80, S, kString, offsetof(Public, IID2), -1),
    KV_SAME(ISCLAS),
    KV_FIELD(ISCODE, iscode, 40, S, kString),
    KV_FIELD(ISCTLH, isctlh, 40, S, kString),
    KV_FIELD(ISREL, isrel, 40, S, kString),
    KV_FIELD(ISCAUT, iscaut, 20, S, kString),
    KV_FIELD(ISCTLN, isctln, 20, S, kString),
    KV_HIDDEN(ISDWNG, isdwng, 6, 0),
    KV_HIDDEN(ISDEVT, isdevt, 40, C).when(has_isdevt),
    KV_SAME(ENCRYP),
    KV_SAME(ISORCE),
    KV_SAME(NROWS),
    KV_SAME(NCOLS),
    KV_SAME(PVTYPE),
    KV_SAME(IREP),
    KV_SAME(ICAT),
    KV_SAME(ABPP),
    KV_SAME(PJUST),
    KV_SAME(ICORDS),
    KV_FIELD(IGEOLO, igeolo, 60, S | C, kString).when(has_igeolo20),
    KV_SAME(NICOM),
    KV_SAME(ICOM),
    KV_SAME(IC),
    KV_SAME(COMRAT),
    KV_SAME(NBANDS),
    KV_BANDS(Id),
    KV_SAME(ISYNC),
    KV_SAME(IMODE),
    KV_SAME(NBPR),
    KV_SAME(NBPC),
    KV_SAME(NPPBH),
    KV_SAME(NPPBV),
    KV_SAME(NBPP),
    KV_SAME(IDLVL),
    KV_SAME(IALVL),
    KV_SAME(ILOC),
    KV_SAME(IMAG),
    KV_SAME(UDIDL),
    KV_SAME(UDOFL),
    KV_SAME(UDID),
    KV_SAME(IXSHDL),
    KV_SAME(IXSOFL),
    KV_SAME(IXSHD),
};
static_assert(ids_are_positions<Record>(kFields20));
#undef KV_SAME
#undef KV_BANDS
}  // namespace v20

const ImageField& entry(Id id) {
  return field(std::span<const ImageField>(kFields), id);
}

// One read: the cursor, the replacement bytes a re-read may take (negative when
// unbounded) and whether a streaming marker was seen.
struct ReadState {
  ReadState(FieldReader& reader, std::int64_t replacement, const NitfDocument& d)
      : in(reader), budget(replacement), nitf20(d.header.nitf20 != 0) {
    use.extended = d.extended != 0;
  }
  FieldReader& in;
  std::int64_t budget;
  bool nitf20;  // the 2.0 layout: no XBANDS
  FieldUse use{&in};
};

// Whether n bytes for `name` may be allocated and read: kBudgetSpent beyond the
// replacement bytes of a re-read, RET_FILE_READ beyond the segment or the file.
int ensure_room(const ReadState& s, std::uint64_t n, const char* name) {
  if (s.budget >= 0 && n > static_cast<std::uint64_t>(s.budget - s.in.taken())) return kBudgetSpent;
  return s.in.fits(n, name) ? RET_SUCCESS : RET_FILE_READ;
}

int run(R& r, ReadState& s, Id first, Id last) {
  return read_run(std::span<const ImageField>(kFields), first, last, r, s.in, s.use);
}

// NICOM and the comments: put into the record only once all were read.
int read_comments(R& r, ReadState& s) {
  const ImageField& count = entry(Id::NICOM);
  char count_text[2];
  if (int x = s.in.text(count_text, count.width, count.name); x != RET_SUCCESS) return x;
  std::int32_t n = parse_decimal(count_text);  // one character: 0 to 9
  if (int x = ensure_room(s, 80 * static_cast<std::uint64_t>(n), "ICOMn"); x != RET_SUCCESS)
    return x;
  kernel::Buffer<ImageComment> comments;
  if (!comments.allocate(static_cast<std::size_t>(n))) return RET_NO_MEMORY;
  for (std::int32_t i = 0; i < n; ++i) {
    if (int x = s.in.text(comments[i].text, 80, "ICOMn"); x != RET_SUCCESS) return x;
  }
  r.comments = std::move(comments);
  r.comment_count = n;
  std::memcpy(r.nicom, count_text, sizeof count_text);
  return RET_SUCCESS;
}

// Puts each LUT entry into its colour: one table is grey, three are red, green and blue
// in that order. With two tables blue stays 0; a fourth (and any further) table is
// read past so that the fields after it are read from their place.
void spread_lut(ColourTable& table, const std::uint8_t* lut, std::int32_t t, std::int32_t tables) {
  for (std::size_t i = 0; i < table.entries.size(); ++i) {
    ColourEntry& e = table.entries[i];
    if (tables == 1) {
      e.blue = e.green = e.red = lut[i];
    } else if (t == 0) {
      e.red = lut[i];
    } else if (t == 1) {
      e.green = lut[i];
    } else if (t == 2) {
      e.blue = lut[i];
    }
  }
}

// The bands' LUT bytes while the bands are read: the buffer doubles as it fills, so
// that many bands with LUTs cost no more than their bytes twice.
struct LutBytes {
  kernel::Buffer<std::uint8_t> bytes;
  std::size_t used = 0;

  // Room for `n` more bytes at the end, or null when memory is refused.
  std::uint8_t* append(std::size_t n) {
    if (bytes.size() - used < n) {
      kernel::Buffer<std::uint8_t> larger;
      if (!larger.allocate(std::max(bytes.size() * 2, used + n))) return nullptr;
      if (used) std::memcpy(larger.data(), bytes.data(), used);
      bytes = std::move(larger);
    }
    used += n;
    return bytes.data() + used - n;
  }
};

// The LUTs of a band replace the colour table of any band before it. The subheader
// holds every byte counted (ensure_room), so the raw copy is bounded by the file.
int read_luts(ImageBand& b, ColourTable* colours, LutBytes& raw, ReadState& s) {
  std::size_t entries = static_cast<std::size_t>(b.lut_entries);
  std::uint64_t total = std::uint64_t{entries} * static_cast<std::uint64_t>(b.lut_count);
  if (int x = ensure_room(s, total, "LUTDnm"); x != RET_SUCCESS) return x;
  if (raw.used + total > 0xFFFFFFFFu) return s.in.refuse("LUTDnm", "too many", RET_FILE_FORMAT);
  ColourTable table;
  b.lut_offset = static_cast<std::uint32_t>(raw.used);
  std::uint8_t* lut = raw.append(static_cast<std::size_t>(total));
  if (!table.entries.allocate(entries) || !lut) return RET_NO_MEMORY;
  for (std::int32_t t = 0; t < b.lut_count; ++t, lut += entries) {
    if (int x = s.in.bytes(lut, entries, "LUTDnm"); x != RET_SUCCESS) return x;
    spread_lut(table, lut, t, b.lut_count);
  }
  *colours = std::move(table);
  return RET_SUCCESS;
}

int read_band(ImageBand& b, ColourTable* colours, LutBytes& raw, ReadState& s) {
  const std::span<const Field<ImageBand>> table(kBandFields);
  if (int x = read_run(table, BandId::IREPBAND, BandId::NELUT, b, s.in, s.use); x != RET_SUCCESS)
    return x;
  return b.lut_count == 0 || b.lut_entries == 0 ? RET_SUCCESS : read_luts(b, colours, raw, s);
}

// NBANDS, and XBANDS when NBANDS is 0.
int read_band_count(ReadState& s, char* nbands, char* xbands, std::int32_t* count) {
  const ImageField &n = entry(Id::NBANDS), &x = entry(Id::XBANDS);
  if (int r = s.in.text(nbands, n.width, n.name); r != RET_SUCCESS) return r;
  *count = parse_decimal(nbands);
  if (*count != 0) return RET_SUCCESS;
  if (s.nitf20) return s.in.refuse(n.name, "0 bands", RET_FILE_FORMAT);
  if (int r = s.in.text(xbands, x.width, x.name); r != RET_SUCCESS) return r;
  *count = parse_decimal(xbands);
  return *count < 0 ? s.in.refuse(x.name, "negative", RET_FILE_FORMAT) : RET_SUCCESS;
}

// The fewest bytes one band takes: its fields without NELUTn.
std::uint64_t minimal_band_bytes() {
  ImageBand none{};
  return static_cast<std::uint64_t>(run_length(std::span<const Field<ImageBand>>(kBandFields),
                                               BandId::IREPBAND, BandId::NELUT, none));
}

// The band count and the bands: put into the record only once all were read.
int read_bands(R& r, ReadState& s) {
  char nbands[2], xbands[6] = "";
  std::int32_t count = 0;
  if (int x = read_band_count(s, nbands, xbands, &count); x != RET_SUCCESS) return x;
  std::uint64_t least = minimal_band_bytes() * static_cast<std::uint64_t>(count);
  if (int x = ensure_room(s, least, "band fields"); x != RET_SUCCESS) return x;
  kernel::Buffer<ImageBand> bands;
  if (!bands.allocate(static_cast<std::size_t>(count))) return RET_NO_MEMORY;
  LutBytes raw;
  for (std::int32_t n = 0; n < count; ++n) {
    if (int x = read_band(bands[n], &r.colours, raw, s); x != RET_SUCCESS) return x;
  }
  if (!r.luts.allocate(raw.used)) return RET_NO_MEMORY;
  if (raw.used) std::memcpy(r.luts.data(), raw.bytes.data(), raw.used);
  r.bands = std::move(bands);
  r.band_count = count;
  r.nbands_value = parse_decimal(nbands);
  std::memcpy(r.nbands, nbands, sizeof nbands);
  if (r.nbands_value == 0) std::memcpy(r.xbands, xbands, sizeof xbands);
  return RET_SUCCESS;
}

int read_area(R& r, ReadState& s, Id length, Id overflow, Id area, TreArea* tres) {
  const ImageField &l = entry(length), &o = entry(overflow);
  ExtensionFields fields{l.text(r), o.text(r), l.name, o.name, entry(area).name};
  return read_extension_area(s.in, fields, tres);
}

int run20(R& r, ReadState& s, v20::Id first, v20::Id last) {
  return read_run(std::span<const ImageField>(v20::kFields20), first, last, r, s.in, s.use);
}

// The NITF 2.0 subheader: the same groups in the 2.0 table's runs.
int read_fields20(R& r, ReadState& s) {
  using v20::Id;
  if (int x = run20(r, s, Id::IM, Id::IGEOLO); x != RET_SUCCESS) return x;
  if (int x = read_comments(r, s); x != RET_SUCCESS) return x;
  if (int x = run20(r, s, Id::IC, Id::COMRAT); x != RET_SUCCESS) return x;
  if (int x = read_bands(r, s); x != RET_SUCCESS) return x;
  if (int x = run20(r, s, Id::ISYNC, Id::IMAG); x != RET_SUCCESS) return x;
  if (int x = read_area(r, s, ImageId::UDIDL, ImageId::UDOFL, ImageId::UDID, &r.udid);
      x != RET_SUCCESS)
    return x;
  return read_area(r, s, ImageId::IXSHDL, ImageId::IXSOFL, ImageId::IXSHD, &r.ixshd);
}

// Every field of the subheader, IM to IXSHD.
int read_fields(R& r, ReadState& s) {
  if (s.nitf20) return read_fields20(r, s);
  if (int x = run(r, s, Id::IM, Id::IGEOLO); x != RET_SUCCESS) return x;
  if (int x = read_comments(r, s); x != RET_SUCCESS) return x;
  if (int x = run(r, s, Id::IC, Id::COMRAT); x != RET_SUCCESS) return x;
  if (int x = read_bands(r, s); x != RET_SUCCESS) return x;
  if (int x = run(r, s, Id::ISYNC, Id::IMAG); x != RET_SUCCESS) return x;
  if (int x = read_area(r, s, Id::UDIDL, Id::UDOFL, Id::UDID, &r.udid); x != RET_SUCCESS) return x;
  return read_area(r, s, Id::IXSHDL, Id::IXSOFL, Id::IXSHD, &r.ixshd);
}

std::uint32_t big_endian32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::uint16_t big_endian16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// The number of records of each mask: NBPR × NBPC, times the band count for band
// sequential images (IMODE S), whose every band has its own blocks (MIL-STD-2500C);
// RET_FILE_FORMAT when a factor is negative or the product is beyond any allocation.
int mask_record_count(const R& r, const FieldReader& in, std::uint64_t* count) {
  if (r.blocks_per_row < 0 || r.blocks_per_column < 0 || r.band_count < 0)
    return in.refuse("BMRnBNDm", "negative block count", RET_FILE_FORMAT);
  std::uint64_t blocks = 0, records = 0, bytes = 0;
  if (kernel::mul_overflows(static_cast<std::uint64_t>(r.blocks_per_row),
                            static_cast<std::uint64_t>(r.blocks_per_column), &blocks) ||
      kernel::mul_overflows(
          blocks,
          static_cast<std::uint64_t>(r.mode == ImageModeCode::kSequential ? r.band_count : 1),
          &records) ||
      kernel::mul_overflows(records, 4, &bytes) ||
      records >= std::numeric_limits<std::size_t>::max() / 4)
    return in.refuse("BMRnBNDm", "more mask records than any file holds", RET_FILE_FORMAT);
  *count = records;
  return RET_SUCCESS;
}

int read_mask_records(ReadState& s, std::uint64_t count, kernel::Buffer<std::uint32_t>* records,
                      const char* name) {
  if (int x = ensure_room(s, count * 4, name); x != RET_SUCCESS) return x;
  if (!records->allocate(static_cast<std::size_t>(count) + 1)) return RET_NO_MEMORY;
  return s.in.bytes(records->data(), static_cast<std::size_t>(count) * 4, name);
}

int read_pad_code(ImageMaskTable& m, ReadState& s) {
  std::size_t n = (std::size_t{m.tpxcdlnth} + 7) / 8;
  if (int x = ensure_room(s, n, "TPXCD"); x != RET_SUCCESS) return x;
  if (!m.pad_code.allocate(n + 1)) return RET_NO_MEMORY;
  return s.in.bytes(m.pad_code.data(), n, "TPXCD");
}

// The image data mask table at the start of a masked image's data. Its header, as every
// part after it, must lie within the data LI gives: the writer copies LI bytes and
// nothing beyond, so a table read from the bytes after the segment would not survive a
// save.
int read_mask_table(R& r, ReadState& s) {
  std::uint8_t head[10];
  if (int x = ensure_room(s, sizeof head, "mask table header"); x != RET_SUCCESS) return x;
  if (int x = s.in.bytes(head, sizeof head, "mask table header"); x != RET_SUCCESS) return x;
  ImageMaskTable m;
  m.imdatoff = big_endian32(head);
  m.bmrlnth = big_endian16(head + 4);
  m.tmrlnth = big_endian16(head + 6);
  m.tpxcdlnth = big_endian16(head + 8);
  if (m.tpxcdlnth != 0) {
    if (int x = read_pad_code(m, s); x != RET_SUCCESS) return x;
  }
  std::uint64_t count = 0;
  if (m.bmrlnth != 0 || m.tmrlnth != 0) {
    if (int x = mask_record_count(r, s.in, &count); x != RET_SUCCESS) return x;
  }
  if (m.bmrlnth != 0) {
    if (int x = read_mask_records(s, count, &m.block_records, "BMRnBNDm"); x != RET_SUCCESS)
      return x;
  }
  if (m.tmrlnth != 0) {
    if (int x = read_mask_records(s, count, &m.pad_records, "TMRnBNDm"); x != RET_SUCCESS) return x;
  }
  r.mask = std::move(m);
  return RET_SUCCESS;
}

// start + length, but not beyond the end of the file.
// The normal read, which cannot leave the segment. With a streaming marker the block
// counts are not known yet, so the mask table is left to the re-read.
int read_in_segment(R& r, NitfDocument& d, std::int64_t start, const char* context, bool* marker) {
  std::uint64_t lish = d.header.images.subheader(r.index);
  std::uint64_t li = d.header.images.data(r.index);
  FieldReader in(d.file, end_within(d.file_size, start, lish), context);
  ReadState s{in, -1, d};
  int result = read_fields(r, s);
  *marker = s.use.marker;
  if (result != RET_SUCCESS || s.use.marker || !is_masked(r.compression)) return result;
  // The data, and so the table, start where LISH says, not where the fields ended: a
  // subheader longer than its fields keeps bytes the writer does not copy.
  if (kernel::seek_file(d.file, start + static_cast<std::int64_t>(lish), kernel::kSeekSet) < 0)
    return RET_FILE_READ;
  FieldReader data(d.file, end_within(d.file_size, start, lish + li), context);
  ReadState mask{data, -1, d};
  return read_mask_table(r, mask);
}

// The bounded re-read from the replacement data: what it takes is consumed whether it
// ran to the end or out of budget.
int read_replacement(R& r, NitfDocument& d, std::int64_t budget, const char* context) {
  FieldReader in(d.file, d.file_size, context, budget);
  ReadState s{in, budget, d};
  int result = read_fields(r, s);
  if (result == RET_SUCCESS && is_masked(r.compression)) result = read_mask_table(r, s);
  d.streaming.replacement_consumed += in.taken();
  d.streaming.bytes_to_end -= in.taken();
  return result == kBudgetSpent ? RET_SUCCESS : result;
}

int read_again(R& r, NitfDocument& d, StreamingFileHeader* sfh) {
  if (!sfh) return RET_INVALID_PARAMETER;
  if (!d.streaming.located) {
    int x = locate_streaming_file_header(d.file, sfh, &d.streaming.bytes_to_end);
    if (x != RET_SUCCESS) return x;
    d.streaming.located = 1;
  }
  std::int64_t at = d.file_size - d.streaming.bytes_to_end;
  if (kernel::seek_file(d.file, at, kernel::kSeekSet) != at) return RET_FILE_READ;
  return read_imsubhdr(&r, &d, sfh, ReadMode::kBounded);
}

}  // namespace

void ImageMaskTable::clear() {
  imdatoff = 0;
  bmrlnth = tmrlnth = tpxcdlnth = 0;
  pad_code.reset();
  block_records.reset();
  pad_records.reset();
}

std::uint32_t ImageMaskTable::decode(const kernel::Buffer<std::uint32_t>& records, std::size_t k) {
  if (k >= records.size()) return 0;
  return big_endian32(reinterpret_cast<const std::uint8_t*>(records.data() + k));
}

bool magnification_of(const char* imag, double* value) {
  if (imag[0] != '/') {
    *value = decimal_value(imag);
    return true;
  }
  std::int32_t divisor = parse_decimal(imag + 1);
  if (divisor < 1) return false;
  *value = 1.0 / divisor;
  return true;
}

bool magnification_text(const char* imag, double v, char out[5]) {
  double stored = 1.0;
  if (!magnification_of(imag, &stored)) stored = 1.0;
  // An empty text (NULs in a file) says 0 as blanks do, and goes out as the blanks.
  if (stored == v) {
    std::snprintf(out, 5, "%s", imag);
    return true;
  }
  char text[32];
  auto reads_back = [&](int n) {
    double back = 0;
    return n > 0 && n <= 4 && magnification_of(text, &back) && back == v;
  };
  bool found = false;
  for (int digits = 0; digits <= 3 && !found; ++digits)
    found = reads_back(std::snprintf(text, sizeof text, "%.*f", digits, v));
  if (!found && v > 0 && v < 1)
    found = reads_back(std::snprintf(text, sizeof text, "/%.0f", std::round(1.0 / v)));
  for (int digits = 3; digits >= 0 && !found; --digits)
    found = std::snprintf(text, sizeof text, "%.*f", digits, v) <= 4;
  if (found) std::memcpy(out, text, 5);
  return found;
}

NitfImageSubheader::NitfImageSubheader(NitfDocument* owner, std::uint32_t position)
    : document(owner), index(position) {
  set_defaults(std::span<const ImageField>(kFields), *this);
}

std::span<const ImageField> image_fields() {
  return kFields;
}

std::span<const ImageField> image20_fields() {
  return v20::kFields20;
}

std::span<const Field<ImageBand>> band_fields() {
  return kBandFields;
}

kernel::Tracked<NitfImageSubheader> create_imsubhdr(NitfDocument* owner, std::uint32_t index) {
  return kernel::make_tracked<NitfImageSubheader>(owner, index);
}

int read_imsubhdr(NitfImageSubheader* r, NitfDocument* d, StreamingFileHeader* sfh, ReadMode mode) {
  std::int64_t start = kernel::seek_file(d->file, 0, kernel::kSeekCurrent);
  if (start < 0) return RET_FILE_READ;
  char context[40];
  std::snprintf(context, sizeof context, "image subheader %u", r->index);
  if (mode == ReadMode::kBounded) {
    std::int64_t budget = sfh ? sfh->sfh_l1 - d->streaming.replacement_consumed : 0;
    if (budget < 2) return RET_SUCCESS;
    int result = read_replacement(*r, *d, budget, context);
    if (result == RET_SUCCESS) kernel::seek_file(d->file, start, kernel::kSeekSet);
    return result;
  }
  bool marker = false;
  if (int x = read_in_segment(*r, *d, start, context, &marker); x != RET_SUCCESS) return x;
  if (marker) {
    if (int x = read_again(*r, *d, sfh); x != RET_SUCCESS) return x;
  }
  kernel::seek_file(d->file, start, kernel::kSeekSet);
  return RET_SUCCESS;
}

int set_band_count(NitfImageSubheader* r, std::int32_t count) {
  char text[2];
  if (int x = FormatNumberField(text, 1, count); x != RET_SUCCESS) return x;
  // The arrays cover the band count, which XBANDS may make larger than NBANDS.
  std::int32_t n = std::max(count, parse_decimal(r->xbands));
  kernel::Buffer<ImageBand> bands;
  if (!bands.allocate(static_cast<std::size_t>(n))) return RET_NO_MEMORY;
  for (std::int32_t i = 0; i < n; ++i) {
    std::strcpy(bands[i].ifc, "N");
    std::strcpy(bands[i].imflt, "   ");
  }
  r->bands = std::move(bands);
  r->band_count = n;
  r->nbands_value = count;
  std::memcpy(r->nbands, text, sizeof text);
  return RET_SUCCESS;
}

int set_band_representation(NitfImageSubheader* r, std::uint32_t band, const char* text) {
  BandRepresentationCode code;
  if (band >= static_cast<std::uint32_t>(std::max(r->band_count, 0)) || band >= r->bands.size() ||
      !text || !code_of(kBandRepresentations, text, &code))
    return RET_INVALID_PARAMETER;
  r->bands[band].representation = code;
  return RET_SUCCESS;
}

NitfImageSubheader* find_image_subheader(NitfDocument* d, std::uint32_t index) {
  if (!d || index >= d->image_count || index >= d->images.size()) return nullptr;
  return d->images[index].get();
}

}  // namespace nitf
