// A stand-in for the engine's PathPattern, linked in its place: it matches
// with std::regex (ECMAScript, whole path) and records every compile and
// every match, so that tests can show when and how often the file filter
// consults its pattern. No counter is needed in the engine itself.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pattern_spy {

struct Log {
  std::vector<std::string> compiled;  // patterns, in order
  std::vector<std::string> matched;   // paths, in order
  // Run at the start of each compile and each match, with the pattern or path.
  std::function<void(const std::string&)> on_compile;
  std::function<void(const std::string&)> on_match;
  // A path whose match fails as if it ran out of its step budget.
  std::optional<std::string> over_budget_path;
};

// The log of the running test; reset() empties it.
Log& log();
void reset();

}  // namespace pattern_spy
