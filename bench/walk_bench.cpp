// get_path_to_lineno_to_nodes returning the engine's native result, side by
// side with the floor of the same walk (floor_walk.h), on parsed units: with
// the main file only, and with a pattern accepting every file.
//
// Usage: astsieve_walk_bench [--repeat N] [SOURCE [CLANG_ARG...]]
// Without SOURCE it parses, with llvm-config's compile flags, the unit that
// includes <llvm/IR/IRBuilder.h> (bench/units/irbuilder_user.cpp), walked
// both ways, and IRBuilder.h itself as the main file, walked with the main
// file only.
#include <clang-c/Index.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "floor_walk.h"
#include "heap_counter.h"
#include "walk/grouping.h"
#include "walk_bench_config.h"

namespace astsieve_bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Scenario {
  const char* name;
  std::string pattern;
};

struct Unit {
  std::string source;
  std::vector<std::string> clang_args;
  std::vector<Scenario> scenarios;
};

const Scenario kMainFileOnly{"main file only", ""};
const Scenario kEveryFile{"pattern .*", ".*"};

struct Options {
  int repeat = 7;
  std::vector<Unit> units;
};

// Best (smallest) time of each measured step, in nanoseconds.
struct Timings {
  double floor = std::numeric_limits<double>::infinity();
  double engine = std::numeric_limits<double>::infinity();
  double release = std::numeric_limits<double>::infinity();
};

double elapsed_ns(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::nano>(to - from).count();
}

std::uint64_t node_count(const astsieve::PathToLinenoToNodes& result) {
  std::uint64_t count = 0;
  for (const auto& by_line : result) {
    for (const auto& nodes : by_line.second) {
      count += nodes.second.size();
    }
  }
  return count;
}

std::optional<Options> parse_options(int argc, char** argv) {
  Options options;
  int i = 1;
  if (i + 1 < argc && std::string(argv[i]) == "--repeat") {
    options.repeat = std::atoi(argv[i + 1]);
    i += 2;
  }
  if (options.repeat < 1 || (i < argc && argv[i][0] == '-')) {
    return std::nullopt;
  }
  if (i == argc) {
    const std::vector<std::string> args(std::begin(kDefaultClangArgs), std::end(kDefaultClangArgs));
    options.units.push_back({kDefaultSource, args, {kMainFileOnly, kEveryFile}});
    options.units.push_back({kIRBuilderHeader, args, {kMainFileOnly}});
    return options;
  }
  options.units.push_back(
      {argv[i], std::vector<std::string>(argv + i + 1, argv + argc), {kMainFileOnly, kEveryFile}});
  return options;
}

// Parses like clang.cindex does by default (no options); a unit with errors
// is refused, since its tree would not be the one meant.
CXTranslationUnit parse(CXIndex index, const Unit& source) {
  std::vector<const char*> args;
  for (const std::string& arg : source.clang_args) {
    args.push_back(arg.c_str());
  }
  CXTranslationUnit unit = nullptr;
  const CXErrorCode status =
      clang_parseTranslationUnit2(index, source.source.c_str(), args.data(),
                                  static_cast<int>(args.size()), nullptr, 0, 0, &unit);
  if (status != CXError_Success) {
    std::fprintf(stderr, "cannot parse %s (error %d)\n", source.source.c_str(), status);
    return nullptr;
  }
  for (unsigned i = 0; i < clang_getNumDiagnostics(unit); ++i) {
    CXDiagnostic diagnostic = clang_getDiagnostic(unit, i);
    const bool error = clang_getDiagnosticSeverity(diagnostic) >= CXDiagnostic_Error;
    if (error) {
      CXString text = clang_formatDiagnostic(diagnostic, clang_defaultDiagnosticDisplayOptions());
      std::fprintf(stderr, "%s\n", clang_getCString(text));
      clang_disposeString(text);
    }
    clang_disposeDiagnostic(diagnostic);
    if (error) {
      clang_disposeTranslationUnit(unit);
      return nullptr;
    }
  }
  return unit;
}

int run_scenario(CXTranslationUnit unit, const std::string& main_path, const Scenario& scenario,
                 int repeat) {
  const auto handle = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(unit));
  Timings best;
  FloorCount floor_count;
  std::uint64_t engine_nodes = 0;
  FloorFilter filter(scenario.pattern, main_path);
  floor_walk_unit(unit, filter);  // teaches the filter every file's verdict
  for (int run = 0; run < repeat; ++run) {
    const Clock::time_point floor_start = Clock::now();
    floor_count = floor_walk_unit(unit, filter);
    const Clock::time_point engine_start = Clock::now();
    std::optional<astsieve::PathToLinenoToNodes> result =
        astsieve::get_path_to_lineno_to_nodes(handle, scenario.pattern, main_path);
    const Clock::time_point release_start = Clock::now();
    engine_nodes = node_count(*result);
    const Clock::time_point release_from = Clock::now();
    result.reset();
    const Clock::time_point end = Clock::now();
    best.floor = std::min(best.floor, elapsed_ns(floor_start, engine_start));
    best.engine = std::min(best.engine, elapsed_ns(engine_start, release_start));
    best.release = std::min(best.release, elapsed_ns(release_from, end));
  }
  if (engine_nodes != floor_count.accepted) {
    std::fprintf(stderr, "%s: the engine returned %llu nodes, the floor accepted %llu\n",
                 scenario.name, static_cast<unsigned long long>(engine_nodes),
                 static_cast<unsigned long long>(floor_count.accepted));
    return 1;
  }

  start_heap_count();
  auto kept = astsieve::get_path_to_lineno_to_nodes(handle, scenario.pattern, main_path);
  const HeapCounts heap = heap_counts();
  stop_heap_count();

  const auto visited = static_cast<double>(floor_count.visited);
  const auto accepted = static_cast<double>(std::max<std::uint64_t>(engine_nodes, 1));
  std::printf("%-16s %9llu %9llu %9.1f %9.1f %6.2fx %9.1f %9.1f %9.1f\n", scenario.name,
              static_cast<unsigned long long>(floor_count.visited),
              static_cast<unsigned long long>(engine_nodes), best.floor / visited,
              best.engine / visited, best.engine / best.floor, best.release / visited,
              static_cast<double>(heap.peak) / accepted, static_cast<double>(heap.live) / accepted);
  return 0;
}

}  // namespace
}  // namespace astsieve_bench

int main(int argc, char** argv) {
  using namespace astsieve_bench;
  const std::optional<Options> options = parse_options(argc, argv);
  if (!options) {
    std::fprintf(stderr, "usage: %s [--repeat N] [SOURCE [CLANG_ARG...]]\n", argv[0]);
    return 2;
  }
  std::printf(
      "Best of %d runs; times in ns per visited node, memory in bytes per returned\n"
      "node (heap peak during the call, and what the result keeps)\n",
      options->repeat);
  CXIndex index = clang_createIndex(0, 0);
  int status = 0;
  for (const Unit& source : options->units) {
    CXTranslationUnit unit = parse(index, source);
    if (unit == nullptr) {
      status = 1;
      continue;
    }
    std::printf("\nunit %s\n%-16s %9s %9s %9s %9s %7s %9s %9s %9s\n", source.source.c_str(), "case",
                "visited", "returned", "floor", "engine", "ratio", "release", "peak", "kept");
    for (const Scenario& scenario : source.scenarios) {
      status |= run_scenario(unit, source.source, scenario, options->repeat);
    }
    clang_disposeTranslationUnit(unit);
  }
  clang_disposeIndex(index);
  return status;
}
