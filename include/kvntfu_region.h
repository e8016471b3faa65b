/*
 * Kvntfu raw samples: an image's samples as the file stores them, for a window, at a
 * reduction, for chosen bands, into the caller's buffer.
 *
 * Samples keep their stored type: unsigned, signed (two's complement, sign-extended from
 * NBPP bits) or IEEE float, each in the smallest of 1, 2, 4 or 8 bytes that holds NBPP
 * bits, in the machine's byte order; 1-bit samples are bytes of 0 or 1 and 12-bit ones
 * 16-bit words. A complex sample is its two 32-bit floats, real part first. Significant
 * bits (ABPP) are not widened and no colour table is applied. JPEG streams give their
 * decoded samples (YCbCr converted to RGB by the decoder, as the composition shows them).
 * Included by kvntfu.h.
 */
#ifndef KVNTFU_REGION_H
#define KVNTFU_REGION_H

/* Sample kinds of KvImageInfo. */
#define KV_SAMPLE_UNSIGNED 0u
#define KV_SAMPLE_SIGNED 1u
#define KV_SAMPLE_FLOAT 2u
#define KV_SAMPLE_COMPLEX 3u

/* Buffer layouts of KvSampleRequest. */
#define KV_SAMPLES_BY_PIXEL 0u /* band-interleaved by pixel: each row holds every band */
#define KV_SAMPLES_BY_BAND 1u  /* band sequential: one picture per band, one after another */

/* What an image's samples are. */
typedef struct KvImageInfo {
  uint32_t rows;            /* NROWS */
  uint32_t columns;         /* NCOLS */
  uint32_t bands;           /* NBANDS, or XBANDS */
  uint32_t bits_per_sample; /* NBPP */
  uint32_t sample_bytes;    /* 1, 2, 4 or 8: one sample in the buffer */
  uint32_t sample_kind;     /* KV_SAMPLE_* */
} KvImageInfo;

/* A window of rows and columns of the image, taken every `reduction` samples
 * (1, 2, 4, ...): output sample (r, c) is the stored sample at row
 * first_row + r * reduction and column first_column + c * reduction, and the output has
 * ceil(rows / reduction) rows and ceil(columns / reduction) columns. JPEG 2000 data are
 * instead decoded at the resolution level the reduction names, as the codec reduces them
 * (the window's area only). `bands` lists band_count band indices (from 0; repeats
 * allowed), in the order they are written. */
typedef struct KvSampleRequest {
  uint32_t first_row;
  uint32_t first_column;
  uint32_t rows;
  uint32_t columns;
  uint32_t reduction;
  const uint32_t* bands;
  uint32_t band_count;
  uint32_t layout; /* KV_SAMPLES_* */
} KvSampleRequest;

/* What image `index` holds. RET_INVALID_DOCUMENT without a document, RET_INVALID_PARAMETER
 * without a record or for an index not below the image count, RET_NOT_SUPPORTED for a
 * sample type without a raw form. */
KV_API int32_t KV_CALL Kv_NITFGetImageInfo(NitfDocument* document, uint32_t index,
                                           KvImageInfo* info);

/* Reads the request's samples of image `index` into `buffer` of `size` bytes, each output
 * row `stride` bytes from the previous (each band's picture rows x stride bytes from the
 * previous with KV_SAMPLES_BY_BAND). Only the blocks that meet the window are read.
 * RET_INVALID_PARAMETER, with nothing written, for a window outside the image or empty,
 * a reduction that is not a power of two or is larger than the image, no bands or a band
 * index not below the band count, a layout code outside KV_SAMPLES_*, a stride too short
 * for a row or a buffer too small for the output. RET_INVALID_DOCUMENT without a
 * document; RET_NOT_SUPPORTED for a compression without a reader; otherwise the reader's
 * code (RET_FILE_FORMAT, RET_FILE_READ, RET_NO_MEMORY, RET_BAD_BLOCK_STREAM), with
 * the buffer partly written. Samples of blocks the file leaves out are 0. */
KV_API int32_t KV_CALL Kv_NITFReadSamples(NitfDocument* document, uint32_t index,
                                          const KvSampleRequest* request, void* buffer,
                                          size_t size, size_t stride);

/* Composes a window of the canvas, region = {left column, top row, width, height} in
 * canvas pixels, into `bitmap` as a new 24-bit bitmap of width x height (released with the
 * host's bitmap free, as Kv_NtfRenderBitmap's): every image, graphic, symbol and label that
 * meets the window, by display level, images stretched by nearest pixel and drawings
 * painted at the output's scale. At the window's own size the pixels equal the same window
 * of Kv_NtfRenderBitmap's canvas. RET_INVALID_PARAMETER without a bitmap or region, for a
 * window not inside the canvas or empty, or a size below 1; RET_INVALID_DOCUMENT without a
 * document; otherwise the composition's codes. */
KV_API int32_t KV_CALL Kv_NtfRenderRegion(KvBitmap* bitmap, NitfDocument* document,
                                          const int32_t* region, int32_t width, int32_t height);

#endif /* KVNTFU_REGION_H */
