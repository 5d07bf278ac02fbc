#include "dfa.h"

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
  std::vector<ByteSet> sets;
  for (const State& state : program.states) {
    if (consumes(state)) {
      ByteSet set;
      if (state.op == Op::Byte) {
        set.add(static_cast<unsigned char>(state.arg));
      } else {
        set = program.classes[state.arg];
      }
      if (std::find(sets.begin(), sets.end(), set) == sets.end()) {
        sets.push_back(set);
      }
    }
  }
  class_of.fill(0);
  std::uint32_t classes = 1;
  std::vector<int> split;
  for (const ByteSet& set : sets) {
    split.assign(classes * 2, -1);
    std::uint32_t count = 0;
    for (unsigned byte = 0; byte < 256; ++byte) {
      const auto key = class_of[byte] * 2u + (set.has(static_cast<unsigned char>(byte)) ? 1u : 0u);
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
  // Where each byte state leads, closed: a target set is the union of those.
  std::vector<std::vector<std::uint32_t>> after(program.states.size());
  for (std::uint32_t id = 0; id < program.states.size(); ++id) {
    if (consumes(program.states[id])) {
      after[id] = closure({program.states[id].next}, false);
      if (closure.work() > kMaxWork) {
        return std::nullopt;
      }
    }
  }
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
  std::vector<std::uint32_t> in_union(program.states.size(), kNoState);
  std::uint64_t work = closure.work();
  std::vector<std::uint32_t> set;
  std::vector<std::uint64_t> selected;
  std::vector<std::pair<std::vector<std::uint64_t>, std::uint32_t>> known;
  for (std::uint32_t id = 0; id < sets.size(); ++id) {
    if (sets.size() > kMaxStates || work > kMaxWork) {
      return std::nullopt;
    }
    dfa.next_.resize(sets.size() * std::size_t{dfa.classes_});
    set = sets[id];
    // Classes that select the same byte states of this set share a target.
    known.clear();
    for (std::uint32_t byte_class = 0; byte_class < dfa.classes_; ++byte_class) {
      selected.assign((set.size() + 62) / 64, 0);
      for (std::size_t i = 0; i + 1 < set.size(); ++i) {
        if (takes(program, program.states[set[i]], sample[byte_class])) {
          selected[i >> 6] |= std::uint64_t{1} << (i & 63);
        }
      }
      std::uint32_t target = kNoState;
      for (const auto& entry : known) {
        if (entry.first == selected) {
          target = entry.second;
        }
      }
      if (target == kNoState) {
        std::vector<std::uint32_t> united;
        bool accepts = false;
        for (std::size_t i = 0; i + 1 < set.size(); ++i) {
          if (((selected[i >> 6] >> (i & 63)) & 1) == 0) {
            continue;
          }
          const std::vector<std::uint32_t>& reached = after[set[i]];
          accepts |= reached.back() != 0;
          work += reached.size();
          for (std::size_t j = 0; j + 1 < reached.size(); ++j) {
            if (in_union[reached[j]] != byte_class + id * dfa.classes_) {
              in_union[reached[j]] = byte_class + id * dfa.classes_;
              united.push_back(reached[j]);
            }
          }
        }
        std::sort(united.begin(), united.end());
        united.push_back(accepts ? 1 : 0);
        target = number(std::move(united));
        known.emplace_back(selected, target);
      }
      dfa.next_[id * std::size_t{dfa.classes_} + byte_class] = target;
    }
  }
  dfa.stays_.assign(sets.size() * std::size_t{256}, 0);
  for (std::uint32_t id = 0; id < sets.size(); ++id) {
    dfa.accepts_.push_back(sets[id].back() != 0);
    unsigned stays = 0;
    for (unsigned byte = 0; byte < 256; ++byte) {
      const std::uint8_t stay =
          dfa.next_[id * std::size_t{dfa.classes_} + dfa.class_of_[byte]] == id ? 1 : 0;
      dfa.stays_[id * std::size_t{256} + byte] = stay;
      stays += stay;
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
