"""`scan` and `changed` on a small generated project with a compilation
database, against independent walks over clang.cindex; real worker
processes, a real git diff, and the ways they fail."""

import fcntl
import json
import os
import pickle
import pty
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
from pathlib import Path
from typing import NamedTuple

import pyarrow.parquet
import pytest

from astsieve_cindex.formats.jsonl import FORMAT
from astsieve_cindex.project.cache import VERSION as CACHE_VERSION
from astsieve_cindex.project.database import read_database
from astsieve_cindex.project.scan import scan_unit
from astsieve_cindex.formats.sections import SectionFilter
from command_output import own_stderr
from companion_oracle import CONTAINER_KINDS, top_level_declarations
from readme import readme_python

HEADER = """#pragma once
#define SCALE 2
namespace geo {
struct point {
  int x;
  int y;
};
inline int twice(int value) {
  // doubles
  int result = value * SCALE;
  return result;
}
int area(point p);
struct shape {
  double area() const;
} unit_square;
struct {
  int hits;
} counters;
}  // namespace geo
"""
AREA = """#include "geo.h"
namespace geo {
int area(point p) {
#define WIDTH_OF(shape) ((shape).x)
#define HEIGHT_OF(shape) ((shape).y)
  int width = WIDTH_OF(p);
  int height = HEIGHT_OF(p);
  return width * height;
}
}  // namespace geo
// helpers
static int unused_helper(void) { return 1; }
double geo::shape::area() const {
  return 1.0;
}
#if 0
static int retired(void) {
  return 0;
}
#endif
"""
MAIN = """#include "geo.h"
int main() {
  geo::point p{2, 3};
  return geo::area(p) + geo::twice(1);
}
"""
SOURCES = {"include/geo.h": HEADER, "src/area.cpp": AREA, "src/main.cpp": MAIN}
FLAGS = ["-std=c++17"]
# libclang names a header as the arguments reach it: relative, or not.
HEADERS = r"(.*/)?include/.*"
PROG = "python -m astsieve_cindex"


def write_database(root, names, flags=None):
    """build/compile_commands.json for src/NAME.cpp in both forms a database
    takes, every other entry compiled from build, the others from the root;
    `flags` adds arguments to the units it names."""
    entries = []
    for index, name in enumerate(names):
        folder = "" if index % 2 else "../"
        source = f"{folder}src/{name}.cpp"
        own = (flags or {}).get(name, [])
        command = ["/usr/bin/c++", f"-I{folder}include", *FLAGS, *own, "-o", f"{name}.o", "-c"]
        command.append(source)
        entry = {"directory": str(root / "build" if folder else root), "file": source}
        entry.update({"arguments": command} if index % 2 else {"command": " ".join(command)})
        entries.append(entry)
    (root / "build").mkdir(exist_ok=True)
    (root / "build" / "compile_commands.json").write_text(json.dumps(entries))


@pytest.fixture
def project(tmp_path):
    root = tmp_path / "project"
    for name, text in SOURCES.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)
    write_database(root, ["area", "main"])
    return root


def run_cli(*arguments, cwd, stdin=None):
    return subprocess.run(
        [sys.executable, "-m", "astsieve_cindex", *arguments],
        cwd=cwd,
        input=stdin,
        capture_output=True,
        text=True,
        timeout=300,
    )


def json_lines(text):
    return [json.loads(line) for line in text.splitlines()]


def oracle_parse(cindex, root, name):
    """The unit of src/NAME.cpp parsed by the test itself, paths absolute."""
    options = cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD
    arguments = ["-I", str(root / "include"), *FLAGS]
    return cindex.TranslationUnit.from_source(
        str(root / "src" / f"{name}.cpp"), args=arguments, options=options
    )


