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
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <span>
#include <type_traits>
#include <utility>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "writing/utility.h"

namespace nitf {
namespace {

using R = NitfImageSubheader;

void fill(char* field, char c, std::size_t n) {
  std::memset(field, c, n);
  field[n] = '\0';
}

template <auto Member>
char* member_text(R& r) {
  return r.*Member;
}

// Conversions run right after their field was read.

int check_im(R& r, const FieldReader& in, bool*) {
  if (std::strcmp(r.im, "IM") != 0) return in.refuse("IM", "not IM", RET_FILE_FORMAT);
  r.segment_read = 1;
  return RET_SUCCESS;
}

int check_isclas(R& r, const FieldReader& in, bool*) {
  if (r.isclas[0] == '\0' || !std::strchr("CRSTU", r.isclas[0]))
    return in.refuse("ISCLAS", "not one of C, R, S, T, U", RET_FILE_FORMAT);
  return RET_SUCCESS;
}

template <auto Text, auto Value>
int to_number(R& r, const FieldReader&, bool*) {
  using T = std::remove_reference_t<decltype(r.*Value)>;
  r.*Value = static_cast<T>(parse_decimal(r.*Text));
  return RET_SUCCESS;
}

// A size or count that a writer of unknown lengths fills with nines.
template <auto Text, auto Value>
int to_marked_number(R& r, const FieldReader& in, bool* marker) {
  constexpr std::size_t width = sizeof(std::declval<R&>().*Text) - 1;
  if (is_all_nines(r.*Text, width)) *marker = true;
  return to_number<Text, Value>(r, in, marker);
}

int convert_pvtype(R& r, const FieldReader& in, bool*) {
  if (r.pvtype[0] == 'B') {
    r.pixel_type = PixelValueTypeCode::kBilevel;
  } else if (r.pvtype[0] == 'I') {
    r.pixel_type = PixelValueTypeCode::kInteger;
  } else {
    in.refuse("PVTYPE", "neither INT nor B", 0);
    kernel::message_box("Unsupported PVTYPE", "Error");
    return RET_UNSUPPORTED_PVTYPE;
  }
  return RET_SUCCESS;
}

struct RepresentationName {
  const char* text;
  RepresentationCode code;
};

// Compared on each candidate's own length, so "RGB/LUT" must come before "RGB".
constexpr RepresentationName kRepresentations[] = {
    {"MONO", RepresentationCode::kMono},
    {"RGB/LUT", RepresentationCode::kRgbLut},
    {"RGB", RepresentationCode::kRgb},
    {"MULTI", RepresentationCode::kMulti},
    {"NODISPLY", RepresentationCode::kNoDisplay},
    {"NVECTOR", RepresentationCode::kNVector},
    {"POLAR", RepresentationCode::kPolar},
    {"VPH", RepresentationCode::kVph},
    {"YCbCr601", RepresentationCode::kYCbCr601},
};

// An IREP outside the table keeps the code the record had.
int convert_irep(R& r, const FieldReader&, bool*) {
  representation_code(r.irep, &r.representation);
  return RET_SUCCESS;
}

int convert_pjust(R& r, const FieldReader&, bool*) {
  r.right_justified = r.pjust[0] != 'L';
  return RET_SUCCESS;
}

constexpr char kModes[] = "BPRS";  // in ImageModeCode order

int convert_imode(R& r, const FieldReader& in, bool*) {
  const char* at = r.imode[0] ? std::strchr(kModes, r.imode[0]) : nullptr;
  if (!at) return in.refuse("IMODE", "not one of B, P, R, S", RET_FILE_FORMAT);
  r.mode = static_cast<ImageModeCode>(at - kModes);
  return RET_SUCCESS;
}

int convert_nbpp(R& r, const FieldReader& in, bool*) {
  r.bits_per_pixel = parse_decimal(r.nbpp);
  if (r.band_count > 1 && r.bits_per_pixel == 16) {
    in.refuse("NBPP", "16 bits per band with more than one band", 0);
    kernel::message_box("Unsupported BPP", "Error");
    return RET_UNSUPPORTED_BPP;
  }
  return RET_SUCCESS;
}

// One 5-character half of ILOC; a leading '-' negates the digits after it.
std::int32_t location_half(const char* half) {
  char digits[6];
  std::memcpy(digits, half, 5);
  digits[5] = '\0';
  if (digits[0] != '-') return parse_decimal(digits);
  digits[0] = '0';
  return -parse_decimal(digits);
}

int convert_iloc(R& r, const FieldReader&, bool*) {
  r.location_row = location_half(r.iloc);
  r.location_column = location_half(r.iloc + 5);
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

int convert_imag(R& r, const FieldReader&, bool*) {
  magnification_of(r.imag, &r.magnification);
  return RET_SUCCESS;
}

#define KV_FIELD(NAME, member, width, numeric, convert)                           \
  ImageField {                                                                    \
    NAME, width, sizeof(R::member) - 1, numeric, member_text<&R::member>, convert \
  }

const ImageField kLeading[] = {
    KV_FIELD("IM", im, 2, false, check_im),
    KV_FIELD("IID1", iid1, 10, false, nullptr),
    KV_FIELD("IDATIM", idatim, 14, true, nullptr),
    KV_FIELD("TGTID", tgtid, 17, false, nullptr),
    KV_FIELD("IID2", iid2, 80, false, nullptr),
    KV_FIELD("ISCLAS", isclas, 1, false, check_isclas),
    KV_FIELD("ISCLSY", isclsy, 2, false, nullptr),
    KV_FIELD("ISCODE", iscode, 11, false, nullptr),
    KV_FIELD("ISCTLH", isctlh, 2, false, nullptr),
    KV_FIELD("ISREL", isrel, 20, false, nullptr),
    KV_FIELD("ISDCTP", isdctp, 2, false, nullptr),
    KV_FIELD("ISDCDT", isdcdt, 8, false, nullptr),
    KV_FIELD("ISDCXM", isdcxm, 4, false, nullptr),
    KV_FIELD("ISDG", isdg, 1, false, nullptr),
    KV_FIELD("ISDGDT", isdgdt, 8, false, nullptr),
    KV_FIELD("ISCLTX", iscltx, 43, false, nullptr),
    KV_FIELD("ISCATP", iscatp, 1, false, nullptr),
    KV_FIELD("ISCAUT", iscaut, 40, false, nullptr),
    KV_FIELD("ISCRSN", iscrsn, 1, false, nullptr),
    KV_FIELD("ISSRDT", issrdt, 8, false, nullptr),
    KV_FIELD("ISCTLN", isctln, 15, false, nullptr),
    KV_FIELD("ENCRYP", encryp, 1, true, nullptr),
    KV_FIELD("ISORCE", isorce, 42, false, nullptr),
    KV_FIELD("NROWS", nrows, 8, true, (to_marked_number<&R::nrows, &R::rows>)),
    KV_FIELD("NCOLS", ncols, 8, true, (to_marked_number<&R::ncols, &R::columns>)),
    KV_FIELD("PVTYPE", pvtype, 3, false, convert_pvtype),
    KV_FIELD("IREP", irep, 8, false, convert_irep),
    KV_FIELD("ICAT", icat, 8, false, nullptr),
    KV_FIELD("ABPP", abpp, 2, true, (to_number<&R::abpp, &R::significant_bits>)),
    KV_FIELD("PJUST", pjust, 1, false, convert_pjust),
    KV_FIELD("ICORDS", icords, 1, false, nullptr),
};

const ImageField kTrailing[] = {
    KV_FIELD("ISYNC", isync, 1, true, nullptr),
    KV_FIELD("IMODE", imode, 1, false, convert_imode),
    KV_FIELD("NBPR", nbpr, 4, true, (to_marked_number<&R::nbpr, &R::blocks_per_row>)),
    KV_FIELD("NBPC", nbpc, 4, true, (to_marked_number<&R::nbpc, &R::blocks_per_column>)),
    KV_FIELD("NPPBH", nppbh, 4, true, (to_marked_number<&R::nppbh, &R::block_width>)),
    KV_FIELD("NPPBV", nppbv, 4, true, (to_marked_number<&R::nppbv, &R::block_height>)),
    KV_FIELD("NBPP", nbpp, 2, true, convert_nbpp),
    KV_FIELD("IDLVL", idlvl, 3, true, (to_number<&R::idlvl, &R::display_level>)),
    KV_FIELD("IALVL", ialvl, 3, true, (to_number<&R::ialvl, &R::attachment_level>)),
    KV_FIELD("ILOC", iloc, 10, true, convert_iloc),
    KV_FIELD("IMAG", imag, 4, false, convert_imag),
};
#undef KV_FIELD

const std::span<const ImageField> kRuns[] = {kLeading, kTrailing};

struct BandName {
  const char* text;
  BandRepresentationCode code;
};

// Compared on each candidate's own length: R, G, B, M and Y on their first character.
constexpr BandName kBandNames[] = {
    {"LU", BandRepresentationCode::kLut},        {"R", BandRepresentationCode::kRed},
    {"G", BandRepresentationCode::kGreen},       {"B", BandRepresentationCode::kBlue},
    {"M", BandRepresentationCode::kMono},        {"Y", BandRepresentationCode::kLuminance},
    {"Cb", BandRepresentationCode::kChromaBlue}, {"Cr", BandRepresentationCode::kChromaRed},
};

constexpr const char* kCompressionTexts[] = {"NC", "NM", "C0", "C1", "C2", "C3", "C4",
                                             "C5", "C6", "C8", "I1", "M0", "M1", "M2",
                                             "M3", "M4", "M5", "M6", "M8"};

// One read: the cursor, the replacement bytes a re-read may take (negative when
// unbounded) and whether a streaming marker was seen.
struct ReadState {
  FieldReader& in;
  std::int64_t budget;
  bool marker = false;
};

// Whether n bytes for `name` may be allocated and read: kBudgetSpent beyond the
// replacement bytes of a re-read, RET_FILE_READ beyond the segment or the file.
int ensure_room(const ReadState& s, std::uint64_t n, const char* name) {
  if (s.budget >= 0 && n > static_cast<std::uint64_t>(s.budget - s.in.taken())) return kBudgetSpent;
  return s.in.fits(n, name) ? RET_SUCCESS : RET_FILE_READ;
}

int read_run(R& r, ReadState& s, const ImageField* fields, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const ImageField& f = fields[i];
    if (int x = s.in.text(f.text(r), f.width, f.name); x != RET_SUCCESS) return x;
    if (!f.convert) continue;
    if (int x = f.convert(r, s.in, &s.marker); x != RET_SUCCESS) return x;
  }
  return RET_SUCCESS;
}

int read_comments(R& r, ReadState& s) {
  char count_text[2];
  if (int x = s.in.text(count_text, 1, "NICOM"); x != RET_SUCCESS) return x;
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

BilevelModeCode bilevel_mode(const char* comrat, BilevelModeCode unchanged) {
  if (std::strncmp(comrat, "1D", 2) == 0) return BilevelModeCode::k1D;
  if (std::strncmp(comrat, "2DS", 3) == 0) return BilevelModeCode::k2DS;
  if (std::strncmp(comrat, "2DH", 3) == 0) return BilevelModeCode::k2DH;
  return unchanged;
}

int read_compression(R& r, ReadState& s) {
  if (int x = s.in.text(r.ic, 2, "IC"); x != RET_SUCCESS) return x;
  r.compression = compression_code(r.ic);
  // COMRAT is absent only for the two uncompressed codes; an unknown IC carries it.
  if (std::strcmp(r.ic, "NC") == 0 || std::strcmp(r.ic, "NM") == 0) return RET_SUCCESS;
  if (int x = s.in.text(r.comrat, 4, "COMRAT"); x != RET_SUCCESS) return x;
  r.bilevel_mode = bilevel_mode(r.comrat, r.bilevel_mode);
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

// The LUTs of a band replace the colour table of any band before it.
int read_luts(const ImageBand& b, ColourTable* colours, ReadState& s) {
  std::size_t entries = static_cast<std::size_t>(b.lut_entries);
  std::uint64_t total = std::uint64_t{entries} * static_cast<std::uint64_t>(b.lut_count);
  if (int x = ensure_room(s, total, "LUTDnm"); x != RET_SUCCESS) return x;
  ColourTable table;
  kernel::Buffer<std::uint8_t> lut;
  if (!table.entries.allocate(entries) || !lut.allocate(entries)) return RET_NO_MEMORY;
  for (std::int32_t t = 0; t < b.lut_count; ++t) {
    if (int x = s.in.bytes(lut.data(), entries, "LUTDnm"); x != RET_SUCCESS) return x;
    spread_lut(table, lut.data(), t, b.lut_count);
  }
  *colours = std::move(table);
  return RET_SUCCESS;
}

int read_band(ImageBand& b, ColourTable* colours, ReadState& s) {
  b.representation = BandRepresentationCode::kNone;
  const struct {
    char* text;
    std::size_t width;
    const char* name;
  } fields[] = {{b.irepband, 2, "IREPBANDn"},
                {b.isubcat, 6, "ISUBCATn"},
                {b.ifc, 1, "IFCn"},
                {b.imflt, 3, "IMFLTn"},
                {b.nluts, 1, "NLUTSn"}};
  for (const auto& f : fields) {
    if (int x = s.in.text(f.text, f.width, f.name); x != RET_SUCCESS) return x;
  }
  band_representation_code(b.irepband, &b.representation);
  b.lut_count = parse_decimal(b.nluts);  // one character: 0 to 9
  if (b.lut_count == 0) return RET_SUCCESS;
  if (int x = s.in.text(b.nelut, 5, "NELUTn"); x != RET_SUCCESS) return x;
  b.lut_entries = parse_decimal(b.nelut);
  if (b.lut_entries < 0) return s.in.refuse("NELUTn", "negative", RET_FILE_FORMAT);
  return b.lut_entries == 0 ? RET_SUCCESS : read_luts(b, colours, s);
}

// NBANDS, and XBANDS when NBANDS is 0.
int read_band_count(ReadState& s, char* nbands, char* xbands, std::int32_t* count) {
  if (int x = s.in.text(nbands, 1, "NBANDS"); x != RET_SUCCESS) return x;
  *count = parse_decimal(nbands);
  if (*count != 0) return RET_SUCCESS;
  if (int x = s.in.text(xbands, 5, "XBANDS"); x != RET_SUCCESS) return x;
  *count = parse_decimal(xbands);
  return *count < 0 ? s.in.refuse("XBANDS", "negative", RET_FILE_FORMAT) : RET_SUCCESS;
}

// IREPBANDn to NLUTSn: the fewest bytes one band takes.
constexpr std::uint64_t kMinimalBandBytes = 13;

int read_bands(R& r, ReadState& s) {
  char nbands[2], xbands[6] = "";
  std::int32_t count = 0;
  if (int x = read_band_count(s, nbands, xbands, &count); x != RET_SUCCESS) return x;
  std::uint64_t least = kMinimalBandBytes * static_cast<std::uint64_t>(count);
  if (int x = ensure_room(s, least, "band fields"); x != RET_SUCCESS) return x;
  kernel::Buffer<ImageBand> bands;
  if (!bands.allocate(static_cast<std::size_t>(count))) return RET_NO_MEMORY;
  for (std::int32_t n = 0; n < count; ++n) {
    if (int x = read_band(bands[n], &r.colours, s); x != RET_SUCCESS) return x;
  }
  r.bands = std::move(bands);
  r.band_count = count;
  r.nbands_value = parse_decimal(nbands);
  std::memcpy(r.nbands, nbands, sizeof nbands);
  if (r.nbands_value == 0) std::memcpy(r.xbands, xbands, sizeof xbands);
  return RET_SUCCESS;
}

int read_extensions(R& r, ReadState& s) {
  ExtensionFields user{r.udidl, r.udofl, "UDIDL", "UDOFL", "UDID"};
  if (int x = read_extension_area(s.in, user, &r.udid); x != RET_SUCCESS) return x;
  ExtensionFields extended{r.ixshdl, r.ixsofl, "IXSHDL", "IXSOFL", "IXSHD"};
  return read_extension_area(s.in, extended, &r.ixshd);
}

// Every field of the subheader, IM to IXSHD.
int read_fields(R& r, ReadState& s) {
  if (int x = read_run(r, s, kLeading, std::size(kLeading)); x != RET_SUCCESS) return x;
  if (r.icords[0] != ' ') {
    if (int x = s.in.text(r.igeolo, 60, "IGEOLO"); x != RET_SUCCESS) return x;
  }
  if (int x = read_comments(r, s); x != RET_SUCCESS) return x;
  if (int x = read_compression(r, s); x != RET_SUCCESS) return x;
  if (int x = read_bands(r, s); x != RET_SUCCESS) return x;
  if (int x = read_run(r, s, kTrailing, std::size(kTrailing)); x != RET_SUCCESS) return x;
  return read_extensions(r, s);
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

// The image data mask table at the start of a masked image's data.
int read_mask_table(R& r, ReadState& s) {
  std::uint8_t head[10];
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
  ReadState s{in, -1};
  int result = read_fields(r, s);
  *marker = s.marker;
  if (result != RET_SUCCESS || s.marker || !is_masked(r.compression)) return result;
  FieldReader data(d.file, end_within(d.file_size, start, lish + li), context);
  ReadState mask{data, -1};
  return read_mask_table(r, mask);
}

// The bounded re-read from the replacement data: what it takes is consumed whether it
// ran to the end or out of budget.
int read_replacement(R& r, NitfDocument& d, std::int64_t budget, const char* context) {
  FieldReader in(d.file, d.file_size, context, budget);
  ReadState s{in, budget};
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

CompressionCode compression_code(std::string_view ic) {
  for (std::size_t i = 0; i < std::size(kCompressionTexts); ++i) {
    if (ic == kCompressionTexts[i]) return static_cast<CompressionCode>(i);
  }
  return CompressionCode::kUnknown;
}

const char* compression_text(CompressionCode code) {
  auto i = static_cast<std::size_t>(code);
  return i < std::size(kCompressionTexts) ? kCompressionTexts[i] : nullptr;
}

bool is_masked(CompressionCode code) {
  switch (code) {
    case CompressionCode::kNM:
    case CompressionCode::kM0:
    case CompressionCode::kM1:
    case CompressionCode::kM3:
    case CompressionCode::kM4:
    case CompressionCode::kM5:
      return true;
    default:
      return false;
  }
}

bool representation_code(const char* text, RepresentationCode* code) {
  for (const RepresentationName& e : kRepresentations) {
    if (std::strncmp(text, e.text, std::strlen(e.text)) == 0) {
      *code = e.code;
      return true;
    }
  }
  return false;
}

bool band_representation_code(const char* text, BandRepresentationCode* code) {
  for (const BandName& e : kBandNames) {
    if (std::strncmp(text, e.text, std::strlen(e.text)) == 0) {
      *code = e.code;
      return true;
    }
  }
  return false;
}

NitfImageSubheader::NitfImageSubheader(NitfDocument* owner, std::uint32_t position)
    : document(owner), index(position) {
  for (std::span<const ImageField> run : kRuns) {
    for (const ImageField& f : run) {
      char* text = f.text(*this);
      if (f.numeric) {
        text[0] = '\0';
      } else {
        fill(text, ' ', f.room);
      }
    }
  }
  std::strcpy(im, "IM");
  std::strcpy(iid1, "Missing ID");
  fill(idatim, ' ', 14);
  std::strcpy(isclas, "U");
  std::strcpy(icat, "VIS");
  std::strcpy(imode, "P");
  imag[0] = '\0';
  fill(igeolo, ' ', 60);
  fill(ic, ' ', 2);
  fill(comrat, ' ', 4);
  for (char* f : {nicom, nbands, xbands, udidl, udofl, ixshdl, ixsofl}) f[0] = '\0';
}

const ImageField* image_leading_fields(std::size_t* count) {
  *count = std::size(kLeading);
  return kLeading;
}

const ImageField* image_trailing_fields(std::size_t* count) {
  *count = std::size(kTrailing);
  return kTrailing;
}

const ImageField* find_image_field(std::string_view name) {
  for (std::span<const ImageField> run : kRuns) {
    for (const ImageField& f : run) {
      if (name == f.name) return &f;
    }
  }
  return nullptr;
}

kernel::Tracked<NitfImageSubheader> create_imsubhdr(NitfDocument* owner, std::uint32_t index) {
  return kernel::make_tracked<NitfImageSubheader>(owner, index);
}

void release_imsubhdr(NitfImageSubheader* r) {
  r->colours.entries.reset();
  r->comments.reset();
  r->comment_count = 0;
  r->bands.reset();
  r->band_count = 0;
  r->udid.clear();
  r->ixshd.clear();
  r->mask.clear();
  r->appended_data.reset();
  r->appended = 0;
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
      !text || !band_representation_code(text, &code))
    return RET_INVALID_PARAMETER;
  r->bands[band].representation = code;
  return RET_SUCCESS;
}

NitfImageSubheader* find_image_subheader(NitfDocument* d, std::uint32_t index) {
  if (!d || index >= d->image_count || index >= d->images.size()) return nullptr;
  return d->images[index].get();
}

}  // namespace nitf
