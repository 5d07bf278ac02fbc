import glob
import json
import os
import re
import subprocess
import sys

import pytest

import astsieve
from astsieve_cindex.project import builtin_headers as resource_dir
from astsieve_cindex.cli import EXAMPLE_FILE, main
from astsieve_cindex.project.parsing import parse_file
from astsieve_cindex.project.builtin_headers import (
    finds_builtin_headers,
    is_resource_dir,
    libclang_version,
    matching_resource_dirs,
    nearest_resource_dirs,
    offered_header_packages,
    version_numbers,
)
from command_output import own_stderr
from companion_oracle import oracle_by_path_and_line

PROG_ERROR = "python -m astsieve_cindex: error: "
ROW = re.compile(r"^  +(\d+)  (.+)$")


def run_cli(*arguments):
    return subprocess.run(
        [sys.executable, "-m", "astsieve_cindex", *arguments],
        capture_output=True,
        text=True,
        errors="surrogateescape",  # names that are not UTF-8 come back as given
        timeout=120,
    )


def parse_text(output):
    """{path: {line: row}} from the text listing, checking that no line repeats."""
    files = {}
    for block in output.strip("\n").split("\n\n"):
        path, *rows = block.split("\n")
        lines = [ROW.match(row).groups() for row in rows]
        numbers = [int(number) for number, _ in lines]
        assert numbers == sorted(set(numbers))
        files[path] = {int(number): row for number, row in lines}
    return files


def per_line(document, summary):
    """{path: {line: summary(nodes)}} of a JSON listing, nodes as (kind, spelling)."""
    return {
        path: {
            int(line): summary([(n["kind"], n["spelling"]) for n in nodes])
            for line, nodes in lines.items()
        }
        for path, lines in document.items()
    }


def line_of(path, text):
    return next(n for n, line in enumerate(path.read_text().splitlines(), 1) if text in line)


def test_bundled_example_shows_main_file_header_and_macro():
    done = run_cli()
    assert (done.returncode, own_stderr(done.stderr)) == (0, "")
    header = EXAMPLE_FILE.with_name("shapes.h")
    files = parse_text(done.stdout)
    assert list(files) == [str(EXAMPLE_FILE), str(header)]
    main_rows, header_rows = files[str(EXAMPLE_FILE)], files[str(header)]
    assert main_rows[line_of(EXAMPLE_FILE, "#include")] == "INCLUSION_DIRECTIVE shapes.h"
    assert "MACRO_INSTANTIATION SQUARE" in main_rows[line_of(EXAMPLE_FILE, "SQUARE(side)")]
    assert main_rows[line_of(EXAMPLE_FILE, "int square_area")].startswith(
        "FUNCTION_DECL square_area, PARM_DECL side"
    )
    assert header_rows[line_of(header, "#define SQUARE")] == "MACRO_DEFINITION SQUARE"
    assert header_rows[line_of(header, "int width")] == "FIELD_DECL width"


@pytest.fixture
def project(tmp_path):
    (tmp_path / "lib.h").write_text("#define LIMIT 4\nstruct item { int id; };\n")
    main_file = tmp_path / "main.c"
    main_file.write_text('#include "lib.h"\nint count = LIMIT;\n#ifdef EXTRA\nint extra;\n#endif\n')
    return main_file


@pytest.mark.parametrize("pattern", [None, ".*\\.h"])
def test_json_and_text_match_a_cindex_walk(cindex, project, capsys, pattern):
    options = ["--pattern", pattern] if pattern else []
    assert main([str(project), "--json", *options]) == 0
    document = json.loads(capsys.readouterr().out)
    unit = cindex.TranslationUnit.from_source(
        str(project), options=cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD
    )
    expected = oracle_by_path_and_line(unit.cursor, str(project), pattern or "")
    kinds_and_spellings = per_line(document, lambda nodes: sorted(map(tuple, nodes)))
    assert kinds_and_spellings == {
        path: {line: sorted(key[:2] for key in keys) for line, keys in lines.items()}
        for path, lines in expected.items()
    }
    assert main([str(project), *options]) == 0
    rows = parse_text(capsys.readouterr().out)
    assert rows == per_line(document, lambda nodes: ", ".join(" ".join(n).strip() for n in nodes))


def test_help_lists_the_commands_each_with_its_line(capsys):
    with pytest.raises(SystemExit) as done:
        main(["--help"])
    assert done.value.code == 0
    assert re.findall(r"^    (\w+) +\S", capsys.readouterr().out, re.M) == [
        "list",
        "scan",
        "changed",
        "cache",
    ]


def test_compiler_arguments_reach_libclang(project, capsys):
    assert main([str(project), "--", "-DEXTRA"]) == 0
    default = capsys.readouterr().out
    assert "VAR_DECL extra" in default
    assert main(["list", str(project), "--", "-DEXTRA"]) == 0
    assert capsys.readouterr().out == default
    assert main([str(project)]) == 0
    assert "VAR_DECL extra" not in capsys.readouterr().out


