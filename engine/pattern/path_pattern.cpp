#include "path_pattern.h"

#include <optional>
#include <regex>
#include <utility>

#include "backtrack.h"
#include "dfa.h"
#include "glob.h"
#include "syntax/guard.h"
#include "syntax/parser.h"

namespace astsieve {

// The pattern is parsed when it is given; everything else waits for the
// first match, which may never come: finishing the automaton, then the
// quickest way that answers exactly: prefix, suffix and substring tests,
// else the lazily built automaton, else the backtracker.
struct PathPattern::Impl {
  explicit Impl(pattern::Program parsed) : program(std::move(parsed)) {}

  pattern::Program program;
  bool ready = false;
  std::optional<pattern::Glob> glob;
  std::optional<pattern::Dfa> dfa;
  std::optional<pattern::Matcher> matcher;

  void prepare() {
    pattern::finish_program(program);
    glob = pattern::Glob::from(program);
    if (!glob && pattern::Dfa::applies(program)) {
      dfa.emplace(program);
    }
    ready = true;
  }

  const pattern::Matcher& backtracker() {
    if (!matcher) {
      matcher.emplace(program);
    }
    return *matcher;
  }
};

namespace {

// Parses with the project's own parser, which decides what is valid. The
// standard library is asked only when that parser refuses a pattern (or
// finds it large enough that the standard library might), so that an
// invalid pattern fails with the standard library's own code and text.
pattern::Program compile(const std::string& pattern) {
  pattern::refuse_deep_pattern(pattern);
  try {
    return pattern::parse_pattern(pattern, pattern::kStatesBelowDoubt);
  } catch (const std::regex_error& refused) {
    const std::regex checked(pattern, std::regex::ECMAScript);
    static_cast<void>(checked);
    if (refused.code() != std::regex_constants::error_space) {
      throw;
    }
  }
  return pattern::parse_pattern(pattern);
}

}  // namespace

PathPattern::PathPattern(const std::string& pattern)
    : impl_(std::make_unique<Impl>(compile(pattern))) {}

PathPattern::~PathPattern() = default;
PathPattern::PathPattern(PathPattern&&) noexcept = default;
PathPattern& PathPattern::operator=(PathPattern&&) noexcept = default;

bool PathPattern::full_match(std::string_view path) const {
  if (!impl_->ready) {
    impl_->prepare();
  }
  if (impl_->glob) {
    return impl_->glob->full_match(path);
  }
  if (impl_->dfa) {
    if (const std::optional<bool> matched = impl_->dfa->full_match(path)) {
      return *matched;
    }
  }
  return impl_->backtracker().full_match(path);
}

}  // namespace astsieve
