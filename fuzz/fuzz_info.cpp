// libFuzzer harness: fltInfo on the bytes as a NITF file: parse and canvas extent.
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
  if (!file.name().empty()) fuzzing::describe(file.name(), size % 2 == 1);
  return 0;
}
