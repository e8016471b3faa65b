/* Compiles the public header as C and makes one call through the shipped library. */
#include <kvntfu.h>
#include <stddef.h>
#include <stdio.h>

/* The records the file-format library shares with the module keep its sizes. */
_Static_assert(sizeof(KvBitmap) == KV_BITMAP_RECORD_SIZE, "bitmap record size");
_Static_assert(sizeof(FltLoadOptions) == 72, "load options size");
_Static_assert(offsetof(FltLoadOptions, flags) == 12, "load options flags");
_Static_assert(offsetof(FltLoadOptions, red_band) == 32, "load options bands");
_Static_assert(sizeof(FltFileInfo) == 2308, "file info size");
_Static_assert(offsetof(FltFileInfo, format) == 4, "file info format");
_Static_assert(offsetof(FltFileInfo, width) == 1032, "file info width");
_Static_assert(offsetof(FltFileInfo, height) == 1036, "file info height");
_Static_assert(offsetof(FltFileInfo, bits_per_pixel) == 1040, "file info depth");
_Static_assert(offsetof(FltFileInfo, image_size_low) == 1052, "file info size words");
_Static_assert(offsetof(FltFileInfo, word_1100) == 1100, "file info word 1100");
_Static_assert(offsetof(FltFileInfo, word_1104) == 1104, "file info word 1104");
_Static_assert(offsetof(FltTargetDescription, bits_per_pixel) == 0x14, "target depth");

int main(void) {
  NitfDocument* doc = NULL;
  NitfHeader header = {0};
  int ok = Kv_NITFCreate(&doc, NULL) == RET_SUCCESS &&
           Kv_NITFGetStatus(doc) == (KV_NITF_STATUS_EMPTY | KV_NITF_STATUS_HEADER_PRESENT) &&
           Kv_NITFGetNITFHeader(doc, &header) == RET_SUCCESS && header.FL == 388;
  Kv_NITFFreeNITFHeader(&header);
  ok = ok && Kv_NITFDestroy(&doc) == RET_SUCCESS && doc == NULL;
  ok = ok && fltSave(NULL) == RET_NOT_SUPPORTED;
  if (!ok) fprintf(stderr, "public header check failed\n");
  return ok ? 0 : 1;
}
