// libFuzzer harness: Kv_NtfRenderBitmap on the bytes opened as a document: every image
// read and every graphic painted onto the composed canvas. Inputs of odd length are read
// extended (NITF 2.0, RPF frames, deep and float pixels).
// Build with -DKVNTF_FUZZ=ON (clang); run through scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>

#include "entries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::limit_allocations(fuzzing::kHarnessAllocationCap);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::MemoryFile file(data, size);
  if (!file.name().empty()) fuzzing::render(file.name(), size % 2 == 1);
  return 0;
}
