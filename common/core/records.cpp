// Copies handed to applications in public records.
#include "core/records.h"

#include <cstring>

#include "kernel.h"

namespace nitf {

void* copy_out(const void* data, std::size_t n) {
  auto* block = static_cast<unsigned char*>(kernel::allocate(n + 1, 1));
  if (!block) return nullptr;
  if (n) std::memcpy(block, data, n);
  block[n] = 0;
  kernel::record_object(kernel::ObjectKind::kBuffer, block);
  return block;
}

char* copy_out_string(const char* text) {
  return static_cast<char*>(copy_out(text, text ? std::strlen(text) : 0));
}

std::uint32_t* table_out(std::size_t n) {
  void* block = kernel::allocate(n ? n : 1, sizeof(std::uint32_t));
  kernel::record_object(kernel::ObjectKind::kBuffer, block);
  return static_cast<std::uint32_t*>(block);
}

void release_out(void* block) {
  if (!block) return;
  kernel::unrecord_object(kernel::ObjectKind::kBuffer, block);
  kernel::free(block);
}

void release_member(void* slot) {
  release_out(load_member<void>(slot));
  store_member(slot, nullptr);
}

void OutList::release_all() {
  for (void* slot : slots_) release_member(slot);
  slots_.clear();
}

}  // namespace nitf
