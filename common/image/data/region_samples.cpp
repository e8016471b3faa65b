// Raw samples of a window: the checks of a request, the nearest-sample reduction and the
// three ways to the samples (uncompressed blocks, decoded blocks, JPEG 2000 areas).
//
// The buffer is written only after every parameter was checked; then the output rows are
// cleared, so that blocks the file leaves out read as 0, and each block that meets the
// window puts its samples at their places. No reader here holds more than one block (or,
// for the single-stream codes, the one picture the stream is) besides the caller's buffer.
#include "image/data/region_samples.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "core/nitffile.h"
#include "fileformat/fileformat.h"
#include "image/data/imgmodes.h"
#include "image/data/imgmodes_blocks.h"
#include "image/data/imgmodes_jpeg_scan.h"
#include "kernel.h"

namespace nitf {
namespace {

// A checked request: where each output sample goes.
struct Output {
  std::uint32_t row0 = 0, col0 = 0, rows = 0, cols = 0, reduction = 1;
  std::uint32_t out_rows = 0, out_cols = 0;
  const std::uint32_t* bands = nullptr;
  std::uint32_t band_count = 0;
  bool by_band = false;
  std::uint8_t* buffer = nullptr;
  std::size_t stride = 0, row_bytes = 0, band_step = 0;
  std::uint32_t bytes = 1, bits = 8, kind = KV_SAMPLE_UNSIGNED;
};

std::uint32_t sample_bytes(std::uint32_t bits) {
  return bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 8;
}

// Stores a stored value of o.bits bits (the bits themselves, big-endian order resolved)
// as the buffer's sample type.
void put(const Output& o, std::uint32_t r, std::uint32_t c, std::uint32_t slot, std::uint64_t v) {
  std::uint8_t* at =
      o.by_band ? o.buffer + slot * o.band_step + r * o.stride + std::size_t{c} * o.bytes
                : o.buffer + r * o.stride + (std::size_t{c} * o.band_count + slot) * o.bytes;
  if (o.kind == KV_SAMPLE_SIGNED && o.bits < 64 && (v >> (o.bits - 1) & 1))
    v |= ~std::uint64_t{0} << o.bits;
  if (o.kind == KV_SAMPLE_COMPLEX) {
    const auto parts = std::array<std::uint32_t, 2>{static_cast<std::uint32_t>(v >> 32),
                                                    static_cast<std::uint32_t>(v)};
    std::memcpy(at, parts.data(), 8);
    return;
  }
  switch (o.bytes) {
    case 1:
      *at = static_cast<std::uint8_t>(v);
      break;
    case 2: {
      const auto w = static_cast<std::uint16_t>(v);
      std::memcpy(at, &w, 2);
      break;
    }
    case 4: {
      const auto w = static_cast<std::uint32_t>(v);
      std::memcpy(at, &w, 4);
      break;
    }
    default:
      std::memcpy(at, &v, 8);
  }
}

// `count` bits from bit `bit` of `data`, most significant first.
std::uint64_t bits_at(const std::uint8_t* data, std::uint64_t bit, std::uint32_t count) {
  if (bit % 8 == 0 && count == 8) return data[bit / 8];
  std::uint64_t v = 0;
  while (count != 0) {
    const auto offset = static_cast<std::uint32_t>(bit % 8);
    const std::uint32_t take = std::min(8 - offset, count);
    const std::uint32_t byte = data[bit / 8];
    v = v << take | (byte >> (8 - offset - take) & ((1u << take) - 1));
    bit += take;
    count -= take;
  }
  return v;
}

// The outputs [first, first + count) whose source lies in [origin, origin + extent) of
// one axis, taking every `step`-th source from `start` for at most `n` outputs.
struct Span {
  std::uint32_t first = 0, count = 0;
};
Span span(std::uint64_t start, std::uint32_t n, std::uint64_t step, std::uint64_t origin,
          std::uint64_t extent) {
  const std::uint64_t end = origin + extent;
  if (end <= start) return {};
  const std::uint64_t lo = origin > start ? (origin - start + step - 1) / step : 0;
  const std::uint64_t hi = std::min<std::uint64_t>((end - start + step - 1) / step, n);
  if (hi <= lo) return {};
  return {static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(hi - lo)};
}

Span row_span(const Output& o, std::uint64_t origin, std::uint64_t extent) {
  return span(o.row0, o.out_rows, o.reduction, origin, extent);
}
Span column_span(const Output& o, std::uint64_t origin, std::uint64_t extent) {
  return span(o.col0, o.out_cols, o.reduction, origin, extent);
}

bool meets(const Output& o, const imgdata::BlockGrid& g, std::uint64_t k) {
  const std::uint64_t by = k / g.per_row, bx = k % g.per_row;
  return row_span(o, by * g.height, g.height).count != 0 &&
         column_span(o, bx * g.width, g.width).count != 0;
}

// ----- Uncompressed blocks --------------------------------------------------------------

struct PlainWalk {
  const Output& o;
  const imgdata::BlockGrid& grid;
  const std::uint32_t* slots;  // the output slot of each walked plane
  std::uint32_t count;
};

bool plain_wants(void* self, std::uint64_t k) {
  const auto& w = *static_cast<PlainWalk*>(self);
  return meets(w.o, w.grid, k);
}

void plain_rows(void* self, std::uint64_t k, std::uint32_t* first, std::uint32_t* end) {
  const auto& w = *static_cast<PlainWalk*>(self);
  imgdata::rows_within(k / w.grid.per_row * w.grid.height, w.o.row0,
                       w.o.row0 + std::uint64_t{w.o.out_rows - 1} * w.o.reduction + 1, first, end);
}

// `count` samples of N bytes, each turned from the file's big-endian order to the
// machine's.
template <std::size_t N>
void copy_swapped(std::uint8_t* out, std::size_t out_step, const std::uint8_t* in,
                  std::size_t in_step, std::uint32_t count) {
  constexpr bool kLittle = std::endian::native == std::endian::little;
  for (std::uint32_t c = 0; c < count; ++c, out += out_step, in += in_step)
    for (std::size_t j = 0; j < N; ++j) out[j] = in[kLittle ? N - 1 - j : j];
}

// The common case without bit arithmetic per sample: byte-aligned samples exactly as
// wide as the output's. False when the general path must take the row.
bool copy_whole_samples(const Output& o, std::uint32_t r, Span cs, std::uint64_t left,
                        const PlainWalk& w, const imgdata::PlaneRow* planes) {
  if (o.bits != o.bytes * 8 || o.kind == KV_SAMPLE_COMPLEX) return false;
  for (std::uint32_t i = 0; i < w.count; ++i)
    if (planes[i].pixel_bits != o.bits || planes[i].first_bit % 8) return false;
  const std::size_t out_step = o.by_band ? o.bytes : std::size_t{o.band_count} * o.bytes;
  const std::size_t in_step = std::size_t{o.reduction} * o.bytes;
  const std::uint64_t x0 = o.col0 + std::uint64_t{cs.first} * o.reduction - left;
  for (std::uint32_t i = 0; i < w.count; ++i) {
    const std::uint32_t slot = w.slots[i];
    std::uint8_t* out = o.buffer + r * o.stride +
                        (o.by_band ? slot * o.band_step + std::size_t{cs.first} * o.bytes
                                   : (std::size_t{cs.first} * o.band_count + slot) * o.bytes);
    const std::uint8_t* in = planes[i].data + planes[i].first_bit / 8 + x0 * o.bytes;
    switch (o.bytes) {
      case 1:
        copy_swapped<1>(out, out_step, in, in_step, cs.count);
        break;
      case 2:
        copy_swapped<2>(out, out_step, in, in_step, cs.count);
        break;
      case 4:
        copy_swapped<4>(out, out_step, in, in_step, cs.count);
        break;
      default:
        copy_swapped<8>(out, out_step, in, in_step, cs.count);
    }
  }
  return true;
}

int plain_row(void* self, std::uint64_t k, std::uint32_t y, const imgdata::PlaneRow* planes) {
  const auto& w = *static_cast<PlainWalk*>(self);
  const Output& o = w.o;
  const std::uint64_t image_row = k / w.grid.per_row * w.grid.height + y;
  if (image_row < o.row0 || (image_row - o.row0) % o.reduction) return RET_SUCCESS;
  const std::uint64_t r = (image_row - o.row0) / o.reduction;
  if (r >= o.out_rows) return RET_SUCCESS;
  const std::uint64_t left = k % w.grid.per_row * w.grid.width;
  const Span cs = column_span(o, left, w.grid.width);
  if (copy_whole_samples(o, static_cast<std::uint32_t>(r), cs, left, w, planes)) return RET_SUCCESS;
  for (std::uint32_t c = cs.first; c < cs.first + cs.count; ++c) {
    const std::uint64_t x = o.col0 + std::uint64_t{c} * o.reduction - left;
    for (std::uint32_t i = 0; i < w.count; ++i) {
      const imgdata::PlaneRow& p = planes[i];
      put(o, static_cast<std::uint32_t>(r), c, w.slots[i],
          bits_at(p.data, p.first_bit + x * p.pixel_bits, o.bits));
    }
  }
  return RET_SUCCESS;
}

int no_block(void*, std::uint64_t) {
  return RET_SUCCESS;
}

// The walk takes up to three bands at a time; each group is one pass over the blocks
// that meet the window.
int read_plain(const ImageReadContext& c, const Output& o) {
  imgdata::DataSource source;
  std::uint64_t available = 0;
  if (int r = image_data_source(c, &source, &available); r != RET_SUCCESS) return r;
  for (std::uint32_t first = 0; first < o.band_count; first += 3) {
    const std::uint32_t n = std::min(3u, o.band_count - first);
    std::uint32_t slots[3] = {};
    for (std::uint32_t i = 0; i < n; ++i) slots[i] = first + i;
    imgdata::BlockLayout layout;
    if (int r = imgdata::describe_blocks(*c.subheader, c.data_length, available, o.bands + first, n,
                                         &layout);
        r != RET_SUCCESS)
      return r;
    PlainWalk walk{o, layout.grid, slots, n};
    if (int r = imgdata::walk_blocks(layout, source,
                                     {&walk, plain_row, no_block, plain_wants, plain_rows});
        r != RET_SUCCESS)
      return r;
  }
  return RET_SUCCESS;
}

// ----- Decoded blocks -------------------------------------------------------------------

// Component `component` of pixel (x, y) of a decoded picture; false when it has no such
// component.
bool picture_sample(const kernel::Bitmap& b, std::uint32_t x, std::uint32_t y,
                    std::uint32_t component, std::uint64_t* v) {
  const bool colour = b.bits_per_pixel == 24 || b.bits_per_pixel == 32;
  if (component >= (colour ? 3u : 1u)) return false;
  const std::uint8_t* row =
      kernel::storage_row(b, kernel::top_down_row(b, static_cast<std::int32_t>(y)));
  if (!row) return false;
  switch (b.bits_per_pixel) {
    case 1:
      *v = row[x / 8] >> (7 - x % 8) & 1;
      return true;
    case 8:
      *v = row[x];
      return true;
    case 12:
      *v = kernel::sample12(row, static_cast<std::int32_t>(x));
      return true;
    case 16: {
      std::uint16_t w = 0;
      std::memcpy(&w, row + 2 * std::size_t{x}, 2);
      *v = w;
      return true;
    }
    default:
      *v = row[std::size_t{x} * (b.bits_per_pixel / 8) + 2 - component];
      return true;
  }
}

struct Decoded {
  const Output& o;
  imgdata::BlockGrid grid;
  bool inverted = false;  // T.4 pictures show a set bit white, NITF's 0
};

bool decoded_wants(void* self, std::uint64_t k, std::uint32_t) {
  const auto& d = *static_cast<Decoded*>(self);
  return meets(d.o, d.grid, k);
}

// The common case without a lookup per sample: byte pictures (grey, or blue-green-red
// with or without a fourth byte) into byte samples. False, with nothing promised about
// what was written, when the general path must take the block.
bool take_bytes(const Decoded& d, std::uint32_t band, const kernel::Bitmap& b, Span rs, Span cs,
                std::uint64_t top, std::uint64_t left) {
  const Output& o = d.o;
  const std::uint32_t step = b.bits_per_pixel % 8 ? 0 : b.bits_per_pixel / 8;
  if ((step != 1 && step != 3 && step != 4) || o.bytes != 1 || d.inverted ||
      (o.kind == KV_SAMPLE_SIGNED && o.bits != 8))
    return false;
  const std::size_t out_step = o.by_band ? 1 : o.band_count;
  const std::size_t in_step = std::size_t{o.reduction} * step;
  const std::uint64_t x0 = o.col0 + std::uint64_t{cs.first} * o.reduction - left;
  for (std::uint32_t r = rs.first; r < rs.first + rs.count; ++r) {
    const auto y = static_cast<std::int32_t>(o.row0 + std::uint64_t{r} * o.reduction - top);
    const std::uint8_t* row = kernel::storage_row(b, kernel::top_down_row(b, y));
    if (!row) return false;
    for (std::uint32_t slot = 0; slot < o.band_count; ++slot) {
      const std::uint32_t wanted = o.bands[slot];
      if (band != BlockTarget::kEveryBand && band != wanted) continue;
      const std::uint32_t component = band == BlockTarget::kEveryBand ? wanted : 0;
      if (component >= (step == 1 ? 1u : 3u)) return false;
      const std::uint8_t* in = row + x0 * step + (step == 1 ? 0 : 2 - component);
      std::uint8_t* out =
          o.buffer + r * o.stride +
          (o.by_band ? slot * o.band_step + cs.first : std::size_t{cs.first} * o.band_count + slot);
      for (std::uint32_t c = 0; c < cs.count; ++c) out[c * out_step] = in[c * in_step];
    }
  }
  return true;
}

int decoded_take(void* self, std::uint64_t k, std::uint32_t band, const kernel::Bitmap& b) {
  const auto& d = *static_cast<Decoded*>(self);
  const Output& o = d.o;
  const std::uint64_t top = k / d.grid.per_row * d.grid.height;
  const std::uint64_t left = k % d.grid.per_row * d.grid.width;
  const Span rs = row_span(o, top, std::min<std::uint64_t>(d.grid.height, b.height));
  const Span cs = column_span(o, left, std::min<std::uint64_t>(d.grid.width, b.width));
  if (take_bytes(d, band, b, rs, cs, top, left)) return RET_SUCCESS;
  for (std::uint32_t r = rs.first; r < rs.first + rs.count; ++r) {
    const auto y = static_cast<std::uint32_t>(o.row0 + std::uint64_t{r} * o.reduction - top);
    for (std::uint32_t c = cs.first; c < cs.first + cs.count; ++c) {
      const auto x = static_cast<std::uint32_t>(o.col0 + std::uint64_t{c} * o.reduction - left);
      for (std::uint32_t slot = 0; slot < o.band_count; ++slot) {
        const std::uint32_t wanted = o.bands[slot];
        if (band != BlockTarget::kEveryBand && band != wanted) continue;
        std::uint64_t v = 0;
        if (!picture_sample(b, x, y, band == BlockTarget::kEveryBand ? wanted : 0, &v))
          return RET_BAD_BLOCK_STREAM;
        put(o, r, c, slot, d.inverted ? v ^ 1 : v);
      }
    }
  }
  return RET_SUCCESS;
}

// The JPEG family and vector quantisation decode only the blocks the window meets.
int read_decoded_blocks(const ImageReadContext& c, const Output& o, ImageReader reader) {
  Decoded d{o, {}};
  if (int r = imgdata::block_grid(*c.subheader, &d.grid); r != RET_SUCCESS) return r;
  const bool single = (c.subheader->blocks_per_row < 2 && c.subheader->blocks_per_column < 2);
  if (single)
    d.grid = {1, 1, std::numeric_limits<std::uint32_t>::max(),
              std::numeric_limits<std::uint32_t>::max()};
  const BlockTarget target{&d, decoded_wants, decoded_take};
  ImageReadContext with = c;
  with.target = &target;
  return reader(with);
}

// T.4 data are one picture: read whole, then cut.
int read_whole(const ImageReadContext& c, const Output& o) {
  kernel::Bitmap picture;
  kernel::init_bitmap(&picture, kernel::kBitmapRecordSize);
  int r = read_image(c.document, c.index, &picture, nullptr);
  if (r == RET_SUCCESS) {
    Decoded d{o,
              {1, 1, std::numeric_limits<std::uint32_t>::max(),
               std::numeric_limits<std::uint32_t>::max()}};
    d.inverted = c.subheader->compression == CompressionCode::kC1 ||
                 c.subheader->compression == CompressionCode::kM1;
    r = decoded_take(&d, 0, BlockTarget::kEveryBand, picture);
  }
  kernel::free_bitmap(&picture);
  return r;
}

// ----- JPEG 2000 ------------------------------------------------------------------------

struct J2kTake {
  const Output& o;
};

std::int32_t j2k_plane(void* self, std::uint32_t component, const fileformat::J2kPlane& p) {
  const Output& o = static_cast<J2kTake*>(self)->o;
  if (component == 0) {
    for (std::uint32_t i = 0; i < o.band_count; ++i)
      if (o.bands[i] >= p.components) return RET_FILE_FORMAT;
  }
  const std::uint32_t step = o.reduction >> p.reduce;  // what the codec's levels left
  for (std::uint32_t slot = 0; slot < o.band_count; ++slot) {
    if (o.bands[slot] != component) continue;
    for (std::uint32_t r = 0; r < o.out_rows; ++r) {
      const std::uint64_t y = std::min<std::uint64_t>(std::uint64_t{r} * step, p.height - 1);
      const std::int32_t* row = p.data + y * p.width;
      for (std::uint32_t c = 0; c < o.out_cols; ++c) {
        const std::uint64_t x = std::min<std::uint64_t>(std::uint64_t{c} * step, p.width - 1);
        const auto v = static_cast<std::uint64_t>(static_cast<std::int64_t>(row[x]));
        put(o, r, c, slot, v);
      }
    }
  }
  return RET_SUCCESS;
}

int read_j2k(const ImageReadContext& c, const Output& o) {
  jpegscan::CodedStream coded;
  if (int r = jpegscan::open_coded(c, &coded); r != RET_SUCCESS) return r;
  J2kTake take{o};
  const auto reduce = static_cast<std::uint32_t>(std::countr_zero(o.reduction));
  return fileformat::decode_j2k_area(coded.stream(), o.col0, o.row0, o.col0 + o.cols,
                                     o.row0 + o.rows, reduce, &take, j2k_plane);
}

// ----- Checks ---------------------------------------------------------------------------

int check_request(const NitfImageSubheader& s, const KvImageInfo& info, const KvSampleRequest& q,
                  std::size_t size, std::size_t stride, Output* o) {
  if (q.rows == 0 || q.columns == 0 || q.first_row >= info.rows ||
      q.rows > info.rows - q.first_row || q.first_column >= info.columns ||
      q.columns > info.columns - q.first_column)
    return RET_INVALID_PARAMETER;
  if (q.reduction == 0 || !std::has_single_bit(q.reduction) ||
      q.reduction > std::max(info.rows, info.columns))
    return RET_INVALID_PARAMETER;
  if (!q.bands || q.band_count == 0 || q.layout > KV_SAMPLES_BY_BAND) return RET_INVALID_PARAMETER;
  for (std::uint32_t i = 0; i < q.band_count; ++i)
    if (q.bands[i] >= info.bands) return RET_INVALID_PARAMETER;
  o->row0 = q.first_row;
  o->col0 = q.first_column;
  o->rows = q.rows;
  o->cols = q.columns;
  o->reduction = q.reduction;
  o->out_rows = (q.rows - 1) / q.reduction + 1;
  o->out_cols = (q.columns - 1) / q.reduction + 1;
  o->bands = q.bands;
  o->band_count = q.band_count;
  o->by_band = q.layout == KV_SAMPLES_BY_BAND;
  o->bytes = info.sample_bytes;
  o->bits = info.bits_per_sample;
  o->kind = info.sample_kind;
  std::uint64_t row = 0, rows = 0, total = 0;
  const std::uint64_t per_row = o->by_band ? 1 : q.band_count;
  if (kernel::mul_overflows(std::uint64_t{o->out_cols} * o->bytes, per_row, &row) || stride < row ||
      kernel::mul_overflows(std::uint64_t{o->out_rows}, o->by_band ? q.band_count : 1, &rows) ||
      kernel::mul_overflows(rows - 1, std::uint64_t{stride}, &total) || total + row > size)
    return RET_INVALID_PARAMETER;
  o->stride = stride;
  o->row_bytes = static_cast<std::size_t>(row);
  o->band_step = std::size_t{o->out_rows} * stride;
  (void)s;
  return RET_SUCCESS;
}

}  // namespace

int image_sample_info(const NitfImageSubheader& s, KvImageInfo* info) {
  *info = KvImageInfo{};
  if (s.bits_per_pixel <= 0 || s.bits_per_pixel > 64 || s.band_count <= 0) return RET_NOT_SUPPORTED;
  const auto bits = static_cast<std::uint32_t>(s.bits_per_pixel);
  info->rows = s.rows;
  info->columns = s.columns;
  info->bands =
      static_cast<std::uint32_t>(std::min(static_cast<std::size_t>(s.band_count), s.bands.size()));
  info->bits_per_sample = bits;
  info->sample_bytes = sample_bytes(bits);
  switch (s.pixel_type) {
    case PixelValueTypeCode::kSigned:
      info->sample_kind = KV_SAMPLE_SIGNED;
      break;
    case PixelValueTypeCode::kReal:
      if (bits != 32 && bits != 64) return RET_NOT_SUPPORTED;
      info->sample_kind = KV_SAMPLE_FLOAT;
      break;
    case PixelValueTypeCode::kComplex:
      if (bits != 64) return RET_NOT_SUPPORTED;
      info->sample_kind = KV_SAMPLE_COMPLEX;
      break;
    default:
      info->sample_kind = KV_SAMPLE_UNSIGNED;
  }
  return RET_SUCCESS;
}

int read_samples(::NitfDocument* document, std::uint32_t index, const KvSampleRequest& request,
                 void* buffer, std::size_t size, std::size_t stride) {
  const NitfImageSubheader* s = find_image_subheader(document, index);
  if (!s) return RET_BAD_ARGUMENT;
  KvImageInfo info;
  if (int r = image_sample_info(*s, &info); r != RET_SUCCESS) return r;
  const bool j2k = s->compression == CompressionCode::kC8 || s->compression == CompressionCode::kM8;
  Output o;
  if (!buffer) return RET_INVALID_PARAMETER;
  if (int r = check_request(*s, info, request, size, stride, &o); r != RET_SUCCESS) return r;
  o.buffer = static_cast<std::uint8_t*>(buffer);
  const std::uint32_t planes = o.by_band ? o.band_count : 1;
  for (std::uint64_t row = 0; row < std::uint64_t{o.out_rows} * planes; ++row)
    std::memset(o.buffer + row * stride, 0, o.row_bytes);
  const ImageReadContext c{document, index,  s, document->header.images.data(index),
                           nullptr,  nullptr};
  switch (s->compression) {
    case CompressionCode::kNC:
    case CompressionCode::kNM:
      return read_plain(c, o);
    case CompressionCode::kC3:
    case CompressionCode::kM3:
    case CompressionCode::kI1:
    case CompressionCode::kC5:
    case CompressionCode::kM5:
    case CompressionCode::kC6:
    case CompressionCode::kM6:
      return read_decoded_blocks(c, o, read_jpeg_family);
    case CompressionCode::kC4:
    case CompressionCode::kM4:
      return read_decoded_blocks(c, o, read_vector_quantised);
    case CompressionCode::kC1:
    case CompressionCode::kM1:
      return read_whole(c, o);
    default:
      return j2k ? read_j2k(c, o) : RET_NOT_SUPPORTED;
  }
}

}  // namespace nitf
