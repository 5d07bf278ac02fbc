import json
import re
import subprocess
import sys

import pytest

import astsieve
from astsieve_cindex.cli import EXAMPLE_FILE, main
from companion_oracle import oracle_by_path_and_line

PROG_ERROR = "python -m astsieve_cindex: error: "
ROW = re.compile(r"^  +(\d+)  (.+)$")


def run_cli(*arguments):
    return subprocess.run(
        [sys.executable, "-m", "astsieve_cindex", *arguments],
        capture_output=True,
        text=True,
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
    assert (done.returncode, done.stderr) == (0, "")
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


def test_compiler_arguments_reach_libclang(project, capsys):
    assert main([str(project), "--", "-DEXTRA"]) == 0
    assert "VAR_DECL extra" in capsys.readouterr().out
    assert main([str(project)]) == 0
    assert "VAR_DECL extra" not in capsys.readouterr().out


def test_bad_input_gives_one_error_line_and_no_output(project, tmp_path):
    broken = tmp_path / "broken.c"
    broken.write_text("".join(f"int f{i}(void) {{ return nope{i}; }}\n" for i in range(5)))
    with pytest.raises(RuntimeError) as engine_error:
        astsieve.get_path_to_nodes((0, 0, [0, 0, 0]), "[z-a]", "")
    cases = [
        ([str(tmp_path / "absent.c")], "no such file: " + str(tmp_path / "absent.c")),
        ([str(tmp_path)], "not a regular file"),
        ([str(broken)], "broken.c:1:23: error: use of undeclared identifier 'nope0'; "),
        ([str(broken)], "; 2 more"),
        (
            [str(project), "--", "-std=bogus"],
            "libclang made no translation unit, check the compiler arguments",
        ),
        ([str(project), "--pattern", "[z-a]"], str(engine_error.value)),
    ]
    for arguments, message in cases:
        done = run_cli(*arguments)
        assert (done.returncode, done.stdout) == (1, ""), arguments
        assert done.stderr.startswith(PROG_ERROR) and done.stderr.count("\n") == 1, done.stderr
        assert message in done.stderr
