// The compiled form of a path pattern: a graph of states walked by the
// backtracking matcher. The graph has the shape of the standard library's
// ECMAScript automaton (same states, same order of alternatives, same
// per-state repeat bookkeeping), so that both agree on every pattern,
// quirks included.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace astsieve {
namespace pattern {

// A set of bytes.
class ByteSet {
 public:
  ByteSet() = default;
  constexpr ByteSet(std::uint64_t w0, std::uint64_t w1, std::uint64_t w2, std::uint64_t w3)
      : words_{w0, w1, w2, w3} {}

  bool has(unsigned char byte) const { return (words_[byte >> 6] >> (byte & 63)) & 1u; }
  void add(unsigned char byte) { words_[byte >> 6] |= std::uint64_t{1} << (byte & 63); }
  void add_all(const ByteSet& other) {
    for (std::size_t i = 0; i < words_.size(); ++i) {
      words_[i] |= other.words_[i];
    }
  }
  void invert() {
    for (std::uint64_t& word : words_) {
      word = ~word;
    }
  }
  // The byte, when the set holds exactly one.
  int single() const;
  int count() const;
  bool operator==(const ByteSet& other) const { return words_ == other.words_; }

 private:
  std::array<std::uint64_t, 4> words_{};
};

enum class Op : std::uint8_t {
  Byte,           // one byte equal to `arg`
  Class,          // one byte in classes[arg]
  Alternative,    // `alt` first, then `next`
  Repeat,         // `alt` is one more round, `next` leaves; `flag`: lazy
  CaptureBegin,   // group `arg` starts here
  CaptureEnd,     // group `arg` ends here
  LineBegin,      // ^
  LineEnd,        // $
  WordBoundary,   // \b, or \B when `flag`
  Lookahead,      // (?= at `alt`, or (?! when `flag`; continues at `next`
  BackReference,  // the text of group `arg` again
  Accept,
  Dummy,  // placeholder while compiling; never reached when matching
};

inline constexpr std::uint32_t kNoState = 0xffffffffu;

struct State {
  Op op = Op::Dummy;
  bool flag = false;
  std::uint32_t next = kNoState;
  std::uint32_t alt = kNoState;
  std::uint32_t arg = 0;
};

struct Program {
  std::vector<State> states;
  std::uint32_t start = 0;
  std::vector<ByteSet> classes;
  ByteSet word;  // bytes that count as word characters for \b and \B, when it has them
  bool has_word_boundaries = false;
  std::uint32_t groups = 0;  // capture groups, the whole match (group 0) included
  bool has_back_references = false;
  bool has_lookaheads = false;
};

// The states one a line ("3: byte 'a' next 4"), for tests and debugging.
std::string dump(const Program& program);

}  // namespace pattern
}  // namespace astsieve
