// Kernel sinks and the load hook.
#include "sinks.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kernel {
namespace {

struct Sinks {
  std::mutex lock;
  MessageSink message = nullptr;
  void* message_user = nullptr;
  DebugSink debug = nullptr;
  void* debug_user = nullptr;
};

Sinks& sinks() {
  static Sinks* instance = new Sinks;
  return *instance;
}

}  // namespace

void set_message_sink(MessageSink sink, void* user) {
  std::lock_guard<std::mutex> guard(sinks().lock);
  sinks().message = sink;
  sinks().message_user = user;
}

void set_debug_sink(DebugSink sink, void* user) {
  std::lock_guard<std::mutex> guard(sinks().lock);
  sinks().debug = sink;
  sinks().debug_user = user;
}

void message_box(const char* text, const char* caption) {
  MessageSink sink;
  void* user;
  {
    std::lock_guard<std::mutex> guard(sinks().lock);
    sink = sinks().message;
    user = sinks().message_user;
  }
  if (sink) {
    sink(user, text, caption);
  } else {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
  }
}

void debug_output(const char* text) {
  DebugSink sink;
  void* user;
  {
    std::lock_guard<std::mutex> guard(sinks().lock);
    sink = sinks().debug;
    user = sinks().debug_user;
  }
  if (sink) {
    sink(user, text);
  } else if (std::getenv("KVNTF_DEBUG")) {
    std::fputs(text ? text : "", stderr);
  }
}

// The kernel has no loader bookkeeping of its own here: a module is ready when its
// entry answers.
std::int32_t load_hook(LoadEntry entry) {
  return entry ? 1 : 0;
}

}  // namespace kernel
