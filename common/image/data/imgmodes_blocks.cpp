// Block geometry and the block walk of the uncompressed image reader.
//
// A block's offset comes from its block mask record when the image has one (0xFFFFFFFF,
// or an offset at or beyond LI, leaves the block out), from its pad pixel mask record
// when that record is not 0xFFFFFFFF and the block fits there, and otherwise from its
// place in the sequence of blocks. In IMODE S each band of a block has its own record
// and its own place; in the other modes one record covers every band of the block.
#include "image/data/imgmodes_blocks.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

#include <kvntfu.h>

namespace nitf::imgdata {
namespace {

constexpr std::uint64_t kPieceBytes = std::uint64_t{4} << 20;

bool band_sequential(const BlockLayout& l) {
  return l.mode == ImageModeCode::kSequential && l.bands > 1;
}

// The unit one mask record describes and one place in the sequence holds: a plane in
// IMODE S, a whole block otherwise.
std::uint64_t unit_bytes(const BlockLayout& l) {
  return band_sequential(l) ? l.plane_bytes : l.block_bytes;
}

std::uint64_t record_index(const BlockLayout& l, std::uint64_t k, std::uint32_t band) {
  return band_sequential(l) ? band * l.blocks + k : k;
}

// Where the unit holding `band` of block k starts, from the data start; false when the
// block mask leaves it out. Products cannot overflow: describe_blocks checked the total.
bool unit_start(const BlockLayout& l, std::uint64_t k, std::uint32_t band, std::uint64_t* start) {
  const std::uint64_t index = record_index(l, k, band);
  const ImageMaskTable* m = l.mask;
  if (m && m->bmrlnth != 0) {
    if (index >= m->block_count()) return false;
    const std::uint32_t entry = m->block_offset(index);
    if (entry == ImageMaskTable::kNotRecorded || l.pixels + entry >= l.data_length) return false;
    *start = l.pixels + entry;
    return true;
  }
  *start = l.pixels + index * unit_bytes(l);
  if (m && m->tmrlnth != 0 && index < m->pad_count()) {
    const std::uint32_t entry = m->pad_offset(index);
    if (entry != ImageMaskTable::kNotRecorded && l.pixels + entry + unit_bytes(l) <= l.data_length)
      *start = l.pixels + entry;
  }
  return true;
}

// Bytes from the start of its unit to the first sample of a band.
std::uint64_t band_shift(const BlockLayout& l, std::uint32_t band) {
  if (band_sequential(l) || l.bands == 1) return 0;
  const std::uint64_t sample = l.bits / 8;
  switch (l.mode) {
    case ImageModeCode::kPixel:
      return band * sample;
    case ImageModeCode::kRow:
      return band * l.grid.width * sample;
    default:
      return band * l.plane_bytes;
  }
}

// The end of the last byte any shown band of a recorded block needs, checked against LI.
int masked_extent(const BlockLayout& l, std::uint64_t* end) {
  *end = l.pixels;
  for (std::uint64_t k = 0; k < l.blocks; ++k) {
    for (std::uint32_t i = 0; i < l.plane_count; ++i) {
      std::uint64_t start = 0;
      if (!unit_start(l, k, l.planes[i], &start)) continue;
      if (start > l.data_length || unit_bytes(l) > l.data_length - start) return RET_FILE_FORMAT;
      *end = std::max(*end, start + unit_bytes(l));
    }
  }
  return RET_SUCCESS;
}

// Every block in sequence: what an image without a block mask must hold.
int sequential_extent(const BlockLayout& l, std::uint64_t* end) {
  std::uint64_t total = 0;
  if (kernel::mul_overflows(l.blocks, l.block_bytes, &total) ||
      kernel::add_overflows(total, l.pixels, end) || *end > l.data_length)
    return RET_FILE_FORMAT;
  return RET_SUCCESS;
}

int check_extent(const BlockLayout& l, std::uint64_t available) {
  std::uint64_t end = 0;
  const bool block_mask = l.mask && l.mask->bmrlnth != 0;
  if (!block_mask) {
    if (int r = sequential_extent(l, &end); r != RET_SUCCESS) return r;
  }
  if (l.mask && (l.mask->bmrlnth != 0 || l.mask->tmrlnth != 0)) {
    std::uint64_t masked = 0;
    if (int r = masked_extent(l, &masked); r != RET_SUCCESS) return r;
    end = std::max(end, masked);
  }
  return end <= available ? RET_SUCCESS : RET_FILE_READ;
}

int plane_sizes(BlockLayout& l) {
  std::uint64_t plane_bits = 0;
  l.row_bits = std::uint64_t{l.grid.width} * l.bits;
  l.blocks = std::uint64_t{l.grid.per_row} * l.grid.per_column;
  if (kernel::mul_overflows(l.row_bits, l.grid.height, &plane_bits) ||
      plane_bits > std::numeric_limits<std::uint64_t>::max() - 7)
    return RET_FILE_FORMAT;
  l.plane_bytes = (plane_bits + 7) / 8;
  return kernel::mul_overflows(l.plane_bytes, l.bands, &l.block_bytes) ? RET_FILE_FORMAT
                                                                       : RET_SUCCESS;
}

int band_layout(const NitfImageSubheader& s, BlockLayout& l) {
  if (s.band_count <= 0 || s.bands.size() < static_cast<std::size_t>(s.band_count) ||
      s.bits_per_pixel <= 0)
    return RET_FILE_FORMAT;
  const auto mode = static_cast<std::int32_t>(s.mode);
  if (mode < 0 || mode > 3) return RET_FAILURE;
  l.bands = static_cast<std::uint32_t>(s.band_count);
  l.bits = static_cast<std::uint32_t>(s.bits_per_pixel);
  l.mode = l.bands == 1 ? ImageModeCode::kBlock : s.mode;
  l.interleaved = l.mode == ImageModeCode::kPixel || l.mode == ImageModeCode::kRow;
  // Bands interleaved within a byte have no reader: no known producer writes them.
  return l.interleaved && l.bits % 8 ? RET_NOT_SUPPORTED : RET_SUCCESS;
}

// The rows after which a bit-packed row ends on a byte: a piece starts on a byte when it
// starts at a multiple of them.
std::uint64_t row_group(const BlockLayout& l) {
  return 8 / std::gcd(l.row_bits, std::uint64_t{8});
}

// How many rows one read takes: whole rows, and for bit-packed rows a multiple of the
// group of rows that ends on a byte, so that every piece starts on a byte.
std::uint32_t piece_rows(const BlockLayout& l, std::uint64_t row_bytes) {
  const std::uint64_t group = row_group(l);
  std::uint64_t rows = kPieceBytes / std::max<std::uint64_t>(row_bytes, 1) / group * group;
  rows = std::max(rows, group);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(rows, l.grid.height));
}

// The bytes of one row of all bands in IMODE P and R.
std::uint64_t interleaved_stride(const BlockLayout& l) {
  return l.row_bits / 8 * l.bands;
}

struct Walk {
  const BlockLayout& l;
  const DataSource& source;
  const BlockSink& sink;
  std::uint32_t rows = 0;    // per piece
  std::uint64_t region = 0;  // buffer bytes per shown band (all of it when interleaved)
  kernel::Buffer<std::uint8_t> buffer;
  std::uint64_t starts[3] = {};
};

int read_separate(Walk& w, std::uint32_t y0, std::uint32_t y1, PlaneRow* rows) {
  const BlockLayout& l = w.l;
  const std::uint64_t from = y0 * l.row_bits / 8;
  const std::uint64_t to = std::min(l.plane_bytes, (y1 * l.row_bits + 7) / 8);
  for (std::uint32_t i = 0; i < l.plane_count; ++i) {
    std::uint8_t* region = w.buffer.data() + i * w.region;
    const std::uint64_t at = w.starts[i] + band_shift(l, l.planes[i]) + from;
    if (int r = w.source.read(at, static_cast<std::size_t>(to - from), region); r != RET_SUCCESS)
      return r;
    rows[i] = PlaneRow{region, 0, l.bits};
  }
  return RET_SUCCESS;
}

int read_interleaved(Walk& w, std::uint32_t y0, std::uint32_t y1, PlaneRow* rows) {
  const BlockLayout& l = w.l;
  const std::uint64_t stride = interleaved_stride(l);
  const auto count = static_cast<std::size_t>((y1 - y0) * stride);
  if (int r = w.source.read(w.starts[0] + y0 * stride, count, w.buffer.data()); r != RET_SUCCESS)
    return r;
  const std::uint32_t step = l.mode == ImageModeCode::kPixel ? l.bits * l.bands : l.bits;
  for (std::uint32_t i = 0; i < l.plane_count; ++i)
    rows[i] = PlaneRow{w.buffer.data(), band_shift(l, l.planes[i]) * 8, step};
  return RET_SUCCESS;
}

int walk_piece(Walk& w, std::uint64_t k, std::uint32_t y0, std::uint32_t end) {
  const BlockLayout& l = w.l;
  const std::uint32_t y1 = std::min(end, y0 + w.rows);
  PlaneRow rows[3];
  int r = l.interleaved ? read_interleaved(w, y0, y1, rows) : read_separate(w, y0, y1, rows);
  const std::uint64_t row_step = l.interleaved ? interleaved_stride(l) * 8 : l.row_bits;
  for (std::uint32_t y = y0; y < y1 && r == RET_SUCCESS; ++y) {
    r = w.sink.row(w.sink.self, k, y, rows);
    for (std::uint32_t i = 0; i < l.plane_count; ++i) rows[i].first_bit += row_step;
  }
  return r;
}

int walk_block(Walk& w, std::uint64_t k) {
  if (w.sink.wants && !w.sink.wants(w.sink.self, k)) return RET_SUCCESS;
  for (std::uint32_t i = 0; i < w.l.plane_count; ++i)
    if (!unit_start(w.l, k, w.l.planes[i], &w.starts[i])) return RET_SUCCESS;
  std::uint32_t first = 0, end = w.l.grid.height;
  if (w.sink.rows) {
    w.sink.rows(w.sink.self, k, &first, &end);
    end = std::min(end, w.l.grid.height);
    first = static_cast<std::uint32_t>(first - first % row_group(w.l));
  }
  for (std::uint32_t y0 = first; y0 < end; y0 += w.rows)
    if (int r = walk_piece(w, k, y0, end); r != RET_SUCCESS) return r;
  return w.sink.block(w.sink.self, k);
}

}  // namespace