def oracle_declarations(unit):
    """{real path: [(declaration tuple, extent)]} as the commands report them."""
    found = {}
    for cursor, name in top_level_declarations(unit):
        if cursor.location.file is None:  # built-in macros
            continue
        start, end = cursor.extent.start, cursor.extent.end
        path = os.path.realpath(cursor.location.file.name)
        declaration = (cursor.kind.name, name, path, start.line, end.line)
        found.setdefault(path, []).append(
            (declaration, (start.line, start.column), (end.line, end.column))
        )
    return found


def oracle_nodes(unit, pattern):
    """{(real path, line): sorted (column, kind, spelling, declaration)}: a
    recursive walk in which a top-level declaration owns its whole subtree
    (of those that start together, `struct s {...} v;`, the one reaching
    furthest owns them all), the preprocessor's entities belong to the
    declaration around them, and namespaces to none."""
    declarations = oracle_declarations(unit)
    found = {}

    def by_base(declaration):
        return declaration and (declaration[0], named_by_base(declaration[1]), *declaration[2:])

    def accepted(cursor):
        file = cursor.location.file
        if file and (file.name == unit.spelling or re.fullmatch(pattern, file.name)):
            return os.path.realpath(file.name)
        return None

    def around(path, cursor):
        position = (cursor.location.line, cursor.location.column)
        inside = [d for d, start, end in declarations.get(path, []) if start <= position <= end]
        return by_base(inside[0]) if inside else None

    def visit(cursor, owner, prefix):
        path = accepted(cursor)
        if path is None:
            return
        kind, top = cursor.kind, prefix is not None
        if top and kind.name in CONTAINER_KINDS:
            inner = prefix + cursor.spelling + "::" if kind.name == "NAMESPACE" else prefix
        else:
            inner = None
            if top and (kind.is_declaration() or kind.name == "MACRO_DEFINITION"):
                start, end = cursor.extent.start, cursor.extent.end
                start, end = (start.line, start.column), (end.line, end.column)
                together = [(e, d) for d, s, e in declarations[path] if s == start and e >= end]
                owner = by_base(max(together)[1])
            elif kind.is_preprocessing():
                owner = around(path, cursor)
        location = cursor.location
        found.setdefault((path, location.line), []).append(
            (location.column, kind.name, named_by_base(cursor.spelling), owner)
        )
        for child in cursor.get_children():
            visit(child, owner, inner)

    for child in unit.cursor.get_children():
        visit(child, None, "")
    return {key: sorted(nodes, key=repr) for key, nodes in found.items()}


ANONYMOUS_FILE = re.compile(r"(\((?:anonymous|unnamed) struct at )(.+?)(:[0-9]+)")


def named_by_base(name):
    """`name` with the file of an anonymous type in it (ours, or a spelling of
    libclang's) by its base name: the walks parse with other arguments, which
    name files otherwise."""
    return ANONYMOUS_FILE.sub(
        lambda match: match[1] + os.path.basename(match[2]) + match[3], name
    )


def scanned_nodes(records):
    """The shape of oracle_nodes, from scan's JSON Lines records."""
    found = {}
    for record in records:
        path = os.path.realpath(record["file"])
        declarations = [
            (d["kind"], named_by_base(d["name"]), path, d["first_line"], d["last_line"])
            for d in record["declarations"]
        ]
        for line in record["lines"]:
            for node in line["nodes"]:
                index = node["declaration"]
                owner = None if index is None else declarations[index]
                found.setdefault((path, line["line"]), []).append(
                    (node["column"], node["kind"], named_by_base(node["spelling"]), owner)
                )
    return {key: sorted(nodes, key=repr) for key, nodes in found.items()}


def nodes_of(record):
    return [node for line in record["lines"] for node in line["nodes"]]


def by_unit(records):
    units = {}
    for record in records:
        units.setdefault(Path(record["unit"]).stem, []).append(record)
    return units


def line_of(path, text):
    return next(n for n, line in enumerate(path.read_text().splitlines(), 1) if text in line)


