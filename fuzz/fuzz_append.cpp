// libFuzzer harness: a script of edits (appends, header and TRE sets, values the setters
// must refuse among them) made to a document, which is then saved and read back; see
// fuzzing::edit_round_trip for the layout of an input and what traps.
// Build with -DKVNTF_FUZZ=ON (clang); run through scripts/fuzz.sh.
#include <cstddef>
#include <cstdint>

#include "entries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::limit_allocations(fuzzing::kHarnessAllocationCap);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::edit_round_trip(data, size);
  return 0;
}
