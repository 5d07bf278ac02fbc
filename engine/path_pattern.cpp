#include "path_pattern.h"

#include <optional>
#include <regex>
#include <utility>

#include "pattern_compiler.h"
#include "pattern_glob.h"
#include "pattern_guard.h"
#include "pattern_matcher.h"

namespace astsieve {

struct PathPattern::Impl {
  pattern::Matcher matcher;
  std::optional<pattern::Glob> glob;
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
  impl_.reset(new Impl{pattern::Matcher(std::move(program)), std::move(glob)});
}

PathPattern::~PathPattern() = default;
PathPattern::PathPattern(PathPattern&&) noexcept = default;
PathPattern& PathPattern::operator=(PathPattern&&) noexcept = default;

bool PathPattern::full_match(std::string_view path) const {
  if (impl_->glob) {
    return impl_->glob->full_match(path);
  }
  return impl_->matcher.full_match(path);
}

}  // namespace astsieve
