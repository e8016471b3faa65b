/* An application outside the tree: opens a NITF file, composes it, prints its size. */
#include <kvhost.h>
#include <stdio.h>

int main(int argc, char** argv) {
  NitfDocument* doc = NULL;
  KvBitmap canvas = {0};
  int32_t r;
  if (argc != 2) return 2;
  r = Kv_NITFCreateExA(&doc, argv[1], KV_NITF_EXTENDED);
  if (r != RET_SUCCESS) return fprintf(stderr, "open: %d\n", (int)r), 1;
  r = Kv_NtfRenderBitmap(&canvas, doc);
  if (r == RET_SUCCESS) printf("%d x %d\n", (int)canvas.width, (int)canvas.height);
  KvHost_FreeBitmap(&canvas);
  Kv_NITFDestroy(&doc);
  return r == RET_SUCCESS ? 0 : 1;
}
