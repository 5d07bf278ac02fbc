// The process-wide binding of the engine's libclang table.
#include <mutex>

#include "lookup.h"

namespace astsieve::libclang {

std::atomic<const Functions*> detail::bound{nullptr};

namespace {

// Binding and looking again take turns under this lock. The table is written
// once, before `bound` points at it, and never again: the lookup pins the
// file it binds, so a later look can only find that file or more files.
std::mutex looking;
Functions table;
std::atomic<std::uint64_t> generation_seen{0};

}  // namespace

const Functions& detail::bind() {
  std::lock_guard<std::mutex> lock(looking);
  if (const Functions* bound_table = bound.load(std::memory_order_acquire)) {
    return *bound_table;
  }
  const std::uint64_t generation = loaded_objects_generation();
  table = find_loaded();
  generation_seen.store(generation, std::memory_order_relaxed);
  bound.store(&table, std::memory_order_release);
  return table;
}

const Functions& functions_for_query() {
  const Functions* bound_table = detail::bound.load(std::memory_order_acquire);
  if (bound_table == nullptr) {
    return detail::bind();
  }
  const std::uint64_t generation = loaded_objects_generation();
  if (generation == generation_seen.load(std::memory_order_relaxed)) {
    return *bound_table;
  }
  std::lock_guard<std::mutex> lock(looking);
  find_loaded();  // throws if a second libclang came in
  generation_seen.store(generation, std::memory_order_relaxed);
  return *bound_table;
}

}  // namespace astsieve::libclang
