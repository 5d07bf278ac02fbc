#include "parser.h"

#include <algorithm>
#include <optional>
#include <regex>
#include <utility>

#include "byte_class.h"
#include "error.h"
#include "scanner.h"

namespace astsieve {
namespace pattern {
namespace {

using std::regex_constants::error_type;

bool has_alt(Op op) { return op == Op::Alternative || op == Op::Repeat || op == Op::Lookahead; }

// A piece of the automaton under construction: enters at `start`, leaves
// through the `next` of `end`.
struct Piece {
  std::uint32_t start;
  std::uint32_t end;
};

// One open group (or the whole pattern) while its alternatives are read.
struct Level {
  enum Kind { Whole, Capture, NonCapture, Lookahead } kind;
  bool negative = false;
  std::uint32_t first = kNoState;  // the group's opening state
  std::uint32_t group = 0;         // capture index
  bool has_alternatives = false;
  Piece alternatives{};  // the alternatives read so far, joined
  bool has_terms = false;
  Piece terms{};  // the terms of the current alternative
};

class Compiler {
 public:
  Compiler(const std::string& pattern, std::size_t max_states)
      : locale_(), scanner_(pattern, locale_), ctype_(scanner_.ctype()), max_states_(max_states) {
    // Most patterns need fewer states than twice their length.
    program_.states.reserve(pattern.size() * 2 + 4);
    levels_.reserve(4);
  }

  Program run();

 private:
  void count_state() {
    if (program_.states.size() >= max_states_) {
      fail(std::regex_constants::error_space);
    }
  }
  std::uint32_t add(Op op, bool flag = false, std::uint32_t arg = 0) {
    count_state();
    // Filled in place: a whole State built aside and copied in costs a
    // stalled load per state.
    State& state = program_.states.emplace_back();
    state.op = op;
    state.flag = flag;
    state.arg = arg;
    return static_cast<std::uint32_t>(program_.states.size() - 1);
  }
  Piece single(Op op, bool flag = false, std::uint32_t arg = 0) {
    const std::uint32_t id = add(op, flag, arg);
    return {id, id};
  }
  void append(Piece& piece, std::uint32_t state) {
    program_.states[piece.end].next = state;
    piece.end = state;
  }
  void append(Piece& piece, const Piece& tail) {
    program_.states[piece.end].next = tail.start;
    piece.end = tail.end;
  }
  Piece clone(const Piece& piece);
  // Equal classes (every '.' of a pattern, say) share one entry.
  std::uint32_t add_class(const ByteSet& set) {
    const auto& classes = program_.classes;
    const auto found = std::find(classes.begin(), classes.end(), set);
    if (found != classes.end()) {
      return static_cast<std::uint32_t>(found - classes.begin());
    }
    program_.classes.push_back(set);
    return static_cast<std::uint32_t>(program_.classes.size() - 1);
  }

  // Takes the current token if it is `token`. The scanner moves on only
  // when the next token is asked for, so the value of the one taken stays
  // readable until then.
  bool accept(Token token) {
    if (taken_) {
      taken_ = false;
      scanner_.advance();
    }
    if (scanner_.token() != token) {
      return false;
    }
    taken_ = true;
    return true;
  }
  const std::string& value() const { return scanner_.value(); }
  // The value of a digit as std::regex_traits<char>::value gives it. That
  // reads the digit with a string stream; ASCII digits, the ones a pattern
  // holds in practice, are read here directly.
  int digit_value(char c, int radix) {
    if (c >= '0' && c <= '9' && c - '0' < radix) {
      return c - '0';
    }
    if (radix == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return (c | 0x20) - 'a' + 10;
    }
    return traits().value(c, radix);
  }
  int int_value(int radix) {
    unsigned long number = 0;
    for (char c : value()) {
      number = number * static_cast<unsigned long>(radix) +
               static_cast<unsigned long>(digit_value(c, radix));
    }
    return static_cast<int>(static_cast<unsigned int>(number));
  }
  // Takes a character, plain or in hex, into char_.
  bool try_char() {
    if (accept(Token::HexNumber)) {
      char_ = static_cast<char>(int_value(16));
      return true;
    }
    if (accept(Token::OrdinaryChar)) {
      char_ = scanner_.ordinary_char();
      return true;
    }
    return false;
  }

  void open(Level::Kind kind);
  void finish_alternative(Level& level);
  void add_term(const Piece& term);
  bool try_atom(Piece* atom);
  void add_quantified(Piece atom);
  Piece bracket(bool negated);
  void close();

  // The traits under the locale of the moment, made when first needed.
  const std::regex_traits<char>& traits() {
    if (!traits_) {
      traits_.emplace();
      traits_->imbue(locale_);
    }
    return *traits_;
  }

