#include "fake_tree_test.h"
#include "walk/cursor.h"

namespace astsieve::testing {
namespace {

class CollectChildren : public FakeTreeTest {
 protected:
  Names collected(NodeId node) {
    Names result;
    for (const libclang::Cursor& child : collect_children(tree.cursor(node))) {
      result.push_back(tree.name(to_cursor_tuple(child)));
    }
    return result;
  }

  FileId m = tree.file("m.c");
};

TEST_F(CollectChildren, NoChildrenGiveAnEmptyArrayWithoutAskingTheVisitor) {
  const NodeId leaf = tree.add(kUnit, "leaf", m, 1);
  EXPECT_EQ(collected(leaf), Names{});
  EXPECT_EQ(tree.visits(leaf), 1u);
  EXPECT_EQ(tree.calls(Function::CursorIsNull), 0u);
}

TEST_F(CollectChildren, GivesDirectChildrenInVisitingOrderAndNeverGrandchildren) {
  const NodeId a = tree.add(kUnit, "a", m, 1);
  tree.add(a, "a1", m, 1);
  tree.add(kUnit, "b", m, 2);
  const NodeId c = tree.add(kUnit, "c", m, 3);
  tree.add(tree.add(c, "c1", m, 3), "c11", m, 3);

  EXPECT_EQ(collected(kUnit), (Names{"a", "b", "c"}));
  // The visitor answered Continue for each child: libclang was not led below.
  EXPECT_EQ(tree.offered(), (Names{"a", "b", "c"}));
  EXPECT_EQ(tree.calls(Function::CursorIsNull), 3u);
}

TEST_F(CollectChildren, NullChildStopsTheVisitAndFails) {
  const NodeId parent = tree.add(kUnit, "parent", m, 1);
  tree.add(parent, "before", m, 1);
  tree.add_null(parent);
  tree.add(parent, "after", m, 2);

  expect_null_child_failure([&] { collect_children(tree.cursor(parent)); });
  EXPECT_EQ(tree.offered(), (Names{"before", "<null>"}));
}

TEST_F(CollectChildren, NullChildAloneFailsToo) {
  tree.add_null(kUnit);
  expect_null_child_failure([&] { collect_children(tree.cursor(kUnit)); });
}

}  // namespace
}  // namespace astsieve::testing
