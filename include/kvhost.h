/*
 * Kvntfu host services: what an application needs from the host library beside the
 * module's own exports. The decoders fltLoad takes, bitmap records, drawings loaded from
 * CGM for appending graphics, and where the module's message boxes and debug lines go.
 * Link libKvhost (pkg-config kvntfu gives both libraries).
 */
#ifndef KVHOST_H
#define KVHOST_H

#include "kvntfu.h"

/* The decoders to hand to fltLoad in FltLoadRequest::load_from_memory and
 * ::set_raw_callback. */
KV_API int32_t KV_CALL KvHost_LoadFromMemory(const void* buffer, KvBitmap* bitmap,
                                             uint32_t record_size, int32_t bits_per_pixel,
                                             int32_t colour_order, uint32_t byte_count,
                                             FltLoadOptions* options);
KV_API FltRawDataCallback KV_CALL KvHost_SetRawDataCallback(FltRawDataCallback callback,
                                                            void* user_data);

/* Colour order for KvHost_LoadFromMemory: the layout the stream decodes to (8-bit grey,
 * 24-bit blue, green, red). */
#define KV_COLOUR_AS_DECODED 4

/* A bitmap of width x height at 8 (grey) or 24 bits (blue, green, red), top row first,
 * zeroed; rows are bytes_per_line apart from `data`. Releases what the record held.
 * RET_INVALID_PARAMETER for another depth or a size below 1, RET_NO_MEMORY. */
KV_API int32_t KV_CALL KvHost_CreateBitmap(KvBitmap* bitmap, int32_t width, int32_t height,
                                           int32_t bits_per_pixel);
/* Releases the pixels and palette of a bitmap the host or the module filled (a picture
 * of KvHost_CreateBitmap or KvHost_LoadFromMemory, the canvas of Kv_NtfRenderBitmap);
 * the record is zeroed and may be filled again. RET_BAD_ARGUMENT without a record. */
KV_API int32_t KV_CALL KvHost_FreeBitmap(KvBitmap* bitmap);

/* A binary CGM of the NITF profile loaded into a drawing, the vector handle
 * Kv_NITFAppendGraphicSegment and Kv_NITFSetVectorHandle take. `bounds` (may be null)
 * receives the drawing's extent as left, top, right and bottom with rows counted
 * downwards, the rectangle to append it with. RET_FILE_FORMAT for bytes that are not
 * such a metafile, RET_NO_MEMORY. Free the drawing with KvHost_FreeDrawing. */
KV_API int32_t KV_CALL KvHost_LoadCgm(const void* bytes, uint32_t size, void** drawing,
                                      int32_t bounds[4]);
KV_API int32_t KV_CALL KvHost_FreeDrawing(void* drawing);

/* Where message boxes ("Unsupported CLEVEL", caption "Error") and debug lines go. By
 * default a message box prints "Error: <text>" on standard error and debug lines are
 * silent unless KVNTF_DEBUG is set; null restores the default. */
typedef void(KV_CALL* KvMessageSink)(void* user, const char* text, const char* caption);
typedef void(KV_CALL* KvDebugSink)(void* user, const char* text);
KV_API void KV_CALL KvHost_SetMessageSink(KvMessageSink sink, void* user);
KV_API void KV_CALL KvHost_SetDebugSink(KvDebugSink sink, void* user);

#endif /* KVHOST_H */
