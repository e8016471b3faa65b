// The names of the image subheader's codes.
#include "image/imcodes.h"

#include <cstring>

namespace nitf {
namespace {

using PV = PixelValueTypeCode;
using Rep = RepresentationCode;
using IC = CompressionCode;
using Band = BandRepresentationCode;
using Mode = ImageModeCode;
using Bilevel = BilevelModeCode;
using Just = JustificationCode;

template <class Code>
constexpr CodeName name(const char* text, Code code, std::uint8_t compared = 0) {
  return CodeName{text, static_cast<std::int32_t>(code), compared};
}

// Readers have long taken INT by its first character; none of the others begins with I.
constexpr CodeName kPixelTypeNames[] = {name("INT", PV::kInteger, 1), name("B", PV::kBilevel),
                                        name("SI", PV::kSigned), name("R", PV::kReal),
                                        name("C", PV::kComplex)};

constexpr CodeName kRepresentationNames[] = {
    name("MONO", Rep::kMono),
    name("RGB/LUT", Rep::kRgbLut),
    name("RGB", Rep::kRgb),
    name("MULTI", Rep::kMulti),
    name("NODISPLY", Rep::kNoDisplay),
    name("NVECTOR", Rep::kNVector),
    name("POLAR", Rep::kPolar),
    name("VPH", Rep::kVph),
    name("YCbCr601", Rep::kYCbCr601),
};

constexpr CodeName kCompressionNames[] = {
    name("NC", IC::kNC), name("NM", IC::kNM), name("C0", IC::kC0), name("C1", IC::kC1),
    name("C2", IC::kC2), name("C3", IC::kC3), name("C4", IC::kC4), name("C5", IC::kC5),
    name("C6", IC::kC6), name("C8", IC::kC8), name("I1", IC::kI1), name("M0", IC::kM0),
    name("M1", IC::kM1), name("M2", IC::kM2), name("M3", IC::kM3), name("M4", IC::kM4),
    name("M5", IC::kM5), name("M6", IC::kM6), name("M8", IC::kM8),
};

// R, G, B, M and Y on their first character.
constexpr CodeName kBandNames[] = {
    name("LU", Band::kLut),        name("R", Band::kRed),        name("G", Band::kGreen),
    name("B", Band::kBlue),        name("M", Band::kMono),       name("Y", Band::kLuminance),
    name("Cb", Band::kChromaBlue), name("Cr", Band::kChromaRed),
};

constexpr CodeName kModeNames[] = {name("B", Mode::kBlock), name("P", Mode::kPixel),
                                   name("R", Mode::kRow), name("S", Mode::kSequential)};

constexpr CodeName kBilevelNames[] = {name("1D", Bilevel::k1D), name("2DS", Bilevel::k2DS),
                                      name("2DH", Bilevel::k2DH)};

constexpr CodeName kJustificationNames[] = {name("L", Just::kLeft), name("R", Just::kRight)};

}  // namespace

const CodeTable kPixelTypes{kPixelTypeNames, false};
const CodeTable kRepresentations{kRepresentationNames, false};
const CodeTable kCompressions{kCompressionNames, true};
const CodeTable kBandRepresentations{kBandNames, false};
const CodeTable kImageModes{kModeNames, false};
const CodeTable kBilevelModes{kBilevelNames, false};
const CodeTable kJustifications{kJustificationNames, false};

bool code_value(const CodeTable& table, std::string_view text, std::int32_t* value) {
  for (const CodeName& n : table.names) {
    const std::string_view name(n.text);
    const bool match = table.exact ? text == name
                                   : text.substr(0, n.compared ? n.compared : name.size()) ==
                                         name.substr(0, n.compared ? n.compared : name.size());
    if (match) {
      *value = n.value;
      return true;
    }
  }
  return false;
}

const char* code_name(const CodeTable& table, std::int32_t value) {
  for (const CodeName& n : table.names)
    if (n.value == value) return n.text;
  return nullptr;
}

bool is_masked(CompressionCode code) {
  switch (code) {
    case IC::kNM:
    case IC::kM0:
    case IC::kM1:
    case IC::kM3:
    case IC::kM4:
    case IC::kM5:
      return true;
    default:
      return false;
  }
}

}  // namespace nitf
