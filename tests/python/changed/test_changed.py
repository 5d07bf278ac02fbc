"""`changed` on real git diffs of a generated project, against what parsing
every unit gives."""

import os
import re
from pathlib import Path

import pytest

from command_output import own_stderr
from project_files import (
    AREA,
    MAIN,
    PROG,
    write_database,
    run_cli,
    json_lines,
    oracle_parse,
    oracle_declarations,
    line_of,
    git,
    edit,
)


def expected_touched(cindex, project, changed):
    """What parsing every unit gives for `changed` ({path: lines}), as
    found() takes `changed`'s output apart."""
    expected = set()
    for name in ("area", "main"):
        for path, declarations in oracle_declarations(oracle_parse(cindex, project, name)).items():
            for declaration, _, _ in declarations:
                lines = changed.get(Path(path), set())
                inside = sorted(line for line in lines if declaration[3] <= line <= declaration[4])
                if inside:
                    kind, name, *rest = declaration
                    # changed names an anonymous type's file as the diff does.
                    name = name.replace(str(project) + "/", "")
                    expected.add(("declaration", kind, name, *rest, tuple(inside)))
    return expected


def found(project, touched):
    return {
        (
            t["change"],
            t.get("kind"),
            t.get("name"),
            os.path.realpath(project / t["file"]),
            t["first_line"],
            t["last_line"],
            tuple(t["changed_lines"]),
        )
        for t in touched
    }


@pytest.fixture
def repository(project):
    """The project under git, with a unit that cannot parse, a unit git
    quotes the name of, which reaches a guarded header twice (through
    another header), and files no unit reads."""
    files = {
        "src/broken.cpp": "int broken( {\n",
        "src/\u00e9.cpp": ACCENT.format(1),
        "include/\u00e9.h": GUARDED,
        "include/both.h": '#include "\u00e9.h"\n',
        "README.md": "# geo\n",
        "Makefile": "all:\n",
        "tests/unit.tcl": "puts ok\n",
    }
    for name, text in files.items():
        (project / name).parent.mkdir(exist_ok=True)
        (project / name).write_text(text)
    write_database(project, ["area", "broken", "main", "\u00e9"])
    git(project, "init", "-q")
    git(project, "add", ".")
    git(project, "commit", "-q", "-m", "base")
    return project


ACCENT = '#include "both.h"\n#include "\u00e9.h"\nint accent() {{\n  return {};\n}}\n'
GUARDED = (
    "#define ACCENT_VERSION 1\n#ifndef ACCENT_H\n#define ACCENT_H\nstruct accent_record {\n"
    "  // counted\n  int count;\n  int total;\n};\n#endif\n"
)


DOCS = {"README.md": "# geo\nmore\n", "Makefile": "all:\n\ttrue\n"}


EXTRA = {"src/main.cpp": MAIN + "int extra() {\n  return 4;\n}\n"}


EXTRA_LINE = "src/main.cpp:6-8: FUNCTION_DECL extra (changed lines 6, 7, 8)"


