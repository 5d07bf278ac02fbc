"""Times `python -m astsieve_cindex scan` on generated projects.

--project cxx (the default): N units, each including a project header that
includes eight C++ standard headers; the whole run with --jobs 1 against
--jobs 2, and each unit's time split into parsing, grouping, encoding and
writing.

--project c: a project shaped like a real C one (see c_project.py): tens of
units sharing a dozen project headers and the C library's headers, compiled
with a Makefile's flags. Side by side in one run, --jobs 1 and --jobs 2, main
files only and with the project's headers accepted (--pattern 'include/.*'):
wall and CPU seconds of scan against the floor (the same units parsed with
clang.cindex alone, in as many worker processes), the output's size, and the
size the same records took in the former format (one object per file and
line, every node with its whole declaration, every header again for each
unit that includes it).

--preamble: for the chosen project, each unit scanned in one worker twice,
parsed in full and with its preamble's function bodies skipped
(SKIP_PREAMBLE_BODIES), main files only and with the project's headers
accepted: the whole scan's wall seconds side by side and how many units'
encoded records come out byte for byte the same.

Projects are written to a temporary folder with their compile_commands.json;
whole runs are timed as the command line runs them, output to a file.
"""

from __future__ import annotations

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from itertools import groupby
from typing import Dict, List, NamedTuple, Sequence

import c_project
from astsieve_cindex.loading import load_cindex
from astsieve_cindex.project.parsing import parse_file
from astsieve_cindex.project.database import Unit, read_database
from astsieve_cindex.records import NodeRecord
from astsieve_cindex.project.builtin_headers import builtin_headers
from astsieve_cindex.project.results import TableResult
from astsieve_cindex.project.options import SKIP_PREAMBLE_BODIES
from astsieve_cindex.project.scan import scan
from astsieve_cindex.formats.sections import SectionFilter
from astsieve_cindex.project.workers import WorkerFailure, each_result

HEADER = """#pragma once
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace project {
struct record {
  std::string name;
  std::vector<int> values;
};
using index = std::unordered_map<std::string, std::shared_ptr<record>>;
}  // namespace project
"""

UNIT = """#include "project.h"

namespace project {{
namespace unit{number} {{
int total(const record& item) {{
  int sum = 0;
  for (int value : item.values) sum += value * {number};
  return sum;
}}

std::string describe(const index& records) {{
  std::ostringstream out;
  std::map<std::string, int> sorted;
  for (const auto& entry : records) sorted[entry.first] = total(*entry.second);
  for (const auto& entry : sorted) out << entry.first << '=' << entry.second << ';';
  return out.str();
}}

std::vector<int> largest(std::vector<int> values, std::size_t count) {{
  std::sort(values.begin(), values.end(), std::greater<int>());
  values.resize(std::min(count, values.size()));
  return values;
}}
}}  // namespace unit{number}
}}  // namespace project
"""


def generate(root: Path, units: int) -> Path:
    (root / "include").mkdir(parents=True)
    (root / "src").mkdir()
    (root / "build").mkdir()
    (root / "include" / "project.h").write_text(HEADER)
    entries = []
    for number in range(units):
        (root / "src" / f"unit{number}.cpp").write_text(UNIT.format(number=number))
        command = (
            f"/usr/bin/c++ -I../include -std=c++17 -O2 -o unit{number}.o -c ../src/unit{number}.cpp"
        )
        entries.append(
            {
                "directory": str(root / "build"),
                "command": command,
                "file": f"../src/unit{number}.cpp",
            }
        )
    (root / "build" / "compile_commands.json").write_text(json.dumps(entries, indent=1))
    return root / "build"


class Run(NamedTuple):
    wall: float  # seconds
    cpu: float  # user and system seconds of the command and its workers


def timed(command: List[str], output: Path) -> Run:
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.perf_counter()
    with open(output, "w") as stream:
        subprocess.run(command, stdout=stream, check=True)
    wall = time.perf_counter() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return Run(wall, after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)


