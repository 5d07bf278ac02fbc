// The path matcher next to std::regex_match, per match and per compile, on
// the path patterns people write and on real header paths of 40 to 120
// bytes from this machine's include directories.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "pattern/path_pattern.h"

namespace {

const char* const kPatterns[] = {
    ".*include.*", "/usr/include/.*",      ".*/(llvm|clang)/.*\\.(h|hpp|def|inc)", ".*\\.h",
    ".*",          "[^\\n]*IRBuilder\\.h",
};

std::vector<std::string> header_paths() {
  std::vector<std::string> paths;
  for (const char* root : {"/usr/include", "/usr/lib/llvm-14/include"}) {
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(root, error), end; it != end && !error;
         it.increment(error)) {
      const std::string path = it->path().string();
      if (it->is_regular_file(error) && path.size() >= 40 && path.size() <= 120) {
        paths.push_back(path);
      }
    }
  }
  std::sort(paths.begin(), paths.end());
  // An even spread of at most 1024 of them, both trees included.
  std::vector<std::string> chosen;
  const std::size_t stride = std::max<std::size_t>(1, paths.size() / 1024);
  for (std::size_t i = 0; i < paths.size(); i += stride) {
    chosen.push_back(paths[i]);
  }
  return chosen;
}

const std::vector<std::string>& paths() {
  static const std::vector<std::string> all = header_paths();
  return all;
}

template <typename Match>
void match_each_path(benchmark::State& state, Match&& match) {
  const auto& all = paths();
  if (all.empty()) {
    state.SkipWithError("no header paths of 40 to 120 bytes found");
    return;
  }
  std::size_t next = 0;
  std::int64_t matched = 0;
  for (auto _ : state) {
    const bool result = match(all[next]);
    benchmark::DoNotOptimize(result);
    matched += result ? 1 : 0;
    next = next + 1 == all.size() ? 0 : next + 1;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["matched"] =
      benchmark::Counter(static_cast<double>(matched) / static_cast<double>(state.iterations()));
}

void path_pattern_match(benchmark::State& state, const char* pattern) {
  const astsieve::PathPattern compiled(pattern);
  match_each_path(state, [&](const std::string& path) { return compiled.full_match(path); });
}

void std_regex_match(benchmark::State& state, const char* pattern) {
  const std::regex compiled(pattern, std::regex::ECMAScript);
  match_each_path(state, [&](const std::string& path) { return std::regex_match(path, compiled); });
}

void path_pattern_compile(benchmark::State& state, const char* pattern) {
  for (auto _ : state) {
    astsieve::PathPattern compiled(pattern);
    benchmark::DoNotOptimize(compiled);
  }
}

void std_regex_compile(benchmark::State& state, const char* pattern) {
  for (auto _ : state) {
    std::regex compiled(pattern, std::regex::ECMAScript);
    benchmark::DoNotOptimize(compiled);
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (const char* pattern : kPatterns) {
    const std::string name(pattern);
    benchmark::RegisterBenchmark(("match/std_regex/" + name).c_str(), std_regex_match, pattern);
    benchmark::RegisterBenchmark(("match/PathPattern/" + name).c_str(), path_pattern_match,
                                 pattern);
  }
  for (const char* pattern : kPatterns) {
    const std::string name(pattern);
    benchmark::RegisterBenchmark(("compile/std_regex/" + name).c_str(), std_regex_compile, pattern);
    benchmark::RegisterBenchmark(("compile/PathPattern/" + name).c_str(), path_pattern_compile,
                                 pattern);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
