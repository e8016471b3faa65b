// The image subheader setter: Kv_NITFSetImageHeader and the per-field setters it is
// made of (the image appender builds new subheaders from the same ones).
//
// A set first judges every member and refuses the record without changing anything
// when one would be refused; then it takes them in subheader order. The subheader's
// length is measured before and after and the difference moves the document's current
// LISH and FL, so that a comment, band, extension area, IGEOLO or
// COMRAT that comes or goes keeps the lengths the getters report true. Fields that
// describe the stored image data (the mask table header) are taken only where they
// agree with the data; the band arrays are rebuilt only when the band count changes.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "core/records.h"
#include "fields/fieldreader.h"
#include "fields/utility.h"
#include "image/imsubhdr.h"
#include "writing/utility_setters.h"

namespace nitf {
namespace {

using R = NitfImageSubheader;
using Id = ImageId;

const ImageField& entry(Id id) {
  return field(image_fields(), id);
}

bool bands_fit(std::int64_t nbands, std::int64_t xbands) {
  return nbands >= 0 && nbands <= 9 && xbands >= 0 && xbands <= 99999 &&
         (nbands != 0 || xbands != 0);
}

// Bands rebuilt only when their number changes: the record carries no per-band fields.
int set_bands(R* r, std::int64_t nbands, std::int64_t xbands) {
  if (!bands_fit(nbands, xbands)) return RET_INVALID_PARAMETER;
  const std::int64_t count = nbands != 0 ? nbands : xbands;
  char xbands_text[6];
  FormatNumberField(xbands_text, 5, nbands != 0 ? 0 : xbands);
  if (count == r->band_count && nbands == r->nbands_value) return RET_SUCCESS;
  std::memcpy(r->xbands, xbands_text, sizeof xbands_text);
  // New bands have no LUTs, so the colour table they made goes with them.
  r->colours.entries.reset();
  r->luts.reset();
  return set_band_count(r, static_cast<std::int32_t>(nbands));
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

// The block and pad records stay as read, so the header that describes them must too;
// only the pad pixel code itself may be replaced. True when the record's mask table
// header is the image's.
bool same_mask_header(const R* r, const NitfImageHeader& h) {
  const ImageMaskTable& m = r->mask;
  return h.IMDATOFF == m.imdatoff && h.BMRLNTH == m.bmrlnth && h.TMRLNTH == m.tmrlnth &&
         h.TPXCDLNTH == m.tpxcdlnth;
}

// `compression` is the one the record has once IC is taken.
int check_mask_header(const R* r, const NitfImageHeader& h, CompressionCode compression) {
  if (same_mask_header(r, h)) return RET_SUCCESS;
  const ImageMaskTable& m = r->mask;
  const bool unmasked = m.imdatoff == 0 && m.bmrlnth == 0 && m.tmrlnth == 0 && m.tpxcdlnth == 0;
  // A record from a get of an unmasked image reports zeros; anything else is refused.
  return unmasked && !is_masked(compression) ? RET_SUCCESS : RET_INVALID_PARAMETER;
}

int set_mask_header(R* r, const NitfImageHeader& h) {
  if (!same_mask_header(r, h)) return check_mask_header(r, h, r->compression);
  const void* code = load_member<const void>(&h.TPXCD);
  return code ? set_pad_code(r, code) : RET_SUCCESS;
}

int set_comment(R* r, std::uint32_t n, const char* text) {
  if (!text || n >= static_cast<std::uint32_t>(std::max(r->comment_count, 0)) ||
      n >= r->comments.size())
    return RET_INVALID_PARAMETER;
  return CopyTextField(r->comments[n].text, 80, text);
}

int check_comments(const R* r, const NitfImageHeader& h) {
  // Comments can be replaced, not added: the record has room for those it holds.
  if (h.NICOM > 9 || static_cast<std::int32_t>(h.NICOM) > r->comment_count)
    return RET_INVALID_PARAMETER;
  char** comments = load_member<char*>(&h.ICOM);
  if (h.NICOM != 0 && !comments) return RET_INVALID_PARAMETER;
  for (std::uint32_t i = 0; i < h.NICOM; ++i)
    if (!comments[i] || std::strlen(comments[i]) > 80) return RET_INVALID_PARAMETER;
  return RET_SUCCESS;
}

int set_comments(R* r, const NitfImageHeader& h) {
  if (int x = check_comments(r, h); x != RET_SUCCESS) return x;
  char** comments = load_member<char*>(&h.ICOM);
  r->comment_count = static_cast<std::int32_t>(h.NICOM);
  FormatNumberField(r->nicom, 1, h.NICOM);
  for (std::uint32_t i = 0; i < h.NICOM; ++i) set_comment(r, i, comments[i]);
  return RET_SUCCESS;
}

int set_area(R* r, const NitfImageHeader& h, Id length) {
  std::int64_t delta = 0;  // measured with the whole subheader
  if (length == Id::UDIDL)
    return SetExtensionArea(&r->udid, r->udidl, r->udofl, h.UDIDL, h.UDOFL,
                            load_member<const void>(&h.UDID), &delta);
  return SetExtensionArea(&r->ixshd, r->ixshdl, r->ixsofl, h.IXSHDL, h.IXSOFL,
                          load_member<const void>(&h.IXSHD), &delta);
}

// The fields the image keeps in groups of their own: comments, bands, areas.
int set_group(R* r, const NitfImageHeader& h, Id id) {
  switch (id) {
    case Id::NICOM:
      return set_comments(r, h);
    case Id::NBANDS:
      return set_bands(r, h.NBANDS, h.XBANDS);
    case Id::UDIDL:
    case Id::IXSHDL:
      return set_area(r, h, id);
    default:
      return RET_SUCCESS;  // XBANDS and the overflow fields go with their group
  }
}

// Every refusal set_all could meet, judged before anything changes (the generic fields
// on a trial record).
int check_all(R* r, const NitfImageHeader& h) {
  const bool v20 = r->document && r->document->header.nitf20;
  NitfImageSubheader trial(r->document, r->index);
  if (int x = check_fields(v20 ? image20_fields() : image_fields(), trial, &h); x != RET_SUCCESS)
    return x;
  if (int x = check_comments(r, h); x != RET_SUCCESS) return x;
  if (!bands_fit(h.NBANDS, h.XBANDS)) return RET_INVALID_PARAMETER;
  if (int x = CheckExtensionArea(r->udidl, h.UDIDL, h.UDOFL, load_member<const void>(&h.UDID));
      x != RET_SUCCESS)
    return x;
  if (int x = CheckExtensionArea(r->ixshdl, h.IXSHDL, h.IXSOFL, load_member<const void>(&h.IXSHD));
      x != RET_SUCCESS)
    return x;
  return check_mask_header(r, h, trial.compression);
}

// The members in subheader order, then the mask table header: after check_all only a
// refused allocation stops it.
int set_all(R* r, const NitfImageHeader& h) {
  // A NITF 2.0 image takes its fields at the 2.0 widths; its groups are the 2.1 ones.
  const bool v20 = r->document && r->document->header.nitf20;
  for (const ImageField& f : v20 ? image20_fields() : image_fields()) {
    int x = RET_SUCCESS;
    if (f.flags & kKindSets) {
      x = set_group(r, h, static_cast<Id>(find_field(image_fields(), f.name)->id));
    } else if (generic_settable(f)) {
      x = set_field(f, *r, &h, LongText::kRefuse);
    }
    if (x != RET_SUCCESS) return x;
  }
  return set_mask_header(r, h);
}

}  // namespace

std::int64_t image_subheader_length(const NitfImageSubheader& r) {
  std::int64_t n = run_length(image_fields(), Id::IM, Id::IXSOFL, r);
  n -= entry(Id::UDOFL).width + entry(Id::IXSOFL).width;  // counted by ExtensionSpan
  n += 80 * std::int64_t{std::max(r.comment_count, 0)};
  const std::span<const Field<ImageBand>> band = band_fields();
  for (std::size_t b = 0; b < r.bands.size(); ++b) {
    n += run_length(band, BandId::IREPBAND, BandId::NELUT, r.bands[b]);
    if (r.bands[b].lut_count > 0)
      n += std::int64_t{r.bands[b].lut_count} * std::max<std::int64_t>(r.bands[b].lut_entries, 0);
  }
  n -= entry(Id::UDIDL).width + entry(Id::IXSHDL).width;
  return n + ExtensionSpan(parse_decimal(r.udidl)) + ExtensionSpan(parse_decimal(r.ixshdl));
}

int set_image_text(NitfImageSubheader* r, ImageId id, const char* text) {
  return put_text(entry(id), *r, text);
}

int set_image_number(NitfImageSubheader* r, ImageId id, std::int64_t value) {
  return put_number(entry(id), *r, value);
}

int set_location(NitfImageSubheader* r, std::int64_t row, std::int64_t column) {
  return put_location(entry(Id::ILOC), *r, row, column);
}

}  // namespace nitf

KV_API int32_t KV_CALL Kv_NITFSetImageHeader(NitfDocument* document, uint32_t index,
                                             NitfImageHeader* record) {
  if (!document) return RET_FAILURE;
  if (!record) return RET_BAD_ARGUMENT;
  nitf::NitfImageSubheader* r = nitf::find_image_subheader(document, index);
  if (!r) return RET_INVALID_PARAMETER;
  if (int x = nitf::check_all(r, *record); x != RET_SUCCESS) return x;
  const std::int64_t before = nitf::image_subheader_length(*r);
  const int result = nitf::set_all(r, *record);
  nitf::AdjustSubheaderLength(document, nitf::SegmentKind::kImage, index,
                              nitf::image_subheader_length(*r) - before);
  return result;
}