def scan_command(build: Path, jobs: int, pattern: str, extra: List[str]) -> List[str]:
    command = [sys.executable, "-m", "astsieve_cindex", "scan", "-p", str(build)]
    command += ["--jobs", str(jobs)] + (["--pattern", pattern] if pattern else [])
    return command + (["--", *extra] if extra else [])


def floor_command(build: Path, jobs: int, extra: List[str]) -> List[str]:
    return [sys.executable, __file__, "--floor", str(build), "--jobs", str(jobs), "--", *extra]


def _parse_only(unit: Unit) -> None:
    parse_file(load_cindex(), unit.file, unit.parse_arguments())


def floor(build: Path, jobs: int, extra: List[str]) -> None:
    """The floor of a scan: the same units with the same arguments (clang's
    builtin headers found as scan finds them) parsed with clang.cindex in
    as many worker processes of the same pool, and nothing else."""
    headers = builtin_headers(load_cindex(), extra, None)
    added = (*headers.arguments,)
    units = [unit._replace(arguments=unit.arguments + added) for unit in read_database(build)]
    for unit, outcome in each_result(_parse_only, units, jobs):
        if isinstance(outcome, WorkerFailure):
            raise SystemExit(f"{unit.file}: {outcome.reason}")


def _old_node(record: NodeRecord) -> Dict[str, object]:
    declaration = record.declaration
    return {
        "column": record.column,
        "kind": record.kind,
        "spelling": record.spelling,
        "declaration": declaration._asdict() if declaration else None,
    }


def old_json_lines(result: TableResult) -> str:
    """The former format: one object per file and line of the unit,
    {"unit", "file", "line", "nodes": [{"column", "kind", "spelling",
    "declaration": {"kind", "name", "file", "first_line", "last_line"} or
    null}]}, every accepted header again for every unit."""
    rows = []
    for (file, line), records in groupby(result.records, lambda record: (record.file, record.line)):
        document = {"unit": result.unit.file, "file": file, "line": line}
        document["nodes"] = [_old_node(record) for record in records]
        rows.append(json.dumps(document) + "\n")
    return "".join(rows)


def old_format_bytes(build: Path, pattern: str, extra: List[str]) -> int:
    """The size of the same scan's records in the former format."""
    headers = builtin_headers(load_cindex(), extra, None)
    added = (*extra, *headers.arguments)
    units = [unit._replace(arguments=unit.arguments + added) for unit in read_database(build)]
    total = 0
    for result in scan(units, pattern=pattern, jobs=2):
        if result.error is not None:
            raise SystemExit(f"unit failed: {result.error}")
        total += len(old_json_lines(result).encode())
    return total


def split(build: Path, pattern: str, output: Path, extra: List[str]) -> Dict[str, List[float]]:
    units = [
        unit._replace(arguments=unit.arguments + tuple(extra)) for unit in read_database(build)
    ]
    seconds: Dict[str, List[float]] = {
        "parse": [],
        "group": [],
        "encode": [],
        "write": [],
        "bytes": [],
    }
    chosen = SectionFilter()
    with open(output, "wb") as stream:
        for result in scan(units, pattern=pattern, jobs=2, encoding="jsonl"):
            if result.error is not None:
                raise SystemExit(f"unit failed: {result.error}")
            started = time.perf_counter()
            data = b"".join(section.data for section in chosen.new_sections(result.sections))
            stream.write(data)
            stream.flush()
            seconds["write"].append(time.perf_counter() - started)
            seconds["parse"].append(result.seconds.parse)
            seconds["group"].append(result.seconds.group)
            seconds["encode"].append(result.seconds.encode)
            seconds["bytes"].append(len(data))
    return seconds


