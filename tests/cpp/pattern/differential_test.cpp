// The path matcher against std::regex on random patterns and subjects.
// ASTSIEVE_DIFFERENTIAL_CASES sets the number of subjects (default 100000),
// ASTSIEVE_DIFFERENTIAL_SEED the seed.
#include <gtest/gtest.h>

#include <cstdlib>

#include "generator.h"
#include "oracle.h"

namespace astsieve {
namespace testing {
namespace {

std::uint64_t setting(const char* name, std::uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10) : fallback;
}

struct Tally {
  std::uint64_t agreed = 0;
  std::uint64_t matched = 0;
  std::uint64_t skipped = 0;
  std::uint64_t rejected_patterns = 0;
  std::vector<std::string> disagreements;
};

TEST(PatternDifferential, AgreesWithStdRegexOnRandomPatterns) {
  const std::uint64_t cases = setting("ASTSIEVE_DIFFERENTIAL_CASES", 100'000);
  const std::uint64_t seed = setting("ASTSIEVE_DIFFERENTIAL_SEED", 20240611);
  Tally tally;
  run_on_large_stack([&] {
    RandomChooser chooser(seed);
    std::uint64_t done = 0;
    while (done < cases && tally.disagreements.size() < 20) {
      const Sample sample = generate_sample(chooser, 8);
      const OracleCheck check(sample.pattern);
      std::string detail;
      if (check.compile_outcome(&detail) == OracleCheck::Disagree) {
        tally.disagreements.push_back(detail);
      }
      if (!check.compiled()) {
        ++tally.rejected_patterns;
        continue;
      }
      for (const std::string& subject : sample.subjects) {
        ++done;
        bool matched = false;
        switch (check.compare(subject, &detail, &matched)) {
          case OracleCheck::Agree:
            ++tally.agreed;
            tally.matched += matched ? 1u : 0u;
            break;
          case OracleCheck::Skipped:
            ++tally.skipped;
            break;
          case OracleCheck::Disagree:
            tally.disagreements.push_back(detail);
            break;
        }
      }
    }
  });
  for (const std::string& disagreement : tally.disagreements) {
    ADD_FAILURE() << disagreement;
  }
  // The generator must keep the comparison meaningful: most cases checked
  // against the oracle, a fair share of them matching.
  EXPECT_GE(tally.agreed, cases * 95 / 100);
  EXPECT_GE(tally.matched, tally.agreed / 5);
  EXPECT_GT(tally.rejected_patterns, 0u);
  RecordProperty("agreed", std::to_string(tally.agreed));
  RecordProperty("matched", std::to_string(tally.matched));
  RecordProperty("skipped", std::to_string(tally.skipped));
  std::printf("differential: %llu agreed (%llu matches), %llu skipped, %llu patterns rejected\n",
              static_cast<unsigned long long>(tally.agreed),
              static_cast<unsigned long long>(tally.matched),
              static_cast<unsigned long long>(tally.skipped),
              static_cast<unsigned long long>(tally.rejected_patterns));
}

// What the matcher takes is decided by its own parser; the standard library
// is consulted only for the error it reports. Short strings of the
// grammar's own characters reach most of the ways a pattern can be wrong.
TEST(PatternDifferential, TakesExactlyThePatternsStdRegexTakes) {
  const std::uint64_t cases = setting("ASTSIEVE_DIFFERENTIAL_CASES", 100'000);
  const std::uint64_t seed = setting("ASTSIEVE_DIFFERENTIAL_SEED", 20240611);
  static const std::string kAlphabet = "()[]{}|*+?\\^$-:=!.,019aAbBcdDsSwWxu_";
  std::uint64_t taken = 0;
  std::vector<std::string> disagreements;
  RandomChooser chooser(seed);
  for (std::uint64_t i = 0; i < cases && disagreements.size() < 20; ++i) {
    std::string pattern;
    const unsigned size = 1 + chooser.below(8);
    for (unsigned j = 0; j < size; ++j) {
      pattern += kAlphabet[chooser.below(static_cast<unsigned>(kAlphabet.size()))];
    }
    const OracleCheck check(pattern);
    std::string detail;
    if (check.compile_outcome(&detail) == OracleCheck::Disagree) {
      disagreements.push_back(detail);
    }
    taken += check.compiled() ? 1u : 0u;
  }
  for (const std::string& disagreement : disagreements) {
    ADD_FAILURE() << disagreement;
  }
  // Both answers are common, so both kinds of mistake would show.
  EXPECT_GE(taken, cases / 10);
  EXPECT_LE(taken, cases * 9 / 10);
  std::printf("validity: %llu of %llu patterns taken\n", static_cast<unsigned long long>(taken),
              static_cast<unsigned long long>(cases));
}

}  // namespace
}  // namespace testing
}  // namespace astsieve
