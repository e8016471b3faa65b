// The reader of vector-quantised image data (IC C4 and M4).
//
// The data hold a small header, one lookup offset record per lookup table, the tables
// (table t gives row t of every kernel) and then a stream of codes, most significant bit
// first, that runs on across code rows and blocks. Each code selects a kernel that is
// painted into its block. Every number of the header comes from the file, so all sizes
// derived from it are checked against LI, with overflow-checked products, before the
// kernels or the output are allocated; every read goes through a reader bounded by LI.
// RPF map frames keep their tables elsewhere: extended reading hands them to
// imgmodes_rpf.cpp.
#include <kvntfu.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/nitffile.h"
#include "image/data/imgmodes.h"
#include "image/data/imgmodes_blocks.h"
#include "image/data/imgmodes_rpf.h"
#include "kernel.h"

namespace nitf {
namespace {

using imgdata::BlockGrid;
using imgdata::DataSource;

constexpr std::size_t kHeaderBytes = 21;
constexpr std::size_t kRecordBytes = 14;
constexpr std::size_t kChunkBytes = 64 * 1024;

struct VqHeader {
  std::uint32_t code_rows = 0, codes_per_row = 0;
  std::uint8_t code_bits = 0;
  std::uint16_t algorithm = 0, table_count = 0, parameter_count = 0;
  std::uint32_t table_offset = 0;
  std::uint16_t record_length = 0;
};

struct LookupRecord {
  std::uint16_t id = 0;
  std::uint32_t entries = 0;
  std::uint16_t values = 0, value_bits = 0;
  std::uint32_t offset = 0;
};

std::uint16_t be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

bool multiply(std::uint64_t a, std::uint64_t b, std::uint64_t* out) {
  return !__builtin_mul_overflow(a, b, out);
}

// Sequential reads of the image data up to LI, a chunk at a time, so that the code stream
// costs one file read per 64 KiB rather than one per byte.
class DataStream {
 public:
  DataStream(const DataSource& source, std::uint64_t position, std::uint64_t end)
      : source_(source), position_(position), end_(end) {}

  bool start() { return chunk_.allocate(kChunkBytes); }
  std::uint64_t position() const { return position_ - (filled_ - used_); }
  void seek(std::uint64_t position) {
    position_ = position;
    filled_ = used_ = 0;
  }

  // RET_FILE_READ past LI or when the file holds less.
  int bytes(std::uint8_t* out, std::size_t count) {
    while (count > 0) {
      if (used_ == filled_ && refill() != RET_SUCCESS) return RET_FILE_READ;
      const std::size_t n = std::min(count, filled_ - used_);
      std::memcpy(out, chunk_.data() + used_, n);
      used_ += n;
      out += n;
      count -= n;
    }
    return RET_SUCCESS;
  }

 private:
  int refill() {
    if (position_ >= end_) return RET_FILE_READ;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, end_ - position_));
    if (int r = source_.read(position_, n, chunk_.data()); r != RET_SUCCESS) return r;
    position_ += n;
    filled_ = n;
    used_ = 0;
    return RET_SUCCESS;
  }

  const DataSource& source_;
  std::uint64_t position_, end_;
  kernel::Buffer<std::uint8_t> chunk_;
  std::size_t filled_ = 0, used_ = 0;
};

// Codes of `bits` bits (1 to 32), most significant bit first, without realignment.
class CodeStream {
 public:
  CodeStream(DataStream& data, unsigned bits) : data_(data), bits_(bits) {}

  int next(std::uint32_t* code) {
    while (held_ < bits_) {
      std::uint8_t byte = 0;
      if (int r = data_.bytes(&byte, 1); r != RET_SUCCESS) return r;
      accumulator_ = accumulator_ << 8 | byte;
      held_ += 8;
    }
    held_ -= bits_;
    *code = static_cast<std::uint32_t>((accumulator_ >> held_) & ((std::uint64_t{1} << bits_) - 1));
    accumulator_ &= (std::uint64_t{1} << held_) - 1;  // at most 7 bits stay
    return RET_SUCCESS;
  }

  // Starts again at bit `bit` (below 8) of the data stream's next byte.
  int restart(unsigned bit) {
    accumulator_ = 0;
    held_ = 0;
    if (bit == 0) return RET_SUCCESS;
    std::uint8_t byte = 0;
    if (int r = data_.bytes(&byte, 1); r != RET_SUCCESS) return r;
    held_ = 8 - bit;
    accumulator_ = byte & ((1u << held_) - 1);
    return RET_SUCCESS;
  }

