// The writer's image segments: the subheader regenerated from its record, and the data
// copied from the source (vector-quantised data after a check of its header).
//
// The field tables of imsubhdr give the order and widths; codes and numbers are written
// from the record's values, everything else from its stored texts. The image data mask
// table belongs to the data (MIL-STD-2500C): it is copied with them, so LISH measures
// the subheader alone.
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

constexpr const char* kRepresentationTexts[] = {
    "MONO", "RGB", "RGB/LUT", "MULTI", "NODISPLY", "NVECTOR", "POLAR", "VPH", "YCbCr601"};
constexpr const char* kBandTexts[] = {"  ", "LU", "R", "G", "B", "M", "Y", "Cb", "Cr"};
constexpr const char* kBilevelTexts[] = {"1D", "2DS", "2DH"};
constexpr const char* kModeTexts[] = {"B", "P", "R", "S"};

template <class Code, std::size_t N>
const char* code_text(Code code, const char* const (&texts)[N]) {
  auto i = static_cast<std::size_t>(code);
  return i < N ? texts[i] : nullptr;
}

int unknown_code(const R& r, const char* field) {
  char line[96];
  std::snprintf(line, sizeof line, "save: image %u has no %s the file format knows\n", r.index,
                field);
  kernel::debug_output(line);
  return RET_FILE_FORMAT;
}

// The stored text while it still says the record's value (a setter may have changed
// the value since); otherwise the shortest form that fits and reads back the same,
// the nearest four-character form when none does.
int imag_text(const R& r, char out[5]) {
  double stored = 1.0;
  if (!magnification_of(r.imag, &stored)) stored = 1.0;
  if (stored == r.magnification && r.imag[0] != '\0') {
    std::snprintf(out, 5, "%s", r.imag);
    return RET_SUCCESS;
  }
  const double v = r.magnification;
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
  if (!found) return RET_INVALID_PARAMETER;  // 10000 and more, or not a number
  std::memcpy(out, text, 5);
  return RET_SUCCESS;
}

// C1 and M1 carry their coding scheme in COMRAT; every other code keeps its stored
// text (a compression rate, or a JPEG 2000 "N045"), which no value of the record holds.
const char* comrat_text(const R& r) {
  bool bilevel = r.compression == CompressionCode::kC1 || r.compression == CompressionCode::kM1;
  const char* mode = code_text(r.bilevel_mode, kBilevelTexts);
  return bilevel && mode ? mode : r.comrat;
}

}  // namespace

int KvNitfSaveFile::WriteImageSubheader(std::uint32_t i) {
  R& r = *document().images[i];
  if (r.pixel_type != PixelValueTypeCode::kInteger &&
      r.pixel_type != PixelValueTypeCode::kBilevel) {
    kernel::message_box("Unsupported PVTYPE", "Error");
    return RET_UNSUPPORTED_PVTYPE;
  }
  const char* irep = code_text(r.representation, kRepresentationTexts);
  if (!irep) return unknown_code(r, "IREP");
  std::size_t n = 0;
  const ImageField* leading = image_leading_fields(&n);
  for (std::size_t k = 0; k < n; ++k) {
    const ImageField& f = leading[k];
    std::string_view name = f.name;
    int x;
    if (name == "NROWS" || name == "NCOLS") {
      x = WriteNumber(name == "NROWS" ? r.rows : r.columns, 8);
    } else if (name == "PVTYPE") {
      x = WriteField(r.pixel_type == PixelValueTypeCode::kBilevel ? "B" : "INT", 3, " ");
    } else if (name == "IREP") {
      x = WriteField(irep, 8, " ");
    } else if (name == "ABPP") {
      x = WriteNumber(r.significant_bits, 2);
    } else if (name == "PJUST") {
      x = WriteField(r.right_justified ? "R" : "L", 1, " ");
    } else {
      x = WriteField(f.text(r), f.width, f.numeric ? "0" : " ");
    }
    if (x != RET_SUCCESS) return x;
  }
  if (r.icords[0] != ' ') {
    if (int x = WriteField(r.igeolo, 60, " "); x != RET_SUCCESS) return x;
  }
  if (int x = WriteComments(i); x != RET_SUCCESS) return x;
  const char* ic = compression_text(r.compression);
  if (!ic) return unknown_code(r, "IC");
  if (int x = WriteField(ic, 2, " "); x != RET_SUCCESS) return x;
  if (r.compression != CompressionCode::kNC && r.compression != CompressionCode::kNM) {
    if (int x = WriteField(comrat_text(r), 4, " "); x != RET_SUCCESS) return x;
  }
  if (int x = WriteBands(i); x != RET_SUCCESS) return x;
  if (int x = WriteImageTrailer(i); x != RET_SUCCESS) return x;
  if (int x = WriteExtension(r.udid, r.udofl); x != RET_SUCCESS) return x;
  return WriteExtension(r.ixshd, r.ixsofl);
}

