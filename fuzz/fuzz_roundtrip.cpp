// libFuzzer harness: the bytes as a NITF file opened, saved and opened again; what the
// first reading held must read back unchanged (see fuzzing::round_trip). The last
// eighth of an input of a length 3 modulo 4 is appended as a text and set as the title
// before the save, so that edits take the same round trip.
// Build with -DKVNTF_FUZZ=ON (clang); run through scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>

#include "entries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::limit_allocations(fuzzing::kHarnessAllocationCap);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t text = size % 4 == 3 ? size / 8 : 0;
  fuzzing::MemoryFile file(data, size - text);
  if (!file.name().empty())
    fuzzing::round_trip(file.name(), data + size - text, text, size % 2 == 1);
  return 0;
}
