#include "pattern_dfa.h"

#include <algorithm>
#include <map>

namespace astsieve {
namespace pattern {
namespace {

bool consumes(const State& state) { return state.op == Op::Byte || state.op == Op::Class; }

bool takes(const Program& program, const State& state, unsigned char byte) {
  return state.op == Op::Byte ? state.arg == byte : program.classes[state.arg].has(byte);
}

// Byte classes: two bytes share one when every byte state of the program
// takes both or neither.
std::uint32_t group_bytes(const Program& program, std::array<std::uint8_t, 256>& class_of) {
  class_of.fill(0);
  std::uint32_t classes = 1;
  for (const State& state : program.states) {
    if (!consumes(state)) {
      continue;
    }
    std::vector<int> split(classes * 2, -1);
    std::uint32_t count = 0;
    for (unsigned byte = 0; byte < 256; ++byte) {
      const auto key =
          class_of[byte] * 2u + (takes(program, state, static_cast<unsigned char>(byte)) ? 1u : 0u);
      if (split[key] < 0) {
        split[key] = static_cast<int>(count++);
      }
      class_of[byte] = static_cast<std::uint8_t>(split[key]);
    }
    classes = count;
  }
  return classes;
}

// The byte states reachable from `seeds` without consuming, and whether the
// end of the subject would be accepted there. ^ holds only at the start; $
// only at the end, where nothing more is consumed.
class Closure {
 public:
  explicit Closure(const Program& program)
      : program_(program), reached_(program.states.size() * 2, 0) {}

  std::uint64_t work() const { return work_; }

  std::vector<std::uint32_t> operator()(const std::vector<std::uint32_t>& seeds, bool at_start) {
    ++round_;
    std::vector<std::uint32_t> bytes;
    bool accepts = false;
    std::vector<std::pair<std::uint32_t, bool>> pending;
    for (std::uint32_t seed : seeds) {
      pending.emplace_back(seed, false);
    }
    while (!pending.empty()) {
      const auto [id, at_end] = pending.back();
      pending.pop_back();
      const std::size_t slot = id * std::size_t{2} + (at_end ? 1 : 0);
      if (reached_[slot] == round_) {
        continue;
      }
      reached_[slot] = round_;
      ++work_;
      const State& state = program_.states[id];
      switch (state.op) {
        case Op::Byte:
        case Op::Class:
          if (!at_end) {
            bytes.push_back(id);
          }
          break;
        case Op::Alternative:
        case Op::Repeat:
          pending.emplace_back(state.alt, at_end);
          pending.emplace_back(state.next, at_end);
          break;
        case Op::LineBegin:
          if (at_start) {
            pending.emplace_back(state.next, at_end);
          }
          break;
        case Op::LineEnd:
          pending.emplace_back(state.next, true);
          break;
        case Op::Accept:
          accepts = true;
          break;
        default:  // capture marks
          pending.emplace_back(state.next, at_end);
          break;
      }
    }
    std::sort(bytes.begin(), bytes.end());
    // The key of a set of states: its byte states, then whether it accepts.
    bytes.push_back(accepts ? 1 : 0);
    return bytes;
  }

 private:
  const Program& program_;
  std::vector<std::uint32_t> reached_;  // the round in which a slot was reached
  std::uint32_t round_ = 0;
  std::uint64_t work_ = 0;
};

}  // namespace

std::optional<Dfa> Dfa::from(const Program& program) {
  for (const State& state : program.states) {
    if (state.op == Op::Lookahead || state.op == Op::BackReference ||
        state.op == Op::WordBoundary) {
      return std::nullopt;
    }
  }
  Dfa dfa;
  dfa.classes_ = group_bytes(program, dfa.class_of_);
  std::vector<unsigned char> sample(dfa.classes_);
  for (unsigned byte = 256; byte-- > 0;) {
    sample[dfa.class_of_[byte]] = static_cast<unsigned char>(byte);
  }
  Closure closure(program);
  std::map<std::vector<std::uint32_t>, std::uint32_t> numbers;
  std::vector<std::vector<std::uint32_t>> sets;
  const auto number = [&](std::vector<std::uint32_t> set) {
    const auto found = numbers.find(set);
    if (found != numbers.end()) {
      return found->second;
    }
    const auto id = static_cast<std::uint32_t>(sets.size());
    numbers.emplace(set, id);
    sets.push_back(std::move(set));
    return id;
  };
  dfa.start_ = number(closure({program.start}, true));
  dfa.dead_ = number({0});
  for (std::uint32_t id = 0; id < sets.size(); ++id) {
    if (sets.size() > kMaxStates || closure.work() > kMaxWork) {
      return std::nullopt;
    }
    dfa.next_.resize(sets.size() * std::size_t{dfa.classes_});
    for (std::uint32_t byte_class = 0; byte_class < dfa.classes_; ++byte_class) {
      std::vector<std::uint32_t> targets;
      const std::vector<std::uint32_t>& set = sets[id];
      for (std::size_t i = 0; i + 1 < set.size(); ++i) {
        const State& state = program.states[set[i]];
        if (takes(program, state, sample[byte_class])) {
          targets.push_back(state.next);
        }
      }
      const std::uint32_t target = number(closure(targets, false));
      dfa.next_[id * std::size_t{dfa.classes_} + byte_class] = target;
    }
  }
  dfa.stays_.assign(sets.size() * std::size_t{256}, 0);
  for (std::uint32_t id = 0; id < sets.size(); ++id) {
    dfa.accepts_.push_back(sets[id].back() != 0);
    unsigned stays = 0;
    for (unsigned byte = 0; byte < 256; ++byte) {
      if (dfa.next_[id * std::size_t{dfa.classes_} + dfa.class_of_[byte]] == id) {
        dfa.stays_[id * std::size_t{256} + byte] = 1;
        ++stays;
      }
    }
    dfa.skips_.push_back(id != dfa.dead_ && stays >= 64);
  }
  return dfa;
}

bool Dfa::full_match(std::string_view subject) const {
  const auto* at = reinterpret_cast<const unsigned char*>(subject.data());
  const auto* const end = at + subject.size();
  std::uint32_t state = start_;
  while (at != end) {
    if (skips_[state]) {
      const std::uint8_t* stays = &stays_[state * std::size_t{256}];
      while (at != end && stays[*at] != 0) {
        ++at;
      }
      if (at == end) {
        break;
      }
    }
    state = next_[state * std::size_t{classes_} + class_of_[*at++]];
    if (state == dead_) {
      return false;
    }
  }
  return accepts_[state];
}

}  // namespace pattern
}  // namespace astsieve
