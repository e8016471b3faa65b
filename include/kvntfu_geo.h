/*
 * Kvntfu georeferencing: where image n lies on Earth, and its RPC camera model.
 *
 * Corners are the centres of the image's four corner pixels in degrees (WGS 84),
 * taken from IGEOLO in the coordinates ICORDS names (geographic, decimal, UTM north or
 * south, MGRS; NITF 2.0 geographic, geocentric and MGRS), or from the GEOLOB or BLOCKA
 * extension when the image carries one. Rows and columns of the projections are the
 * RPC model's: 0 is the centre of the first pixel. Heights are metres above the
 * ellipsoid. Included by kvntfu.h; not meant to be included on its own.
 */
#ifndef KVNTFU_GEO_H
#define KVNTFU_GEO_H

#pragma pack(push, 1)

/* Where the corners came from. */
#define KV_NITF_CORNERS_IGEOLO 1u
#define KV_NITF_CORNERS_BLOCKA 2u
#define KV_NITF_CORNERS_GEOLOB 3u

/* The corners in IGEOLO's order: first row first column, first row last column, last
 * row last column, last row first column. */
typedef struct NitfImageCorners {
  double LATITUDE[4];
  double LONGITUDE[4];
  uint32_t SOURCE; /* KV_NITF_CORNERS_* */
} NitfImageCorners;

#pragma pack(pop)

/* Corners of image `index`. RET_INVALID_DOCUMENT without a document,
 * RET_INVALID_PARAMETER without a record, RET_BAD_ARGUMENT for an index not below the
 * image count, RET_MISSING_DATA when the image is not located (ICORDS blank, or N in
 * NITF 2.0), RET_FILE_FORMAT when IGEOLO cannot be read. */
KV_API int32_t KV_CALL Kv_NITFGetImageCorners(NitfDocument* document, uint32_t index,
                                              NitfImageCorners* corners);

/* RET_SUCCESS when image `index` carries a readable RPC00B or RPC00A, RET_MISSING_DATA
 * when it carries neither, RET_FILE_FORMAT when the one it carries is malformed (short,
 * a field not a number, a zero scale); the other codes as above. */
KV_API int32_t KV_CALL Kv_NITFHasRpc(NitfDocument* document, uint32_t index);

/* Ground to image through the RPC: the codes of Kv_NITFHasRpc, RET_INVALID_PARAMETER
 * without somewhere to write, RET_FILE_FORMAT when a denominator vanishes there. */
KV_API int32_t KV_CALL Kv_NITFGroundToImage(NitfDocument* document, uint32_t index, double latitude,
                                            double longitude, double height, double* row,
                                            double* column);

/* Image to ground at `height`, by iteration: the codes of Kv_NITFGroundToImage, and
 * RET_FAILURE when the iteration does not settle. */
KV_API int32_t KV_CALL Kv_NITFImageToGround(NitfDocument* document, uint32_t index, double row,
                                            double column, double height, double* latitude,
                                            double* longitude);

#endif
