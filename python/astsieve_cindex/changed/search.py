"""`changed` from one call: the declarations a diff touches, read from the
units that must be parsed for them, and against a base revision those it
removes.

Changed sources need their own units; a changed header a unit that reads
it: the unit likeliest to read it, in full, and beside it the other units
with every function body skipped, which tells exactly where each changed
line is active; they stop once the full parses answer for every line.
Otherwise only the units those lines need are parsed in full (every unit
with `all_units`). Other files need none.
"""

from __future__ import annotations

import contextlib
import os
from typing import Callable, Dict, List, NamedTuple, Optional, Sequence, Set, Tuple, Union

from ..project.cache import ScanCache
from ..project.database import Unit
from ..project.listener import Listener
from ..project.options import SKIP_BODIES, SKIP_PREAMBLE_BODIES, ScanOptions
from ..project.results import TableResult, UnitFailure, UnitResult
from ..project.scan import scan
from .base import old_texts
from .diff import Diff, is_c_file, read_diff
from .matching import (
    Inactive,
    Removed,
    Touched,
    diff_pattern,
    removed_declarations,
    touched_declarations,
)
from .paths import real_path
from .plan import HeaderCoverage, header_candidates

__all__ = ["Change", "Changes", "Entry", "find_changes", "printable", "read_change"]

Entry = Union[Touched, Inactive, Removed]


class Change(NamedTuple):
    """A diff, the folder its paths are relative to, and with a base
    revision, that revision and the C and C++ files it changes as they were
    there."""

    diff: Diff
    root: str
    base: Optional[str] = None
    old: Dict[str, bytes] = {}


class Changes(NamedTuple):
    """What `find_changes` found: the entries in the diff's order of files,
    then by line; the diff's paths some unit read, and those no unit read
    that are no C or C++ file by their names; the units parsed (and again
    at the base revision) of all; how many failed; and how many were
    parsed with their function bodies skipped, to tell which to parse."""

    entries: List[Entry]
    reached: Set[str]
    not_c: List[str]
    parsed: int
    parsed_again: int
    units: int
    failed: int
    skimmed: int = 0


def read_change(text: str, root: str, base: Optional[str] = None) -> Change:
    """The change a diff's text makes; DiffError for text that is no
    unified diff, BaseError for a `base` revision it does not apply to."""
    diff = read_diff(text)
    return Change(diff, root, base, old_texts(diff, root, base) if base else {})


def printable(text: str) -> str:
    """`text` with the bytes of a path that are not UTF-8 shown as \\xNN."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


class _Paths(NamedTuple):
    """The diff's paths by what can read them, known before any parse."""

    own: List[str]  # the source of a unit
    included: List[str]  # another C or C++ file, which any unit may include
    other: List[str]  # no C or C++ file by its name; a unit may still include it


def _sort_paths(changed: Sequence[str], root: str, units: Sequence[Unit]) -> _Paths:
    sources = {real_path(unit.file) for unit in units}
    paths = _Paths([], [], [])
    for path in changed:
        real = real_path(os.path.join(root, path))
        if real in sources:
            paths.own.append(path)
        elif not is_c_file(path):
            paths.other.append(path)
        elif os.path.isfile(real):  # none is read from under the wrong root
            paths.included.append(path)
    return paths