def test_units_reach_libclang_with_their_own_arguments(cindex, builtin_include_args, tmp_path):
    # Bindings that add their own libc++ headers to arguments without an
    # -isystem (libclang-ng) would break this libstdc++ unit: <cmath> would
    # lack std::abs. Builtin headers come through -resource-dir, so that the
    # arguments hold no -isystem of ours either.
    source = tmp_path / "uses_cmath.cpp"
    source.write_text("#include <cmath>\ndouble magnitude(double x) { return std::abs(x); }\n")
    arguments = ["-x", "c++", "-std=c++17"]
    if builtin_include_args:
        include = builtin_include_args[builtin_include_args.index("-isystem") + 1]
        arguments += ["-resource-dir", os.path.dirname(include)]
    unit = parse_file(cindex, str(source), arguments)
    functions = [c for c in unit.cursor.get_children() if c.kind == cindex.CursorKind.FUNCTION_DECL]
    assert [str(c.location.file) for c in functions if c.spelling == "magnitude"] == [str(source)]


def test_bad_input_gives_one_error_line_and_no_output(project, tmp_path):
    broken = tmp_path / "broken.c"
    broken.write_text("".join(f"int f{i}(void) {{ return nope{i}; }}\n" for i in range(5)))
    odd = os.path.join(os.fsencode(tmp_path), b"odd\xff.c")
    with open(odd, "wb") as source:
        source.write(b"int odd;\n")
    with pytest.raises(RuntimeError) as engine_error:
        astsieve.get_path_to_nodes((0, 0, [0, 0, 0]), "[z-a]", "")
    cases = [
        ([str(tmp_path / "absent.c")], "no such file: " + str(tmp_path / "absent.c")),
        ([str(tmp_path)], "not a regular file"),
        ([str(broken), "--strict"], "broken.c:1:23: error: use of undeclared identifier 'nope0'; "),
        ([str(broken), "--strict"], "; 2 more"),
        (
            [str(project), "--", "-std=bogus"],
            "libclang made no translation unit, check the compiler arguments",
        ),
        ([str(project), "--pattern", "[z-a]"], str(engine_error.value)),
        ([os.fsdecode(odd)], f"a file path is not valid UTF-8: {os.fsdecode(odd)}"),
    ]
    for arguments, message in cases:
        done = run_cli(*arguments)
        assert (done.returncode, done.stdout) == (1, ""), arguments
        error = own_stderr(done.stderr)
        assert error.startswith(PROG_ERROR) and error.count("\n") == 1, done.stderr
        assert message in error


def test_resource_directories_match_the_major_of_the_library(tmp_path):
    def resource(path, headers=True):
        (path / "include").mkdir(parents=True)
        if headers:
            (path / "include" / "stddef.h").write_text("")
        return str(path)

    native = tmp_path / "site" / "clang" / "native"
    beside = resource(native / "resource")
    llvm = tmp_path / "llvm-18" / "lib" / "clang"
    exact, major_only = resource(llvm / "18.1.1"), resource(llvm / "18")
    resource(llvm / "19.1.7")  # another major
    resource(llvm / "18.1.0-rc")  # not a version
    resource(tmp_path / "usr-clang" / "18.1.8", headers=False)  # no builtin headers
    (tmp_path / "usr-clang" / "18.1.1").symlink_to(llvm / "18.1.1")  # the same headers again
    patterns = [str(llvm / "*"), str(tmp_path / "usr-clang" / "*")]
    library = str(native / "libclang.so")
    assert matching_resource_dirs((18, 1, 1), library, patterns) == [beside, exact, major_only]
    assert matching_resource_dirs((18, 1, 1), None, patterns) == [exact, major_only]
    assert matching_resource_dirs((17, 0, 6), None, patterns) == []
    # Of other majors: the nearest, the newer at the same distance, the
    # newest version of a major first; 18.1.8 has no headers.
    for version in ("14.0.6", "17", "20.1.2", "20.1.10", "22"):
        resource(tmp_path / "other" / version)
    others = [*patterns, str(tmp_path / "other" / "*")]
    found = [os.path.basename(path) for path in nearest_resource_dirs((18, 1, 1), others)]
    assert found == ["19.1.7", "17", "20.1.10", "20.1.2", "22", "14.0.6"]
    assert [os.path.basename(p) for p in nearest_resource_dirs((20,), others)] == [
        "19.1.7",
        "22",
        "18",
        "18.1.1",
        "17",
        "14.0.6",
    ]
    assert version_numbers("Debian clang version 14.0.6") == (14, 0, 6)
    assert version_numbers("clang version 22.1.4 (https://example.org 1234abc)") == (22, 1, 4)


