// An application outside the tree, built with find_package(Kvntfu): lists the file
// header fields the module describes, with their values as text where they are strings.
#include <kvntfu.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  NitfDocument* doc = nullptr;
  if (Kv_NITFCreateExA(&doc, argv[1], KV_NITF_EXTENDED) != RET_SUCCESS) return 1;
  NitfHeader h{};
  const NitfFieldInfo* fields = nullptr;
  int32_t count = 0;
  int shown = 0;
  if (Kv_NITFGetNITFHeader(doc, &h) == RET_SUCCESS &&
      Kv_NITFGetFieldTable(KV_FIELDS_FILE, &fields, &count) == RET_SUCCESS) {
    for (int32_t i = 0; i < count; ++i) {
      if (fields[i].form != KV_FORM_STRING) continue;
      const char* text = nullptr;
      std::memcpy(&text, reinterpret_cast<const char*>(&h) + fields[i].offset, sizeof text);
      std::printf("%s=%s\n", fields[i].name, text ? text : "");
      ++shown;
    }
    Kv_NITFFreeNITFHeader(&h);
  }
  Kv_NITFDestroy(&doc);
  return shown > 0 ? 0 : 1;
}
