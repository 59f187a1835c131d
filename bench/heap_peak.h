// The heap's high-water mark of this program, counted by its own operator new and delete.
#pragma once

#include <cstddef>

namespace bench {

// Starts a new measurement from what is allocated now.
void ResetHeapPeak();
// The most bytes allocated at once since the last reset, above what was allocated then.
std::size_t HeapPeakSinceReset();

}  // namespace bench
