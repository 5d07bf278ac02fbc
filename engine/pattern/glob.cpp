#include "glob.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "syntax/byte_class.h"

namespace astsieve {
namespace pattern {
namespace {

// Whether `text` holds a line feed or a carriage return: one pass, sixteen
// bytes at a time where SSE2 is there, else eight.
bool has_line_end(std::string_view text) {
  const char* at = text.data();
  const char* const end = at + text.size();
#if defined(__SSE2__)
  if (text.size() >= 16) {
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i carriage_return = _mm_set1_epi8('\r');
    const auto holds = [&](const char* block) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
      return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, line_feed),
                                            _mm_cmpeq_epi8(bytes, carriage_return))) != 0;
    };
    // The last block overlaps the one before it rather than leaving a rest.
    const char* const last = end - 16;
    for (; at < last; at += 16) {
      if (holds(at)) {
        return true;
      }
    }
    return holds(last);
  }
#endif
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighs = 0x8080808080808080u;
  const auto has_zero_byte = [](std::uint64_t word) { return (word - kOnes) & ~word & kHighs; };
  for (; end - at >= 8; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    if (has_zero_byte(word ^ (kOnes * '\n')) | has_zero_byte(word ^ (kOnes * '\r'))) {
      return true;
    }
  }
  for (; at != end; ++at) {
    if (*at == '\n' || *at == '\r') {
      return true;
    }
  }
  return false;
}

// The single byte a state takes, when it takes exactly one.
std::optional<char> single_byte(const Program& program, const State& state) {
  if (state.op == Op::Byte) {
    return static_cast<char>(state.arg);
  }
  if (state.op == Op::Class) {
    const int byte = program.classes[state.arg].single();
    if (byte >= 0) {
      return static_cast<char>(byte);
    }
  }
  return std::nullopt;
}

// Follows the chain of states from the start: true when it is made of
// single bytes and ".*" only, up to the end. With `pieces`, collects the
// literal runs between the stars.
bool walk_chain(const Program& program, std::vector<std::string>* pieces) {
  const ByteSet any = any_byte_but_line_ends();
  std::uint32_t id = program.start;
  // Each state is passed at most once: the chain only moves forward.
  for (std::size_t guard = 0; guard <= program.states.size(); ++guard) {
    const State& state = program.states[id];
    if (state.op == Op::Accept) {
      return true;
    }
    if (const auto byte = single_byte(program, state)) {
      if (pieces != nullptr) {
        pieces->back() += *byte;
      }
    } else if (state.op == Op::Repeat) {
      const State& body = program.states[state.alt];
      if (body.op != Op::Class || body.next != id || !(program.classes[body.arg] == any)) {
        return false;
      }
      if (pieces != nullptr && (!pieces->back().empty() || pieces->size() == 1)) {
        pieces->emplace_back();
      }
    } else if (state.op != Op::CaptureBegin && state.op != Op::CaptureEnd) {
      return false;
    }
    id = state.next;
  }
  return false;
}

}  // namespace

std::optional<Glob> Glob::from(const Program& program) {
  if (program.has_back_references || !walk_chain(program, nullptr)) {
    return std::nullopt;
  }
  std::vector<std::string> pieces(1);
  walk_chain(program, &pieces);
  Glob glob;
  glob.starred_ = pieces.size() > 1;
  glob.head_ = pieces.front();
  if (glob.starred_) {
    glob.tail_ = pieces.back();
    glob.middle_.assign(pieces.begin() + 1, pieces.end() - 1);
    for (const std::string& piece : pieces) {
      if (has_line_end(piece)) {
        return std::nullopt;
      }
    }
  }
  return glob;
}

bool Glob::full_match(std::string_view subject) const {
  if (!starred_) {
    return subject == head_;
  }
  if (subject.size() < head_.size() + tail_.size() ||
      subject.compare(0, head_.size(), head_) != 0 ||
      subject.compare(subject.size() - tail_.size(), tail_.size(), tail_) != 0) {
    return false;
  }
  // Head, tail and middle pieces hold no line end: only the rest can.
  std::string_view rest =
      subject.substr(head_.size(), subject.size() - head_.size() - tail_.size());
  if (has_line_end(rest)) {
    return false;
  }
  for (const std::string& piece : middle_) {
    const std::size_t at = rest.find(piece);
    if (at == std::string_view::npos) {
      return false;
    }
    rest.remove_prefix(at + piece.size());
  }
  return true;
}

}  // namespace pattern
}  // namespace astsieve
