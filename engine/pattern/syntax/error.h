// How every part of the matcher refuses a pattern or a match: with the
// standard library's own exception and code, so that callers see exactly
// what std::regex would have thrown.
#pragma once

#include <regex>

namespace astsieve {
namespace pattern {

[[noreturn]] inline void fail(std::regex_constants::error_type code) {
  throw std::regex_error(code);
}

}  // namespace pattern
}  // namespace astsieve
