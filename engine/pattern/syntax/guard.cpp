#include "guard.h"

#include <regex>
#include <vector>

#include "error.h"

namespace astsieve {
namespace pattern {
namespace {

// Index just past the bracket expression whose '[' is at `at`.
std::size_t skip_bracket(const std::string& pattern, std::size_t at) {
  const std::size_t size = pattern.size();
  ++at;
  if (at < size && pattern[at] == '^') {
    ++at;
  }
  while (at < size) {
    const char c = pattern[at++];
    if (c == ']') {
      return at;
    }
    if (c == '\\') {
      ++at;
    } else if (c == '[' && at < size &&
               (pattern[at] == ':' || pattern[at] == '.' || pattern[at] == '=')) {
      const char delimiter = pattern[at++];
      while (at + 1 < size && !(pattern[at] == delimiter && pattern[at + 1] == ']')) {
        ++at;
      }
      at += 2;
    }
  }
  return size;
}

}  // namespace

void refuse_deep_pattern(const std::string& pattern) {
  // Terms read so far in the current alternative of each open level.
  std::vector<std::size_t> terms{0};
  std::size_t depth = 0;
  const auto add_term = [&] {
    ++terms.back();
    if (++depth > kMaxCompileDepth) {
      fail(std::regex_constants::error_stack);
    }
  };
  std::size_t at = 0;
  while (at < pattern.size()) {
    const char c = pattern[at];
    switch (c) {
      case '\\': {
        const char kind = at + 1 < pattern.size() ? pattern[at + 1] : '\0';
        at += kind == 'x' ? 4u : kind == 'u' ? 6u : kind == 'c' ? 3u : 2u;
        add_term();
        break;
      }
      case '[':
        at = skip_bracket(pattern, at);
        add_term();
        break;
      case '(':
        add_term();
        terms.push_back(0);
        depth += kGroupDepthCost;
        at += at + 1 < pattern.size() && pattern[at + 1] == '?' ? 3u : 1u;
        break;
      case ')':
        if (terms.size() > 1) {
          depth -= terms.back() + kGroupDepthCost;
          terms.pop_back();
        }
        ++at;
        break;
      case '|':
        depth -= terms.back();
        terms.back() = 0;
        ++at;
        break;
      case '{': {
        const std::size_t close = pattern.find('}', at);
        at = close == std::string::npos ? pattern.size() : close + 1;
        break;
      }
      case '*':
      case '+':
      case '?':
        ++at;
        break;
      default:
        add_term();
        ++at;
        break;
    }
  }
}

}  // namespace pattern
}  // namespace astsieve
