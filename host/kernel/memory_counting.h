// What the module's blocks cost at their peak, for the tests' memory figures
// (memory.cpp counts them).
#pragma once

#include <cstddef>

namespace kernel {

// The most bytes of blocks held at once since start_counting (as the allocator sized
// them): what a call costs at its peak. Off until started, since counting looks up
// each freed block's size; blocks made before the start are not counted.
void start_counting();
std::size_t counted_peak();
void stop_counting();

}  // namespace kernel
