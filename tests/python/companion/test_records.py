"""The helper's records against the same records made in Python over
clang.cindex (python_records), node for node, on real parses of the cases
where a walk in C could part from one in Python."""

import os

import pytest

from astsieve_cindex.project.options import SKIP_PREAMBLE_BODIES
from astsieve_cindex.project.parsing import SKIPPING, included_names, parse_file
from astsieve_cindex.records import unit_records, unit_table
from astsieve_cindex.table import records_of, table_of
from python_records import unit_records as python_unit_records
from python_records import unit_table as python_unit_table

BODY = "int inside = 1;\n(void)inside;\n"
# (main file name, its text, the other files, arguments, pattern)
CASES = {
    "macros": (
        "main.c",
        "#define SQUARE(x) ((x) * (x))\n#define DECLARE_TWO int left; int right;\n"
        "DECLARE_TWO\nint area(int side) {\n#define INNER 3\n  return SQUARE(side) + INNER;\n}\n"
        "#undef INNER\n#define INNER 4\n",
        {},
        [],
        "",
    ),
    "a struct declared with its variable": (
        "main.c",
        "struct s { int a; int b; } v, *w;\ntypedef struct { int c; } t;\nenum e { E1, E2 } ev;\n",
        {},
        [],
        "",
    ),
    "namespaces, anonymous and nested, and extern C": (
        "main.cpp",
        'extern "C" { int c_function(int); int c_value; }\nnamespace outer {\n'
        "namespace { int hidden; }\nnamespace inner { struct point { int x, y; } origin; }\n"
        "void f(int); void f(char);\n}\nnamespace outer::inner { int later() { return 1; } }\n",
        {},
        ["-std=c++17"],
        "",
    ),
    "classes, methods defined out of them and anonymous types": (
        "main.cpp",
        "namespace geo { struct Shape { double area() const; static int count; }; }\n"
        "double geo::Shape::area() const { return 1; }\nint geo::Shape::count = 0;\n"
        "template <typename T> struct Box { void put(T); };\n"
        "template <typename T> void Box<T>::put(T) {}\n"
        "struct { int a; } anonymous_value;\nnamespace { union { int i; float f; } u; }\n"
        "enum { RED, GREEN };\ntypedef struct { void f(); } named;\nvoid named::f() {}\n"
        '#include "inner.h"\nint from_inner(void) { return geo_inner::hidden.x; }\n',
        {"inner.h": "namespace geo_inner { class { public: int x; } hidden; }\n"},
        ["-std=c++17"],
        r".*\.h",
    ),
    "code skipped by the preprocessor": (
        "main.c",
        "#if 0\nint dead;\n#endif\nint live(int a, int b) {\n  int sum = a + b * (a - b);\n#ifdef NOT_DEFINED\n  return 0;\n"
        '#else\n  return sum;\n#endif\n}\n#include "twice.h"\n#include "twice.h"\n',
        {"twice.h": "#if defined(SECOND)\nint second;\n#else\n#define SECOND\nint first;\n#endif\n"},
        [],
        r".*\.h",
    ),
    "a file included into a function body": (
        "main.c",
        'int g(void) {\n#include "body.inc"\n  return 0;\n}\n#include "decls.h"\n',
        {"body.inc": BODY, "decls.h": "int from_header(void);\nint g(void);\n"},
        [],
        r".*\.(inc|h)",
    ),
    "system headers": (
        "main.c",
        "#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n"
        'int main(void) { printf("%zu", strlen("x")); return EXIT_SUCCESS; }\n',
        {},
        [],
        ".*",
    ),
    "templates and the standard library": (
        "main.cpp",
        "#include <vector>\ntemplate <typename T> T twice(T v) { return v + v; }\n"
        "int main() { std::vector<int> v{1, 2}; return twice(v[0]); }\n",
        {},
        ["-std=c++17"],
        ".*",
    ),
}


def parse(cindex, folder, case, builtin_include_args):
    main, text, others, arguments, _ = case
    for name, content in {main: text, **others}.items():
        (folder / name).write_text(content)
    options = cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD
    return cindex.TranslationUnit.from_source(
        str(folder / main), args=[*arguments, *builtin_include_args], options=options
    )


@pytest.mark.parametrize("name", CASES)
def test_native_records_are_the_python_records(cindex, tmp_path, builtin_include_args, name):
    unit = parse(cindex, tmp_path, CASES[name], builtin_include_args)
    pattern = CASES[name][4]
    expected = python_unit_records(unit, pattern, "/elsewhere")
    assert len(expected) > 10
    assert unit_records(unit, pattern, "/elsewhere") == expected
    # In the order table_of gives, each declaration once, then those no node
    # lies in; and the lines skipped.
    table = unit_table(unit, pattern, "/elsewhere")
    assert table == python_unit_table(unit, pattern, "/elsewhere")
    used = table_of(expected)
    assert table.nodes == used.nodes
    assert table.declarations[: len(used.declarations)] == used.declarations
    assert included_names(unit) == [found.include.name for found in unit.get_includes()]


def test_relative_names_are_joined_with_the_directory(cindex, tmp_path, monkeypatch):
    (tmp_path / "inc").mkdir()
    (tmp_path / "inc" / "a.h").write_text("#define A 1\nint a(void);\n")
    (tmp_path / "main.c").write_text('#include "inc/a.h"\nint a(void) { return A; }\n')
    monkeypatch.chdir(tmp_path)
    unit = cindex.TranslationUnit.from_source(
        "main.c", options=cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD
    )
    table = unit_table(unit, r".*inc/a\.h", str(tmp_path))
    # libclang names the header as the inclusion reaches it, ./inc/a.h
    assert [os.path.normpath(file) for file in table.files] == [
        str(tmp_path / "main.c"),
        str(tmp_path / "inc/a.h"),
    ]
    assert records_of(table) == python_unit_records(unit, r".*inc/a\.h", str(tmp_path))


def test_a_file_name_that_is_not_utf8_is_decoded_with_surrogateescape(cindex, tmp_path):
    header = os.fsencode(tmp_path) + b"/bad\xff.h"
    with open(header, "w") as file:
        file.write("int bad_value;\n")
    (tmp_path / "main.c").write_bytes(b'#include "bad\xff.h"\nint main(void) { return bad_value; }\n')
    unit = cindex.TranslationUnit.from_source(str(tmp_path / "main.c"))
    table = unit_table(unit, ".*")
    assert [os.fsencode(file) for file in table.files] == [
        os.fsencode(tmp_path / "main.c"),
        header,
    ]
    (declaration,) = [d for d in table.declarations if d.name == "bad_value"]
    assert os.fsencode(table.files[declaration.file]) == header
    assert [os.fsencode(name) for name in included_names(unit)] == [header]


@pytest.mark.parametrize("name", CASES)
def test_a_parse_skipping_the_preambles_bodies_keeps_the_main_files_declarations(
    cindex, tmp_path, builtin_include_args, name
):
    # What `changed` reads of a changed source parsed with the function
    # bodies of its preamble (its leading inclusions) skipped, precompiled.
    main, _, _, arguments, _ = CASES[name]
    full = unit_table(parse(cindex, tmp_path, CASES[name], builtin_include_args))
    skipping = parse_file(
        cindex, str(tmp_path / main), [*arguments, *builtin_include_args],
        skip=SKIPPING[SKIP_PREAMBLE_BODIES],
    )  # fmt: skip
    table = unit_table(skipping)

    def own(table):
        declarations = sorted(d for d in table.declarations if d.file == 0)
        return declarations, [r for r in table.skipped if r.file == 0], table.files[0]

    assert own(table) == own(full) and own(full)[0]
