// A deterministic automaton for the patterns that need no backtracking
// memory at all: no lookahead, back-reference or word boundary. Built in
// full when the pattern is compiled (bytes grouped into classes that every
// byte set of the pattern respects), then one table step per byte, with runs
// of bytes that leave the state unchanged skipped in a tight loop.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "program.h"

namespace astsieve {
namespace pattern {

class Dfa {
 public:
  // More states than this, or more work building them (states of the
  // program visited or joined), and the pattern is left to the backtracker.
  static constexpr std::uint32_t kMaxStates = 1024;
  static constexpr std::uint64_t kMaxWork = 4'000'000;

  static std::optional<Dfa> from(const Program& program);

  bool full_match(std::string_view subject) const;

 private:
  std::array<std::uint8_t, 256> class_of_{};
  std::uint32_t classes_ = 0;
  std::vector<std::uint32_t> next_;  // [state * classes_ + class]
  std::vector<bool> accepts_;        // at the end of the subject
  std::vector<bool> skips_;          // whether scanning for bytes that change the state pays
  std::vector<std::uint8_t> stays_;  // [state * 256 + byte]: 1 when it leads back to the state
  std::uint32_t start_ = 0;
  std::uint32_t dead_ = 0;
};

}  // namespace pattern
}  // namespace astsieve
