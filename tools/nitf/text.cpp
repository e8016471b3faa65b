// nitf text: the bytes of text segments, as stored.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli.h"

namespace cli {
namespace {

int write_text(const std::string& file, NitfDocument* doc, int index) {
  uint32_t length = 0;
  if (int r = Kv_NITFGetTextSegment(doc, index, nullptr, &length); r != RET_SUCCESS)
    return fail(file, r);
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
  if (int r = Kv_NITFGetTextSegment(doc, index, buffer.data(), &length); r != RET_SUCCESS)
    return fail(file, r);
  if (std::fwrite(buffer.data(), 1, length, stdout) != length) {
    std::fprintf(stderr, "nitf: cannot write to standard output\n");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int run_text(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return usage_error("text: usage: nitf text FILE [INDEX]");
  const std::string& file = args[0];
  int index = -1;
  if (args.size() == 2) {
    char* end = nullptr;
    long v = std::strtol(args[1].c_str(), &end, 10);
    if (args[1].empty() || *end != '\0' || v < 0 || v > 999)
      return usage_error("text: INDEX must be a number from 0 to 998");
    index = static_cast<int>(v);
  }
  Document doc;
  if (int r = doc.open(file); r != RET_SUCCESS) return fail(file, r);
  int count = Kv_NITFGetTextHeaderCount(doc.get());
  if (index >= count) {
    std::fprintf(stderr, "nitf: %s: no text segment %d (the file has %d)\n", file.c_str(), index,
                 count);
    return kExitFailed;
  }
  for (int i = index < 0 ? 0 : index; i < (index < 0 ? count : index + 1); ++i) {
    if (int r = write_text(file, doc.get(), i); r != kExitOk) return r;
  }
  return kExitOk;
}

}  // namespace cli
