// The raw sample exports: Kv_NITFGetImageInfo and Kv_NITFReadSamples. They check the
// document and the index and leave the rest to image/data/region_samples.
#include <kvntfu.h>

#include "core/nitffile.h"
#include "image/data/region_samples.h"
#include "image/imsubhdr.h"

KV_API int32_t KV_CALL Kv_NITFGetImageInfo(NitfDocument* document, uint32_t index,
                                           KvImageInfo* info) {
  if (!document) return RET_INVALID_DOCUMENT;
  const nitf::NitfImageSubheader* s = nitf::find_image_subheader(document, index);
  if (!info || !s) return RET_INVALID_PARAMETER;
  return nitf::image_sample_info(*s, info);
}

KV_API int32_t KV_CALL Kv_NITFReadSamples(NitfDocument* document, uint32_t index,
                                          const KvSampleRequest* request, void* buffer, size_t size,
                                          size_t stride) {
  if (!document) return RET_INVALID_DOCUMENT;
  if (!request || !nitf::find_image_subheader(document, index)) return RET_INVALID_PARAMETER;
  return nitf::read_samples(document, index, *request, buffer, size, stride);
}