def test_scan_matches_a_cindex_walk_unit_by_unit(cindex, project):
    done = run_cli("scan", "-p", "build", "--pattern", HEADERS, "--jobs", "2", cwd=project)
    assert (done.returncode, own_stderr(done.stderr)) == (0, "")  # no progress bar off a terminal
    records = json_lines(done.stdout)
    assert {record["format"] for record in records} == {FORMAT}
    # Each unit's main file, and the header both reach alike once.
    assert sorted((Path(r["file"]).name, r["main"]) for r in records) == [
        ("area.cpp", True),
        ("geo.h", False),
        ("main.cpp", True),
    ]
    assert sorted(by_unit(records)) == ["area", "main"]
    expected = {}
    for name in ("area", "main"):
        for key, nodes in oracle_nodes(oracle_parse(cindex, project, name), HEADERS).items():
            assert expected.setdefault(key, nodes) == nodes
    nodes = scanned_nodes(records)
    assert nodes == expected
    # The walks agree on something worth agreeing on.
    area, header = os.path.realpath(project / "src/area.cpp"), os.path.realpath(
        project / "include/geo.h"
    )
    height = nodes[(area, line_of(project / "src/area.cpp", "int height"))]
    assert {owner[:2] for *_, owner in height} == {("FUNCTION_DECL", "geo::area")}
    scale = nodes[(header, line_of(project / "include/geo.h", "value * SCALE"))]
    assert ("MACRO_INSTANTIATION", ("FUNCTION_DECL", "geo::twice")) in {
        (n[1], n[3][:2]) for n in scale
    }


def test_explicit_files_and_the_api_give_what_the_database_gives(cindex, project):
    from_database = run_cli(
        "scan", "-p", "build", "src/main.cpp", "--pattern", HEADERS, cwd=project
    )
    explicit = run_cli(
        "scan", "src/main.cpp", "--pattern", HEADERS, "--", "-I", "include", *FLAGS, cwd=project
    )
    assert from_database.returncode == explicit.returncode == 0
    assert scanned_nodes(json_lines(explicit.stdout)) == scanned_nodes(
        json_lines(from_database.stdout)
    )
    # The per-unit function, in this process, pickled as for any engine.
    unit = next(u for u in read_database(project / "build") if u.file.endswith("main.cpp"))
    result = pickle.loads(pickle.dumps(scan_unit(unit, HEADERS, "jsonl")))
    written = SectionFilter().new_sections(result.sections)
    assert b"".join(section.data for section in written).decode() == from_database.stdout


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


def cache_entries(folder):
    """{entry: its modification time} of a cache folder."""
    return {path.name: path.stat().st_mtime_ns for path in (folder / f"v{CACHE_VERSION}").glob("*.entry")}


def cached_scan(project, cache):
    """The output of a scan with `cache`, and how many units came from it."""
    options = ["--pattern", HEADERS, "--jobs", "1", "--verbose", "--cache", str(cache)]
    done = run_cli("scan", "-p", "build", *options, cwd=project)
    assert done.returncode == 0, done.stderr
    (hits,) = re.findall(r"scan: note: (\d+) of 2 units from the cache\n", done.stderr)
    return done.stdout, int(hits)


def damage_entry(cache, unit, damage):
    (path,) = [
        path
        for path in (cache / f"v{CACHE_VERSION}").glob("*.entry")
        if json.loads(path.read_bytes().partition(b"\n")[0])["identity"]["file"] == str(unit)
    ]
    data = path.read_bytes()
    if damage == "truncated":
        path.write_bytes(data[:-10])
    else:  # one bit of the sections' data flipped
        at = data.index(b'"lines"')
        path.write_bytes(data[:at] + bytes([data[at] ^ 1]) + data[at + 1 :])


