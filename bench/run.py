"""Times astsieve's three functions side by side, in one process, on real
translation units, against:

- cindex: the same result computed in pure Python with clang.cindex
  (bench/cindex_walk.py), the way its users write it today;
- astsieve: the Python call as users make it (collector on), and no-gc: the
  same with Python's cyclic garbage collector off during the call, which
  shows how much of it the collector takes while the result's tuples and
  lists are being created;
- native: the engine's C++ function returning its C++ result (no Python);
- floor: libclang's own calls for the same walk and nothing else.

Every figure is the best of several runs. Prints the table, checks that
astsieve and the Python walk agree node for node, and writes a PNG chart.
Run through scripts/bench.sh, which builds the probe library first.
"""

from __future__ import annotations

import argparse
import gc
import subprocess
import sys
import sysconfig
import time
import tracemalloc
from pathlib import Path
from typing import Callable, NamedTuple

import astsieve
import astsieve_cindex
import clang.cindex
from astsieve_cindex import cursor_tuple, translation_unit_handle

sys.path.insert(0, str(Path(__file__).resolve().parent))
import cindex_walk  # noqa: E402
from walk_probe import CHILDREN_WALK, SUBTREE_WALK, UNIT_WALK, WalkProbe  # noqa: E402

UNITS = Path(__file__).resolve().parent / "units"
METHODS = ("cindex", "astsieve", "no-gc", "native", "floor")
LARGEST_DECLARATIONS = 3


class Case(NamedTuple):
    key: str
    title: str
    source: str
    args: list
    pattern: str


class Row(NamedTuple):
    case: str
    query: str
    visited: int
    returned: int
    ns: dict  # method -> best total time


def llvm_parse_args(llvm_config: str) -> list:
    flags = subprocess.run([llvm_config, "--cxxflags"], check=True, capture_output=True, text=True)
    return ["-x", "c++"] + [f for f in flags.stdout.split() if f.startswith(("-I", "-D", "-std="))]


def cases(llvm_config: str) -> list:
    cxx_args = llvm_parse_args(llvm_config)
    include_dir = subprocess.run(
        [llvm_config, "--includedir"], check=True, capture_output=True, text=True
    ).stdout.strip()
    irbuilder = f"{include_dir}/llvm/IR/IRBuilder.h"
    user = str(UNITS / "irbuilder_user.cpp")
    python_include = sysconfig.get_paths()["include"]
    return [
        Case("a", "IRBuilder.h itself, no pattern", irbuilder, cxx_args, ""),
        Case("b", "unit including IRBuilder.h, .*", user, cxx_args, ".*"),
        Case("c", "unit including IRBuilder.h, .*/llvm/.*", user, cxx_args, ".*/llvm/.*"),
        Case("d", "C unit including Python.h, .*", str(UNITS / "python_user.c"),
             ["-x", "c", f"-I{python_include}"], ".*"),
    ]


def parse(cindex, index, case: Case):
    unit = index.parse(case.source, args=case.args)
    errors = [d for d in unit.diagnostics if d.severity >= cindex.Diagnostic.Error]
    if errors:
        raise SystemExit(f"{case.source}: {errors[0]}")
    return unit


def best_of(runs: dict, timers: dict) -> dict:
    """The best time of each timer, the timers taking turns within each round
    so that a change in the machine's load falls on all of them alike."""
    best = {name: float("inf") for name in timers}
    for round_ in range(max(runs.values())):
        gc.collect()
        for name, timed in timers.items():
            if round_ < runs[name]:
                best[name] = min(best[name], timed())
    return best


def python_time(call: Callable[[], object], collector: bool = True) -> float:
    if not collector:
        gc.disable()
    try:
        start = time.perf_counter_ns()
        result = call()
        elapsed = time.perf_counter_ns() - start
    finally:
        gc.enable()
    del result  # released outside the timed part, as for the native runs
    return float(elapsed)


def as_tuples(result):
    """A cindex walk's result with cursor tuples in place of Cursor objects."""
    if isinstance(result, dict):
        return {key: as_tuples(value) for key, value in result.items()}
    return [cursor_tuple(cursor) for cursor in result]


