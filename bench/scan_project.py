"""Times `python -m astsieve_cindex scan` on a generated project whose units
include the C++ standard library: the whole run with --jobs 1 against
--jobs 2, and each unit's time split into parsing, grouping and writing.

The project (N units, each including a project header that includes eight
standard headers) is written to a temporary folder with its
compile_commands.json. The whole runs are timed as the command line runs
them, output to a file; the split comes from astsieve_cindex.scan in this
process, with two workers: parsing and grouping as the workers measure
them, writing as the command line's encoding and writing of each result.
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
from typing import Dict, List, NamedTuple

from astsieve_cindex.cli.scan import json_lines
from astsieve_cindex.project import read_database
from astsieve_cindex.scan import scan

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


def run_command(build: Path, jobs: int, output: Path, extra: List[str]) -> Run:
    command = [sys.executable, "-m", "astsieve_cindex", "scan", "-p", str(build)]
    command += ["--jobs", str(jobs), *extra]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.perf_counter()
    with open(output, "w") as stream:
        subprocess.run(command, stdout=stream, check=True)
    wall = time.perf_counter() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return Run(wall, after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)


def split(build: Path, pattern: str, output: Path, extra: List[str]) -> Dict[str, List[float]]:
    units = [
        unit._replace(arguments=unit.arguments + tuple(extra)) for unit in read_database(build)
    ]
    seconds: Dict[str, List[float]] = {"parse": [], "group": [], "write": [], "nodes": []}
    with open(output, "w") as stream:
        for result in scan(units, pattern, jobs=2):
            if result.error is not None:
                raise SystemExit(f"unit failed: {result.error}")
            started = time.perf_counter()
            stream.write(json_lines(result))
            stream.flush()
            seconds["write"].append(time.perf_counter() - started)
            seconds["parse"].append(result.parse_seconds)
            seconds["group"].append(result.group_seconds)
            seconds["nodes"].append(len(result.records))
    return seconds


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--units", type=int, default=40, help="units to generate (default 40)")
    parser.add_argument(
        "--repeat", type=int, default=1, help="whole runs per job count; best is kept"
    )
    parser.add_argument(
        "--heavy-units",
        type=int,
        default=4,
        help="units also split with every header accepted (pattern .*), default 4",
    )
    parser.add_argument(
        "compiler_arguments",
        nargs="*",
        metavar="-- ARG",
        help="added to every unit, e.g. -- -resource-dir DIR",
    )
    arguments = parser.parse_args()
    extra = list(arguments.compiler_arguments)
    with tempfile.TemporaryDirectory(prefix="astsieve-scan-bench-") as folder:
        build = generate(Path(folder) / "project", arguments.units)
        output = Path(folder) / "out.jsonl"
        load_before = os.getloadavg()[0]
        runs: Dict[int, List[Run]] = {1: [], 2: []}
        for _ in range(arguments.repeat):  # interleaved, as the machine's load drifts
            for jobs in (1, 2):
                runs[jobs].append(run_command(build, jobs, output, ["--", *extra] if extra else []))
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
        print(f"  {'accepted files':<28} {'nodes':>7} {'parse':>14} {'group':>14} {'write':>14}")
        cases = [("main file only", "", arguments.units)]
        if arguments.heavy_units:
            cases.append(("every header (.*)", ".*", arguments.heavy_units))
        for title, pattern, count in cases:
            heavy_build = build
            if count != arguments.units:
                database = json.loads((build / "compile_commands.json").read_text())[:count]
                heavy_build = Path(folder) / f"build-{count}"
                heavy_build.mkdir()
                (heavy_build / "compile_commands.json").write_text(json.dumps(database))
            seconds = split(heavy_build, pattern, output, extra)
            medians = {key: statistics.median(values) for key, values in seconds.items()}
            total = medians["parse"] + medians["group"] + medians["write"]
            cells = [
                f"{medians[key] * 1000:8.1f} ({medians[key] / total:4.0%})"
                for key in ("parse", "group", "write")
            ]
            print(
                f"  {title:<28} {int(medians['nodes']):>7} {cells[0]:>14} {cells[1]:>14} {cells[2]:>14}"
            )


if __name__ == "__main__":
    main()
