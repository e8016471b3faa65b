// The image subheader setter: Kv_NITFSetImageHeader and the per-field setters it is
// made of (the image appender builds new subheaders from the same ones).
//
// A set takes the record's members in subheader order and stops at the first it
// refuses; the members before it keep their new values. Whatever was taken, the
// subheader's length is measured before and after and the difference moves the
// document's current LISH and FL, so that a comment, band, extension area, IGEOLO or
// COMRAT that comes or goes keeps the lengths the getters report true. Fields that
// describe the stored image data (the mask table header) are taken only where they
// agree with the data; the band arrays are rebuilt only when the band count changes.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include <kvntfu.h>

#include "core/fieldreader.h"
#include "core/nitffile.h"
#include "core/records.h"
#include "image/imsubhdr.h"
#include "writing/utility.h"
#include "writing/utility_setters.h"

namespace nitf {
namespace {

using R = NitfImageSubheader;

// A text field of the subheader's runs at its width in the file.
int set_named_text(R* r, const char* name, const char* text) {
  const ImageField* f = find_image_field(name);
  if (!f || !text) return RET_INVALID_PARAMETER;
  return CopyTextField(f->text(*r), f->width, text);
}

bool is_uncompressed(const char* ic) {
  return std::strcmp(ic, "NC") == 0 || std::strcmp(ic, "NM") == 0;
}

std::int64_t sum_widths(const ImageField* fields, std::size_t n) {
  std::int64_t total = 0;
  for (std::size_t i = 0; i < n; ++i) total += fields[i].width;
  return total;
}

// Bands rebuilt only when their number changes: the record carries no per-band fields.
int set_bands(R* r, std::int64_t nbands, std::int64_t xbands) {
  if (nbands < 0 || nbands > 9 || xbands < 0 || xbands > 99999 || (nbands == 0 && xbands == 0))
    return RET_INVALID_PARAMETER;
  const std::int64_t count = nbands != 0 ? nbands : xbands;
  char xbands_text[6];
  FormatNumberField(xbands_text, 5, nbands != 0 ? 0 : xbands);
  if (count == r->band_count && nbands == r->nbands_value) return RET_SUCCESS;
  std::memcpy(r->xbands, xbands_text, sizeof xbands_text);
  // New bands have no LUTs, so the colour table they made goes with them.
  r->colours.entries.reset();
  return set_band_count(r, static_cast<std::int32_t>(nbands));
}

// The block and pad records stay as read, so the header that describes them must too;
// only the pad pixel code itself may be replaced.
int set_mask_header(R* r, const NitfImageHeader& h) {
  ImageMaskTable& m = r->mask;
  if (h.IMDATOFF != m.imdatoff || h.BMRLNTH != m.bmrlnth || h.TMRLNTH != m.tmrlnth ||
      h.TPXCDLNTH != m.tpxcdlnth) {
    const bool unmasked = m.imdatoff == 0 && m.bmrlnth == 0 && m.tmrlnth == 0 && m.tpxcdlnth == 0;
    // A record from a get of an unmasked image reports zeros; anything else is refused.
    return unmasked && !is_masked(r->compression) ? RET_SUCCESS : RET_INVALID_PARAMETER;
  }
  const void* code = load_member<const void>(&h.TPXCD);
  return code ? set_pad_code(r, code) : RET_SUCCESS;
}

int set_identification(R* r, const NitfImageHeader& h) {
  const struct {
    const char* name;
    const void* slot;
  } texts[] = {{"IM", &h.IM},         {"IID1", &h.IID1},     {"TGTID", &h.TGTID},
               {"IID2", &h.IID2},     {"ISCLAS", &h.ISCLAS}, {"ISCLSY", &h.ISCLSY},
               {"ISCODE", &h.ISCODE}, {"ISCTLH", &h.ISCTLH}, {"ISREL", &h.ISREL},
               {"ISDCTP", &h.ISDCTP}, {"ISDCXM", &h.ISDCXM}, {"ISDG", &h.ISDG},
               {"ISCLTX", &h.ISCLTX}, {"ISCATP", &h.ISCATP}, {"ISCAUT", &h.ISCAUT},
               {"ISCRSN", &h.ISCRSN}, {"ISCTLN", &h.ISCTLN}, {"ISORCE", &h.ISORCE}};
  for (const auto& t : texts)
    if (int x = set_named_text(r, t.name, load_member<const char>(t.slot)); x != RET_SUCCESS)
      return x;
  return RET_SUCCESS;
}

int set_representation(R* r, const NitfImageHeader& h) {
  if (int x = set_pvtype(r, load_member<const char>(&h.PVTYPE)); x != RET_SUCCESS) return x;
  if (int x = set_irep(r, load_member<const char>(&h.IREP)); x != RET_SUCCESS) return x;
  if (int x = set_named_text(r, "ICAT", load_member<const char>(&h.ICAT)); x != RET_SUCCESS)
    return x;
  if (int x = set_pjust(r, load_member<const char>(&h.PJUST)); x != RET_SUCCESS) return x;
  if (int x = set_icords(r, load_member<const char>(&h.ICORDS)); x != RET_SUCCESS) return x;
  if (int x = set_ic(r, load_member<const char>(&h.IC)); x != RET_SUCCESS) return x;
  if (int x = set_comrat(r, load_member<const char>(&h.COMRAT)); x != RET_SUCCESS) return x;
  const char* igeolo = load_member<const char>(&h.IGEOLO);
  return igeolo ? CopyTextField(r->igeolo, 60, igeolo) : RET_INVALID_PARAMETER;
}

int set_dates_and_size(R* r, const NitfImageHeader& h) {
  const char* t = h.IDATIM;
  FormatDateTime(r->idatim, t, t + 2, t + 4, t + 6, t + 8, t + 10, t + 12);
  for (auto [field, d] : {std::pair{r->isdcdt, h.ISDCDT}, std::pair{r->isdgdt, h.ISDGDT},
                          std::pair{r->issrdt, h.ISSRDT}})
    FormatDate(field, d, d + 2, d + 4, d + 6);
  if (int x = FormatNumberField(r->encryp, 1, h.ENCRYP); x != RET_SUCCESS) return x;
  if (int x = set_image_number(r, "NROWS", h.NROWS); x != RET_SUCCESS) return x;
  if (int x = set_image_number(r, "NCOLS", h.NCOLS); x != RET_SUCCESS) return x;
  return set_image_number(r, "ABPP", h.ABPP);
}

int set_comments(R* r, const NitfImageHeader& h) {
  // Comments can be replaced, not added: the record has room for those it holds.
  if (h.NICOM > 9 || static_cast<std::int32_t>(h.NICOM) > r->comment_count)
    return RET_INVALID_PARAMETER;
  char** comments = load_member<char*>(&h.ICOM);
  if (h.NICOM != 0 && !comments) return RET_INVALID_PARAMETER;
  for (std::uint32_t i = 0; i < h.NICOM; ++i)
    if (!comments[i] || std::strlen(comments[i]) > 80) return RET_INVALID_PARAMETER;
  r->comment_count = static_cast<std::int32_t>(h.NICOM);
  FormatNumberField(r->nicom, 1, h.NICOM);
  for (std::uint32_t i = 0; i < h.NICOM; ++i) set_comment(r, i, comments[i]);
  return RET_SUCCESS;
}

int set_layout(R* r, const NitfImageHeader& h) {
  if (int x = set_bands(r, h.NBANDS, h.XBANDS); x != RET_SUCCESS) return x;
  if (int x = FormatNumberField(r->isync, 1, h.ISYNC); x != RET_SUCCESS) return x;
  if (int x = set_imode(r, load_member<const char>(&h.IMODE)); x != RET_SUCCESS) return x;
  // Packed members go in by value (unary +): no reference may bind to them.
  const std::pair<const char*, std::uint32_t> numbers[] = {
      {"NBPR", +h.NBPR}, {"NBPC", +h.NBPC},   {"NPPBH", +h.NPPBH}, {"NPPBV", +h.NPPBV},
      {"NBPP", +h.NBPP}, {"IDLVL", +h.IDLVL}, {"IALVL", +h.IALVL}};
  for (const auto& [name, value] : numbers)
    if (int x = set_image_number(r, name, value); x != RET_SUCCESS) return x;
  if (int x = set_location(r, h.ILOC_ROW, h.ILOC_COLUMN); x != RET_SUCCESS) return x;
  return set_imag(r, load_member<const char>(&h.IMAG));
}

int set_extensions(R* r, const NitfImageHeader& h) {
  std::int64_t delta = 0;  // measured with the whole subheader
  if (int x = SetExtensionArea(&r->udid, r->udidl, r->udofl, h.UDIDL, h.UDOFL,
                               load_member<const void>(&h.UDID), &delta);
      x != RET_SUCCESS)
    return x;
  return SetExtensionArea(&r->ixshd, r->ixshdl, r->ixsofl, h.IXSHDL, h.IXSOFL,
                          load_member<const void>(&h.IXSHD), &delta);
}

int set_all(R* r, const NitfImageHeader& h) {
  for (int (*step)(R*, const NitfImageHeader&) :
       {set_identification, set_representation, set_dates_and_size, set_comments, set_layout,
        set_extensions, set_mask_header})
    if (int x = step(r, h); x != RET_SUCCESS) return x;
  return RET_SUCCESS;
}

}  // namespace

std::int64_t image_subheader_length(const NitfImageSubheader& r) {
  std::size_t leading = 0, trailing = 0;
  const ImageField* first = image_leading_fields(&leading);
  const ImageField* last = image_trailing_fields(&trailing);
  std::int64_t n = sum_widths(first, leading) + sum_widths(last, trailing);
  if (r.icords[0] != ' ') n += 60;
  n += 1 + 80 * std::int64_t{std::max(r.comment_count, 0)};
  n += 2 + (is_uncompressed(r.ic) ? 0 : 4);
  n += 1 + (r.nbands_value == 0 ? 5 : 0);
  for (std::size_t b = 0; b < r.bands.size(); ++b) {
    const ImageBand& band = r.bands[b];
    n += 13;
    if (band.lut_count > 0)
      n += 5 + std::int64_t{band.lut_count} * std::max<std::int64_t>(band.lut_entries, 0);
  }
  return n + ExtensionSpan(parse_decimal(r.udidl)) + ExtensionSpan(parse_decimal(r.ixshdl));
}

int set_pvtype(R* r, const char* text) {
  if (!text || (text[0] != 'B' && text[0] != 'I')) return RET_INVALID_PARAMETER;
  if (int x = CopyTextField(r->pvtype, 3, text); x != RET_SUCCESS) return x;
  r->pixel_type = text[0] == 'B' ? PixelValueTypeCode::kBilevel : PixelValueTypeCode::kInteger;
  return RET_SUCCESS;
}

int set_irep(R* r, const char* text) {
  RepresentationCode code;
  if (!text || !representation_code(text, &code)) return RET_INVALID_PARAMETER;
  if (int x = CopyTextField(r->irep, 8, text); x != RET_SUCCESS) return x;
  r->representation = code;
  return RET_SUCCESS;
}

int set_pjust(R* r, const char* text) {
  if (!text || (text[0] != 'L' && text[0] != 'R')) return RET_INVALID_PARAMETER;
  if (int x = CopyTextField(r->pjust, 1, text); x != RET_SUCCESS) return x;
  r->right_justified = text[0] == 'R';
  return RET_SUCCESS;
}

int set_icords(R* r, const char* text) {
  return text ? CopyTextField(r->icords, 1, text) : RET_INVALID_PARAMETER;
}

int set_ic(R* r, const char* text) {
  if (!text) return RET_INVALID_PARAMETER;
  const CompressionCode code = compression_code(text);
  if (code == CompressionCode::kUnknown || std::strlen(text) != 2) return RET_INVALID_PARAMETER;
  CopyTextField(r->ic, 2, text);
  r->compression = code;
  return RET_SUCCESS;
}

int set_comrat(R* r, const char* text) {
  if (!text) return RET_INVALID_PARAMETER;
  if (int x = CopyTextField(r->comrat, 4, text); x != RET_SUCCESS) return x;
  if (std::strncmp(text, "1D", 2) == 0) {
    r->bilevel_mode = BilevelModeCode::k1D;
  } else if (std::strncmp(text, "2DS", 3) == 0) {
    r->bilevel_mode = BilevelModeCode::k2DS;
  } else if (std::strncmp(text, "2DH", 3) == 0) {
    r->bilevel_mode = BilevelModeCode::k2DH;
  } else {
    r->bilevel_mode = BilevelModeCode::kNone;
  }
  return RET_SUCCESS;
}

int set_imode(R* r, const char* text) {
  static constexpr char kModes[] = "BPRS";  // in ImageModeCode order
  const char* at = text && text[0] ? std::strchr(kModes, text[0]) : nullptr;
  if (!at) return RET_INVALID_PARAMETER;
  if (int x = CopyTextField(r->imode, 1, text); x != RET_SUCCESS) return x;
  r->mode = static_cast<ImageModeCode>(at - kModes);
  return RET_SUCCESS;
}

int set_image_number(R* r, const char* name, std::int64_t value) {
  const ImageField* f = find_image_field(name);
  if (!f || !f->numeric) return RET_INVALID_PARAMETER;
  if (int x = FormatNumberField(f->text(*r), f->width, value); x != RET_SUCCESS) return x;
  const std::string_view n(name);
  const auto v = static_cast<std::int32_t>(value);  // the widest such field has 8 digits
  if (n == "NROWS") r->rows = static_cast<std::uint32_t>(value);
  if (n == "NCOLS") r->columns = static_cast<std::uint32_t>(value);
  if (n == "ABPP") r->significant_bits = v;
  if (n == "NBPR") r->blocks_per_row = v;
  if (n == "NBPC") r->blocks_per_column = v;
  if (n == "NPPBH") r->block_width = v;
  if (n == "NPPBV") r->block_height = v;
  if (n == "NBPP") r->bits_per_pixel = v;
  if (n == "IDLVL") r->display_level = v;
  if (n == "IALVL") r->attachment_level = v;
  return RET_SUCCESS;
}

int set_location(R* r, std::int64_t row, std::int64_t column) {
  if (int x = FormatLocationField(r->iloc, row, column); x != RET_SUCCESS) return x;
  r->location_row = static_cast<std::int32_t>(row);
  r->location_column = static_cast<std::int32_t>(column);
  return RET_SUCCESS;
}

int set_imag(R* r, const char* text) {
  if (!text) return RET_INVALID_PARAMETER;
  if (int x = CopyTextField(r->imag, 4, text); x != RET_SUCCESS) return x;
  magnification_of(r->imag, &r->magnification);
  return RET_SUCCESS;
}

int set_comment(R* r, std::uint32_t n, const char* text) {
  if (!text || n >= static_cast<std::uint32_t>(std::max(r->comment_count, 0)) ||
      n >= r->comments.size())
    return RET_INVALID_PARAMETER;
  return CopyTextField(r->comments[n].text, 80, text);
}

int set_pad_code(R* r, const void* code) {
  ImageMaskTable& m = r->mask;
  const std::size_t n = (std::size_t{m.tpxcdlnth} + 7) / 8;
  kernel::Buffer<std::uint8_t> copy;
  if (!copy.allocate(n + 1)) return RET_NO_MEMORY;
  std::memcpy(copy.data(), code, n);
  copy[n] = 0;
  m.pad_code = std::move(copy);
  return RET_SUCCESS;
}

}  // namespace nitf

KV_API int32_t KV_CALL Kv_NITFSetImageHeader(NitfDocument* document, uint32_t index,
                                             NitfImageHeader* record) {
  if (!document) return RET_FAILURE;
  if (!record) return RET_BAD_ARGUMENT;
  nitf::NitfImageSubheader* r = nitf::find_image_subheader(document, index);
  if (!r) return RET_INVALID_PARAMETER;
  const std::int64_t before = nitf::image_subheader_length(*r);
  const int result = nitf::set_all(r, *record);
  nitf::AdjustSubheaderLength(document, nitf::SegmentKind::kImage, index,
                              nitf::image_subheader_length(*r) - before);
  return result;
}
