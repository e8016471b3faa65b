// Kernel memory: allocation under a size cap and the live-object registry.
//
// Large blocks (pixel data of big bitmaps, read buffers) are mapped on their own,
// aligned to 2 MiB and marked for transparent huge pages: the first touch of fresh
// memory costs a page fault per 4 KiB page otherwise, which for a picture of a few
// hundred megabytes takes longer than decoding it. A fresh mapping reads as zeros, so
// the zero fill costs nothing up front, and pages never touched are never faulted in.
// Small blocks come from the C heap. free() tells the two apart by the address (a
// mapping starts on a 2 MiB boundary), then by a table of the mappings. A few freed mappings of up
// to 8 MiB are kept for the next block of their size (zeroed again when handed out): readers that
// decode block after block into a fresh bitmap each time would otherwise fault every
// block's pages in anew, as the C heap does when it gives memory back between them.
#include "memory.h"
#include "memory_counting.h"

#include <malloc.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace kernel {
namespace {

constexpr std::size_t kDefaultCap = std::size_t{4} << 30;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// From this size on a block gets a mapping of its own. Under AddressSanitizer every
// block stays on the C heap, where the sanitizer guards its edges.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kLargeBlock = ~std::size_t{0};
#else
constexpr std::size_t kLargeBlock = std::size_t{256} << 10;
#endif
// Freed mappings kept for reuse: how many, and the largest kept.
constexpr std::size_t kKeptMappings = 4;
constexpr std::size_t kLargestKept = std::size_t{8} << 20;

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

// The bytes counted since start_counting, and their high mark.
std::atomic<bool> counting{false};
std::atomic<std::int64_t> held{0}, held_peak{0};

void add_held(std::int64_t bytes) {
  const std::int64_t now = held.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  std::int64_t peak = held_peak.load(std::memory_order_relaxed);
  while (now > peak && !held_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

// The live objects, in shards by address: documents decoded on many threads record and
// unrecord buffers all the time, and one lock for all of them would make the threads
// take turns.
constexpr std::size_t kShards = 64;
struct alignas(64) Shard {
  std::mutex lock;
  std::unordered_map<const void*, ObjectKind> live;
};
struct Registry {
  Shard shards[kShards];
  Shard& of(const void* object) {
    // The top bits of a multiplicative hash: blocks aligned to 2 MiB spread as well.
    const auto a = reinterpret_cast<std::uintptr_t>(object);
    return shards[(a * 0x9E3779B97F4A7C15ull) >> 58];
  }
};
static_assert(kShards == 64, "the hash keeps 6 bits");

Registry& registry() {
  static Registry* instance = new Registry;  // never destroyed: used until exit
  return *instance;
}

// The large blocks: where each starts, and the bytes it may use; and freed ones kept.
struct Kept {
  void* block = nullptr;
  std::size_t length = 0;
};
struct Mappings {
  std::mutex lock;
  std::unordered_map<const void*, std::size_t> blocks;
  Kept kept[kKeptMappings];
};

Mappings& mappings() {
  static Mappings* instance = new Mappings;  // never destroyed: used until exit
  return *instance;
}

// A kept mapping of `length` bytes, its first `bytes` zeroed again; null when none is
// kept. The rest of it is never handed out before a new fill.
void* reuse_kept(std::size_t length, std::size_t bytes) {
  Mappings& m = mappings();
  std::lock_guard<std::mutex> guard(m.lock);
  for (Kept& k : m.kept) {
    if (k.block && k.length == length) {
      void* block = k.block;
      k = Kept{};
      m.blocks[block] = length;
      std::memset(block, 0, bytes);
      return block;
    }
  }
  return nullptr;
}

// A fresh mapping of `length` bytes on a 2 MiB boundary: mapped one huge page larger
// and cut to the aligned part.
void* map_aligned(std::size_t length) {
  const std::size_t mapped = length + kHugePage;
  void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) munmap(raw, aligned - start);
  const std::size_t tail = mapped - (aligned - start) - length;
  if (tail) munmap(reinterpret_cast<void*>(aligned + length), tail);
  return reinterpret_cast<void*>(aligned);
}

// A zeroed block of `bytes` (at least kLargeBlock, at most the cap) on 2 MiB
// boundaries, a kept mapping of its size when there is one.
void* map_large(std::size_t bytes) {
  const std::size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  if (void* block = reuse_kept(length, bytes)) return block;
  void* block = map_aligned(length);
  if (!block) return nullptr;
  madvise(block, length, MADV_HUGEPAGE);  // a hint: without it the block still works
  Mappings& m = mappings();
  std::lock_guard<std::mutex> guard(m.lock);
  m.blocks[block] = length;
  return block;
}

// Large blocks start on 2 MiB boundaries; a block that does not is of the C heap and
// needs no look-up (nor the lock) to say so.
bool may_be_large(const void* block) {
  return reinterpret_cast<std::uintptr_t>(block) % kHugePage == 0;
}

// Unmaps a large block, or keeps it for reuse; false when the block is not one. Its
// length goes to `length` when asked for.
bool unmap_large(void* block, std::size_t* length) {
  if (!may_be_large(block)) return false;
  Kept dropped;
  {
    Mappings& m = mappings();
    std::lock_guard<std::mutex> guard(m.lock);
    auto found = m.blocks.find(block);
    if (found == m.blocks.end()) return false;
    if (length) *length = found->second;
    dropped = Kept{block, found->second};
    m.blocks.erase(found);
    if (dropped.length <= kLargestKept) {
      // The oldest kept one gives way.
      Kept& slot = m.kept[kKeptMappings - 1];
      std::swap(slot, dropped);
      for (std::size_t i = kKeptMappings - 1; i > 0; --i) std::swap(m.kept[i], m.kept[i - 1]);
    }
  }
  if (dropped.block) munmap(dropped.block, dropped.length);
  return true;
}

}  // namespace

void* allocate(std::size_t count, std::size_t size) {
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(count, size, &bytes)) return nullptr;
  if (bytes > cap().load()) return nullptr;
  void* block = bytes >= kLargeBlock ? map_large(bytes) : std::calloc(bytes ? bytes : 1, 1);
  if (block && counting.load(std::memory_order_relaxed))
    add_held(std::int64_t(bytes >= kLargeBlock ? (bytes + kHugePage - 1) / kHugePage * kHugePage
                                               : ::malloc_usable_size(block)));
  return block;
}

