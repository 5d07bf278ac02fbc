#include <regex>

#include "fake_tree_test.h"

namespace astsieve::testing {
namespace {

// Top-level children H (h.h, never accepted by main path m.c), A (m.c:3),
// B (m.c:3) and C (m.c:5); A has A1 (m.c:3) and A2 (m.c:4), B has B1 (m.c:3)
// and H has Hx, which lies in m.c on line 9.
class SubtreeWalk : public FakeTreeTest {
 protected:
  PathToLinenoToNodes walk_unit(const std::string& pattern = "") {
    return get_path_to_lineno_to_nodes(tree.handle(), pattern, "m.c");
  }
  PathToLinenoToNodes walk_from(NodeId root, const std::string& pattern = "") {
    return update_path_lineno(tuple(root), pattern, "m.c");
  }

  FileId m = tree.file("m.c");
  FileId h = tree.file("h.h");
  NodeId H = tree.add(kUnit, "H", h, 1);
  NodeId A = tree.add(kUnit, "A", m, 3);
  NodeId B = tree.add(kUnit, "B", m, 3);
  NodeId C = tree.add(kUnit, "C", m, 5);
  NodeId A1 = tree.add(A, "A1", m, 3);
  NodeId A2 = tree.add(A, "A2", m, 4);
  NodeId B1 = tree.add(B, "B1", m, 3);
  NodeId Hx = tree.add(H, "Hx", m, 9);
};

TEST_F(SubtreeWalk, UnitIsWalkedLastTopLevelChildFirstEachSubtreeInPreOrder) {
  const NamesByPathAndLine expected = {
      {"m.c", {{5, {"C"}}, {3, {"B", "B1", "A", "A1"}}, {4, {"A2"}}}}};
  EXPECT_EQ(names(walk_unit()), expected);
  EXPECT_EQ(tree.located(), (Names{"C", "B", "B1", "A", "A1", "A2", "H"}));
  // Children are asked for right after a node is accepted, and only then.
  EXPECT_EQ(tree.expanded(), (Names{"<unit>", "C", "B", "B1", "A", "A1", "A2"}));
  EXPECT_EQ(tree.calls(Function::GetTranslationUnitCursor), 1u);
}

TEST_F(SubtreeWalk, RejectedNodeHidesItsSubtreeEvenWhereItLiesInTheMainFile) {
  walk_unit();
  EXPECT_EQ(tree.visits(H), 0u);
  EXPECT_EQ(tree.visits(Hx), 0u);
  EXPECT_EQ(tree.offered(), (Names{"H", "A", "B", "C", "B1", "A1", "A2"}));
}

TEST_F(SubtreeWalk, NodeInAMatchedFileGetsItsOwnPathAndOpensItsSubtree) {
  const NamesByPathAndLine expected = {
      {"m.c", {{5, {"C"}}, {3, {"B", "B1", "A", "A1"}}, {4, {"A2"}}, {9, {"Hx"}}}},
      {"h.h", {{1, {"H"}}}}};
  EXPECT_EQ(names(walk_unit(R"(h\.h)")), expected);
  EXPECT_EQ(tree.located(), (Names{"C", "B", "B1", "A", "A1", "A2", "H", "Hx"}));
}

TEST_F(SubtreeWalk, SubtreeOfOneCursorStartsWithTheCursorThenItsChildrenInOrder) {
  const NamesByPathAndLine expected = {{"m.c", {{3, {"A", "A1"}}, {4, {"A2"}}}}};
  EXPECT_EQ(names(walk_from(A)), expected);
  EXPECT_EQ(tree.located(), (Names{"A", "A1", "A2"}));
  EXPECT_EQ(tree.calls(Function::GetTranslationUnitCursor), 0u);
}

TEST_F(SubtreeWalk, SubtreeOfARejectedCursorIsEmptyAndNeverEntered) {
  EXPECT_EQ(names(walk_from(H)), NamesByPathAndLine{});
  EXPECT_EQ(tree.located(), Names{"H"});
  EXPECT_EQ(tree.visits(H), 0u);
}

TEST_F(SubtreeWalk, DeepSubtreeIsInPreOrderWithSiblingsInVisitingOrder) {
  // A2 gains a subtree; pre-order puts it between A2 and whatever follows A2.
  const NodeId deep = tree.add(A2, "A2a", m, 3);
  tree.add(deep, "A2a1", m, 4);
  tree.add(A2, "A2b", m, 3);
  const NamesByPathAndLine expected = {
      {"m.c", {{3, {"A", "A1", "A2a", "A2b"}}, {4, {"A2", "A2a1"}}}}};
  EXPECT_EQ(names(walk_from(A)), expected);
  EXPECT_EQ(tree.located(), (Names{"A", "A1", "A2", "A2a", "A2a1", "A2b"}));
}

TEST_F(SubtreeWalk, NodeWithoutFileIsDroppedWithItsSubtree) {
  const NodeId nowhere = tree.add_without_file(A, "nowhere");
  tree.add(nowhere, "below", m, 3);
  tree.add(A, "A3", m, 6);
  const NamesByPathAndLine expected = {{"m.c", {{3, {"A", "A1"}}, {4, {"A2"}}, {6, {"A3"}}}}};
  EXPECT_EQ(names(walk_from(A)), expected);
  EXPECT_EQ(tree.visits(nowhere), 0u);
  EXPECT_EQ(tree.located(), (Names{"A", "A1", "A2", "nowhere", "A3"}));
}

TEST_F(SubtreeWalk, NullRootIsClassifiedLikeAnyNodeAndGivesNothing) {
  const NodeId null_root = tree.add_null(kUnit);
  EXPECT_EQ(names(walk_from(null_root)), NamesByPathAndLine{});
  EXPECT_EQ(tree.calls(Function::GetCursorLocation), 1u);
  EXPECT_EQ(tree.calls(Function::CursorIsNull), 0u);
}

TEST_F(SubtreeWalk, RepeatedCallsGiveEqualResults) {
  const PathToLinenoToNodes first = walk_unit();
  EXPECT_EQ(walk_unit(), first);
}

class SubtreeWalkFailure : public FakeTreeTest {
 protected:
  FileId m = tree.file("m.c");
  FileId h = tree.file("h.h");
};

TEST_F(SubtreeWalkFailure, NullTopLevelChildFailsBeforeAnyNodeIsClassified) {
  tree.add(kUnit, "first", m, 1);
  tree.add_null(kUnit);
  tree.add(kUnit, "last", m, 3);
  expect_null_child_failure([&] { get_path_to_lineno_to_nodes(tree.handle(), "", "m.c"); });
  EXPECT_EQ(tree.offered(), (Names{"first", "<null>"}));
  EXPECT_EQ(tree.calls(Function::GetCursorLocation), 0u);
}

TEST_F(SubtreeWalkFailure, NullChildDeepBelowAnAcceptedNodeFailsTheWholeCall) {
  const NodeId top = tree.add(kUnit, "top", m, 1);
  const NodeId middle = tree.add(top, "middle", m, 2);
  tree.add(middle, "sibling", m, 2);
  tree.add_null(middle);
  tree.add(middle, "never", m, 3);
  tree.add(kUnit, "other", m, 8);

  expect_null_child_failure([&] { get_path_to_lineno_to_nodes(tree.handle(), "", "m.c"); });
  EXPECT_EQ(tree.located(), (Names{"other", "top", "middle"}));
  expect_null_child_failure([&] { update_path_lineno(tuple(top), "", "m.c"); });
}

TEST_F(SubtreeWalkFailure, NullChildBelowDroppedNodesGoesUnnoticed) {
  const NodeId rejected = tree.add(kUnit, "rejected", h, 1);
  tree.add_null(rejected);
  const NodeId nowhere = tree.add_without_file(kUnit, "nowhere");
  tree.add_null(nowhere);
  tree.add(kUnit, "kept", m, 4);

  const NamesByPathAndLine expected = {{"m.c", {{4, {"kept"}}}}};
  EXPECT_EQ(names(get_path_to_lineno_to_nodes(tree.handle(), "", "m.c")), expected);
  EXPECT_EQ(names(update_path_lineno(tuple(rejected), "", "m.c")), NamesByPathAndLine{});
  EXPECT_EQ(tree.visits(rejected), 0u);
  EXPECT_EQ(tree.visits(nowhere), 0u);
}

TEST_F(SubtreeWalkFailure, InvalidPatternFailsBeforeAnyLibclangCallEvenForHandleZero) {
  tree.add(kUnit, "node", m, 1);
  for (const char* pattern : {"(", "[a-", "a{2,1}", "*"}) {
    EXPECT_THROW(get_path_to_lineno_to_nodes(0, pattern, "m.c"), std::regex_error) << pattern;
    EXPECT_THROW(get_path_to_lineno_to_nodes(tree.handle(), pattern, "m.c"), std::regex_error);
    EXPECT_THROW(update_path_lineno(tuple(kUnit), pattern, "m.c"), std::regex_error);
  }
  EXPECT_EQ(tree.calls(), 0u);
}

TEST(SubtreeWalkWithoutUnit, HandleZeroGivesAnEmptyResultWithoutLibclang) {
  // No fake tree exists: any libclang call would abort the test program.
  EXPECT_TRUE(get_path_to_lineno_to_nodes(0, "", "m.c").empty());
  EXPECT_TRUE(get_path_to_lineno_to_nodes(0, ".*", "").empty());
}

class SubtreeWalkGrouping : public FakeTreeTest {
 protected:
  NamesByPathAndLine walk_unit(const std::string& pattern, const std::string& main_path) {
    return names(get_path_to_lineno_to_nodes(tree.handle(), pattern, main_path));
  }
  FileId m = tree.file("m.c");
};

TEST_F(SubtreeWalkGrouping, UnitWithoutChildrenGivesAnEmptyResult) {
  EXPECT_EQ(walk_unit("", "m.c"), NamesByPathAndLine{});
  EXPECT_EQ(tree.expanded(), Names{"<unit>"});
}

TEST_F(SubtreeWalkGrouping, LinesAtAndAbove2To31StayPositive) {
  tree.add(kUnit, "zero", m, 0);
  tree.add(kUnit, "top_signed", m, 2147483647u);
  tree.add(kUnit, "two_to_31", m, 2147483648u);
  tree.add(kUnit, "largest", m, 4294967295u);
  const NamesByPathAndLine expected = {{"m.c",
                                        {{0, {"zero"}},
                                         {2147483647, {"top_signed"}},
                                         {2147483648, {"two_to_31"}},
                                         {4294967295, {"largest"}}}}};
  EXPECT_EQ(walk_unit("", "m.c"), expected);
}

TEST_F(SubtreeWalkGrouping, FilesMatchedByThePatternGetOneKeyEachLinesSeparate) {
  const FileId a = tree.file("inc/a.h");
  const FileId b = tree.file("inc/b.h");
  tree.add(kUnit, "a2", a, 2);
  tree.add(kUnit, "b2", b, 2);
  tree.add(kUnit, "a7", a, 7);
  tree.add(kUnit, "m1", m, 1);
  tree.add(kUnit, "a2again", a, 2);
  const NamesByPathAndLine expected = {
      {"m.c", {{1, {"m1"}}}},
      {"inc/a.h", {{2, {"a2again", "a2"}}, {7, {"a7"}}}},
      {"inc/b.h", {{2, {"b2"}}}},
  };
  EXPECT_EQ(walk_unit(R"(inc/.*\.h)", "m.c"), expected);
}

TEST_F(SubtreeWalkGrouping, ParentAndChildOnOneLineStandParentFirst) {
  const NodeId parent = tree.add(kUnit, "parent", m, 2);
  const NodeId child = tree.add(parent, "child", m, 2);
  tree.add(child, "grandchild", m, 2);
  const NamesByPathAndLine expected = {{"m.c", {{2, {"parent", "child", "grandchild"}}}}};
  EXPECT_EQ(walk_unit("", "m.c"), expected);
  EXPECT_EQ(names(update_path_lineno(tuple(parent), "", "m.c")), expected);
}

TEST_F(SubtreeWalkGrouping, TuplesComeBackWithTheirExactKindXdataAndDataWords) {
  const NodeId odd = tree.add(kUnit, "odd", m, 1);
  tree.set_kind(odd, -7, -2147483647 - 1);
  const PathToLinenoToNodes result = get_path_to_lineno_to_nodes(tree.handle(), "", "m.c");
  ASSERT_EQ(result.count("m.c"), 1u);
  ASSERT_EQ(result.at("m.c").count(1), 1u);
  EXPECT_EQ(result.at("m.c").at(1), NodeList{tuple(odd)});
}

}  // namespace
}  // namespace astsieve::testing
