#include "heap_counter.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace astsieve_bench {
namespace {

// The benchmark is single-threaded; plain counters suffice. A block carries
// no mark of whether it was counted, so frees inside the window subtract
// only what is known to have been added.
bool counting = false;
std::size_t live_bytes = 0;
std::size_t peak_bytes = 0;

void* counted_allocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  if (counting) {
    live_bytes += malloc_usable_size(block);
    if (live_bytes > peak_bytes) {
      peak_bytes = live_bytes;
    }
  }
  return block;
}

void counted_free(void* block) noexcept {
  if (counting && block != nullptr) {
    const std::size_t size = malloc_usable_size(block);
    live_bytes -= size < live_bytes ? size : live_bytes;
  }
  std::free(block);
}

}  // namespace

HeapCounts heap_counts() noexcept { return {live_bytes, peak_bytes}; }

void start_heap_count() noexcept {
  live_bytes = 0;
  peak_bytes = 0;
  counting = true;
}

void stop_heap_count() noexcept { counting = false; }

}  // namespace astsieve_bench

void* operator new(std::size_t size) { return astsieve_bench::counted_allocate(size); }
void* operator new[](std::size_t size) { return astsieve_bench::counted_allocate(size); }
void operator delete(void* block) noexcept { astsieve_bench::counted_free(block); }
void operator delete[](void* block) noexcept { astsieve_bench::counted_free(block); }
void operator delete(void* block, std::size_t) noexcept { astsieve_bench::counted_free(block); }
void operator delete[](void* block, std::size_t) noexcept { astsieve_bench::counted_free(block); }