class _Parsing:
    """Parses the units asked for, keeping the results, which units were
    parsed, and how many failed."""

    def __init__(self, units: Sequence[Unit], options: ScanOptions, listener: Listener) -> None:
        self.units = units
        self.options = options
        self.listener = listener
        self._readers: Optional[Dict[str, Set[Tuple[str, Tuple[str, ...], str]]]] = None
        self.results: List[TableResult] = []
        self.failed = 0
        self.parsed: Set[int] = set()  # the ids of the units parsed
        self.count = 0  # units parsed, at the base revision too
        self.skimmed = 0  # units parsed with every function body skipped
        self.skims: List[TableResult] = []  # their results, less their declarations
        # What the skims gave, failures and errors too, told only if needed.
        self.skim_outcomes: List[Union[UnitResult, UnitFailure]] = []

    def run(
        self,
        units: Sequence[Unit],
        unsaved: Tuple[Tuple[bytes, bytes], ...] = (),
        skim: Sequence[Unit] = (),
        stop: Callable[[TableResult], bool] = lambda result: False,
        skip: str = "",
    ) -> List[TableResult]:
        """The results of `units`, parsed in full; `skim`'s, parsed with
        every function body skipped, go to `skims`, less their declarations.
        All in one pool of workers, `units` first; none is handed out after
        a full result for which `stop` is true. `skip` is what the parses
        of `units` may leave out (ScanOptions')."""
        results: List[TableResult] = []
        if not units and not skim:
            return results
        skimmed = set(map(id, skim))
        options = self.options.replace(unsaved=unsaved, skip=skip)
        bodiless = options.replace(skip=SKIP_BODIES)
        self.listener.start(len(units) + len(skim))
        outcomes = scan(
            [*units, *skim], options, lambda unit: bodiless if id(unit) in skimmed else options
        )
        with contextlib.closing(outcomes):
            for result in outcomes:
                if id(result.unit) in skimmed:
                    self.skimmed += 1
                else:
                    self.parsed.add(id(result.unit))
                    self.count += 1
                if id(result.unit) in skimmed:
                    self.skim_outcomes.append(result)  # told once the skims prove needed
                    if isinstance(result, TableResult):
                        table = result.table._replace(declarations=[])
                        self.skims.append(result._replace(table=table))
                    continue
                self.listener.result(result)
                if not isinstance(result, TableResult):
                    self.failed += 1
                    continue
                results.append(result)
                if stop(result):
                    break
        return results

    def known_readers(self, header: str) -> List[Unit]:
        """The units the cache's entries say read `header` (a real path):
        a hint of where to look first; the parse tells for sure."""
        if self.options.cache is None:
            return []
        if self._readers is None:
            self._readers = {}
            for identity, files in ScanCache(self.options.cache).files_read():
                unit_key = (
                    str(identity.get("file")),
                    tuple(map(str, identity.get("arguments") or ())),
                    str(identity.get("directory")),
                )
                for file in files:
                    self._readers.setdefault(real_path(file), set()).add(unit_key)
        readers = self._readers.get(header, set())
        return [u for u in self.units if (u.file, u.arguments, u.directory) in readers]


def _parse_new_side(
    parsing: _Parsing, changed: Dict[str, Set[int]], paths: _Paths, root: str, all_units: bool
) -> Set[str]:
    # The headers that needed more units, whose lines depend on the unit.
    units = parsing.units
    if paths.included and all_units:
        parsing.results += parsing.run(units)
        return set(paths.included)
    wanted = {real_path(os.path.join(root, path)) for path in paths.own}
    own = [unit for unit in units if real_path(unit.file) in wanted]
    parsing.results += parsing.run(own, skip=_own_skip(paths))
    coverage = HeaderCoverage(changed, root, paths.included)
    for result in parsing.results:
        coverage.add(result)
    if not coverage.pending():
        return set()
    firsts: List[Unit] = []  # for each header no unit read, its likeliest unit
    for header in coverage.pending():
        if header not in coverage.reached:
            header_path = real_path(os.path.join(root, header))
            candidates = header_candidates(header_path, units, parsing.known_readers(header_path))
            taken = {id(unit) for unit in firsts} | parsing.parsed
            firsts += [unit for unit in candidates if id(unit) not in taken][:1]
    taken = {id(unit) for unit in firsts} | parsing.parsed
    rest = [unit for unit in units if id(unit) not in taken]
    batch = parsing.options.jobs or os.cpu_count() or 1
    # The other units, with every function body skipped, beside the likeliest
    # (or in full when they are few): their preprocessor still runs over the
    # whole unit, which tells exactly where each changed line is active.
    skim = rest if len(rest) > batch else []

    def answered(result: TableResult) -> bool:
        coverage.add(result)
        return not coverage.pending()

    parsing.results += parsing.run(firsts, skim=skim, stop=answered)
    noted = _note_skipped(parsing, coverage)
    if coverage.pending():  # the skims were needed: a unit that failed may hold the lines
        for outcome in parsing.skim_outcomes:
            parsing.listener.result(outcome)
            parsing.failed += isinstance(outcome, UnitFailure)
        more = _units_for(coverage, parsing.skims, rest) if skim else rest
        for result in parsing.run(more):
            parsing.results.append(result)
            coverage.add(result)
    return noted


