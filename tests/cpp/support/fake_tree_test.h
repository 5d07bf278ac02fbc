// A GoogleTest fixture around a fake libclang tree: results are read back as
// node names, and every test ends by checking that the engine handed libclang
// only what libclang gave it and disposed of every string.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_libclang.h"
#include "walk/grouping.h"

namespace astsieve::testing {

using fake_libclang::FileId;
using fake_libclang::Function;
using fake_libclang::NodeId;
using fake_libclang::Tree;

using Names = std::vector<std::string>;
using NamesByLine = std::map<std::int64_t, Names>;
using NamesByPathAndLine = std::map<std::string, NamesByLine>;
using NamesByPath = std::map<std::string, Names>;

class FakeTreeTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // Results with every cursor tuple replaced by its node's name.
  Names names(const NodeList& nodes) const;
  NamesByPathAndLine names(const PathToLinenoToNodes& result) const;
  NamesByPath names(const PathToNodes& result) const;

  // A node as the caller of the engine passes it.
  CursorTuple tuple(NodeId node) const { return tree.tuple(node); }

  Tree tree;
  static constexpr NodeId kUnit = Tree::kRoot;
};

// Runs `call` and expects the failure raised for a null child: exactly a
// std::runtime_error with the engine's message.
void expect_null_child_failure(const std::function<void()>& call);

}  // namespace astsieve::testing
