"""Times astsieve's three functions side by side, in one process, on real
translation units, against:

- cindex: the same result computed in pure Python with clang.cindex
  (bench/cindex_walk.py), the way its users write it today;
- astsieve: the Python call as users make it (collector on), and no-gc: the
  same with Python's cyclic garbage collector off during the call, which
  shows how much of it the collector takes while the result's tuples and
  lists are being created;
- companion: astsieve_cindex's query, which returns clang.cindex Cursors
  (through CursorList views), and touched: the same, then every list of the
  result iterated, so that every Cursor object is made;
- native: the engine's C++ function returning its C++ result (no Python);
- floor: libclang's own calls for the same walk and nothing else.

Every figure is the best of several runs. Prints the table, checks that
astsieve, the companion and the Python walk agree node for node, and writes a
PNG chart.
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
from chart import bar_chart  # noqa: E402
from walk_probe import CHILDREN_WALK, SUBTREE_WALK, UNIT_WALK, WalkProbe  # noqa: E402

UNITS = Path(__file__).resolve().parent / "units"
METHODS = ("cindex", "astsieve", "no-gc", "companion", "touched", "native", "floor")
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


def touched(result):
    """Iterates every list of a query result, making every Cursor object."""
    for value in result.values():
        for nodes in value.values() if isinstance(value, dict) else (value,):
            for _ in nodes:
                pass
    return result


def as_tuples(result):
    """A cindex walk's result with cursor tuples in place of Cursor objects."""
    if isinstance(result, dict):
        return {key: as_tuples(value) for key, value in result.items()}
    return [cursor_tuple(cursor) for cursor in result]


class Query(NamedTuple):
    name: str
    walk: int
    targets: Callable  # (probe, unit, case) -> the units or cursors queried in turn
    astsieve: Callable
    companion: Callable
    cindex: Callable


def largest_declarations(probe: WalkProbe, unit, case: Case) -> list:
    sizes = []
    for child in unit.cursor.get_children():
        run = probe.run("floor", SUBTREE_WALK, child, case.pattern, case.source)
        if run.returned:
            sizes.append((run.returned, child))
    sizes.sort(key=lambda size: -size[0])
    return [child for _, child in sizes[:LARGEST_DECLARATIONS]]


def nodes_of_largest_declarations(probe: WalkProbe, unit, case: Case) -> list:
    """Every accepted node of the largest declarations: a loop asking each
    for its children, as a walk that goes down level by level does."""
    return [
        node
        for declaration in largest_declarations(probe, unit, case)
        for lines in cindex_walk.update_path_lineno(declaration, case.pattern, case.source).values()
        for nodes in lines.values()
        for node in nodes
    ]


QUERIES = (
    Query("whole unit", UNIT_WALK, lambda probe, unit, case: [unit],
          astsieve.get_path_to_lineno_to_nodes, astsieve_cindex.get_path_to_lineno_to_nodes,
          cindex_walk.path_to_lineno_to_nodes),
    Query("largest decls", SUBTREE_WALK, largest_declarations, astsieve.update_path_lineno,
          astsieve_cindex.update_path_lineno, cindex_walk.update_path_lineno),
    Query("unit children", CHILDREN_WALK, lambda probe, unit, case: [unit.cursor],
          astsieve.get_path_to_nodes, astsieve_cindex.get_path_to_nodes, cindex_walk.path_to_nodes),
    Query("children per node", CHILDREN_WALK, nodes_of_largest_declarations,
          astsieve.get_path_to_nodes, astsieve_cindex.get_path_to_nodes, cindex_walk.path_to_nodes),
)


def measure(probe: WalkProbe, unit, case: Case, query: Query, args) -> Row:
    targets = query.targets(probe, unit, case)
    as_argument = translation_unit_handle if query.walk == UNIT_WALK else cursor_tuple
    arguments = [as_argument(target) for target in targets]
    pattern, main = case.pattern, case.source

    for target, argument in zip(targets, arguments):
        expected = query.cindex(target, pattern, main)
        if as_tuples(expected) != query.astsieve(argument, pattern, main):
            raise SystemExit(f"case {case.key}, {query.name}: astsieve and cindex disagree")
        if query.companion(target, pattern, main) != expected:
            raise SystemExit(f"case {case.key}, {query.name}: the companion and cindex disagree")

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
        "companion": second_of_two(lambda: python(query.companion, targets)),
        "touched": second_of_two(
            lambda: python(lambda *call: touched(query.companion(*call)), targets)),
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


