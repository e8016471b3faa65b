/* Compiles the public header as C and makes one call through the shipped library. */
#include <kvntfu.h>
#include <stdio.h>

int main(void) {
  NitfDocument* doc = NULL;
  NitfHeader header = {0};
  int ok = Kv_NITFCreate(&doc, NULL) == RET_SUCCESS &&
           Kv_NITFGetStatus(doc) == (KV_NITF_STATUS_EMPTY | KV_NITF_STATUS_HEADER_PRESENT) &&
           Kv_NITFGetNITFHeader(doc, &header) == RET_SUCCESS && header.FL == 388;
  Kv_NITFFreeNITFHeader(&header);
  ok = ok && Kv_NITFDestroy(&doc) == RET_SUCCESS && doc == NULL;
  if (!ok) fprintf(stderr, "public header check failed\n");
  return ok ? 0 : 1;
}
