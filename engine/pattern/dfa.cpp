#include "dfa.h"

#include <algorithm>

namespace astsieve {
namespace pattern {

bool Dfa::applies(const Program& program) {
  return !program.has_lookaheads && !program.has_back_references && !program.has_word_boundaries;
}

// The closure of seeds_ into closure_. ^ holds only at the start; $ only at
// the end, where nothing more is consumed.
void Dfa::close(bool at_start) {
  const std::vector<State>& states = program_->states;
  if (reached_.empty()) {
    reached_.assign(states.size() * 2, 0);
  }
  ++round_;
  closure_.clear();
  bool accepts = false;
  pending_.clear();
  for (std::uint32_t seed : seeds_) {
    pending_.emplace_back(seed, false);
  }
  while (!pending_.empty()) {
    const auto [id, at_end] = pending_.back();
    pending_.pop_back();
    const std::size_t slot = id * std::size_t{2} + (at_end ? 1 : 0);
    if (reached_[slot] == round_) {
      continue;
    }
    reached_[slot] = round_;
    ++work_;
    const State& state = states[id];
    switch (state.op) {
      case Op::Byte:
      case Op::Class:
        if (!at_end) {
          closure_.push_back(id);
        }
        break;
      case Op::Alternative:
      case Op::Repeat:
        pending_.emplace_back(state.alt, at_end);
        pending_.emplace_back(state.next, at_end);
        break;
      case Op::LineBegin:
        if (at_start) {
          pending_.emplace_back(state.next, at_end);
        }
        break;
      case Op::LineEnd:
        pending_.emplace_back(state.next, true);
        break;
      case Op::Accept:
        accepts = true;
        break;
      default:  // capture marks
        pending_.emplace_back(state.next, at_end);
        break;
    }
  }
  std::sort(closure_.begin(), closure_.end());
  closure_.push_back(accepts ? 1 : 0);
}

std::uint32_t Dfa::state_for_closure() {
  if (closure_.size() == 1 && closure_[0] == 0) {
    return kDead;
  }
  const auto found = numbers_.find(closure_);
  if (found != numbers_.end()) {
    return found->second;
  }
  const auto id = static_cast<std::uint32_t>(accepts_.size());
  work_ += closure_.size();
  if (id == kMaxStates || work_ > kMaxWork) {
    give_up();
    return kGaveUp;
  }
  try {
    numbers_.emplace(closure_, id);
    accepts_.push_back(closure_.back() != 0);
    if (first_.empty()) {
      first_.push_back(0);
    }
    members_.insert(members_.end(), closure_.begin(), closure_.end() - 1);
    first_.push_back(static_cast<std::uint32_t>(members_.size()));
    next_.resize(next_.size() + 256, kUnknown);
    stays_.resize(stays_.size() + 256, 0);
  } catch (...) {
    // Out of memory half way: an automaton that has given up is consistent.
    give_up();
    throw;
  }
  return id;
}

std::uint32_t Dfa::step(std::uint32_t state, unsigned char byte) {
  const std::vector<State>& states = program_->states;
  seeds_.clear();
  for (std::uint32_t i = first_[state]; i < first_[state + 1]; ++i) {
    const State& member = states[members_[i]];
    if (member.op == Op::Byte ? member.arg == byte : program_->classes[member.arg].has(byte)) {
      seeds_.push_back(member.next);
    }
  }
  work_ += first_[state + 1] - first_[state];
  std::uint32_t target = kDead;
  if (!seeds_.empty()) {
    std::sort(seeds_.begin(), seeds_.end());
    seeds_.erase(std::unique(seeds_.begin(), seeds_.end()), seeds_.end());
    const auto found = targets_.find(seeds_);
    if (found != targets_.end()) {
      target = found->second;
    } else {
      close(false);
      target = state_for_closure();
      if (target == kGaveUp) {
        return kGaveUp;
      }
      targets_.emplace(seeds_, target);
    }
  }
  if (work_ > kMaxWork) {
    give_up();
    return kGaveUp;
  }
  next_[state * std::size_t{256} + byte] = target;
  stays_[state * std::size_t{256} + byte] = target == state ? 1 : 0;
  return target;
}

void Dfa::give_up() {
  // Released now: the backtracker answers from here on.
  Dfa empty(*program_);
  empty.gave_up_ = true;
  *this = std::move(empty);
}

std::optional<bool> Dfa::full_match(std::string_view subject) {
  if (gave_up_) {
    return std::nullopt;
  }
  if (start_ == kUnknown) {
    seeds_.assign(1, program_->start);
    close(true);
    start_ = state_for_closure();
    if (start_ == kGaveUp) {
      return std::nullopt;
    }
  }
  std::uint32_t state = start_;
  if (state == kDead) {
    return false;
  }
  const auto* at = reinterpret_cast<const unsigned char*>(subject.data());
  const auto* const end = at + subject.size();
  const std::uint32_t* next = next_.data();
  while (at != end) {
    // Runs of bytes that lead back to the state ("[^/]*", ".*") are
    // skipped first: those table reads do not wait for one another.
    const std::uint8_t* stays = &stays_[state * std::size_t{256}];
    while (end - at >= 4 && (stays[at[0]] & stays[at[1]] & stays[at[2]] & stays[at[3]]) != 0) {
      at += 4;
    }
    while (at != end && stays[*at] != 0) {
      ++at;
    }
    if (at == end) {
      break;
    }
    const std::uint32_t* row = next + state * std::size_t{256};
    std::uint32_t target = row[*at];
    if (target >= kGaveUp) {
      if (target == kDead) {
        return false;
      }
      target = step(state, *at);
      if (target == kGaveUp) {
        return std::nullopt;
      }
      if (target == kDead) {
        return false;
      }
      next = next_.data();
    }
    state = target;
    ++at;
  }
  return accepts_[state];
}

}  // namespace pattern
}  // namespace astsieve
