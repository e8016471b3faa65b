// What the module's return codes mean, and how the client reports them.
#include <cstdio>

#include "cli.h"

namespace cli {

const char* describe(int code) {
  switch (code) {
    case RET_FAILURE:
      return "the operation failed";
    case RET_NO_MEMORY:
      return "out of memory, or a size beyond the allocation limit";
    case RET_INVALID_BITMAP:
      return "no usable bitmap";
    case RET_FILE_WRITE:
      return "cannot write the file";
    case RET_FILE_READ:
      return "the file is cut short or cannot be read";
    case RET_FILE_FORMAT:
      return "not a valid NITF file (a field fails its check)";
    case RET_FILE_NOT_FOUND:
      return "no such file";
    case RET_INVALID_PARAMETER:
      return "invalid parameter";
    case RET_FILE_OPEN:
      return "cannot open the file";
    case RET_NOT_SUPPORTED:
      return "not supported";
    case RET_INVALID_QUALITY:
      return "JPEG quality outside 2 to 255";
    case RET_INVALID_BITS_PER_PIXEL:
      return "bits per pixel must be 8 or 24";
    case RET_UNSUPPORTED_VERSION:
      return "unsupported NITF version (only 02.10 is read)";
    case RET_INVALID_DOCUMENT:
      return "no document";
    case RET_EMPTY_VECTOR:
      return "the drawing is empty";
    case RET_MISSING_DATA:
      return "missing data";
    case RET_UNSUPPORTED_PVTYPE:
      return "unsupported pixel value type";
    case RET_UNSUPPORTED_CLEVEL:
      return "unsupported complexity level (only 03 is read)";
    case RET_UNSUPPORTED_BPP:
      return "unsupported bits per pixel";
    case RET_BAD_BLOCK_STREAM:
      return "an image block holds a stream of an unaccepted format";
    case RET_BAD_ARGUMENT:
      return "bad argument";
    default:
      return "failed";
  }
}

int fail(const std::string& file, int code) {
  std::fprintf(stderr, "nitf: %s: %s (%d)\n", file.c_str(), describe(code), code);
  return kExitFailed;
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "nitf: %s\nTry 'nitf help'.\n", message.c_str());
  return kExitUsage;
}

}  // namespace cli