 private:
  DataStream& data_;
  unsigned bits_;
  std::uint64_t accumulator_ = 0;
  unsigned held_ = 0;
};

int data_source(const ImageReadContext& c, DataSource* source) {
  const NitfImageSubheader& s = *c.subheader;
  if (s.appended && !s.appended_data.empty()) {
    source->bytes = s.appended_data.data();
    source->size = s.appended_data.size();
    return RET_SUCCESS;
  }
  const NitfDocument& d = *c.document;
  const std::int64_t start = segment_data_offset(d, SegmentKind::kImage, c.index);
  if (d.file < 0 || start < 0) return RET_FILE_READ;
  source->file = d.file;
  source->start = start;
  return RET_SUCCESS;
}

bool recorded(const NitfImageSubheader& s, std::uint64_t k) {
  if (s.compression != CompressionCode::kM4 || k >= s.mask.block_count()) return true;
  return s.mask.block_offset(k) != ImageMaskTable::kNotRecorded;
}

// The output as create_output_bitmap makes it (depth, colour order, palette), cut to
// the recorded blocks' extent: an unrecorded last block row or column is not shown.
int create_output(const ImageReadContext& c, std::uint32_t width, std::uint32_t height) {
  if (int r = create_output_bitmap(c); r != RET_SUCCESS) return r;
  kernel::Bitmap* out = c.out;
  if (windowed(c)) return RET_SUCCESS;
  if (static_cast<std::uint32_t>(out->width) == width &&
      static_cast<std::uint32_t>(out->height) == height)
    return RET_SUCCESS;
  kernel::Bitmap smaller;
  const bool indexed = out->bits_per_pixel <= 8;
  int r = kernel::create_bitmap(&smaller, kernel::kBitmapRecordSize, 1,
                                static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                                out->bits_per_pixel, out->colour_order,
                                indexed ? out->palette : nullptr, kernel::kViewTopDown, nullptr, 0);
  if (r == RET_SUCCESS && !indexed && out->palette_count > 0) {
    kernel::Palette* palette =
        kernel::create_palette(out->palette, static_cast<std::uint32_t>(out->palette_count));
    r = palette ? kernel::set_palette(&smaller, palette) : RET_NO_MEMORY;
    kernel::free_palette(palette);
  }
  smaller.colour_order = out->colour_order;
  kernel::free_bitmap(out);
  if (r != RET_SUCCESS) {
    kernel::free_bitmap(&smaller);
    return r;
  }
  *out = smaller;  // the record takes over the data and palette
  return RET_SUCCESS;
}

void put_value(kernel::Bitmap& b, std::uint32_t x, std::uint8_t* row, std::uint16_t value) {
  switch (b.bits_per_pixel) {
    case 8:
      row[x] = static_cast<std::uint8_t>(value);
      break;
    case 12:
      kernel::put_sample12(row, static_cast<std::int32_t>(x), value & 0x0FFF);
      break;
    default:
      std::memcpy(row + std::size_t{x} * 2, &value, 2);
      break;
  }
}

// What the header, the lookup records and the block grid fix for the whole image.
struct VqLayout {
  BlockGrid grid;
  VqHeader header;
  std::uint32_t kernel_width = 0, kernel_height = 0;
  std::uint32_t entries = 0;      // kernels in the codebook, as every table has rows
  std::uint32_t value_bytes = 1;  // of one table value
  std::uint64_t blocks() const { return std::uint64_t{grid.per_row} * grid.per_column; }
  std::uint64_t kernel_values() const { return std::uint64_t{kernel_width} * kernel_height; }
};

// The blocks whose codes the stream holds, and how far across and down they reach.
struct RecordedBlocks {
  std::uint64_t count = 0, last_x = 0, last_y = 0;
};

int check_layout(const NitfImageSubheader& s, BlockGrid* g) {
  // Tables hold one value per pixel; three bands would need three kernels per code,
  // and no layout for that is known.
  if (s.band_count != 1) return RET_NOT_SUPPORTED;
  if (s.bits_per_pixel != 8 && s.bits_per_pixel != 12 && s.bits_per_pixel != 16)
    return RET_NOT_SUPPORTED;
  if (int r = imgdata::block_grid(s, g); r != RET_SUCCESS) return r;
  if (g->width == 0 || g->height == 0 || g->per_row == 0 || g->per_column == 0)
    return RET_FILE_FORMAT;
  return RET_SUCCESS;
}

