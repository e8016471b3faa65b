// nitf copy: a file opened through the module and saved again, unchanged, as a new
// file; the way to see that a save gives back what was read.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"

namespace cli {
namespace {

long long size_of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

const char* plural(int n) {
  return n == 1 ? "" : "s";
}

}  // namespace

int run_copy(const std::vector<std::string>& args) {
  if (args.size() != 2) return usage_error("copy: usage: nitf copy IN OUT");
  const std::string& in = args[0];
  const std::string& out = args[1];
  Document doc;
  if (int r = doc.open(in); r != RET_SUCCESS) return fail(in, r);
  if (int r = Kv_NITFSaveFileA(doc.get(), out.c_str()); r != RET_SUCCESS) return fail(in, r);
  NitfHeader h{};
  int des = 0, res = 0;
  if (Kv_NITFGetNITFHeader(doc.get(), &h) == RET_SUCCESS) {
    des = h.NUMDES;
    res = h.NUMRES;
    Kv_NITFFreeNITFHeader(&h);
  }
  int images = Kv_NITFGetImageHeaderCount(doc.get());
  int graphics = Kv_NITFGetGraphicHeaderCount(doc.get());
  int texts = Kv_NITFGetTextHeaderCount(doc.get());
  std::printf(
      "%s: %d image%s, %d graphic%s, %d text%s, %d data extension%s, %d reserved "
      "extension%s; %lld bytes\n",
      out.c_str(), images, plural(images), graphics, plural(graphics), texts, plural(texts), des,
      plural(des), res, plural(res), size_of(out));
  return kExitOk;
}

}  // namespace cli
