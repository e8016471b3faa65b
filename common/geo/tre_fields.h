// The few fixed-width fields the georeferencing needs, read straight from the bytes of an
// image's extension areas (IXSHD, then UDID).
//
// Every read is checked against the TRE's own length and the area's end, so a TRE cut
// short or a length that runs past the area yields "absent" or "malformed", never a read
// outside the bytes. Numbers are taken from their own characters only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace nitf {
struct NitfImageSubheader;
}

namespace nitf::geo {

// The data of one TRE (after its tag and CEL), bounded by its length.
struct TreBytes {
  std::span<const std::uint8_t> data;

  // The field's characters as a number; false when the field lies outside the TRE, is
  // blank or holds anything but an optional sign, digits, one point and an exponent.
  bool number(std::size_t offset, std::size_t width, double* value) const;
  // True when the field lies inside the TRE and holds nothing but spaces.
  bool blank(std::size_t offset, std::size_t width) const;
};

enum class TreLookup { kFound, kAbsent, kMalformed };

// The first TRE called `tag` in the image's IXSHD, else in its UDID. kMalformed when the
// walk reaches a TRE of that tag whose CEL runs past the area or when a CEL is not
// a number (the walk cannot go on past it).
TreLookup find_tre(const NitfImageSubheader& image, const char* tag, TreBytes* out);

// The same walk over one area's bytes.
TreLookup find_tre(std::span<const std::uint8_t> area, const char* tag, TreBytes* out);

}  // namespace nitf::geo