VqHeader parse_header(const std::uint8_t* raw) {
  VqHeader h;
  h.code_rows = be32(raw);
  h.codes_per_row = be32(raw + 4);
  h.code_bits = raw[8];
  h.algorithm = be16(raw + 9);
  h.table_count = be16(raw + 11);
  h.parameter_count = be16(raw + 13);
  h.table_offset = be32(raw + 15);
  h.record_length = be16(raw + 19);
  return h;
}

// The header, and the kernel size it gives the blocks.
int read_header(DataStream& data, VqLayout* q) {
  std::uint8_t raw[kHeaderBytes];
  if (int r = data.bytes(raw, kHeaderBytes); r != RET_SUCCESS) return r;
  const VqHeader h = q->header = parse_header(raw);
  if (h.code_rows == 0 || h.codes_per_row == 0 || h.code_bits == 0 || h.code_bits > 32 ||
      h.table_count == 0)
    return RET_FILE_FORMAT;
  // Integer division: when the kernel does not divide the block, the codes cover the
  // block's top-left part and the strip beyond stays 0; the code count per block stays
  // code rows x codes per row, so the stream keeps its alignment.
  q->kernel_width = q->grid.width / h.codes_per_row;
  q->kernel_height = q->grid.height / h.code_rows;
  if (q->kernel_width == 0 || q->kernel_height == 0) return RET_FILE_FORMAT;
  // Table t is row t of every kernel: any other count leaves rows undefined or has
  // nowhere to go.
  if (h.table_count != q->kernel_height) return RET_FILE_FORMAT;
  return RET_SUCCESS;
}

// The lookup offset records, which give the kernel count and the size of a value.
int read_records(DataStream& data, const NitfImageSubheader& s, VqLayout* q) {
  const std::uint32_t count = q->header.table_count;
  kernel::Buffer<LookupRecord> records;
  if (!records.allocate(count)) return RET_NO_MEMORY;
  for (std::uint32_t t = 0; t < count; ++t) {
    std::uint8_t r14[kRecordBytes];
    if (int r = data.bytes(r14, kRecordBytes); r != RET_SUCCESS) return r;
    records[t] = {be16(r14), be32(r14 + 2), be16(r14 + 6), be16(r14 + 8), be32(r14 + 10)};
  }
  // Every code needs a row from every table: tables of different lengths leave some
  // kernels incomplete. Equal lengths also bound the kernels' memory by the table bytes.
  q->entries = records[0].entries;
  if (q->entries == 0) return RET_FILE_FORMAT;
  for (std::uint32_t t = 1; t < count; ++t)
    if (records[t].entries != q->entries) return RET_FILE_FORMAT;
  // Values are bytes; a deeper output with tables that say their values are deeper than
  // 8 bits takes two big-endian bytes per value (kept to the output's depth).
  q->value_bytes = s.bits_per_pixel > 8 && records[0].value_bits > 8 ? 2 : 1;
  return RET_SUCCESS;
}

RecordedBlocks recorded_blocks(const NitfImageSubheader& s, const VqLayout& q) {
  RecordedBlocks b;
  for (std::uint64_t k = 0; k < q.blocks(); ++k) {
    if (!recorded(s, k)) continue;
    ++b.count;
    b.last_x = std::max<std::uint64_t>(b.last_x, k % q.grid.per_row);
    b.last_y = std::max<std::uint64_t>(b.last_y, k / q.grid.per_row);
  }
  return b;
}

// The tables and the codes of every recorded block must lie inside LI, which the
// tables start `tables_at` bytes into.
int check_lengths(const NitfImageSubheader& s, const VqLayout& q, std::uint64_t tables_at,
                  std::uint64_t li, RecordedBlocks* blocks) {
  std::uint64_t table_bytes = 0;
  if (!multiply(q.entries, std::uint64_t{q.kernel_width} * q.value_bytes, &table_bytes) ||
      !multiply(table_bytes, q.header.table_count, &table_bytes))
    return RET_FILE_FORMAT;
  if (table_bytes > li - tables_at) return RET_FILE_FORMAT;
  *blocks = recorded_blocks(s, q);
  const VqHeader& h = q.header;
  std::uint64_t code_bits = 0;
  if (!multiply(std::uint64_t{h.code_rows} * h.codes_per_row, h.code_bits, &code_bits) ||
      !multiply(code_bits, blocks->count, &code_bits))
    return RET_FILE_FORMAT;
  if (code_bits / 8 + (code_bits % 8 != 0) > li - tables_at - table_bytes) return RET_FILE_FORMAT;
  return RET_SUCCESS;
}

