#include <regex>

#include "fake_tree_test.h"

namespace astsieve::testing {
namespace {

class DirectChildren : public FakeTreeTest {
 protected:
  NamesByPath children_of(NodeId node, const std::string& pattern = "") {
    return names(get_path_to_nodes(tuple(node), pattern, "m.c"));
  }

  FileId m = tree.file("m.c");
  FileId h = tree.file("h.h");
  NodeId parent = tree.add(kUnit, "parent", m, 1);
};

TEST_F(DirectChildren, CursorWithoutChildrenGivesAnEmptyResult) {
  EXPECT_EQ(children_of(parent), NamesByPath{});
  EXPECT_EQ(tree.expanded(), Names{"parent"});
  EXPECT_EQ(tree.calls(Function::GetCursorLocation), 0u);
}

TEST_F(DirectChildren, GivenCursorIsNeverClassifiedNorInTheResult) {
  tree.add(parent, "elsewhere", h, 2);
  EXPECT_EQ(children_of(parent), NamesByPath{});
  EXPECT_EQ(tree.located(), Names{"elsewhere"});
}

TEST_F(DirectChildren, OnlyOneLevelIsVisitedWhateverTheVerdicts) {
  const NodeId first = tree.add(parent, "first", m, 2);
  tree.add(first, "grandchild", m, 2);
  const NodeId dropped = tree.add(parent, "dropped", h, 3);
  tree.add(dropped, "below_dropped", m, 3);
  tree.add(parent, "second", m, 4);

  EXPECT_EQ(children_of(parent), (NamesByPath{{"m.c", {"first", "second"}}}));
  EXPECT_EQ(tree.expanded(), Names{"parent"});
  EXPECT_EQ(tree.offered(), (Names{"first", "dropped", "second"}));
}

TEST_F(DirectChildren, ChildrenOfTwoMatchedFilesKeepVisitingOrderPerFile) {
  const FileId a = tree.file("a.h");
  const FileId b = tree.file("b.h");
  tree.add(parent, "a1", a, 1);
  tree.add(parent, "b1", b, 1);
  tree.add(parent, "m1", m, 9);
  tree.add(parent, "a2", a, 5);
  tree.add(parent, "b2", b, 1);
  const NamesByPath expected = {{"a.h", {"a1", "a2"}}, {"b.h", {"b1", "b2"}}, {"m.c", {"m1"}}};
  EXPECT_EQ(children_of(parent, R"([ab]\.h)"), expected);
}

TEST_F(DirectChildren, DroppedChildrenDoNotDisturbTheFollowingOnes) {
  tree.add_without_file(parent, "nowhere");
  tree.add(parent, "kept1", m, 2);
  tree.add(parent, "rejected", h, 3);
  tree.add(parent, "kept2", m, 4);
  tree.add(parent, "rejected_again", h, 5);
  tree.add_without_file(parent, "nowhere_again");
  tree.add(parent, "kept3", m, 6);
  EXPECT_EQ(children_of(parent), (NamesByPath{{"m.c", {"kept1", "kept2", "kept3"}}}));
  EXPECT_EQ(tree.located().size(), 7u);
}

TEST_F(DirectChildren, ChildTuplesKeepNegativeKindAndXdataAndTheirDataWords) {
  const NodeId odd = tree.add(parent, "odd", m, 2);
  tree.set_kind(odd, -3, -1);
  const PathToNodes result = get_path_to_nodes(tuple(parent), "", "m.c");
  EXPECT_EQ(result, (PathToNodes{{"m.c", {tuple(odd)}}}));
}

TEST_F(DirectChildren, RepeatedCallsGiveEqualResults) {
  tree.add(parent, "x", m, 2);
  tree.add(parent, "y", m, 2);
  const PathToNodes first = get_path_to_nodes(tuple(parent), "", "m.c");
  EXPECT_EQ(get_path_to_nodes(tuple(parent), "", "m.c"), first);
}

TEST_F(DirectChildren, NullChildFailsTheCall) {
  tree.add(parent, "before", m, 2);
  tree.add_null(parent);
  tree.add(parent, "after", m, 3);
  expect_null_child_failure([&] { get_path_to_nodes(tuple(parent), "", "m.c"); });
  EXPECT_EQ(tree.calls(Function::GetCursorLocation), 0u);
}

TEST_F(DirectChildren, InvalidPatternFailsBeforeAnyLibclangCall) {
  EXPECT_THROW(get_path_to_nodes(tuple(parent), "(", "m.c"), std::regex_error);
  EXPECT_THROW(get_path_to_nodes(tuple(parent), "[m", "m.c"), std::regex_error);
  EXPECT_EQ(tree.calls(), 0u);
}

}  // namespace
}  // namespace astsieve::testing
