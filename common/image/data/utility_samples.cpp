// Sample conversion of uncompressed image rows: NITF stores samples big-endian and packed
// at NBPP bits; the kernel's bitmaps want 1, 8, 12 (its own nibble order), 16 (native) or
// 8 bits stretched from deeper data. The image data reader calls these once per row with
// the row's samples contiguous, so every loop here runs over a whole row.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include <kvntfu.h>

#include "image/data/utility_samples.h"

namespace nitf {
namespace {

std::uint16_t big_endian16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint64_t big_endian(const std::uint8_t* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

// Widening happens for 12 and 16 bits when fewer bits are significant.
bool widens(int stored_bits, int significant_bits) {
  return (stored_bits == 12 || stored_bits == 16) && significant_bits >= 1 &&
         significant_bits < stored_bits;
}

// The significant bits of a stored value, as an index into the scale table.
std::uint32_t significant(const SampleConversion& c, std::uint32_t v) {
  const int spare = c.stored_bits - c.significant_bits;
  return c.right_justified ? v & ((1u << c.significant_bits) - 1) : v >> spare;
}

// Bits [first, first + count) to bits [0, count) of target, most significant bit first.
// Source bytes past the last bit of the range are never read.
void copy_bits(const std::uint8_t* source, std::uint64_t first, std::size_t count,
               std::uint8_t* target) {
  const std::size_t bytes = (count + 7) / 8;
  const std::uint8_t* p = source + first / 8;
  const unsigned shift = static_cast<unsigned>(first % 8);
  if (shift == 0) {
    std::memcpy(target, p, bytes);
  } else {
    const std::size_t last = (shift + count - 1) / 8;  // last source byte index used
    for (std::size_t j = 0; j < bytes; ++j) {
      unsigned next = j + 1 <= last ? p[j + 1] : 0;
      target[j] = static_cast<std::uint8_t>(p[j] << shift | next >> (8 - shift));
    }
  }
  if (count % 8) target[bytes - 1] &= static_cast<std::uint8_t>(0xFF00u >> (count % 8));
}

// A 12-bit sample at bit `bit` (a multiple of 4) of a big-endian packed row.
std::uint16_t stored_sample12(const std::uint8_t* source, std::uint64_t bit) {
  const std::uint8_t* p = source + bit / 8;
  if (bit % 8 == 0) return static_cast<std::uint16_t>(p[0] << 4 | p[1] >> 4);
  return static_cast<std::uint16_t>((p[0] & 0x0F) << 8 | p[1]);
}

void convert12(const SampleConversion& c, const std::uint8_t* source, std::uint64_t first_bit,
               std::size_t count, std::uint8_t* target) {
  if (c.levels) {
    const auto bytes = static_cast<std::size_t>(c.level_bytes);
    for (std::size_t x = 0; x < count; ++x) {
      std::uint32_t v = stored_sample12(source, first_bit + 12 * x);
      if (!c.scale.empty()) v = c.scale[significant(c, v)];
      std::memcpy(target + x * bytes, &c.levels[v >> 4], bytes);
    }
    return;
  }
  if (first_bit % 8 == 0) {
    const std::size_t bytes = (count * 12 + 7) / 8;
    std::memcpy(target, source + first_bit / 8, bytes);
    repack_samples12(target, bytes);
  } else {
    for (std::size_t x = 0; x < count; ++x)
      kernel::put_sample12(target, static_cast<std::int32_t>(x),
                           stored_sample12(source, first_bit + 12 * x));
  }
  if (c.scale.empty()) return;
  for (std::size_t x = 0; x < count; ++x) {
    const auto i = static_cast<std::int32_t>(x);
    kernel::put_sample12(target, i, c.scale[significant(c, kernel::sample12(target, i))]);
  }
}

void convert16(const SampleConversion& c, const std::uint8_t* source, std::size_t count,
               std::uint8_t* target) {
  if (c.levels) {
    const std::uint16_t* table = c.scale.data();
    const auto bytes = static_cast<std::size_t>(c.level_bytes);
    for (std::size_t x = 0; x < count; ++x) {
      const std::uint16_t v = big_endian16(source + 2 * x);
      std::memcpy(target + x * bytes, &c.levels[(table ? table[significant(c, v)] : v) >> 8],
                  bytes);
    }
    return;
  }
  if (c.scale.empty()) {
    for (std::size_t x = 0; x < count; ++x) {
      const std::uint16_t v = big_endian16(source + 2 * x);
      std::memcpy(target + 2 * x, &v, 2);
    }
    return;
  }
  const std::uint16_t* table = c.scale.data();
  for (std::size_t x = 0; x < count; ++x) {
    const std::uint16_t v = table[significant(c, big_endian16(source + 2 * x))];
    std::memcpy(target + 2 * x, &v, 2);
  }
}

void stretch(const SampleConversion& c, const std::uint8_t* source, std::size_t count,
             std::uint8_t* target) {
  const int bytes = c.stored_bits / 8;
  const SampleRange& r = c.range;
  if (r.maximum <= r.minimum) {
    std::memset(target, 0, count);
    return;
  }
  const double span = static_cast<double>(r.maximum - r.minimum);
  for (std::size_t x = 0; x < count; ++x) {
    const std::uint64_t v = big_endian(source + x * static_cast<std::size_t>(bytes), bytes);
    const std::uint64_t above = v > r.minimum ? std::min(v, r.maximum) - r.minimum : 0;
    target[x] = static_cast<std::uint8_t>(static_cast<double>(above) * 255.0 / span);
  }
}

bool has_levels(PixelValueTypeCode type, int bits) {
  switch (type) {
    case PixelValueTypeCode::kInteger:
      return bits == 8 || bits == 12 || bits == 16 || bits == 32 || bits == 64;
    case PixelValueTypeCode::kSigned:
      return bits == 8 || bits == 16 || bits == 32 || bits == 64;
    case PixelValueTypeCode::kReal:
      return bits == 32 || bits == 64;
    case PixelValueTypeCode::kComplex:
      return bits == 64;
    default:
      return false;
  }
}

// A stored sample of a stretched conversion as a number.
double stored_value(const LevelConversion& c, const std::uint8_t* p) {
  const int bytes = c.stored_bits / 8;
  const std::uint64_t v = big_endian(p, c.type == PixelValueTypeCode::kComplex ? 4 : bytes);
  switch (c.type) {
    case PixelValueTypeCode::kSigned: {
      const std::uint64_t sign = std::uint64_t{1} << (c.stored_bits - 1);
      return static_cast<double>(static_cast<std::int64_t>((v ^ sign) - sign));
    }
    case PixelValueTypeCode::kReal:
      return bytes == 4 ? std::bit_cast<float>(static_cast<std::uint32_t>(v))
                        : std::bit_cast<double>(v);
    case PixelValueTypeCode::kComplex: {
      const float re = std::bit_cast<float>(static_cast<std::uint32_t>(v));
      const float im = std::bit_cast<float>(static_cast<std::uint32_t>(big_endian(p + 4, 4)));
      return std::hypot(double{re}, double{im});
    }
    default:
      return static_cast<double>(v);
  }
}

// Top 8 bits of an unsigned sample of 8 to 16 bits, after the widening.
std::uint8_t top_level(const LevelConversion& c, const std::uint8_t* row, std::uint64_t bit) {
  const SampleConversion& w = c.widening;
  const std::uint8_t* p = row + bit / 8;
  std::uint32_t v = c.stored_bits == 8    ? p[0]
                    : c.stored_bits == 12 ? stored_sample12(row, bit)
                                          : big_endian16(p);
  if (!w.scale.empty()) v = w.scale[significant(w, v)];
  return static_cast<std::uint8_t>(v >> (c.stored_bits - 8));
}

std::uint8_t stretched_level(const ValueRange& r, double v) {
  if (!std::isfinite(v) || !r.seen || r.maximum <= r.minimum) return 0;
  const double level = std::floor((v - r.minimum) * 255.0 / (r.maximum - r.minimum));
  return static_cast<std::uint8_t>(std::clamp(level, 0.0, 255.0));
}

std::uint8_t clamped(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0l, 255l));
}

template <std::size_t Stride>
void interleave_with_stride(const std::uint8_t* __restrict red,
                            const std::uint8_t* __restrict green,
                            const std::uint8_t* __restrict blue, std::size_t count,
                            std::uint8_t* __restrict target) {
  for (std::size_t x = 0; x < count; ++x) {
    target[3 * x] = blue[x * Stride];
    target[3 * x + 1] = green[x * Stride];
    target[3 * x + 2] = red[x * Stride];
  }
}

}  // namespace