def result_cost(call: Callable[[], dict]) -> ResultCost:
    """What one whole-unit call costs besides time. The engine's own C++
    result, which tracemalloc does not see, exists during either call."""
    collections = [0, 0, 0]

    def count(phase: str, info: dict) -> None:
        if phase == "start":
            collections[info["generation"]] += 1

    gc.collect()
    gc.callbacks.append(count)
    tracemalloc.start()
    try:
        result = call()
        kept, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
        gc.callbacks.remove(count)
    nodes = max(sum(len(nodes) for lines in result.values() for nodes in lines.values()), 1)
    return ResultCost(peak / nodes, kept / nodes, collections)


# Ratios printed for each row: (title, numerator, denominator).
RATIOS = (
    ("comp/no-gc", "companion", "no-gc"),
    ("cindex/touch", "cindex", "touched"),
    ("cindex/as", "cindex", "astsieve"),
    ("as/floor", "astsieve", "floor"),
    ("comp/floor", "companion", "floor"),
    ("nat/floor", "native", "floor"),
)


def print_tables(rows: list, memory: dict) -> None:
    print(f"\n{'':25}{'nodes':>17}  {'ns per visited node':^63}")
    print(f"{'case':5}{'query':20}{'visited':>9}{'returned':>9}  "
          + "".join(f"{m:>9}" for m in METHODS))
    for row in rows:
        print(f"{row.case:5}{row.query:20}{row.visited:>9}{row.returned:>9}  "
              + "".join(f"{row.ns[m] / max(row.visited, 1):>9.1f}" for m in METHODS))
    print(f"\n{'case':5}{'query':20}" + "".join(f"{title:>13}" for title, _, _ in RATIOS))
    for row in rows:
        print(f"{row.case:5}{row.query:20}"
              + "".join(f"{row.ns[top] / row.ns[bottom]:>12.2f}x" for _, top, bottom in RATIOS))
    print(f"\n{'case':5}{'query':20}{'total ms':>9}" + "".join(f"{m:>10}" for m in METHODS[1:]))
    for row in rows:
        print(f"{row.case:5}{row.query:20}{row.ns['cindex'] / 1e6:>9.1f}"
              + "".join(f"{row.ns[m] / 1e6:>10.2f}" for m in METHODS[1:]))
    print("\nOne whole-unit call from Python: heap in bytes per returned node (tracemalloc;"
          "\nthe engine's C++ result comes on top of the peak), and how often the cyclic"
          "\ncollector ran during it, by generation:")
    for (key, name), cost in memory.items():
        print(f"  case {key}, {name:9}: peak {cost.peak:.0f}, kept {cost.kept:.0f}; collections "
              + " / ".join(str(count) for count in cost.collections))


def write_chart(rows: list, case_titles: dict, path: Path) -> None:
    print()
    bar_chart(
        [f"({row.case}) {row.query}" for row in rows],
        {method: [row.ns[method] / max(row.visited, 1) for row in rows] for method in METHODS},
        path,
        ylabel="ns per visited node (log scale)",
        title="astsieve and astsieve_cindex against the clang.cindex walk and libclang's floor\n"
        + "; ".join(f"({key}) {title}" for key, title in case_titles.items()),
        size=(12, 5.5),
        label_rotation=30,
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--probe", required=True, help="libastsieve_walk_probe.so")
    parser.add_argument("--chart", type=Path, default=Path("docs/walks.png"))
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
        handle = translation_unit_handle(unit)
        memory[case.key, "astsieve"] = result_cost(
            lambda: astsieve.get_path_to_lineno_to_nodes(handle, case.pattern, case.source))
        memory[case.key, "companion"] = result_cost(
            lambda: astsieve_cindex.get_path_to_lineno_to_nodes(unit, case.pattern, case.source))
    print_tables(rows, memory)
    write_chart(rows, titles, args.chart)


if __name__ == "__main__":
    main()
