// Kernel memory: every record, node and buffer of the module comes from here.
//
// Allocations are zero-filled, refuse sizes whose product overflows and sizes above a
// cap (default 4 GiB, KVNTF_MAX_ALLOC in bytes overrides it), so a hostile length
// becomes a failed allocation rather than an out-of-memory kill. Objects are recorded
// in a live registry by kind; tests read it to prove that nothing outlives its owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace kernel {

enum class ObjectKind : int {
  kPalette = 3,  // palette objects and memory handles
  kRecord = 4,   // records, nodes, documents
  kBuffer = 5,   // tables and byte buffers
};

// Zero-filled block of count * size bytes; null on overflow, above the cap, or when
// the system has no memory.
void* allocate(std::size_t count, std::size_t size);
void free(void* block);

std::size_t allocation_cap();
void set_allocation_cap(std::size_t bytes);  // 0 restores the default

void record_object(ObjectKind kind, const void* object);
void unrecord_object(ObjectKind kind, const void* object);
// Objects recorded and not yet unrecorded, of one kind or of all kinds.
std::size_t live_objects(ObjectKind kind);
std::size_t live_objects();

// Overflow-checked arithmetic for sizes taken from files.
inline bool mul_overflows(std::uint64_t a, std::uint64_t b, std::uint64_t* out) {
  return __builtin_mul_overflow(a, b, out);
}
inline bool add_overflows(std::uint64_t a, std::uint64_t b, std::uint64_t* out) {
  return __builtin_add_overflow(a, b, out);
}

// A kernel-allocated, tracked object owned by a smart pointer.
struct TrackedDeleter {
  template <class T>
  void operator()(T* p) const {
    unrecord_object(ObjectKind::kRecord, p);
    p->~T();
    kernel::free(p);
  }
};
template <class T>
using Tracked = std::unique_ptr<T, TrackedDeleter>;

template <class T, class... Args>
Tracked<T> make_tracked(Args&&... args) {
  void* block = allocate(1, sizeof(T));
  if (!block) return nullptr;
  T* object = new (block) T(std::forward<Args>(args)...);
  record_object(ObjectKind::kRecord, object);
  return Tracked<T>(object);
}

// A tracked array of trivially copyable elements: length tables, extension areas,
// mask records. Elements start zeroed. Moving transfers ownership.
template <class T>
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
  }
  Buffer& operator=(Buffer&& other) noexcept {
    if (this != &other) {
      reset();
      std::swap(data_, other.data_);
      std::swap(size_, other.size_);
    }
    return *this;
  }
  ~Buffer() { reset(); }

  // Replaces the contents by `count` zeroed elements; false when memory is refused
  // (the buffer is then empty).
  bool allocate(std::size_t count) {
    reset();
    if (count == 0) return true;
    void* block = kernel::allocate(count, sizeof(T));
    if (!block) return false;
    data_ = static_cast<T*>(block);
    size_ = count;
    record_object(ObjectKind::kBuffer, data_);
    return true;
  }
  void reset() {
    if (data_) {
      unrecord_object(ObjectKind::kBuffer, data_);
      kernel::free(data_);
    }
    data_ = nullptr;
    size_ = 0;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  explicit operator bool() const { return data_ != nullptr; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  // The element at i, or `fallback` past the end: tables read for an index beyond
  // their count count as 0.
  T at_or(std::size_t i, T fallback) const { return i < size_ ? data_[i] : fallback; }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kernel