@pytest.mark.parametrize("damage", [None, "truncated", "flipped"])
def test_a_warm_cache_parses_only_the_units_whose_files_changed(project, tmp_path, damage):
    cache, area = tmp_path / "cache", project / "src" / "area.cpp"
    cold, hits = cached_scan(project, cache)
    uncached = run_cli("scan", "-p", "build", "--pattern", HEADERS, "--jobs", "1", cwd=project)
    assert (cold, hits) == (uncached.stdout, 0) and len(json_lines(cold)) == 3
    entries = cache_entries(cache)
    assert len(entries) == 2
    if damage is not None:  # never believed: parsed again, and the entry rebuilt
        damage_entry(cache, area, damage)
        assert cached_scan(project, cache) == (cold, 1)
        assert len(cache_entries(cache)) == 2 and cache_entries(cache) != entries
        entries = cache_entries(cache)
    # Nothing parsed, nothing written.
    assert cached_scan(project, cache) == (cold, 2) and cache_entries(cache) == entries
    edit(area, "unused_helper", "spare_helper")
    changed, hits = cached_scan(project, cache)
    assert (changed, hits) == (cached_scan(project, tmp_path / "fresh")[0], 1) and changed != cold
    renewed = cache_entries(cache)
    assert [renewed[name] == entries[name] for name in sorted(entries)].count(False) == 1
    edit(project / "include" / "geo.h", "int x;", "int x = 0;")  # read by both
    changed, hits = cached_scan(project, cache)
    assert (changed, hits) == (cached_scan(project, tmp_path / "again")[0], 0)
    size = run_cli("cache", str(cache), cwd=project)
    assert re.fullmatch(rf"{cache}: 2 entries, [1-9][0-9]+ bytes\n", size.stdout), size.stderr
    cleared = run_cli("cache", str(cache), "--clear", cwd=project)
    assert cleared.stdout.startswith("removed 2 entries, ") and not cache_entries(cache)


def worker_pids(pid):
    """The scan's worker processes, as the kernel lists its children."""
    children = []
    for task in Path(f"/proc/{pid}/task").iterdir():
        children += map(int, (task / "children").read_text().split())
    return [pid for pid in children if b"spawn_main" in Path(f"/proc/{pid}/cmdline").read_bytes()]


def kill_the_worker(scan):
    (worker,) = worker_pids(scan.pid)
    os.kill(worker, signal.SIGKILL)


# About half a minute of constant evaluation, in little memory.
HEAVY = "constexpr long spin(long n) {\n"
HEAVY += "  long s = 0;\n  for (long i = 0; i < n; ++i) s += i % 7;\n  return s;\n}\n"
HEAVY += "".join(f"static_assert(spin({200000 + i}) > 0);\n" for i in range(100))
FAILING = r"\S+/src/failing\.cpp"


# One worker: once area's output is out, it holds the failing unit; main
# then needs a worker of its own.
@pytest.mark.parametrize(
    "source, options, act, message",
    [
        (
            "int broken( {\n",
            [],
            None,
            rf"cannot parse {FAILING}: [^\n]+\n"
            rf"{PROG} scan: note: libclang reported 0 warnings and \d+ errors? "
            r"\(--verbose shows them\)",
        ),
        (HEAVY, [], kill_the_worker, f"worker killed by SIGKILL while parsing {FAILING}"),
        (HEAVY, ["--timeout", "3"], None, f"timed out after 3 s while parsing {FAILING}"),
    ],
    ids=["error", "killed", "timeout"],
)
def test_a_failed_unit_is_one_line_and_the_others_go_on(
    cindex, project, source, options, act, message
):
    (project / "src" / "failing.cpp").write_text(source)
    write_database(project, ["area", "failing", "main"])
    done = run_scan(project, ["-p", "build", "--jobs", "1", *options], act)
    assert (done.returncode, done.left) == (1, [])
    assert re.fullmatch(rf"{PROG} scan: failed: {message}\n", own_stderr(done.stderr)), done.stderr
    units = by_unit(json_lines(done.stdout))
    assert sorted(units) == ["area", "main"]
    for name, records in units.items():
        assert scanned_nodes(records) == oracle_nodes(oracle_parse(cindex, project, name), "")


