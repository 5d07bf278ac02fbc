// The standard library compiles a pattern by recursive descent: it keeps one
// native frame open per term of an alternative still being read, and several
// per open group, so a long or deeply nested pattern overflows the stack
// before it can report anything. This refuses such patterns beforehand.
#pragma once

#include <string>

namespace astsieve {
namespace pattern {

// Estimated open frames, in units of one term, above which a pattern is
// refused; about 0.8 MB of stack in an optimised build, 5 MB with the address
// sanitizer.
inline constexpr std::size_t kMaxCompileDepth = 8000;
// Cost of one open group in units of one term.
inline constexpr std::size_t kGroupDepthCost = 5;

// Throws std::regex_error(error_stack) when compiling `pattern` with
// std::regex could go deeper than kMaxCompileDepth. Any pattern, valid or
// not, is accepted as input.
void refuse_deep_pattern(const std::string& pattern);

}  // namespace pattern
}  // namespace astsieve