int KvNitfSaveFile::WriteComments(std::uint32_t i) {
  const R& r = *document().images[i];
  if (r.comment_count < 0 || static_cast<std::size_t>(r.comment_count) > r.comments.size())
    return unknown_code(r, "comment array for its NICOM");
  if (int x = WriteNumber(r.comment_count, 1); x != RET_SUCCESS) return x;
  for (std::int32_t c = 0; c < r.comment_count; ++c) {
    if (int x = WriteField(r.comments[c].text, 80, " "); x != RET_SUCCESS) return x;
  }
  return RET_SUCCESS;
}

// NBANDS as read (XBANDS carries the count when it is 0), then each band's fields.
int KvNitfSaveFile::WriteBands(std::uint32_t i) {
  const R& r = *document().images[i];
  std::int32_t count = r.nbands_value != 0 ? r.nbands_value : r.band_count;
  if (count < 0 || count > r.band_count || static_cast<std::size_t>(count) > r.bands.size())
    return unknown_code(r, "band array for its band count");
  if (int x = WriteNumber(r.nbands_value, 1); x != RET_SUCCESS) return x;
  if (r.nbands_value == 0) {
    if (int x = WriteNumber(count, 5); x != RET_SUCCESS) return x;
  }
  for (std::int32_t b = 0; b < count; ++b) {
    const ImageBand& band = r.bands[b];
    const char* irepband = code_text(band.representation, kBandTexts);
    if (!irepband) return unknown_code(r, "IREPBANDn");
    int x = WriteField(irepband, 2, " ");
    if (x == RET_SUCCESS) x = WriteField(band.isubcat, 6, " ");
    if (x == RET_SUCCESS) x = WriteField(band.ifc, 1, "0");
    if (x == RET_SUCCESS) x = WriteField(band.imflt, 3, " ");
    if (x == RET_SUCCESS) x = WriteNumber(band.lut_count, 1);
    if (x == RET_SUCCESS && band.lut_count != 0) x = WriteNumber(band.lut_entries, 5);
    if (x == RET_SUCCESS && band.lut_count != 0 && band.lut_entries != 0) x = WriteLuts(r, band);
    if (x != RET_SUCCESS) return x;
  }
  return RET_SUCCESS;
}

// The record keeps one colour table per image, red, green and blue per entry: one LUT
// is its red (grey) column, two are red then green, three red, green, blue. A fourth
// table, or more entries than the table holds, was never kept and cannot be written.
int KvNitfSaveFile::WriteLuts(const NitfImageSubheader& r, const ImageBand& band) {
  const auto entries = static_cast<std::size_t>(band.lut_entries);
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

// ISYNC to IMAG.
int KvNitfSaveFile::WriteImageTrailer(std::uint32_t i) {
  R& r = *document().images[i];
  const char* mode = code_text(r.mode, kModeTexts);
  if (!mode) return unknown_code(r, "IMODE");
  char imag[5];
  if (int x = imag_text(r, imag); x != RET_SUCCESS) return x;
  const struct {
    const char* name;
    std::int64_t value;
  } numbers[] = {{"NBPR", r.blocks_per_row},   {"NBPC", r.blocks_per_column},
                 {"NPPBH", r.block_width},     {"NPPBV", r.block_height},
                 {"NBPP", r.bits_per_pixel},   {"IDLVL", r.display_level},
                 {"IALVL", r.attachment_level}};
  std::size_t n = 0;
  const ImageField* trailing = image_trailing_fields(&n);
  for (std::size_t k = 0; k < n; ++k) {
    const ImageField& f = trailing[k];
    std::string_view name = f.name;
    int x = RET_FILE_FORMAT;
    if (name == "IMODE") {
      x = WriteField(mode, 1, "0");
    } else if (name == "IMAG") {
      x = WriteField(imag, 4, " ");
    } else {
      const auto* number = std::find_if(std::begin(numbers), std::end(numbers),
                                        [&](const auto& e) { return name == e.name; });
      x = number != std::end(numbers) ? WriteNumber(number->value, f.width)
                                      : WriteField(f.text(r), f.width, f.numeric ? "0" : " ");
    }
    if (x != RET_SUCCESS) return x;
  }
  return RET_SUCCESS;
}

int KvNitfSaveFile::WriteImageData(std::uint32_t i) {
  const R& r = *document().images[i];
  if (r.appended && !r.appended_data.empty())
    return WriteBytes(r.appended_data.data(), r.appended_data.size());
  if (r.compression == CompressionCode::kC4 || r.compression == CompressionCode::kM4)
    return WriteVqImageData(i);
  return CopyImageData(i);
}

// Byte for byte from the source, the mask table of a masked image included. An image
// with no data in the source (appended, but without data yet) writes nothing.
int KvNitfSaveFile::CopyImageData(std::uint32_t i) {
  const NitfDocument& d = document();
  if (i >= d.source_image_count) return RET_SUCCESS;
  return CopySource(segment_data_offset(d, SegmentKind::kImage, i), d.header.images.data(i));
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
  return CopySource(start, li);
}

}  // namespace nitf
