// A replacement of the global allocation functions that can make one chosen
// allocation of the code under test fail with std::bad_alloc.
//
// Only allocations that the test executable's own code asks for are counted
// and failed: the engine's containers and strings (also when libstdc++ does
// the allocating for them). Allocations that libclang makes for itself pass
// through untouched, since libclang is not built to survive them. Counting
// happens only on the thread that armed it, while a FailingAllocations object
// is alive.
#pragma once

#include <cstddef>

namespace astsieve::testing {

class FailingAllocations {
 public:
  // Fails the fail_at-th counted allocation (from 1); 0 fails none and only
  // counts.
  explicit FailingAllocations(std::size_t fail_at);
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;

  // Allocations of the code under test seen so far, the failed one included.
  std::size_t counted() const;
  // Allocations that libclang made and that were let through.
  std::size_t passed_through() const;
  bool failed() const;
};

}  // namespace astsieve::testing
