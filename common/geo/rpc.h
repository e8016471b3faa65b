// The rational polynomial camera model of RPC00B (and of the older RPC00A, whose terms
// come in another order): ground (latitude, longitude, height above the ellipsoid) to
// image (row, column), and back at a given height by Newton's iteration.
//
// Rows and columns are the model's: 0 is the centre of the first pixel.
#pragma once

#include "geo/tre_fields.h"

namespace nitf {
struct NitfImageSubheader;
}

namespace nitf::geo {

struct RpcModel {
  double line_offset = 0, sample_offset = 0, latitude_offset = 0, longitude_offset = 0,
         height_offset = 0;
  double line_scale = 1, sample_scale = 1, latitude_scale = 1, longitude_scale = 1,
         height_scale = 1;
  // In RPC00B's term order: 1 L P H LP LH PH L² P² H² PLH L³ LP² LH² L²P P³ PH² L²H P²H H³.
  double line_numerator[20] = {}, line_denominator[20] = {};
  double sample_numerator[20] = {}, sample_denominator[20] = {};
};

// The model of one decoded RPC TRE (`older` for RPC00A). RET_FILE_FORMAT when a field
// is not a number or a scale is 0.
int parse_rpc(const TreFields& tre, bool older, RpcModel* out);

// The image's RPC00B, else its RPC00A. RET_MISSING_DATA without either.
int image_rpc(const NitfImageSubheader& image, RpcModel* out);

// RET_FILE_FORMAT when a denominator vanishes at the point.
int ground_to_image(const RpcModel& model, double latitude, double longitude, double height,
                    double* row, double* column);

// The ground point at `height` that projects to (row, column). RET_FAILURE when the
// iteration does not settle (the point lies where the model folds or beyond its reach).
int image_to_ground(const RpcModel& model, double row, double column, double height,
                    double* latitude, double* longitude);

}  // namespace nitf::geo
