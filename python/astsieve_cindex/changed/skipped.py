"""Which changed lines a unit skipped: the one rule `changed` judges a
line by, for choosing units and for the answer alike.

libclang reports a skipped range wherever the preprocessor left lines out,
and that includes a header a unit reaches a second time, whose include
guard leaves out the whole file. So a range counts for a unit only where
it holds none of the unit's nodes of that file within it (between its
first and last line, the directives that bound it), and a changed line
that holds a node of the unit is active in that unit whatever the ranges
say, but for the directive that opens the range: the nodes of an `#if`
or `#elif` line that begins a skipped block (its condition's macros) leave
the line skipped. A line is skipped in a unit when a counting range holds
it; it is inactive when every unit that read its file skipped it.
"""

from __future__ import annotations

from typing import Dict, List, Optional, Set, Tuple

from ..table import UnitTable
from .paths import DiffPaths

__all__ = ["unit_skips"]

Range = Tuple[int, int]


def unit_skips(
    table: UnitTable, paths: DiffPaths, changed: Dict[str, Set[int]]
) -> Dict[str, Dict[int, List[Range]]]:
    """{diff path: {changed line the unit skipped: the counting ranges that
    hold it}} for the diff's files in `table`."""
    files: List[Optional[str]] = [paths.of(file) for file in table.files]
    ranges: Dict[str, List[Range]] = {}
    for found in table.skipped:
        path = files[found.file]
        if path is not None and any(
            found.first_line <= line <= found.last_line for line in changed[path]
        ):
            ranges.setdefault(path, []).append((found.first_line, found.last_line))
    if not ranges:
        return {}
    held: Dict[str, Set[int]] = {path: set() for path in ranges}
    for node in table.nodes:
        path = files[node.file]
        if path in held:
            held[path].add(node.line)
    skips: Dict[str, Dict[int, List[Range]]] = {}
    for path, spans in ranges.items():
        lines = held[path]
        counting = [
            (first, last) for first, last in spans if not any(first < line < last for line in lines)
        ]
        for line in changed[path]:
            holding = [
                (first, last)
                for first, last in counting
                if first <= line <= last and (line not in lines or first == line < last)
            ]
            if holding:
                skips.setdefault(path, {})[line] = holding
    return skips
