// Where an image lies: the latitude and longitude of its four corner pixels' centres,
// from IGEOLO in whichever coordinates ICORDS names, or from BLOCKA or GEOLOB when the
// image carries them (they hold the corners more precisely than IGEOLO's seconds).
//
// Called by the exports of kvntf_geo and by the tests; reads only the subheader record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nitf {
struct NitfImageSubheader;
}

namespace nitf::geo {

struct GroundPoint {
  double latitude = 0, longitude = 0;
};

enum class CornerSource : std::int32_t { kIgeolo = 1, kBlocka = 2, kGeolob = 3 };

// In IGEOLO's order: first row first column, first row last column, last row last
// column, last row first column.
struct Corners {
  GroundPoint point[4];
  CornerSource source = CornerSource::kIgeolo;
};

// IGEOLO's 60 characters in the coordinates `icords` names. NITF 2.0 (`nitf20`) reads
// U as MGRS too and C as geographic with geocentric latitudes. RET_MISSING_DATA when
// ICORDS says the image is not located, RET_FILE_FORMAT when a corner cannot be read.
int decode_igeolo(char icords, const char* igeolo, std::size_t length, bool nitf20, Corners* out);

// The image's corners: IGEOLO, replaced by GEOLOB's grid (geographic ICORDS only) or
// else by BLOCKA's four locations when BLOCKA describes the whole image. A BLOCKA or
// GEOLOB that cannot be read leaves IGEOLO's corners.
int image_corners(const NitfImageSubheader& image, bool nitf20, Corners* out);

}  // namespace nitf::geo
