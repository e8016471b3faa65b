// Copies handed to applications in public records.
//
// Getters allocate every string and table through the kernel and record it, so the
// tracking registry shows a record whose free export was never called; the free
// exports release them. OutList collects one getter's copies so that a failure part way
// releases the ones already made and leaves the members null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace nitf {

// A tracked kernel copy of `n` bytes plus NUL, or null.
void* copy_out(const void* data, std::size_t n);
char* copy_out_string(const char* text);
// A tracked, zeroed table of `n` entries (at least one byte is allocated).
std::uint32_t* table_out(std::size_t n);
// Releases a copy made here, or a kernel block the caller placed in a record.
void release_out(void* block);

// Saturates a 64-bit length to what a public 32-bit member holds.
inline std::uint32_t saturate_length(std::uint64_t v) {
  return v > 2147483647u ? 2147483647u : static_cast<std::uint32_t>(v);
}

// Public records are packed, so their pointer members may be misaligned: they are
// read and written through these, never through a T** into the record.
template <class T>
T* load_member(const void* slot) {
  T* value;
  std::memcpy(&value, slot, sizeof value);
  return value;
}
inline void store_member(void* slot, const void* value) {
  std::memcpy(slot, &value, sizeof value);
}
// Releases the block a pointer member refers to and nulls the member.
void release_member(void* slot);

class OutList {
 public:
  // Stores the copy in the pointer member at `slot` and remembers it; false when the
  // copy is null.
  bool put(void* slot, void* copy) {
    store_member(slot, copy);
    slots_.push_back(slot);
    return copy != nullptr;
  }
  // Releases every copy stored so far and nulls its member.
  void release_all();

 private:
  std::vector<void*> slots_;
};

}  // namespace nitf