void free(void* block) {
  if (!block) return;
  const bool counted = counting.load(std::memory_order_relaxed);
  std::size_t bytes = counted && !may_be_large(block) ? ::malloc_usable_size(block) : 0;
  if (unmap_large(block, counted ? &bytes : nullptr)) {
    if (counted) add_held(-std::int64_t(bytes));
    return;
  }
  if (counted) add_held(-std::int64_t(bytes ? bytes : ::malloc_usable_size(block)));
  std::free(block);
}

void start_counting() {
  held.store(0);
  held_peak.store(0);
  counting.store(true);
}

std::size_t counted_peak() {
  return std::size_t(std::max<std::int64_t>(held_peak.load(), 0));
}

void stop_counting() {
  counting.store(false);
}

std::size_t allocation_cap() {
  return cap().load();
}

void set_allocation_cap(std::size_t bytes) {
  cap().store(bytes ? bytes : cap_from_environment());
}

void record_object(ObjectKind kind, const void* object) {
  if (!object) return;
  Shard& shard = registry().of(object);
  std::lock_guard<std::mutex> guard(shard.lock);
  shard.live[object] = kind;
}

void unrecord_object(ObjectKind, const void* object) {
  if (!object) return;
  Shard& shard = registry().of(object);
  std::lock_guard<std::mutex> guard(shard.lock);
  shard.live.erase(object);
}

std::size_t live_objects(ObjectKind kind) {
  std::size_t n = 0;
  for (Shard& shard : registry().shards) {
    std::lock_guard<std::mutex> guard(shard.lock);
    for (const auto& entry : shard.live) n += entry.second == kind;
  }
  return n;
}

std::size_t live_objects() {
  std::size_t n = 0;
  for (Shard& shard : registry().shards) {
    std::lock_guard<std::mutex> guard(shard.lock);
    n += shard.live.size();
  }
  return n;
}

}  // namespace kernel
