// Sample conversion: the stored samples of uncompressed image data turned into the
// kernel's pixel layouts, a whole row at a time. The image data reader (imgmodes) is the
// caller; nothing here allocates per row or per pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/imcodes.h"
#include "kernel.h"

namespace nitf {

// The smallest and largest sample seen, for stretching 32- and 64-bit samples onto 8 bits.
struct SampleRange {
  std::uint64_t minimum = ~std::uint64_t{0};
  std::uint64_t maximum = 0;
};

// How one image's samples (NBPP bits stored, ABPP significant) become pixels. 1 bit stays
// 1 bit; 8 bits are copied as they are; 12 bits are repacked into the kernel's 12-bit
// layout; 16 bits become native order; 32 and 64 bits are stretched onto 8 bits between
// range.minimum and range.maximum. A 12- or 16-bit image with fewer significant bits
// (ABPP 1 to NBPP - 1) is widened to the full stored range, v * (2^NBPP - 1) / (2^ABPP - 1)
// (a 16-bit ABPP 11 value becomes v * 65535 / 2047), through a table of 2^ABPP entries;
// the significant bits are taken from the low end, or the high end when PJUST is "L".
struct SampleConversion {
  std::int32_t stored_bits = 8;
  std::int32_t significant_bits = 8;
  bool right_justified = true;
  SampleRange range;
  kernel::Buffer<std::uint16_t> scale;  // empty when no widening is done
  // When set, 12- and 16-bit samples become canvas pixels of level_bytes bytes each: the
  // first bytes of the entry of their top 8 bits (after widening), as the painting would
  // put them on the canvas.
  const std::uint32_t* levels = nullptr;
  int level_bytes = 1;
};

// RET_SUCCESS; RET_NOT_SUPPORTED for a stored width other than 1, 8, 12, 16, 32 or 64;
// RET_NO_MEMORY when the table cannot be made.
int prepare_sample_conversion(SampleConversion* conversion, int stored_bits, int significant_bits,
                              bool right_justified);

// Bits per pixel of converted samples: the stored width, except 8 for 32 and 64.
int converted_bits(int stored_bits);

// Widens `range` by `count` big-endian unsigned samples of `bytes` (4 or 8) bytes each.
void scan_sample_range(const std::uint8_t* samples, std::size_t count, int bytes,
                       SampleRange* range);

// Converts `count` contiguous samples that start at bit `first_bit` of `source` into
// `target`, which must hold the converted row ((count * converted_bits + 7) / 8 bytes,
// or count x level_bytes with levels).
// Only 1- and 12-bit samples may start inside a byte. Source and target must not overlap.
// Unused bits of the last target byte are 0.
void convert_samples(const SampleConversion& conversion, const std::uint8_t* source,
                     std::uint64_t first_bit, std::size_t count, std::uint8_t* target);

// The 12-bit repacking, in place: each group of three bytes a, b, c (two 12-bit samples,
// big-endian as NITF stores them) becomes (a << 4 | b >> 4), (c << 4 | a >> 4),
// (b << 4 | c >> 4), which is the kernel's layout. A last group of one or two bytes is
// repacked as if the missing bytes were 0, without touching anything past `bytes`.
void repack_samples12(std::uint8_t* row, std::size_t bytes);

// Interleaves three rows of 8-bit samples, each taken every `stride` bytes, into blue,
// green, red triplets: the kernel's 24-bit layout.
void interleave_bgr(const std::uint8_t* red, const std::uint8_t* green, const std::uint8_t* blue,
                    std::size_t stride, std::size_t count, std::uint8_t* target);

// ----- Extended reading: shown samples as 8-bit levels ----------------------------------

// The finite values met, for the linear stretch.
struct ValueRange {
  double minimum = 0, maximum = 0;
  bool seen = false;
};

// How extended reading turns one shown band's samples into 8-bit levels. Unsigned
// samples of 8 to 16 bits by their top 8 bits after the widening of SampleConversion
// (as the painting shows deep grey); unsigned 32- and 64-bit, signed (SI), float (R,
// IEEE, 32 or 64 bits) and complex (C, two 32-bit floats: the magnitude) samples by
// floor((v - minimum) * 255 / (maximum - minimum)) over `range`, every level 0 when the
// range is empty or a single value. NaN and infinities become 0.
struct LevelConversion {
  PixelValueTypeCode type = PixelValueTypeCode::kInteger;
  int stored_bits = 8;
  bool stretched = false;  // by the range, rather than by the top bits
  SampleConversion widening;
  ValueRange range;
};

// RET_SUCCESS; RET_NOT_SUPPORTED for a type and width without levels (unsigned other than
// 8, 12, 16, 32, 64; signed other than 8, 16, 32, 64; float other than 32, 64; complex
// other than 64; bi-level); RET_NO_MEMORY when the widening table cannot be made.
int prepare_level_conversion(LevelConversion* conversion, PixelValueTypeCode type, int stored_bits,
                             int significant_bits, bool right_justified);

// Widens `range` by `count` samples, sample x at bit first_bit + x * step of `row`
// (stretched conversions only: whole bytes).
void scan_level_range(const LevelConversion& conversion, const std::uint8_t* row,
                      std::uint64_t first_bit, std::uint64_t step, std::size_t count,
                      ValueRange* range);

// The levels of `count` samples laid as for scan_level_range, level x into
// target[x * target_step].
void convert_to_levels(const LevelConversion& conversion, const std::uint8_t* row,
                       std::uint64_t first_bit, std::uint64_t step, std::size_t count,
                       std::uint8_t* target, std::size_t target_step);

// `count` pixels of `bytes` bytes (3 or 4) holding Y in the red byte, Cb in the green and
// Cr in the blue (the kernel's order: blue first) become red, green, blue by the
// ITU-R BT.601 full-range conversion JPEG uses, rounded and held within 0 to 255.
void ycbcr_to_rgb(std::uint8_t* pixels, std::size_t count, int bytes);

}  // namespace nitf
