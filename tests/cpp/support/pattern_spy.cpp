#include "pattern_spy.h"

#include <regex>

#include "pattern/path_pattern.h"

namespace pattern_spy {

Log& log() {
  static Log the_log;
  return the_log;
}

void reset() { log() = Log{}; }

}  // namespace pattern_spy

namespace astsieve {

struct PathPattern::Impl {
  std::regex regex;
};

PathPattern::PathPattern(const std::string& pattern) {
  pattern_spy::Log& log = pattern_spy::log();
  if (log.on_compile) {
    log.on_compile(pattern);
  }
  log.compiled.push_back(pattern);
  impl_.reset(new Impl{std::regex(pattern, std::regex::ECMAScript)});
}

PathPattern::~PathPattern() = default;
PathPattern::PathPattern(PathPattern&&) noexcept = default;
PathPattern& PathPattern::operator=(PathPattern&&) noexcept = default;

bool PathPattern::full_match(std::string_view path) const {
  pattern_spy::Log& log = pattern_spy::log();
  const std::string subject(path);
  if (log.on_match) {
    log.on_match(subject);
  }
  log.matched.push_back(subject);
  if (log.over_budget_path == subject) {
    throw std::regex_error(std::regex_constants::error_complexity);
  }
  return std::regex_match(subject, impl_->regex);
}

}  // namespace astsieve