class Query(NamedTuple):
    name: str
    walk: int
    astsieve: Callable
    cindex: Callable


QUERIES = (
    Query("whole unit", UNIT_WALK, astsieve.get_path_to_lineno_to_nodes,
          cindex_walk.path_to_lineno_to_nodes),
    Query("largest decls", SUBTREE_WALK, astsieve.update_path_lineno,
          cindex_walk.update_path_lineno),
    Query("unit children", CHILDREN_WALK, astsieve.get_path_to_nodes, cindex_walk.path_to_nodes),
)


def largest_declarations(probe: WalkProbe, unit, case: Case) -> list:
    sizes = []
    for child in unit.cursor.get_children():
        run = probe.run("floor", SUBTREE_WALK, child, case.pattern, case.source)
        if run.returned:
            sizes.append((run.returned, child))
    sizes.sort(key=lambda size: -size[0])
    return [child for _, child in sizes[:LARGEST_DECLARATIONS]]


def measure(probe: WalkProbe, unit, case: Case, query: Query, args) -> Row:
    if query.walk == UNIT_WALK:
        targets = [unit]
    elif query.walk == SUBTREE_WALK:
        targets = largest_declarations(probe, unit, case)
    else:
        targets = [unit.cursor]
    as_argument = translation_unit_handle if query.walk == UNIT_WALK else cursor_tuple
    arguments = [as_argument(target) for target in targets]
    pattern, main = case.pattern, case.source

    for target, argument in zip(targets, arguments):
        expected = as_tuples(query.cindex(target, pattern, main))
        if expected != query.astsieve(argument, pattern, main):
            raise SystemExit(f"case {case.key}, {query.name}: astsieve and cindex disagree")

    def native(side: str):
        runs = [probe.run(side, query.walk, t, pattern, main) for t in targets]
        return sum(r.visited for r in runs), sum(r.returned for r in runs), sum(r.ns for r in runs)

    def python(function: Callable, on, collector: bool = True) -> float:
        return sum(python_time(lambda x=x: function(x, pattern, main), collector) for x in on)

    visited, returned, _ = native("floor")
    def second_of_two(timed: Callable[[], float]) -> Callable[[], float]:
        # The native walks time the second of two identical walks, so that
        # libclang's data is as warm for them as for the floor; so do these.
        return lambda: (timed(), timed())[1]

    timers = {
        "cindex": lambda: python(query.cindex, targets),
        "astsieve": second_of_two(lambda: python(query.astsieve, arguments)),
        "no-gc": second_of_two(lambda: python(query.astsieve, arguments, collector=False)),
        "native": lambda: native("engine")[2],
        "floor": lambda: native("floor")[2],
    }
    runs = {name: args.repeat for name in timers}
    runs["cindex"] = args.cindex_repeat
    ns = best_of(runs, timers)
    if native("engine")[1] != returned:
        raise SystemExit(f"case {case.key}, {query.name}: engine and floor disagree")
    return Row(case.key, query.name, visited, returned, ns)


class ResultCost(NamedTuple):
    peak: float  # Python heap per returned node, at its highest during the call
    kept: float  # Python heap per returned node that the result keeps
    collections: list  # runs of the cyclic collector during the call, by generation


def result_cost(unit, case: Case) -> ResultCost:
    """What one get_path_to_lineno_to_nodes call costs besides time."""
    collections = [0, 0, 0]

    def count(phase: str, info: dict) -> None:
        if phase == "start":
            collections[info["generation"]] += 1

    gc.collect()
    gc.callbacks.append(count)
    tracemalloc.start()
    try:
        handle = translation_unit_handle(unit)
        result = astsieve.get_path_to_lineno_to_nodes(handle, case.pattern, case.source)
        kept, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
        gc.callbacks.remove(count)
    nodes = max(sum(len(nodes) for lines in result.values() for nodes in lines.values()), 1)
    return ResultCost(peak / nodes, kept / nodes, collections)