def test_changed_lists_exactly_the_declarations_of_a_real_git_diff(cindex, project):
    area, header, main_file = (
        project / "src/area.cpp",
        project / "include/geo.h",
        project / "src/main.cpp",
    )
    # A function to delete, and a declaration only main.cpp's unit reads.
    half = "inline int half(int value) { return value / 2; }\n"
    edit(header, "struct shape {", half + "struct shape {")
    only_main = "#ifdef GEO_MAIN\nint main_only();\n#endif\n"
    edit(header, "}  // namespace geo", only_main + "}  // namespace geo")
    main_text = "#define GEO_MAIN\n" + MAIN
    main_file.write_text(main_text)
    git(project, "init", "-q")
    git(project, "add", ".")
    git(project, "commit", "-q", "-m", "base")
    old = header.read_text().splitlines()
    edit(header, "  // doubles\n", "")
    edit(header, "#define SCALE 2", "#define SCALE 3")
    # Declarations that share a start, an anonymous type, a function deleted.
    edit(header, "double area() const;", "double area() const;  // in square units")
    edit(header, "int hits;", "long hits;")
    edit(header, half, "")
    header_lines = {
        # A removed line counts through the lines around it.
        line_of(header, "inline int twice"),
        line_of(header, "int result"),
        line_of(header, "SCALE 3"),
        line_of(header, "in square units"),
        line_of(header, "long hits"),
        line_of(header, "int area(point p);"),
        line_of(header, "struct shape {"),
    }
    # A header alone is read through one unit that includes it; the old side
    # through the same unit, with the header as it was.
    diff = git(project, "diff")
    arguments = ["changed", "-p", "build", "--json", "--verbose", "--jobs", "1", "--base", "HEAD"]
    done = run_cli(*arguments, cwd=project, stdin=diff)
    assert (done.returncode, own_stderr(done.stderr)) == (
        0,
        f"{PROG} changed: note: parsed 1 of 2 units, 1 again at HEAD\n",
    )
    touched = json_lines(done.stdout)
    gone = old.index(half.rstrip("\n")) + 1
    assert [t for t in touched if t["change"] == "removed"] == [
        {"change": "removed", "kind": "FUNCTION_DECL", "name": "geo::half",
         "file": "include/geo.h", "first_line": gone, "last_line": gone,
         "changed_lines": [], "removed_lines": [gone]},
    ]  # fmt: skip
    twice = next(t for t in touched if t.get("name") == "geo::twice")
    assert twice["removed_lines"] == [old.index("  // doubles") + 1]
    kept = [t for t in touched if t["change"] != "removed"]
    assert found(project, kept) == expected_touched(cindex, project, {header: header_lines})
    # A changed line the first unit skips (#ifdef GEO_MAIN) needs another.
    edit(header, "int main_only();", "int main_only(int flags);")
    header_lines.add(line_of(header, "main_only"))
    done = run_cli(*arguments[:-2], cwd=project, stdin=git(project, "diff"))
    assert (done.returncode, own_stderr(done.stderr)) == (
        0,
        f"{PROG} changed: note: include/geo.h: changed lines {line_of(header, 'main_only')} are "
        "skipped by the preprocessor in the units parsed so far; parsing more units, which may "
        f"read them\n{PROG} changed: note: parsed 2 of 2 units\n",
    )
    assert found(project, json_lines(done.stdout)) == expected_touched(
        cindex, project, {header: header_lines}
    )

    edit(area, "int height = HEIGHT_OF(p);", "int height = HEIGHT_OF(p) + 0;")
    edit(area, "// helpers", "// helper functions")  # between declarations: touches none
    main_file.write_text(main_text + "int extra() {\n  return 4;\n}\n")
    # A method defined out of its class, and code that #if 0 leaves out.
    edit(area, "return 1.0;", "return 1.5;")
    edit(area, "  return 0;", "  return 2;")
    changed = {
        area: {
            line_of(area, "HEIGHT_OF(p) + 0"),
            line_of(area, "helper functions"),
            line_of(area, "return 1.5;"),
            line_of(area, "return 2;"),
        },
        header: header_lines,
        main_file: set(range(len(main_text.splitlines()) + 1, len(main_text.splitlines()) + 4)),
    }
    expected = expected_touched(cindex, project, changed)
    inactive = (line_of(area, "#if 0"), line_of(area, "#endif"))
    expected.add(("inactive", None, None, str(area), *inactive, (line_of(area, "return 2;"),)))

    diff = git(project, "diff")
    done = run_cli("changed", "-p", "build", "--json", cwd=project, stdin=diff)
    assert (done.returncode, own_stderr(done.stderr)) == (0, "")
    touched = json_lines(done.stdout)
    assert found(project, touched) == expected and len(touched) == len(expected)
    assert {t.get("name") for t in touched} == {
        "geo::area",
        "geo::twice",
        "SCALE",
        "extra",
        "geo::shape",
        "geo::unit_square",
        f"geo::(anonymous struct at include/geo.h:{line_of(header, 'long hits') - 1})",
        "geo::counters",
        "geo::shape::area",
        "geo::main_only",
        None,
    }
    for hits in (0, 2):  # the same answer from the units' entries
        cache = ["--cache", str(project.parent / "cache"), "--verbose"]
        again = run_cli("changed", "-p", "build", "--json", *cache, cwd=project, stdin=diff)
        assert again.stdout == done.stdout
        assert f"changed: note: {hits} of 2 units from the cache\n" in again.stderr
    text = run_cli("changed", "-p", "build", "-", cwd=project, stdin=diff)
    assert text.stdout.splitlines() == [
        f"{t['file']}:{t['first_line']}-{t['last_line']}: "
        + (f"{t['kind']} {t['name']}" if "kind" in t else "inactive: skipped by the preprocessor")
        + f" (changed lines {', '.join(map(str, t['changed_lines']))})"
        for t in touched
    ]


