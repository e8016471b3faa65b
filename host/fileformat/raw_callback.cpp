// The raw-data callback: how a caller tells the library what a stream without a
// signature is (T.4 facsimile data has none). The bi-level reader installs its callback
// around one load and restores the previous one. The setting is per thread, so that two
// documents loading on two threads cannot see each other's description.
#include <cstring>

#include "decoders.h"
#include "fileformat.h"

namespace fileformat {
namespace {

struct RawCallback {
  FltRawDataCallback callback = nullptr;
  void* user_data = nullptr;
};

thread_local RawCallback current;

}  // namespace

FltRawDataCallback set_raw_data_callback(FltRawDataCallback callback, void* user_data) {
  FltRawDataCallback previous = current.callback;
  current.callback = callback;
  current.user_data = user_data;
  return previous;
}

namespace detail {

std::int32_t describe_raw(FltRawFormat* format) {
  std::memset(format, 0, sizeof(*format));
  if (!current.callback) return RET_FILE_FORMAT;
  return current.callback(current.user_data, format);
}

}  // namespace detail
}  // namespace fileformat