def print_tables(rows: list, memory: dict) -> None:
    print(f"\n{'':23}{'nodes':>17}  {'ns per visited node':^45}  {'ratios':^30}")
    print(f"{'case':5}{'query':18}{'visited':>9}{'returned':>9}  "
          + "".join(f"{m:>9}" for m in METHODS)
          + f"{'cindex/as':>11}{'as/floor':>9}{'nat/floor':>10}")
    for row in rows:
        per_node = [row.ns[m] / max(row.visited, 1) for m in METHODS]
        print(f"{row.case:5}{row.query:18}{row.visited:>9}{row.returned:>9}  "
              + "".join(f"{v:>9.1f}" for v in per_node)
              + f"{row.ns['cindex'] / row.ns['astsieve']:>10.1f}x"
              + f"{row.ns['astsieve'] / row.ns['floor']:>8.2f}x"
              + f"{row.ns['native'] / row.ns['floor']:>9.2f}x")
    print(f"\n{'case':5}{'query':18}{'total ms':>9}" + "".join(f"{m:>10}" for m in METHODS[1:]))
    for row in rows:
        print(f"{row.case:5}{row.query:18}{row.ns['cindex'] / 1e6:>9.1f}"
              + "".join(f"{row.ns[m] / 1e6:>10.2f}" for m in METHODS[1:]))
    print("\nOne whole-unit call from Python: heap in bytes per returned node (tracemalloc),"
          "\nand how often the cyclic collector ran during it, by generation:")
    for key, cost in memory.items():
        print(f"  case {key}: peak {cost.peak:.0f}, kept {cost.kept:.0f}; collections "
              + " / ".join(str(count) for count in cost.collections))


def write_chart(rows: list, case_titles: dict, path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    figure, axes = plt.subplots(figsize=(12, 5.5))
    width = 0.16
    for index, method in enumerate(METHODS):
        values = [row.ns[method] / max(row.visited, 1) for row in rows]
        positions = [i + (index - (len(METHODS) - 1) / 2) * width for i in range(len(rows))]
        axes.bar(positions, values, width, label=method)
    axes.set_yscale("log")
    axes.set_ylim(top=max(max(row.ns.values()) / max(row.visited, 1) for row in rows) * 5)
    axes.set_ylabel("ns per visited node (log scale)")
    axes.set_xticks(range(len(rows)))
    axes.set_xticklabels([f"({row.case}) {row.query}" for row in rows], rotation=30, ha="right",
                         fontsize=8)
    axes.set_title("astsieve against the clang.cindex walk and libclang's floor\n"
                   + "; ".join(f"({key}) {title}" for key, title in case_titles.items()),
                   fontsize=9)
    axes.legend(ncol=len(METHODS), loc="upper center", fontsize=8)
    figure.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(path, dpi=110)
    print(f"\nchart: {path}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--probe", required=True, help="libastsieve_walk_probe.so")
    parser.add_argument("--chart", type=Path, default=Path("build/bench/walks.png"))
    parser.add_argument("--repeat", type=int, default=5, help="runs of the fast walks")
    parser.add_argument("--cindex-repeat", type=int, default=3, help="runs of the Python walk")
    parser.add_argument("--llvm-config", default="llvm-config-14")
    parser.add_argument("--cases", default="abcd", help="which cases, e.g. ab")
    args = parser.parse_args()

    # The libclang that the probe links, so that one libclang serves all.
    libdir = subprocess.run(
        [args.llvm_config, "--libdir"], check=True, capture_output=True, text=True
    ).stdout.strip()
    clang.cindex.Config.set_library_file(f"{libdir}/libclang.so")
    cindex = astsieve_cindex.load_cindex()
    probe = WalkProbe(args.probe, cindex)
    index = cindex.Index.create()
    rows, memory, titles = [], {}, {}
    for case in cases(args.llvm_config):
        if case.key not in args.cases:
            continue
        titles[case.key] = case.title
        print(f"case {case.key}: {case.title} ({case.source})", flush=True)
        unit = parse(cindex, index, case)
        for query in QUERIES:
            rows.append(measure(probe, unit, case, query, args))
        memory[case.key] = result_cost(unit, case)
    print_tables(rows, memory)
    write_chart(rows, titles, args.chart)


if __name__ == "__main__":
    main()
