// The compressed readers' data source, their choice of decoder routines, and the
// forward and backward start-of-image scans.
//
// The scans read the data in windows of kWindow bytes. Forward windows advance by three
// bytes less, so the three bytes of a marker that straddles one window's end are whole in
// the next; backward windows step back by the same amount for the same reason. Entropy
// coded data are most of the bytes and hold few 0xFF bytes, so the forward scan lets
// memchr find each candidate.
#include "image/data/imgmodes_jpeg_scan.h"

#include <algorithm>
#include <cstring>
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
    for (std::size_t i = pos == from ? 1 : 0; i + 3 <= n; ++i) {
      const void* hit = std::memchr(window + i, 0xFF, n - 2 - i);
      if (!hit) break;
      i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - window);
      if (!marker_at(window + i)) continue;
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

namespace {

// Room for `count` starts, kept when there is; grown by doubling so that a long scan
// copies each start a few times only.
bool room_for(FoundStreams& f, std::uint64_t count) {
  if (count <= f.starts.size()) return true;
  const std::uint64_t want = std::max<std::uint64_t>({count, 2 * f.starts.size(), 64});
  if (want > SIZE_MAX / sizeof(std::uint64_t)) return false;
  kernel::Buffer<std::uint64_t> grown;
  if (!grown.allocate(static_cast<std::size_t>(want))) return false;
  if (f.count) std::memcpy(grown.data(), f.starts.data(), f.count * sizeof(std::uint64_t));
  f.starts = std::move(grown);
  return true;
}

}  // namespace

int stream_start(const imgdata::DataSource& source, std::uint64_t pixels, std::uint64_t end,
                 FoundStreams* found, std::uint64_t index, std::uint64_t* start) {
  FoundStreams& f = *found;
  *start = end;
  if (pixels >= end) return RET_SUCCESS;
  // Starts found for other data (the record's data replaced or moved) are forgotten.
  const std::int64_t where = source.bytes ? -1 : source.start;
  if (f.count == 0 || f.where != where || f.bytes != source.bytes || f.length != end ||
      f.starts[0] != pixels) {
    f.where = where, f.bytes = source.bytes, f.length = end, f.count = 0, f.complete = false;
    if (!room_for(f, 1)) return RET_NO_MEMORY;
    f.starts[0] = pixels;
    f.count = 1;
  }
  while (f.count <= index && !f.complete) {
    std::uint64_t next = end;
    if (int r = next_marker(source, f.starts[f.count - 1], end, &next); r != RET_SUCCESS) return r;
    if (next >= end) {
      f.complete = true;
    } else {
      if (!room_for(f, f.count + 1)) return RET_NO_MEMORY;
      f.starts[f.count++] = next;
    }
  }
  if (index < f.count) *start = f.starts[index];
  return RET_SUCCESS;
}

}  // namespace nitf::jpegscan