def test_builtin_headers_are_found_or_their_absence_explained(cindex, tmp_path, monkeypatch, capsys):
    source = tmp_path / "sizes.c"
    source.write_text("#include <stddef.h>\nsize_t count;\n")
    empty = tmp_path / "empty"
    empty.mkdir()
    assert main([str(source), "--resource-dir", str(empty)]) == 1
    error = capsys.readouterr().err
    assert error.startswith(PROG_ERROR) and error.count("\n") == 1
    assert f"--resource-dir {empty}: no clang builtin headers there" in error
    # C++ options must not make the probe itself fail and pass for found.
    assert finds_builtin_headers(cindex, ["-std=c++17"]) == finds_builtin_headers(cindex)
    if finds_builtin_headers(cindex):
        # This libclang brings its own: nothing is added and nothing said.
        assert main([str(source)]) == 0
        listed = capsys.readouterr()
        assert "VAR_DECL count" in listed.out and listed.err == ""
        return
    # A libclang without them (the PyPI wheel): first nothing on the machine
    # matches, then a resource directory of its version does, made of the
    # headers of whatever clang the machine has.
    real = next(
        path
        for pattern in resource_dir.SEARCH_PATTERNS
        for path in glob.glob(pattern)
        if is_resource_dir(path)
    )
    monkeypatch.setattr(resource_dir, "SEARCH_PATTERNS", ())
    assert main([str(source), "--strict"]) == 1
    error = capsys.readouterr().err
    assert error.count("\n") == 1 and "'stddef.h' file not found" in error
    assert "comes without clang's builtin headers" in error and "--resource-dir DIR" in error
    assert "pip install '.[libclang-ng]'" in error
    # Without --strict the file is listed as libclang parsed it; the same
    # reason comes as a note after its line.
    assert main([str(source)]) == 0
    indexed, why = capsys.readouterr().err.splitlines()
    assert re.search(r": warning: \S+/sizes\.c: indexed with 2 errors: \S+ error: 'stddef.h' ", indexed)
    assert why.endswith(error.split("file not found: ")[1].rstrip("\n"))
    # A project's units fail one line each, and the hint is given once.
    (tmp_path / "more.c").write_text("#include <stdarg.h>\nva_list more;\n")
    assert main(["scan", str(source), str(tmp_path / "more.c"), "--jobs", "2", "--strict"]) == 1
    lines = capsys.readouterr().err.splitlines()
    assert sum(": failed: cannot parse " in line for line in lines) == 2
    (hint,) = [line for line in lines if "comes without" in line]
    note = "python -m astsieve_cindex scan: note: "
    assert hint.startswith(note + "libclang ") and hint[len(note) :] in error
    # A package is named only where the package manager offers it.
    named = [int(n) for n in re.findall(r"apt-get install libclang-common-(\d+)-dev", error)]
    assert len(named) <= 1 and set(named) <= set(offered_header_packages())
    for major in named:
        policy = subprocess.run(
            ["apt-cache", "policy", f"libclang-common-{major}-dev"], capture_output=True, text=True
        ).stdout
        assert "Installed: (none)" in policy and "Candidate: (none)" not in policy
    monkeypatch.setenv("PATH", str(empty))  # no package manager at all
    assert offered_header_packages() == []
    assert main([str(source), "--strict"]) == 1
    assert "apt-get" not in capsys.readouterr().err
    monkeypatch.undo()
    monkeypatch.setattr(resource_dir, "SEARCH_PATTERNS", ())
    # Another major's headers are taken once they serve a probe parse: a
    # broken set is passed over for the next nearest.
    own = version_numbers(libclang_version(cindex))[0]
    others = tmp_path / "others"
    (others / str(own + 1) / "include").mkdir(parents=True)
    for header in resource_dir.PROBE_HEADERS:
        (others / str(own + 1) / "include" / header).write_text("#error not these\n")
    (others / str(own + 2)).mkdir()
    (others / str(own + 2) / "include").symlink_to(os.path.join(real, "include"))
    monkeypatch.setattr(resource_dir, "SEARCH_PATTERNS", (str(others / "*"),))
    assert main([str(source)]) == 0
    listed = capsys.readouterr()
    assert "VAR_DECL count" in listed.out and listed.err.count("\n") == 1
    assert f"using those of {others}/{own + 2}, of clang {own + 2}, another major" in listed.err
    version = ".".join(map(str, version_numbers(libclang_version(cindex))))
    (tmp_path / "clang" / version).mkdir(parents=True)
    (tmp_path / "clang" / version / "include").symlink_to(os.path.join(real, "include"))
    monkeypatch.setattr(resource_dir, "SEARCH_PATTERNS", (str(tmp_path / "clang" / "*"),))
    assert main([str(source)]) == 0
    listed = capsys.readouterr()
    assert "VAR_DECL count" in listed.out
    assert listed.err.startswith(f"python -m astsieve_cindex: note: libclang {version} (")
    assert listed.err.endswith(f"no clang builtin headers; using those of {tmp_path}/clang/{version}\n")
