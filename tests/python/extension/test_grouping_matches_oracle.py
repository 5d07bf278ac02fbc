"""The three functions against the pure-Python oracle, on real parses."""

import pytest

import astsieve
import oracle
from astsieve_cindex import cursor_from_tuple, cursor_tuple, translation_unit_handle as handle_of

C_FILES = {
    "shapes.h": (
        "#define DECLARE(name) int name(int)\n"
        "struct point { int x; int y; };\n"
        "static inline int twice(int v) { return 2 * v; }\n"
    ),
    "noise.h": "typedef unsigned long size_type;\nint noise(void);\n",
    "m.c": (
        '#include "shapes.h"\n'
        '#include "noise.h"\n'
        "#define SQUARE(x) ((x) * (x))\n"
        "DECLARE(alpha);\n"
        "int beta(int a) { struct point p = {a, SQUARE(a)}; return p.x + twice(p.y); } int gamma_ = 1;\n"
        "enum color { RED, GREEN = SQUARE(2) };\n"
        "size_type sizes[2] = {\n  sizeof(struct point),\n  SQUARE(3)\n};\n"
    ),
}

CPP_FILES = {
    "util.hpp": (
        "namespace util {\n"
        "template <typename T> struct box { T value; T get() const { return value; } };\n"
        "template <typename T> T max_of(T a, T b) { return a < b ? b : a; }\n"
        "template <> struct box<char> { char c; };\n"
        "}\n"
    ),
    "m.cpp": (
        '#include "util.hpp"\n'
        "#define WRAP(T) util::box<T>\n"
        "namespace app {\n"
        "namespace detail { inline int helper() { return 1; } }\n"
        "using int_box = WRAP(int);\n"
        "template <typename T> class holder : public util::box<T> { public: using util::box<T>::get; };\n"
        "int run() { int_box b{3}; holder<long> h{}; return util::max_of(b.get(), detail::helper()) + (int)h.get(); }\n"
        "}\n"
    ),
}

SYSTEM_FILES = {
    "m.c": (
        "#include <stdio.h>\n"
        "#include <stdlib.h>\n"
        "#include <stdarg.h>\n"
        'int main(void) { printf("%d\\n", abs(-1)); return EXIT_SUCCESS; }\n'
    ),
}

# name -> (files, main file, compiler arguments, patterns)
SCENARIOS = {
    "c": (C_FILES, "m.c", (), ["", r".*/shapes\.h", ".*", "shapes.h"]),
    "cpp": (CPP_FILES, "m.cpp", ("-std=c++17",), ["", r".*\.hpp"]),
    "system": (SYSTEM_FILES, "m.c", (), ["", ".*", "/usr/include/.*", "include", ".*/bits/.*"]),
}


@pytest.fixture(params=[0, "detailed"], ids=["plain", "detailed-record"])
def options(request, cindex):
    # The detailed record adds macro definitions, expansions and inclusion
    # directives, among them built-in macros whose location has no file.
    return request.param and cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD


@pytest.fixture(params=sorted(SCENARIOS))
def scenario(request, parse, options, tmp_path):
    files, main, args, patterns = SCENARIOS[request.param]
    unit = parse(files, main, args, options)
    return unit, str(tmp_path / main), patterns


def test_whole_unit_matches_oracle(scenario):
    unit, main, patterns = scenario
    for pattern in patterns:
        expected = oracle.get_path_to_lineno_to_nodes(unit, pattern, main)
        assert main in expected
        assert astsieve.get_path_to_lineno_to_nodes(handle_of(unit), pattern, main) == expected


def test_subtrees_and_children_of_every_cursor_match_oracle(scenario):
    unit, main, patterns = scenario
    cursors = list(unit.cursor.walk_preorder())
    for pattern in patterns[:3]:
        for cursor in cursors:
            value = cursor_tuple(cursor)
            subtree = astsieve.update_path_lineno(value, pattern, main)
            assert subtree == oracle.update_path_lineno(cursor, pattern, main)
            children = astsieve.get_path_to_nodes(value, pattern, main)
            assert children == oracle.get_path_to_nodes(cursor, pattern, main)


