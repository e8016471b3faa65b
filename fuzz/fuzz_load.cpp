// libFuzzer harness: fltLoad on the bytes as a NITF file with the host's decoders and a
// row callback that drops the rows; the target depth and extended reading follow the
// input's length.
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
  if (!file.name().empty()) fuzzing::load_rows(file.name(), static_cast<std::uint32_t>(size), size % 2 == 1);
  return 0;
}