constexpr std::uint64_t kMaxInt32 = std::numeric_limits<std::int32_t>::max();

// The output reaches as far as the recorded blocks do.
int output_size(const BlockGrid& g, const RecordedBlocks& b, std::uint32_t* width,
                std::uint32_t* height) {
  const std::uint64_t w = (b.last_x + 1) * g.width, h = (b.last_y + 1) * g.height;
  if (w > kMaxInt32 || h > kMaxInt32) return RET_NO_MEMORY;
  *width = static_cast<std::uint32_t>(w);
  *height = static_cast<std::uint32_t>(h);
  return RET_SUCCESS;
}

// The codebook: kernel i holds kernel_width x kernel_height values row by row, row t
// coming from entry i of table t. As many values as the tables hold, which lie in LI.
int read_kernels(DataStream& data, const NitfImageSubheader& s, const VqLayout& q,
                 kernel::Buffer<std::uint16_t>* kernels) {
  const std::uint64_t kernel_values = q.kernel_values();
  std::uint64_t all_values = 0;
  if (!multiply(q.entries, kernel_values, &all_values) || all_values > kMaxInt32)
    return RET_NO_MEMORY;
  kernel::Buffer<std::uint8_t> row_bytes;
  if (!kernels->allocate(static_cast<std::size_t>(all_values)) ||
      !row_bytes.allocate(std::size_t{q.kernel_width} * q.value_bytes))
    return RET_NO_MEMORY;
  const std::uint16_t value_mask = static_cast<std::uint16_t>((1u << s.bits_per_pixel) - 1);
  for (std::uint32_t t = 0; t < q.header.table_count; ++t) {
    for (std::uint32_t i = 0; i < q.entries; ++i) {
      if (int r = data.bytes(row_bytes.data(), row_bytes.size()); r != RET_SUCCESS) return r;
      std::uint16_t* v = kernels->data() + i * kernel_values + std::uint64_t{t} * q.kernel_width;
      for (std::uint32_t x = 0; x < q.kernel_width; ++x)
        v[x] = q.value_bytes == 1
                   ? row_bytes[x]
                   : static_cast<std::uint16_t>(be16(&row_bytes[2 * x]) & value_mask);
    }
  }
  return RET_SUCCESS;
}

// One kernel's values with its top-left corner at (x0, y0) of the output.
int paint_kernel(kernel::Bitmap& out, const VqLayout& q, const std::uint16_t* v, std::uint64_t x0,
                 std::uint64_t y0) {
  const std::uint32_t kw = q.kernel_width;
  for (std::uint32_t y = 0; y < q.kernel_height; ++y) {
    const auto py = static_cast<std::int32_t>(y0 + y);
    std::uint8_t* row = kernel::storage_row(out, kernel::top_down_row(out, py));
    if (!row) return RET_INVALID_BITMAP;
    for (std::uint32_t x = 0; x < kw; ++x)
      put_value(out, static_cast<std::uint32_t>(x0 + x), row, v[y * kw + x]);
  }
  return RET_SUCCESS;
}

// One block's codes, code row by code row, each painting its kernel; the block's
// top-left corner at (x0, y0) of `out`.
int paint_block(CodeStream& codes, const VqLayout& q, const std::uint16_t* kernels,
                kernel::Bitmap& out, std::uint64_t x0, std::uint64_t y0) {
  for (std::uint32_t cr = 0; cr < q.header.code_rows; ++cr) {
    for (std::uint32_t cc = 0; cc < q.header.codes_per_row; ++cc) {
      std::uint32_t code = 0;
      if (int r = codes.next(&code); r != RET_SUCCESS) return r;
      if (code >= q.entries) return RET_FILE_FORMAT;
      if (int r = paint_kernel(out, q, kernels + code * q.kernel_values(),
                               x0 + std::uint64_t{cc} * q.kernel_width,
                               y0 + std::uint64_t{cr} * q.kernel_height);
          r != RET_SUCCESS)
        return r;
    }
  }
  return RET_SUCCESS;
}