int block_grid(const NitfImageSubheader& s, BlockGrid* grid) {
  if (s.blocks_per_row < 0 || s.blocks_per_column < 0 || s.block_width < 0 || s.block_height < 0)
    return RET_FILE_FORMAT;
  grid->per_row = static_cast<std::uint32_t>(s.blocks_per_row);
  grid->per_column = static_cast<std::uint32_t>(s.blocks_per_column);
  grid->width = static_cast<std::uint32_t>(s.block_width);
  grid->height = static_cast<std::uint32_t>(s.block_height);
  if (grid->width == 0 && grid->per_row == 1) grid->width = s.columns;
  if (grid->height == 0 && grid->per_column == 1) grid->height = s.rows;
  return RET_SUCCESS;
}

PictureSize picture_size(const NitfImageSubheader& s, const BlockGrid& grid, bool cut) {
  PictureSize p{std::int64_t{grid.width} * grid.per_row,
                std::int64_t{grid.height} * grid.per_column};
  if (cut && s.columns != 0) p.width = std::min<std::int64_t>(p.width, s.columns);
  if (cut && s.rows != 0) p.height = std::min<std::int64_t>(p.height, s.rows);
  return p;
}

int describe_blocks(const NitfImageSubheader& s, std::uint64_t data_length, std::uint64_t available,
                    const std::uint32_t* planes, std::uint32_t plane_count, BlockLayout* out) {
  BlockLayout l;
  if (int r = block_grid(s, &l.grid); r != RET_SUCCESS) return r;
  if (int r = band_layout(s, l); r != RET_SUCCESS) return r;
  if (int r = plane_sizes(l); r != RET_SUCCESS) return r;
  if (is_masked(s.compression)) {
    l.mask = &s.mask;
    l.pixels = s.mask.imdatoff;
  }
  l.data_length = data_length;
  if (l.pixels > data_length || plane_count == 0 || plane_count > 3) return RET_FILE_FORMAT;
  for (std::uint32_t i = 0; i < plane_count; ++i) {
    if (planes[i] >= l.bands) return RET_FILE_FORMAT;
    l.planes[i] = planes[i];
  }
  l.plane_count = plane_count;
  if (int r = check_extent(l, std::min(available, data_length)); r != RET_SUCCESS) return r;
  *out = l;
  return RET_SUCCESS;
}