def test_libclangs_diagnostics_are_counted_and_printed_with_verbose(project):
    (project / "src" / "broken.cpp").write_text("int broken( {\n")
    write_database(project, ["area", "broken", "main"])
    # An option libclang warns about, on its own stderr, for every unit.
    done = run_cli("scan", "-p", "build", "--jobs", "2", "--", "-Wlogical-op", cwd=project)
    assert done.returncode == 1
    summary = re.fullmatch(
        rf"{PROG} scan: failed: cannot parse \S+/src/broken\.cpp: [^\n]+\n"
        rf"{PROG} scan: note: libclang reported 3 warnings and (\d+) errors "
        r"\(--verbose shows them\)\n",
        own_stderr(done.stderr),
    )
    assert summary, done.stderr
    assert sorted(by_unit(json_lines(done.stdout))) == ["area", "main"]
    verbose = run_cli("scan", "-p", "build", "--verbose", "--", "-Wlogical-op", cwd=project)
    assert sorted(verbose.stdout.splitlines()) == sorted(done.stdout.splitlines())
    lines = own_stderr(verbose.stderr).splitlines()
    errors = [line for line in lines if re.match(r"\S+/src/broken\.cpp:\d+:\d+: error: ", line)]
    assert len(errors) == int(summary.group(1))
    warned = [line for line in lines if ": warning: unknown warning option '-Wlogical-op'" in line]
    assert sorted(Path(line.split(": ")[0]).stem for line in warned) == ["area", "broken", "main"]
    assert lines[-1] == f"{PROG} scan: note: libclang reported 3 warnings and {len(errors)} errors"


def test_progress_bar_on_a_terminal_counts_units_and_failures(project):
    (project / "src" / "broken.cpp").write_text("int broken( {\n")
    write_database(project, ["area", "broken", "main"])
    primary, secondary = pty.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 120, 0, 0))
    try:
        command = [sys.executable, "-m", "astsieve_cindex", "scan", "-p", "build"]
        done = subprocess.run(
            command, cwd=project, stdout=subprocess.DEVNULL, stderr=secondary, timeout=300
        )
    finally:
        os.close(secondary)
    screen = b""
    while True:
        try:
            chunk = os.read(primary, 65536)
        except OSError:  # the terminal's other side is closed and drained
            break
        if not chunk:
            break
        screen += chunk
    os.close(primary)
    assert done.returncode == 1
    assert re.search(rb"3/3 \[[0-9:]+<[0-9:]+, [^\]]*failed=1\]", screen), screen


def git(root, *arguments):
    identity = ["-c", "user.name=test", "-c", "user.email=test@example.invalid"]
    done = subprocess.run(
        ["git", *identity, *arguments], cwd=root, capture_output=True, text=True, check=True
    )
    return done.stdout


def edit(path, old, new):
    text = path.read_text()
    assert old in text
    path.write_text(text.replace(old, new, 1))


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


