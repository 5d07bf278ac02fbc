// The file filter as the engine functions apply it: which reported file
// names are accepted, under which key, and what happens to nodes without one.
#include "fake_tree_test.h"

namespace astsieve::testing {
namespace {

using namespace std::string_literals;

class FileFilterTest : public FakeTreeTest {
 protected:
  // The children of `parent` that the filter accepts.
  NamesByPath accepted(const std::string& pattern, const std::string& main_path) {
    return names(get_path_to_nodes(tuple(parent), pattern, main_path));
  }
  // A child of `parent` in a file of its own.
  void child_in(const std::string& file_name, const std::string& node_name) {
    tree.add(parent, node_name, tree.file(file_name), 1);
  }

  NodeId parent = tree.add_without_file(kUnit, "parent");
};

TEST_F(FileFilterTest, MainPathIsComparedByteForByte) {
  child_in("a.c", "plain");
  child_in("./a.c", "dotted");
  child_in("A.c", "upper");
  child_in("a.cc", "longer");
  child_in("a.c ", "trailing_space");
  EXPECT_EQ(accepted("", "a.c"), (NamesByPath{{"a.c", {"plain"}}}));
  EXPECT_EQ(accepted("", "./a.c"), (NamesByPath{{"./a.c", {"dotted"}}}));
  EXPECT_EQ(accepted("", "A.c"), (NamesByPath{{"A.c", {"upper"}}}));
  EXPECT_EQ(accepted("", "a.c\t"), NamesByPath{});
}

TEST_F(FileFilterTest, MainPathWithANulByteAcceptsNoFile) {
  child_in("m.c", "m");
  child_in("m", "bare");
  EXPECT_EQ(accepted("", "m.c\0"s), NamesByPath{});
  EXPECT_EQ(accepted("", "m\0.c"s), NamesByPath{});
  EXPECT_EQ(accepted("", "\0"s), NamesByPath{});
}

TEST_F(FileFilterTest, ReportedNameEndsAtItsFirstNulByte) {
  child_in("m.c\0tail"s, "cut");
  EXPECT_EQ(accepted("", "m.c"), (NamesByPath{{"m.c", {"cut"}}}));
  EXPECT_EQ(accepted("", "m.c\0tail"s), NamesByPath{});
}

TEST_F(FileFilterTest, EmptyMainPathAcceptsOnlyAnEmptyName) {
  child_in("", "empty");
  child_in("m.c", "m");
  tree.add(parent, "unnamed", tree.file_without_name(), 1);
  EXPECT_EQ(accepted("", ""), (NamesByPath{{"", {"empty"}}}));
}

TEST_F(FileFilterTest, FileWithoutNameTextCountsAsNoFile) {
  const NodeId unnamed = tree.add(kUnit, "unnamed", tree.file_without_name(), 4);
  tree.add(unnamed, "below", tree.file("m.c"), 4);
  tree.add(kUnit, "named", tree.file(""), 2);
  // Even a pattern that accepts every name, the empty one included, does not
  // take the unnamed file, and nothing below it is visited.
  const NamesByPathAndLine expected = {{"", {{2, {"named"}}}}};
  EXPECT_EQ(names(get_path_to_lineno_to_nodes(tree.handle(), ".*", "m.c")), expected);
  EXPECT_EQ(tree.visits(unnamed), 0u);
  EXPECT_EQ(names(update_path_lineno(tuple(unnamed), ".*", "")), NamesByPathAndLine{});
}

TEST_F(FileFilterTest, PatternMustMatchTheWholePath) {
  child_in("/usr/include/stdio.h", "stdio");
  EXPECT_EQ(accepted("include", "m.c"), NamesByPath{});
  EXPECT_EQ(accepted("/usr/include", "m.c"), NamesByPath{});
  EXPECT_EQ(accepted(R"(stdio\.h)", "m.c"), NamesByPath{});
  EXPECT_EQ(accepted(".*include.*", "m.c"), (NamesByPath{{"/usr/include/stdio.h", {"stdio"}}}));
  EXPECT_EQ(accepted("^/usr/.*h$", "m.c"), (NamesByPath{{"/usr/include/stdio.h", {"stdio"}}}));
}

TEST_F(FileFilterTest, PatternIsCaseSensitive) {
  child_in("Inc/A.H", "upper");
  EXPECT_EQ(accepted(R"(inc/a\.h)", "m.c"), NamesByPath{});
  EXPECT_EQ(accepted(R"(Inc/A\.H)", "m.c"), (NamesByPath{{"Inc/A.H", {"upper"}}}));
}

TEST_F(FileFilterTest, PatternMatchesBytesNotCharacters) {
  child_in("/x/\xC3\xA9.h", "accented");
  EXPECT_EQ(accepted(R"(/x/.\.h)", "m.c"), NamesByPath{});
  EXPECT_EQ(accepted(R"(/x/..\.h)", "m.c"), (NamesByPath{{"/x/\xC3\xA9.h", {"accented"}}}));
}

TEST_F(FileFilterTest, DotMatchesNeitherLineFeedNorCarriageReturn) {
  child_in("a\nb", "feed");
  child_in("a\rb", "return");
  child_in("a b", "space");
  EXPECT_EQ(accepted("a.b", "m.c"), (NamesByPath{{"a b", {"space"}}}));
}

TEST_F(FileFilterTest, MainFileIsAcceptedWhateverThePattern) {
  child_in("m.c", "main");
  child_in("other.c", "other");
  EXPECT_EQ(accepted(R"(other\.c)", "m.c"),
            (NamesByPath{{"m.c", {"main"}}, {"other.c", {"other"}}}));
  EXPECT_EQ(accepted("nothing", "m.c"), (NamesByPath{{"m.c", {"main"}}}));
}

}  // namespace
}  // namespace astsieve::testing
