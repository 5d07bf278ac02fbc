"""What the project commands print and how they fail: diagnostics, the
progress bar, bad input and output that cannot be written."""

import fcntl
import os
import pty
import re
import struct
import subprocess
import sys
import termios
from pathlib import Path

import pytest

from command_output import own_stderr
from project_files import (
    MAIN,
    PROG,
    write_database,
    run_cli,
    json_lines,
    by_unit,
    git,
    edit,
)


MAIN_DIFF = (
    "--- a/src/main.cpp\n+++ b/src/main.cpp\n@@ -{0} +{0} @@\n-int main() {{\n+int main(void) {{\n"
)


MAIN_LINE = MAIN.splitlines().index("int main() {") + 1


def test_libclangs_diagnostics_are_counted_and_printed_with_verbose(project):
    (project / "src" / "broken.cpp").write_text("int broken( {\n")
    write_database(project, ["area", "broken", "main"])
    # An option libclang warns about, on its own stderr, for every unit.
    scan = ["scan", "-p", "build", "--jobs", "2"]
    strict = run_cli(*scan, "--strict", "--", "-Wlogical-op", cwd=project)
    assert strict.returncode == 1
    summary = re.fullmatch(
        rf"{PROG} scan: failed: cannot parse \S+/src/broken\.cpp: [^\n]+\n"
        rf"{PROG} scan: note: libclang reported 3 warnings and (\d+) errors "
        r"\(--verbose shows them\)\n",
        own_stderr(strict.stderr),
    )
    assert summary, strict.stderr
    assert sorted(by_unit(json_lines(strict.stdout))) == ["area", "main"]
    # Without --strict the broken unit is indexed as libclang parsed it.
    done = run_cli(*scan, "--", "-Wlogical-op", cwd=project)
    assert done.returncode == 0
    assert re.fullmatch(
        rf"{PROG} scan: warning: (\S+/src/broken\.cpp): indexed with {summary.group(1)} errors: "
        r"\1:1:\d+: error: [^\n]+\n"
        rf"{PROG} scan: note: libclang reported 3 warnings and {summary.group(1)} errors; "
        r"1 unit indexed with errors \(--verbose shows them\)\n",
        own_stderr(done.stderr),
    ), done.stderr
    assert sorted(by_unit(json_lines(done.stdout))) == ["area", "broken", "main"]
    verbose = run_cli("scan", "-p", "build", "--verbose", "--", "-Wlogical-op", cwd=project)
    assert sorted(verbose.stdout.splitlines()) == sorted(done.stdout.splitlines())
    lines = own_stderr(verbose.stderr).splitlines()
    errors = [line for line in lines if re.match(r"\S+/src/broken\.cpp:\d+:\d+: error: ", line)]
    assert len(errors) == int(summary.group(1))
    warned = [line for line in lines if ": warning: unknown warning option '-Wlogical-op'" in line]
    assert sorted(Path(line.split(": ")[0]).stem for line in warned) == ["area", "broken", "main"]
    assert lines[-1] == (
        f"{PROG} scan: note: libclang reported 3 warnings and {len(errors)} errors; "
        "1 unit indexed with errors"
    )


def test_progress_bar_on_a_terminal_counts_units_and_failures(project):
    (project / "src" / "broken.cpp").write_text("int broken( {\n")
    write_database(project, ["area", "broken", "main"])
    primary, secondary = pty.openpty()
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 120, 0, 0))
    try:
        command = [sys.executable, "-m", "astsieve_cindex", "scan", "-p", "build", "--strict"]
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