@pytest.mark.parametrize(
    "edits, folder, options, status, stdout, stderr",
    [
        # Files no unit reads cost no parse: the broken unit is not parsed.
        ({**DOCS, **EXTRA, "tests/unit.tcl": "puts no\n"}, ".", [], 0, [EXTRA_LINE],
         r"note: skipped, not C or C\+\+: Makefile, README\.md, tests/unit\.tcl"),
        (DOCS, ".", [], 0, ["no C or C++ file changed"], None),
        (DOCS, ".", ["--json"], 0, [], r"note: no C or C\+\+ file changed"),
        # git writes "src/\303\251.cpp".
        ({"src/\u00e9.cpp": ACCENT.format(2)}, ".", [], 0,
         ["src/\u00e9.cpp:3-5: FUNCTION_DECL accent (changed lines 4)"], None),
        # The second inclusion of a guarded header skips the whole file (a line
        # before its guard keeps clang from passing over it at once): its
        # changed lines, a comment's too, are still active in the unit, which
        # answers alone (the broken unit is not parsed).
        ({"include/\u00e9.h": GUARDED.replace("// counted", "// counted once").replace(
            "int count", "long count")}, ".", [], 0,
         ["include/\u00e9.h:4-8: STRUCT_DECL accent_record (changed lines 5, 6)"], None),
        ({"src/broken.cpp": "int broken( {\nint more;\n"}, ".", ["--strict"], 1, [],
         r"failed: cannot parse \S+/src/broken\.cpp: .+\n"
         rf"{PROG} changed: note: libclang reported 0 warnings and \d+ errors? "
         r"\(--verbose shows them\)"),
        # A unit libclang parsed with errors: its declarations count.
        ({"src/broken.cpp": '#include "gen/version.h"\nint broken() {\n  return 1;\n}\n'}, ".",
         [], 0, ["src/broken.cpp:2-4: FUNCTION_DECL broken (changed lines 2, 3, 4)"],
         r"warning: \S+/src/broken\.cpp: indexed with 1 error: \S+/src/broken\.cpp:1:10: "
         r"error: 'gen/version\.h' file not found\n"
         rf"{PROG} changed: note: libclang reported 0 warnings and 1 error; 1 unit indexed with "
         r"errors \(--verbose shows them\)"),
        # An #if whose condition expands a macro and whose block is skipped.
        ({"src/area.cpp": AREA.replace("#if 0", "#if SCALE > 2")}, ".", [], 0,
         ["src/area.cpp:16-20: inactive: skipped by the preprocessor (changed lines 16)"], None),
        (EXTRA, "src", ["-p", "../build"], 1, [],
         r"error: the diff changes no file the compilation database reaches: src/main\.cpp; "
         r"its paths are taken relative to --root DIR \(now \S+/project/src\); "
         r"for git diff, give the repository's top folder"),
    ],
    ids=["others-cost-no-parse", "others-only", "others-only-json", "quoted-path", "guarded-twice",
         "failed-unit", "unit-with-errors", "if-line", "from-a-subfolder"],
)  # fmt: skip
def test_changed_says_what_it_made_of_a_real_git_diff(
    repository, edits, folder, options, status, stdout, stderr
):
    for name, text in edits.items():
        (repository / name).write_text(text)
    diff = git(repository, "diff")
    arguments = ["changed", *(options if "-p" in options else ["-p", "build", *options])]
    done = run_cli(*arguments, cwd=repository / folder, stdin=diff)
    assert (done.returncode, done.stdout.splitlines()) == (status, stdout), done.stderr
    if stderr is None:
        assert own_stderr(done.stderr) == ""
    else:
        assert re.fullmatch(rf"{PROG} changed: {stderr}\n", own_stderr(done.stderr)), done.stderr
