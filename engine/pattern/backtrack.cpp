#include "backtrack.h"

#include <cstring>
#include <regex>
#include <utility>

#include "syntax/error.h"

namespace astsieve {
namespace pattern {
namespace {

constexpr std::uint32_t kNoPos = 0xffffffffu;
// Largest tables the memo strategy allocates: (join state, position) bits
// and (lookahead, position) bytes.
constexpr std::size_t kMaxMemoBits = std::size_t{1} << 27;
constexpr std::size_t kMaxLookaheadResults = std::size_t{1} << 24;
// Buffers larger than this are released after the match that needed them.
constexpr std::size_t kKeptBytes = std::size_t{1} << 20;
// Largest backtracking stack, in frames (16 bytes each).
constexpr std::size_t kMaxFrames = std::size_t{1} << 22;
// One-byte loops whose continuation gets a first-byte filter.
constexpr std::uint32_t kMaxFilteredLoops = 256;

enum class Kind : std::uint8_t {
  Try,             // explore `state` at `pos`
  LazyMore,        // one more round of lazy repeat `state` at `pos`
  RestoreRepeat,   // repeat mark `state` was (`pos`, `aux`, `small`)
  RestoreStart,    // capture `state` started at `pos`
  RestoreCapture,  // capture `state` was [`pos`, `aux`), matched `small`
  Boundary,        // lookahead `state` entered at `pos`
  Loop,            // continue after one-byte loop `state` at `pos`, down to `aux`
};

struct Frame {
  Kind kind;
  std::uint8_t small;
  std::uint32_t state;
  std::uint32_t pos;
  std::uint32_t aux;
};

struct Capture {
  std::uint32_t first = kNoPos;
  std::uint32_t second = kNoPos;
  bool matched = false;
};

// How often a repeat was entered at `pos` during run `run`.
struct RepeatMark {
  std::uint32_t pos = 0;
  std::uint32_t run = 0;
  std::uint8_t count = 0;
};

// The main attempt, or one lookahead being tried.
struct Run {
  std::uint32_t begin;  // where ^ holds and \b sees no byte before
  std::uint32_t id;
  std::size_t boundary;  // index of its Boundary frame
  std::size_t log;       // memo marks made before it
  std::size_t saved;     // offset of the captures saved when it began
};

}  // namespace

// Buffers reused from one match of a Matcher to the next.
struct Scratch {
  std::vector<Frame> frames;
  std::vector<std::uint64_t> visited;
  std::vector<std::size_t> log;
  std::vector<std::uint8_t> lookahead_results;
  std::vector<Capture> captures;
  std::vector<Capture> saved_captures;
  std::vector<RepeatMark> repeats;
  std::vector<Run> runs;
};

namespace {

template <typename T>
void release_if_large(std::vector<T>& buffer) {
  if (buffer.capacity() * sizeof(T) > kKeptBytes) {
    std::vector<T>().swap(buffer);
  }
}

}  // namespace

class Search {
 public:
  Search(const Matcher& matcher, std::string_view subject, const Budget& budget, bool memo);
  ~Search();
  bool run();
  std::uint64_t steps() const { return steps_; }

 private:
  enum class Next { Go, Fail, Success };

  Next visit(std::uint32_t& s, std::uint32_t& p);
  bool resume(std::uint32_t& s, std::uint32_t& p);
  Next repeat(std::uint32_t& s, std::uint32_t p);
  Next loop(std::uint32_t s, std::uint32_t p);
  Next lookahead(std::uint32_t& s, std::uint32_t p);
  bool finish_lookahead(bool success, const Frame& boundary, std::uint32_t& s, std::uint32_t& p);
  Next back_reference(std::uint32_t& s, std::uint32_t& p);
  bool word_boundary(std::uint32_t p) const;

