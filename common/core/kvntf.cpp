// The document API's exports: lifecycle, status, counts, saving and appending.
// Each export checks its arguments, hands over to the unit that does the work and
// returns the module's codes; nothing here is remembered between calls.
#include <cstdio>
#include <cstring>

#include <kvntfu.h>

#include "core/nitffile.h"
#include "graphics_text/handlgfx.h"
#include "kernel.h"
#include "writing/savenitf.h"
#include "writing/utility_setters.h"

using nitf::NitfFileHeaderData;

namespace {

void destroy_document(NitfDocument* document) {
  kernel::TrackedDeleter{}(document);
}

int32_t create(NitfDocument** handle, const wchar_t* name, uint32_t options) {
  kernel::Tracked<NitfDocument> document = kernel::make_tracked<NitfDocument>();
  if (!document) return RET_NO_MEMORY;
  if (!handle) return RET_NO_MEMORY;
  *handle = nullptr;
  if (options & ~KV_NITF_EXTENDED) return RET_INVALID_PARAMETER;
  document->extended = (options & KV_NITF_EXTENDED) != 0;
  if (name) {
    if (!kernel::file_exists(name)) return RET_FILE_NOT_FOUND;
    int r = nitf::parse_file(document.get(), name);
    if (r != RET_SUCCESS) return r;
  } else {
    NitfFileHeaderData& h = document->header;
    h.hl_current = nitf::kMinimalHeaderLength;
    nitf::SetFileLength(&h, nitf::kMinimalHeaderLength);
    document->header_present = 1;
  }
  *handle = document.release();
  return RET_SUCCESS;
}

// The narrow twins convert the name through the kernel and call the same logic.
int32_t create_narrow(NitfDocument** handle, const char* name, uint32_t options) {
  wchar_t* wide = nullptr;
  if (name) {
    wide = kernel::wide_copy(name);
    if (!wide) return RET_NO_MEMORY;
  }
  int32_t r = create(handle, wide, options);
  kernel::release_wide(wide);
  return r;
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFCreate(NitfDocument** handle, const wchar_t* name) {
  return create(handle, name, 0);
}

KV_API int32_t KV_CALL Kv_NITFCreateA(NitfDocument** handle, const char* name) {
  return create_narrow(handle, name, 0);
}

KV_API int32_t KV_CALL Kv_NITFCreateEx(NitfDocument** handle, const wchar_t* name,
                                       uint32_t options) {
  return create(handle, name, options);
}

KV_API int32_t KV_CALL Kv_NITFCreateExA(NitfDocument** handle, const char* name, uint32_t options) {
  return create_narrow(handle, name, options);
}

KV_API int32_t KV_CALL Kv_NITFDestroy(NitfDocument** handle) {
  if (!handle || !*handle) return RET_INVALID_DOCUMENT;
  destroy_document(*handle);
  *handle = nullptr;
  return RET_SUCCESS;
}

KV_API int32_t KV_CALL Kv_NITFGetStatus(NitfDocument* d) {
  if (!d) return RET_INVALID_DOCUMENT;
  std::uint64_t segments = std::uint64_t{d->image_count} + d->graphic_count + d->text_count;
  return (segments == 0 ? KV_NITF_STATUS_EMPTY : 0) |
         (d->header_present ? KV_NITF_STATUS_HEADER_PRESENT : 0);
}

KV_API int32_t KV_CALL Kv_NITFSaveFile(NitfDocument* d, const wchar_t* name) {
  return nitf::save_document(d, name);
}

KV_API int32_t KV_CALL Kv_NITFSaveFileA(NitfDocument* d, const char* name) {
  wchar_t* wide = name ? kernel::wide_copy(name) : nullptr;
  if (!wide) return -1;
  int32_t r = d ? nitf::save_document(d, wide) : RET_INVALID_DOCUMENT;
  kernel::release_wide(wide);
  return r;
}

KV_API int32_t KV_CALL Kv_NITFGetImageHeaderCount(NitfDocument* d) {
  return d ? static_cast<int32_t>(nitf::count_present(d->images)) : 0;
}

KV_API int32_t KV_CALL Kv_NITFGetGraphicHeaderCount(NitfDocument* d) {
  return d ? static_cast<int32_t>(nitf::count_present(d->graphics)) : 0;
}

KV_API int32_t KV_CALL Kv_NITFGetTextHeaderCount(NitfDocument* d) {
  return d ? static_cast<int32_t>(nitf::count_present(d->texts)) : 0;
}

KV_API void* KV_CALL Kv_NITFGetVectorHandle(NitfDocument* d, int32_t index) {
  if (!d || index < 0 || static_cast<std::uint32_t>(index) >= d->graphic_count) return nullptr;
  auto i = static_cast<std::uint32_t>(index);
  if (i >= d->graphics.size() || !d->graphics[i]) return nullptr;
  if (nitf::draw_graphic_segment(nullptr, d, i, 0, 0) != RET_SUCCESS) return nullptr;
  return d->graphics[i].get();
}

namespace {

// A NITF 2.0 document is kept as it was read: the appenders build 2.1 subheaders.
bool refuses_append(const NitfDocument* d, const char* what) {
  if (!d || !d->header.nitf20) return false;
  char line[128];
  std::snprintf(line, sizeof line, "%s: a NITF 2.0 document takes no new segments\n", what);
  kernel::debug_output(line);
  return true;
}

}  // namespace

KV_API int32_t KV_CALL Kv_NITFAppendImageSegment(NitfDocument* d, KvBitmap* bitmap, int32_t format,
                                                 int32_t bits_per_pixel, int32_t quality) {
  if (!d) return RET_INVALID_DOCUMENT;
  if (refuses_append(d, "append image")) return RET_NOT_SUPPORTED;
  return nitf::append_image_segment(d, reinterpret_cast<const kernel::Bitmap*>(bitmap), format,
                                    bits_per_pixel, quality);
}

KV_API int32_t KV_CALL Kv_NITFAppendGraphicSegment(NitfDocument* d, void* vector,
                                                   const int32_t* rectangle) {
  if (!d || !rectangle) return RET_INVALID_DOCUMENT;
  if (refuses_append(d, "append graphic")) return RET_NOT_SUPPORTED;
  return nitf::append_graphic_segment(d, static_cast<vector::Drawing*>(vector), rectangle);
}

KV_API int32_t KV_CALL Kv_NITFSetVectorHandle(NitfDocument* d, int32_t index, void* vector) {
  if (!d) return RET_INVALID_DOCUMENT;
  if (index < 0) return RET_INVALID_PARAMETER;
  if (refuses_append(d, "set vector handle")) return RET_NOT_SUPPORTED;
  return nitf::set_vector_handle(d, static_cast<std::uint32_t>(index),
                                 static_cast<const vector::Drawing*>(vector));
}

KV_API int32_t KV_CALL Kv_NITFAppendTextSegment(NitfDocument* d, const wchar_t* name) {
  if (!d) return RET_INVALID_DOCUMENT;
  if (refuses_append(d, "append text")) return RET_NOT_SUPPORTED;
  return nitf::append_text_segment(d, name);
}

KV_API int32_t KV_CALL Kv_NITFAppendTextSegmentA(NitfDocument* d, const char* name) {
  wchar_t* wide = name ? kernel::wide_copy(name) : nullptr;
  if (!wide) return -1;
  int32_t r = Kv_NITFAppendTextSegment(d, wide);
  kernel::release_wide(wide);
  return r;
}

KV_API int32_t KV_CALL KAVO_Load(void) {
  return kernel::load_hook(&KAVO_Load);
}
