"""The small project the project-command tests share: a header and two
C++ units with a compilation database, the command line run on it, and
independent walks over clang.cindex to check what it writes."""

import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import NamedTuple

import pytest

from companion_oracle import CONTAINER_KINDS, top_level_declarations


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


# What a GCC-built (kernel-style) database adds: flags clang does not take,
# and -Werror with a warning only clang gives (-Wall: area's unused helper).
GCC_FLAGS = [
    "-fconserve-stack",
    "-mindirect-branch=thunk-extern",
    "-fno-allow-store-data-races",
    "-mrecord-mcount",
    "-fno-ipa-sra",
    "-Wall",
    "-Werror",
]


# A firmware unit for a 32-bit cross target, its C library newlib's.
FIRMWARE = """#include <stdint.h>
#include <stdio.h>
#include <string.h>
_Static_assert(sizeof(void *) == 4, "a 32-bit target");
static uint8_t frame[64];
int send(const char *text) {
  size_t size = strlen(text);
  memcpy(frame, text, size < sizeof frame ? size : sizeof frame);
  return printf("%s", text);
}
"""


FIRMWARE_COMPILER = ["arm-none-eabi-gcc", "-mcpu=cortex-m4", "-mthumb", "-mfloat-abi=hard"]


# A unit whose build makes a header first: without that, it is missing.
GENERATED = """#include "generated/config.h"
int first(void) { return 1; }
int second(void) { return CONFIG_VALUE; }
int third(void) { return 3; }
"""


def write_c_database(root, sources):
    """The C files of `sources` ({name: (text, command words before -c)})
    and their compile_commands.json, all in `root`."""
    entries = []
    for name, (text, command) in sources.items():
        (root / name).write_text(text)
        arguments = [*command, "-c", name, "-o", name + ".o"]
        entries.append({"directory": str(root), "file": name, "arguments": arguments})
    (root / "compile_commands.json").write_text(json.dumps(entries))


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


def run_cli(*arguments, cwd, stdin=None, env=None):
    """The command line run in `cwd`, with `env` added to the environment."""
    return subprocess.run(
        [sys.executable, "-m", "astsieve_cindex", *arguments],
        cwd=cwd,
        input=stdin,
        env={**os.environ, **(env or {})},
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


def run_bytes(*arguments, cwd, stdout=subprocess.PIPE):
    """A command line of bytes, as a shell passes names that are not UTF-8."""
    command = [os.fsencode(sys.executable), b"-m", b"astsieve_cindex", *arguments]
    return subprocess.run(command, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE, timeout=300)
