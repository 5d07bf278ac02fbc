"""The declarations a diff touches, found in the units' tables.

A top-level declaration is touched when one of its file's changed lines
lies in its line range; several may hold one line (`struct point {...}
origin;`). A changed line that every unit reading its file skipped
(skipped.py: in code the preprocessor left out, `#if 0`) is inactive. Against a base revision, the
removed lines (numbered as in the old file) show the declarations the diff
took away.
"""

from __future__ import annotations

import os
import re
from typing import Any, Dict, Iterable, Iterator, List, NamedTuple, Sequence, Set, Tuple, Union

from ..patterns import ecmascript_escape
from ..project.results import TableResult
from ..table import Declaration
from .diff import Diff
from .paths import ANONYMOUS, DiffPaths
from .skipped import unit_skips

__all__ = [
    "Inactive",
    "Removed",
    "Touched",
    "diff_pattern",
    "removed_declarations",
    "touched_declarations",
]



class Touched(NamedTuple):
    """A declaration (its file named as in the diff) and its changed lines;
    against a base revision, also the lines removed from it, numbered as in
    the old file."""

    declaration: Declaration
    lines: Tuple[int, ...]
    removed: Tuple[int, ...] = ()


class Removed(NamedTuple):
    """A declaration of the base revision that the diff took away, its lines
    as in the old file, and its removed lines."""

    declaration: Declaration
    removed: Tuple[int, ...]

    @property
    def lines(self) -> Tuple[int, ...]:
        """No line after the change holds it."""
        return ()



class Inactive(NamedTuple):
    """Lines the preprocessor skipped, from the directive that began the
    skip to the one that ended it (the file named as in the diff), and the
    changed lines among them."""

    file: str
    first_line: int
    last_line: int
    lines: Tuple[int, ...]



def _name_pattern(name: str) -> str:
    # Bytes that are not UTF-8 cannot reach the engine: any name stands in.
    return re.sub("[\udc80-\udcff]+", "[^/]*", ecmascript_escape(name))


def diff_pattern(paths: Iterable[str]) -> str:
    """A path pattern accepting every file named like one of `paths`; the
    exact file is chosen by its real path afterwards, since libclang spells
    a path as the compiler arguments lead to it: relative, through `..` or
    links."""
    names = sorted({_name_pattern(os.path.basename(path)) for path in paths})
    return "(?:.*/)?(?:" + "|".join(names) + ")" if names else ""


def _declarations(
    paths: DiffPaths, results: Iterable[TableResult]
) -> Iterator[Declaration]:
    """Every declaration the results hold in the diff's files, named as it
    names them."""
    for result in results:
        table = result.table
        files = [paths.of(file) for file in table.files]
        for found in table.declarations:
            path = files[found.file]
            if path is not None:
                name = paths.name(found.name)
                yield Declaration(found.kind, name, path, found.first_line, found.last_line)


def removed_declarations(
    touched: List[Union[Touched, Inactive]],
    diff: Diff,
    root: str,
    new: Sequence[TableResult],
    old: Sequence[TableResult],
) -> List[Union[Touched, Inactive, Removed]]:
    """`touched` (the new side's) with what the old side adds: the lines
    the diff removed from each declaration of the base revision (`old`, its
    units parsed) that is still there after the diff (a
    declaration of the same kind and name in the same file, among `new`
    results; an anonymous type's line aside), and a Removed entry for each
    that is not. Entries stay in the
    diff's order of files, then by line, a removed one by its old line."""
    removed = diff.removed
    paths = DiffPaths(removed, root)
    after: Dict[Tuple[str, str, str], Declaration] = {}
    for declaration in _declarations(paths, new):
        after.setdefault(_identity(declaration), declaration)
    entries: List[Union[Touched, Inactive, Removed]] = []
    lost: Dict[Tuple[str, str, str], Set[int]] = {}
    gone: Dict[Tuple[str, str, str], Declaration] = {}
    for declaration in set(_declarations(paths, old)):
        lines = {
            line
            for line in removed[declaration.file]
            if declaration.first_line <= line <= declaration.last_line
        }
        key = _identity(declaration)
        if lines:
            lost.setdefault(key, set()).update(lines)
            if key not in after:
                gone.setdefault(key, declaration)
    for entry in touched:
        if isinstance(entry, Touched):
            key = _identity(entry.declaration)
            if key in lost:
                entry = entry._replace(removed=tuple(sorted(lost.pop(key))))
        entries.append(entry)
    for key, lines in lost.items():
        if key in gone:
            entries.append(Removed(gone[key], tuple(sorted(lines))))
        else:
            entries.append(Touched(after[key], (), tuple(sorted(lines))))
    order = {path: index for index, path in enumerate(diff.changed)}
    entries.sort(key=lambda entry: (order[_file_of(entry)], _first_line(entry)))
    return entries


def _identity(declaration: Declaration) -> Tuple[str, str, str]:
    # The same declaration on both sides: an anonymous type's name holds a
    # line, which lines removed above it move.
    return declaration.kind, ANONYMOUS.sub(r"\1\2)", declaration.name), declaration.file


def _file_of(entry: Union[Touched, Inactive, Removed]) -> str:
    return entry.file if isinstance(entry, Inactive) else entry.declaration.file


def _first_line(entry: Union[Touched, Inactive, Removed]) -> int:
    return entry.first_line if isinstance(entry, Inactive) else entry.declaration.first_line


def touched_declarations(
    changed: Dict[str, Set[int]], root: str, results: Iterable[TableResult]
) -> Tuple[List[Union[Touched, Inactive]], Set[str]]:
    """The declarations touched by `changed` ({path relative to `root`:
    lines}), each once however many units hold it, and the skipped ranges
    holding inactive changed lines, in the order of `changed` and then by
    line; and the paths of `changed` that some unit reads."""
    paths = DiffPaths(changed, root)
    results = list(results)
    declarations: Set[Declaration] = set()
    reached: Set[str] = set()
    readers: Dict[str, int] = {}  # units that read each path
    skipping: Dict[Tuple[str, int], int] = {}  # units that skipped each changed line
    skipped: Set[Tuple[str, int, int]] = set()
    for result in results:
        read = set(filter(None, map(paths.of, result.files)))
        reached.update(read)
        for path in read:
            readers[path] = readers.get(path, 0) + 1
        declarations.update(_declarations(paths, (result,)))
        for path, skipped_lines in unit_skips(result.table, paths, changed).items():
            for line, holding in skipped_lines.items():
                skipping[(path, line)] = skipping.get((path, line), 0) + 1
                skipped.update((path, first, last) for first, last in holding)
    inactive = {key for key, count in skipping.items() if count >= readers.get(key[0], 0)}
    order = {path: index for index, path in enumerate(changed)}
    entries: List[Tuple[Tuple[Any, ...], Union[Touched, Inactive]]] = []
    for declaration in declarations:
        lines = changed[declaration.file]
        inside = [line for line in lines if declaration.first_line <= line <= declaration.last_line]
        if inside:
            key = (order[declaration.file], declaration[3], declaration[4], 0, *declaration[:2])
            entries.append((key, Touched(declaration, tuple(sorted(inside)))))
    for path, first, last in skipped:
        inside = [
            line for line in changed[path] if first <= line <= last and (path, line) in inactive
        ]
        if inside:
            entry = Inactive(path, first, last, tuple(sorted(inside)))
            entries.append(((order[path], first, last, 1), entry))
    entries.sort(key=lambda keyed: keyed[0])
    return [entry for _, entry in entries], reached