int paint_blocks(const NitfImageSubheader& s, const VqLayout& q, const std::uint16_t* kernels,
                 DataStream& data, kernel::Bitmap& out) {
  CodeStream codes(data, q.header.code_bits);
  for (std::uint64_t k = 0; k < q.blocks(); ++k) {
    if (!recorded(s, k)) continue;  // an unrecorded block has no codes in the stream
    const std::uint64_t x0 = k % q.grid.per_row * q.grid.width;
    const std::uint64_t y0 = k / q.grid.per_row * q.grid.height;
    if (int r = paint_block(codes, q, kernels, out, x0, y0); r != RET_SUCCESS) return r;
  }
  return RET_SUCCESS;
}

// A window or a target: every recorded block takes the same number of bits, so the
// codes of the n-th start n x that many bits after the first code (`codes_at`), and only
// the blocks asked for are read, each into a block bitmap of its own.
int paint_wanted_blocks(const ImageReadContext& c, const VqLayout& q, const std::uint16_t* kernels,
                        DataStream& data, std::uint64_t codes_at) {
  const NitfImageSubheader& s = *c.subheader;
  // The product and every n below the recorded count were checked by check_lengths.
  const std::uint64_t block_bits =
      std::uint64_t{q.header.code_rows} * q.header.codes_per_row * q.header.code_bits;
  CodeStream codes(data, q.header.code_bits);
  OwnedBitmap block;
  std::uint64_t n = 0;
  for (std::uint64_t k = 0; k < q.blocks(); ++k) {
    if (!recorded(s, k)) continue;
    const std::uint64_t bit = n++ * block_bits;
    if (!block_wanted(c, q.grid, k)) continue;
    if (!block.bitmap.data) {
      if (int r = create_block_bitmap(q.grid, s.bits_per_pixel, &block.bitmap); r != RET_SUCCESS)
        return r;
    } else {
      std::memset(block.bitmap.data, 0, block.bitmap.data_size);  // the strip beside kernels
    }
    data.seek(codes_at + bit / 8);
    if (int r = codes.restart(static_cast<unsigned>(bit % 8)); r != RET_SUCCESS) return r;
    if (int r = paint_block(codes, q, kernels, block.bitmap, 0, 0); r != RET_SUCCESS) return r;
    if (int r = hand_block(c, q.grid, k, block.bitmap); r != RET_SUCCESS) return r;
  }
  return RET_SUCCESS;
}

}  // namespace

int read_vector_quantised(const ImageReadContext& c) {
  if (is_rpf_frame(c)) return read_rpf_frame(c);
  const NitfImageSubheader& s = *c.subheader;
  VqLayout q;
  if (int r = check_layout(s, &q.grid); r != RET_SUCCESS) return r;
  DataSource source;
  if (int r = data_source(c, &source); r != RET_SUCCESS) return r;
  const std::uint64_t li = c.data_length;
  const std::uint64_t header_at = s.compression == CompressionCode::kM4 ? s.mask.imdatoff : 0;
  if (header_at > li) return RET_FILE_FORMAT;
  DataStream data(source, header_at, li);
  if (!data.start()) return RET_NO_MEMORY;
  if (int r = read_header(data, &q); r != RET_SUCCESS) return r;
  if (int r = read_records(data, s, &q); r != RET_SUCCESS) return r;
  RecordedBlocks blocks;
  if (int r = check_lengths(s, q, data.position(), li, &blocks); r != RET_SUCCESS) return r;
  std::uint32_t width = 0, height = 0;
  if (int r = output_size(q.grid, blocks, &width, &height); r != RET_SUCCESS) return r;
  kernel::Buffer<std::uint16_t> kernels;
  if (int r = read_kernels(data, s, q, &kernels); r != RET_SUCCESS) return r;
  if (c.target) return paint_wanted_blocks(c, q, kernels.data(), data, data.position());
  // A window is cut from the whole grid; a picture the recorded blocks leave smaller is
  // read whole, as the composition cuts it.
  ImageReadContext shown = c;
  if (std::uint64_t{width} != std::uint64_t{q.grid.width} * q.grid.per_row ||
      std::uint64_t{height} != std::uint64_t{q.grid.height} * q.grid.per_column)
    shown.window = nullptr;
  if (int r = create_output(shown, width, height); r != RET_SUCCESS) return r;
  if (windowed(shown)) return paint_wanted_blocks(shown, q, kernels.data(), data, data.position());
  return paint_blocks(s, q, kernels.data(), data, *c.out);
}

}  // namespace nitf
