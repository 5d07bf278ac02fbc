#include "fake_tree_test.h"

#include <stdexcept>
#include <typeinfo>

namespace astsieve::testing {

void FakeTreeTest::TearDown() {
  EXPECT_EQ(tree.live_strings(), 0u) << "libclang strings left undisposed";
  EXPECT_EQ(tree.calls(Function::GetFileName), tree.calls(Function::DisposeString));
  EXPECT_EQ(tree.foreign_inputs(), 0u) << "libclang got values it never handed out";
}

Names FakeTreeTest::names(const NodeList& nodes) const {
  Names result;
  for (const CursorTuple& node : nodes) {
    result.push_back(tree.name(node));
  }
  return result;
}

NamesByPathAndLine FakeTreeTest::names(const PathToLinenoToNodes& result) const {
  NamesByPathAndLine named;
  for (const auto& [path, lines] : result) {
    NamesByLine& named_lines = named[path];  // an empty inner map shows too
    for (const auto& [line, nodes] : lines) {
      named_lines[line] = names(nodes);
    }
  }
  return named;
}

NamesByPath FakeTreeTest::names(const PathToNodes& result) const {
  NamesByPath named;
  for (const auto& [path, nodes] : result) {
    named[path] = names(nodes);
  }
  return named;
}

void expect_null_child_failure(const std::function<void()>& call) {
  try {
    call();
    ADD_FAILURE() << "the call returned although a null child was met";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(typeid(error), typeid(std::runtime_error));
    EXPECT_STREQ(error.what(), "FIXME: Document this assertion in API");
  }
}

}  // namespace astsieve::testing
