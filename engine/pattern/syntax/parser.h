// Compiles an ECMAScript pattern into a Program, iteratively, following the
// standard library's grammar and automaton construction. Byte classes are
// taken from std::regex_traits<char> under the global locale of the moment.
#pragma once

#include <cstddef>
#include <string>

#include "program.h"

namespace astsieve {
namespace pattern {

// The standard library's bound on the states of its automaton, beyond which
// it refuses a pattern with error_space. The compiler here makes the same
// states as the standard library's, less the empty one that closes each of
// its alternatives.
inline constexpr std::size_t kStandardStateLimit = 100'000;

// Below this many states here the standard library cannot run out of
// states: its automaton has at most about four times as many (one more per
// alternative, and its copies of repeated groups may hold a state twice;
// measured, never more than one and a half times as many).
inline constexpr std::size_t kStatesBelowDoubt = kStandardStateLimit / 5;

// Parses `pattern` into its automaton as the standard library builds it,
// placeholders included. Throws std::regex_error for every pattern that the
// standard library rejects (with a code of its own, not always the standard
// library's), and with error_space once the automaton would have more than
// `max_states` states.
Program parse_pattern(const std::string& pattern, std::size_t max_states = kStandardStateLimit);

// Makes a parsed automaton ready for matching: placeholders bypassed, the
// states that can be reached numbered from 0 in the order a search meets
// them, the flags set. With `keep_captures` false the capture bookkeeping
// of a pattern without back-references is left out too, since nothing
// could observe it.
void finish_program(Program& program, bool keep_captures = false);

// Both.
Program compile_pattern(const std::string& pattern, bool keep_captures = false,
                        std::size_t max_states = kStandardStateLimit);

}  // namespace pattern
}  // namespace astsieve