int DataSource::read(std::uint64_t offset, std::size_t count, std::uint8_t* buffer) const {
  if (count == 0) return RET_SUCCESS;
  if (bytes) {
    if (offset > size || count > size - offset) return RET_FILE_READ;
    std::memcpy(buffer, bytes + offset, count);
    return RET_SUCCESS;
  }
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - start) ||
      kernel::seek_file(file, start + static_cast<std::int64_t>(offset), kernel::kSeekSet) < 0)
    return RET_FILE_READ;
  return kernel::read_file(file, buffer, count) == count ? RET_SUCCESS : RET_FILE_READ;
}

int walk_blocks(const BlockLayout& l, const DataSource& source, const BlockSink& sink) {
  if (l.blocks == 0 || l.plane_bytes == 0 || l.grid.width == 0) return RET_SUCCESS;
  Walk w{l, source, sink, 0, 0, {}, {}};
  const std::uint64_t row_bytes =
      l.interleaved ? interleaved_stride(l) : (l.row_bits + 7) / 8 * l.plane_count;
  w.rows = piece_rows(l, row_bytes);
  w.region = l.interleaved ? w.rows * interleaved_stride(l)
                           : std::min(l.plane_bytes, (w.rows * l.row_bits + 7) / 8);
  const std::uint64_t total = w.region * (l.interleaved ? 1 : l.plane_count);
  if (total > std::numeric_limits<std::size_t>::max() ||
      !w.buffer.allocate(static_cast<std::size_t>(total)))
    return RET_NO_MEMORY;
  for (std::uint64_t k = 0; k < l.blocks; ++k)
    if (int r = walk_block(w, k); r != RET_SUCCESS) return r;
  return RET_SUCCESS;
}

}  // namespace nitf::imgdata
