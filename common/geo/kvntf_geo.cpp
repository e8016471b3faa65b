// The georeferencing exports (include/kvntfu_geo.h): codes at the edge over the corner
// and RPC units, which do not know about documents or public records.
#include <cmath>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "geo/corners.h"
#include "geo/rpc.h"
#include "image/imsubhdr.h"

namespace {

int find(NitfDocument* document, uint32_t index, nitf::NitfImageSubheader** out) {
  if (!document) return RET_INVALID_DOCUMENT;
  *out = nitf::find_image_subheader(document, index);
  return *out ? RET_SUCCESS : RET_BAD_ARGUMENT;
}

int model(NitfDocument* document, uint32_t index, nitf::geo::RpcModel* out) {
  nitf::NitfImageSubheader* s;
  if (int x = find(document, index, &s); x != RET_SUCCESS) return x;
  return nitf::geo::image_rpc(*s, out);
}

bool finite(double a, double b, double c) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c);
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFGetImageCorners(NitfDocument* document, uint32_t index,
                                              NitfImageCorners* corners) {
  nitf::NitfImageSubheader* s;
  if (int x = find(document, index, &s); x != RET_SUCCESS) return x;
  if (!corners) return RET_INVALID_PARAMETER;
  nitf::geo::Corners c;
  if (int x = nitf::geo::image_corners(*s, document->header.nitf20 != 0, &c); x != RET_SUCCESS)
    return x;
  for (int i = 0; i < 4; ++i) {
    corners->LATITUDE[i] = c.point[i].latitude;
    corners->LONGITUDE[i] = c.point[i].longitude;
  }
  corners->SOURCE = static_cast<uint32_t>(c.source);
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL Kv_NITFHasRpc(NitfDocument* document, uint32_t index) {
  nitf::geo::RpcModel m;
  return model(document, index, &m);
}

KV_API int32_t KV_CALL Kv_NITFGroundToImage(NitfDocument* document, uint32_t index, double latitude,
                                            double longitude, double height, double* row,
                                            double* column) {
  nitf::geo::RpcModel m;
  if (int x = model(document, index, &m); x != RET_SUCCESS) return x;
  if (!row || !column || !finite(latitude, longitude, height)) return RET_INVALID_PARAMETER;
  return nitf::geo::ground_to_image(m, latitude, longitude, height, row, column);
}

KV_API int32_t KV_CALL Kv_NITFImageToGround(NitfDocument* document, uint32_t index, double row,
                                            double column, double height, double* latitude,
                                            double* longitude) {
  nitf::geo::RpcModel m;
  if (int x = model(document, index, &m); x != RET_SUCCESS) return x;
  if (!latitude || !longitude || !finite(row, column, height)) return RET_INVALID_PARAMETER;
  return nitf::geo::image_to_ground(m, row, column, height, latitude, longitude);
}
