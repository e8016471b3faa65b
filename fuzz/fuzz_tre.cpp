// libFuzzer harness: the TRE dictionary alone, the input a 6-character tag and the TRE's
// data; a TRE that decodes must encode back to its bytes. Seeds are every TRE of the
// samples (fuzz/extract_tres.py). Build with -DKVNTF_FUZZ=ON (clang); run through
// scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>

#include "entries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::limit_allocations(fuzzing::kHarnessAllocationCap);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::decode_tre(data, size);
  return 0;
}
