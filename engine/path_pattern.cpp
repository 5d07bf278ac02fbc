#include "path_pattern.h"

#include <regex>

namespace astsieve {

struct PathPattern::Impl {
  std::regex regex;
};

PathPattern::PathPattern(const std::string& pattern)
    : impl_(new Impl{std::regex(pattern, std::regex::ECMAScript)}) {}

PathPattern::~PathPattern() = default;
PathPattern::PathPattern(PathPattern&&) noexcept = default;
PathPattern& PathPattern::operator=(PathPattern&&) noexcept = default;

bool PathPattern::full_match(std::string_view path) const {
  return std::regex_match(path.begin(), path.end(), impl_->regex);
}

}  // namespace astsieve