@pytest.fixture
def repository(project):
    """The project under git, with a unit that cannot parse, a unit git
    quotes the name of, and files no unit reads."""
    files = {
        "src/broken.cpp": "int broken( {\n",
        "src/\u00e9.cpp": "int accent() {\n  return 1;\n}\n",
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


DOCS = {"README.md": "# geo\nmore\n", "Makefile": "all:\n\ttrue\n"}
EXTRA = {"src/main.cpp": MAIN + "int extra() {\n  return 4;\n}\n"}
EXTRA_LINE = "src/main.cpp:6-8: FUNCTION_DECL extra (changed lines 6, 7, 8)"


@pytest.mark.parametrize(
    "edits, folder, options, status, stdout, stderr",
    [
        # Files no unit reads cost no parse: the broken unit is not parsed.
        ({**DOCS, **EXTRA, "tests/unit.tcl": "puts no\n"}, ".", [], 0, [EXTRA_LINE],
         r"note: skipped, not C or C\+\+: Makefile, README\.md, tests/unit\.tcl"),
        (DOCS, ".", [], 0, ["no C or C++ file changed"], None),
        (DOCS, ".", ["--json"], 0, [], r"note: no C or C\+\+ file changed"),
        # git writes "src/\303\251.cpp".
        ({"src/\u00e9.cpp": "int accent() {\n  return 2;\n}\n"}, ".", [], 0,
         ["src/\u00e9.cpp:1-3: FUNCTION_DECL accent (changed lines 2)"], None),
        ({"src/broken.cpp": "int broken( {\nint more;\n"}, ".", [], 1, [],
         r"failed: cannot parse \S+/src/broken\.cpp: .+\n"
         rf"{PROG} changed: note: libclang reported 0 warnings and \d+ errors? "
         r"\(--verbose shows them\)"),
        (EXTRA, "src", ["-p", "../build"], 1, [],
         r"error: the diff changes no file the compilation database reaches: src/main\.cpp; "
         r"its paths are taken relative to --root DIR \(now \S+/project/src\); "
         r"for git diff, give the repository's top folder"),
    ],
    ids=["others-cost-no-parse", "others-only", "others-only-json", "quoted-path",
         "failed-unit", "from-a-subfolder"],
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


MAIN_DIFF = (
    "--- a/src/main.cpp\n+++ b/src/main.cpp\n@@ -{0} +{0} @@\n-int main() {{\n+int main(void) {{\n"
)
MAIN_LINE = MAIN.splitlines().index("int main() {") + 1


@pytest.mark.parametrize(
    "arguments, stdin, message",
    [
        (["scan", "-p", "nowhere"], None, "no such build folder: nowhere"),
        (["scan", "-p", "bad"], None, "cannot read bad/compile_commands.json: not JSON: "),
        (["changed", "-p", "build", "absent.diff"], None, "cannot read the diff absent.diff: "),
        (["scan", "-p", "build", "--format", "parquet"], None, "parquet needs --output DIR"),
        (["scan", "-p", "build", "--output", "out"], None, "--output DIR is for --format parquet"),
        (
            ["scan", "-p", "build", "--format", "parquet", "--output", "bad/compile_commands.json"],
            None,
            "cannot write to bad/compile_commands.json: File exists",
        ),
        (["changed", "-p", "build"], "just some text\n", "not a unified diff"),
        (["changed", "-p", "build", "--base", "nosuch"], MAIN_DIFF.format(MAIN_LINE),
         "git knows no revision nosuch"),
        (["changed", "-p", "build", "--base", "HEAD", "--root", ".."], MAIN_DIFF.format(MAIN_LINE),
         "--base needs a git work tree: "),
        (["changed", "-p", "build", "--base", "HEAD"], MAIN_DIFF.format(MAIN_LINE - 1),
         f"the diff does not apply to HEAD: src/main.cpp differs at line {MAIN_LINE - 1}"),
        (
            ["scan", "-p", "build", "--cache", "bad/compile_commands.json"],
            None,
            "cannot use the cache folder bad/compile_commands.json: Not a directory",
        ),
        (["cache", "nowhere"], None, "no such cache folder: nowhere"),
    ],
)  # fmt: skip
def test_bad_project_input_gives_one_error_line(project, arguments, stdin, message):
    git(project, "init", "-q")
    git(project, "add", ".")
    git(project, "commit", "-q", "-m", "base")
    (project / "bad").mkdir()
    (project / "bad" / "compile_commands.json").write_text('[{"directory": "/", "file": "a.c"')
    done = run_cli(*arguments, cwd=project, stdin=stdin)
    assert (done.returncode, done.stdout) == (1, "")
    error = own_stderr(done.stderr)
    assert error.startswith(f"{PROG} {arguments[0]}: error: ") and error.count("\n") == 1
    assert message in error, done.stderr


def session_processes(session):
    """The processes still alive in `session`."""
    alive = []
    for entry in Path("/proc").iterdir():
        try:
            fields = (entry / "stat").read_text().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        if entry.name.isdigit() and int(fields[3]) == session and fields[0] != "Z":
            alive.append(int(entry.name))
    return alive


class Scan(NamedTuple):
    returncode: int
    stdout: str
    stderr: str
    left: list  # processes of its session still alive 10 s after it ended


def run_scan(project, arguments, act=None, limit=300):
    """scan in a session of its own; act(process) once its first line of
    output is out. Its output comes through one reader, its stderr through a
    file; the whole session is killed after `limit` seconds."""
    command = [sys.executable, "-m", "astsieve_cindex", "scan", *arguments]
    with tempfile.TemporaryFile() as errors:
        scan = subprocess.Popen(
            command, cwd=project, stdout=subprocess.PIPE, stderr=errors, start_new_session=True
        )
        late = []
        watchdog = threading.Timer(limit, lambda: late.append(os.killpg(scan.pid, signal.SIGKILL)))
        watchdog.start()
        try:
            output = scan.stdout.readline()
            if act is not None:
                act(scan)
            output += scan.stdout.read()
            scan.wait()
        finally:
            watchdog.cancel()
            if scan.poll() is None:
                os.killpg(scan.pid, signal.SIGKILL)
                scan.wait()
        assert not late, f"scan still running after {limit} s"
        deadline = time.monotonic() + 10
        while session_processes(scan.pid) and time.monotonic() < deadline:
            time.sleep(0.1)
        left = session_processes(scan.pid)
        if left:
            os.killpg(scan.pid, signal.SIGKILL)
        errors.seek(0)
        return Scan(scan.returncode, output.decode(), errors.read().decode(), left)


def test_ctrl_c_stops_the_workers_and_leaves_valid_json_lines(project):
    units = 12
    functions = "".join(
        f"inline int f{i}(int x) {{ return x * {i} + {i % 7}; }}\n" for i in range(20000)
    )
    (project / "include" / "big.h").write_text(functions)
    for index in range(units):
        (project / "src" / f"slow{index}.cpp").write_text(
            f'#include "big.h"\nint main() {{ return f{index}(1); }}\n'
        )
    write_database(project, [f"slow{index}" for index in range(units)])

    def ctrl_c(scan):  # a unit is done, the workers are busy with others
        os.killpg(scan.pid, signal.SIGINT)  # as a terminal sends Ctrl-C: to the whole group

    done = run_scan(project, ["-p", "build", "--jobs", "2"], ctrl_c)
    assert (done.returncode, done.left) == (130, [])
    assert own_stderr(done.stderr) == f"{PROG} scan: error: interrupted\n"
    assert 0 < len(by_unit(json_lines(done.stdout))) < units


def run_bytes(*arguments, cwd, stdout=subprocess.PIPE):
    """A command line of bytes, as a shell passes names that are not UTF-8."""
    command = [os.fsencode(sys.executable), b"-m", b"astsieve_cindex", *arguments]
    return subprocess.run(command, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE, timeout=300)


def test_names_that_are_not_utf8_fail_only_their_own_unit(tmp_path):
    for name in ("ok1.c", "ok2.c"):
        (tmp_path / name).write_text("int ok;\n")
    with open(os.path.join(os.fsencode(tmp_path), b"b\xffd.c"), "wb") as source:
        source.write(b"int bad;\n")
    with open(os.path.join(os.fsencode(tmp_path), b"h\xffx.h"), "wb") as header:
        header.write(b"int in_header;\n")
    (tmp_path / "includes.c").write_bytes(b'#include "h\xffx.h"\nint after;\n')
    # Named on the command line: every unit is written, that one under its
    # name as JSON escapes it.
    done = run_bytes(b"scan", b"ok1.c", b"b\xffd.c", b"ok2.c", cwd=tmp_path)
    assert (done.returncode, own_stderr(done.stderr.decode())) == (0, "")
    written = by_unit(json_lines(done.stdout.decode()))
    assert sorted(written) == ["b\udcffd", "ok1", "ok2"]
    spellings = {n["spelling"] for r in written["b\udcffd"] for n in nodes_of(r)}
    assert spellings == {"bad"}
    # An inclusion of such a file: its spelling and, once the pattern
    # accepts it, its name as JSON escapes them.
    for pattern in ([], [b"--pattern", b".*x\\.h"]):
        done = run_bytes(b"scan", b"includes.c", *pattern, cwd=tmp_path)
        assert (done.returncode, own_stderr(done.stderr.decode())) == (0, "")
        records = json_lines(done.stdout.decode())
        nodes = {(n["kind"], n["spelling"]) for r in records for n in nodes_of(r)}
        assert ("INCLUSION_DIRECTIVE", "h\udcffx.h") in nodes and b'"h\\udcffx.h"' in done.stdout
        headers = {os.path.basename(r["file"]) for r in records} - {"includes.c"}
        assert headers == ({"h\udcffx.h"} if pattern else set())
    # A database Python's json wrote, "\udcff" escapes in a file name and in
    # an argument: the unit of the escaped file, and the one whose headers
    # lie in such a folder, are parsed.
    folder = os.path.join(os.fsencode(tmp_path), b"inc\xff")
    os.mkdir(folder)
    with open(os.path.join(folder, b"lib.h"), "wb") as header:
        header.write(b"int from_lib;\n")
    (tmp_path / "uses.c").write_text('#include "lib.h"\nint uses = 1;\n')
    entries = [
        {"directory": str(tmp_path), "file": name, "arguments": ["cc", *extra, "-c", name]}
        for name, extra in [
            ("ok1.c", []),
            (os.fsdecode(b"b\xffd.c"), []),
            ("uses.c", [os.fsdecode(b"-Iinc\xff")]),
        ]
    ]
    (tmp_path / "compile_commands.json").write_text(json.dumps(entries))
    assert "\\udcff" in (tmp_path / "compile_commands.json").read_text()
    done = run_bytes(b"scan", b"-p", b".", cwd=tmp_path)
    assert (done.returncode, own_stderr(done.stderr.decode())) == (0, "")
    assert sorted(by_unit(json_lines(done.stdout.decode()))) == ["b\udcffd", "ok1", "uses"]


@pytest.mark.parametrize("command", [["list"], ["scan", "-p", "build"], ["changed", "-p", "build"]])
@pytest.mark.parametrize("output", ["/dev/full", "closed"])
def test_output_that_cannot_be_written_is_one_error_line(project, command, output):
    git(project, "init", "-q")
    git(project, "add", ".")
    git(project, "commit", "-q", "-m", "base")
    edit(project / "src/area.cpp", "int height = HEIGHT_OF(p);", "int height = HEIGHT_OF(p) + 0;")
    diff = project / "change.diff"
    diff.write_text(git(project, "diff"))
    arguments = {"list": ["src/main.cpp", "--", "-Iinclude", "-std=c++17"], "changed": [str(diff)]}
    with open("/dev/full" if output == "/dev/full" else os.devnull, "w") as sink:
        done = subprocess.run(
            [sys.executable, "-m", "astsieve_cindex", *command, *arguments.get(command[0], [])],
            cwd=project,
            stdout=sink,
            stderr=subprocess.PIPE,
            text=True,
            timeout=300,
            # Started as `>&-` starts it: no standard output at all.
            preexec_fn=None if output == "/dev/full" else lambda: os.close(1),
        )
    reason = "No space left on device" if output == "/dev/full" else "standard output is closed"
    name = PROG if command[0] == "list" else f"{PROG} {command[0]}"
    assert done.returncode == 1
    assert own_stderr(done.stderr) == f"{name}: error: cannot write the output: {reason}\n"
