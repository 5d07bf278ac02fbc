"""The output formats: each header once per variant, Parquet against JSON
Lines, and the Dask route against scan."""

import json
import re
import subprocess
import sys
from pathlib import Path

import pyarrow.parquet
import pytest

from astsieve_cindex.digests import text_digest
from astsieve_cindex.formats.part import FilePart, part_digest
from astsieve_cindex.table import FORMAT, TableDeclaration, TableNode
from command_output import own_stderr
from readme import readme_python
from project_files import (
    FLAGS,
    HEADERS,
    PROG,
    write_database,
    run_cli,
    json_lines,
    edit,
)


DECLARATION_KEYS = ("kind", "name", "first_line", "last_line")


def scan_rows(project, *arguments):
    """The rows of a Parquet scan, and the same rows from a JSON Lines scan."""
    parquet = run_cli(
        "scan", "-p", "build", *arguments, "--format", "parquet", "--output", "out", cwd=project
    )
    text = run_cli("scan", "-p", "build", *arguments, cwd=project)
    assert (parquet.returncode, parquet.stdout, own_stderr(parquet.stderr)) == (0, "", "")
    assert text.returncode == 0
    expected = []
    for record in json_lines(text.stdout):
        for line in record["lines"]:
            for node in line["nodes"]:
                index = node["declaration"]
                owner = record["declarations"][index] if index is not None else {}
                expected.append(
                    {
                        "unit": record["unit"],
                        "file": record["file"],
                        "main": record["main"],
                        "line": line["line"],
                        **{key: node[key] for key in ("column", "kind", "spelling")},
                        **{f"declaration_{key}": owner.get(key) for key in DECLARATION_KEYS},
                    }
                )
    table = pyarrow.parquet.read_table(project / "out" / "nodes.parquet")
    return table, expected


@pytest.mark.parametrize(
    "main_flags, variants", [([], ["area|main"]), (["-DWIDE"], ["area", "main"])]
)
def test_a_header_is_written_once_per_variant_of_its_nodes(project, main_flags, variants):
    edit(
        project / "include/geo.h",
        "int area(point p);",
        "int area(point p);\n#ifdef WIDE\nlong wide(long value);\n#endif",
    )
    write_database(project, ["area", "main"], {"main": main_flags})
    done = run_cli("scan", "-p", "build", "--pattern", HEADERS, "--jobs", "2", cwd=project)
    assert (done.returncode, own_stderr(done.stderr)) == (0, "")
    records = json_lines(done.stdout)
    assert sorted(Path(r["file"]).name for r in records if r["main"]) == ["area.cpp", "main.cpp"]
    headers = [r for r in records if not r["main"]]
    assert {Path(r["file"]).name for r in headers} == {"geo.h"}
    # Each variant names the unit that gave it: the one with -DWIDE declares geo::wide.
    given = sorted(Path(r["unit"]).stem for r in headers)
    assert len(given) == len(variants) and all(re.fullmatch(v, u) for v, u in zip(variants, given))
    for record in headers:
        names = {d["name"] for d in record["declarations"]}
        assert ("geo::wide" in names) == (Path(record["unit"]).stem == "main" and bool(main_flags))


def test_a_parts_digest_is_that_of_its_rows_as_json_writes_them():
    # The helper writes the text json.dumps would: every escape it makes, and
    # the part's own file names taken out.
    awkward = ['q"b\\s', "\n\r\t\b\f\x00\x1f~\x7f", "\xe9\u20ac\U0001f600", "bad\udcff", ""]
    file = "/p/in\xe9.h"
    declarations = [TableDeclaration(kind, f"({file}:1)", 0, 1, 2**40) for kind in awkward]
    nodes = [TableNode(0, i, -i, k, s, i % 6 - 1) for i, (k, s) in enumerate(zip(awkward, awkward[::-1]))]
    local = [0, 1, None, 3, 4, None]
    part = FilePart("u.c", file, "in\xe9.h", False, declarations, tuple(nodes), local)
    described = [[d.kind, d.name, d.first_line, d.last_line] for d in declarations]
    rows = [(n.line, n.column, n.kind, n.spelling, local[n.declaration]) for n in nodes]
    body = json.dumps([described, rows])
    for name in (file, "in\xe9.h"):
        body = body.replace(json.dumps(name)[1:-1], "")
    assert part_digest(part) == text_digest(body.encode())


def test_parquet_holds_the_nodes_of_the_json_lines(project):
    table, expected = scan_rows(project, "--pattern", HEADERS, "--jobs", "1")
    assert table.schema.metadata[b"astsieve.format"] == FORMAT.encode()
    assert table.to_pylist() == expected and len(expected) > 50
    assert {row["declaration_name"] for row in expected} >= {"geo::twice", "geo::area", None}


def test_parquet_without_pyarrow_is_one_error_line(project):
    code = (
        "import runpy, sys; sys.modules['pyarrow'] = None; "
        "sys.argv = ['astsieve_cindex', 'scan', '-p', 'build', '--format', 'parquet', "
        "'--output', 'out']; "
        "runpy.run_module('astsieve_cindex', run_name='__main__')"
    )
    done = subprocess.run(
        [sys.executable, "-c", code], cwd=project, capture_output=True, text=True, timeout=300
    )
    assert (done.returncode, done.stdout) == (1, "")
    assert own_stderr(done.stderr) == (
        f"{PROG} scan: error: --format parquet needs pyarrow: pip install 'astsieve[parquet]'\n"
    )
    assert not (project / "out").exists()


def test_readme_dask_example_writes_what_scan_writes(project):
    # Every unit compiled from build, so that the README's pattern accepts
    # the header in each and the filter has a header to leave out.
    entries = json.loads((project / "build" / "compile_commands.json").read_text())
    for entry in entries:
        source = f"../src/{Path(entry['file']).name}"
        entry["arguments"] = ["/usr/bin/c++", "-I../include", *FLAGS, "-c", source]
        entry.update(directory=str(project / "build"), file=entry["arguments"][-1])
        entry.pop("command", None)
    (project / "build" / "compile_commands.json").write_text(json.dumps(entries))
    (project / "example.py").write_text(readme_python("dask.distributed"))
    example = subprocess.run(
        [sys.executable, "example.py"], cwd=project, capture_output=True, text=True, timeout=300
    )
    assert example.returncode == 0, example.stderr
    assert example.stdout == ""
    done = run_cli("scan", "-p", "build", "--pattern", r".*/include/.*", cwd=project)
    assert done.returncode == 0
    written = json_lines((project / "nodes.jsonl").read_text())
    assert [r["main"] for r in written].count(False) == 1

    def without_header_units(records):
        # The unit that gives the header is the first to finish, in either run.
        return sorted(json.dumps({**r, "unit": r["unit"] if r["main"] else None}) for r in records)

    assert without_header_units(written) == without_header_units(json_lines(done.stdout))
