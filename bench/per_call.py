"""Times many small calls: one get_path_to_nodes(cursor, pattern, main) per
cursor of IRBuilder.h parsed as the main file, for path patterns from none to
ones that need the general matcher, against the same question answered with
clang.cindex (children, file name compare, Python re full match).

What such a call costs is mostly what it costs to start: converting the
arguments, compiling the pattern, building the result. Prints microseconds
per call (best of several rounds, the timers taking turns), each pattern's
cost against the empty pattern's, and how much faster astsieve is than
clang.cindex. Run through scripts/bench.sh, or after scripts/setup.sh:

    .venv/bin/python bench/per_call.py --llvm-config /usr/lib/llvm-14/bin/llvm-config
"""

from __future__ import annotations

import argparse
import time

import astsieve
import astsieve_cindex
from astsieve_cindex import cursor_tuple

import cindex_walk
from run import as_tuples, best_of, cases, parse

PATTERNS = (
    "",
    ".*",
    "/usr/include/.*",
    r".*/(llvm|clang)/.*\.(h|hpp|def|inc)",
    r"[^\n]*IRBuilder\.h",
)


def main_file_cursors(unit, main: str) -> list:
    """Every cursor of the main file, the unit's own cursor first."""
    cursors, stack = [unit.cursor], list(unit.cursor.get_children())
    while stack:
        cursor = stack.pop()
        file = cursor.location.file
        if file is not None and file.name == main:
            cursors.append(cursor)
            stack.extend(cursor.get_children())
    return cursors


def per_call_ns(call, arguments: list, pattern: str, main: str) -> float:
    start = time.perf_counter_ns()
    for argument in arguments:
        call(argument, pattern, main)
    return (time.perf_counter_ns() - start) / len(arguments)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--llvm-config", default="llvm-config-14")
    parser.add_argument("--repeat", type=int, default=5, help="rounds; the best one counts")
    args = parser.parse_args()

    cindex = astsieve_cindex.load_cindex()
    case = cases(args.llvm_config)[0]  # IRBuilder.h itself
    unit = parse(cindex, cindex.Index.create(), case)
    main_path = case.source
    cursors = main_file_cursors(unit, main_path)
    tuples = [cursor_tuple(cursor) for cursor in cursors]
    for pattern in PATTERNS:
        for cursor, value in zip(cursors, tuples):
            expected = as_tuples(cindex_walk.path_to_nodes(cursor, pattern, main_path))
            if expected != astsieve.get_path_to_nodes(value, pattern, main_path):
                raise SystemExit(f"pattern {pattern!r}: astsieve and cindex disagree")

    timers = {}
    for pattern in PATTERNS:
        timers[("astsieve", pattern)] = (
            lambda p=pattern: per_call_ns(astsieve.get_path_to_nodes, tuples, p, main_path))
        timers[("cindex", pattern)] = (
            lambda p=pattern: per_call_ns(cindex_walk.path_to_nodes, cursors, p, main_path))
    best = best_of({name: args.repeat for name in timers}, timers)

    print(f"get_path_to_nodes on each of {len(cursors)} cursors of {main_path} "
          f"(best of {args.repeat})")
    print(f"{'pattern':40}{'astsieve us':>12}{'x empty':>9}{'cindex us':>11}{'x faster':>10}")
    empty = best[("astsieve", "")]
    for pattern in PATTERNS:
        mine, theirs = best[("astsieve", pattern)], best[("cindex", pattern)]
        print(f"{pattern or '(empty)':40}{mine / 1e3:>12.2f}{mine / empty:>9.2f}"
              f"{theirs / 1e3:>11.2f}{theirs / mine:>10.1f}")


if __name__ == "__main__":
    main()
