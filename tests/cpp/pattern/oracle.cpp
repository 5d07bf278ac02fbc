#include "oracle.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "pattern/syntax/parser.h"

namespace astsieve {
namespace testing {
namespace {

// What a match answered: 0 or 1, or the code of the regex_error it threw.
using Answer = int;
constexpr Answer kError = 1000;

template <typename Match>
Answer answer(Match&& match) {
  try {
    return match() ? 1 : 0;
  } catch (const std::regex_error& error) {
    return kError + static_cast<int>(error.code());
  }
}

std::string describe(Answer answer) {
  return answer < kError ? (answer != 0 ? "match" : "no match")
                         : "regex_error " + std::to_string(answer - kError);
}

}  // namespace

void run_on_large_stack(const std::function<void()>& body) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, std::size_t{512} << 20);
  pthread_t thread;
  auto call = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  const int failed =
      pthread_create(&thread, &attributes, call, const_cast<std::function<void()>*>(&body));
  pthread_attr_destroy(&attributes);
  if (failed != 0) {
    throw std::runtime_error("cannot start a thread with a large stack");
  }
  pthread_join(thread, nullptr);
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      out += c;
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02x", byte);
      out += buffer;
    }
  }
  return out;
}

OracleCheck::OracleCheck(const std::string& pattern) : pattern_(pattern) {
  try {
    regex_.emplace(pattern, std::regex::ECMAScript);
  } catch (const std::regex_error& error) {
    regex_error_ = error.code();
  }
  try {
    pattern::parse_pattern(pattern, pattern::kStatesBelowDoubt);
    own_parser_ = OwnParser::Took;
  } catch (const std::regex_error& error) {
    own_parser_ =
        error.code() == std::regex_constants::error_space ? OwnParser::Doubted : OwnParser::Refused;
  }
  try {
    memo_ = std::make_unique<pattern::Matcher>(pattern::compile_pattern(pattern));
    replay_ = std::make_unique<pattern::Matcher>(pattern::compile_pattern(pattern, true));
  } catch (const std::regex_error&) {
    memo_.reset();
    replay_.reset();
  }
  try {
    path_pattern_ = std::make_unique<PathPattern>(pattern);
  } catch (const std::regex_error& error) {
    path_pattern_error_ = error.code();
  }
}

OracleCheck::Outcome OracleCheck::compile_outcome(std::string* detail) const {
  // A parser that doubts leaves the verdict to the standard library.
  const bool parser_agrees =
      own_parser_ == OwnParser::Doubted || (own_parser_ == OwnParser::Took) == regex_.has_value();
  if (regex_error_ == path_pattern_error_ && regex_.has_value() == (path_pattern_ != nullptr) &&
      parser_agrees) {
    return Agree;
  }
  static const char* const kVerdicts[] = {"took it", "refused it", "doubted"};
  *detail = "pattern '" + escaped(pattern_) + "': std::regex " +
            (regex_error_ ? "error " + std::to_string(*regex_error_) : "ok") + ", own parser " +
            kVerdicts[static_cast<int>(own_parser_)] + ", PathPattern " +
            (path_pattern_error_ ? "error " + std::to_string(*path_pattern_error_) : "ok");
  return Disagree;
}

std::uint64_t OracleCheck::oracle_steps() const {
  constexpr std::uint64_t kSteps = 100'000;
  const pattern::Program& program = replay_->program();
  if (!program.has_lookaheads) {
    return kSteps;
  }
  return std::min<std::uint64_t>(kSteps, 20'000'000 / program.states.size());
}

OracleCheck::Outcome OracleCheck::compare(const std::string& subject, std::string* detail,
                                          bool* matched) const {
  if (!regex_ || !path_pattern_ || !memo_) {
    return Skipped;
  }
  pattern::Budget small;
  small.steps = oracle_steps();
  const Answer replay =
      answer([&] { return replay_->full_match(subject, small, pattern::Strategy::Replay); });
  if (replay >= kError && replay_->program().has_back_references) {
    // Every other way replays the same search, only with a larger budget.
    return Skipped;
  }
  const Answer memo = answer([&] { return memo_->full_match(subject); });
  const Answer path = answer([&] { return path_pattern_->full_match(subject); });
  const bool oracle_runs = replay < kError;
  if (!oracle_runs && memo == path) {
    return Skipped;
  }
  const Answer oracle = oracle_runs ? (std::regex_match(subject, *regex_) ? 1 : 0) : memo;
  *matched = oracle == 1;
  if (oracle_runs && oracle == replay && oracle == memo && oracle == path) {
    return Agree;
  }
  *detail = "pattern '" + escaped(pattern_) + "' subject '" + escaped(subject) +
            "': " + (oracle_runs ? "std::regex " + describe(oracle) + ", " : "") + "replay " +
            describe(replay) + ", memo " + describe(memo) + ", PathPattern " + describe(path);
  return Disagree;
}

}  // namespace testing
}  // namespace astsieve