def test_returned_tuples_are_the_cursors_they_stand_for(cindex, scenario):
    unit, main, _ = scenario
    originals = {repr(cursor_tuple(c)): c for c in unit.cursor.walk_preorder()}
    result = astsieve.get_path_to_lineno_to_nodes(handle_of(unit), ".*", main)
    count = 0
    for path, by_line in result.items():
        for line, nodes in by_line.items():
            for value in nodes:
                rebuilt = cursor_from_tuple(value, unit)
                original = originals[repr(value)]
                assert rebuilt == original
                assert (rebuilt.kind, rebuilt.spelling) == (original.kind, original.spelling)
                assert (rebuilt.location.file.name, rebuilt.location.line) == (path, line)
                count += 1
    expected = oracle.get_path_to_lineno_to_nodes(unit, ".*", main)
    assert count == sum(len(nodes) for by_line in expected.values() for nodes in by_line.values()) > 0


def test_pattern_accepts_whole_paths_only(parse, tmp_path):
    unit = parse(C_FILES, "m.c")
    main = str(tmp_path / "m.c")
    handle = handle_of(unit)
    assert set(astsieve.get_path_to_lineno_to_nodes(handle, ".*", main)) == {
        main,
        str(tmp_path / "shapes.h"),
        str(tmp_path / "noise.h"),
    }
    assert set(astsieve.get_path_to_lineno_to_nodes(handle, r".*/shapes\.h", main)) == {main, str(tmp_path / "shapes.h")}
    # A pattern that matches only part of a path accepts nothing beyond the main file.
    assert set(astsieve.get_path_to_lineno_to_nodes(handle, "shapes.h", main)) == {main}
    # The main path is compared byte for byte, never normalised.
    assert astsieve.get_path_to_lineno_to_nodes(handle, "", main.replace("/m.c", "/./m.c")) == {}


def test_system_header_patterns_split_the_files(parse, tmp_path):
    unit = parse(SYSTEM_FILES, "m.c")
    main = str(tmp_path / "m.c")
    paths = set(astsieve.get_path_to_lineno_to_nodes(handle_of(unit), "/usr/include/.*", main))
    assert "/usr/include/stdio.h" in paths and main in paths
    assert all(p == main or p.startswith("/usr/include/") for p in paths)
    bits = set(astsieve.get_path_to_lineno_to_nodes(handle_of(unit), ".*/bits/.*", main))
    assert bits - {main} and bits - {main} < paths


def test_same_line_declarations_stand_last_first_with_their_descendants(cindex, parse, tmp_path):
    unit = parse({"m.c": "int a1; int a2 = 3;\nint b;\n"}, "m.c")
    main = str(tmp_path / "m.c")

    def named(nodes):
        cursors = [cursor_from_tuple(value, unit) for value in nodes]
        return [(cursor.kind.name, cursor.spelling) for cursor in cursors]

    by_line = astsieve.get_path_to_lineno_to_nodes(handle_of(unit), "", main)[main]
    assert named(by_line[1]) == [("VAR_DECL", "a2"), ("INTEGER_LITERAL", ""), ("VAR_DECL", "a1")]
    assert named(by_line[2]) == [("VAR_DECL", "b")]
    a2 = [c for c in unit.cursor.get_children() if c.spelling == "a2"][0]
    subtree = astsieve.update_path_lineno(cursor_tuple(a2), "", main)[main]
    assert named(subtree[1]) == [("VAR_DECL", "a2"), ("INTEGER_LITERAL", "")]
    top_level = astsieve.get_path_to_nodes(cursor_tuple(unit.cursor), "", main)
    assert list(top_level) == [main]
    assert named(top_level[main]) == [("VAR_DECL", "a1"), ("VAR_DECL", "a2"), ("VAR_DECL", "b")]
