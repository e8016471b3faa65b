// IGEOLO in each of its forms, and the TREs that refine it; see corners.h.
//
// UTM and MGRS go through GeographicLib (WGS 84). The refinements follow what users of
// the open-source readers already see: GEOLOB's grid wins for geographic images, then a
// BLOCKA whose L_LINES equals the image's rows, both placing values at pixel centres.
#include "geo/corners.h"

#include <GeographicLib/MGRS.hpp>
#include <GeographicLib/UTMUPS.hpp>

#include <cmath>
#include <exception>
#include <string>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "geo/tre_fields.h"
#include "image/imsubhdr.h"

namespace nitf::geo {

namespace {

constexpr std::size_t kCornerWidth = 15;

// Digits only, exactly `width` of them.
bool digits(const char* text, std::size_t width, double* value) {
  double v = 0;
  for (std::size_t i = 0; i < width; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

// ddmmss[NS] or dddmmss[EW]: degrees of `degree_width` digits.
bool dms(const char* text, std::size_t degree_width, char positive, char negative, double limit,
         double* value) {
  double d, m, s;
  if (!digits(text, degree_width, &d) || !digits(text + degree_width, 2, &m) ||
      !digits(text + degree_width + 2, 2, &s) || m >= 60 || s >= 60)
    return false;
  const char hemisphere = text[degree_width + 4];
  if (hemisphere != positive && hemisphere != negative) return false;
  const double v = d + m / 60 + s / 3600;
  if (v > limit) return false;
  *value = hemisphere == negative ? -v : v;
  return true;
}

// Signed decimal degrees of a fixed width ("+dd.ddd" or "+ddd.ddd").
bool decimal(const char* text, std::size_t width, double limit, double* value) {
  TreBytes field{{reinterpret_cast<const std::uint8_t*>(text), width}};
  if (text[0] != '+' && text[0] != '-') return false;
  return field.number(0, width, value) && std::fabs(*value) <= limit;
}

// Latitude whose tangent is that of a geocentric latitude divided by 1 - e² of WGS 84.
double geodetic_from_geocentric(double degrees) {
  constexpr double kE2 = 0.00669437999014;
  constexpr double kRad = 3.14159265358979323846 / 180;
  if (std::fabs(degrees) >= 90) return degrees;
  return std::atan(std::tan(degrees * kRad) / (1 - kE2)) / kRad;
}

bool utm(const char* text, bool north, GroundPoint* out) {
  double zone, easting, northing;
  if (!digits(text, 2, &zone) || !digits(text + 2, 6, &easting) ||
      !digits(text + 8, 7, &northing) || zone < 1 || zone > 60)
    return false;
  try {
    GeographicLib::UTMUPS::Reverse(static_cast<int>(zone), north, easting, northing, out->latitude,
                                   out->longitude, /*mgrslimits=*/false);
  } catch (const std::exception&) {
    return false;
  }
  return std::isfinite(out->latitude) && std::isfinite(out->longitude);
}

// zzBJKeeeeennnnn: the south-west corner of the 1 m square, as the peers read it.
bool mgrs(const char* text, GroundPoint* out) {
  for (std::size_t i = 0; i < kCornerWidth; ++i)
    if (text[i] == ' ' || text[i] == '\0') return false;
  try {
    int zone, precision;
    bool north;
    double x, y;
    GeographicLib::MGRS::Reverse(std::string(text, kCornerWidth), zone, north, x, y, precision,
                                 /*centerp=*/false);
    if (zone == GeographicLib::UTMUPS::INVALID) return false;
    GeographicLib::UTMUPS::Reverse(zone, north, x, y, out->latitude, out->longitude);
  } catch (const std::exception&) {
    return false;
  }
  return std::isfinite(out->latitude) && std::isfinite(out->longitude);
}

bool corner(char icords, bool nitf20, const char* text, GroundPoint* out) {
  switch (icords) {
    case 'G':
    case 'C':
      if (icords == 'C' && !nitf20) return false;
      // GDAL writes decimal degrees under G when it also writes BLOCKA.
      if (icords == 'G' && (text[0] == '+' || text[0] == '-'))
        return decimal(text, 7, 90, &out->latitude) && decimal(text + 7, 8, 180, &out->longitude);
      if (!dms(text, 2, 'N', 'S', 90, &out->latitude) ||
          !dms(text + 7, 3, 'E', 'W', 180, &out->longitude))
        return false;
      if (icords == 'C') out->latitude = geodetic_from_geocentric(out->latitude);
      return true;
    case 'D':
      return !nitf20 && decimal(text, 7, 90, &out->latitude) &&
             decimal(text + 7, 8, 180, &out->longitude);
    case 'N':
    case 'S':
      return !nitf20 && utm(text, icords == 'N', out);
    case 'U':
      return mgrs(text, out);
    default:
      return false;
  }
}

// One BLOCKA location: "±dd.dddddd±ddd.dddddd" or "ddmmss.ssXdddmmss.ssY".
bool blocka_location(const TreBytes& t, GroundPoint* out) {
  if (t.data.size() < 21) return false;
  const auto* c = t.data.data();
  if (c[0] == '+' || c[0] == '-')
    return t.number(0, 10, &out->latitude) && t.number(10, 11, &out->longitude) &&
           std::fabs(out->latitude) <= 90 && std::fabs(out->longitude) <= 180;
  const auto part = [&](std::size_t from, std::size_t degree_width, char negative, char positive,
                        double* value) {
    double d, m, s;
    if (!t.number(from, degree_width, &d) || !t.number(from + degree_width, 2, &m) ||
        !t.number(from + degree_width + 2, 5, &s))
      return false;
    const char h = static_cast<char>(c[from + degree_width + 7]);
    if (h != negative && h != positive) return false;
    *value = (d + m / 60 + s / 3600) * (h == negative ? -1 : 1);
    return true;
  };
  return part(0, 2, 'S', 'N', &out->latitude) && part(10, 3, 'W', 'E', &out->longitude);
}

// BLOCKA: the image's corners when its L_LINES is the image's NROWS.
bool from_blocka(const NitfImageSubheader& image, Corners* out) {
  TreFields t;
  double lines;
  if (find_tre(image, "BLOCKA", &t) != TreLookup::kFound || !t.field("L_LINES").number(&lines) ||
      lines != image.rows)
    return false;
  Corners c;
  // IGEOLO's order from BLOCKA's.
  constexpr const char* kCorners[4] = {"FRFC_LOC", "FRLC_LOC", "LRLC_LOC", "LRFC_LOC"};
  for (int i = 0; i < 4; ++i)
    if (!blocka_location(t.field(kCorners[i]), &c.point[i])) return false;
  c.source = CornerSource::kBlocka;
  *out = c;
  return true;
}

// GEOLOB: ARV and BRV, pixels per 360 degrees; LSO and PSO, the first pixel's outer
// corner.
bool from_geolob(const NitfImageSubheader& image, Corners* out) {
  TreFields t;
  double arv, brv, lso, pso;
  if (find_tre(image, "GEOLOB", &t) != TreLookup::kFound || !t.field("ARV").number(&arv) ||
      !t.field("BRV").number(&brv) || !t.field("LSO").number(&lso) ||
      !t.field("PSO").number(&pso) || arv <= 0 || brv <= 0)
    return false;
  const double dx = 360 / arv, dy = 360 / brv;
  const double first_column = lso + 0.5 * dx, last_column = lso + (image.columns - 0.5) * dx;
  const double first_row = pso - 0.5 * dy, last_row = pso - (image.rows - 0.5) * dy;
  out->point[0] = {first_row, first_column};
  out->point[1] = {first_row, last_column};
  out->point[2] = {last_row, last_column};
  out->point[3] = {last_row, first_column};
  out->source = CornerSource::kGeolob;
  return true;
}

}  // namespace

int decode_igeolo(char icords, const char* igeolo, std::size_t length, bool nitf20, Corners* out) {
  if (icords == ' ' || icords == '\0' || (nitf20 && icords == 'N')) return RET_MISSING_DATA;
  if (length < 4 * kCornerWidth) return RET_FILE_FORMAT;
  Corners c;
  for (int i = 0; i < 4; ++i)
    if (!corner(icords, nitf20, igeolo + i * kCornerWidth, &c.point[i])) return RET_FILE_FORMAT;
  *out = c;
  return RET_SUCCESS;
}

int image_corners(const NitfImageSubheader& image, bool nitf20, Corners* out) {
  const char icords = image.icords[0];
  const int x = decode_igeolo(icords, image.igeolo, std::char_traits<char>::length(image.igeolo),
                              nitf20, out);
  if (x != RET_SUCCESS) return x;
  if ((icords == 'G' || icords == 'D') && from_geolob(image, out)) return RET_SUCCESS;
  from_blocka(image, out);
  return RET_SUCCESS;
}

}  // namespace nitf::geo
