"""The companion's records made in Python over clang.cindex, as the
companion made them before its helper did: one clang.cindex call per node
for kind, spelling and column. The reference of the records' differential
test and of bench/records.py; the same rules as astsieve_cindex.records."""

from __future__ import annotations

import bisect
import ctypes
import itertools
import os
import types
from typing import Dict, List, NamedTuple, Optional, Tuple

from clang.cindex import Cursor, CursorKind, SourceRange, TranslationUnit, conf

from astsieve_cindex.listing import kind_name
from astsieve_cindex.queries import get_path_to_lineno_to_nodes, get_path_to_nodes
from astsieve_cindex.table import Declaration, NodeRecord, UnitTable, table_of
from companion_oracle import qualified_name
from oracle import FileFilter

__all__ = ["unit_records", "unit_table"]

# libclang 14 reports `extern "C" {...}` as an unexposed declaration.
_CONTAINERS = (CursorKind.NAMESPACE, CursorKind.LINKAGE_SPEC, CursorKind.UNEXPOSED_DECL)


Position = Tuple[int, int]


class _Extent(NamedTuple):
    start: Position
    end: Position
    declaration: Declaration


def _is_declaration(cursor: Cursor) -> bool:
    kind = cursor.kind
    return kind == CursorKind.MACRO_DEFINITION or (
        kind.is_declaration() and kind not in _CONTAINERS
    )


def _collect(
    root: Cursor, pattern: str, main_path: str, directory: str, into: Dict[str, List[_Extent]]
) -> None:
    for path, cursors in get_path_to_nodes(root, pattern, main_path).items():
        for cursor in cursors:
            if cursor.kind in _CONTAINERS:
                _collect(cursor, pattern, main_path, directory, into)
            elif _is_declaration(cursor):
                start, end = cursor.extent.start, cursor.extent.end
                name = qualified_name(cursor, directory)
                declaration = Declaration(kind_name(cursor), name, path, start.line, end.line)
                extent = _Extent((start.line, start.column), (end.line, end.column), declaration)
                into.setdefault(path, []).append(extent)


class _Columns:
    """The expansion column of a cursor's location: what cursor.location.column
    gives, without the file, line and offset clang.cindex fetches and wraps
    as well, which cost most of the grouping of a large unit."""

    def __init__(self) -> None:
        self._location = conf.lib.clang_getCursorLocation
        self._expansion = conf.lib.clang_getInstantiationLocation
        self._column = ctypes.c_uint()
        self._out = ctypes.byref(self._column)

    def __call__(self, cursor: Cursor) -> int:
        # libclang leaves out-parameters given as NULL alone.
        self._expansion(self._location(cursor), None, None, self._out, None)
        return self._column.value


class _Lookup:
    """The top-level declaration at a position of a file: of those whose
    extent holds it, the one that starts last. Extents may overlap
    (`struct s {...} value;`, a `#define` inside a function)."""

    def __init__(self, extents: Dict[str, List[_Extent]]) -> None:
        self._extents = {path: sorted(found) for path, found in extents.items()}
        self._starts = {path: [e.start for e in found] for path, found in self._extents.items()}
        # The furthest end among an extent and those before it: no extent
        # before one whose reach ends ahead of a position can hold it.
        self._reach = {
            path: list(itertools.accumulate((e.end for e in found), max))
            for path, found in self._extents.items()
        }

    def at(self, path: str, position: Position) -> Optional[Declaration]:
        if path not in self._extents:
            return None
        extents, reach = self._extents[path], self._reach[path]
        index = bisect.bisect_right(self._starts[path], position) - 1
        while index >= 0 and reach[index] >= position:
            if extents[index].end >= position:
                return extents[index].declaration
            index -= 1
        return None


def _extents(unit: TranslationUnit, pattern: str, directory: str) -> Dict[str, List[_Extent]]:
    extents: Dict[str, List[_Extent]] = {}
    _collect(unit.cursor, pattern, unit.spelling, directory, extents)
    for path, in_file in extents.items():
        file = os.path.join(directory, path)
        in_file[:] = [e._replace(declaration=e.declaration._replace(file=file)) for e in in_file]
    return extents


def unit_records(unit: TranslationUnit, pattern: str = "", directory: str = "") -> List[NodeRecord]:
    """Every node of `unit` in an accepted file (the main file, and files
    whose whole path matches `pattern`): main file first, then by path,
    line and column. Paths libclang gives relative (to the working
    directory of the parse) are made relative to `directory`."""
    return _records(unit, pattern, directory, _extents(unit, pattern, directory))


def _records(
    unit: TranslationUnit, pattern: str, directory: str, extents: Dict[str, List[_Extent]]
) -> List[NodeRecord]:
    main_path = unit.spelling
    lookup, column_of = _Lookup(extents), _Columns()
    grouped = get_path_to_lineno_to_nodes(unit, pattern, main_path)
    records = []
    for path in sorted(grouped, key=lambda path: (path != main_path, path)):
        lines, file = grouped[path], os.path.join(directory, path)
        for line in sorted(lines):
            found = []
            for cursor in lines[line]:
                column = column_of(cursor)
                declaration = lookup.at(path, (line, column))
                found.append(
                    NodeRecord(file, line, column, kind_name(cursor), cursor.spelling, declaration)
                )
            found.sort(key=lambda record: record.column)  # stable: parents first
            records.extend(found)
    return records


class _RangeList(ctypes.Structure):
    _fields_ = [("count", ctypes.c_uint), ("ranges", ctypes.POINTER(SourceRange))]


def _skipped(unit: TranslationUnit, pattern: str, directory: str) -> List[Tuple[str, int, int]]:
    get, dispose = conf.lib.clang_getAllSkippedRanges, conf.lib.clang_disposeSourceRangeList
    get.restype, get.argtypes = ctypes.POINTER(_RangeList), [ctypes.c_void_p]
    dispose.argtypes = [ctypes.POINTER(_RangeList)]
    ranges = get(unit.obj)
    accepted = FileFilter(pattern, unit.spelling)
    try:
        found = []
        for index in range(ranges.contents.count):
            extent = ranges.contents.ranges[index]
            place = accepted.classify(types.SimpleNamespace(location=extent.start))
            if place is not None:
                found.append((os.path.join(directory, place[0]), place[1], extent.end.line))
    finally:
        dispose(ranges)
    return found


def unit_table(unit: TranslationUnit, pattern: str = "", directory: str = "") -> UnitTable:
    """The table of unit_records, with every top-level declaration of the
    accepted files (those no node lies in after the others, by file in
    record order and then as the lookup orders them) and the skipped ranges
    in record order."""
    extents = _extents(unit, pattern, directory)
    records = _records(unit, pattern, directory, extents)
    main_path = unit.spelling
    files = sorted(extents, key=lambda path: (path != main_path, path))
    others = [e.declaration for path in files for e in sorted(extents[path])]
    # Files in record order; those with skipped lines alone after them.
    rank = {path: place for place, path in enumerate(table_of(records).files)}
    skipped = sorted(
        set(_skipped(unit, pattern, directory)), key=lambda r: (rank.get(r[0], len(rank)), r)
    )
    return table_of(records, others, skipped)