def cxx_project(arguments: argparse.Namespace, folder: Path, extra: List[str]) -> None:
    build = generate(folder / "project", arguments.units)
    output = folder / "out.jsonl"
    load_before = os.getloadavg()[0]
    runs: Dict[int, List[Run]] = {1: [], 2: []}
    for _ in range(arguments.repeat):  # interleaved, as the machine's load drifts
        for jobs in (1, 2):
            runs[jobs].append(timed(scan_command(build, jobs, "", extra), output))
    best = {jobs: min(found) for jobs, found in runs.items()}
    load = f"{load_before:.1f} before, {os.getloadavg()[0]:.1f} after"
    print(f"scan of {arguments.units} units including 8 C++ standard headers")
    print(f"{os.cpu_count()} cores, load average {load}")
    print(f"  {'':9} {'wall s':>8} {'ms a unit':>10} {'CPU s':>8}")
    for jobs, run in best.items():
        per_unit = run.wall / arguments.units * 1000
        print(f"  --jobs {jobs}  {run.wall:8.2f} {per_unit:10.1f} {run.cpu:8.2f}")
    print(f"  speed-up  {best[1].wall / best[2].wall:8.2f} x")
    print()
    print("time per unit (median ms; share of the unit's total), two workers:")
    keys = ("parse", "group", "encode", "write")
    print(f"  {'accepted files':<20} {'KB out':>7}" + "".join(f" {key:>14}" for key in keys))
    cases = [("main file only", "", arguments.units)]
    if arguments.heavy_units:
        cases.append(("every header (.*)", ".*", arguments.heavy_units))
    for title, pattern, count in cases:
        heavy_build = build
        if count != arguments.units:
            database = json.loads((build / "compile_commands.json").read_text())[:count]
            heavy_build = folder / f"build-{count}"
            heavy_build.mkdir()
            (heavy_build / "compile_commands.json").write_text(json.dumps(database))
        seconds = split(heavy_build, pattern, output, extra)
        medians = {key: statistics.median(values) for key, values in seconds.items()}
        total = sum(medians[key] for key in keys)
        cells = "".join(
            f" {f'{medians[key] * 1000:8.1f} ({medians[key] / total:4.0%})':>14}" for key in keys
        )
        print(f"  {title:<20} {medians['bytes'] / 1000:7.1f}{cells}")


def _ratio(value: float, base: float) -> str:
    return f"{value / base:.2f}x" if base else "-"


def c_project_run(arguments: argparse.Namespace, folder: Path, extra: List[str]) -> None:
    build = c_project.generate(folder / "project", arguments.units)
    output = folder / "out.jsonl"
    load_before = os.getloadavg()[0]
    modes = {"main files": "", "with headers": c_project.PATTERN}
    scans: Dict[tuple, List[Run]] = {}
    floors: Dict[int, List[Run]] = {}
    size: Dict[str, int] = {}
    for _ in range(arguments.repeat):  # interleaved, as the machine's load drifts
        for jobs in (1, 2):
            floors.setdefault(jobs, []).append(timed(floor_command(build, jobs, extra), output))
            for mode, pattern in modes.items():
                command = scan_command(build, jobs, pattern, extra)
                scans.setdefault((mode, jobs), []).append(timed(command, output))
                size[mode] = output.stat().st_size
    old = {mode: old_format_bytes(build, pattern, extra) for mode, pattern in modes.items()}
    best = {key: min(found) for key, found in scans.items()}
    floor_best = {jobs: min(found) for jobs, found in floors.items()}
    load = f"{load_before:.1f} before, {os.getloadavg()[0]:.1f} after"
    print(
        f"scan of a C project: {arguments.units} units, {len(c_project.HEADERS)} project headers "
        "and the C library's"
    )
    print(f"  CFLAGS = {c_project.CFLAGS}; every fifth unit adds {c_project.TARGET_FLAGS}")
    print(f"  with headers: --pattern '{c_project.PATTERN}'; compiler arguments added: {extra}")
    print(f"{os.cpu_count()} cores, load average {load}; best of {arguments.repeat}")
    columns = ["wall s", "CPU s", "floor wall", "floor CPU", "CPU/floor", "wall/floor"]
    columns += ["output MB", "former MB", "former/new", "wall/jobs 1"]
    print(f"  {'':24}" + "".join(f" {name:>11}" for name in columns))
    for mode in modes:
        for jobs in (1, 2):
            run, base = best[(mode, jobs)], floor_best[jobs]
            cells = [f"{run.wall:.2f}", f"{run.cpu:.2f}", f"{base.wall:.2f}", f"{base.cpu:.2f}"]
            cells += [_ratio(run.cpu, base.cpu), _ratio(run.wall, base.wall)]
            cells += [f"{size[mode] / 1e6:.2f}", f"{old[mode] / 1e6:.2f}"]
            cells += [_ratio(old[mode], size[mode]), _ratio(run.wall, best[(mode, 1)].wall)]
            title = f"{mode}, --jobs {jobs}"
            print(f"  {title:<24}" + "".join(f" {cell:>11}" for cell in cells))
    print(
        "goals: CPU/floor <= 1.3x in every row; wall/jobs 1 <= 0.6x with --jobs 2; "
        "former/new >= 5x with headers"
    )


