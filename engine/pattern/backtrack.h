// The backtracking matcher: one anchored attempt of a Program over a whole
// byte string, without native recursion, bounded in work and in nesting.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "syntax/program.h"

namespace astsieve {
namespace pattern {

struct Budget {
  std::uint64_t steps = 10'000'000;  // states visited; then error_complexity
  std::uint32_t nesting = 600;       // lookaheads open at once; then error_stack
};

enum class Strategy {
  // Remembers which (state, position) pairs were already explored, so that a
  // pattern without back-references runs in time linear in the subject;
  // falls back to Replay where that is impossible or too large.
  Memo,
  // Walks the search exactly in the standard library's order, with its
  // repeat bookkeeping and capture handling; used for back-references.
  Replay,
};

struct Scratch;

// One Matcher serves one thread at a time: its matches share work buffers.
class Matcher {
 public:
  explicit Matcher(Program program);
  ~Matcher();
  Matcher(Matcher&&) noexcept;
  Matcher& operator=(Matcher&&) noexcept;

  // True when the whole of `subject` matches. Throws std::regex_error with
  // error_stack or error_complexity when a budget runs out. `steps`, when
  // given, receives the number of steps taken.
  bool full_match(std::string_view subject, const Budget& budget = Budget{},
                  Strategy strategy = Strategy::Memo, std::uint64_t* steps = nullptr) const;

  const Program& program() const { return program_; }

 private:
  friend class Search;

  // What a state's continuation may consume first: a byte of `bytes` (just
  // `single` when that is the only one), or nothing on the way to acceptance
  // when `empty`; `anything` disables the filter.
  struct First {
    ByteSet bytes;
    int single = -1;
    bool empty = false;
    bool anything = true;
  };
  First first_of(std::uint32_t state) const;

  // A repeat whose body is one byte class and leads straight back to it.
  struct Loop {
    ByteSet body;
    First next;
  };

  Program program_;
  std::vector<std::uint32_t> join_;  // per state: index among join states, or kNoState
  std::uint32_t joins_ = 0;
  std::vector<std::uint32_t> repeat_;  // per state: index among repeat states
  std::uint32_t repeats_ = 0;
  std::vector<std::uint32_t> lookahead_;  // per state: index among lookaheads
  std::uint32_t lookaheads_ = 0;
  std::vector<std::uint32_t> loop_;  // per repeat state: index into loops_, or kNoState
  std::vector<Loop> loops_;
  mutable std::unique_ptr<Scratch> scratch_;
};

}  // namespace pattern
}  // namespace astsieve
