// The writer's image segments: the subheader regenerated from its record through the
// field tables (codes and sizes from the record's values, everything else from its
// stored texts), and the data copied from the source (vector-quantised data after a
// check of its header). The image data mask table belongs to the data: it is copied
// with them, so LISH measures the subheader alone.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include <kvntfu.h>

#include "writing/savenitf.h"

namespace nitf {
namespace {

using R = NitfImageSubheader;
using Id = ImageId;

int unknown_code(const R& r, const char* field) {
  char line[96];
  std::snprintf(line, sizeof line, "save: image %u has no %s the file format knows\n", r.index,
                field);
  kernel::debug_output(line);
  return RET_FILE_FORMAT;
}

// The codes the writer puts from the record's values must have names in the file.
int check_codes(const R& r) {
  if (r.pixel_type != PixelValueTypeCode::kInteger &&
      r.pixel_type != PixelValueTypeCode::kBilevel) {
    kernel::message_box("Unsupported PVTYPE", "Error");
    return RET_UNSUPPORTED_PVTYPE;
  }
  if (!name_of(kRepresentations, r.representation)) return unknown_code(r, "IREP");
  if (!name_of(kCompressions, r.compression)) return unknown_code(r, "IC");
  if (!name_of(kImageModes, r.mode)) return unknown_code(r, "IMODE");
  return RET_SUCCESS;
}

}  // namespace

int check_image_codes(const R& r) {
  return check_codes(r);
}

int KvNitfSaveFile::WriteImageSubheader(std::uint32_t i) {
  if (document().header.nitf20) return WriteImageSubheader20(i);
  R& r = *document().images[i];
  const auto table = image_fields();
  if (int x = check_codes(r); x != RET_SUCCESS) return x;
  if (int x = WriteRun(table, Id::IM, Id::IGEOLO, r); x != RET_SUCCESS) return x;
  if (int x = WriteComments(i); x != RET_SUCCESS) return x;
  if (int x = WriteRun(table, Id::IC, Id::COMRAT, r); x != RET_SUCCESS) return x;
  if (int x = WriteBands(i); x != RET_SUCCESS) return x;
  if (int x = WriteRun(table, Id::ISYNC, Id::IMAG, r); x != RET_SUCCESS) return x;
  if (int x = WriteExtension(r.udid, r.udofl); x != RET_SUCCESS) return x;
  return WriteExtension(r.ixshd, r.ixsofl);
}

int KvNitfSaveFile::WriteComments(std::uint32_t i) {
  const R& r = *document().images[i];
  if (r.comment_count < 0 || static_cast<std::size_t>(r.comment_count) > r.comments.size())
    return unknown_code(r, "comment array for its NICOM");
  if (int x = WriteNumber(r.comment_count, field(image_fields(), Id::NICOM).width);
      x != RET_SUCCESS)
    return x;
  for (std::int32_t c = 0; c < r.comment_count; ++c) {
    if (int x = WriteField(r.comments[c].text, 80, " "); x != RET_SUCCESS) return x;
  }
  return RET_SUCCESS;
}

// NBANDS as read (XBANDS carries the count when it is 0), then each band's fields.
int KvNitfSaveFile::WriteBands(std::uint32_t i) {
  const R& r = *document().images[i];
  const auto table = image_fields();
  std::int32_t count = r.nbands_value != 0 ? r.nbands_value : r.band_count;
  if (count < 0 || count > r.band_count || static_cast<std::size_t>(count) > r.bands.size())
    return unknown_code(r, "band array for its band count");
  if (int x = WriteNumber(r.nbands_value, field(table, Id::NBANDS).width); x != RET_SUCCESS)
    return x;
  if (r.nbands_value == 0) {
    if (int x = WriteNumber(count, field(table, Id::XBANDS).width); x != RET_SUCCESS) return x;
  }
  for (std::int32_t b = 0; b < count; ++b) {
    const ImageBand& band = r.bands[b];
    if (!name_of(kBandRepresentations, band.representation) &&
        band.representation != BandRepresentationCode::kNone)
      return unknown_code(r, "IREPBANDn");
    int x = WriteRun(band_fields(), BandId::IREPBAND, BandId::NELUT, band);
    if (x == RET_SUCCESS && band.lut_count != 0 && band.lut_entries != 0) x = WriteLuts(r, band);
    if (x != RET_SUCCESS) return x;
  }
  return RET_SUCCESS;
}

// A band's LUTs are written as they were read when the record still holds them (a
// setter that changes the bands drops them together with the colour table). Otherwise
// they come from the image's one colour table, red, green and blue per entry: one LUT is
// its red (grey) column, two are red then green, three red, green, blue; a fourth table,
// or more entries than the table holds, was never kept and cannot be written.
int KvNitfSaveFile::WriteLuts(const NitfImageSubheader& r, const ImageBand& band) {
  const auto entries = static_cast<std::size_t>(band.lut_entries);
  const std::size_t bytes = entries * static_cast<std::size_t>(band.lut_count);
  if (band.lut_offset <= r.luts.size() && bytes <= r.luts.size() - band.lut_offset)
    return WriteBytes(r.luts.data() + band.lut_offset, bytes);
  if (band.lut_count > 3 || entries > r.colours.entries.size()) {
    char line[112];
    std::snprintf(line, sizeof line,
                  "save: image %u: %d LUTs of %zu entries, the record holds 3 of %zu\n", r.index,
                  band.lut_count, entries, r.colours.entries.size());
    kernel::debug_output(line);
    return RET_NOT_SUPPORTED;
  }
  kernel::Buffer<std::uint8_t> lut;
  if (!lut.allocate(entries)) return RET_NO_MEMORY;
  for (std::int32_t t = 0; t < band.lut_count; ++t) {
    for (std::size_t e = 0; e < entries; ++e) {
      const ColourEntry& c = r.colours.entries[e];
      lut[e] = t == 0 ? c.red : t == 1 ? c.green : c.blue;
    }
    if (int x = WriteBytes(lut.data(), entries); x != RET_SUCCESS) return x;
  }
  return RET_SUCCESS;
}

int KvNitfSaveFile::WriteImageData(std::uint32_t i) {
  const R& r = *document().images[i];
  if (r.appended && !r.appended_data.empty())
    return WriteBytes(r.appended_data.data(), r.appended_data.size());
  // NITF 2.0 map frames keep their VQ tables in RPF sections the VQ header check does
  // not know: a 2.0 document's data go out as they came in.
  const bool vq = r.compression == CompressionCode::kC4 || r.compression == CompressionCode::kM4;
  if (vq && !document().header.nitf20) return WriteVqImageData(i);
  return CopyImageData(i);
}

int held_mask_table(const ImageMaskTable& m, kernel::Buffer<std::uint8_t>* out) {
  const std::size_t code = m.tpxcdlnth ? (std::size_t{m.tpxcdlnth} + 7) / 8 : 0;
  if (code > m.pad_code.size()) return RET_FILE_FORMAT;
  const std::size_t blocks = m.bmrlnth ? m.block_count() * 4 : 0,
                    pads = m.tmrlnth ? m.pad_count() * 4 : 0;
  if (!out->allocate(10 + code + blocks + pads)) return RET_NO_MEMORY;
  std::uint8_t* p = out->data();
  const std::uint32_t head[4] = {m.imdatoff, m.bmrlnth, m.tmrlnth, m.tpxcdlnth};
  for (int k = 0; k < 4; ++k)
    for (int b = k == 0 ? 3 : 1; b >= 0; --b) *p++ = std::uint8_t(head[k] >> (8 * b));
  p = std::copy_n(m.pad_code.data(), code, p);
  p = std::copy_n(reinterpret_cast<const std::uint8_t*>(m.block_records.data()), blocks, p);
  std::copy_n(reinterpret_cast<const std::uint8_t*>(m.pad_records.data()), pads, p);
  return RET_SUCCESS;
}

// Byte for byte from the source, but for a masked image's table. An image with no data
// in the source (appended, but without data yet) writes nothing.
int KvNitfSaveFile::CopyImageData(std::uint32_t i) {
  const NitfDocument& d = document();
  if (i >= d.source_image_count) return RET_SUCCESS;
  return CopyMaskedData(i, segment_data_offset(d, SegmentKind::kImage, i), d.header.images.data(i));
}

// The mask table goes out as the record holds it, which is what the document reads its
// pixels by: the pad code may have been set since, and a streaming file's table comes
// from its replacement data, not from the (older) one the data begin with. The held
// table takes the place of the data's when both describe the same layout (offset to
// the pixels, record and pad code lengths); data whose table has another layout would
// put the pixels where the held table does not say, and are refused.
int KvNitfSaveFile::CopyMaskedData(std::uint32_t i, std::int64_t start, std::uint64_t li) {
  const NitfDocument& d = document();
  const R& r = *d.images[i];
  if (!is_masked(r.compression)) return CopySource(start, li);
  kernel::Buffer<std::uint8_t> table;
  const int made = held_mask_table(r.mask, &table);
  if (made == RET_NO_MEMORY) return made;
  const std::size_t n = table.size();
  std::uint8_t source[10] = {};
  if (made != RET_SUCCESS || li < n || start < 0 ||
      kernel::seek_file(d.file, start, kernel::kSeekSet) != start ||
      kernel::read_file(d.file, source, sizeof source) != sizeof source ||
      !std::equal(source, source + sizeof source, table.data())) {
    char line[128];
    std::snprintf(line, sizeof line,
                  "save: image %u: the mask table held (%zu bytes) does not describe the data's "
                  "(LI %llu)\n",
                  r.index, n, static_cast<unsigned long long>(li));
    kernel::debug_output(line);
    return RET_FILE_FORMAT;
  }
  if (int x = WriteBytes(table.data(), n); x != RET_SUCCESS) return x;
  return CopySource(start + static_cast<std::int64_t>(n), li - n);
}

// Vector-quantised data are copied whole, as every other kind: the header, tables and
// code blocks of the source are exactly what a rebuild piece by piece would write. The
// header is checked first, since data the reader cannot divide into kernels (no code
// rows, or blocks lower than the code rows) must not go into a new file.
int KvNitfSaveFile::WriteVqImageData(std::uint32_t i) {
  const NitfDocument& d = document();
  const R& r = *d.images[i];
  if (i >= d.source_image_count) return RET_SUCCESS;
  std::int64_t start = segment_data_offset(d, SegmentKind::kImage, i);
  std::uint64_t li = d.header.images.data(i);
  std::uint64_t header_at = r.compression == CompressionCode::kM4 ? r.mask.imdatoff : 0;
  std::uint8_t head[4];
  if (header_at > li || li - header_at < 21) return unknown_code(r, "room for a VQ header in LI");
  std::int64_t at = start + static_cast<std::int64_t>(header_at);
  if (start < 0 || kernel::seek_file(d.file, at, kernel::kSeekSet) != at ||
      kernel::read_file(d.file, head, sizeof head) != sizeof head)
    return RET_FILE_READ;
  std::uint32_t code_rows = std::uint32_t{head[0]} << 24 | std::uint32_t{head[1]} << 16 |
                            std::uint32_t{head[2]} << 8 | head[3];
  if (code_rows == 0 || r.block_height < 0 ||
      static_cast<std::uint32_t>(r.block_height) < code_rows)
    return unknown_code(r, "VQ kernel height (code rows 0 or above NPPBV)");
  return CopyMaskedData(i, start, li);
}

}  // namespace nitf
