// How often, and when, the file filter consults its pattern. These tests
// link a recording stand-in for the pattern (pattern_spy) in place of the
// engine's own.
#include <regex>

#include "fake_tree_test.h"
#include "pattern_spy.h"

namespace astsieve::testing {
namespace {

class PatternUse : public FakeTreeTest {
 protected:
  void SetUp() override { pattern_spy::reset(); }
  void TearDown() override {
    FakeTreeTest::TearDown();
    pattern_spy::reset();
  }
  const pattern_spy::Log& log() const { return pattern_spy::log(); }

  FileId m = tree.file("m.c");
  FileId r = tree.file("r.h");
  FileId a = tree.file("a.h");
};

TEST_F(PatternUse, RejectedFileIsMatchedOncePerCallAcrossRootsAndDepths) {
  const NodeId top = tree.add(kUnit, "top", m, 1);
  tree.add(top, "r_deep", r, 2);
  tree.add(tree.add(top, "mid", m, 3), "r_deeper", r, 3);
  tree.add(kUnit, "r_top", r, 4);
  tree.add(kUnit, "r_top2", r, 5);

  get_path_to_lineno_to_nodes(tree.handle(), R"(a\.h)", "m.c");
  // Every node in r.h was classified (its name fetched), but matched once.
  EXPECT_EQ(tree.calls(Function::GetFileName), 6u);
  EXPECT_EQ(log().matched, Names{"r.h"});

  // The next call starts with an empty rejected set.
  get_path_to_lineno_to_nodes(tree.handle(), R"(a\.h)", "m.c");
  EXPECT_EQ(log().matched, (Names{"r.h", "r.h"}));
}

TEST_F(PatternUse, DirectChildrenMatchARejectedFileOnce) {
  const NodeId parent = tree.add(kUnit, "parent", m, 1);
  for (const char* name : {"r1", "r2", "r3"}) {
    tree.add(parent, name, r, 1);
  }
  EXPECT_TRUE(get_path_to_nodes(tuple(parent), R"(a\.h)", "m.c").empty());
  EXPECT_EQ(log().matched, Names{"r.h"});
}

TEST_F(PatternUse, FileWithoutNameLeavesTheRejectedSetAlone) {
  tree.add(kUnit, "r_first", r, 1);
  tree.add(kUnit, "unnamed", tree.file_without_name(), 1);
  tree.add_without_file(kUnit, "nowhere");
  tree.add(kUnit, "r_last", r, 1);
  get_path_to_lineno_to_nodes(tree.handle(), R"(a\.h)", "m.c");
  EXPECT_EQ(log().matched, Names{"r.h"});
}

TEST_F(PatternUse, AcceptedFilesAreMatchedForEveryNodeAndTheMainFileNever) {
  const NodeId top = tree.add(kUnit, "top", m, 1);
  tree.add(top, "a1", a, 1);
  tree.add(top, "m1", m, 2);
  tree.add(top, "a2", a, 2);
  tree.add(kUnit, "a3", a, 3);

  get_path_to_lineno_to_nodes(tree.handle(), R"(a\.h)", "m.c");
  EXPECT_EQ(log().matched, (Names{"a.h", "a.h", "a.h"}));
}

TEST_F(PatternUse, PatternIsCompiledOnceBeforeAnyLibclangCall) {
  const NodeId top = tree.add(kUnit, "top", m, 1);
  tree.add(top, "child", a, 1);
  std::vector<std::size_t> calls_at_compile;
  pattern_spy::log().on_compile = [&](const std::string&) {
    calls_at_compile.push_back(tree.calls());
  };

  std::vector<std::size_t> calls_before;
  calls_before.push_back(tree.calls());
  get_path_to_lineno_to_nodes(tree.handle(), "x", "m.c");
  calls_before.push_back(tree.calls());
  update_path_lineno(tuple(top), "x", "m.c");
  calls_before.push_back(tree.calls());
  get_path_to_nodes(tuple(top), "x", "m.c");

  EXPECT_EQ(log().compiled, (Names{"x", "x", "x"}));
  EXPECT_EQ(calls_at_compile, calls_before);
}

TEST_F(PatternUse, EmptyPatternIsNeverCompiledNorMatched) {
  tree.add(kUnit, "r1", r, 1);
  get_path_to_lineno_to_nodes(tree.handle(), "", "m.c");
  EXPECT_TRUE(log().compiled.empty());
  EXPECT_TRUE(log().matched.empty());
}

TEST_F(PatternUse, LibclangStringIsDisposedBeforeThePathIsTested) {
  tree.add(kUnit, "a1", a, 1);
  tree.add(kUnit, "r1", r, 1);
  std::vector<std::size_t> live_at_match;
  pattern_spy::log().on_match = [&](const std::string&) {
    live_at_match.push_back(tree.live_strings());
  };
  get_path_to_lineno_to_nodes(tree.handle(), R"(a\.h)", "m.c");
  EXPECT_EQ(live_at_match, (std::vector<std::size_t>{0, 0}));
}

class PatternOverBudget : public PatternUse {
 protected:
  void expect_over_budget(const std::function<void()>& call) {
    try {
      call();
      ADD_FAILURE() << "the call returned although a match ran over budget";
    } catch (const std::regex_error& error) {
      EXPECT_EQ(error.code(), std::regex_constants::error_complexity);
    }
  }

  void SetUp() override {
    PatternUse::SetUp();
    pattern_spy::log().over_budget_path = "slow.h";
  }
  FileId slow = tree.file("slow.h");
};

TEST_F(PatternOverBudget, MatchOverBudgetFailsEveryFunctionWithoutResult) {
  const NodeId top = tree.add(kUnit, "top", m, 1);
  tree.add(top, "before", m, 1);
  tree.add(top, "stuck", slow, 2);
  tree.add(top, "after", m, 3);

  expect_over_budget([&] { get_path_to_lineno_to_nodes(tree.handle(), ".*", "m.c"); });
  expect_over_budget([&] { update_path_lineno(tuple(top), ".*", "m.c"); });
  expect_over_budget([&] { get_path_to_nodes(tuple(top), ".*", "m.c"); });
  // The walk stopped at the failing node: "after" was never classified.
  EXPECT_EQ(tree.located(),
            (Names{"top", "before", "stuck", "top", "before", "stuck", "before", "stuck"}));
}

}  // namespace
}  // namespace astsieve::testing
