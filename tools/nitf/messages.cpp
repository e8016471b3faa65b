// What the module's return codes mean, how the client reports them, and the settings
// and progress every command shares.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <kvhost.h>

#include "cli.h"

namespace cli {
namespace {

// The first reason the module gave on its debug sink: the field or stream that failed.
// Lines that only mark the making and freeing of a document's objects, or repeat that
// a parse ended, are not reasons.
std::string& first_reason() {
  static std::string reason;
  return reason;
}

void KV_CALL on_debug(void*, const char* text) {
  if (std::getenv("KVNTF_DEBUG")) std::fputs(text, stderr);
  std::string line(text);
  while (!line.empty() && (line.back() == '\n' || line.front() == '\n'))
    line.erase(line.back() == '\n' ? line.size() - 1 : 0, 1);
  if (line.empty() || line == "AllocateObjects" || line == "FreeObjects" ||
      line.find("ends the parse with") != std::string::npos || !first_reason().empty())
    return;
  // The failure's line ends with the return code, which the client prints anyway.
  const std::size_t code = line.rfind(" (-");
  if (code != std::string::npos && line.back() == ')') line.erase(code);
  first_reason() = line;
}

// The message boxes say what the return code says; the code's line covers them.
void KV_CALL on_message(void*, const char*, const char*) {}

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Settings& settings() {
  static Settings s;
  return s;
}

uint32_t reading_flags() {
  return settings().strict ? 0u : KV_LOAD_EXTENDED;
}

void install_sinks() {
  KvHost_SetDebugSink(on_debug, nullptr);
  KvHost_SetMessageSink(on_message, nullptr);
}

void Progress::update(const char* what, uint64_t done, uint64_t total) {
  if (settings().quiet || total == 0) return;
  const double t = now();
  if (started_ < 0) started_ = t;
  if (t - started_ < 1.0 || t - shown_ < 0.2 || !isatty(STDERR_FILENO)) return;
  shown_ = t;
  visible_ = true;
  std::fprintf(stderr, "\rnitf: %s %3d%%", what, static_cast<int>(done * 100 / total));
  std::fflush(stderr);
}

void Progress::done() {
  if (visible_) std::fputs("\r\033[K", stderr);
  visible_ = false;
}

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
      return "a field or the data fail their check";
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
      return "unsupported NITF version";
    case RET_INVALID_DOCUMENT:
      return "no document";
    case RET_EMPTY_VECTOR:
      return "the drawing is empty";
    case RET_MISSING_DATA:
      return "missing data";
    case RET_UNSUPPORTED_PVTYPE:
      return "unsupported pixel value type";
    case RET_UNSUPPORTED_CLEVEL:
      return "unsupported complexity level";
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
  const std::string& reason = first_reason();
  std::fprintf(stderr, "nitf: %s: %s%s%s (%d)\n", file.c_str(), describe(code),
               reason.empty() ? "" : ": ", reason.c_str(), code);
  return kExitFailed;
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "nitf: %s\nTry 'nitf help'.\n", message.c_str());
  return kExitUsage;
}

bool parse_numbers(const std::string& text, char separator, std::size_t count, uint32_t max,
                   std::vector<uint32_t>* out) {
  out->clear();
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find(separator, at), text.size());
    const std::string piece = text.substr(at, end - at);
    char* stop = nullptr;
    const unsigned long long v = std::strtoull(piece.c_str(), &stop, 10);
    if (piece.empty() || *stop != '\0' || piece[0] == '-' || v > max) return false;
    out->push_back(static_cast<uint32_t>(v));
    at = end + 1;
  }
  return count == 0 ? !out->empty() : out->size() == count;
}

}  // namespace cli
