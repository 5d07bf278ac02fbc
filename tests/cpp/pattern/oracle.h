// Compares the path matcher with std::regex, the independent oracle: the
// same compile errors, and the same full-match answer on each subject, for
// every way the matcher can answer (glob shortcut, memoised search, replay).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>

#include "pattern/backtrack.h"
#include "pattern/path_pattern.h"

namespace astsieve {
namespace testing {

class OracleCheck {
 public:
  enum Outcome { Agree, Skipped, Disagree };

  explicit OracleCheck(const std::string& pattern);

  // Whether both took the pattern, or both rejected it with the same code;
  // and whether the matcher's own parser, which alone decides what the
  // matcher takes, took it exactly when the standard library did.
  Outcome compile_outcome(std::string* detail) const;
  bool compiled() const { return regex_.has_value(); }

  // Skipped when the standard library would take too long (a replay of
  // its search takes more than `oracle_steps()` steps); then only the
  // matcher's ways are compared with each other. `matched` receives the
  // agreed answer.
  Outcome compare(const std::string& subject, std::string* detail, bool* matched) const;

 private:
  // The standard library copies its per-state bookkeeping for every
  // lookahead it tries, so those steps cost as much as the automaton's size.
  std::uint64_t oracle_steps() const;

  std::string pattern_;
  std::optional<std::regex> regex_;
  std::optional<std::regex_constants::error_type> regex_error_;
  // What the matcher's own parser made of the pattern below the size at
  // which the standard library is asked anyway.
  enum class OwnParser { Took, Refused, Doubted } own_parser_ = OwnParser::Refused;
  std::unique_ptr<PathPattern> path_pattern_;
  std::optional<std::regex_constants::error_type> path_pattern_error_;
  std::unique_ptr<pattern::Matcher> memo_;
  std::unique_ptr<pattern::Matcher> replay_;
};

// The standard library's search recurses once per step; this runs `body`
// on a stack large enough for anything the oracle is asked.
void run_on_large_stack(const std::function<void()>& body);

// Printable form of a byte string for failure messages.
std::string escaped(const std::string& text);

}  // namespace testing
}  // namespace astsieve
