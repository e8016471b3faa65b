// libFuzzer harness: the host CGM reader alone, the bytes as the data of a graphic segment.
// Build with -DKVNTF_FUZZ=ON (clang); run through scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>

#include "entries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::limit_allocations(fuzzing::kHarnessAllocationCap);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::read_cgm(data, size);
  return 0;
}
