// Reading and evaluating RPC00A/B; see rpc.h.
//
// The inverse starts at the model's ground offset and takes Newton steps with a
// Jacobian from central differences in normalised units, where every coordinate is of
// order 1; it stops when a step moves the point by less than 1e-11 degree.
#include "geo/rpc.h"

#include <cmath>
#include <utility>

#include <kvntfu.h>

#include "image/imsubhdr.h"

namespace nitf::geo {

namespace {

// Where RPC00B's terms stand in RPC00A, whose order is 1 L P H LP LH PH LPH L² P² H²
// L³ L²P L²H LP² P³ P²H LH² PH² H³.
constexpr int kFromOlder[20] = {0, 1,  2,  3,  4,  5,  6,  8,  9,  10,
                                7, 11, 14, 17, 12, 15, 18, 13, 16, 19};

double polynomial(const double* c, double l, double p, double h) {
  const double terms[20] = {1,         l,         p,         h,         l * p,
                            l * h,     p * h,     l * l,     p * p,     h * h,
                            p * l * h, l * l * l, l * p * p, l * h * h, l * l * p,
                            p * p * p, p * h * h, l * l * h, p * p * h, h * h * h};
  double sum = 0;
  for (int i = 0; i < 20; ++i) sum += c[i] * terms[i];
  return sum;
}

// Normalised line and sample of a normalised ground point.
bool normalised_image(const RpcModel& m, double p, double l, double h, double* line,
                      double* sample) {
  const double line_den = polynomial(m.line_denominator, l, p, h);
  const double sample_den = polynomial(m.sample_denominator, l, p, h);
  if (line_den == 0 || sample_den == 0) return false;
  *line = polynomial(m.line_numerator, l, p, h) / line_den;
  *sample = polynomial(m.sample_numerator, l, p, h) / sample_den;
  return std::isfinite(*line) && std::isfinite(*sample);
}

}  // namespace

int parse_rpc(const TreFields& tre, bool older, RpcModel* out) {
  RpcModel m;
  const std::pair<const char*, double*> scalars[10] = {
      {"LINE_OFF", &m.line_offset},       {"SAMP_OFF", &m.sample_offset},
      {"LAT_OFF", &m.latitude_offset},    {"LONG_OFF", &m.longitude_offset},
      {"HEIGHT_OFF", &m.height_offset},   {"LINE_SCALE", &m.line_scale},
      {"SAMP_SCALE", &m.sample_scale},    {"LAT_SCALE", &m.latitude_scale},
      {"LONG_SCALE", &m.longitude_scale}, {"HEIGHT_SCALE", &m.height_scale}};
  for (const auto& [name, value] : scalars)
    if (!tre.field(name).number(value)) return RET_FILE_FORMAT;
  if (m.line_scale == 0 || m.sample_scale == 0 || m.latitude_scale == 0 || m.longitude_scale == 0 ||
      m.height_scale == 0)
    return RET_FILE_FORMAT;
  const std::pair<const char*, double*> sets[4] = {{"LINE_NUM_COEFF", m.line_numerator},
                                                   {"LINE_DEN_COEFF", m.line_denominator},
                                                   {"SAMP_NUM_COEFF", m.sample_numerator},
                                                   {"SAMP_DEN_COEFF", m.sample_denominator}};
  for (const auto& [name, set] : sets)
    for (int i = 0; i < 20; ++i) {
      const std::size_t stored = static_cast<std::size_t>(older ? kFromOlder[i] : i);
      if (!tre.field(name, stored, name).number(&set[i])) return RET_FILE_FORMAT;
    }
  *out = m;
  return RET_SUCCESS;
}

int image_rpc(const NitfImageSubheader& image, RpcModel* out) {
  TreFields tre;
  for (const bool older : {false, true}) {
    switch (find_tre(image, older ? "RPC00A" : "RPC00B", &tre)) {
      case TreLookup::kFound:
        return parse_rpc(tre, older, out);
      case TreLookup::kMalformed:
        return RET_FILE_FORMAT;
      case TreLookup::kAbsent:
        break;
    }
  }
  return RET_MISSING_DATA;
}

int ground_to_image(const RpcModel& m, double latitude, double longitude, double height,
                    double* row, double* column) {
  double line, sample;
  if (!normalised_image(m, (latitude - m.latitude_offset) / m.latitude_scale,
                        (longitude - m.longitude_offset) / m.longitude_scale,
                        (height - m.height_offset) / m.height_scale, &line, &sample))
    return RET_FILE_FORMAT;
  *row = line * m.line_scale + m.line_offset;
  *column = sample * m.sample_scale + m.sample_offset;
  return RET_SUCCESS;
}

int image_to_ground(const RpcModel& m, double row, double column, double height, double* latitude,
                    double* longitude) {
  const double line = (row - m.line_offset) / m.line_scale;
  const double sample = (column - m.sample_offset) / m.sample_scale;
  const double h = (height - m.height_offset) / m.height_scale;
  double p = 0, l = 0;
  constexpr double kStep = 1e-7;
  for (int iteration = 0; iteration < 60; ++iteration) {
    double f_line, f_sample, lp_line, lp_sample, lm_line, lm_sample, pp_line, pp_sample, pm_line,
        pm_sample;
    if (!normalised_image(m, p, l, h, &f_line, &f_sample) ||
        !normalised_image(m, p, l + kStep, h, &lp_line, &lp_sample) ||
        !normalised_image(m, p, l - kStep, h, &lm_line, &lm_sample) ||
        !normalised_image(m, p + kStep, l, h, &pp_line, &pp_sample) ||
        !normalised_image(m, p - kStep, l, h, &pm_line, &pm_sample))
      return RET_FAILURE;
    // Jacobian of (line, sample) over (p, l).
    const double a = (pp_line - pm_line) / (2 * kStep), b = (lp_line - lm_line) / (2 * kStep);
    const double c = (pp_sample - pm_sample) / (2 * kStep);
    const double d = (lp_sample - lm_sample) / (2 * kStep);
    const double determinant = a * d - b * c;
    if (determinant == 0 || !std::isfinite(determinant)) return RET_FAILURE;
    const double e_line = line - f_line, e_sample = sample - f_sample;
    const double dp = (d * e_line - b * e_sample) / determinant;
    const double dl = (a * e_sample - c * e_line) / determinant;
    p += dp;
    l += dl;
    if (!std::isfinite(p) || !std::isfinite(l) || std::fabs(p) > 1e3 || std::fabs(l) > 1e3)
      return RET_FAILURE;
    if (std::fabs(dp * m.latitude_scale) < 1e-11 && std::fabs(dl * m.longitude_scale) < 1e-11) {
      *latitude = p * m.latitude_scale + m.latitude_offset;
      *longitude = l * m.longitude_scale + m.longitude_offset;
      return RET_SUCCESS;
    }
  }
  return RET_FAILURE;
}

}  // namespace nitf::geo
