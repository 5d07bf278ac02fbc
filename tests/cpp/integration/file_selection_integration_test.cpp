// Which nodes of real translation units the engine keeps, and under which
// file and line, for sources spread over several files.
#include <gtest/gtest.h>

#include "parsed_sources.h"

namespace astsieve::testing {
namespace {

class FileSelection : public ::testing::Test {
 protected:
  SourceFolder sources;
};

TEST_F(FileSelection, HeadersAreKeptExactlyWhenThePatternMatchesTheirWholePath) {
  const std::string yes = sources.write("inc/yes.h", "int in_yes;\n");
  const std::string no = sources.write("inc/no.h", "int in_no;\n");
  const std::string main = sources.write("main.c",
                                         "#include \"inc/yes.h\"\n"
                                         "#include \"inc/no.h\"\n"
                                         "int in_main;\n");
  const ParsedUnit unit(main);

  const TextsByPathAndLine with_yes = {{main, {{3, {"VarDecl in_main"}}}},
                                       {yes, {{1, {"VarDecl in_yes"}}}}};
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), R"(.*/yes\.h)", main)), with_yes);
  EXPECT_EQ(describe(get_path_to_nodes(to_cursor_tuple(unit.cursor()), R"(.*/yes\.h)", main)),
            (TextsByPath{{main, {"VarDecl in_main"}}, {yes, {"VarDecl in_yes"}}}));

  const TextsByPathAndLine main_only = {{main, {{3, {"VarDecl in_main"}}}}};
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), "", main)), main_only);
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), "yes", main)), main_only);
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), "inc/yes.h", main)), main_only);

  const TextsByPathAndLine headers = {{yes, {{1, {"VarDecl in_yes"}}}},
                                      {no, {{1, {"VarDecl in_no"}}}}};
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), R"(.*/inc/[a-z]+\.h)", "")),
            headers);
}

TEST_F(FileSelection, MacroExpandedInTheMainFileCountsOnTheLineOfTheExpansion) {
  sources.write("macros.h",
                "#define DECLARE(name) int name;\n"
                "#define FIELD_PAIR int x; \\\n"
                "  int y;\n");
  const std::string main = sources.write("main.c",
                                         "#include \"macros.h\"\n"
                                         "\n"
                                         "DECLARE(from_macro)\n"
                                         "struct S {\n"
                                         "  FIELD_PAIR\n"
                                         "};\n");
  const ParsedUnit unit(main);

  const TextsByPathAndLine expected = {
      {main,
       {{3, {"VarDecl from_macro"}}, {4, {"StructDecl S"}}, {5, {"FieldDecl x", "FieldDecl y"}}}}};
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), "", main)), expected);
}

TEST_F(FileSelection, MacroExpandedInAHeaderBelongsToTheHeader) {
  const std::string uses = sources.write("uses.h", "MAKE(in_header)\n");
  const std::string main = sources.write("main.c",
                                         "#define MAKE(name) int name;\n"
                                         "#include \"uses.h\"\n"
                                         "MAKE(in_main)\n");
  const ParsedUnit unit(main);

  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), "", main)),
            (TextsByPathAndLine{{main, {{3, {"VarDecl in_main"}}}}}));
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), R"(.*/uses\.h)", main)),
            (TextsByPathAndLine{{main, {{3, {"VarDecl in_main"}}}},
                                {uses, {{1, {"VarDecl in_header"}}}}}));
}

// struct Open is declared in open.h, but its field and closing brace lie in
// the main file.
class HeaderDeclarationWithBodyInMain : public FileSelection {
 protected:
  std::string open = sources.write("open.h", "struct Open {\n");
  std::string main = sources.write("main.c",
                                   "#include \"open.h\"\n"
                                   "  int inside;\n"
                                   "};\n"
                                   "int after;\n");
  ParsedUnit unit{main};
};

TEST_F(HeaderDeclarationWithBodyInMain, ChildrenInTheMainFileArePrunedWithTheirParent) {
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), "", main)),
            (TextsByPathAndLine{{main, {{4, {"VarDecl after"}}}}}));
  const CursorTuple open_struct = to_cursor_tuple(unit.find("Open"));
  EXPECT_EQ(describe(update_path_lineno(open_struct, "", main)), TextsByPathAndLine{});
}

TEST_F(HeaderDeclarationWithBodyInMain, AcceptedParentOpensItsChildrenAgain) {
  const TextsByPathAndLine expected = {{open, {{1, {"StructDecl Open"}}}},
                                       {main, {{2, {"FieldDecl inside"}}, {4, {"VarDecl after"}}}}};
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(unit.handle(), R"(.*/open\.h)", main)), expected);
}

TEST_F(HeaderDeclarationWithBodyInMain, DirectChildrenIgnoreWhereTheirParentLies) {
  const CursorTuple open_struct = to_cursor_tuple(unit.find("Open"));
  EXPECT_EQ(describe(get_path_to_nodes(open_struct, "", main)),
            (TextsByPath{{main, {"FieldDecl inside"}}}));
}

TEST_F(FileSelection, PathsAreTakenAsLibclangSpellsThem) {
  sources.write("a.c", "int a;\n");
  const WorkingFolder here(sources.path(""));
  const TextsByPathAndLine dotted = {{"./a.c", {{1, {"VarDecl a"}}}}};
  const TextsByPathAndLine plain = {{"a.c", {{1, {"VarDecl a"}}}}};

  const ParsedUnit via_dot("./a.c");
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(via_dot.handle(), "", "./a.c")), dotted);
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(via_dot.handle(), "", "a.c")),
            TextsByPathAndLine{});
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(via_dot.handle(), "a\\.c", "")),
            TextsByPathAndLine{});

  const ParsedUnit plain_unit("a.c");
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(plain_unit.handle(), "", "a.c")), plain);
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(plain_unit.handle(), "", "./a.c")),
            TextsByPathAndLine{});
  EXPECT_EQ(describe(get_path_to_lineno_to_nodes(plain_unit.handle(), "", sources.path("a.c"))),
            TextsByPathAndLine{});
}

}  // namespace
}  // namespace astsieve::testing
