// The bounds of one match and of compiling a pattern: step and nesting
// budgets with their error codes, and the refusal of patterns too deep for
// the standard library's recursive compiler.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "pattern/backtrack.h"
#include "pattern/path_pattern.h"
#include "pattern/syntax/guard.h"
#include "pattern/syntax/parser.h"

namespace astsieve {
namespace {

using pattern::Budget;
using pattern::Matcher;
using pattern::Strategy;

// The code of the regex_error that `call` throws.
template <typename Call>
std::regex_constants::error_type regex_error_of(Call call) {
  try {
    call();
  } catch (const std::regex_error& error) {
    return error.code();
  }
  ADD_FAILURE() << "no regex_error";
  return std::regex_constants::error_type{};
}

std::regex_constants::error_type match_error(const PathPattern& pattern, const std::string& path) {
  return regex_error_of([&] { pattern.full_match(path); });
}

std::string nested_lookaheads(std::size_t depth) {
  std::string pattern;
  for (std::size_t i = 0; i < depth; ++i) {
    pattern += "(?=";
  }
  return pattern + "a" + std::string(depth, ')') + "a";
}

TEST(PatternBudget, ExponentialBacktrackingRunsOutOfSteps) {
  // With a back-reference the search cannot be memoised and explodes.
  const PathPattern pattern("(a*)*\\1b");
  EXPECT_EQ(match_error(pattern, std::string(40, 'a')), std::regex_constants::error_complexity);
  // Without one it is memoised and answers, also on a long path.
  EXPECT_FALSE(PathPattern("(a*)*b").full_match(std::string(20'000, 'a')));
}

TEST(PatternBudget, StepBudgetIsExact) {
  const Matcher matcher(pattern::compile_pattern("(a|b)*c\\1"));
  for (const Strategy strategy : {Strategy::Memo, Strategy::Replay}) {
    std::uint64_t needed = 0;
    ASSERT_TRUE(matcher.full_match("ababcb", Budget{}, strategy, &needed));
    ASSERT_GT(needed, 6u);
    Budget budget;
    budget.steps = needed;
    EXPECT_TRUE(matcher.full_match("ababcb", budget, strategy));
    budget.steps = needed - 1;
    try {
      matcher.full_match("ababcb", budget, strategy);
      ADD_FAILURE() << "finished within " << budget.steps << " steps";
    } catch (const std::regex_error& error) {
      EXPECT_EQ(error.code(), std::regex_constants::error_complexity);
    }
  }
}

TEST(PatternBudget, NestingBudgetCountsOpenLookaheads) {
  EXPECT_TRUE(PathPattern(nested_lookaheads(600)).full_match("a"));
  const PathPattern too_deep(nested_lookaheads(601));
  EXPECT_EQ(match_error(too_deep, "a"), std::regex_constants::error_stack);
  // Lookaheads that are never entered do not count.
  EXPECT_TRUE(PathPattern("b|" + nested_lookaheads(601)).full_match("b"));
}

TEST(PatternBudget, NestingIsTestedBeforeSteps) {
  const Matcher matcher(pattern::compile_pattern("(?=(?=a))a"));
  for (const Strategy strategy : {Strategy::Memo, Strategy::Replay}) {
    std::uint64_t needed = 0;
    ASSERT_TRUE(matcher.full_match("a", Budget{}, strategy, &needed));
    // Entering the inner lookahead is the second step: with one step and
    // one level both budgets run out there.
    Budget budget;
    budget.steps = 1;
    budget.nesting = 1;
    const auto match = [&] { matcher.full_match("a", budget, strategy); };
    EXPECT_EQ(regex_error_of(match), std::regex_constants::error_stack);
    budget.nesting = 2;
    EXPECT_EQ(regex_error_of(match), std::regex_constants::error_complexity);
  }
}

std::regex_constants::error_type compile_error(const std::string& pattern) {
  return regex_error_of([&] { PathPattern compiled(pattern); });
}

TEST(PatternGuard, PatternsTooDeepForTheStandardCompilerAreRefused) {
  constexpr auto kRefused = std::regex_constants::error_stack;
  EXPECT_EQ(compile_error(std::string(100'000, '(') + std::string(100'000, ')')), kRefused);
  EXPECT_EQ(compile_error(std::string(100'000, '(')), kRefused);  // invalid, and refused first
  EXPECT_EQ(compile_error(std::string(100'000, 'a')), kRefused);
  EXPECT_EQ(compile_error(nested_lookaheads(5'000)), kRefused);
  std::string non_capturing;
  for (int i = 0; i < 2'000; ++i) {
    non_capturing += "(?:a";
  }
  EXPECT_EQ(compile_error(non_capturing + std::string(2'000, ')')), kRefused);
}

TEST(PatternGuard, PatternsWithinTheBoundCompileAndMatch) {
  // Depth counts terms of the alternatives still open, plus groups.
  const std::size_t groups = pattern::kMaxCompileDepth / (pattern::kGroupDepthCost + 1) - 10;
  const PathPattern nested(std::string(groups, '(') + "a" + std::string(groups, ')'));
  EXPECT_TRUE(nested.full_match("a"));
  const std::string literal(pattern::kMaxCompileDepth - 10, 'a');
  EXPECT_TRUE(PathPattern(literal).full_match(literal));
  // Alternatives are read one after the other and do not add up.
  std::string alternatives;
  for (int i = 0; i < 5'000; ++i) {
    alternatives += "ab|";
  }
  const PathPattern many(alternatives + "c");
  EXPECT_TRUE(many.full_match("c"));
  EXPECT_TRUE(many.full_match("ab"));
  EXPECT_FALSE(many.full_match("abc"));
}

TEST(PatternGuard, RefusalSitsWhereTheEstimateCrossesTheBound) {
  const std::string literal(pattern::kMaxCompileDepth, 'a');
  EXPECT_NO_THROW(pattern::refuse_deep_pattern(literal));
  EXPECT_THROW(pattern::refuse_deep_pattern(literal + "a"), std::regex_error);
  EXPECT_NO_THROW(pattern::refuse_deep_pattern(literal + "*+?{2,3}"));
  EXPECT_NO_THROW(pattern::refuse_deep_pattern(literal + "|" + literal));
  EXPECT_THROW(pattern::refuse_deep_pattern("(" + literal + ")"), std::regex_error);
  // Brackets and escapes are one term each, however long.
  EXPECT_NO_THROW(pattern::refuse_deep_pattern(std::string(pattern::kMaxCompileDepth - 2, 'a') +
                                               "[" + literal + "]\\x41"));
}

}  // namespace
}  // namespace astsieve
