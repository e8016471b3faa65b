// The host library's public exports (include/kvhost.h): what an application needs beside
// the module, in front of the kernel, the file-format library and the drawing model.
#include <kvhost.h>

#include <new>

#include "fileformat/cgm_read.h"
#include "fileformat/fileformat.h"
#include "kernel.h"
#include "vector/drawing.h"

namespace {

kernel::Bitmap* record_of(KvBitmap* bitmap) {
  return reinterpret_cast<kernel::Bitmap*>(bitmap);
}

}  // namespace

KV_API int32_t KV_CALL KvHost_LoadFromMemory(const void* buffer, KvBitmap* bitmap,
                                             uint32_t record_size, int32_t bits_per_pixel,
                                             int32_t colour_order, uint32_t byte_count,
                                             FltLoadOptions* options) {
  return fileformat::load_from_memory(buffer, record_of(bitmap), record_size, bits_per_pixel,
                                      colour_order, byte_count, options);
}

KV_API FltRawDataCallback KV_CALL KvHost_SetRawDataCallback(FltRawDataCallback callback,
                                                            void* user_data) {
  return fileformat::set_raw_data_callback(callback, user_data);
}

KV_API int32_t KV_CALL KvHost_CreateBitmap(KvBitmap* bitmap, int32_t width, int32_t height,
                                           int32_t bits_per_pixel) {
  if (!bitmap) return RET_BAD_ARGUMENT;
  if (width < 1 || height < 1 || (bits_per_pixel != 8 && bits_per_pixel != 24))
    return RET_INVALID_PARAMETER;
  kernel::Bitmap* b = record_of(bitmap);
  if (b->flags & kernel::kBitmapDataAllocated) kernel::free_bitmap(b);
  kernel::init_bitmap(b, kernel::kBitmapRecordSize);
  const int colour = bits_per_pixel == 8 ? kernel::kColourGrey : kernel::kColourRgb;
  return kernel::create_bitmap(b, kernel::kBitmapRecordSize, 1, width, height, bits_per_pixel,
                               colour, nullptr, kernel::kViewTopDown, nullptr, 0);
}

KV_API int32_t KV_CALL KvHost_FreeBitmap(KvBitmap* bitmap) {
  if (!bitmap) return RET_BAD_ARGUMENT;
  kernel::free_bitmap(record_of(bitmap));
  kernel::init_bitmap(record_of(bitmap), kernel::kBitmapRecordSize);
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL KvHost_LoadCgm(const void* bytes, uint32_t size, void** drawing,
                                      int32_t bounds[4]) {
  if (!drawing) return RET_MISSING_DATA;
  *drawing = nullptr;
  auto* d = new (std::nothrow) vector::Drawing;
  if (!d) return RET_NO_MEMORY;
  int r = fileformat::load_vector_from_memory(bytes, d, size, nullptr);
  vector::Point3 lower, upper;
  if (r == RET_SUCCESS && bounds) r = vector::bounds(d, &lower, &upper);
  if (r != RET_SUCCESS) {
    KvHost_FreeDrawing(d);
    return r;
  }
  if (bounds) {
    bounds[0] = static_cast<int32_t>(lower.x);
    bounds[1] = static_cast<int32_t>(-upper.y);
    bounds[2] = static_cast<int32_t>(upper.x);
    bounds[3] = static_cast<int32_t>(-lower.y);
  }
  *drawing = d;
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL KvHost_FreeDrawing(void* drawing) {
  if (!drawing) return RET_MISSING_DATA;
  auto* d = static_cast<vector::Drawing*>(drawing);
  vector::release(d);
  delete d;
  return RET_SUCCESS;
}

// KV_CALL is the platform's default convention here, so the sinks' types are the
// kernel's own.
KV_API void KV_CALL KvHost_SetMessageSink(KvMessageSink sink, void* user) {
  kernel::set_message_sink(reinterpret_cast<kernel::MessageSink>(sink), user);
}

KV_API void KV_CALL KvHost_SetDebugSink(KvDebugSink sink, void* user) {
  kernel::set_debug_sink(reinterpret_cast<kernel::DebugSink>(sink), user);
}
