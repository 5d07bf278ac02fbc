// Patterns made of literal bytes and ".*" only (for example "/usr/include/.*",
// ".*\.h", ".*include.*" or ".*"): a full match of those needs no
// backtracking, only prefix, suffix and substring tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "syntax/program.h"

namespace astsieve {
namespace pattern {

class Glob {
 public:
  // The glob equivalent to `program`, if it has that shape. Lazy and greedy
  // stars count alike, since only the yes-or-no answer is used.
  static std::optional<Glob> from(const Program& program);

  bool full_match(std::string_view subject) const;

 private:
  // Without stars only `head` is used; otherwise the subject is `head`, then
  // each of `middle` in order, then `tail`, with runs of bytes other than
  // line feed and carriage return in between.
  bool starred_ = false;
  std::string head_;
  std::vector<std::string> middle_;
  std::string tail_;
};

}  // namespace pattern
}  // namespace astsieve