int converted_bits(int stored_bits) {
  return stored_bits == 32 || stored_bits == 64 ? 8 : stored_bits;
}

int prepare_sample_conversion(SampleConversion* c, int stored_bits, int significant_bits,
                              bool right_justified) {
  switch (stored_bits) {
    case 1:
    case 8:
    case 12:
    case 16:
    case 32:
    case 64:
      break;
    default:
      return RET_NOT_SUPPORTED;
  }
  c->stored_bits = stored_bits;
  c->significant_bits = significant_bits;
  c->right_justified = right_justified;
  c->range = SampleRange{};
  c->scale.reset();
  c->levels = nullptr;
  c->level_bytes = 1;
  if (!widens(stored_bits, significant_bits)) return RET_SUCCESS;
  const std::uint32_t entries = 1u << significant_bits;
  if (!c->scale.allocate(entries)) return RET_NO_MEMORY;
  const std::uint32_t top = (1u << stored_bits) - 1, from = entries - 1;
  for (std::uint32_t v = 0; v < entries; ++v)
    c->scale[v] = static_cast<std::uint16_t>(v * top / from);
  return RET_SUCCESS;
}

void scan_sample_range(const std::uint8_t* samples, std::size_t count, int bytes,
                       SampleRange* range) {
  std::uint64_t lo = range->minimum, hi = range->maximum;
  for (std::size_t x = 0; x < count; ++x) {
    const std::uint64_t v = big_endian(samples + x * static_cast<std::size_t>(bytes), bytes);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  range->minimum = lo;
  range->maximum = hi;
}

void convert_samples(const SampleConversion& c, const std::uint8_t* source, std::uint64_t first_bit,
                     std::size_t count, std::uint8_t* target) {
  if (count == 0) return;
  switch (c.stored_bits) {
    case 1:
      return copy_bits(source, first_bit, count, target);
    case 12:
      return convert12(c, source, first_bit, count, target);
    case 16:
      return convert16(c, source + first_bit / 8, count, target);
    case 32:
    case 64:
      return stretch(c, source + first_bit / 8, count, target);
    default:
      std::memcpy(target, source + first_bit / 8, count);
  }
}

int prepare_level_conversion(LevelConversion* c, PixelValueTypeCode type, int stored_bits,
                             int significant_bits, bool right_justified) {
  if (!has_levels(type, stored_bits)) return RET_NOT_SUPPORTED;
  c->type = type;
  c->stored_bits = stored_bits;
  c->stretched = type != PixelValueTypeCode::kInteger || stored_bits >= 32;
  c->range = ValueRange{};
  if (c->stretched) return RET_SUCCESS;
  return prepare_sample_conversion(&c->widening, stored_bits, significant_bits, right_justified);
}

void scan_level_range(const LevelConversion& c, const std::uint8_t* row, std::uint64_t first_bit,
                      std::uint64_t step, std::size_t count, ValueRange* range) {
  if (!c.stretched) return;
  for (std::size_t x = 0; x < count; ++x) {
    const double v = stored_value(c, row + (first_bit + x * step) / 8);
    if (!std::isfinite(v)) continue;
    range->minimum = range->seen ? std::min(range->minimum, v) : v;
    range->maximum = range->seen ? std::max(range->maximum, v) : v;
    range->seen = true;
  }
}

void convert_to_levels(const LevelConversion& c, const std::uint8_t* row, std::uint64_t first_bit,
                       std::uint64_t step, std::size_t count, std::uint8_t* target,
                       std::size_t target_step) {
  for (std::size_t x = 0; x < count; ++x) {
    const std::uint64_t bit = first_bit + x * step;
    target[x * target_step] = c.stretched ? stretched_level(c.range, stored_value(c, row + bit / 8))
                                          : top_level(c, row, bit);
  }
}

void ycbcr_to_rgb(std::uint8_t* pixels, std::size_t count, int bytes) {
  for (std::size_t x = 0; x < count; ++x) {
    std::uint8_t* p = pixels + x * static_cast<std::size_t>(bytes);
    const double y = p[2], cb = p[1] - 128.0, cr = p[0] - 128.0;
    p[2] = clamped(y + 1.402 * cr);
    p[1] = clamped(y - 0.344136 * cb - 0.714136 * cr);
    p[0] = clamped(y + 1.772 * cb);
  }
}

void repack_samples12(std::uint8_t* row, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; i += 3) {
    const std::size_t left = bytes - i;
    const unsigned a = row[i], b = left > 1 ? row[i + 1] : 0, c = left > 2 ? row[i + 2] : 0;
    row[i] = static_cast<std::uint8_t>(a << 4 | b >> 4);
    if (left > 1) row[i + 1] = static_cast<std::uint8_t>(c << 4 | a >> 4);
    if (left > 2) row[i + 2] = static_cast<std::uint8_t>(b << 4 | c >> 4);
  }
}

void interleave_bgr(const std::uint8_t* red, const std::uint8_t* green, const std::uint8_t* blue,
                    std::size_t stride, std::size_t count, std::uint8_t* target) {
  // The two strides of real files (separate planes, and R, G, B pixels) get loops of
  // their own, which the compiler can unroll and vectorise.
  if (stride == 1) return interleave_with_stride<1>(red, green, blue, count, target);
  if (stride == 3) return interleave_with_stride<3>(red, green, blue, count, target);
  for (std::size_t x = 0; x < count; ++x) {
    target[3 * x] = blue[x * stride];
    target[3 * x + 1] = green[x * stride];
    target[3 * x + 2] = red[x * stride];
  }
}

}  // namespace nitf
