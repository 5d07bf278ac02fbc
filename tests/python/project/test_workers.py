"""Real worker processes that fail: a unit that cannot parse, a worker
killed with SIGKILL, a timeout, Ctrl-C."""

import os
import re
import signal
from pathlib import Path

import pytest

from command_output import own_stderr
from project_files import (
    PROG,
    write_database,
    json_lines,
    oracle_parse,
    oracle_nodes,
    scanned_nodes,
    by_unit,
    run_scan,
)


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
            ["--strict"],
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
