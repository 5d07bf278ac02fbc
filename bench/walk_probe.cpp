// C entry points for bench/run.py, loaded with ctypes into the process whose
// clang.cindex holds the translation unit: each runs one walk, either the
// floor (floor_walk.h) or the engine's returning its native result, on a
// unit handle or a cursor, and reports the nodes visited and returned and the
// time of the walk alone. They return 0, or -1 if the walk threw.
#include <chrono>
#include <cstdint>
#include <string>
#include <type_traits>

#include "floor_walk.h"
#include "libclang/real.h"
#include "walk/grouping.h"

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

extern "C" {

struct ProbeResult {
  std::uint64_t visited;   // floor only
  std::uint64_t returned;  // nodes accepted by the floor, nodes in the engine's result
  double ns;               // the walk, without releasing its result
};

enum ProbeWalk { UnitWalk = 0, SubtreeWalk = 1, ChildrenWalk = 2 };

}  // extern "C"

namespace {

// Keeps exceptions out of the ctypes caller's frames.
template <typename Walk>
int guarded(Walk&& walk) noexcept {
  try {
    walk();
    return 0;
  } catch (...) {
    return -1;
  }
}

double since(Clock::time_point start) {
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

template <typename Map>
std::uint64_t node_count(const Map& result);

// Like the floor, the engine is timed on its second of two identical walks,
// so that both find libclang's data equally warm.
template <typename Call>
void timed_call(ProbeResult* out, Call&& call) {
  call();
  const Clock::time_point start = Clock::now();
  const auto result = call();
  out->ns = since(start);
  out->returned = node_count(result);
}

template <typename Map>
std::uint64_t node_count(const Map& result) {
  std::uint64_t count = 0;
  for (const auto& entry : result) {
    if constexpr (std::is_same_v<Map, astsieve::PathToNodes>) {
      count += entry.second.size();
    } else {
      for (const auto& line : entry.second) {
        count += line.second.size();
      }
    }
  }
  return count;
}

}  // namespace

extern "C" {

// `unit` is used by UnitWalk, `cursor` by the two others.
__attribute__((visibility("default"))) int astsieve_probe_floor(int walk, std::uint64_t unit,
                                                                const CXCursor* cursor,
                                                                const char* pattern,
                                                                const char* main_path,
                                                                ProbeResult* out) {
  return guarded([&] {
    astsieve_bench::FloorFilter filter(pattern, main_path);
    const auto run = [&] {
      if (walk == UnitWalk) {
        return astsieve_bench::floor_walk_unit(
            reinterpret_cast<CXTranslationUnit>(static_cast<std::uintptr_t>(unit)), filter);
      }
      if (walk == SubtreeWalk) {
        return astsieve_bench::floor_walk_subtree(*cursor, filter);
      }
      return astsieve_bench::floor_direct_children(*cursor, filter);
    };
    run();  // teaches the filter every file's verdict, and warms libclang's data
    const Clock::time_point start = Clock::now();
    const astsieve_bench::FloorCount count = run();
    out->ns = since(start);
    out->visited = count.visited;
    out->returned = count.accepted;
  });
}

__attribute__((visibility("default"))) int astsieve_probe_engine(int walk, std::uint64_t unit,
                                                                 const CXCursor* cursor,
                                                                 const char* pattern,
                                                                 const char* main_path,
                                                                 ProbeResult* out) {
  return guarded([&] {
    out->visited = 0;
    if (walk == UnitWalk) {
      timed_call(out,
                 [&] { return astsieve::get_path_to_lineno_to_nodes(unit, pattern, main_path); });
    } else if (walk == SubtreeWalk) {
      timed_call(out, [&] {
        return astsieve::update_path_lineno(astsieve::to_cursor_tuple(*cursor), pattern, main_path);
      });
    } else {
      timed_call(out, [&] {
        return astsieve::get_path_to_nodes(astsieve::to_cursor_tuple(*cursor), pattern, main_path);
      });
    }
  });
}

}  // extern "C"
