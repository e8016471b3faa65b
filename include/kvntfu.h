/*
 * Kvntfu: NITF 2.1 / NSIF file-format module.
 *
 * The public C interface: return codes, the document handle and the document API.
 * Every export returns a 32-bit integer, RET_SUCCESS (1) on success. Strings and
 * tables handed out in public records belong to the caller until the matching free
 * export releases them. A document is used by one thread at a time.
 */
#ifndef KVNTFU_H
#define KVNTFU_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#if defined(_WIN32)
#define KV_CALL __stdcall
#define KV_VISIBLE __declspec(dllexport)
#else
#define KV_CALL
#define KV_VISIBLE __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define KV_API extern "C" KV_VISIBLE
#else
#define KV_API extern KV_VISIBLE
#endif

/* Return codes. A failure of one of the host libraries is passed on with its own value. */
enum {
  RET_SUCCESS = 1,
  RET_FAILURE = 0,
  RET_NO_MEMORY = -1,
  RET_INVALID_BITMAP = -2,
  RET_FILE_WRITE = -5,
  RET_FILE_READ = -7,
  RET_FILE_FORMAT = -9,
  RET_FILE_NOT_FOUND = -10,
  RET_INVALID_PARAMETER = -13,
  RET_FILE_OPEN = -14,
  RET_NOT_SUPPORTED = -16,
  RET_INVALID_QUALITY = -21,
  RET_INVALID_BITS_PER_PIXEL = -27,
  RET_UNSUPPORTED_VERSION = -78,
  RET_INVALID_DOCUMENT = -261,
  RET_EMPTY_VECTOR = -501,
  RET_MISSING_DATA = -814,
  RET_UNSUPPORTED_PVTYPE = -700000,
  RET_UNSUPPORTED_CLEVEL = -700001,
  RET_UNSUPPORTED_BPP = -700002,
  RET_BAD_BLOCK_STREAM = -700003,
  RET_BAD_ARGUMENT = 87
};

/* Status bits of Kv_NITFGetStatus. */
enum {
  KV_NITF_STATUS_EMPTY = 1,         /* no image, graphic or text segment */
  KV_NITF_STATUS_HEADER_PRESENT = 2 /* the document holds a valid file header */
};

/* One NITF file in memory; opaque to applications. */
typedef struct NitfDocument NitfDocument;

/* Lifecycle. `name` may be null: an empty document to fill and save. */
KV_API int32_t KV_CALL Kv_NITFCreate(NitfDocument** handle, const wchar_t* name);
KV_API int32_t KV_CALL Kv_NITFCreateA(NitfDocument** handle, const char* name);

/* Options of Kv_NITFCreateEx. */
#define KV_NITF_EXTENDED 0x1u /* extended reading: complexity levels 01 to 09 */

/* Kv_NITFCreate with options: 0 behaves exactly as Kv_NITFCreate; KV_NITF_EXTENDED reads
 * files beyond what Kv_NITFCreate takes (see docs/architecture.md, "Extended reading").
 * Unknown option bits give RET_INVALID_PARAMETER. */
KV_API int32_t KV_CALL Kv_NITFCreateEx(NitfDocument** handle, const wchar_t* name,
                                       uint32_t options);
KV_API int32_t KV_CALL Kv_NITFCreateExA(NitfDocument** handle, const char* name, uint32_t options);
KV_API int32_t KV_CALL Kv_NITFDestroy(NitfDocument** handle);
KV_API int32_t KV_CALL Kv_NITFGetStatus(NitfDocument* document);

/* Saves the document as a NITF file named `name`. The file is written in the target's
 * folder (as an unnamed file where the file system allows, so that a process killed
 * while saving leaves nothing behind) and replaces the target only once complete: on
 * failure the target is as it was and nothing of it is left half written. Durable: the
 * new file is synced to the disk (fsync) before it takes the target's name, and the
 * folder after, so a power cut once the call returned RET_SUCCESS keeps the new file.
 * When only that last sync of the folder fails, the result is RET_FILE_WRITE with the
 * new file already in place. Saving onto the document's own file works; the
 * document stays open and usable. RET_INVALID_DOCUMENT without a document,
 * RET_FILE_WRITE when the file cannot be created or written, RET_FILE_READ when the
 * source no longer holds a segment's data, RET_FILE_FORMAT for records that cannot be
 * written, RET_INVALID_PARAMETER for a length wider than its field. */
KV_API int32_t KV_CALL Kv_NITFSaveFile(NitfDocument* document, const wchar_t* name);
KV_API int32_t KV_CALL Kv_NITFSaveFileA(NitfDocument* document, const char* name);

/* Numbers of segments present; 0 for no document. */
KV_API int32_t KV_CALL Kv_NITFGetImageHeaderCount(NitfDocument* document);
KV_API int32_t KV_CALL Kv_NITFGetGraphicHeaderCount(NitfDocument* document);
KV_API int32_t KV_CALL Kv_NITFGetTextHeaderCount(NitfDocument* document);

/* The drawing of graphic `index`, loaded from its segment: a handle of the host's
 * vector library, valid until the graphic is drawn again or the document destroyed.
 * Null without a document, for an index not below the graphic count, or when the
 * graphic cannot be loaded. */
KV_API void* KV_CALL Kv_NITFGetVectorHandle(NitfDocument* document, int32_t index);

/* The toolkit's load hook. */
KV_API int32_t KV_CALL KAVO_Load(void);

#include "kvntfu_bitmap.h"
#include "kvntfu_fields.h"
#include "kvntfu_filter.h"
#include "kvntfu_geo.h"
#include "kvntfu_graphic_text.h"
#include "kvntfu_image.h"
#include "kvntfu_records.h"
#include "kvntfu_region.h"
#include "kvntfu_tre.h"

/* Appending (kept in memory until the next save; a failed append leaves the document as
 * it was). An image from a bitmap, JPEG-compressed as one block: format 10 (YCbCr601)
 * or 182 (RGB), 8 (MONO) or 24 bits per pixel, quality 2 to 255. A graphic from a
 * vector drawing (a handle of Kv_NITFGetVectorHandle's kind) with a rectangle of four
 * values (left, top, right, bottom) that becomes the drawing's viewport; SBND1 and
 * SBND2 give the rows and columns its ink covers. Kv_NITFSetVectorHandle replaces the
 * drawing of graphic `index`. A text segment holding a file's bytes (at most 99999). */
KV_API int32_t KV_CALL Kv_NITFAppendImageSegment(NitfDocument* document, KvBitmap* bitmap,
                                                 int32_t format, int32_t bits_per_pixel,
                                                 int32_t quality);
KV_API int32_t KV_CALL Kv_NITFAppendGraphicSegment(NitfDocument* document, void* vector,
                                                   const int32_t* rectangle);
KV_API int32_t KV_CALL Kv_NITFSetVectorHandle(NitfDocument* document, int32_t index, void* vector);
KV_API int32_t KV_CALL Kv_NITFAppendTextSegment(NitfDocument* document, const wchar_t* name);
KV_API int32_t KV_CALL Kv_NITFAppendTextSegmentA(NitfDocument* document, const char* name);

#endif /* KVNTFU_H */
