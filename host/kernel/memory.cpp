// Kernel memory: allocation under a size cap and the live-object registry.
#include "memory.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace kernel {
namespace {

constexpr std::size_t kDefaultCap = std::size_t{4} << 30;

std::size_t cap_from_environment() {
  const char* text = std::getenv("KVNTF_MAX_ALLOC");
  if (!text || !*text) return kDefaultCap;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || value == 0) return kDefaultCap;
  return static_cast<std::size_t>(value);
}

std::atomic<std::size_t>& cap() {
  static std::atomic<std::size_t> value{cap_from_environment()};
  return value;
}

struct Registry {
  std::mutex lock;
  std::unordered_map<const void*, ObjectKind> live;
};

Registry& registry() {
  static Registry* instance = new Registry;  // never destroyed: used until exit
  return *instance;
}

}  // namespace

void* allocate(std::size_t count, std::size_t size) {
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(count, size, &bytes)) return nullptr;
  if (bytes > cap().load()) return nullptr;
  return std::calloc(bytes ? bytes : 1, 1);
}

void* reallocate(void* block, std::size_t size) {
  if (size > cap().load()) return nullptr;
  return std::realloc(block, size ? size : 1);
}

void free(void* block) {
  std::free(block);
}

std::size_t allocation_cap() {
  return cap().load();
}

void set_allocation_cap(std::size_t bytes) {
  cap().store(bytes ? bytes : cap_from_environment());
}

void record_object(ObjectKind kind, const void* object) {
  if (!object) return;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.live[object] = kind;
}

void unrecord_object(ObjectKind, const void* object) {
  if (!object) return;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.live.erase(object);
}

std::size_t live_objects(ObjectKind kind) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  std::size_t n = 0;
  for (const auto& entry : r.live) n += entry.second == kind;
  return n;
}

std::size_t live_objects() {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  return r.live.size();
}

}  // namespace kernel
