"""`scan` on a small generated project with a compilation database, against
independent walks over clang.cindex; names that are not UTF-8."""

import json
import os
import pickle
import re
import shutil
import time
from pathlib import Path

import pytest

from astsieve_cindex.table import FORMAT
from astsieve_cindex.project.database import read_database
from astsieve_cindex.project.query_driver import ask_compiler
from astsieve_cindex.project.scan import scan_unit
from astsieve_cindex.formats.sections import SectionFilter
from command_output import own_stderr
from project_files import (
    FIRMWARE,
    FIRMWARE_COMPILER,
    FLAGS,
    GCC_FLAGS,
    GENERATED,
    HEADERS,
    PROG,
    write_c_database,
    write_database,
    run_cli,
    json_lines,
    oracle_parse,
    oracle_nodes,
    scanned_nodes,
    nodes_of,
    by_unit,
    line_of,
    run_bytes,
)


@pytest.mark.parametrize("gcc_flags", [False, True], ids=["clean", "gcc-flags"])
def test_scan_matches_a_cindex_walk_unit_by_unit(cindex, project, gcc_flags):
    if gcc_flags:  # the same nodes as the clean flags' walk
        write_database(project, ["area", "main"], {"area": GCC_FLAGS, "main": GCC_FLAGS})
    done = run_cli("scan", "-p", "build", "--pattern", HEADERS, "--jobs", "2", cwd=project)
    assert done.returncode == 0
    ignored = sorted(flag for flag in GCC_FLAGS if flag.startswith(("-f", "-m")))
    assert own_stderr(done.stderr) == (  # no progress bar off a terminal
        f"{PROG} scan: note: ignored arguments clang does not take: {' '.join(ignored)}\n"
        f"{PROG} scan: note: libclang reported 1 warning and 0 errors (--verbose shows them)\n"
        if gcc_flags
        else ""
    )
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


ARM_GCC = shutil.which("arm-none-eabi-gcc")
# A program a database must not make astsieve run: it leaves a mark.
TRAP = "#!/bin/sh\ntouch '{tmp}/ran'\nexec \"$@\"\n"


def _set_traps(root):
    """The trap under the names a database could make a compiler or its
    driver run: a compiler of its own, the cc1 that -B would choose, a
    -wrapper; and a response file that names -B."""
    for name in ("tools/arm-none-eabi-gcc", "cc1", "evil.sh"):
        (root / name).parent.mkdir(exist_ok=True)
        (root / name).write_text(TRAP.format(tmp=root))
        (root / name).chmod(0o755)
    (root / "evil.rsp").write_text(f"-B{root}/\n")


