// The image subheader's coded fields: their internal codes and the one table of names
// per code that the reader, the setters and the writer share.
//
// A name matches a field's text when the text begins with it (so "RGB/LUT" must come
// before "RGB"), except in exact tables (IC), where the whole text must equal it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace nitf {

// SI, R and C are read only by extended reading: the strict reader refuses them.
enum class PixelValueTypeCode : std::int32_t {
  kInteger = 0,
  kBilevel = 1,
  kSigned = 2,
  kReal = 3,
  kComplex = 4,
};

enum class RepresentationCode : std::int32_t {
  kMono = 0,
  kRgb = 1,
  kRgbLut = 2,
  kMulti = 3,
  kNoDisplay = 4,
  kNVector = 5,
  kPolar = 6,
  kVph = 7,
  kYCbCr601 = 8,
};

// The values follow the order of MIL-STD-2500C's IC list. kUnknown stands for an IC the
// table does not hold: the reader keeps it, the image readers refuse it.
enum class CompressionCode : std::int32_t {
  kNC = 0,
  kNM = 1,
  kC0 = 2,
  kC1 = 3,
  kC2 = 4,
  kC3 = 5,
  kC4 = 6,
  kC5 = 7,
  kC6 = 8,
  kC8 = 9,
  kI1 = 10,
  kM0 = 11,
  kM1 = 12,
  kM2 = 13,
  kM3 = 14,
  kM4 = 15,
  kM5 = 16,
  kM6 = 17,
  kM8 = 18,
  kUnknown = 19,
};

enum class BandRepresentationCode : std::int32_t {
  kNone = 0,
  kLut = 1,
  kRed = 2,
  kGreen = 3,
  kBlue = 4,
  kMono = 5,
  kLuminance = 6,
  kChromaBlue = 7,
  kChromaRed = 8,
};

enum class ImageModeCode : std::int32_t { kBlock = 0, kPixel = 1, kRow = 2, kSequential = 3 };

// From COMRAT of bi-level (C1/M1) images; kNone for every other COMRAT.
enum class BilevelModeCode : std::int32_t { k1D = 0, k2DS = 1, k2DH = 2, kNone = 3 };

enum class JustificationCode : std::int32_t { kLeft = 0, kRight = 1 };

struct CodeName {
  const char* text;
  std::int32_t value;
  // How many leading characters of the text must match; 0: the name's own length.
  std::uint8_t compared = 0;
};

struct CodeTable {
  std::span<const CodeName> names;
  bool exact;  // the whole text must equal the name
};

// PVTYPE (INT on its first character, B, SI, R, C), IREP, IC, IREPBANDn, IMODE, COMRAT's
// bi-level coding schemes and PJUST.
extern const CodeTable kPixelTypes, kRepresentations, kCompressions, kBandRepresentations,
    kImageModes, kBilevelModes, kJustifications;

// The value of the first name that matches `text`; false when none does.
bool code_value(const CodeTable& table, std::string_view text, std::int32_t* value);
// The name of `value`, or null when the table has none.
const char* code_name(const CodeTable& table, std::int32_t value);

template <class Code>
bool code_of(const CodeTable& table, std::string_view text, Code* code) {
  std::int32_t value = 0;
  if (!code_value(table, text, &value)) return false;
  *code = static_cast<Code>(value);
  return true;
}

template <class Code>
const char* name_of(const CodeTable& table, Code code) {
  return code_name(table, static_cast<std::int32_t>(code));
}

// True for the codes whose data begin with an image data mask table.
bool is_masked(CompressionCode code);

}  // namespace nitf
