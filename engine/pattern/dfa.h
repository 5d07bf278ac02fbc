// A deterministic automaton for the patterns that need no backtracking
// memory at all: no lookahead, back-reference or word boundary. Built
// lazily: a state, and each of its transitions, comes into being when a
// match first needs it, and is kept for the later matches of the same
// pattern. One table step per byte, runs of bytes that keep the state
// skipped in a tight loop.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "syntax/program.h"

namespace astsieve {
namespace pattern {

class Dfa {
 public:
  // More states than this, or more work building them (states of the
  // program visited or held), and the automaton gives up: the pattern is
  // then left to the backtracker.
  static constexpr std::uint32_t kMaxStates = 1024;
  static constexpr std::uint64_t kMaxWork = 4'000'000;

  // Whether the automaton can answer for `program`.
  static bool applies(const Program& program);

  // Builds nothing yet. `program` must outlive the automaton.
  explicit Dfa(const Program& program) : program_(&program) {}

  // Whether the whole of `subject` matches; nothing once the automaton has
  // run out of states or work, then or in an earlier match.
  std::optional<bool> full_match(std::string_view subject);

 private:
  static constexpr std::uint32_t kUnknown = 0xffffffffu;  // transition not built yet
  static constexpr std::uint32_t kDead = 0xfffffffeu;     // no match from here on
  static constexpr std::uint32_t kGaveUp = 0xfffffffdu;   // over a bound

  // The byte states reachable from `seeds` without consuming, sorted, then
  // 1 when the end of the subject is accepted there, else 0.
  void close(bool at_start);
  // The state of the closure just made, a new one if need be; kDead when it
  // can accept nothing, kGaveUp when a bound is reached.
  std::uint32_t state_for_closure();
  // Builds the transition of `state` on `byte`.
  std::uint32_t step(std::uint32_t state, unsigned char byte);
  void give_up();

  const Program* program_;
  bool gave_up_ = false;
  std::uint32_t start_ = kUnknown;
  std::uint64_t work_ = 0;
  std::vector<std::uint32_t> next_;     // [state * 256 + byte]
  std::vector<std::uint8_t> stays_;     // [state * 256 + byte]: 1 when known to lead back
  std::vector<std::uint32_t> members_;  // byte states of each state, one run each
  std::vector<std::uint32_t> first_;    // per state: where its run starts; one more at the end
  std::vector<bool> accepts_;           // per state: at the end of the subject
  std::map<std::vector<std::uint32_t>, std::uint32_t> numbers_;  // closure -> state
  // Seeds (the program states right after the byte states that took a
  // byte) -> the state of their closure, shared by all bytes and states that
  // lead to the same seeds.
  std::map<std::vector<std::uint32_t>, std::uint32_t> targets_;
  // Work buffers of close() and step().
  std::vector<std::uint32_t> seeds_;
  std::vector<std::uint32_t> closure_;
  std::vector<std::uint32_t> reached_;  // [program state * 2 + at end]: round last reached
  std::uint32_t round_ = 0;
  std::vector<std::pair<std::uint32_t, bool>> pending_;
};

}  // namespace pattern
}  // namespace astsieve
