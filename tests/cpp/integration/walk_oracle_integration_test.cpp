// The engine's three functions against an independent, recursive reading of
// the same rules over a real C++ translation unit: expansion locations from
// clang_getExpansionLocation, whole-path matches from std::regex, pre-order
// recursion on the native stack, top-level children taken last-first.
#include <gtest/gtest.h>

#include <optional>
#include <regex>

#include "parsed_sources.h"

namespace astsieve::testing {
namespace {

std::vector<CXCursor> children_of(CXCursor cursor) {
  std::vector<CXCursor> children;
  clang_visitChildren(
      cursor,
      [](CXCursor child, CXCursor, CXClientData data) {
        static_cast<std::vector<CXCursor>*>(data)->push_back(child);
        return CXChildVisit_Continue;
      },
      &children);
  return children;
}

CursorTuple tuple_of(CXCursor cursor) {
  std::array<std::uint64_t, 3> words{};
  for (std::size_t i = 0; i < 3; ++i) {
    words[i] = reinterpret_cast<std::uintptr_t>(cursor.data[i]);
  }
  return {static_cast<std::int64_t>(cursor.kind), cursor.xdata, words};
}

class Oracle {
 public:
  Oracle(const std::string& pattern, std::string main_path) : main_path_(std::move(main_path)) {
    if (!pattern.empty()) {
      pattern_.emplace(pattern, std::regex::ECMAScript);
    }
  }

  PathToLinenoToNodes unit(CXCursor unit_cursor) const {
    PathToLinenoToNodes result;
    std::vector<CXCursor> top = children_of(unit_cursor);
    for (auto it = top.rbegin(); it != top.rend(); ++it) {
      walk(*it, result);
    }
    return result;
  }

  PathToLinenoToNodes subtree(CXCursor root) const {
    PathToLinenoToNodes result;
    walk(root, result);
    return result;
  }

  PathToNodes direct_children(CXCursor parent) const {
    PathToNodes result;
    for (CXCursor child : children_of(parent)) {
      if (const auto place = accepted(child)) {
        result[place->first].push_back(tuple_of(child));
      }
    }
    return result;
  }

 private:
  std::optional<std::pair<std::string, std::int64_t>> accepted(CXCursor cursor) const {
    CXFile file = nullptr;
    unsigned line = 0;
    clang_getExpansionLocation(clang_getCursorLocation(cursor), &file, &line, nullptr, nullptr);
    if (file == nullptr) {
      return std::nullopt;
    }
    CXString name = clang_getFileName(file);
    std::string path = clang_getCString(name);
    clang_disposeString(name);
    if (path == main_path_ || (pattern_ && std::regex_match(path, *pattern_))) {
      return std::make_pair(path, std::int64_t{line});
    }
    return std::nullopt;
  }

  void walk(CXCursor node, PathToLinenoToNodes& result) const {
    const auto place = accepted(node);
    if (!place) {
      return;
    }
    result[place->first][place->second].push_back(tuple_of(node));
    for (CXCursor child : children_of(node)) {
      walk(child, result);
    }
  }

  std::string main_path_;
  std::optional<std::regex> pattern_;
};

void collect_all(CXCursor cursor, std::vector<CXCursor>& all) {
  for (CXCursor child : children_of(cursor)) {
    all.push_back(child);
    collect_all(child, all);
  }
}

class WalkOracle : public ::testing::TestWithParam<const char*> {
 protected:
  SourceFolder sources;
  std::string lib = sources.write("lib/util.h",
                                  "#pragma once\n"
                                  "#define TWICE(x) ((x) + (x))\n"
                                  "#define DECLARE_PAIR(a, b) int a = 1, b = TWICE(a);\n"
                                  "namespace lib {\n"
                                  "template <typename T> struct Box {\n"
                                  "  T value;\n"
                                  "  T get() const { return value; }\n"
                                  "};\n"
                                  "inline int twice(int v) { return TWICE(v); }\n"
                                  "}  // namespace lib\n");
  std::string skip = sources.write("other/skip.h",
                                   "struct Skipped {\n"
                                   "  int hidden;\n"
                                   "  struct Inner { int deeper; } inner;\n"
                                   "};\n"
                                   "int skipped_function(int p) { return p * 2; }\n");
  std::string main = sources.write("main.cc",
                                   "#include \"lib/util.h\"\n"
                                   "#include \"other/skip.h\"\n"
                                   "DECLARE_PAIR(first, second)\n"
                                   "int p, q;\n"
                                   "struct Local : Skipped {\n"
                                   "  lib::Box<int> box;\n"
                                   "  int sum() const { return box.get() + lib::twice(p); }\n"
                                   "};\n"
                                   "int main() {\n"
                                   "  Local l{};\n"
                                   "  auto f = [&](int k) { return k + l.sum() + TWICE(q); };\n"
                                   "  for (int i = 0; i < 3; ++i) { p += f(i); }\n"
                                   "  return skipped_function(p);\n"
                                   "}\n");
  ParsedUnit unit{main, {"-x", "c++", "-std=c++17"}};
};

TEST_P(WalkOracle, WholeUnitGroupsLikeTheOracle) {
  const Oracle oracle(GetParam(), main);
  const PathToLinenoToNodes expected = oracle.unit(unit.cursor());
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(get_path_to_lineno_to_nodes(unit.handle(), GetParam(), main), expected);
}

TEST_P(WalkOracle, EverySubtreeAndEveryChildListGroupsLikeTheOracle) {
  const Oracle oracle(GetParam(), main);
  std::vector<CXCursor> all;
  collect_all(unit.cursor(), all);
  ASSERT_GT(all.size(), 100u);
  for (CXCursor cursor : all) {
    const CursorTuple tuple = tuple_of(cursor);
    ASSERT_EQ(update_path_lineno(tuple, GetParam(), main), oracle.subtree(cursor))
        << describe(tuple);
    ASSERT_EQ(get_path_to_nodes(tuple, GetParam(), main), oracle.direct_children(cursor))
        << describe(tuple);
  }
}

INSTANTIATE_TEST_SUITE_P(Patterns, WalkOracle,
                         ::testing::Values("", ".*", ".*/lib/.*", ".*/other/skip\\.h",
                                           "[^x]*\\.h"));

}  // namespace
}  // namespace astsieve::testing