  bool round_allowed(std::uint32_t s, std::uint32_t p) const;
  void start_round(std::uint32_t s, std::uint32_t p);
  bool seen(std::uint32_t s, std::uint32_t p);
  std::uint32_t first_seen(std::uint32_t s, std::uint32_t from, std::uint32_t to) const;
  void mark(std::uint32_t s, std::uint32_t from, std::uint32_t to);
  std::uint32_t candidate(const Matcher::First& next, std::uint32_t from, std::uint32_t low) const;
  void push(Kind kind, std::uint32_t state, std::uint32_t pos, std::uint32_t aux = 0,
            std::uint8_t small = 0) {
    if (frames_.size() >= kMaxFrames) {
      fail(std::regex_constants::error_stack);
    }
    frames_.push_back(Frame{kind, small, state, pos, aux});
  }
  unsigned char byte(std::uint32_t p) const { return static_cast<unsigned char>(subject_[p]); }

  const Matcher& matcher_;
  const Program& program_;
  const std::vector<State>& states_;
  std::string_view subject_;
  std::uint32_t size_;
  Budget budget_;
  bool memo_;
  bool captures_on_;
  std::uint64_t steps_ = 0;
  std::uint32_t run_id_ = 1;
  std::uint32_t last_run_id_ = 1;
  std::vector<Frame>& frames_ = matcher_.scratch_->frames;
  std::vector<std::uint64_t>& visited_ = matcher_.scratch_->visited;
  std::vector<std::size_t>& log_ = matcher_.scratch_->log;
  std::vector<std::uint8_t>& lookahead_results_ = matcher_.scratch_->lookahead_results;
  std::vector<Capture>& captures_ = matcher_.scratch_->captures;
  std::vector<Capture>& saved_captures_ = matcher_.scratch_->saved_captures;
  std::vector<RepeatMark>& repeats_ = matcher_.scratch_->repeats;
  std::vector<Run>& runs_ = matcher_.scratch_->runs;
};

Search::Search(const Matcher& matcher, std::string_view subject, const Budget& budget, bool memo)
    : matcher_(matcher),
      program_(matcher.program_),
      states_(matcher.program_.states),
      subject_(subject),
      size_(static_cast<std::uint32_t>(subject.size())),
      budget_(budget),
      memo_(memo),
      captures_on_(!memo && matcher.program_.has_back_references) {
  frames_.clear();
  log_.clear();
  runs_.clear();
  saved_captures_.clear();
  const std::size_t width = std::size_t{size_} + 1;
  if (memo_) {
    visited_.assign((matcher.joins_ * width + 63) / 64, 0);
    lookahead_results_.assign(matcher.lookaheads_ * width, 0);
  } else {
    repeats_.assign(matcher.repeats_, RepeatMark{});
  }
  if (captures_on_) {
    captures_.assign(program_.groups, Capture{});
  }
}

Search::~Search() {
  release_if_large(frames_);
  release_if_large(visited_);
  release_if_large(log_);
  release_if_large(lookahead_results_);
  release_if_large(saved_captures_);
}

bool Search::seen(std::uint32_t s, std::uint32_t p) {
  const std::size_t bit = std::size_t{matcher_.join_[s]} * (std::size_t{size_} + 1) + p;
  std::uint64_t& word = visited_[bit >> 6];
  const std::uint64_t mask = std::uint64_t{1} << (bit & 63);
  if (word & mask) {
    return true;
  }
  word |= mask;
  if (runs_.size() > 1) {
    log_.push_back(bit);
  }
  return false;
}

// The first position in [from, to] at which state `s` was visited, or kNoPos.
std::uint32_t Search::first_seen(std::uint32_t s, std::uint32_t from, std::uint32_t to) const {
  const std::size_t base = std::size_t{matcher_.join_[s]} * (std::size_t{size_} + 1);
  const std::size_t last = base + to;
  for (std::size_t bit = base + from; bit <= last; bit = (bit | 63) + 1) {
    std::uint64_t word = visited_[bit >> 6] >> (bit & 63);
    if ((last >> 6) == (bit >> 6)) {
      word &= ~std::uint64_t{0} >> (63 - (last - bit));
    }
    if (word != 0) {
      return static_cast<std::uint32_t>(bit + static_cast<std::size_t>(__builtin_ctzll(word)) -
                                        base);
    }
  }
  return kNoPos;
}

// Marks state `s` visited at every position in [from, to].
void Search::mark(std::uint32_t s, std::uint32_t from, std::uint32_t to) {
  if (runs_.size() > 1) {
    for (std::uint32_t p = from; p <= to; ++p) {
      seen(s, p);
    }
    return;
  }
  const std::size_t base = std::size_t{matcher_.join_[s]} * (std::size_t{size_} + 1);
  const std::size_t last = base + to;
  for (std::size_t bit = base + from; bit <= last; bit = (bit | 63) + 1) {
    std::uint64_t mask = ~std::uint64_t{0} << (bit & 63);
    if ((last >> 6) == (bit >> 6)) {
      mask &= ~std::uint64_t{0} >> (63 - (last & 63));
    }
    visited_[bit >> 6] |= mask;
  }
}

bool Search::run() {
  runs_.push_back(Run{0, run_id_, 0, 0, 0});
  std::uint32_t s = program_.start;
  std::uint32_t p = 0;
  for (;;) {
    const Next next = visit(s, p);
    if (next == Next::Success) {
      return true;
    }
    if (next == Next::Fail && !resume(s, p)) {
      return false;
    }
  }
}

Search::Next Search::visit(std::uint32_t& s, std::uint32_t& p) {
  const State& state = states_[s];
  if (memo_ && matcher_.join_[s] != kNoState && seen(s, p)) {
    return Next::Fail;
  }
  if (state.op == Op::Lookahead) {
    return lookahead(s, p);
  }
  if (++steps_ > budget_.steps) {
    fail(std::regex_constants::error_complexity);
  }
  switch (state.op) {
    case Op::Byte:
      if (p < size_ && byte(p) == state.arg) {
        s = state.next;
        ++p;
        return Next::Go;
      }
      return Next::Fail;
    case Op::Class:
      if (p < size_ && program_.classes[state.arg].has(byte(p))) {
        s = state.next;
        ++p;
        return Next::Go;
      }
      return Next::Fail;
    case Op::Alternative:
      push(Kind::Try, state.next, p);
      s = state.alt;
      return Next::Go;
    case Op::Repeat:
      return repeat(s, p);
    case Op::CaptureBegin:
      if (captures_on_) {
        push(Kind::RestoreStart, state.arg, captures_[state.arg].first);
        captures_[state.arg].first = p;
      }
      s = state.next;
      return Next::Go;
    case Op::CaptureEnd:
      if (captures_on_) {
        Capture& capture = captures_[state.arg];
        push(Kind::RestoreCapture, state.arg, capture.first, capture.second,
             capture.matched ? 1 : 0);
        capture.second = p;
        capture.matched = true;
      }
      s = state.next;
      return Next::Go;
    case Op::LineBegin:
      if (p != runs_.back().begin) {
        return Next::Fail;
      }
      s = state.next;
      return Next::Go;
    case Op::LineEnd:
      if (p != size_) {
        return Next::Fail;
      }
      s = state.next;
      return Next::Go;
    case Op::WordBoundary:
      if (word_boundary(p) == state.flag) {
        return Next::Fail;
      }
      s = state.next;
      return Next::Go;
    case Op::BackReference:
      return back_reference(s, p);
    case Op::Accept:
      if (runs_.size() == 1) {
        return p == size_ ? Next::Success : Next::Fail;
      } else {
        Run& run = runs_.back();
        // Drop what the lookahead left behind: its pending alternatives and,
        // since its captures are merged below, its capture restores.
        while (frames_.size() > run.boundary + 1) {
          const Frame& frame = frames_.back();
          if (frame.kind == Kind::RestoreRepeat) {
            repeats_[frame.state] = RepeatMark{frame.pos, frame.aux, frame.small};
          }
          frames_.pop_back();
        }
        const Frame boundary = frames_.back();
        frames_.pop_back();
        return finish_lookahead(true, boundary, s, p) ? Next::Go : Next::Fail;
      }
    case Op::Lookahead:
    case Op::Dummy:
      break;
  }
  return Next::Fail;
}

bool Search::word_boundary(std::uint32_t p) const {
  const bool left = p != runs_.back().begin && program_.word.has(byte(p - 1));
  const bool right = p < size_ && program_.word.has(byte(p));
  return left != right;
}

bool Search::round_allowed(std::uint32_t s, std::uint32_t p) const {
  const RepeatMark& mark = repeats_[matcher_.repeat_[s]];
  const std::uint8_t count = mark.run == run_id_ ? mark.count : 0;
  return count == 0 || mark.pos != p || count < 2;
}

void Search::start_round(std::uint32_t s, std::uint32_t p) {
  const std::uint32_t index = matcher_.repeat_[s];
  RepeatMark& mark = repeats_[index];
  push(Kind::RestoreRepeat, index, mark.pos, mark.run, mark.count);
  if (mark.run != run_id_ || mark.count == 0 || mark.pos != p) {
    mark = RepeatMark{p, run_id_, 1};
  } else {
    ++mark.count;
  }
}

Search::Next Search::repeat(std::uint32_t& s, std::uint32_t p) {
  const State& state = states_[s];
  if (memo_) {
    if (matcher_.loop_[s] != kNoState) {
      return loop(s, p);
    }
    push(Kind::Try, state.flag ? state.alt : state.next, p);
    s = state.flag ? state.next : state.alt;
    return Next::Go;
  }
  if (state.flag) {
    push(Kind::LazyMore, s, p);
    s = state.next;
    return Next::Go;
  }
  if (round_allowed(s, p)) {
    push(Kind::Try, state.next, p);
    start_round(s, p);
    s = state.alt;
  } else {
    s = state.next;
  }
  return Next::Go;
}

// A loop over one byte class: runs through all the bytes it can take at once
// and leaves one frame that tries the continuation at each stop, last first.
Search::Next Search::loop(std::uint32_t s, std::uint32_t p) {
  const ByteSet& body = matcher_.loops_[matcher_.loop_[s]].body;
  std::uint32_t end = p;
  while (end < size_ && body.has(byte(end))) {
    ++end;
  }
  // Stops from an earlier visit on were explored then.
  std::uint32_t q = end;
  if (end > p) {
    const std::uint32_t earlier = first_seen(s, p + 1, end);
    q = earlier == kNoPos ? end : earlier - 1;
    mark(s, p + 1, q);
  }
  steps_ += q - p;
  if (steps_ > budget_.steps) {
    fail(std::regex_constants::error_complexity);
  }
  push(Kind::Loop, s, q, p);
  return Next::Fail;
}

// The last position in [low, from] where the continuation can start, or
// kNoPos.
std::uint32_t Search::candidate(const Matcher::First& next, std::uint32_t from,
                                std::uint32_t low) const {
  if (next.anything || (next.empty && runs_.size() > 1) || (from == size_ && next.empty)) {
    return from;
  }
  if (from == size_) {
    if (from == low) {
      return kNoPos;
    }
    --from;
  }
  if (next.single >= 0) {
    const void* found = memrchr(subject_.data() + low, next.single, from - low + 1);
    return found == nullptr
               ? kNoPos
               : static_cast<std::uint32_t>(static_cast<const char*>(found) - subject_.data());
  }
  for (std::uint32_t k = from;; --k) {
    if (next.bytes.has(byte(k))) {
      return k;
    }
    if (k == low) {
      return kNoPos;
    }
  }
}

Search::Next Search::lookahead(std::uint32_t& s, std::uint32_t p) {
  const State& state = states_[s];
  std::uint8_t* known = nullptr;
  if (memo_) {
    known = &lookahead_results_[std::size_t{matcher_.lookahead_[s]} * (std::size_t{size_} + 1) + p];
  }
  if (known == nullptr || *known == 0) {
    if (runs_.size() > budget_.nesting) {
      fail(std::regex_constants::error_stack);
    }
  }
  if (++steps_ > budget_.steps) {
    fail(std::regex_constants::error_complexity);
  }
  if (known != nullptr && *known != 0) {
    if ((*known == 2) == state.flag) {
      return Next::Fail;
    }
    s = state.next;
    return Next::Go;
  }
  push(Kind::Boundary, s, p);
  runs_.push_back(Run{p, ++last_run_id_, frames_.size() - 1, log_.size(), saved_captures_.size()});
  run_id_ = last_run_id_;
  if (captures_on_) {
    saved_captures_.insert(saved_captures_.end(), captures_.begin(), captures_.end());
  }
  s = state.alt;
  return Next::Go;
}

bool Search::finish_lookahead(bool success, const Frame& boundary, std::uint32_t& s,
                              std::uint32_t& p) {
  const Run run = runs_.back();
  runs_.pop_back();
  run_id_ = runs_.back().id;
  if (memo_) {
    for (std::size_t i = run.log; i < log_.size(); ++i) {
      visited_[log_[i] >> 6] &= ~(std::uint64_t{1} << (log_[i] & 63));
    }
    log_.resize(run.log);
    lookahead_results_[std::size_t{matcher_.lookahead_[boundary.state]} * (std::size_t{size_} + 1) +
                       boundary.pos] = success ? 2 : 1;
  }
  if (captures_on_) {
    // A lookahead that held keeps the groups it matched; the others, and
    // all of them after a failure, are as they were before it.
    const Capture* saved = saved_captures_.data() + run.saved;
    for (std::size_t i = 0; i < captures_.size(); ++i) {
      if (!success || !captures_[i].matched) {
        captures_[i] = saved[i];
      }
    }
    saved_captures_.resize(run.saved);
  }
  const State& state = states_[boundary.state];
  if (success == state.flag) {
    return false;
  }
  s = state.next;
  p = boundary.pos;
  return true;
}

Search::Next Search::back_reference(std::uint32_t& s, std::uint32_t& p) {
  const State& state = states_[s];
  const Capture& capture = captures_[state.arg];
  if (!capture.matched || capture.second < capture.first) {
    return Next::Fail;
  }
  const std::uint32_t length = capture.second - capture.first;
  if (length > size_ - p ||
      std::memcmp(subject_.data() + capture.first, subject_.data() + p, length) != 0) {
    return Next::Fail;
  }
  p += length;
  s = state.next;
  return Next::Go;
}

bool Search::resume(std::uint32_t& s, std::uint32_t& p) {
  while (!frames_.empty()) {
    Frame frame = frames_.back();
    frames_.pop_back();
    switch (frame.kind) {
      case Kind::Try:
        s = frame.state;
        p = frame.pos;
        return true;
      case Kind::LazyMore:
        if (round_allowed(frame.state, frame.pos)) {
          start_round(frame.state, frame.pos);
          s = states_[frame.state].alt;
          p = frame.pos;
          return true;
        }
        break;
      case Kind::RestoreRepeat:
        repeats_[frame.state] = RepeatMark{frame.pos, frame.aux, frame.small};
        break;
      case Kind::RestoreStart:
        captures_[frame.state].first = frame.pos;
        break;
      case Kind::RestoreCapture:
        captures_[frame.state] = Capture{frame.pos, frame.aux, frame.small != 0};
        break;
      case Kind::Boundary:
        if (finish_lookahead(false, frame, s, p)) {
          return true;
        }
        break;
      case Kind::Loop: {
        const std::uint32_t k =
            candidate(matcher_.loops_[matcher_.loop_[frame.state]].next, frame.pos, frame.aux);
        if (k == kNoPos) {
          break;
        }
        if (k > frame.aux) {
          frame.pos = k - 1;
          frames_.push_back(frame);
        }
        s = states_[frame.state].next;
        p = k;
        return true;
      }
    }
  }
  return false;
}

Matcher::~Matcher() = default;
Matcher::Matcher(Matcher&&) noexcept = default;
Matcher& Matcher::operator=(Matcher&&) noexcept = default;

Matcher::Matcher(Program program)
    : program_(std::move(program)), scratch_(std::make_unique<Scratch>()) {
  const auto& states = program_.states;
  // A state entered more than once can be reached again at the same
  // position; every cycle passes through one (the start counts as entered).
  std::vector<std::uint32_t> incoming(states.size(), 0);
  ++incoming[program_.start];
  for (const State& state : states) {
    if (state.next != kNoState) {
      ++incoming[state.next];
    }
    if ((state.op == Op::Alternative || state.op == Op::Repeat || state.op == Op::Lookahead) &&
        state.alt != kNoState) {
      ++incoming[state.alt];
    }
  }
  join_.assign(states.size(), kNoState);
  repeat_.assign(states.size(), kNoState);
  lookahead_.assign(states.size(), kNoState);
  loop_.assign(states.size(), kNoState);
  for (std::uint32_t id = 0; id < states.size(); ++id) {
    const State& state = states[id];
    bool one_byte_loop = false;
    if (state.op == Op::Repeat) {
      repeat_[id] = repeats_++;
      const State& body = states[state.alt];
      one_byte_loop = (body.op == Op::Byte || body.op == Op::Class) && body.next == id;
    }
    if (state.op == Op::Lookahead) {
      lookahead_[id] = lookaheads_++;
    }
    if (incoming[id] >= 2 || one_byte_loop) {
      join_[id] = joins_++;
    }
    if (one_byte_loop) {
      loop_[id] = static_cast<std::uint32_t>(loops_.size());
      const State& body = states[state.alt];
      Loop loop;
      if (body.op == Op::Byte) {
        loop.body.add(static_cast<unsigned char>(body.arg));
      } else {
        loop.body = program_.classes[body.arg];
      }
      if (loops_.size() < kMaxFilteredLoops) {
        loop.next = first_of(state.next);
      }
      loops_.push_back(loop);
    }
  }
}

Matcher::First Matcher::first_of(std::uint32_t start) const {
  First first;
  first.anything = false;
  std::vector<bool> reached(program_.states.size(), false);
  std::vector<std::uint32_t> pending{start};
  while (!pending.empty()) {
    const std::uint32_t id = pending.back();
    pending.pop_back();
    if (reached[id]) {
      continue;
    }
    reached[id] = true;
    const State& state = program_.states[id];
    switch (state.op) {
      case Op::Byte:
        first.bytes.add(static_cast<unsigned char>(state.arg));
        break;
      case Op::Class:
        first.bytes.add_all(program_.classes[state.arg]);
        break;
      case Op::Alternative:
      case Op::Repeat:
        pending.push_back(state.alt);
        pending.push_back(state.next);
        break;
      case Op::Accept:
        first.empty = true;
        break;
      case Op::BackReference:
      case Op::Dummy:
        first.anything = true;
        return first;
      default:  // zero-width: assertions, lookaheads, capture marks
        pending.push_back(state.next);
        break;
    }
  }
  first.single = first.bytes.single();
  return first;
}

bool Matcher::full_match(std::string_view subject, const Budget& budget, Strategy strategy,
                         std::uint64_t* steps) const {
  if (subject.size() >= kNoPos) {
    fail(std::regex_constants::error_complexity);
  }
  const std::size_t width = subject.size() + 1;
  const bool memo = strategy == Strategy::Memo && !program_.has_back_references &&
                    joins_ <= kMaxMemoBits / width && lookaheads_ <= kMaxLookaheadResults / width;
  Search search(*this, subject, budget, memo);
  const bool matched = search.run();
  if (steps != nullptr) {
    *steps = search.steps();
  }
  return matched;
}

}  // namespace pattern
}  // namespace astsieve
