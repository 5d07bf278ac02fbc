"""`scan` of the generated C project of c_project.py as a GCC build's
database gives it: the same compile commands with GCC's own flags (which
clang does not take) and -Werror added, and the units with a flag of their
own (c_project.TARGET_FLAGS) also a GCC target flag of their own, so that
the units hold two sets of target flags. Checks that the output, with and
without --query-driver, equals the clean flags' output byte for byte, and
measures what --query-driver adds: how many times the compiler runs (once
per distinct set of target flags, not per unit: the sets counted apart
from the run, with query_key) and the seconds against the same scan
without it (best of 3 each, side by side in one run).

    .venv/bin/python bench/scan_gcc_flags.py [--units N] [--jobs N]
"""

from __future__ import annotations

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import List, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import c_project  # noqa: E402

GCC_FLAGS = (
    "-fconserve-stack -mindirect-branch=thunk-extern -fno-allow-store-data-races "
    "-mrecord-mcount -fno-ipa-sra -Werror"
)
# A target flag of GCC's that some units have and others not.
OWN_GCC_FLAG = "-mindirect-branch-register"


def _scan(build: Path, root: Path, jobs: int, extra: List[str]) -> Tuple[float, bytes, str]:
    command = [sys.executable, "-m", "astsieve_cindex", "scan", "-p", str(build)]
    command += ["--pattern", c_project.PATTERN, "--jobs", str(jobs), "--verbose", *extra]
    started = time.perf_counter()
    done = subprocess.run(command, capture_output=True, cwd=root, check=False)
    seconds = time.perf_counter() - started
    if done.returncode != 0:
        raise SystemExit(done.stderr.decode()[-2000:])
    return seconds, done.stdout, done.stderr.decode()


def _asking(build: Path, compiler: str) -> Tuple[float, int, int, int]:
    # The queries alone, as the parent makes them: seconds, runs, distinct
    # sets of target flags among the units, units.
    from astsieve_cindex.project.database import read_database
    from astsieve_cindex.project.query_driver import DriverQueries, query_key

    units = read_database(build)
    started = time.perf_counter()
    queries = DriverQueries(compiler, print)
    queries.units(units)
    seconds = time.perf_counter() - started
    distinct = len({query_key(unit) for unit in units})
    return seconds, len(queries.answers), distinct, len(units)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--units", type=int, default=40)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    options = parser.parse_args()
    root = Path(tempfile.mkdtemp(prefix="scan-gcc-flags-"))
    try:
        clean = c_project.generate(root, options.units)
        gcc = root / "gcc-build"
        gcc.mkdir()
        entries = json.loads((clean / "compile_commands.json").read_text())
        for entry in entries:
            own = f" {OWN_GCC_FLAG}" if c_project.TARGET_FLAGS in entry["command"] else ""
            entry["command"] = entry["command"].replace(" -c ", f" {GCC_FLAGS}{own} -c ", 1)
        (gcc / "compile_commands.json").write_text(json.dumps(entries, indent=1))
        compiler = shutil.which(entries[0]["command"].split()[0]) or "cc"
        ways = [(clean, []), (gcc, []), (gcc, ["--query-driver", os.path.normpath(compiler)])]
        # Side by side: each round runs every way once; the best round of each.
        rounds = [[_scan(build, root, options.jobs, extra) for build, extra in ways] for _ in "123"]
        clean_run, gcc_run, queried = (min(runs, key=lambda run: run[0]) for runs in zip(*rounds))
        asking = _asking(gcc, os.path.normpath(compiler))
        # One worker writes units in the database's order: the bytes compare.
        clean_output = _scan(clean, root, 1, [])[1]
        equal = clean_output == _scan(gcc, root, 1, [])[1]
        asked = ["--query-driver", os.path.normpath(compiler)]
        equal_asked = clean_output == _scan(gcc, root, 1, asked)[1]
        runs = re.search(r"--query-driver: ran compilers (\d+) times? for (\d+) units", queried[2])
        ignored = re.search(r"ignored arguments clang does not take: (.*)", gcc_run[2])
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print(f"{options.units} units, {options.jobs} workers, best of 3")
    print("| scan | seconds | ÷ clean flags |\n|---|---|---|")
    for name, run in [("clean flags", clean_run), ("GCC's flags + -Werror", gcc_run),
                      (f"GCC's flags, --query-driver {compiler}", queried)]:  # fmt: skip
        print(f"| {name} | {run[0]:.2f} | {run[0] / clean_run[0]:.2f}x |")
    print(f"output with GCC's flags equal to the clean flags' (bytes): {'yes' if equal else 'NO'}")
    print(f"... and with --query-driver: {'yes' if equal_asked else 'no (its headers differ)'}")
    print(f"ignored: {ignored.group(1) if ignored else 'none'}")
    if runs:
        print(f"compiler runs: {runs.group(1)} for {runs.group(2)} units")
    print(f"seconds --query-driver adds to the scan: {queried[0] - gcc_run[0]:+.2f}")
    print(
        f"the queries alone: {asking[0]:.3f} s, {asking[1]} compiler run(s) for {asking[2]} "
        f"distinct sets of target flags over {asking[3]} units"
    )


if __name__ == "__main__":
    main()
