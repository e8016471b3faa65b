// The compressed readers' data source, their choice of decoder routines, and the
// forward and backward start-of-image scans.
//
// The scans read the data in 1024-byte windows. Forward windows advance by 1021 bytes,
// so the three bytes of a marker that straddles one window's end are whole in the next;
// backward windows step back by the same amount for the same reason.
#include "image/data/imgmodes_jpeg_scan.h"

#include <algorithm>
#include <limits>

#include "core/nitffile.h"
#include "fileformat/fileformat.h"

namespace nitf::jpegscan {
namespace {

bool marker_at(const std::uint8_t* p) {
  return p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF;
}

}  // namespace

int open_data(const ImageReadContext& c, imgdata::DataSource* source) {
  const NitfImageSubheader& s = *c.subheader;
  std::uint64_t available = 0;
  if (s.appended && !s.appended_data.empty()) {
    source->bytes = s.appended_data.data();
    source->size = available = s.appended_data.size();
  } else {
    const NitfDocument& d = *c.document;
    const std::int64_t start = segment_data_offset(d, SegmentKind::kImage, c.index);
    if (d.file < 0 || start < 0) return RET_FILE_READ;
    source->file = d.file;
    source->start = start;
    available = d.file_size > start ? static_cast<std::uint64_t>(d.file_size - start) : 0;
  }
  return c.data_length <= available ? RET_SUCCESS : RET_FILE_READ;
}

int open_coded(const ImageReadContext& c, CodedStream* coded) {
  if (int r = open_data(c, &coded->source); r != RET_SUCCESS) return r;
  coded->offset = c.subheader->mask.imdatoff;
  if (coded->offset >= c.data_length) return RET_FILE_FORMAT;
  coded->length = c.data_length - coded->offset;
  return RET_SUCCESS;
}

fileformat::StreamSource CodedStream::stream() const {
  auto read = [](void* self, std::uint64_t offset, std::size_t count,
                 std::uint8_t* buffer) -> std::int32_t {
    const auto* s = static_cast<const CodedStream*>(self);
    return s->source.read(s->offset + offset, count, buffer);
  };
  return {const_cast<CodedStream*>(this), read, length};
}

int Decoder::load_from_memory(const void* buffer, kernel::Bitmap* bitmap,
                              std::int32_t bits_per_pixel, std::int32_t colour_order,
                              std::uint64_t byte_count, FltLoadOptions* options) const {
  // The decoders take 32-bit lengths; a longer stream cannot be handed over whole.
  if (byte_count > std::numeric_limits<std::uint32_t>::max()) return RET_NO_MEMORY;
  const auto count = static_cast<std::uint32_t>(byte_count);
  if (load && load->load_from_memory)
    return load->load_from_memory(buffer, reinterpret_cast<KvBitmap*>(bitmap),
                                  kernel::kBitmapRecordSize, bits_per_pixel, colour_order, count,
                                  options);
  return fileformat::load_from_memory(buffer, bitmap, kernel::kBitmapRecordSize, bits_per_pixel,
                                      colour_order, count, options);
}

FltRawDataCallback Decoder::set_raw_callback(FltRawDataCallback callback, void* user_data) const {
  if (load && load->set_raw_callback) return load->set_raw_callback(callback, user_data);
  return fileformat::set_raw_data_callback(callback, user_data);
}

int next_marker(const imgdata::DataSource& source, std::uint64_t from, std::uint64_t end,
                std::uint64_t* found) {
  *found = end;
  std::uint8_t window[kWindow];
  for (std::uint64_t pos = from; pos < end && end - pos >= 3; pos += kWindowStep) {
    const auto n = static_cast<std::size_t>(std::min(kWindow, end - pos));
    if (int r = source.read(pos, n, window); r != RET_SUCCESS) return r;
    for (std::size_t i = 0; i + 3 <= n; ++i) {
      if (pos + i == from || !marker_at(window + i)) continue;
      *found = pos + i;
      return RET_SUCCESS;
    }
  }
  return RET_SUCCESS;
}

int last_marker(const imgdata::DataSource& source, std::uint64_t begin, std::uint64_t end,
                std::uint64_t* found) {
  *found = begin;
  std::uint8_t window[kWindow];
  for (std::uint64_t stop = end; stop > begin && stop - begin >= 3;) {
    const std::uint64_t start = stop - std::min(kWindow, stop - begin);
    const auto n = static_cast<std::size_t>(stop - start);
    if (int r = source.read(start, n, window); r != RET_SUCCESS) return r;
    for (std::size_t i = n - 3 + 1; i-- > 0;) {
      if (!marker_at(window + i)) continue;
      *found = start + i;
      return RET_SUCCESS;
    }
    if (start == begin) break;
    stop = start + 2;  // the next window still holds a marker this one cut after two bytes
  }
  return RET_SUCCESS;
}

}  // namespace nitf::jpegscan
