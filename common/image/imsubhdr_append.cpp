// Appending an image segment: a kernel bitmap compressed to one JPEG block (IC C3) and
// the subheader that describes it, built with the per-field setters.
//
// The picture is encoded once, straight from the bitmap; the stream moves from the
// encoder's handle into the record, which the next save writes as the image's data.
#include <cstring>
#include <new>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "fields/utility.h"
#include "fileformat/save.h"
#include "image/imsubhdr.h"
#include "kernel/bitmap.h"
#include "kernel/global_memory.h"

namespace nitf {
namespace {

// Larger blocks are written as one block of size 0000, which readers take as the
// whole row or column.
constexpr std::int32_t kLargestBlockSide = 8192;

int check_request(const NitfDocument& d, const kernel::Bitmap* bitmap, std::int32_t format,
                  std::int32_t bits, std::int32_t quality) {
  if (!bitmap || !bitmap->data || !(bitmap->flags & kernel::kBitmapDataAllocated))
    return RET_INVALID_BITMAP;
  if (d.image_count + 1 > 999) return RET_FAILURE;
  if (bits != 24 && bits != 8) return RET_INVALID_BITS_PER_PIXEL;
  if (quality < 2 || quality > 255) return RET_INVALID_QUALITY;
  if (format != fileformat::kSaveJpegYcc && format != fileformat::kSaveJpegRgb)
    return RET_FILE_FORMAT;
  return RET_SUCCESS;
}

int encode(const kernel::Bitmap* bitmap, std::int32_t format, std::int32_t bits,
           std::int32_t quality, kernel::Buffer<std::uint8_t>* out) {
  std::uint8_t options[fileformat::kSaveOptionsSize] = {};
  const std::uint32_t size_field = fileformat::kSaveOptionsSize;
  std::memcpy(options, &size_field, sizeof size_field);
  options[fileformat::kSaveOptionsProfileWord] = 1;
  kernel::GlobalMemory* handle = nullptr;
  std::uint32_t size = 0;
  int r = fileformat::save_to_memory(&handle, bitmap, format, bits, quality, &size, options);
  if (r != RET_SUCCESS) {
    kernel::global_free(handle);
    return r;
  }
  return take_global_memory(handle, size, out);
}

// The fields of one C3 block of the bitmap's size.
void describe(NitfImageSubheader* r, const NitfDocument& d, const kernel::Bitmap& bitmap,
              std::int32_t format, std::int32_t bits) {
  char idatim[15];
  older_date(d.header.fdt, true, idatim);
  std::memcpy(r->idatim, idatim, sizeof idatim);
  const std::int32_t width = bitmap.width, height = bitmap.height;
  const std::pair<ImageId, std::int64_t> numbers[] = {
      {ImageId::ENCRYP, 0},
      {ImageId::ABPP, 8},
      {ImageId::NBPP, 8},
      {ImageId::NBPR, 1},
      {ImageId::NBPC, 1},
      {ImageId::NROWS, height},
      {ImageId::NCOLS, width},
      {ImageId::NPPBH, width > kLargestBlockSide ? 0 : width},
      {ImageId::NPPBV, height > kLargestBlockSide ? 0 : height},
      {ImageId::ISYNC, 0},
      {ImageId::IDLVL, highest_display_level(d) + 1},
      {ImageId::IALVL, 0},
      {ImageId::NICOM, 0},
      {ImageId::UDIDL, 0},
      {ImageId::IXSHDL, 0}};
  for (const auto& [id, value] : numbers) set_image_number(r, id, value);
  const bool grey = bits == 8;
  const std::pair<ImageId, const char*> texts[] = {
      {ImageId::IMAG, "1.0"},
      {ImageId::PJUST, "R"},
      {ImageId::IC, "C3"},
      {ImageId::COMRAT, "    "},
      {ImageId::PVTYPE, "INT"},
      {ImageId::ICORDS, " "},
      {ImageId::IREP, grey                                 ? "MONO"
                      : format == fileformat::kSaveJpegYcc ? "YCbCr601"
                                                           : "RGB"},
      {ImageId::IMODE, grey ? "B" : "P"}};
  for (const auto& [id, text] : texts) set_image_text(r, id, text);
  set_location(r, 0, 0);
}

int make_bands(NitfImageSubheader* r, std::int32_t format, std::int32_t bits) {
  static const char* const kMono[] = {"M"};
  static const char* const kYcc[] = {"Y", "Cb", "Cr"};
  static const char* const kRgb[] = {"R", "G", "B"};
  const char* const* names = bits == 8 ? kMono : format == fileformat::kSaveJpegYcc ? kYcc : kRgb;
  const std::int32_t n = bits == 8 ? 1 : 3;
  if (int x = set_band_count(r, n); x != RET_SUCCESS) return x;
  for (std::int32_t b = 0; b < n; ++b) {
    set_band_representation(r, static_cast<std::uint32_t>(b), names[b]);
    CopyTextField(r->bands[b].irepband, 2, names[b]);
  }
  return RET_SUCCESS;
}

}  // namespace

int append_image_segment(NitfDocument* d, const kernel::Bitmap* bitmap, std::int32_t format,
                         std::int32_t bits_per_pixel, std::int32_t quality) {
  if (int x = check_request(*d, bitmap, format, bits_per_pixel, quality); x != RET_SUCCESS)
    return x;
  const std::uint32_t index = d->image_count;
  if (d->images.size() != index) return RET_FAILURE;
  kernel::Tracked<NitfImageSubheader> record = create_imsubhdr(d, index);
  if (!record) return RET_NO_MEMORY;
  if (int x = encode(bitmap, format, bits_per_pixel, quality, &record->appended_data);
      x != RET_SUCCESS)
    return x;
  record->appended = 1;
  describe(record.get(), *d, *bitmap, format, bits_per_pixel);
  if (int x = make_bands(record.get(), format, bits_per_pixel); x != RET_SUCCESS) return x;
  StagedLengths lengths(HeaderId::NUMI);
  const auto subheader = static_cast<std::uint64_t>(image_subheader_length(*record));
  if (int x = lengths.stage(*d, subheader, record->appended_data.size()); x != RET_SUCCESS)
    return x;
  try {
    d->images.reserve(index + 1);
  } catch (const std::bad_alloc&) {
    return RET_NO_MEMORY;
  }
  d->images.push_back(std::move(record));
  d->image_count = index + 1;
  lengths.commit(d);
  return RET_SUCCESS;
}

}  // namespace nitf