def _own_skip(paths: _Paths) -> str:
    # A diff of sources alone needs their own declarations and nothing of
    # the files they include: the bodies of the functions in their preamble
    # (leading inclusions) are left out.
    return "" if paths.included or paths.other else SKIP_PREAMBLE_BODIES


def _note_skipped(parsing: _Parsing, coverage: HeaderCoverage) -> Set[str]:
    # The headers whose changed lines every unit so far skipped, noted.
    noted = set()
    for header in coverage.pending():
        if header in coverage.reached:
            noted.add(header)
            lines = ", ".join(map(str, coverage.skipped_lines(header)))
            parsing.listener.note(
                f"{printable(header)}: changed lines {lines} are skipped by the preprocessor "
                "in the units parsed so far; parsing more units, which may read them"
            )
    return noted


def _units_for(
    coverage: HeaderCoverage, skims: Sequence[TableResult], order: Sequence[Unit]
) -> List[Unit]:
    """The units to parse in full for the headers `coverage` still waits
    for, from parses of them without function bodies (`skims`): taken in
    the units' `order` while one adds a line active in none before; and a
    header no unit parsed in full reads gets its first reader, for the
    declarations around its inactive lines. (The skims' skipped ranges go
    to the answer; their declarations do not: bodies skipped cut their
    extents short.)"""
    pending = coverage.pending()
    index = {id(unit): number for number, unit in enumerate(order)}
    wanted: Dict[int, Unit] = {}
    covered: Dict[str, Set[int]] = {header: set(coverage.active[header]) for header in pending}
    first_reader: Dict[str, Unit] = {}
    for result in sorted(skims, key=lambda skim: index.get(id(skim.unit), len(index))):
        probe = HeaderCoverage(coverage.changed, coverage.paths.root, pending)
        probe.add(result)
        for header in probe.reached:
            first_reader.setdefault(header, result.unit)
        if any(probe.active[header] - covered[header] for header in pending):
            wanted[id(result.unit)] = result.unit
            for header in pending:
                covered[header] |= probe.active[header]
    for header in pending:
        unit = first_reader.get(header)
        if header not in coverage.reached and not covered[header] and unit is not None:
            wanted[id(unit)] = unit
    return sorted(wanted.values(), key=lambda unit: index[id(unit)])


def _parse_old_side(
    parsing: _Parsing, change: Change, varying: Set[str], skip: str
) -> List[TableResult]:
    # For each file the diff removes lines from, the first parsed unit that
    # read it, or all that did for the `varying` headers; parsed again with
    # every changed file as it was.
    root = change.root
    wanted = {real_path(os.path.join(root, path)): path in varying for path in change.diff.removed}
    units = []
    for result in parsing.results:
        read = {real_path(file) for file in result.files} & set(wanted)
        if read:
            units.append(result.unit)
            wanted = {file: every for file, every in wanted.items() if every or file not in read}
    unsaved = tuple(
        (os.fsencode(os.path.abspath(os.path.join(root, path))), text)
        for path, text in change.old.items()
    )
    return parsing.run(units, unsaved, skip=skip)


def find_changes(
    change: Change,
    units: Sequence[Unit],
    options: ScanOptions,
    listener: Listener,
    all_units: bool = False,
) -> Changes:
    """The declarations `change` touches among the files `units` reach,
    parsing as few of them as the answer allows (every unit that may read a
    changed header with `all_units`), in worker processes as `options` ask
    (their pattern and encoding aside); `listener` hears of each unit and of
    why more are parsed. With a base revision and no unit failed, the
    declarations it removes are listed too."""
    changed = change.diff.changed
    paths = _sort_paths(list(changed), change.root, units)
    options = options.replace(pattern=diff_pattern(changed), encoding=None)
    parsing = _Parsing(units, options, listener)
    varying = _parse_new_side(parsing, changed, paths, change.root, all_units)
    results = parsing.results
    new_side, reached = touched_declarations(changed, change.root, results + parsing.skims)
    entries: List[Entry] = list(new_side)
    parsed = parsing.count
    if change.base and not parsing.failed:
        old = _parse_old_side(parsing, change, varying, _own_skip(paths))
        entries = removed_declarations(new_side, change.diff, change.root, results, old)
    again = parsing.count - parsed
    not_c = [path for path in paths.other if path not in reached]
    failed = parsing.failed
    return Changes(entries, reached, not_c, parsed, again, len(units), failed, parsing.skimmed)
