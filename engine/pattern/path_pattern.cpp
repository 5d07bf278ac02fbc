#include "path_pattern.h"

#include <optional>
#include <regex>
#include <utility>

#include "compiler.h"
#include "dfa.h"
#include "glob.h"
#include "guard.h"
#include "matcher.h"

namespace astsieve {

// The quickest way that answers exactly: prefix, suffix and substring tests,
// else a table-driven automaton, else the backtracker.
struct PathPattern::Impl {
  std::optional<pattern::Glob> glob;
  std::optional<pattern::Dfa> dfa;
  pattern::Matcher matcher;
};

namespace {

// The standard library has the last word on what is a valid pattern and
// with which error code it is not.
void validate(const std::string& pattern) {
  pattern::refuse_deep_pattern(pattern);
  const std::regex checked(pattern, std::regex::ECMAScript);
  static_cast<void>(checked);
}

}  // namespace

PathPattern::PathPattern(const std::string& pattern) {
  validate(pattern);
  pattern::Program program = pattern::compile_pattern(pattern);
  std::optional<pattern::Glob> glob = pattern::Glob::from(program);
  std::optional<pattern::Dfa> dfa;
  if (!glob) {
    dfa = pattern::Dfa::from(program);
  }
  impl_.reset(new Impl{std::move(glob), std::move(dfa), pattern::Matcher(std::move(program))});
}

PathPattern::~PathPattern() = default;
PathPattern::PathPattern(PathPattern&&) noexcept = default;
PathPattern& PathPattern::operator=(PathPattern&&) noexcept = default;

bool PathPattern::full_match(std::string_view path) const {
  if (impl_->glob) {
    return impl_->glob->full_match(path);
  }
  if (impl_->dfa) {
    return impl_->dfa->full_match(path);
  }
  return impl_->matcher.full_match(path);
}

}  // namespace astsieve
