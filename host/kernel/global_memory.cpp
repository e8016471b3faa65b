// Global memory handles over the kernel's allocator.
#include "kernel/global_memory.h"

#include "kernel/memory.h"

namespace kernel {

struct GlobalMemory {
  void* block = nullptr;
  std::size_t size = 0;
  int locks = 0;
};

GlobalMemory* global_alloc(std::size_t size) {
  auto* handle = static_cast<GlobalMemory*>(allocate(1, sizeof(GlobalMemory)));
  if (!handle) return nullptr;
  if (size != 0) {
    handle->block = allocate(size, 1);
    if (!handle->block) {
      free(handle);
      return nullptr;
    }
  }
  handle->size = size;
  return handle;
}

void* global_lock(GlobalMemory* handle) {
  if (!handle) return nullptr;
  ++handle->locks;
  return handle->block;
}

void global_unlock(GlobalMemory* handle) {
  if (handle && handle->locks > 0) --handle->locks;
}

std::size_t global_size(const GlobalMemory* handle) {
  return handle ? handle->size : 0;
}

void global_free(GlobalMemory* handle) {
  if (!handle) return;
  free(handle->block);
  free(handle);
}

}  // namespace kernel
