"""Which units `changed` parses: a changed source's own units, and for a
changed header one unit that includes it, unless a changed line of it
lies in code that unit skipped."""

from __future__ import annotations

import os
from typing import Dict, Iterable, Iterator, List, Sequence, Set

from ..project.database import Unit
from ..project.results import TableResult
from .paths import DiffPaths, real_path
from .skipped import unit_skips

__all__ = ["HeaderCoverage", "header_candidates"]


def header_candidates(
    header: str, units: Sequence[Unit], known: Iterable[Unit] = ()
) -> Iterator[Unit]:
    """The units to parse, in turn, for one that includes `header` (a real
    path): first the `known` ones (units known to include it), then those in
    the header's folder, then those named like it (`foo.h`: `foo.c`,
    `foo.cpp`), then the others in the database's order; each once."""
    folder, name = os.path.split(header)
    stem = os.path.splitext(name)[0]
    files = [real_path(unit.file) for unit in units]
    same_folder = [u for u, f in zip(units, files) if os.path.dirname(f) == folder]
    same_stem = [
        u for u, f in zip(units, files) if os.path.splitext(os.path.basename(f))[0] == stem
    ]
    given: Set[int] = set()
    for unit in (*known, *same_folder, *same_stem, *units):
        if id(unit) not in given:
            given.add(id(unit))
            yield unit


class HeaderCoverage:
    """Which changed headers the units parsed so far have answered for: a
    header is done when a unit reads it and each of its changed lines is
    active (skipped.py) in at least one unit that reads it. A line skipped
    in every unit so far may be active in another."""

    def __init__(self, changed: Dict[str, Set[int]], root: str, headers: Iterable[str]) -> None:
        self.changed = changed
        self.paths = DiffPaths(changed, root)
        self.reached: Set[str] = set()
        self.active: Dict[str, Set[int]] = {header: set() for header in headers}

    def add(self, result: TableResult) -> None:
        read = {path for path in map(self.paths.of, result.files) if path in self.active}
        if not read:
            return
        self.reached.update(read)
        skips = unit_skips(result.table, self.paths, self.changed)
        for path in read:
            self.active[path].update(self.changed[path] - skips.get(path, {}).keys())

    def skipped_lines(self, header: str) -> List[int]:
        """The header's changed lines skipped in every unit that read it."""
        return sorted(self.changed[header] - self.active[header])

    def pending(self) -> List[str]:
        """The headers that still need a unit: none read them yet, or some
        changed line lies in code every unit so far skipped."""
        return [
            header
            for header in self.active
            if header not in self.reached or self.skipped_lines(header)
        ]