  std::locale locale_;
  std::optional<std::regex_traits<char>> traits_;
  Scanner scanner_;
  const std::ctype<char>& ctype_;
  std::size_t max_states_;
  bool taken_ = false;
  char char_ = 0;
  Program program_;
  std::vector<Level> levels_;
};

Piece Compiler::clone(const Piece& piece) {
  std::vector<std::uint32_t> copy_of(program_.states.size(), kNoState);
  std::vector<std::uint32_t> originals;
  std::vector<std::uint32_t> pending{piece.start};
  while (!pending.empty()) {
    const std::uint32_t id = pending.back();
    pending.pop_back();
    if (copy_of[id] != kNoState) {
      continue;
    }
    const State state = program_.states[id];
    count_state();
    copy_of[id] = static_cast<std::uint32_t>(program_.states.size());
    program_.states.push_back(state);
    originals.push_back(id);
    if (has_alt(state.op) && state.alt != kNoState) {
      pending.push_back(state.alt);
    }
    if (id != piece.end && state.next != kNoState) {
      pending.push_back(state.next);
    }
  }
  for (std::uint32_t id : originals) {
    State& copy = program_.states[copy_of[id]];
    if (copy.next != kNoState) {
      copy.next = copy_of[copy.next];
    }
    if (has_alt(copy.op) && copy.alt != kNoState) {
      copy.alt = copy_of[copy.alt];
    }
  }
  return {copy_of[piece.start], copy_of[piece.end]};
}

void Compiler::open(Level::Kind kind) {
  Level level{kind};
  if (kind == Level::Capture) {
    level.group = program_.groups++;
    level.first = add(Op::CaptureBegin, false, level.group);
  } else if (kind == Level::NonCapture) {
    level.first = add(Op::Dummy);
  } else if (kind == Level::Lookahead) {
    level.negative = value()[0] == 'n';
  }
  levels_.push_back(level);
}

void Compiler::finish_alternative(Level& level) {
  Piece alternative = level.has_terms ? level.terms : single(Op::Dummy);
  level.has_terms = false;
  if (!level.has_alternatives) {
    level.alternatives = alternative;
    level.has_alternatives = true;
    return;
  }
  // The earlier alternatives are tried first (`alt`), the new one after.
  Piece earlier = level.alternatives;
  const std::uint32_t join = add(Op::Dummy);
  append(earlier, join);
  append(alternative, join);
  const std::uint32_t fork = add(Op::Alternative);
  program_.states[fork].next = alternative.start;
  program_.states[fork].alt = earlier.start;
  level.alternatives = {fork, join};
}

void Compiler::add_term(const Piece& term) {
  Level& level = levels_.back();
  if (level.has_terms) {
    append(level.terms, term);
  } else {
    level.terms = term;
    level.has_terms = true;
  }
}

bool Compiler::try_atom(Piece* atom) {
  if (accept(Token::AnyChar)) {
    *atom = single(Op::Class, false, add_class(any_byte_but_line_ends()));
  } else if (try_char()) {
    *atom = single(Op::Byte, false, static_cast<unsigned char>(char_));
  } else if (accept(Token::Backref)) {
    const auto index = static_cast<std::size_t>(int_value(10));
    if (index >= program_.groups ||
        std::any_of(levels_.begin(), levels_.end(), [&](const Level& level) {
          return level.kind == Level::Capture && level.group == index;
        })) {
      fail(std::regex_constants::error_backref);
    }
    program_.has_back_references = true;
    *atom = single(Op::BackReference, false, static_cast<std::uint32_t>(index));
  } else if (accept(Token::QuotedClass)) {
    ClassBuilder builder(ctype_.is(std::ctype_base::upper, value()[0]), traits(), ctype_);
    builder.add_character_class(value(), false);
    *atom = single(Op::Class, false, add_class(builder.build()));
  } else if (accept(Token::BracketNegBegin)) {
    *atom = bracket(true);
  } else if (accept(Token::BracketBegin)) {
    *atom = bracket(false);
  } else {
    return false;
  }
  return true;
}

Piece Compiler::bracket(bool negated) {
  ClassBuilder builder(negated, traits(), ctype_);
  enum class Last { None, Char, Class } last = Last::None;
  char last_char = 0;
  const auto push_char = [&](char c) {
    if (last == Last::Char) {
      builder.add_char(last_char);
    }
    last = Last::Char;
    last_char = c;
  };
  const auto push_class = [&] {
    if (last == Last::Char) {
      builder.add_char(last_char);
    }
    last = Last::Class;
  };
  if (try_char()) {
    push_char(char_);
  } else if (accept(Token::BracketDash)) {
    push_char('-');
  }
  while (!accept(Token::BracketEnd)) {
    if (accept(Token::CollatingSymbol)) {
      const std::string element = builder.add_collating_element(value());
      if (element.size() == 1) {
        push_char(element[0]);
      } else {
        push_class();
      }
    } else if (accept(Token::EquivalenceClassName)) {
      push_class();
      builder.add_equivalence_class(value());
    } else if (accept(Token::CharClassName)) {
      push_class();
      builder.add_character_class(value(), false);
    } else if (try_char()) {
      push_char(char_);
    } else if (accept(Token::BracketDash)) {
      if (accept(Token::BracketEnd)) {
        push_char('-');
        break;
      }
      if (last == Last::Class) {
        fail(std::regex_constants::error_range);
      } else if (last == Last::Char) {
        if (try_char()) {
          builder.add_range(last_char, char_);
        } else if (accept(Token::BracketDash)) {
          builder.add_range(last_char, '-');
        } else {
          fail(std::regex_constants::error_range);
        }
        last = Last::None;
      } else {
        push_char('-');
      }
    } else if (accept(Token::QuotedClass)) {
      push_class();
      builder.add_character_class(value(), ctype_.is(std::ctype_base::upper, value()[0]));
    } else {
      fail(std::regex_constants::error_brack);
    }
  }
  if (last == Last::Char) {
    builder.add_char(last_char);
  }
  return single(Op::Class, false, add_class(builder.build()));
}

void Compiler::add_quantified(Piece atom) {
  for (;;) {
    if (accept(Token::Star)) {
      const bool lazy = accept(Token::Question);
      const std::uint32_t loop = add(Op::Repeat, lazy);
      program_.states[loop].alt = atom.start;
      append(atom, loop);
      atom = {loop, loop};
    } else if (accept(Token::Plus)) {
      const bool lazy = accept(Token::Question);
      const std::uint32_t loop = add(Op::Repeat, lazy);
      program_.states[loop].alt = atom.start;
      append(atom, loop);
    } else if (accept(Token::Question)) {
      const bool lazy = accept(Token::Question);
      const std::uint32_t join = add(Op::Dummy);
      const std::uint32_t choice = add(Op::Repeat, lazy);
      program_.states[choice].alt = atom.start;
      append(atom, join);
      program_.states[choice].next = join;
      atom = {choice, join};
    } else if (accept(Token::IntervalBegin)) {
      if (!accept(Token::DupCount)) {
        fail(std::regex_constants::error_badbrace);
      }
      const long min = int_value(10);
      bool unbounded = false;
      long optional = 0;
      if (accept(Token::Comma)) {
        if (accept(Token::DupCount)) {
          optional = int_value(10) - min;
        } else {
          unbounded = true;
        }
      }
      if (!accept(Token::IntervalEnd)) {
        fail(std::regex_constants::error_brace);
      }
      const bool lazy = accept(Token::Question);
      Piece result = single(Op::Dummy);
      for (long i = 0; i < min; ++i) {
        append(result, clone(atom));
      }
      if (unbounded) {
        Piece body = clone(atom);
        const std::uint32_t loop = add(Op::Repeat, lazy);
        program_.states[loop].alt = body.start;
        append(body, loop);
        append(result, loop);
      } else {
        if (optional < 0) {
          fail(std::regex_constants::error_badbrace);
        }
        // Nested optional rounds: each one either goes on with one more
        // round (`alt`) or leaves for the common end (`next`).
        const std::uint32_t end = add(Op::Dummy);
        for (long i = 0; i < optional; ++i) {
          Piece body = clone(atom);
          const std::uint32_t choice = add(Op::Repeat, lazy);
          program_.states[choice].alt = body.start;
          program_.states[choice].next = end;
          program_.states[result.end].next = choice;
          result.end = body.end;
        }
        append(result, end);
      }
      atom = result;
    } else {
      break;
    }
  }
  add_term(atom);
}

void Compiler::close() {
  Level level = levels_.back();
  levels_.pop_back();
  finish_alternative(level);
  if (level.kind == Level::Lookahead) {
    Piece body = level.alternatives;
    append(body, add(Op::Accept));
    const std::uint32_t look = add(Op::Lookahead, level.negative);
    program_.states[look].alt = body.start;
    add_term({look, look});
    return;
  }
  Piece group{level.first, level.first};
  append(group, level.alternatives);
  if (level.kind == Level::Capture) {
    append(group, add(Op::CaptureEnd, false, level.group));
  }
  add_quantified(group);
}

Program Compiler::run() {
  levels_.push_back(Level{Level::Whole});
  program_.groups = 1;
  Piece whole = single(Op::CaptureBegin, false, 0);
  for (;;) {
    Piece term{};
    if (accept(Token::End)) {
      if (levels_.size() != 1) {
        fail(std::regex_constants::error_paren);
      }
      break;
    }
    if (accept(Token::Or)) {
      finish_alternative(levels_.back());
    } else if (accept(Token::GroupEnd)) {
      if (levels_.size() == 1) {
        fail(std::regex_constants::error_paren);
      }
      close();
    } else if (accept(Token::LineBegin)) {
      add_term(single(Op::LineBegin));
    } else if (accept(Token::LineEnd)) {
      add_term(single(Op::LineEnd));
    } else if (accept(Token::WordBoundary)) {
      if (!program_.has_word_boundaries) {
        program_.word = word_bytes(traits(), ctype_);
        program_.has_word_boundaries = true;
      }
      add_term(single(Op::WordBoundary, value()[0] == 'n'));
    } else if (accept(Token::LookaheadBegin)) {
      open(Level::Lookahead);
    } else if (accept(Token::GroupBegin)) {
      open(Level::Capture);
    } else if (accept(Token::NonCapturingBegin)) {
      open(Level::NonCapture);
    } else if (try_atom(&term)) {
      add_quantified(term);
    } else {
      // A quantifier with nothing to repeat ends the alternative where the
      // standard library expects ")" or the end.
      fail(std::regex_constants::error_paren);
    }
  }
  finish_alternative(levels_.back());
  append(whole, levels_.back().alternatives);
  append(whole, add(Op::CaptureEnd, false, 0));
  append(whole, add(Op::Accept));
  program_.start = whole.start;
  return std::move(program_);
}

void eliminate_dummies(Program& program, bool keep_captures) {
  auto& states = program.states;
  const auto skippable = [&](std::uint32_t id) {
    const Op op = states[id].op;
    return op == Op::Dummy || (!keep_captures && (op == Op::CaptureBegin || op == Op::CaptureEnd));
  };
  const auto follow = [&](std::uint32_t id) {
    while (id != kNoState && skippable(id)) {
      id = states[id].next;
    }
    return id;
  };
  for (State& state : states) {
    state.next = follow(state.next);
    if (has_alt(state.op)) {
      state.alt = follow(state.alt);
    }
  }
  program.start = follow(program.start);
}

void renumber(Program& program) {
  const auto& states = program.states;
  // One buffer: the new number of each state, the states in their new
  // order, and the states still to be numbered (at most two per state).
  std::vector<std::uint32_t> buffer(states.size() * 4 + 1, kNoState);
  std::uint32_t* const number = buffer.data();
  std::uint32_t* const order = number + states.size();
  std::uint32_t* const pending = order + states.size();
  std::size_t ordered = 0;
  std::size_t waiting = 0;
  pending[waiting++] = program.start;
  while (waiting != 0) {
    const std::uint32_t id = pending[--waiting];
    if (id == kNoState || number[id] != kNoState) {
      continue;
    }
    number[id] = static_cast<std::uint32_t>(ordered);
    order[ordered++] = id;
    if (has_alt(states[id].op)) {
      pending[waiting++] = states[id].alt;
    }
    pending[waiting++] = states[id].next;
  }
  std::vector<State> compact;
  compact.reserve(ordered);
  for (std::size_t i = 0; i < ordered; ++i) {
    const std::uint32_t id = order[i];
    State state = states[id];
    if (state.next != kNoState) {
      state.next = number[state.next];
    }
    if (has_alt(state.op)) {
      state.alt = number[state.alt];
    }
    compact.push_back(state);
  }
  program.states = std::move(compact);
  program.start = 0;
}

}  // namespace

Program parse_pattern(const std::string& pattern, std::size_t max_states) {
  return Compiler(pattern, max_states).run();
}

void finish_program(Program& program, bool keep_captures) {
  eliminate_dummies(program, keep_captures || program.has_back_references);
  renumber(program);
  // What `{0}` repeats is never reached and does not count.
  program.has_back_references = false;
  program.has_lookaheads = false;
  program.has_word_boundaries = false;
  for (const State& state : program.states) {
    program.has_back_references |= state.op == Op::BackReference;
    program.has_lookaheads |= state.op == Op::Lookahead;
    program.has_word_boundaries |= state.op == Op::WordBoundary;
  }
}

Program compile_pattern(const std::string& pattern, bool keep_captures, std::size_t max_states) {
  Program program = parse_pattern(pattern, max_states);
  finish_program(program, keep_captures);
  return program;
}

}  // namespace pattern
}  // namespace astsieve
