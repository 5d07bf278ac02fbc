// A compiled path pattern: one anchored full match of a whole byte string.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace astsieve {

class PathPattern {
 public:
  // Compiles an ECMAScript pattern. Throws std::regex_error with the
  // standard library's code for an invalid pattern, and with error_stack for
  // one nested too deeply to be checked safely. Byte classes follow the
  // global locale of this moment.
  explicit PathPattern(const std::string& pattern);
  ~PathPattern();
  PathPattern(PathPattern&&) noexcept;
  PathPattern& operator=(PathPattern&&) noexcept;

  // True when the whole of `path` matches. Throws std::regex_error when a
  // match runs out of its budget: error_complexity after 10,000,000 steps,
  // error_stack with more than 600 lookaheads open at once (or a
  // backtracking stack beyond 64 MB). The first match picks the way to
  // answer; matches keep what they build (automaton states, work buffers)
  // in the pattern for the next, so one pattern serves one thread at a time.
  bool full_match(std::string_view path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace astsieve
