// The few TRE fields the georeferencing needs (RPC00A/B, BLOCKA, GEOLOB), found in an
// image's extension areas (IXSHD, then UDID) and read through the TRE dictionary's
// descriptions, so that one description serves both the listing and the geometry.
//
// The walk over an area is bounded by its end and each TRE by its own length; a TRE
// that does not fit its description is "malformed", never read past. Numbers are
// taken from their field's own characters only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "tre/tre.h"

namespace nitf {
struct NitfImageSubheader;
}

namespace nitf::geo {

// The characters of one field, or a part of them.
struct TreBytes {
  std::span<const std::uint8_t> data;

  // The characters from `offset` as a number; false when they lie outside the field,
  // are blank or hold anything but an optional sign, digits, one point and an
  // exponent.
  bool number(std::size_t offset, std::size_t width, double* value) const;
  bool number(double* value) const { return number(0, data.size(), value); }
};

// A TRE decoded by its description.
struct TreFields {
  tre::Decoded decoded;

  // Field `name` at the TRE's top level, or of item `item` of loop `loop`; empty when
  // there is none.
  TreBytes field(std::string_view name) const;
  TreBytes field(std::string_view loop, std::size_t item, std::string_view name) const;
};

enum class TreLookup { kFound, kAbsent, kMalformed };

// The first TRE called `tag` in the image's IXSHD, else in its UDID, decoded.
// kMalformed when its bytes do not fit the description, when the walk reaches a TRE of
// that tag whose CEL runs past the area, or when a CEL is not a number (the walk cannot
// go on past it).
TreLookup find_tre(const NitfImageSubheader& image, const char* tag, TreFields* out);

}  // namespace nitf::geo