@pytest.mark.parametrize(
    "sources, options, status, said",
    [
        # A cross compiler's unit: its target, from its name, and its
        # headers, from the compiler itself.
        ({"firmware.c": (FIRMWARE, FIRMWARE_COMPILER)}, ["--query-driver", "**/arm-none-eabi-*"],
         0, ""),
        # The first C library header missing depends on the builtin headers at
        # hand (clang 19's stdint.h looks for the system's own, 14's does not).
        ({"firmware.c": (FIRMWARE, FIRMWARE_COMPILER)}, [], 0,
         r"warning: \S+/firmware\.c: indexed with \d+ errors: \S+ error: '(stdint|string|stdio)\.h' file "
         r"not found \(its compiler arm-none-eabi-gcc is not clang: --query-driver "
         r"\S+/arm-none-eabi-gcc lets it tell its target and system headers\)\n"
         rf"{PROG} scan: note: libclang reported .*"),
        # Allowed, but run only when its path matches.
        ({"firmware.c": (FIRMWARE, FIRMWARE_COMPILER)}, ["--query-driver", "/nowhere/*-gcc"], 0,
         r"warning: \S+/firmware\.c: indexed with .*"),
        # An allowed compiler that fails: one line, its unit parsed as without it.
        ({"firmware.c": (FIRMWARE, [*FIRMWARE_COMPILER, "-x", "objective-c"])},
         ["--query-driver", "**/arm-none-eabi-*"], 0,
         r"note: --query-driver: \S+/arm-none-eabi-gcc -mcpu=cortex-m4 -mthumb -mfloat-abi=hard "
         r"-E -v -x objective-c /dev/null failed \(arm-none-eabi-gcc: error: language "
         r"objective-c not recognized\); its units are parsed without it\n"
         rf"{PROG} scan: warning: \S+/firmware\.c: indexed with \d+ errors: [^\n]* "
         r"\(--query-driver: its compiler \S+/arm-none-eabi-gcc failed to tell its target and "
         rf"headers\)\n{PROG} scan: note: libclang reported .*"),
        # A database names a program outside the allowlist: by itself, or
        # through a matched folder and back out.
        ({"firmware.c": (FIRMWARE, ["tools/arm-none-eabi-gcc", *FIRMWARE_COMPILER[1:]])},
         ["--query-driver", "{bin}/arm-none-eabi-*"], 0,
         r"warning: \S+/firmware\.c: indexed with .* --query-driver \S+/tools/arm-none-eabi-gcc "
         r"lets .*"),
        ({"firmware.c": (FIRMWARE, ["{bin}/{up}/tools/arm-none-eabi-gcc", *FIRMWARE_COMPILER[1:]])},
         ["--query-driver", "{bin}/**"], 0,
         r"warning: \S+/firmware\.c: indexed with .* --query-driver \S+/tools/arm-none-eabi-gcc "
         r"lets .*"),
        # An allowed compiler is given none of the flags that would make it
        # run another program.
        ({"firmware.c": (FIRMWARE, [*FIRMWARE_COMPILER, "-B{tmp}/", "-wrapper", "{tmp}/evil.sh,",
                                    "-specs={tmp}/evil.specs", "-fplugin={tmp}/evil.so",
                                    "-fuse-ld={tmp}/evil.sh", "-mllvm=-x", "@evil.rsp"])},
         ["--query-driver", "{bin}/arm-none-eabi-*"], 0,
         r"note: ignored arguments clang does not take: .*"),
        # A header the build generates and this one did not.
        ({"generated.c": (GENERATED, ["cc"])}, [], 0,
         r"warning: \S+/generated\.c: indexed with 2 errors: \S+/generated\.c:1:10: error: "
         rf"'generated/config\.h' file not found\n{PROG} scan: note: .*"),
        ({"generated.c": (GENERATED, ["cc"])}, ["--strict"], 1,
         r"failed: cannot parse \S+/generated\.c: \S+/generated\.c:1:10: error: "
         rf"'generated/config\.h' file not found; .*\n{PROG} scan: note: .*"),
    ],
    ids=["query-driver", "cross-compiler", "not-allowed", "compiler-fails", "outside-allowlist",
         "out-of-matched-folder", "dangerous-flags", "missing-header", "strict"],
)  # fmt: skip
def test_units_of_real_builds_are_indexed_and_their_errors_said(
    tmp_path, sources, options, status, said
):
    if "firmware.c" in sources and ARM_GCC is None:
        pytest.skip("no arm-none-eabi-gcc (deps/apt-packages: gcc-arm-none-eabi)")
    _set_traps(tmp_path)
    bin = os.path.dirname(ARM_GCC or "/usr/bin/cc")
    names = {"tmp": tmp_path, "bin": bin, "up": os.path.relpath(tmp_path, bin)}
    sources = {
        name: (text, [word.format(**names) for word in command])
        for name, (text, command) in sources.items()
    }
    write_c_database(tmp_path, sources)
    options = [option.format(**names) for option in options]
    done = run_cli("scan", "-p", ".", *options, cwd=tmp_path)
    assert done.returncode == status, done.stderr
    assert not (tmp_path / "ran").exists()
    stderr = own_stderr(done.stderr)
    assert re.fullmatch(rf"{PROG} scan: {said}\n" if said else "", stderr, re.S), stderr
    functions = {
        node["spelling"]
        for record in json_lines(done.stdout)
        for node in nodes_of(record)
        if node["kind"] == "FUNCTION_DECL"
    }
    expected = {"send"} if "firmware.c" in sources else {"first", "second", "third"}
    assert functions == (set() if status else expected)


def test_a_compiler_that_does_not_answer_in_time_is_stopped_with_what_it_started(tmp_path):
    # It starts a program of its own that outlives it unless stopped.
    compiler = tmp_path / "slow-gcc"
    compiler.write_text("#!/bin/sh\nsleep 60 >/dev/null 2>&1 &\necho $! > started\nwait\n")
    compiler.chmod(0o755)
    answer = ask_compiler(str(compiler), "c", ["-mthumb"], str(tmp_path), seconds=0.5)
    assert answer == (None, "gave no answer within 0.5 s")
    started = int((tmp_path / "started").read_text())
    for _ in range(100):  # the system reaps it soon after it was killed
        try:
            state = Path(f"/proc/{started}/stat").read_text().rsplit(")", 1)[1].split()[0]
        except FileNotFoundError:
            break
        if state == "Z":
            break
        time.sleep(0.02)
    else:
        pytest.fail(f"the compiler's own program {started} still runs")
