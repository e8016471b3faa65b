// Global memory handles: the blocks the encoders hand back (JPEG and CGM bytes).
//
// A handle owns one block from the kernel's allocator and knows its size. The encoder
// makes it; the caller records it with the tracking registry (kind kPalette, the kind
// of memory handles), locks it to copy the bytes out, unlocks and frees it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kernel {

struct GlobalMemory;

// A handle holding `size` zeroed bytes, or null (above the allocation cap or without
// memory). A size of 0 gives a handle without bytes.
GlobalMemory* global_alloc(std::size_t size);
// The block, or null for no handle. Locks nest; the block stays where it is.
void* global_lock(GlobalMemory* handle);
void global_unlock(GlobalMemory* handle);
std::size_t global_size(const GlobalMemory* handle);
// Frees the block and the handle; null is ignored.
void global_free(GlobalMemory* handle);

}  // namespace kernel
