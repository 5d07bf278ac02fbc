// Live and peak bytes of what is allocated through operator new while
// counting is on (the executable replaces the global allocation functions).
// Outside that window the allocation functions cost what malloc and free
// cost, so that timed runs pay nothing for the counting.
#pragma once

#include <cstddef>

namespace astsieve_bench {

struct HeapCounts {
  std::size_t live;
  std::size_t peak;
};

HeapCounts heap_counts() noexcept;

// Starts counting from zero live bytes. Blocks allocated before and freed
// inside the window are not subtracted.
void start_heap_count() noexcept;
void stop_heap_count() noexcept;

}  // namespace astsieve_bench
