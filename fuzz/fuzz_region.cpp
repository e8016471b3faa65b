// libFuzzer harness: raw sample reads (Kv_NITFReadSamples) of every image and the
// composition of a window (Kv_NtfRenderRegion), on the bytes opened as a document, with
// the window, reduction, bands, layout, stride and output size taken from the input's last
// 24 bytes, which stay part of the file (so that a sample file is a seed as it is: its last
// bytes are usually image data). Inputs of odd length are read extended.
// Build with -DKVNTF_FUZZ=ON (clang); run through scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>

#include "entries.h"

namespace {
constexpr std::size_t kParameterBytes = 24;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::limit_allocations(fuzzing::kHarnessAllocationCap);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kParameterBytes) return 0;
  fuzzing::MemoryFile memory(data, size);
  if (!memory.name().empty())
    fuzzing::read_samples(memory.name(), data + size - kParameterBytes, kParameterBytes,
                          size % 2 == 1);
  return 0;
}