def _records(units: List[Unit], pattern: str, skip: str) -> tuple:
    """Each unit's encoded records ({file: bytes}) from one worker, and the
    whole scan's wall seconds."""
    started = time.perf_counter()
    found = {}
    for result in scan(units, pattern=pattern, jobs=1, encoding="jsonl", skip=skip):
        if result.error is not None:
            raise SystemExit(f"unit failed: {result.error}")
        found[result.unit.file] = b"".join(section.data for section in result.sections)
    return found, time.perf_counter() - started


def preamble_run(arguments: argparse.Namespace, folder: Path, extra: List[str]) -> None:
    """A scan parsing each unit in full against one skipping its preamble's
    function bodies: time, and units whose records are byte-identical."""
    project = c_project if arguments.project == "c" else sys.modules[__name__]
    build = project.generate(folder / "project", arguments.units)
    headers = builtin_headers(load_cindex(), extra, None)
    added = (*extra, *headers.arguments)
    units = [unit._replace(arguments=unit.arguments + added) for unit in read_database(build)]
    modes = {"main files": "", "with headers": "(.*/)?include/.*"}
    print(
        f"scan --project {arguments.project}, {len(units)} units, one worker; full parse "
        "against the preamble's function bodies skipped"
    )
    print(f"  {'':14} {'full s':>8} {'skipped s':>10} {'ratio':>7} {'identical units':>16}")
    for mode, pattern in modes.items():
        full, full_seconds = _records(units, pattern, "")
        fast, fast_seconds = _records(units, pattern, SKIP_PREAMBLE_BODIES)
        same = sum(full[file] == fast.get(file) for file in full)
        cells = f"{full_seconds:8.2f} {fast_seconds:10.2f} {_ratio(fast_seconds, full_seconds):>7}"
        print(f"  {mode:<14} {cells} {f'{same} of {len(full)}':>16}")


def main(argv: Sequence[str] = ()) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--project",
        choices=("cxx", "c"),
        default="cxx",
        help="the generated project: C++ units on the standard library (default), or a C "
        "project shaped like a real one",
    )
    parser.add_argument("--units", type=int, default=40, help="units to generate (default 40)")
    parser.add_argument(
        "--repeat", type=int, default=1, help="whole runs per case; best is kept"
    )
    parser.add_argument(
        "--heavy-units",
        type=int,
        default=4,
        help="cxx: units also split with every header accepted (pattern .*), default 4",
    )
    parser.add_argument(
        "--preamble",
        action="store_true",
        help="time a scan with the preamble's function bodies skipped against the full parse, "
        "and count the units whose records stay byte-identical",
    )
    parser.add_argument("--floor", metavar="BUILD", help=argparse.SUPPRESS)
    parser.add_argument("--jobs", type=int, default=1, help=argparse.SUPPRESS)
    parser.add_argument(
        "compiler_arguments",
        nargs="*",
        metavar="-- ARG",
        help="added to every unit, e.g. -- -resource-dir DIR",
    )
    arguments = parser.parse_args(list(argv) or None)
    extra = list(arguments.compiler_arguments)
    if arguments.floor:
        floor(Path(arguments.floor), arguments.jobs, extra)
        return
    with tempfile.TemporaryDirectory(prefix="astsieve-scan-bench-") as folder:
        run = c_project_run if arguments.project == "c" else cxx_project
        run = preamble_run if arguments.preamble else run
        run(arguments, Path(folder), extra)


if __name__ == "__main__":
    main()
