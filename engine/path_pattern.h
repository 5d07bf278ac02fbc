// A compiled path pattern: one anchored full match of a whole byte string.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace astsieve {

class PathPattern {
 public:
  // Compiles an ECMAScript pattern. Throws std::regex_error for an invalid
  // pattern.
  explicit PathPattern(const std::string& pattern);
  ~PathPattern();
  PathPattern(PathPattern&&) noexcept;
  PathPattern& operator=(PathPattern&&) noexcept;

  // True when the whole of `path` matches. Throws std::regex_error when a
  // match runs out of its step or nesting budget.
  bool full_match(std::string_view path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace astsieve
