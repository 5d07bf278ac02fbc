// What finishing a parsed pattern leaves for the matchers: placeholders
// bypassed, reachable states numbered in the order a search meets them, and
// capture bookkeeping only where something could observe it.
#include "pattern/syntax/parser.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace astsieve::pattern {
namespace {

struct Finished {
  const char* pattern;
  bool keep_captures;
  const char* program;
};

void PrintTo(const Finished& row, std::ostream* out) {
  *out << row.pattern << (row.keep_captures ? " with captures" : "");
}

class FinishedPrograms : public testing::TestWithParam<Finished> {};

TEST_P(FinishedPrograms, AreTheParsedAutomatonWithoutWhatNoMatchNeeds) {
  const Finished& row = GetParam();
  EXPECT_EQ(dump(compile_pattern(row.pattern, row.keep_captures)), row.program) << row.pattern;
}

INSTANTIATE_TEST_SUITE_P(Shapes, FinishedPrograms,
                         testing::Values(
                             // The parsed form has the placeholder joining the branches and both
                             // groups' bookkeeping; neither is left.
                             Finished{"(a)|b", false,
                                      "start 0\n"
                                      "0: alternative 0 next 1 alt 3\n"
                                      "1: byte 'b' next 2\n"
                                      "2: accept next -\n"
                                      "3: byte 'a' next 2\n"},
                             Finished{"(a)|b", true,
                                      "start 0\n"
                                      "0: capture-begin 0 next 1\n"
                                      "1: alternative 0 next 2 alt 5\n"
                                      "2: byte 'b' next 3\n"
                                      "3: capture-end 0 next 4\n"
                                      "4: accept next -\n"
                                      "5: capture-begin 1 next 6\n"
                                      "6: byte 'a' next 7\n"
                                      "7: capture-end 1 next 3\n"},
                             // A repeat's body loops back to the repeat itself.
                             Finished{"a*", false,
                                      "start 0\n"
                                      "0: repeat 0 next 1 alt 2\n"
                                      "1: accept next -\n"
                                      "2: byte 'a' next 0\n"}));

}  // namespace
}  // namespace astsieve::pattern
